#include "support/systemd_mock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/wait_clock.h"

extern char** environ;

namespace qvtest {
namespace {

constexpr const char* kManager = "/org/freedesktop/systemd1";
constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kMockInterface = "org.freedesktop.DBus.Mock";
// The object path the mock gives the unit.
constexpr const char* kUnit = "/org/freedesktop/systemd1/unit/quarvane_service";
constexpr int kStartupMs = 20000;

// Starts `argv` with stdin from /dev/null, stdout and stderr into `log`
// and, when `pass_fd` is not -1, that descriptor as fd 3. The child is
// killed when the test process dies.
pid_t Spawn(const std::vector<std::string>& args, const std::filesystem::path& log, int pass_fd) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Debian's python with its own modules, not whatever PYTHONPATH points to.
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "PYTHON", 6) != 0) envp.push_back(*e);
    }
    envp.push_back(nullptr);
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(null_fd, 0);
        dup2(log_fd, 1);
        dup2(log_fd, 2);
        if (pass_fd != -1) dup2(pass_fd, 3);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(null_fd);
    close(log_fd);
    return pid;
}

void End(pid_t* pid) {
    if (*pid <= 0) return;
    kill(*pid, SIGTERM);
    int status = 0;
    waitpid(*pid, &status, 0);
    *pid = -1;
}

// Reads the line dbus-daemon prints its address on.
std::string ReadAddress(int fd) {
    std::string address;
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, kStartupMs) == 1 && read(fd, &c, 1) == 1 && c != '\n') address += c;
    return address;
}

}  // namespace

SystemdMock::SystemdMock() {
    if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) saved_address_ = old;

    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return;
    daemon_ =
        Spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
               "--address=unix:path=" + (dir_ / "system_bus_socket").string(), "--print-address=3"},
              dir_ / "dbus-daemon.log", pipe_fds[1]);
    close(pipe_fds[1]);
    const std::string address = ReadAddress(pipe_fds[0]);
    close(pipe_fds[0]);
    if (address.empty()) {
        ADD_FAILURE() << "dbus-daemon did not start";
        return;
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    mock_ = Spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "systemd", "-l",
                   (dir_ / "mock.log").string()},
                  dir_ / "mock.out", -1);

    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        ADD_FAILURE() << "cannot reach the private bus";
        return;
    }
    // The mock is there once it owns the manager's name.
    for (int waited = 0; waited < kStartupMs; waited += 20) {
        sd_bus_error error{nullptr, nullptr, 0};  // SD_BUS_ERROR_NULL is a C compound literal
        sd_bus_message* reply = nullptr;
        int owned = 0;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                               "org.freedesktop.systemd1") >= 0) {
            sd_bus_message_read(reply, "b", &owned);
        }
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
        if (owned != 0) {
            bus_ = bus;
            qv::wait_clock::SetForTesting({Tick, Sleep, this});
            return;
        }
        usleep(20 * 1000);
    }
    sd_bus_flush_close_unref(bus);
    ADD_FAILURE() << "the systemd mock did not come up; see " << (dir_ / "mock.out");
}

SystemdMock::~SystemdMock() {
    qv::wait_clock::SetForTesting({});
    sd_bus_flush_close_unref(bus_);
    End(&mock_);
    End(&daemon_);
    if (saved_address_) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_address_->c_str(), 1);
    } else {
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

void SystemdMock::Call(const char* path, const char* interface, const char* method,
                       const char* types, ...) {
    if (bus_ == nullptr) return;
    sd_bus_message* call = nullptr;
    sd_bus_error error{nullptr, nullptr, 0};  // SD_BUS_ERROR_NULL is a C compound literal
    int r = sd_bus_message_new_method_call(bus_, &call, "org.freedesktop.systemd1", path, interface,
                                           method);
    if (r >= 0) {
        va_list args;
        va_start(args, types);
        r = sd_bus_message_appendv(call, types, args);
        va_end(args);
    }
    if (r >= 0) r = sd_bus_call(bus_, call, 0, &error, nullptr);
    if (r < 0) ADD_FAILURE() << method << " on the mock: " << (error.message ? error.message : "");
    sd_bus_error_free(&error);
    sd_bus_message_unref(call);
}

void SystemdMock::AddUnit() {
    Call(kManager, kMockInterface, "AddMockUnit", "s", "quarvane.service");
    Call(kUnit, kMockInterface, "AddProperty", "ssv", kUnitInterface, "SubState", "s", "dead");
}

void SystemdMock::SetState(const std::string& active, const std::string& sub) {
    Call(kUnit, kMockInterface, "UpdateProperties", "sa{sv}", kUnitInterface, 2, "ActiveState", "s",
         active.c_str(), "SubState", "s", sub.c_str());
}

void SystemdMock::SetJob(std::uint32_t id) {
    const std::string job = std::string(kManager) + "/job/" + std::to_string(id);
    Call(kUnit, kMockInterface, "AddProperty", "ssv", kUnitInterface, "Job", "(uo)", id,
         job.c_str());
}

void SystemdMock::OnManager(const std::string& method, const std::string& in_sig,
                            const std::string& out_sig, const std::string& code) {
    Call(kManager, kMockInterface, "AddMethod", "sssss", kManagerInterface, method.c_str(),
         in_sig.c_str(), out_sig.c_str(), code.c_str());
}

void SystemdMock::OnStartOrStop(const std::string& method, const std::string& active,
                                const std::string& sub) {
    OnManager(method, "ss", "o",
              "objects[self.units[args[0]]].UpdateProperties('" + std::string(kUnitInterface) +
                  "', {'ActiveState': '" + active + "', 'SubState': '" + sub +
                  "'})\nret = '/org/freedesktop/systemd1/job/1'");
}

void SystemdMock::Script(std::vector<std::pair<std::string, std::string>> steps) {
    script_ = std::move(steps);
    next_step_ = 0;
}

std::uint32_t SystemdMock::Tick(void* self) { return static_cast<SystemdMock*>(self)->ticks_; }

void SystemdMock::Sleep(std::uint32_t ms, void* self) {
    auto* mock = static_cast<SystemdMock*>(self);
    mock->sleeps_.push_back(ms);
    mock->ticks_ += ms;
    if (mock->next_step_ < mock->script_.size()) {
        const auto& [active, sub] = mock->script_[mock->next_step_++];
        mock->SetState(active, sub);
    }
}

}  // namespace qvtest
