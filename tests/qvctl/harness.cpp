#include "harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <stdexcept>

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

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

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

void Interrupt(pid_t pid) { kill(pid, SIGINT); }

RunResult RunQvctl(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env, const RunOptions& options) {
    signal(SIGPIPE, SIG_IGN);  // qvctl may be gone before its input is written
    Pipe in;
    Pipe out;
    Pipe err;
    int terminal = -1;  // the pseudo-terminal's master side
    int slave = -1;
    if (options.terminal) {
        if (openpty(&terminal, &slave, nullptr, nullptr, nullptr) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        fcntl(terminal, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
    const int full = options.full_stdout ? open("/dev/full", O_WRONLY | O_CLOEXEC) : -1;
    const pid_t pid =
        qvtest::Spawn(QVCTL_EXE, args, env, options.terminal ? slave : in.fd[0],
              options.full_stdout ? full : out.fd[1], options.terminal ? slave : err.fd[1]);
    if (slave >= 0) close(slave);
    if (full >= 0) close(full);
    out.CloseWrite();
    err.CloseWrite();
    const int input = options.terminal ? terminal : in.fd[1];
    if (!options.input.empty() && write(input, options.input.data(), options.input.size()) < 0) {
        throw std::runtime_error("cannot write qvctl's input");
    }
    in.CloseWrite();

    RunResult result;
    std::array<pollfd, 2> fds{
        {{out.fd[0], POLLIN, 0}, {options.terminal ? terminal : err.fd[0], POLLIN, 0}}};
    std::array<std::string*, 2> into{&result.out, &result.err};
    std::size_t step = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int ready =
            poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(0, left.count())));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            kill(pid, SIGKILL);  // hung: the test fails on its exit status
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            std::array<char, 4096> buffer{};
            const ssize_t n = read(fds[i].fd, buffer.data(), buffer.size());
            if (n > 0) {
                into[i]->append(buffer.data(), static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;  // end of file, or EIO once a terminal's last user has gone
            }
        }
        while (step < options.steps.size() &&
               (result.out + result.err).find(options.steps[step].seen) != std::string::npos) {
            options.steps[step++].then(pid);
        }
    }
    if (terminal >= 0) close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = ExitCode(status);
    return result;
}

}  // namespace qvctltest
