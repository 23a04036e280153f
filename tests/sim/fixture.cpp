#include "fixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace simtest {
namespace {

// Starts quarvane-sim as from a shell, whatever this test process has set
// for itself (an ignored SIGPIPE would otherwise be inherited and hide the
// daemon's own handling). Returns its pid and its first line on stdout,
// read byte by byte so that nothing after it is consumed.
std::pair<pid_t, std::string> Spawn(std::vector<std::string> args, const std::string& err) {
    args.insert(args.begin(), QV_SIM_EXE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!err.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
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
    close(out[1]);
    std::string line;
    char c = 0;
    while (rc == 0 && read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(out[0]);
    if (rc != 0)
        throw std::runtime_error("cannot start quarvane-sim: " + std::string(strerror(rc)));
    return {pid, line};
}

std::filesystem::path MakeTempDir() {
    std::string name = (std::filesystem::temp_directory_path() / "qvsim-test-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return name;
}

}  // namespace

SimE2e::SimE2e() : dir_(MakeTempDir()) {}

SimE2e::~SimE2e() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string SimE2e::Read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string SimE2e::Write(const std::string& name, const std::string& content) const {
    std::ofstream(dir_ / name, std::ios::binary | std::ios::trunc) << content;
    return (dir_ / name).string();
}

Daemon::Daemon(const std::vector<std::string>& args, const std::string& err) {
    std::vector<std::string> all = {"--listen", "127.0.0.1", "--port", "0"};
    all.insert(all.end(), args.begin(), args.end());
    std::string line;
    std::tie(pid, line) = Spawn(all, err);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) {
        Stop(SIGKILL);
        throw std::runtime_error("quarvane-sim did not start: \"" + line + "\"");
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
    const auto [pid, line] = Spawn(args, err);
    if (!line.empty()) kill(pid, SIGKILL);  // started after all: the test fails, not waits
    int status = -1;
    waitpid(pid, &status, 0);
    return line.empty() ? status : -1;
}

std::string Summary(const QV_DISK_LIST& list) {
    std::string out;
    for (uint32_t i = 0; i < list.Count; ++i) {
        const QV_DISK_INFO& e = list.Entries[i];
        out += (i == 0 ? "" : " ") + Ascii(e.DiskName);
        if (e.PartitionNumber != 0) out += ":" + std::to_string(e.PartitionNumber);
    }
    return out;
}

std::string Describe(const QV_DISK_LIST& list, std::string_view disk, uint32_t number) {
    for (const QV_DISK_INFO& e : std::span(list.Entries, list.Count)) {
        if (Ascii(e.DiskName) != disk || e.PartitionNumber != number) continue;
        char more[96];
        std::snprintf(
            more, sizeof more, "%llu/%llu%s|%u %u %u %u|%d/%d",
            static_cast<unsigned long long>(e.Size), static_cast<unsigned long long>(e.UsedSize),
            e.Measure == 1024 * 1024 ? " MiB" : " of other units", e.HighFlag, e.DiskMarked,
            e.Properties.Mode, e.PartitionType, e.Attribute, e.DiskAttribute3);
        return Ascii(e.DisplayName) + "|" + Ascii(e.Letters) + "|" + Ascii(e.Label) + "|" + more;
    }
    return "<not listed>";
}

std::string Describe(const QV_MIRROR_CONFIG& c) {
    const auto object = [](const QV_OBJECT_ID& id) {
        return Ascii(id.name) + ":" + std::to_string(id.number);
    };
    const QV_SNAPSHOT_SCHEDULE& s = c.Schedule;
    char settings[160];
    std::snprintf(settings, sizeof settings,
                  "kind %u schedule %u %u %u %u %u %u %u settings %d %u %u %u %u limit %u/%u",
                  c.MirrorKind, s.Mode, s.Param1, s.Param2, s.Param3, s.Param4, s.Param5, s.Param6,
                  c.Setting1, c.Setting7, c.Setting9, c.Setting12, c.Switch1, c.LimitOn, c.Limit);
    return object(c.Primary) + " on " + object(c.Mirror) + "|" + Ascii(c.Text1) + "|" +
           Ascii(c.Text2) + "|" + Ascii(c.Text3) + "|" + Ascii(c.Text4) + "|" + settings;
}

}  // namespace simtest
