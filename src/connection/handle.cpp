// Connecting, logging in and out, and the life of a client handle.
#include "connection/handle.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "platform/alloc.h"
#include "platform/resolve.h"

using namespace qv;

namespace {

constexpr const char16_t* kConnectNoMemory = u"qvConnect, No enough memory to save client handle";

// The client goes with its handle block: both are given back together.
void DestroyHandle(QV_HANDLE handle) noexcept {
    if (handle->client != nullptr) {
        clnt_destroy(handle->client);
        handle->client = nullptr;
    }
    Free(handle);
}

}  // namespace

QV_STATUS qvConnect(const QV_CONNECT_PARAM* param, QV_HANDLE* handle) {
    if (param == nullptr || handle == nullptr) return QV_STATUS_INVALID_PARAMETER;

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(param->port == 0 ? kDefaultPort : static_cast<uint16_t>(param->port));
    if (!ResolveHostIPv4(param->host, &address.sin_addr)) {
        LogMessage(kLogError, u"qvConnect, Getting hostname[%s]'s IP address failure", param->host);
        return QV_STATUS_HOST_UNRESOLVED;
    }

    auto* created = static_cast<QV_HANDLE>(AllocZeroed(1, sizeof(QV_CLIENT_HANDLE)));
    if (created == nullptr) {
        return NoMemory(kConnectNoMemory);
    }

    *handle = created;
    int socket = RPC_ANYSOCK;
    created->client = clnttcp_create(&address, QUARVANE_PROG, QUARVANE_VERS, &socket, 0, 0);
    if (created->client == nullptr) {
        LogMessage(kLogError, u"qvConnect, Create socket from RPC library error");
        *handle = nullptr;
        DestroyHandle(created);
        return QV_STATUS_CLIENT_CREATE;
    }
    timeval timeout{kConnectTimeoutSeconds, 0};
    clnt_control(created->client, CLSET_TIMEOUT, reinterpret_cast<char*>(&timeout));

    uint32_t status;
    {
        RemoteCall<LOGIN> login(created);
        if (!FillWString(login.arg.host, param->host) ||
            !FillWString(login.arg.login1, param->login1) ||
            !FillWString(login.arg.login2, param->login2)) {
            status = NoMemory(kConnectNoMemory);
        } else {
            login.Invoke();
            status = login.Map();
            if (status == 0) created->token = login.res.token;
        }
    }
    if (status != 0) {
        *handle = nullptr;
        DestroyHandle(created);
    }
    return status;
}

QV_STATUS qvDisconnect(QV_HANDLE* handle) {
    // Expects a live handle; a missing one is refused rather than followed.
    if (handle == nullptr || !IsValidHandle(*handle)) return QV_STATUS_NO_HANDLE;
    QV_HANDLE live = *handle;

    uint32_t status;
    {
        RemoteCall<LOGOUT> logout(live);
        logout.arg.status = 0;
        logout.arg.token = GetLoginToken(live);
        logout.Invoke();
        status = logout.Map();
    }
    if (status != 0) return status;  // the handle stays usable

    DestroyHandle(live);
    *handle = nullptr;
    return 0;
}

QV_STATUS qvFreeHandle(QV_HANDLE* handle) {
    // The service is not told and the connection stays open: only the record goes.
    if (handle != nullptr && *handle != nullptr) {
        Free(*handle);
        *handle = nullptr;
    }
    return 0;
}

void qvFreeMemory(void* block) { Free(block); }
