// The ONC RPC side of the daemon: libtirpc's TCP transport, one program
// registration, and one dispatch function for all 115 procedures.
//
// Every connection is read in libtirpc's non-blocking record mode, so a
// client that sends half a request, or stops reading its replies, holds up
// nobody but itself. Requests are served one at a time on one thread: the
// model needs no locks, and no request takes long, since long operations
// progress with the clock rather than with work done here.
#pragma once

#include <rpc/rpc.h>

#include <cstdint>
#include <string>

#include "registry.h"
#include "service.h"

namespace qvsim {

// Answer of a procedure that the daemon does not model: its zeroed result
// record with this word in the status field, so that a client sees a
// refusal it knows rather than a success with empty data.
inline constexpr uint32_t kNotModelled = 0x6FFC0300u;

class Server {
  public:
    Server(Service& service, const Registry& registry);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds to the IPv4 address and port (0 picks a free one) and registers
    // the program. Returns the "address:port" actually bound. Throws
    // std::runtime_error.
    std::string Listen(const std::string& address, uint16_t port);

    // Serves until `stop_fd` becomes readable.
    void Run(int stop_fd);

  private:
    static void Dispatch(svc_req* request, SVCXPRT* transport);
    void Handle(svc_req* request, SVCXPRT* transport);

    Service& service_;
    const Registry& registry_;
    SVCXPRT* listener_ = nullptr;
};

}  // namespace qvsim
