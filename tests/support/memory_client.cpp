#include "support/memory_client.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "support/test_service.h"

namespace qvtest {

MemoryClient::MemoryClient() {
    using Ops = std::remove_pointer_t<decltype(CLIENT::cl_ops)>;
    static Ops ops = [] {
        Ops o{};
        o.cl_call = &MemoryClient::Call;
        o.cl_abort = [](CLIENT*) {};
        o.cl_geterr = [](CLIENT*, rpc_err* err) { std::memset(err, 0, sizeof *err); };
        o.cl_freeres = [](CLIENT*, xdrproc_t filter, void* res) -> bool_t {
            xdr_free(filter, static_cast<char*>(res));
            return TRUE;
        };
        o.cl_destroy = &MemoryClient::Destroy;
        o.cl_control = [](CLIENT*, u_int, void*) -> bool_t { return TRUE; };
        return o;
    }();
    client_ = static_cast<CLIENT*>(std::calloc(1, sizeof(CLIENT)));
    client_->cl_ops = &ops;
    client_->cl_private = this;  // where a call finds its client
    handle_.token = 0x51;
    handle_.client = client_;
}

MemoryClient::~MemoryClient() {
    if (client_ != nullptr) Destroy(client_);
}

void MemoryClient::Destroy(CLIENT* client) {
    auto* owner = static_cast<MemoryClient*>(client->cl_private);
    owner->client_ = nullptr;
    owner->handle_.client = nullptr;
    std::free(client);
}

enum clnt_stat MemoryClient::Call(CLIENT* client, rpcproc_t, xdrproc_t arg_filter, void* arg,
                                  xdrproc_t res_filter, void* res, timeval) {
    MemoryClient& self = *static_cast<MemoryClient*>(client->cl_private);
    ++self.calls_;

    // The request must encode, as it would on the way to the service.
    const unsigned long size = xdr_sizeof(arg_filter, arg);
    if (self.keep_requests_) self.last_request_ = Encode(arg_filter, arg);
    if (size == 0 &&
        arg_filter != reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(xdr_void))) {
        return RPC_CANTENCODEARGS;
    }

    XDR dec;
    xdrmem_create(&dec, reinterpret_cast<char*>(const_cast<uint8_t*>(self.reply_.data())),
                  static_cast<u_int>(self.reply_.size()), XDR_DECODE);
    const bool ok = res_filter(&dec, res) != 0;
    xdr_destroy(&dec);
    return ok ? RPC_SUCCESS : RPC_CANTDECODERES;
}

}  // namespace qvtest
