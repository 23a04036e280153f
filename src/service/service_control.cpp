// Starting, stopping and probing the local Quarvane service.
//
// The service is the systemd unit quarvane.service; the steps of a start
// are those of any service manager: connect, look the service up, start
// it, read its state, wait while it is starting. Every failure of a start
// or a stop is one line and QV_STATUS_LOCAL_FAILURE; the lines print the
// errno-style code of the step that failed.
//
// Waiting for a start polls the unit. systemd publishes no wait hint and
// no check point for a starting unit, so:
//   - the wait hint is 0, which makes every poll the shortest, one second;
//   - the check point is the unit's SubState: each change of phase within
//     a start (start-pre, start, start-post, ...) counts as progress.
// A start that shows no progress for more than 30 seconds is given up
// (systemd's own start timeout ends a stuck start on its side).
#include <cerrno>
#include <cstring>

#include "diag/log.h"
#include "platform/wait_clock.h"
#include "qvcliapi.h"
#include "service/systemd_unit.h"

using qv::ServiceState;
using qv::SystemdUnit;

namespace {

constexpr const char16_t* kServiceWord = u"Quarvane";
constexpr std::uint32_t kWaitHintMs = 0;
constexpr std::uint32_t kNoProgressLimitMs = 30000;
constexpr std::uint32_t kStopPollMs = 1000;

std::uint32_t StartPollMs() noexcept {
    const std::uint32_t tenth = kWaitHintMs / 10;
    return tenth < 1000 ? 1000 : (tenth > 10000 ? 10000 : tenth);
}

// A start or stop job that has not run yet leaves the unit in its old
// state; while one is queued that state counts as the pending one.
ServiceState WithQueuedJob(SystemdUnit& unit, ServiceState state, ServiceState old_state,
                           ServiceState pending) noexcept {
    return state == old_state && unit.HasQueuedJob() ? pending : state;
}

bool SameText(const std::array<char, 32>& a, const std::array<char, 32>& b) noexcept {
    return std::strcmp(a.data(), b.data()) == 0;
}

// Waits while the unit is starting. Returns the last state read; *error is
// the code of a failed query or ETIMEDOUT when the wait ran out.
ServiceState WaitWhileStarting(SystemdUnit& unit, ServiceState state, int* error) noexcept {
    std::array<char, 32> check_point{};
    unit.ReadSubState(&check_point);
    std::uint32_t since = qv::TickCount();
    while (state == ServiceState::kStartPending) {
        qv::SleepMs(StartPollMs());
        ServiceState now = ServiceState::kUnknown;
        if (const int r = unit.ReadState(&now); r != 0) {
            *error = r;
            break;
        }
        state = WithQueuedJob(unit, now, ServiceState::kStopped, ServiceState::kStartPending);
        std::array<char, 32> phase{};
        if (unit.ReadSubState(&phase) == 0 && !SameText(phase, check_point)) {
            check_point = phase;
            since = qv::TickCount();
        } else if (qv::TickCount() - since > kNoProgressLimitMs) {
            *error = ETIMEDOUT;
            break;
        }
    }
    return state;
}

}  // namespace

extern "C" QV_STATUS qvStartService(void) {
    SystemdUnit unit;
    if (const int r = unit.Connect(); r != 0) {
        qv::LogMessage(qv::kLogError, u"Open SCManager error[Err:%08X].", r);
        return QV_STATUS_LOCAL_FAILURE;
    }
    if (const int r = unit.Find(); r != 0) {
        qv::LogMessage(qv::kLogError, u"Open %s service error[Err:%08X]", kServiceWord, r);
        return QV_STATUS_LOCAL_FAILURE;
    }
    // systemd accepts a start of a unit that is already up; a service that
    // is running or starting must refuse it.
    ServiceState state = ServiceState::kUnknown;
    int r = unit.ReadState(&state);
    if (r == 0 && (state == ServiceState::kRunning || state == ServiceState::kStartPending)) {
        r = EALREADY;
    }
    if (r == 0) r = unit.Start();
    if (r != 0) {
        qv::LogMessage(qv::kLogError, u"Start %s service error[Err:%08X]", kServiceWord, r);
        return QV_STATUS_LOCAL_FAILURE;
    }
    if (r = unit.ReadState(&state); r != 0) {
        qv::LogMessage(qv::kLogError, u"Query %s service status error[Err:%08X]", kServiceWord, r);
        return QV_STATUS_LOCAL_FAILURE;
    }
    state = WithQueuedJob(unit, state, ServiceState::kStopped, ServiceState::kStartPending);
    int error = 0;
    if (WaitWhileStarting(unit, state, &error) != ServiceState::kRunning) {
        qv::LogMessage(qv::kLogError, u"Waiting %s service starting error[Err:%08X]", kServiceWord, error);
        return QV_STATUS_LOCAL_FAILURE;
    }
    return 0;
}

extern "C" QV_STATUS qvStopService(void) {
    SystemdUnit unit;
    int error = unit.Connect();
    if (error == 0) error = unit.Find();
    // The state record starts cleared: a stop that is refused and whose
    // state cannot be read counts as a failure.
    ServiceState state = ServiceState::kUnknown;
    if (error == 0) {
        const int refused = unit.Stop();
        if (refused == 0) {
            // A stop that was accepted is followed while the unit goes down.
            do {
                qv::SleepMs(kStopPollMs);
                ServiceState now = ServiceState::kUnknown;
                error = unit.ReadState(&now);
                if (error != 0) break;
                state = now == ServiceState::kRunning || now == ServiceState::kStartPending
                            ? WithQueuedJob(unit, now, now, ServiceState::kStopPending)
                            : now;
            } while (state == ServiceState::kStopPending);
        } else {
            // A refused stop still tells the state: a stopped unit stays
            // stopped, which is what was asked.
            error = unit.ReadState(&state);
            if (error == 0) error = refused;
        }
    }
    if (state != ServiceState::kStopped) {
        qv::LogMessage(qv::kLogError, u"Query stop service status error[Err:%08X]", error);
        return QV_STATUS_LOCAL_FAILURE;
    }
    return 0;
}

extern "C" uint32_t qvIsServiceRunning(void) {
    SystemdUnit unit;
    ServiceState state = ServiceState::kUnknown;
    if (unit.Connect() != 0 || unit.Find() != 0 || unit.ReadState(&state) != 0) return 0;
    return state == ServiceState::kRunning ? 1 : 0;
}
