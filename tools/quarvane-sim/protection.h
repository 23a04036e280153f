// One protection: a primary disk or partition, its mirror, the settings it
// was enabled with, and the state machine that the mirror operations drive.
//
// Long operations (synchronisation, verify, restore) are not threads: each
// holds how much it has done, and Step() moves everything forward by the
// time that has passed, at the configured rate. Step() is the only place
// where time enters, so the model is exact whatever the polling pattern.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "inventory.h"

namespace qvsim {

// The model counts data in MiB; the wire carries bytes.
inline constexpr double kMiB = 1024.0 * 1024.0;

// The protection's state, as GET_MIRROR_STATS reports it (1 to 14). Values
// 9 to 12 are the ones whose progress the statistics carry.
enum class MirrorState : uint32_t {
    kMirrored = 1,       // mirror holds what the primary holds
    kSynchronizing = 2,  // copying out-of-sync data to the mirror
    kSuspended = 3,      // mirroring paused; writes are remembered as dirty data
    kStopped = 4,        // mirroring stopped; a full synchronisation is needed
    kOutOfSync = 5,      // a synchronisation was cancelled before it finished
    kRestoring = 9,      // the primary is being restored from the mirror
    kVerifying = 10,     // primary and mirror are being compared
};

const char* StateName(MirrorState state) noexcept;
std::optional<MirrorState> StateFromName(std::string_view name) noexcept;

// The protection's condition as the statistics report it on the wire.
enum class Condition : uint32_t {
    kNormal = 1,
    kDirty = 2,  // data waits to reach the mirror
    kPrimaryUnavailable = 3,
    kMirrorUnavailable = 4,
    kSuspended = 5,
    kStopped = 6,
    kSyncCancelled = 7,
    kSynchronizing = 8,
    kMaintenance = 9,  // verify or restore running
};

// The progress state of one long operation, as the progress records carry
// it: verify uses 1 to 3, restore 1 to 4; both report a cancel as 3.
enum class OpState : uint32_t {
    kNone = 0,
    kRunning = 1,
    kCompleted = 2,
    kCancelled = 3,
    kFailed = 4,
};

struct Operation {
    OpState state = OpState::kNone;
    uint32_t result = 0;  // status word the operation ended with
    double total_mib = 0;
    double done_mib = 0;
    double elapsed_s = 0;
    uint32_t mode = 0;     // as requested
    uint32_t options = 0;  // as requested, bit 0 first option, bit 1 second, ...

    bool Running() const noexcept { return state == OpState::kRunning; }
    void Start(double total, uint32_t request_mode, uint32_t request_options) noexcept;
};

// The snapshot schedule exactly as the client sent it; the mirror family
// echoes it back untouched.
struct Schedule {
    uint32_t spare1 = 0;
    uint32_t group_param = 0;
    uint32_t mode = 0;
    uint32_t param1 = 0;
    uint32_t spare2 = 0;
    uint32_t spare3 = 0;
    int32_t spare4 = 0;
    uint32_t param2 = 0;
    uint32_t param3 = 0;
    uint32_t param4 = 0;
    uint32_t param5 = 0;
    uint32_t param6 = 0;
};

// Everything a client may set on a protection. A text the client sent with
// no elements stays absent and is answered with no elements again, so that
// an absent text and an empty one both survive the round trip.
struct MirrorSettings {
    int32_t setting1 = 0;
    int32_t setting2 = 0;
    int32_t setting3 = 0;
    uint32_t mirror_kind = 0;
    uint32_t schedule_mode = 0;
    std::optional<std::u16string> text1;
    std::optional<std::u16string> text2;
    std::optional<std::u16string> text3;
    std::optional<std::u16string> text4;  // set at enable only
    Schedule schedule;
    uint32_t enable_option1 = 0;
    uint32_t enable_option2 = 0;
    uint32_t enable_option3 = 0;
    uint32_t enable_option4 = 0;
    uint32_t setting4 = 0;
    uint32_t setting5 = 0;
    uint32_t setting6 = 0;
    uint32_t setting7 = 0;
    uint32_t setting8 = 0;
    uint32_t setting9 = 0;
    uint32_t setting10 = 0;
    uint32_t setting11 = 0;
    uint32_t setting12 = 0;
    uint32_t setting13 = 0;
    uint32_t setting14 = 0;
    uint32_t switch1 = 0;
    uint32_t switch2 = 0;
    uint32_t limit = 0;  // MiB/s cap on this protection's background copying; 0 = none
    uint32_t spare1 = 0;
    uint32_t spare2 = 0;
};

// Bytes moved on one side of a protection.
struct IoSide {
    double read_bytes = 0;
    double written_bytes = 0;
};

struct Rates {
    double copy_mib_s = 1024;  // synchronisation, verify and restore
    double write_mib_s = 1;    // the application's writes to each primary
    double read_mib_s = 3;     // and its reads
};

class Protection {
  public:
    Protection() = default;
    Protection(ObjectId primary, ObjectId mirror, uint64_t size_mib, MirrorSettings settings);

    ObjectId primary;
    ObjectId mirror;
    uint64_t size_mib = 0;  // the primary's size: what a full synchronisation copies
    MirrorSettings settings;
    MirrorState state = MirrorState::kSynchronizing;
    double dirty_mib = 0;  // written to the primary, not yet on the mirror
    Operation sync;
    Operation verify;
    Operation restore;
    IoSide primary_io;     // the application's traffic
    IoSide mirror_io;      // the application's writes as mirrored
    IoSide primary_bg_io;  // background copying, primary side
    IoSide mirror_bg_io;   // background copying, mirror side
    double age_s = 0;      // time since the protection was enabled
    uint32_t completed_syncs = 0;
    // A verify of this protection meets a disk error halfway and fails
    // (quarvane-sim --fail-verify); the model sets it before each step.
    bool verify_fails = false;

    // The six state operations and the two long operations. Each returns the
    // status word to answer: 0 when the transition was made, else the
    // refusal for the current state (and nothing changes).
    uint32_t Suspend();
    uint32_t Resume();
    uint32_t Stop();
    uint32_t StartSync();
    uint32_t CancelSync();
    uint32_t CanDisable() const;
    uint32_t StartVerify(uint32_t mode, uint32_t options);
    uint32_t CancelVerify();
    uint32_t StartRestore(uint32_t mode, uint32_t options);
    uint32_t CancelRestore();

    // Moves the protection forward by dt seconds. True when its state
    // changed on the way (an operation finished), so the change is saved.
    bool Step(double dt, const Rates& rates);

    // The rate of background copying: the daemon's rate, capped by the
    // protection's own limit.
    double CopyRate(const Rates& rates) const noexcept;

  private:
    void BeginSync(double amount_mib);
    void Workload(double dt, const Rates& rates);
};

}  // namespace qvsim
