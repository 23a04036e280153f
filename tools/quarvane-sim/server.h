// The ONC RPC side of the daemon: TCP with record marking, the call and
// reply headers, one dispatch for all 115 procedures.
//
// One thread serves every connection from one epoll loop. Each connection
// is read and written without blocking and keeps its own buffers, so a
// client that sends half a request, or stops reading its replies, holds up
// nobody but itself: a connection whose replies pile up unread is not read
// from until they drain, which also bounds what it can make the daemon
// hold. Requests are served one at a time: the model needs no locks, and no
// request takes long, since long operations progress with the clock rather
// than with work done here.
#pragma once

#include <rpc/rpc.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

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

    // Binds to the IPv4 address and port (0 picks a free one). Returns the
    // "address:port" actually bound. Throws std::runtime_error.
    std::string Listen(const std::string& address, uint16_t port);

    // Serves until `stop_fd` becomes readable.
    void Run(int stop_fd);

  private:
    struct Connection;
    using Bytes = std::vector<uint8_t>;

    void Accept();
    void Close(int fd);
    // Reads what has arrived, answers the whole records and writes what it
    // can; false when the connection is to be closed.
    bool Pump(Connection& conn, bool readable);
    void Watch(Connection& conn);
    // The reply record (mark included) to one call record; empty when the
    // record is no call and goes unanswered.
    Bytes Answer(const uint8_t* record, std::size_t size);
    // Runs the procedure on its decoded argument into its result.
    void Handle(unsigned proc, void* arg, void* res);

    Service& service_;
    const Registry& registry_;
    int listen_fd_ = -1;
    int epoll_fd_ = -1;
    bool accepting_ = false;
    // What one read takes from a connection before the others get their turn.
    std::vector<uint8_t> chunk_ = std::vector<uint8_t>(64 << 10);
    std::unordered_map<int, std::unique_ptr<Connection>> connections_;
};

}  // namespace qvsim
