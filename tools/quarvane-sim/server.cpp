#include "server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/rpc_com.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "quarvane.h"
#include "status.h"

namespace qvsim {
namespace {

// The largest request the daemon reads; a client's requests are a few
// hundred bytes. Setting it also switches libtirpc's connections to
// non-blocking record assembly.
constexpr int kMaxRequest = 1 << 20;

// libtirpc calls the dispatch function without user data; the one server
// of the process is found here.
Server* g_server = nullptr;

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using Block = std::unique_ptr<void, FreeDeleter>;

// A zeroed block for a record of `size` bytes. The decoder fills it and
// allocates only where it finds null pointers, so it must start zeroed.
Block ZeroedRecord(std::size_t size) { return Block(std::calloc(1, size == 0 ? 1 : size)); }

std::string Hex(uint32_t word) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", word);
    return text;
}

in_addr ResolveIpv4(const std::string& address) {
    in_addr out{};
    if (inet_pton(AF_INET, address.c_str(), &out) == 1) return out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        throw std::runtime_error("cannot resolve " + address + " to an IPv4 address");
    }
    out = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return out;
}

}  // namespace

Server::Server(Service& service, const Registry& registry)
    : service_(service), registry_(registry) {
    if (g_server != nullptr) throw std::logic_error("one RPC server per process");
    g_server = this;
}

Server::~Server() {
    // The program is not unregistered: with no port mapper involved there is
    // nothing outside the process to tell, and the transports go with it.
    g_server = nullptr;
}

std::string Server::Listen(const std::string& address, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr = ResolveIpv4(address);
    addr.sin_port = htons(port);

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, SOMAXCONN) != 0) {
        const int err = errno;
        close(fd);
        throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " +
                                 std::strerror(err));
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);

    int max_request = kMaxRequest;
    rpc_control(RPC_SVC_CONNMAXREC_SET, &max_request);
    // svc_vc_create is the transport-independent form of svctcp_create; it
    // takes the bound socket as it is and needs no netconfig lookup.
    listener_ = svc_vc_create(fd, 0, 0);
    if (listener_ == nullptr) {
        close(fd);
        throw std::runtime_error("cannot create the RPC transport");
    }
    // Protocol 0: the program is not announced to a port mapper; clients
    // connect to the port directly.
    if (!svc_register(listener_, QUARVANE_PROG, QUARVANE_VERS, &Server::Dispatch, 0)) {
        throw std::runtime_error("cannot register the RPC program");
    }

    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

void Server::Run(int stop_fd) {
    std::vector<pollfd> fds;
    for (;;) {
        // libtirpc's own descriptor set changes as connections come and go,
        // so it is copied afresh for every wait; the stop descriptor goes
        // last, where svc_getreq_poll does not look.
        const int count = svc_max_pollfd;
        fds.assign(svc_pollfd, svc_pollfd + count);
        fds.push_back(pollfd{stop_fd, POLLIN, 0});
        const int ready = poll(fds.data(), fds.size(), -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        if (fds.back().revents != 0) return;
        svc_getreq_poll(fds.data(), ready);
    }
}

void Server::Dispatch(svc_req* request, SVCXPRT* transport) {
    if (g_server != nullptr) g_server->Handle(request, transport);
}

void Server::Handle(svc_req* request, SVCXPRT* transport) {
    const unsigned proc = static_cast<unsigned>(request->rq_proc);
    if (request->rq_proc >= qv::wire::kProcCount) {
        service_.Trace("procedure " + std::to_string(request->rq_proc) + " does not exist");
        svcerr_noproc(transport);
        return;
    }
    const qv::wire::ProcInfo& info = qv::wire::ProcTable(proc);
    const RecordAccess& access = Access(proc);

    Block arg = ZeroedRecord(info.arg_size);
    Block res = ZeroedRecord(info.res_size);
    if (!arg || !res) {
        svcerr_systemerr(transport);
        return;
    }
    if (!svc_getargs(transport, info.arg_filter, static_cast<char*>(arg.get()))) {
        // Whatever the decoder allocated before it gave up is released too.
        svc_freeargs(transport, info.arg_filter, static_cast<char*>(arg.get()));
        service_.Trace(std::string(info.name) + ": arguments cannot be decoded");
        svcerr_decode(transport);
        return;
    }

    service_.model().Advance(Clock::now());

    uint32_t word = status::kOk;
    std::string caller;
    if (access.token) {
        const uint32_t token = *access.token(arg.get());
        caller = " token " + Hex(token);
        if (!service_.sessions().Valid(token)) word = status::kNotConnected;
    }
    if (word == status::kOk) {
        const Registry::Handler& handler = registry_.Find(proc);
        if (!handler) {
            word = kNotModelled;
        } else {
            try {
                handler(arg.get(), res.get());
            } catch (const std::bad_alloc&) {
                word = status::kNoMemory;
            } catch (const std::exception& e) {
                service_.Warn(std::string(info.name) + ": " + e.what());
                word = status::kFatal;
            }
        }
    }
    if (word != status::kOk) {
        // A refusal by the server itself: whatever a handler put into the
        // result before it failed is thrown away, and the word goes into
        // the otherwise zeroed record.
        xdr_free(info.res_filter, static_cast<char*>(res.get()));
        std::memset(res.get(), 0, info.res_size);
        if (access.set_status != nullptr) access.set_status(res.get(), word);
    } else if (access.get_status != nullptr) {
        word = access.get_status(res.get());
    }
    if (service_.options().verbose) {
        std::string line = info.name;
        if (const std::string object = access.object(arg.get()); !object.empty()) {
            line += " " + object;
        }
        service_.Trace(line + caller + " -> " + status::Describe(word));
    }

    // A change is on disk before the client hears that it was made.
    if (service_.model().TakeChanged()) service_.SaveState();

    if (!svc_sendreply(transport, info.res_filter, static_cast<char*>(res.get()))) {
        service_.Trace(std::string(info.name) + ": the reply could not be sent");
    }
    svc_freeargs(transport, info.arg_filter, static_cast<char*>(arg.get()));
    xdr_free(info.res_filter, static_cast<char*>(res.get()));
}

}  // namespace qvsim
