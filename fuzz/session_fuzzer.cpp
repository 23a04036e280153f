// The replies of LOGIN and LOGOUT: qvConnect, then qvDisconnect.
//
// qvConnect creates its own TCP client; this program supplies clnttcp_create
// itself (the definition in the executable wins over the runtime's), so the
// client it gets decodes from memory like every other fuzzer's. The first
// eight bytes of the input are the LOGIN reply (a token record is always
// eight bytes), the rest the LOGOUT reply.
#include <rpc/rpc.h>

#include <algorithm>
#include <cstdint>
#include <span>

#include "connection/handle.h"
#include "fuzz_environment.h"
#include "support/memory_client.h"

namespace {

constexpr std::size_t kLoginReply = 8;

qvtest::MemoryClient* g_next_client = nullptr;

}  // namespace

extern "C" CLIENT* clnttcp_create(sockaddr_in*, u_long, u_long, int*, u_int, u_int) {
    return g_next_client == nullptr ? nullptr : g_next_client->client();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qvfuzz::PrepareEnvironment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span input(data, size);
    const auto login = input.first(std::min(size, kLoginReply));
    const auto logout = input.subspan(login.size());

    // Whoever ends up owning the client (a handle that is given back, or
    // this MemoryClient) destroys it exactly once.
    const qvfuzz::GrowthCheck growth(size);
    qvtest::MemoryClient client;
    client.SetReply(login);
    g_next_client = &client;
    const QV_CONNECT_PARAM params{u"127.0.0.1", 11580, u"admin", u"secret"};
    QV_HANDLE handle = nullptr;
    const QV_STATUS connected = qvConnect(&params, &handle);
    g_next_client = nullptr;
    if (connected != 0) return 0;

    client.SetReply(logout);
    if (qvDisconnect(&handle) != 0) {
        // The handle stays usable after a refused logout; give it up.
        clnt_destroy(qv::GetRpcClient(handle));
        qvFreeHandle(&handle);
    }
    return 0;
}
