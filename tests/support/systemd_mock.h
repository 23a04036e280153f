// A private system bus with a mock systemd on it, for one test.
//
// Construction starts a dbus-daemon of its own on a socket in a temporary
// directory, points DBUS_SYSTEM_BUS_ADDRESS at it and starts python-dbusmock
// with its systemd template (Debian's /usr/bin/python3, which has the
// module); destruction ends both, waits for them and puts the environment
// back. Both children die with the test process if it is killed.
//
// The fixture also takes over the library's wait clock: every sleep is
// recorded, advances a fake tick count and moves the unit on one step of
// the script given to Script().
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

struct sd_bus;

namespace qvtest {

class SystemdMock {
  public:
    SystemdMock();
    ~SystemdMock();
    SystemdMock(const SystemdMock&) = delete;
    SystemdMock& operator=(const SystemdMock&) = delete;

    // Whether the bus and the mock came up (a failure has been reported).
    bool ready() const { return bus_ != nullptr; }

    // Adds quarvane.service, inactive/dead, to the mock.
    void AddUnit();
    void SetState(const std::string& active, const std::string& sub);
    // Gives the unit a Job property naming a queued job (id 0: none).
    void SetJob(std::uint32_t id);
    // Replaces a manager method with Python code run by the mock
    // (`args`, `self`, `objects` and `ret` as python-dbusmock has them).
    void OnManager(const std::string& method, const std::string& in_sig, const std::string& out_sig,
                   const std::string& code);
    // Replaces StartUnit or StopUnit with one that moves the unit to the
    // given state and returns a job.
    void OnStartOrStop(const std::string& method, const std::string& active,
                       const std::string& sub);

    // The states (ActiveState, SubState) the unit takes, one per sleep of
    // the library; after the last the unit stays where it is.
    void Script(std::vector<std::pair<std::string, std::string>> steps);
    const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }

  private:
    static std::uint32_t Tick(void* self);
    static void Sleep(std::uint32_t ms, void* self);
    void Call(const char* path, const char* interface, const char* method, const char* types, ...);

    TempDir dir_;  // the bus socket and the logs
    std::optional<std::string> saved_address_;
    pid_t daemon_ = -1;
    pid_t mock_ = -1;
    sd_bus* bus_ = nullptr;
    std::uint32_t ticks_ = 0xFFFFD8F0u;  // ten seconds before the count wraps
    std::vector<std::uint32_t> sleeps_;
    std::vector<std::pair<std::string, std::string>> script_;
    std::size_t next_step_ = 0;
};

}  // namespace qvtest
