// An RPC client that never touches a socket.
//
// Its clnt_call encodes the request with the argument's filter (so requests
// are checked and can be inspected) and decodes the reply from bytes the
// test supplies with the result's filter, through an xdrmem stream. A
// handle built on it runs an exported function's whole road (fill, call,
// status mapping, conversion, release) at memory speed: the fuzzers feed
// arbitrary bytes as the reply, the benchmarks measure conversions without
// the network, the allocation sweep walks every allocation.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "connection/handle.h"

namespace qvtest {

class MemoryClient {
  public:
    MemoryClient();
    ~MemoryClient();
    MemoryClient(const MemoryClient&) = delete;
    MemoryClient& operator=(const MemoryClient&) = delete;

    // The bytes every following call decodes its reply from (after the
    // reply header, i.e. the result record itself). The span must outlive
    // the calls.
    void SetReply(std::span<const uint8_t> reply) { reply_ = reply; }
    // Keep the encoded request of the last call (off by default: costs a copy).
    void KeepRequests(bool keep) { keep_requests_ = keep; }

    // A handle on this client; owned by the MemoryClient, valid while it lives
    // unless the code under test destroys its client (qvDisconnect).
    QV_HANDLE handle() { return &handle_; }
    CLIENT* client() { return client_; }

    unsigned calls() const { return calls_; }
    const std::vector<uint8_t>& last_request() const { return last_request_; }

  private:
    static enum clnt_stat Call(CLIENT*, rpcproc_t, xdrproc_t, void*, xdrproc_t, void*, timeval);
    static void Destroy(CLIENT*);

    CLIENT* client_ = nullptr;
    QV_CLIENT_HANDLE handle_{};
    std::span<const uint8_t> reply_;
    bool keep_requests_ = false;
    unsigned calls_ = 0;
    std::vector<uint8_t> last_request_;
};

}  // namespace qvtest
