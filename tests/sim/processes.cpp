#include "processes.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qvtest {
namespace {

// Starts quarvane-sim and reads its first line on stdout, byte by byte so
// that nothing after it is consumed. Empty when it ended without one.
std::pair<pid_t, std::string> StartDaemon(const std::string& exe,
                                          const std::vector<std::string>& args,
                                          const std::string& err) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const int err_fd =
        err.empty() ? -1 : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = Spawn(exe, args, {}, -1, out[1], err_fd);
    close(out[1]);
    if (err_fd >= 0) close(err_fd);
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(out[0]);
    return {pid, line};
}

std::string ProcDir(pid_t pid) { return "/proc/" + (pid == 0 ? "self" : std::to_string(pid)); }

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

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qvtest-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ / name, std::ios::binary | std::ios::trunc) << content;
    return (path_ / name).string();
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
    std::string line;
    std::tie(pid, line) = StartDaemon(exe, args, err);
    // The daemon says where it listens once it is ready.
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

int RunToExit(const std::vector<std::string>& args, const std::string& err) {
    const auto [pid, line] = StartDaemon(QV_SIM_EXE, args, err);
    if (!line.empty()) kill(pid, SIGKILL);  // started after all: the test fails, not waits
    int status = -1;
    waitpid(pid, &status, 0);
    return line.empty() ? status : -1;
}

}  // namespace qvtest
