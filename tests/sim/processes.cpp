#include "processes.h"

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
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qvtest {
namespace {

std::string ProcDir(pid_t pid) { return "/proc/" + (pid == 0 ? "self" : std::to_string(pid)); }

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

}  // namespace

long ResidentKiB(pid_t pid) {
    std::ifstream status(ProcDir(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

long OpenDescriptors(pid_t pid) {
    std::error_code ec;
    long count = 0;
    for (std::filesystem::directory_iterator it(ProcDir(pid) + "/fd", ec), end; !ec && it != end;
         it.increment(ec)) {
        ++count;
    }
    return ec ? -1 : count;
}

pid_t Spawn(const std::string& exe, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, int in, int out, int err) {
    std::vector<std::string> strings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (!env.contains(entry.substr(0, entry.find('=')))) strings.push_back(entry);
    }
    for (const auto& [key, value] : env) strings.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& e : strings) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
        if (in < 0) in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
            (err >= 0 && dup2(err, STDERR_FILENO) < 0)) {
            _exit(126);
        }
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

namespace {
std::vector<std::string> SimArgs(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--listen", "127.0.0.1", "--port", "0"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}
}  // namespace

Daemon::Daemon(const std::vector<std::string>& args, const std::string& err)
    : Daemon(QV_SIM_EXE, SimArgs(args), err) {}

Daemon::Daemon(const std::string& exe, const std::vector<std::string>& args,
               const std::string& err) {
    // Writing to a daemon that has gone must fail the test, not end it.
    signal(SIGPIPE, SIG_IGN);
    Pipe out;
    const int err_fd =
        err.empty() ? -1 : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid = Spawn(exe, args, {}, -1, out.fd[1], err_fd);
    out.CloseWrite();
    if (err_fd >= 0) close(err_fd);
    // The daemon says where it listens once it is ready. Its first line is
    // read byte by byte so that nothing after it is consumed.
    std::string line;
    for (char c = 0; read(out.fd[0], &c, 1) == 1 && c != '\n';) line.push_back(c);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) {
        Stop(SIGKILL);
        throw std::runtime_error(exe + " did not start: \"" + line + "\"");
    }
    port = static_cast<uint16_t>(std::stoul(line.substr(prefix.size())));
}

int Daemon::Stop(int signal) {
    if (pid <= 0) return wait_status;
    kill(pid, signal);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(pid, &wait_status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > give_up) kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid = -1;
    return wait_status;
}

LoopbackSocket::LoopbackSocket(bool listening) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        (listening && listen(fd, 16) != 0)) {
        throw std::runtime_error("no loopback socket");
    }
    port = ntohs(addr.sin_port);
}

LoopbackSocket::~LoopbackSocket() { close(fd); }

int ConnectLoopback(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        return fd;
    }
    if (fd >= 0) close(fd);
    return -1;
}

bool Eventually(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void Interrupt(pid_t pid) { kill(pid, SIGINT); }

RunResult Run(const std::string& exe, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env, const RunOptions& options) {
    signal(SIGPIPE, SIG_IGN);  // the program may be gone before its input is written
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
    const pid_t pid = Spawn(exe, args, env, options.terminal ? slave : in.fd[0],
                            options.full_stdout ? full : out.fd[1],
                            options.terminal ? slave : err.fd[1]);
    if (slave >= 0) close(slave);
    if (full >= 0) close(full);
    out.CloseWrite();
    err.CloseWrite();
    const int input = options.terminal ? terminal : in.fd[1];
    if (!options.input.empty() && write(input, options.input.data(), options.input.size()) < 0) {
        throw std::runtime_error("cannot write the input of " + exe);
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
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace qvtest
