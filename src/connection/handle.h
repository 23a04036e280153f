// The client handle: the login token and the RPC client of one connection.
#pragma once

#include <cstdint>

#include "quarvane.h"
#include "qvcliapi.h"

// The record behind the opaque QV_HANDLE of the public header.
struct QV_CLIENT_HANDLE {
    uint32_t token;  // issued by LOGIN, sent back in every request
    CLIENT* client;  // connected TCP client
};

namespace qv {

inline constexpr uint16_t kDefaultPort = 11580;
inline constexpr long kConnectTimeoutSeconds = 60;

// A handle is usable when it exists and still has its client.
inline bool IsValidHandle(QV_HANDLE handle) noexcept {
    return handle != nullptr && handle->client != nullptr;
}
inline uint32_t GetLoginToken(QV_HANDLE handle) noexcept {
    return handle == nullptr ? 0 : handle->token;
}
inline CLIENT* GetRpcClient(QV_HANDLE handle) noexcept {
    return handle == nullptr ? nullptr : handle->client;
}

}  // namespace qv
