#include "daemon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace simtest {
namespace {

namespace fs = std::filesystem;

std::vector<char*> Argv(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

pid_t Spawn(std::vector<std::string> args, int stdout_fd) {
    args.insert(args.begin(), QV_SIM_EXE);
    std::vector<char*> argv = Argv(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The daemon starts as from a shell: default signal dispositions and
    // nothing blocked, whatever this test process has set for itself (an
    // ignored SIGPIPE would otherwise be inherited and hide the daemon's
    // own handling).
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start quarvane-sim: " + std::string(strerror(rc)));
    return pid;
}

int Reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

// The daemon's one line on stdout, read byte by byte so that nothing after
// it is consumed.
std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    for (;;) {
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') return line;
        line.push_back(c);
    }
}

bool ReadFully(int fd, uint8_t* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, out + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

}  // namespace

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "qvsim-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

fs::path TempDir::Write(const std::string& name, const std::string& content) const {
    const fs::path file = path_ / name;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    return file;
}

std::string TestInventory() {
    return R"({
  "disks": [
    { "number": 0, "name": "Disk0", "size_mib": 10000, "system": true,
      "vendor": "QVSIM", "product": "System", "serial": "S0",
      "partitions": [
        { "number": 1, "letters": "C:", "label": "System", "size_mib": 4000, "used_mib": 3000 },
        { "number": 2, "letters": "D:", "size_mib": 2000, "used_mib": 10 } ] },
    { "number": 1, "name": "Disk1", "size_mib": 8000,
      "partitions": [
        { "number": 1, "letters": "E:", "label": "Data", "size_mib": 1000, "used_mib": 600 },
        { "number": 2, "label": "Spare", "size_mib": 3000 } ] },
    { "number": 2, "name": "Disk2", "size_mib": 8000 },
    { "number": 3, "name": "Disk3", "size_mib": 4000,
      "partitions": [
        { "number": 1, "letters": "F:", "label": "Small", "size_mib": 500 },
        { "number": 2, "letters": "G:", "label": "Big", "size_mib": 2000 } ] },
    { "number": 4, "name": "Disk4", "size_mib": 4000,
      "partitions": [
        { "number": 1, "type": "0x42", "size_mib": 1000 },
        { "number": 2, "type": 7, "size_mib": 1000 } ] },
    { "number": 5, "name": "Disk5", "size_mib": 2000, "removable": true,
      "partitions": [ { "number": 1, "letters": "U:", "size_mib": 1999, "fs": "fat32" } ] },
    { "number": 6, "name": "Disk6", "size_mib": 8000, "offline": true }
  ]
})";
}

Daemon::Daemon(const std::vector<std::string>& args) {
    // Writing to a daemon that has gone must fail the test, not end it.
    signal(SIGPIPE, SIG_IGN);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> all = {"--listen", "127.0.0.1", "--port", "0"};
    all.insert(all.end(), args.begin(), args.end());
    try {
        pid_ = Spawn(all, out[1]);
    } catch (...) {
        close(out[0]);
        close(out[1]);
        throw;
    }
    close(out[1]);
    const std::string line = ReadLine(out[0]);
    close(out[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) {
        Stop();
        throw std::runtime_error("quarvane-sim did not start: \"" + line + "\"");
    }
    port_ = static_cast<uint16_t>(std::stoul(line.substr(prefix.size())));
}

Daemon::~Daemon() { Stop(); }

int Daemon::Stop() {
    if (pid_ <= 0) return wait_status_;
    kill(pid_, SIGTERM);
    // A daemon that does not stop within a minute is killed, so that a
    // broken one never outlives the test.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            wait_status_ = status;
            break;
        }
        if (done < 0 && errno != EINTR) break;
        if (std::chrono::steady_clock::now() > give_up) {
            kill(pid_, SIGKILL);
            wait_status_ = Reap(pid_);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return wait_status_;
}

int RunToExit(const std::vector<std::string>& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = Spawn(args, out[1]);
    close(out[1]);
    // A daemon that starts after all is stopped at once, so that the test
    // fails rather than waits for it.
    const std::string line = ReadLine(out[0]);
    close(out[0]);
    if (!line.empty()) kill(pid, SIGKILL);
    const int status = Reap(pid);
    return line.empty() ? status : -1;
}

RpcWString Arena::Text(std::u16string_view text) {
    auto& units = texts_.emplace_back(text.begin(), text.end());
    units.push_back(0);
    return RpcWString{static_cast<u_int>(units.size()), units.data()};
}

RpcObjectRef Arena::Ref(std::u16string_view name, uint32_t number, uint32_t token) {
    return RpcObjectRef{0, Text(name), number, token};
}

RpcObjectRef* Arena::Refs(std::u16string_view name, uint32_t number) {
    return &refs_.emplace_back(Ref(name, number));
}

std::u16string Text(const RpcWString& s) {
    std::u16string out;
    for (u_int i = 0; s.RpcWString_val != nullptr && i < s.RpcWString_len; ++i) {
        if (s.RpcWString_val[i] == 0) break;
        out.push_back(static_cast<char16_t>(s.RpcWString_val[i]));
    }
    return out;
}

Client::Client(uint16_t port) {
    sockaddr_in addr = Loopback(port);
    int sock = RPC_ANYSOCK;
    client_ = clnttcp_create(&addr, QUARVANE_PROG, QUARVANE_VERS, &sock, 0, 0);
    if (client_ == nullptr) throw std::runtime_error("clnttcp_create failed");
    timeval timeout{60, 0};
    clnt_control(client_, CLSET_TIMEOUT, reinterpret_cast<char*>(&timeout));
}

Client::~Client() {
    if (client_ != nullptr) clnt_destroy(client_);
}

uint32_t Client::Login(std::u16string_view user, std::u16string_view password, uint32_t* status) {
    Arena arena;
    RpcLogin arg{arena.Text(u"127.0.0.1"), arena.Text(user), arena.Text(password)};
    Reply<LOGIN> reply;
    Call<LOGIN>(arg, reply);
    if (status != nullptr) *status = reply.rpc == RPC_SUCCESS ? reply->status : 0xFFFFFFFF;
    return reply.rpc == RPC_SUCCESS && reply->status == 0 ? reply->token : 0;
}

RawConnection::RawConnection(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = Loopback(port);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error("cannot connect to quarvane-sim");
    }
}

RawConnection::~RawConnection() {
    if (fd_ >= 0) close(fd_);
}

void RawConnection::Send(const std::vector<uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("send failed");
        done += static_cast<std::size_t>(n);
    }
}

std::vector<uint8_t> RawConnection::ReadRecord() {
    std::vector<uint8_t> record;
    for (;;) {
        uint8_t mark[4];
        if (!ReadFully(fd_, mark, 4)) return {};
        const uint32_t word = (uint32_t{mark[0]} << 24) | (uint32_t{mark[1]} << 16) |
                              (uint32_t{mark[2]} << 8) | mark[3];
        const std::size_t at = record.size();
        record.resize(at + (word & 0x7FFFFFFF));
        if (!ReadFully(fd_, record.data() + at, word & 0x7FFFFFFF)) return {};
        if ((word & 0x80000000) != 0) return record;
    }
}

void RawConnection::Abort() {
    linger hard{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(fd_);
    fd_ = -1;
}

void PutWord(std::vector<uint8_t>& out, uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(word >> shift));
}

uint32_t GetWord(const std::vector<uint8_t>& in, std::size_t index) {
    const std::size_t at = index * 4;
    if (at + 4 > in.size()) return 0xDEADBEEF;
    return (uint32_t{in[at]} << 24) | (uint32_t{in[at + 1]} << 16) | (uint32_t{in[at + 2]} << 8) |
           in[at + 3];
}

std::vector<uint8_t> CallRecord(uint32_t xid, uint32_t proc, const std::vector<uint8_t>& args,
                                uint32_t version) {
    std::vector<uint8_t> body;
    for (uint32_t w : {xid, 0u /* CALL */, 2u /* RPC version */, uint32_t{QUARVANE_PROG}, version,
                       proc, 0u, 0u /* no credentials */, 0u, 0u /* no verifier */}) {
        PutWord(body, w);
    }
    body.insert(body.end(), args.begin(), args.end());
    std::vector<uint8_t> record;
    PutWord(record, 0x80000000u | static_cast<uint32_t>(body.size()));
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

std::vector<uint8_t> Encode(xdrproc_t filter, void* record) {
    std::vector<uint8_t> out(xdr_sizeof(filter, record));
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(out.data()), static_cast<u_int>(out.size()),
                  XDR_ENCODE);
    const bool ok = filter(&xdrs, record) != 0;
    xdr_destroy(&xdrs);
    if (!ok) throw std::runtime_error("cannot encode a record");
    return out;
}

bool Eventually(const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < give_up) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

}  // namespace simtest
