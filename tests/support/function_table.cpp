#include "support/function_table.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace qvtest {
namespace {

constexpr QV_OBJECT_ID kObject{kSampleObject, kSampleNumber};

constexpr QV_MIRROR_CONFIG SampleConfig() {
    QV_MIRROR_CONFIG c{};
    c.Primary = kObject;
    c.Mirror = {u"Harddisk2", 1};
    c.MirrorKind = 1;
    c.Schedule.Mode = 1;
    c.Text1 = u"first";
    c.Text4 = u"fourth";
    return c;
}

// The ordinary value of each request or filter a function reads, and
// whether it names the sample object. A function that reads a record of a
// new type needs its value here; one of an existing type needs nothing.
template <typename T>
struct Ordinary;
template <typename T, typename... Of>
constexpr bool kOneOf = (std::is_same_v<T, Of> || ...);
// Whether a record names the sample object: the view disk's query sends the
// owner's name and number rather than a reference; the cluster group, the
// event query, the probe request, the group records name none.
template <typename T>
constexpr bool kNamesObject =
    !kOneOf<T, QV_DATA_TRACE_CONFIG, QV_SERVER_BOOT_CONFIG, QV_SNAPSHOT_KEY, QV_SNAPSHOT_SCHEDULE,
            QV_CLUSTER_GROUP, QV_EVENT_QUERY, QV_PROBE_REQUEST, QV_GROUP_CONFIG, QV_GROUP_REF>;
// The texts of these functions are no object's name: a group's snapshot is
// owned by the group, and the owner goes as its name.
template <auto F, auto G>
constexpr bool kSame = false;
template <auto F>
constexpr bool kSame<F, F> = true;
template <auto F>
constexpr bool kTextIsNoObject = kSame<F, &qvWriteEventMessage> ||
                                 kSame<F, &qvClusterCommunication> || kSame<F, &qvTakeGroupSnapshot>;

// An adapter's hardware address, with a byte of the high half.
constexpr uint8_t kAdapter[QV_MAC_ADDRESS_BYTES] = {0x00, 0x1b, 0x21, 0xab, 0xcd, 0xef};
QV_WCHAR g_trace_path[] = u"/var/trace";
// clang-format off
template <> struct Ordinary<QV_DISK_FILTER> {
    static constexpr QV_DISK_FILTER value{7, 0, 1, &kObject}; };
template <> struct Ordinary<QV_MIRROR_CONFIG> {
    static constexpr QV_MIRROR_CONFIG value = SampleConfig(); };
template <> struct Ordinary<QV_MIRROR_ENABLE> {
    static constexpr QV_MIRROR_ENABLE value{SampleConfig(), 1, 0, 0, 0}; };
template <> struct Ordinary<QV_CONFIG_FILTER> {
    static constexpr QV_CONFIG_FILTER value{1, nullptr, kObject}; };
template <> struct Ordinary<QV_VERIFY_REQUEST> {
    static constexpr QV_VERIFY_REQUEST value{kObject, 1, 1, 0}; };
template <> struct Ordinary<QV_RESTORE_REQUEST> {
    static constexpr QV_RESTORE_REQUEST value{kObject, 1, {u"Harddisk2", 1}, 0, 0, 0}; };
template <> struct Ordinary<QV_DATA_TRACE_CONFIG> {
    static constexpr QV_DATA_TRACE_CONFIG value{1, g_trace_path, 5}; };
template <> struct Ordinary<QV_EVENT_QUERY> {
    static constexpr QV_EVENT_QUERY value{QV_EVENT_SELECT_OBJECT, 0, 0, &kObject, 4, 0, 0, 0}; };
template <> struct Ordinary<QV_SERVER_BOOT_CONFIG> {
    static constexpr QV_SERVER_BOOT_CONFIG value{u"boot", 1, {0x00, 0x1b, 0x21, 0xab, 0xcd, 0xef},
                                                 2, 3, 4, 5}; };
template <> struct Ordinary<QV_OBJECT_ID> {
    static constexpr QV_OBJECT_ID value = kObject; };
template <> struct Ordinary<QV_SNAPSHOT_REQUEST> {
    static constexpr QV_SNAPSHOT_REQUEST value{&kObject, 1}; };
template <> struct Ordinary<QV_SNAPSHOT_SELECTOR> {
    static constexpr QV_SNAPSHOT_SELECTOR value{QV_SNAPSHOTS_OF_OBJECT, &kObject, 1, 2, 3}; };
template <> struct Ordinary<QV_SNAPSHOT_KEY> {
    static constexpr QV_SNAPSHOT_KEY value{0, &kObject, 7}; };
template <> struct Ordinary<QV_BACKLOOK_MOUNT> {
    static constexpr QV_BACKLOOK_MOUNT value{0, &kObject, 7, u"view"}; };
template <> struct Ordinary<QV_PARTITION_REQUEST> {
    static constexpr QV_PARTITION_REQUEST value{kObject, 1, 2, 3, 4}; };
template <> struct Ordinary<QV_SNAPSHOT_SCHEDULE> {
    static constexpr QV_SNAPSHOT_SCHEDULE value{2, 1, 2, 3, 4, 0, 0}; };
template <> struct Ordinary<QV_CONFLICT_QUERY> {
    static constexpr QV_CONFLICT_QUERY value{1, kObject, {u"Harddisk2", 1}, u"text"}; };
// clang-format on
constexpr QV_CLUSTER_GROUP SampleGroup() {
    QV_CLUSTER_GROUP g{};
    Put(g.groupName, u"SQL Group");
    Put(g.groupTag, u"T");
    Put(g.disk.diskName, u"D");
    g.disk.diskId = 101;
    return g;
}
// Any number of captures go nowhere and leave no file behind.
constexpr QV_PROBE_REQUEST SampleProbe() {
    QV_PROBE_REQUEST r{};
    Put(r.probeFile, u"/dev/null");
    return r;
}

// Groups: a configuration, a reference, the members one pointer each.
constexpr QV_GROUP_CONFIG SampleGroupConfig() {
    QV_GROUP_CONFIG g{};
    g.Name = u"Group1";
    g.Text = u"text";
    g.MirrorKind = 1;
    g.Schedule.Mode = 2;
    g.Switch2 = 1;
    return g;
}
// clang-format off
template <> struct Ordinary<QV_CLUSTER_GROUP> {
    static constexpr QV_CLUSTER_GROUP value = SampleGroup(); };
template <> struct Ordinary<QV_PROBE_REQUEST> {
    static constexpr QV_PROBE_REQUEST value = SampleProbe(); };
template <> struct Ordinary<QV_GROUP_CONFIG> {
    static constexpr QV_GROUP_CONFIG value = SampleGroupConfig(); };
template <> struct Ordinary<QV_GROUP_REF> { static constexpr QV_GROUP_REF value{u"Group1"}; };
template <> struct Ordinary<const QV_OBJECT_ID*> {
    static constexpr const QV_OBJECT_ID* value = &kObject; };
// clang-format on

// How an ordinary call passes one parameter.
template <typename T>
struct Slot;
template <>
struct Slot<uint32_t> {
    static constexpr bool kPointer = false;
    uint32_t Arg(bool) { return kSampleNumber; }
};
template <>
struct Slot<int32_t> {  // an event type or code, a trace level: the first of each
    static constexpr bool kPointer = false;
    int32_t Arg(bool) { return 1; }
};
template <>
struct Slot<const QV_WCHAR*> {  // a name: null is allowed, so it is never passed as null
    static constexpr bool kPointer = false;
    const QV_WCHAR* Arg(bool) { return kSampleObject; }
};
template <>
struct Slot<const uint8_t*> {  // a hardware address
    static constexpr bool kPointer = true;
    const uint8_t* Arg(bool null) { return null ? nullptr : kAdapter; }
};
template <typename T>
struct Slot<const T*> {
    static constexpr bool kPointer = true;
    const T* Arg(bool null) { return null ? nullptr : &Ordinary<T>::value; }
};
template <typename T>
struct Slot<T*> {  // an output: the call's own record, or a heap block
    static constexpr bool kPointer = true;
    T value;
    T* target = &value;
    ~Slot() {
        if (target != &value) std::free(target);  // not released: a failed call
    }
    void Prepare(const CallOptions& options) {
        if (options.heap_outputs) target = static_cast<T*>(std::malloc(sizeof(T)));
        std::memset(static_cast<void*>(target), options.fill, sizeof(T));
    }
    T* Arg(bool null) { return null ? nullptr : target; }
};

// A parameter as function F passes it: as every function of its type does,
// unless F reads a record of a shared type in its own way.
template <auto F, typename A>
struct SlotOf : Slot<A> {};
// The group list and statistics serve the kind that names the object, and
// read the filter's second field as the group's name.
constexpr QV_CONFIG_FILTER kGroupFilter{2, u"Group1", kObject};
template <auto F>
requires(F == &qvGetGroupConfigList || F == &qvGetGroupStat) struct SlotOf<F, const QV_CONFIG_FILTER*>
    : Slot<const QV_CONFIG_FILTER*> {
    const QV_CONFIG_FILTER* Arg(bool null) { return null ? nullptr : &kGroupFilter; }
};

template <typename S>
constexpr bool kIsOutput = requires(S s) {
    s.target;
};

template <typename S>
void Prepare(S& slot, const CallOptions& options) {
    if constexpr (kIsOutput<S>) slot.Prepare(options);
}

template <typename S>
Outputs State(const S& slot, unsigned char fill) {
    if constexpr (kIsOutput<S>) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(slot.target);
        const auto all = [&](unsigned char b) {
            return std::all_of(bytes, bytes + sizeof *slot.target,
                               [b](unsigned char x) { return x == b; });
        };
        return all(fill) ? Outputs::kUnchanged : all(0) ? Outputs::kZero : Outputs::kWritten;
    } else {
        return Outputs::kNone;
    }
}

Outputs Combine(std::initializer_list<Outputs> each) {
    Outputs out = Outputs::kNone;
    for (Outputs o : each) {
        if (o == Outputs::kNone || o == out) continue;
        out = out == Outputs::kNone ? o : Outputs::kWritten;
    }
    return out;
}

// Gives an output back: the call's own record is kept (keep flag 1), a heap
// block goes whole (keep flag 0). True when a heap block was taken.
template <typename T>
bool ReleaseOutput(std::nullptr_t, Slot<T*>&) {
    return false;
}
template <typename T>
bool ReleaseOutput(QV_STATUS (*release)(T**, uint32_t), Slot<T*>& slot) {
    T* held = slot.target;
    const bool heap = held != &slot.value;
    release(&held, heap ? 0 : 1);
    if (heap && held == nullptr) slot.target = &slot.value;  // gone with the release
    return heap && held == nullptr;
}

// The pulled text has no release function of its own: it goes back
// through qvFreeMemory.
bool ReleaseOutput(std::nullptr_t, Slot<QV_PULL_INFO*>& slot) {
    qvFreeMemory(slot.target->text);
    slot.target->text = nullptr;
    return false;
}

// A release function that takes the caller's list itself gives back what
// the list holds; the call's own heap block then goes here.
template <typename T>
requires(!std::is_pointer_v<T>) bool ReleaseOutput(QV_STATUS (*release)(T*), Slot<T*>& slot) {
    release(slot.target);
    if (slot.target == &slot.value) return false;
    std::free(slot.target);
    slot.target = &slot.value;
    return true;
}

template <typename S, typename R>
bool Release(S& slot, R release) {
    if constexpr (kIsOutput<S>) {
        return ReleaseOutput(release, slot);
    } else {
        return false;
    }
}

template <auto F, auto R, qv::Output O>
struct Thunk;
template <typename... A, QV_STATUS (*F)(QV_HANDLE, A...), auto R, qv::Output O>
struct Thunk<F, R, O> {
    static constexpr std::array<bool, sizeof...(A)> kIsPointer{Slot<A>::kPointer...};
    static constexpr int kPointers = (0 + ... + int{Slot<A>::kPointer});

    // A name followed by a number (a name alone is a group's), or a record
    // that holds the sample object.
    template <std::size_t I>
    static constexpr bool NamesObject() {
        using Params = std::tuple<A..., void>;
        using T = std::tuple_element_t<I, Params>;
        using Record = std::remove_cv_t<std::remove_pointer_t<T>>;
        if constexpr (std::is_same_v<T, const QV_WCHAR*>) {
            return std::is_same_v<std::tuple_element_t<I + 1, Params>, uint32_t>;
        } else if constexpr (requires { Ordinary<Record>::value; }) {
            return kNamesObject<Record>;
        }
        return false;
    }
    static constexpr bool kNamesAnObject = []<std::size_t... I>(std::index_sequence<I...>) {
        return (false || ... || NamesObject<I>());
    }(std::index_sequence_for<A...>{}) && !kTextIsNoObject<F>;

    static constexpr int PointerIndex(std::size_t i) {
        int n = 0;
        for (std::size_t j = 0; j < i; ++j) n += kIsPointer[j] ? 1 : 0;
        return kIsPointer[i] ? n : -2;
    }

    template <std::size_t... I>
    static CallResult Run(QV_HANDLE handle, const CallOptions& options, std::index_sequence<I...>) {
        std::tuple<SlotOf<F, A>...> slots;
        (Prepare(std::get<I>(slots), options), ...);
        const QV_STATUS status =
            F(handle, std::get<I>(slots).Arg(PointerIndex(I) == options.null_at)...);
        const Outputs outputs = Combine({State(std::get<I>(slots), options.fill)...});
        bool released = false;
        // A list that keeps the entries a conversion short of memory made
        // holds them for the release function too.
        const bool kept = O == qv::Output::kKeptOnConversion && outputs == Outputs::kWritten;
        if (status == 0 || outputs == Outputs::kZero || kept) {
            ((released = Release(std::get<I>(slots), R) || released), ...);
        }
        return {status, outputs, released};
    }
    static CallResult Call(QV_HANDLE handle, const CallOptions& options) {
        return Run(handle, options, std::index_sequence_for<A...>{});
    }
};

template <auto F, auto R, qv::Output O>
constexpr RemoteFunction Make(const qv::Row& row, const char* family) {
    using T = Thunk<F, R, O>;
    return {&row,
            family,
            T::kPointers,
            T::kNamesAnObject,
            !std::is_same_v<decltype(R), std::nullptr_t>,
            &T::Call};
}

const RemoteFunction kRemote[] = {
#define QV_REMOTE(name, family, shape, procedure, sim, token, logs, answer, output, release, no_memory, line) \
    Make<&name, release, qv::Output::k##output>(qv::rows::name, #family),
#include "exports.def"
};

template <auto R>
struct NullRelease;
template <typename T, typename... Rest, QV_STATUS (*R)(T**, Rest...)>
struct NullRelease<R> {
    static bool Accepts() {
        T* none = nullptr;
        return R(nullptr, Rest{}...) == 0 && R(&none, Rest{}...) == 0 && none == nullptr;
    }
};
template <typename T, QV_STATUS (*R)(T*)>
requires(!std::is_pointer_v<T>) struct NullRelease<R> {
    static bool Accepts() { return R(nullptr) == 0; }
};
template <void (*R)(void*)>
struct NullRelease<R> {
    static bool Accepts() {
        R(nullptr);
        return true;
    }
};

const ReleaseFunction kReleases[] = {
#define QV_RELEASE(name, family) {#name, &NullRelease<&name>::Accepts},
#include "exports.def"
};

constexpr CalledProcedure kCalled[] = {
#define QV_REMOTE(name, family, shape, procedure, sim, token, logs, answer, output, release, no_memory, line) \
    {procedure, qv::Sim::k##sim},
#define QV_SESSION(name, family, procedure, sim) {procedure, qv::Sim::k##sim},
#include "exports.def"
};

constexpr std::string_view kNames[] = {
#define QV_REMOTE(name, family, shape, procedure, sim, token, logs, answer, output, release, no_memory, line) \
#name,
#define QV_SESSION(name, family, procedure, sim) #name,
#define QV_LOCAL(name, family, release) #name,
#define QV_RELEASE(name, family) #name,
#include "exports.def"
};

}  // namespace

std::span<const RemoteFunction> RemoteFunctions() { return kRemote; }

std::span<const ReleaseFunction> ReleaseFunctions() { return kReleases; }

std::span<const CalledProcedure> CalledProcedures() {
    static const std::vector<CalledProcedure> once = [] {
        std::vector<CalledProcedure> out;
        for (const CalledProcedure& c : kCalled) {
            if (std::ranges::find(out, c.procedure, &CalledProcedure::procedure) == out.end()) {
                out.push_back(c);
            }
        }
        return out;
    }();
    return once;
}

std::span<const std::string_view> ExportedNames() { return kNames; }

}  // namespace qvtest
