// A protection's statistics and the progress of its long operations: their
// names, field tables and readings, shared by `mirror` and `status`.
//
// The service's numbers mean what quarvane-sim's model makes of them (see
// tools/quarvane-sim/statistics.cpp and progress.h): amounts are bytes
// turned into KiB by the library, the statistics' Value5 is the copy rate
// in MiB/s, the verify's Value6 its rate, the restore's amounts MiB.
#pragma once

#include "qvctl.h"

namespace qvctl {

// Protection states as the statistics number them.
inline constexpr uint32_t kStateMirrored = 1;
inline constexpr uint32_t kStateSynchronizing = 2;
inline constexpr uint32_t kStateSuspended = 3;
inline constexpr uint32_t kStateStopped = 4;
inline constexpr uint32_t kStateRestoring = 9;
inline constexpr uint32_t kStateVerifying = 10;

// Progress states of verify and restore.
inline constexpr uint32_t kOpRunning = 1;
inline constexpr uint32_t kOpCompleted = 2;

std::string StateName(uint32_t state);

struct StatRecord {
    std::string primary;
    std::string mirror;  // empty when not known
    QV_MIRROR_STAT stat{};
    std::optional<uint32_t> snapshots;  // when read: the snapshots the protection holds
    std::optional<uint32_t> views;      // and how many of them are mounted as views
    std::optional<std::string> group;   // the protection group it belongs to, when read
};

// Reads how many snapshots the protection of `r.primary` holds and how
// many are mounted (snapshots.cpp); left unknown when the list is refused.
void CountSnapshots(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number, StatRecord& r);
struct VerifyRecord {
    std::string object;
    QV_VERIFY_PROGRESS progress{};
};
struct RestoreRecord {
    std::string object;
    QV_PROGRESS progress{};
};

// `status` shows the table's fields, `mirror stat` all of them.
const Fields<StatRecord>& StatFields();
const Fields<VerifyRecord>& VerifyFields();
const Fields<RestoreRecord>& RestoreFields();

// Reads the statistics of one protection.
StatRecord ReadStat(QV_HANDLE handle, const Object& object);

// A configuration list whose entries are given back when it goes.
class ConfigList {
  public:
    ConfigList() = default;
    ~ConfigList();
    ConfigList(const ConfigList&) = delete;
    ConfigList& operator=(const ConfigList&) = delete;
    QV_MIRROR_CONFIG_LIST* get() { return &list_; }
    const QV_MIRROR_CONFIG* begin() const { return list_.Entries; }
    const QV_MIRROR_CONFIG* end() const {
        return list_.Entries == nullptr ? list_.Entries : list_.Entries + list_.Count;
    }

  private:
    QV_MIRROR_CONFIG_LIST list_{};
};
// The configurations the service holds: all of them, or those about `object`.
void ReadConfigs(QV_HANDLE handle, const Object* object, ConfigList& out);
// The configuration of the protection of `object` in `list`, or null.
const QV_MIRROR_CONFIG* FindConfig(const ConfigList& list, const Object& object);

// A long operation as `mirror` follows it: one reading, and the record
// shown whole (--progress).
struct LongOperation {
    const char* name;  // "verify"
    const char* noun;  // "Verify"
    Sample (*read)(const Globals&, QV_HANDLE, const Object&);
    void (*show)(const Globals&, QV_HANDLE, const Object&);
    // What to run once following has stopped and the operation goes on.
    std::string (*again)(const Object&);
};
extern const LongOperation kSync;
extern const LongOperation kVerify;
extern const LongOperation kRestore;

// The operation a protection in `state` runs, or null.
const LongOperation* RunningOperation(uint32_t state);

// A snapshot's or a rollback's progress, read by `read` (snapshots.cpp): the
// record, and one reading of it for Follow.
using TaskReader = QV_STATUS (*)(QV_HANDLE, const QV_WCHAR*, uint32_t, QV_PROGRESS*);
RestoreRecord ReadTask(QV_HANDLE handle, const Object& object, TaskReader read);
Sample TaskSample(const Globals& g, QV_HANDLE handle, const Object& object, TaskReader read);

// The group of each protection, by its primary as ObjectText spells it
// (groups.cpp); empty when the service lists no groups.
std::vector<std::pair<std::string, std::string>> GroupsByMember(QV_HANDLE handle);

// Follows `op` on `object` until it ends; Unfinished unless it completed,
// Interrupted on Ctrl-C (the operation keeps running).
void Follow(const Globals& globals, QV_HANDLE handle, const LongOperation& op,
            const Object& object);

}  // namespace qvctl
