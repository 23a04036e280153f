#include "server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "quarvane.h"
#include "status.h"

namespace qvsim {
namespace {

// The largest request the daemon reads; a client's requests are a few
// hundred bytes. A record that claims more closes its connection.
constexpr std::size_t kMaxRequest = 1 << 20;
// Replies waiting for a client beyond this many bytes: its connection is
// not read from until they have gone out.
constexpr std::size_t kReplyBacklog = 64 << 10;
// A connection's buffers beyond this are given back once they are empty,
// so that an idle connection holds no more than its usual request and reply.
constexpr std::size_t kKeptBuffer = 64 << 10;
constexpr uint32_t kLastFragment = 0x80000000u;

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

uint32_t ReadMark(const uint8_t* at) {
    uint32_t mark;
    std::memcpy(&mark, at, sizeof mark);
    return ntohl(mark);
}

// The reply as one record: its mark, then the encoded message; empty when
// it cannot be encoded.
std::vector<uint8_t> EncodeReply(rpc_msg& reply) {
    const auto proc = reinterpret_cast<xdrproc_t>(xdr_replymsg);
    const unsigned long size = xdr_sizeof(proc, &reply);
    if (size == 0 || size > kLastFragment - 1) return {};
    std::vector<uint8_t> out(4 + size);
    const uint32_t mark = htonl(kLastFragment | static_cast<uint32_t>(size));
    std::memcpy(out.data(), &mark, sizeof mark);
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(out.data() + 4), static_cast<u_int>(size),
                  XDR_ENCODE);
    const bool ok = xdr_replymsg(&xdrs, &reply) != 0;
    xdr_destroy(&xdrs);
    if (!ok) out.clear();
    return out;
}

}  // namespace

struct Server::Connection {
    int fd = -1;
    Bytes in;               // received, from in_at on not yet taken
    std::size_t in_at = 0;
    Bytes record;           // the fragments of the record being assembled
    Bytes out;              // replies, from out_at on not yet written
    std::size_t out_at = 0;
    uint32_t events = 0;    // what the loop watches for

    std::size_t Backlog() const { return out.size() - out_at; }
};

Server::Server(Service& service, const Registry& registry)
    : service_(service), registry_(registry) {}

Server::~Server() {
    for (const auto& [fd, conn] : connections_) close(fd);
    if (epoll_fd_ >= 0) close(epoll_fd_);
    if (listen_fd_ >= 0) close(listen_fd_);
}

std::string Server::Listen(const std::string& address, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr = ResolveIpv4(address);
    addr.sin_port = htons(port);

    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, SOMAXCONN) != 0) {
        throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " +
                                 std::strerror(errno));
    }
    socklen_t len = sizeof addr;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);

    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

void Server::Run(int stop_fd) {
    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ < 0) throw std::runtime_error(std::string("epoll: ") + std::strerror(errno));
    for (const int fd : {stop_fd, listen_fd_}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
    }
    accepting_ = true;

    std::array<epoll_event, 256> ready;
    for (;;) {
        const int count = epoll_wait(epoll_fd_, ready.data(), static_cast<int>(ready.size()), -1);
        if (count < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("epoll_wait: ") + std::strerror(errno));
        }
        for (int i = 0; i < count; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == stop_fd) return;
            if (fd == listen_fd_) {
                Accept();
                continue;
            }
            const auto it = connections_.find(fd);
            if (it == connections_.end()) continue;
            const bool readable = (ready[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0;
            if (!Pump(*it->second, readable)) Close(fd);
        }
    }
}

void Server::Accept() {
    for (;;) {
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: the waiting clients stay queued until a
                // connection closes, rather than waking the loop in vain.
                service_.Warn(std::string("cannot accept a connection: ") + std::strerror(errno));
                epoll_event ev{};
                ev.data.fd = listen_fd_;
                epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, listen_fd_, &ev);
                accepting_ = false;
            }
            return;
        }
        auto conn = std::make_unique<Connection>();
        conn->fd = fd;
        epoll_event ev{};
        ev.events = conn->events = EPOLLIN;
        ev.data.fd = fd;
        if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
            close(fd);
            continue;
        }
        connections_.emplace(fd, std::move(conn));
    }
}

void Server::Close(int fd) {
    epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    connections_.erase(fd);
    if (!accepting_) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = listen_fd_;
        epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, listen_fd_, &ev);
        accepting_ = true;
    }
}

bool Server::Pump(Connection& conn, bool readable) {
    if (readable && conn.Backlog() < kReplyBacklog) {
        if (conn.in_at > 0) {
            conn.in.erase(conn.in.begin(), conn.in.begin() + static_cast<std::ptrdiff_t>(conn.in_at));
            conn.in_at = 0;
        }
        const ssize_t n = read(conn.fd, chunk_.data(), chunk_.size());
        if (n == 0) return false;
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (n > 0) conn.in.insert(conn.in.end(), chunk_.begin(), chunk_.begin() + n);
    }
    for (;;) {
        bool answered = false;
        while (conn.Backlog() < kReplyBacklog && conn.in.size() - conn.in_at >= 4) {
            const uint32_t mark = ReadMark(conn.in.data() + conn.in_at);
            const std::size_t length = mark & ~kLastFragment;
            if (length > kMaxRequest - conn.record.size()) return false;
            if (conn.in.size() - conn.in_at - 4 < length) break;
            const auto from = conn.in.begin() + static_cast<std::ptrdiff_t>(conn.in_at + 4);
            conn.record.insert(conn.record.end(), from, from + static_cast<std::ptrdiff_t>(length));
            conn.in_at += 4 + length;
            if ((mark & kLastFragment) == 0) continue;
            // The record is copied out of the receive buffer so that the
            // decoder reads it from an aligned start.
            const Bytes reply = Answer(conn.record.data(), conn.record.size());
            if (conn.record.capacity() > kKeptBuffer) Bytes().swap(conn.record);
            conn.record.clear();
            conn.out.insert(conn.out.end(), reply.begin(), reply.end());
            answered = true;
        }
        if (conn.Backlog() == 0) break;
        const ssize_t n = send(conn.fd, conn.out.data() + conn.out_at, conn.Backlog(),
                               MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (n > 0) conn.out_at += static_cast<std::size_t>(n);
        if (conn.Backlog() == 0) {
            if (conn.out.capacity() > kKeptBuffer) Bytes().swap(conn.out);
            conn.out.clear();
            conn.out_at = 0;
        }
        // Written out: records waiting behind the backlog get their turn.
        if (n <= 0 || (!answered && conn.Backlog() > 0)) break;
    }
    if (conn.in_at == conn.in.size()) {
        if (conn.in.capacity() > kKeptBuffer) Bytes().swap(conn.in);
        conn.in.clear();
        conn.in_at = 0;
    }
    Watch(conn);
    return true;
}

void Server::Watch(Connection& conn) {
    uint32_t events = 0;
    if (conn.Backlog() < kReplyBacklog) events |= EPOLLIN;
    if (conn.Backlog() > 0) events |= EPOLLOUT;
    if (events == conn.events) return;
    epoll_event ev{};
    ev.events = conn.events = events;
    ev.data.fd = conn.fd;
    epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, conn.fd, &ev);
}

Server::Bytes Server::Answer(const uint8_t* record, std::size_t size) {
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(const_cast<uint8_t*>(record)),
                  static_cast<u_int>(size), XDR_DECODE);
    // The credentials and verifier land in these buffers (the decoder
    // allocates only where it finds none); the daemon checks neither.
    std::array<char, MAX_AUTH_BYTES> cred{};
    std::array<char, MAX_AUTH_BYTES> verf{};
    rpc_msg call{};
    call.rm_call.cb_cred.oa_base = cred.data();
    call.rm_call.cb_verf.oa_base = verf.data();
    if (!xdr_callmsg(&xdrs, &call) || call.rm_direction != CALL) {
        service_.Trace("a record that is no call is dropped");
        xdr_destroy(&xdrs);
        return {};
    }

    rpc_msg reply{};
    reply.rm_xid = call.rm_xid;
    reply.rm_direction = REPLY;
    if (call.rm_call.cb_rpcvers != RPC_MSG_VERSION) {
        xdr_destroy(&xdrs);
        reply.rm_reply.rp_stat = MSG_DENIED;
        reply.rjcted_rply.rj_stat = RPC_MISMATCH;
        reply.rjcted_rply.rj_vers.low = reply.rjcted_rply.rj_vers.high = RPC_MSG_VERSION;
        return EncodeReply(reply);
    }
    reply.rm_reply.rp_stat = MSG_ACCEPTED;
    reply.acpted_rply.ar_verf = _null_auth;
    reply.acpted_rply.ar_results.where = nullptr;
    reply.acpted_rply.ar_results.proc = qv::wire::Proc<NULLPROC>::ResFilter();  // xdr_void
    auto refuse = [&](accept_stat stat) {
        xdr_destroy(&xdrs);
        reply.acpted_rply.ar_stat = stat;
        return EncodeReply(reply);
    };

    if (call.rm_call.cb_prog != QUARVANE_PROG) return refuse(PROG_UNAVAIL);
    if (call.rm_call.cb_vers != QUARVANE_VERS) {
        reply.acpted_rply.ar_vers.low = reply.acpted_rply.ar_vers.high = QUARVANE_VERS;
        return refuse(PROG_MISMATCH);
    }
    const rpcproc_t proc = call.rm_call.cb_proc;
    if (proc >= qv::wire::kProcCount) {
        service_.Trace("procedure " + std::to_string(proc) + " does not exist");
        return refuse(PROC_UNAVAIL);
    }
    const qv::wire::ProcInfo& info = qv::wire::ProcTable(static_cast<unsigned>(proc));
    Block arg = ZeroedRecord(info.arg_size);
    Block res = ZeroedRecord(info.res_size);
    if (!arg || !res) return refuse(SYSTEM_ERR);
    if (!info.arg_filter(&xdrs, arg.get())) {
        // Whatever the decoder allocated before it gave up is released too.
        xdr_free(info.arg_filter, static_cast<char*>(arg.get()));
        service_.Trace(std::string(info.name) + ": arguments cannot be decoded");
        return refuse(GARBAGE_ARGS);
    }
    xdr_destroy(&xdrs);

    Handle(static_cast<unsigned>(proc), arg.get(), res.get());
    reply.acpted_rply.ar_stat = SUCCESS;
    reply.acpted_rply.ar_results.where = static_cast<char*>(res.get());
    reply.acpted_rply.ar_results.proc = info.res_filter;
    Bytes out = EncodeReply(reply);
    if (out.empty()) service_.Trace(std::string(info.name) + ": the reply cannot be encoded");
    xdr_free(info.arg_filter, static_cast<char*>(arg.get()));
    xdr_free(info.res_filter, static_cast<char*>(res.get()));
    return out;
}

void Server::Handle(unsigned proc, void* arg, void* res) {
    const qv::wire::ProcInfo& info = qv::wire::ProcTable(proc);
    const RecordAccess& access = Access(proc);
    service_.model().Advance(Clock::now());

    uint32_t word = status::kOk;
    std::string caller;
    if (access.token) {
        const uint32_t token = *access.token(arg);
        caller = " token " + Hex(token);
        if (!service_.sessions().Valid(token)) word = status::kNotConnected;
    }
    if (word == status::kOk) {
        const Registry::Handler& handler = registry_.Find(proc);
        if (!handler) {
            word = kNotModelled;
        } else {
            try {
                handler(arg, res);
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
        xdr_free(info.res_filter, static_cast<char*>(res));
        std::memset(res, 0, info.res_size);
        if (access.set_status != nullptr) access.set_status(res, word);
    } else if (access.get_status != nullptr) {
        word = access.get_status(res);
    }
    if (service_.options().verbose) {
        std::string line = info.name;
        if (const std::string object = access.object(arg); !object.empty()) {
            line += " " + object;
        }
        service_.Trace(line + caller + " -> " + status::Describe(word));
    }

    // A change is on disk before the client hears that it was made.
    if (service_.model().TakeChanged()) service_.SaveState();
}

}  // namespace qvsim
