#include "protection.h"

#include <algorithm>
#include <array>
#include <iostream>

namespace qvctl {
namespace {

using namespace std::chrono_literals;
constexpr auto kPollInterval = 250ms;
constexpr uint64_t kKiB = 1024;

std::string ConditionName(uint32_t condition) {
    static constexpr std::array<const char*, 10> kNames{"unknown",
                                                        "normal",
                                                        "synchronizing",
                                                        "dirty",
                                                        "primary-unavailable",
                                                        "mirror-unavailable",
                                                        "suspended",
                                                        "stopped",
                                                        "sync-cancelled",
                                                        "maintenance"};
    return condition < kNames.size() ? kNames[condition] : "condition-" + std::to_string(condition);
}

// Verify reports 3 for a verify that ended before it completed: one that
// was cancelled, or that the service stopped. Restore tells the two apart.
std::string OperationStateName(uint32_t state, bool verify) {
    static constexpr std::array<const char*, 5> kNames{"unknown", "running", "completed",
                                                       "cancelled", "failed"};
    if (verify && state > 3) return "unknown";
    return state < kNames.size() ? kNames[state] : "unknown";
}

unsigned Percent(uint64_t done, uint64_t total) {
    if (total == 0) return 0;
    return static_cast<unsigned>(std::min(done, total) * 100 / total);
}

// What a protection's statistics say about the operation it runs.
struct Activity {
    const char* operation = nullptr;
    unsigned percent = 0;
    uint64_t done = 0;
    uint64_t total = 0;
    std::optional<uint64_t> rate;
};

std::optional<uint64_t> Rate(uint64_t value, uint64_t unit) {
    if (value == 0) return std::nullopt;
    return value * unit;
}

Activity VerifyActivity(const QV_VERIFY_PROGRESS& p) {
    return {"verify", std::min(p.Value1, 100u), p.Amount1KiB * kKiB, p.Amount2KiB * kKiB,
            Rate(p.Value6KiB, kKiB)};
}

Activity TaskActivity(const char* name, const QV_PROGRESS& p, uint32_t rate_mib) {
    const uint64_t done = p.TotalDone * kMiB;
    const uint64_t total = done + p.DirtyData * kMiB;
    return {name, p.State == kOpCompleted ? 100 : Percent(done, total), done, total,
            Rate(rate_mib, kMiB)};
}

Activity StatActivity(const QV_MIRROR_STAT& s) {
    switch (s.State) {
        case kStateSynchronizing: {
            const uint64_t total = s.Amount1KiB * kKiB;
            const uint64_t left = std::min<uint64_t>(s.Amount2KiB * kKiB, total);
            return {"sync", std::min(s.Value1, 100u), total - left, total, Rate(s.Value5, kMiB)};
        }
        case kStateVerifying:
            if (s.ProgressKind == QV_PROGRESS_KIND_VERIFY) return VerifyActivity(s.Progress.Verify);
            return {"verify", 0, 0, 0, std::nullopt};
        default:
            break;
    }
    static constexpr std::array<const char*, 5> kTasks{nullptr, nullptr, "restore", "rollback",
                                                       "snapshot"};
    if (s.ProgressKind < kTasks.size() && kTasks[s.ProgressKind] != nullptr) {
        return TaskActivity(kTasks[s.ProgressKind], s.Progress.Operation, s.Value5);
    }
    return {};
}

Value Left(const Activity& a) {
    if (a.operation == nullptr) return {};
    if (const auto s = SecondsLeft(a.done, a.total, a.rate)) return *s;
    return {};
}

Value Optional(const std::optional<uint64_t>& v) {
    if (v) return *v;
    return {};
}

// The four blocks of I/O counters: the application's traffic on the
// primary (app) and as mirrored (mirrored), background copying on the
// primary side (copy_primary) and the mirror side (copy_mirror).
void AddIo(Fields<StatRecord>& fields, const std::string& name, const std::string& header,
           QV_IO_COUNTERS QV_MIRROR_STAT::*io) {
    using Get = uint64_t (*)(const QV_IO_COUNTERS&);
    const std::array<std::tuple<const char*, const char*, Unit, Get>, 7> parts{{
        {"_read", " READ", Unit::kBytes, [](const QV_IO_COUNTERS& c) { return c.KiB1 * kKiB; }},
        {"_written", " WRITTEN", Unit::kBytes,
         [](const QV_IO_COUNTERS& c) { return c.KiB2 * kKiB; }},
        {"_read_rate", " READ RATE", Unit::kRate,
         [](const QV_IO_COUNTERS& c) { return c.Rate1 * kKiB; }},
        {"_write_rate", " WRITE RATE", Unit::kRate,
         [](const QV_IO_COUNTERS& c) { return c.Rate2 * kKiB; }},
        {"_reads", " READS", Unit::kCount, [](const QV_IO_COUNTERS& c) { return c.Count1; }},
        {"_writes", " WRITES", Unit::kCount, [](const QV_IO_COUNTERS& c) { return c.Count2; }},
        {"_errors", " ERRORS", Unit::kCount, [](const QV_IO_COUNTERS& c) { return c.Count3; }},
    }};
    for (const auto& [suffix, label, unit, get] : parts) {
        fields.push_back({name + suffix, header + label, unit,
                          [io, get = get](const StatRecord& r) -> Value { return get(r.stat.*io); },
                          kDetail});
    }
}

Sample Reading(const Activity& a, bool running, bool completed, std::string state, json data) {
    return {running, completed, std::move(state), a.percent,
            a.done,  a.total,   a.rate,           std::move(data)};
}

// A sample names its operation first, also when the record has none running.
json Tagged(const char* operation, const json& record) {
    json out = {{"operation", operation}};
    for (const auto& [key, value] : record.items()) {
        if (key != "operation") out[key] = value;
    }
    return out;
}

VerifyRecord ReadVerify(QV_HANDLE handle, const Object& object) {
    VerifyRecord r{object.text, {}};
    Check(qvGetVerifyProgress(handle, object.name.c_str(), object.number, &r.progress),
          "read the verify progress of " + object.text);
    return r;
}

RestoreRecord ReadRestore(QV_HANDLE handle, const Object& object) {
    RestoreRecord r{object.text, {}};
    Check(qvGetRestorePrimaryProgress(handle, object.name.c_str(), object.number, &r.progress),
          "read the restore progress of " + object.text);
    return r;
}

Sample SyncSample(const Globals& g, QV_HANDLE handle, const Object& object) {
    const StatRecord r = ReadStat(handle, object);
    return Reading(StatActivity(r.stat), r.stat.State == kStateSynchronizing,
                   r.stat.State == kStateMirrored, StateName(r.stat.State),
                   Tagged("sync", JsonOf(g, StatFields(), r)));
}

Sample VerifySample(const Globals& g, QV_HANDLE handle, const Object& object) {
    const VerifyRecord r = ReadVerify(handle, object);
    return Reading(VerifyActivity(r.progress), r.progress.State == kOpRunning,
                   r.progress.State == kOpCompleted, OperationStateName(r.progress.State, true),
                   Tagged("verify", JsonOf(g, VerifyFields(), r)));
}

Sample RestoreSample(const Globals& g, QV_HANDLE handle, const Object& object) {
    const RestoreRecord r = ReadRestore(handle, object);
    return Reading(TaskActivity("restore", r.progress, 0), r.progress.State == kOpRunning,
                   r.progress.State == kOpCompleted, OperationStateName(r.progress.State, false),
                   Tagged("restore", JsonOf(g, RestoreFields(), r)));
}

}  // namespace

namespace {
std::string WaitAgain(const Object& o) {
    return "Follow it again with: qvctl mirror wait " + o.text;
}
}  // namespace

const LongOperation kSync{"sync", "Synchronisation", SyncSample,
                          [](const Globals& g, QV_HANDLE h, const Object& o) {
                              PrintOne(g, StatFields(), ReadStat(h, o));
                          },
                          WaitAgain};
const LongOperation kVerify{"verify", "Verify", VerifySample,
                            [](const Globals& g, QV_HANDLE h, const Object& o) {
                                PrintOne(g, VerifyFields(), ReadVerify(h, o));
                            },
                            WaitAgain};
const LongOperation kRestore{"restore", "Restore", RestoreSample,
                             [](const Globals& g, QV_HANDLE h, const Object& o) {
                                 PrintOne(g, RestoreFields(), ReadRestore(h, o));
                             },
                             WaitAgain};

ConfigList::~ConfigList() {
    QV_MIRROR_CONFIG_LIST* header = &list_;
    qvFreeMirConfigList(&header, 1);
}

void ReadConfigs(QV_HANDLE handle, const Object* object, ConfigList& out) {
    QV_CONFIG_FILTER filter{};
    if (object != nullptr) {
        filter.Kind = 1;
        filter.Object = QV_OBJECT_ID{object->name.c_str(), object->number};
    }
    Check(qvGetMirConfigList(handle, &filter, out.get()), "list mirror configurations");
}

const QV_MIRROR_CONFIG* FindConfig(const ConfigList& list, const Object& object) {
    // Names compare without regard to ASCII case, as the service's do.
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    for (const QV_MIRROR_CONFIG& c : list) {
        if (c.Primary.number != object.number || c.Primary.name == nullptr) continue;
        const std::u16string_view name(c.Primary.name);
        if (std::equal(name.begin(), name.end(), object.name.begin(), object.name.end(),
                       [&](char16_t a, char16_t b) { return lower(a) == lower(b); })) {
            return &c;
        }
    }
    return nullptr;
}

std::string StateName(uint32_t state) {
    static constexpr std::array<const char*, 13> kNames{
        "unknown",     "mirrored",     "synchronizing", "suspended", "stopped",
        "out-of-sync", "state-6",      "state-7",       "state-8",   "restoring",
        "verifying",   "rolling-back", "snapshot"};
    return state < kNames.size() ? kNames[state] : "state-" + std::to_string(state);
}

const Fields<StatRecord>& StatFields() {
    static const Fields<StatRecord> fields = [] {
        using R = StatRecord;
        Fields<R> f = {
            {"primary", "PRIMARY", Unit::kText, [](const R& r) -> Value { return r.primary; }},
            {"mirror", "MIRROR", Unit::kText,
             [](const R& r) -> Value { return r.mirror.empty() ? Value{} : Value{r.mirror}; }},
            {"state", "STATE", Unit::kText,
             [](const R& r) -> Value { return StateName(r.stat.State); }},
            {"condition", "CONDITION", Unit::kText,
             [](const R& r) -> Value { return ConditionName(r.stat.Condition); }},
            {"synced", "SYNCED", Unit::kPercent,
             [](const R& r) -> Value { return uint64_t{std::min(r.stat.Value1, 100u)}; }},
            {"operation", "OPERATION", Unit::kText,
             [](const R& r) -> Value {
                 const Activity a = StatActivity(r.stat);
                 return a.operation != nullptr ? Value{std::string(a.operation)} : Value{};
             }},
            {"progress", "PROGRESS", Unit::kPercent,
             [](const R& r) -> Value {
                 const Activity a = StatActivity(r.stat);
                 return a.operation != nullptr ? Value{uint64_t{a.percent}} : Value{};
             }},
            {"rate", "RATE", Unit::kRate,
             [](const R& r) -> Value { return Optional(StatActivity(r.stat).rate); }},
            {"left", "LEFT", Unit::kSeconds,
             [](const R& r) -> Value { return Left(StatActivity(r.stat)); }},
            {"snapshots", "SNAPSHOTS", Unit::kCount,
             [](const R& r) -> Value { return Optional(r.snapshots); }},
            {"views", "VIEWS", Unit::kCount, [](const R& r) -> Value { return Optional(r.views); }},
            {"group", "GROUP", Unit::kText,
             [](const R& r) -> Value { return r.group ? Value{*r.group} : Value{}; }},
            {"protected", "PROTECTED", Unit::kBytes,
             [](const R& r) -> Value { return r.stat.Amount1KiB * kKiB; }, kDetail},
            {"out_of_sync", "OUT OF SYNC", Unit::kBytes,
             [](const R& r) -> Value { return r.stat.Amount2KiB * kKiB; }, kDetail},
            {"copy_rate", "COPY RATE", Unit::kRate,
             [](const R& r) -> Value { return r.stat.Value5 * kMiB; }, kDetail},
            {"protected_for", "PROTECTED FOR", Unit::kSeconds,
             [](const R& r) -> Value { return uint64_t{r.stat.Value2}; }, kDetail},
            {"syncs_completed", "SYNCS COMPLETED", Unit::kCount,
             [](const R& r) -> Value { return uint64_t{r.stat.Value4}; }, kDetail},
            {"operation_time", "OPERATION TIME", Unit::kSeconds,
             [](const R& r) -> Value { return uint64_t{r.stat.Value6}; }, kDetail},
            {"operation_done", "OPERATION DONE", Unit::kBytes,
             [](const R& r) -> Value { return StatActivity(r.stat).done; }, kDetail},
            {"operation_total", "OPERATION TOTAL", Unit::kBytes,
             [](const R& r) -> Value { return StatActivity(r.stat).total; }, kDetail},
        };
        AddIo(f, "app", "APP", &QV_MIRROR_STAT::Io1);
        AddIo(f, "mirrored", "MIRRORED", &QV_MIRROR_STAT::Io2);
        AddIo(f, "copy_primary", "COPY PRIMARY", &QV_MIRROR_STAT::Io3);
        AddIo(f, "copy_mirror", "COPY MIRROR", &QV_MIRROR_STAT::Io4);
        return f;
    }();
    return fields;
}

const Fields<VerifyRecord>& VerifyFields() {
    using R = VerifyRecord;
    static const Fields<R> fields = {
        {"object", "OBJECT", Unit::kText, [](const R& r) -> Value { return r.object; }},
        {"state", "STATE", Unit::kText,
         [](const R& r) -> Value { return OperationStateName(r.progress.State, true); }},
        {"progress", "PROGRESS", Unit::kPercent,
         [](const R& r) -> Value { return uint64_t{std::min(r.progress.Value1, 100u)}; }},
        {"compared", "COMPARED", Unit::kBytes,
         [](const R& r) -> Value { return r.progress.Amount1KiB * kKiB; }},
        {"total", "TOTAL", Unit::kBytes,
         [](const R& r) -> Value { return r.progress.Amount2KiB * kKiB; }},
        {"different", "DIFFERENT", Unit::kBytes,
         [](const R& r) -> Value { return r.progress.Amount3KiB * kKiB; }},
        {"rate", "RATE", Unit::kRate,
         [](const R& r) -> Value { return r.progress.Value6KiB * kKiB; }},
        {"left", "LEFT", Unit::kSeconds,
         [](const R& r) -> Value {
             return r.progress.State == kOpRunning ? Left(VerifyActivity(r.progress)) : Value{};
         }},
        {"elapsed", "ELAPSED", Unit::kSeconds,
         [](const R& r) -> Value { return uint64_t{r.progress.Value2}; }, kDetail},
        {"blocks_compared", "BLOCKS COMPARED", Unit::kCount,
         [](const R& r) -> Value { return r.progress.Count; }, kDetail},
        {"blocks_different", "BLOCKS DIFFERENT", Unit::kCount,
         [](const R& r) -> Value { return uint64_t{r.progress.Value3}; }, kDetail},
        {"mode", "MODE", Unit::kCount,
         [](const R& r) -> Value { return uint64_t{r.progress.Value4}; }, kDetail},
        {"options", "OPTIONS", Unit::kCount,
         [](const R& r) -> Value { return uint64_t{r.progress.Value5}; }, kDetail},
    };
    return fields;
}

const Fields<RestoreRecord>& RestoreFields() {
    using R = RestoreRecord;
    static const Fields<R> fields = {
        {"object", "OBJECT", Unit::kText, [](const R& r) -> Value { return r.object; }},
        {"state", "STATE", Unit::kText,
         [](const R& r) -> Value { return OperationStateName(r.progress.State, false); }},
        {"progress", "PROGRESS", Unit::kPercent,
         [](const R& r) -> Value { return uint64_t{TaskActivity("", r.progress, 0).percent}; }},
        {"done", "DONE", Unit::kBytes,
         [](const R& r) -> Value { return r.progress.TotalDone * kMiB; }},
        {"remaining", "REMAINING", Unit::kBytes,
         [](const R& r) -> Value { return r.progress.DirtyData * kMiB; }},
        {"result", "RESULT", Unit::kStatus,
         [](const R& r) -> Value { return uint64_t{r.progress.Result}; }},
    };
    return fields;
}

StatRecord ReadStat(QV_HANDLE handle, const Object& object) {
    StatRecord r{object.text, {}, {}, {}, {}, {}};
    Check(qvGetMirrorStat(handle, object.name.c_str(), object.number, &r.stat),
          "read the statistics of " + object.text);
    CountSnapshots(handle, object.name.c_str(), object.number, r);
    return r;
}

const LongOperation* RunningOperation(uint32_t state) {
    switch (state) {
        case kStateSynchronizing:
            return &kSync;
        case kStateVerifying:
            return &kVerify;
        case kStateRestoring:
            return &kRestore;
        default:
            return nullptr;
    }
}

void Follow(const Globals& globals, QV_HANDLE handle, const LongOperation& op,
            const Object& object) {
    const InterruptScope scope;
    ProgressView view(globals, std::string(op.name) + " " + object.text);
    const std::string what = std::string(op.noun) + " of " + object.text;
    for (;;) {
        std::optional<Sample> sample;
        try {
            sample = op.read(globals, handle, object);
        } catch (const Failure&) {
            if (!InterruptRequested()) throw;
        }
        if (sample) {
            view.Update(*sample);
            if (!sample->running) {
                view.Finish();
                if (sample->completed) {
                    if (!globals.json) std::cout << what << " completed.\n";
                    return;
                }
                if (sample->state == "cancelled") {
                    throw Unfinished(what + " was cancelled before it completed.");
                }
                throw Unfinished(what + " did not complete: " + sample->state + ".");
            }
        }
        if (!sample || !Pause(kPollInterval)) {
            view.Finish();
            throw Interrupted("stopped following; the " + std::string(op.name) + " of " +
                              object.text + " keeps running in the service.\n" +
                              op.again(object));
        }
    }
}

}  // namespace qvctl
