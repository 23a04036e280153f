// The local Quarvane service as a systemd unit, reached over the system bus.
//
// Each object is one conversation: a new connection to the system bus
// (sd_bus_open_system, which follows DBUS_SYSTEM_BUS_ADDRESS), the unit
// quarvane.service looked up by the manager and then addressed only
// through the object path the manager returned. Every step answers 0 or a
// positive errno-style code, which is what the service control lines print.
#pragma once

#include <array>
#include <cstdint>

struct sd_bus;

namespace qv {

// The unit's ActiveState folded into the four states a service has.
enum class ServiceState : std::uint32_t {
    kUnknown = 0,       // nothing read yet, or a state systemd added later
    kStopped = 1,       // inactive, failed
    kStartPending = 2,  // activating, reloading
    kStopPending = 3,   // deactivating
    kRunning = 4,       // active
};

ServiceState MapActiveState(const char* active_state) noexcept;

class SystemdUnit {
  public:
    SystemdUnit() noexcept = default;
    ~SystemdUnit();
    SystemdUnit(const SystemdUnit&) = delete;
    SystemdUnit& operator=(const SystemdUnit&) = delete;

    // Connects to the system bus.
    int Connect() noexcept;
    // Asks the manager for the unit's object path (GetUnit; LoadUnit when
    // the manager has not loaded the unit yet, as it does for an installed
    // service nobody has asked for).
    int Find() noexcept;
    int Start() noexcept;
    int Stop() noexcept;
    // Reads ActiveState.
    int ReadState(ServiceState* state) noexcept;
    // Reads SubState, the phase within the state (start-pre, start, ...),
    // cut to the buffer.
    int ReadSubState(std::array<char, 32>* sub_state) noexcept;
    // Whether a job is queued for the unit: right after StartUnit or
    // StopUnit the unit may still show its old state until the job runs.
    bool HasQueuedJob() noexcept;

  private:
    int CallManager(const char* method) noexcept;

    sd_bus* bus_ = nullptr;
    std::array<char, 256> path_{};
};

}  // namespace qv
