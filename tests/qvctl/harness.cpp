#include "harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qvctltest {
namespace {

// A pipe whose ends are closed when it goes.
struct Pipe {
    std::array<int, 2> fd{-1, -1};
    Pipe() {
        if (pipe2(fd.data(), O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    }
    ~Pipe() {
        for (int f : fd) {
            if (f >= 0) close(f);
        }
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void CloseWrite() {
        close(fd[1]);
        fd[1] = -1;
    }
};

// Starts `exe` with `args`; its stdout goes to `out`, its stderr to `err`
// (-1: the test's own), stdin is /dev/null.
pid_t Spawn(const std::string& exe, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, int out, int err) {
    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (!env.contains(entry.substr(0, entry.find('=')))) env_strings.push_back(entry);
    }
    for (const auto& [key, value] : env) env_strings.push_back(key + "=" + value);

    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int null = open("/dev/null", O_RDONLY);
        if (null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
            (err >= 0 && dup2(err, STDERR_FILENO) < 0)) {
            _exit(126);
        }
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qvctl-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::Write(const std::string& name, const std::string& content) const {
    const auto file = path_ / name;
    std::ofstream(file, std::ios::binary) << content;
    return file;
}

Daemon::Daemon(const std::vector<std::string>& args) {
    // Writing to a daemon that has gone must fail the test, not end it.
    signal(SIGPIPE, SIG_IGN);
    Pipe out;
    std::vector<std::string> all = {"--listen", "127.0.0.1", "--port", "0"};
    all.insert(all.end(), args.begin(), args.end());
    pid_ = Spawn(QV_SIM_EXE, all, {}, out.fd[1], -1);
    out.CloseWrite();

    // The daemon says where it listens once it is ready.
    const std::string prefix = "listening on 127.0.0.1:";
    std::string line;
    char c = 0;
    while (read(out.fd[0], &c, 1) == 1 && c != '\n') line += c;
    if (line.rfind(prefix, 0) != 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        throw std::runtime_error("quarvane-sim did not start: \"" + line + "\"");
    }
    port_ = static_cast<uint16_t>(std::stoul(line.substr(prefix.size())));
}

Daemon::~Daemon() {
    kill(pid_, SIGTERM);
    for (int i = 0; i < 400; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

ClosedPort::ClosedPort() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    port_ = ntohs(addr.sin_port);
}

ClosedPort::~ClosedPort() { close(fd_); }

RunResult RunQvctl(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env) {
    Pipe out;
    Pipe err;
    const pid_t pid = Spawn(QVCTL_EXE, args, env, out.fd[1], err.fd[1]);
    out.CloseWrite();
    err.CloseWrite();

    RunResult result;
    std::array<pollfd, 2> fds{{{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}}};
    std::array<std::string*, 2> into{&result.out, &result.err};
    int open_fds = 2;
    while (open_fds > 0) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            std::array<char, 4096> buffer{};
            const ssize_t n = read(fds[i].fd, buffer.data(), buffer.size());
            if (n > 0) {
                into[i]->append(buffer.data(), static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = ExitCode(status);
    return result;
}

}  // namespace qvctltest
