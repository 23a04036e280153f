#include "support/test_service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "support/sample_replies.h"

namespace qvtest {
namespace {

constexpr uint32_t kLastFragment = 0x80000000u;
// Largest record the service accepts; the library's requests are far smaller.
constexpr uint32_t kMaxRecord = 64u << 20;

}  // namespace

struct TestService::Connection {
    int fd = -1;
    Bytes inbox;   // bytes read but not yet parsed
    Bytes record;  // fragments of the record being assembled
    Bytes late;    // the reply of a stalled call, sent when the next call arrives
};

Bytes Encode(xdrproc_t filter, const void* record) {
    // Size first, then encode into an exact buffer.
    const unsigned long size = xdr_sizeof(filter, const_cast<void*>(record));
    Bytes out(size);
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(out.data()), static_cast<u_int>(out.size()),
                  XDR_ENCODE);
    const bool ok = filter(&xdrs, const_cast<void*>(record)) != 0;
    xdr_destroy(&xdrs);
    if (!ok) return {};
    return out;
}

bool DecodeInto(xdrproc_t filter, const Bytes& bytes, void* record) {
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(const_cast<uint8_t*>(bytes.data())),
                  static_cast<u_int>(bytes.size()), XDR_DECODE);
    const bool ok = filter(&xdrs, record) != 0;
    xdr_destroy(&xdrs);
    if (!ok) xdr_free(filter, static_cast<char*>(record));
    return ok;
}

std::u16string Text(const RpcWString& s) {
    if (s.RpcWString_val == nullptr) return {};
    std::u16string out(reinterpret_cast<const char16_t*>(s.RpcWString_val), s.RpcWString_len);
    const auto zero = out.find(u'\0');
    if (zero != std::u16string::npos) out.resize(zero);
    return out;
}

TestService::TestService(uint16_t port) : scripts_(qv::wire::kProcCount) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) throw std::runtime_error("test service: socket");
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 16) != 0) {
        throw std::runtime_error("test service: bind/listen");
    }
    socklen_t len = sizeof addr;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("test service: pipe");
    thread_ = std::thread([this] { Run(); });
}

TestService::~TestService() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    const char c = 's';
    (void)!write(wake_[1], &c, 1);
    thread_.join();
    close(listen_fd_);
    close(wake_[0]);
    close(wake_[1]);
}

QV_CONNECT_PARAM TestService::Params(const char16_t* login1, const char16_t* login2) const {
    return QV_CONNECT_PARAM{u"127.0.0.1", port_, login1, login2};
}

void TestService::SetReply(unsigned proc, Bytes reply, Fault fault) {
    std::lock_guard lock(mutex_);
    Script& s = scripts_.at(proc);
    s.reply = std::move(reply);
    s.fault = fault;
    s.scripted = true;
}

void TestService::AnswerRaw(unsigned proc, Bytes result_bytes) {
    SetReply(proc, std::move(result_bytes), Fault::kNone);
}

void TestService::Misbehave(unsigned proc, Fault fault) { SetReply(proc, {}, fault); }

void TestService::Reset(unsigned proc) {
    std::lock_guard lock(mutex_);
    scripts_.at(proc) = Script{};
}

std::vector<unsigned> TestService::CallOrder() const {
    std::lock_guard lock(mutex_);
    std::vector<unsigned> order;
    for (const auto& r : requests_) order.push_back(r.proc);
    return order;
}

Bytes TestService::LastBytes(unsigned proc) const {
    std::lock_guard lock(mutex_);
    for (auto it = requests_.rbegin(); it != requests_.rend(); ++it) {
        if (it->proc == proc) return it->args;
    }
    return {};
}

void TestService::ClearRecord() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void TestService::DropConnections() {
    {
        std::lock_guard lock(mutex_);
        drop_all_ = true;
    }
    const char c = 'd';
    (void)!write(wake_[1], &c, 1);
    // Wait until the service thread has acted on it.
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (!drop_all_) return;
        }
        std::this_thread::yield();
    }
}

bool TestService::Send(Connection& conn, const Bytes& body) {
    const uint32_t mark = htonl(kLastFragment | static_cast<uint32_t>(body.size()));
    const auto* mark_bytes = reinterpret_cast<const uint8_t*>(&mark);
    Bytes frame(mark_bytes, mark_bytes + 4);
    frame.insert(frame.end(), body.begin(), body.end());
    std::size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = ::send(conn.fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool TestService::HandleRecord(Connection& conn, const Bytes& record) {
    rpc_msg call{};
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(const_cast<uint8_t*>(record.data())),
                  static_cast<u_int>(record.size()), XDR_DECODE);
    const bool header_ok = xdr_callmsg(&xdrs, &call) != 0;
    const u_int args_at = xdr_getpos(&xdrs);
    xdr_destroy(&xdrs);
    if (!header_ok || call.rm_direction != CALL) return false;

    // A stalled call is answered late, just before the next one is read: the
    // way a slow service catches up. The client has given up on it by then.
    if (!conn.late.empty()) {
        Bytes late;
        late.swap(conn.late);
        if (!Send(conn, late)) return false;
    }

    const unsigned proc = static_cast<unsigned>(call.rm_call.cb_proc);
    Bytes args(record.begin() + args_at, record.end());

    Script script;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(Request{proc, args});
        if (proc < scripts_.size()) script = scripts_[proc];
    }

    // The reply header: accepted, no verifier; the result body follows.
    rpc_msg reply{};
    reply.rm_xid = call.rm_xid;
    reply.rm_direction = REPLY;
    reply.rm_reply.rp_stat = MSG_ACCEPTED;
    reply.acpted_rply.ar_verf = _null_auth;
    const bool known = call.rm_call.cb_prog == QUARVANE_PROG &&
                       call.rm_call.cb_vers == QUARVANE_VERS && proc < qv::wire::kProcCount;
    reply.acpted_rply.ar_stat = known ? SUCCESS : PROC_UNAVAIL;
    reply.acpted_rply.ar_results.where = nullptr;
    reply.acpted_rply.ar_results.proc = qv::wire::Proc<NULLPROC>::ResFilter();  // xdr_void
    Bytes head(64);
    xdrmem_create(&xdrs, reinterpret_cast<char*>(head.data()), static_cast<u_int>(head.size()),
                  XDR_ENCODE);
    xdr_replymsg(&xdrs, &reply);
    head.resize(xdr_getpos(&xdrs));
    xdr_destroy(&xdrs);
    if (!known) return Send(conn, head);

    switch (script.fault) {
        case Fault::kStall: {
            Bytes late = head;
            const Bytes body = ReplyWithStatus(proc, 0);
            late.insert(late.end(), body.begin(), body.end());
            conn.late = std::move(late);
            return true;
        }
        case Fault::kClose:
            return false;
        case Fault::kGarbage: {
            // Only the first byte of the result: nothing of it can be decoded.
            head.push_back(0xFF);
            return Send(conn, head);
        }
        case Fault::kNone:
            break;
    }

    const Bytes body = script.scripted ? script.reply : ReplyWithStatus(proc, 0);
    head.insert(head.end(), body.begin(), body.end());
    return Send(conn, head);
}

void TestService::Run() {
    std::vector<std::unique_ptr<Connection>> conns;
    auto drop = [&](std::size_t i) {
        close(conns[i]->fd);
        conns.erase(conns.begin() + static_cast<std::ptrdiff_t>(i));
    };
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_) break;
            if (drop_all_) {
                while (!conns.empty()) drop(0);
                drop_all_ = false;
            }
        }
        std::vector<pollfd> fds;
        fds.push_back({wake_[0], POLLIN, 0});
        fds.push_back({listen_fd_, POLLIN, 0});
        for (const auto& c : conns) fds.push_back({c->fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) continue;

        if (fds[0].revents & POLLIN) {
            char buf[64];
            while (read(wake_[0], buf, sizeof buf) > 0) {
            }
        }
        if (fds[1].revents & POLLIN) {
            const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                auto c = std::make_unique<Connection>();
                c->fd = fd;
                conns.push_back(std::move(c));
            }
        }
        // Walk the connections polled this round, last first, so drops keep indices valid.
        for (std::size_t k = fds.size(); k-- > 2;) {
            if (fds[k].revents == 0) continue;
            const std::size_t i = k - 2;
            Connection& c = *conns[i];
            uint8_t buf[65536];
            const ssize_t n = read(c.fd, buf, sizeof buf);
            if (n <= 0) {
                drop(i);
                continue;
            }
            c.inbox.insert(c.inbox.end(), buf, buf + n);
            bool keep = true;
            while (keep && c.inbox.size() >= 4) {
                uint32_t mark;
                std::memcpy(&mark, c.inbox.data(), 4);
                mark = ntohl(mark);
                const uint32_t len = mark & ~kLastFragment;
                if (len > kMaxRecord || c.record.size() + len > kMaxRecord) {
                    keep = false;
                    break;
                }
                if (c.inbox.size() < 4 + static_cast<std::size_t>(len)) break;
                c.record.insert(c.record.end(), c.inbox.begin() + 4, c.inbox.begin() + 4 + len);
                c.inbox.erase(c.inbox.begin(), c.inbox.begin() + 4 + len);
                if (mark & kLastFragment) {
                    Bytes record;
                    record.swap(c.record);
                    keep = HandleRecord(c, record);
                }
            }
            if (!keep) drop(i);
        }
    }
    for (auto& c : conns) close(c->fd);
}

}  // namespace qvtest
