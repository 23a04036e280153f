// What the service keeps about itself rather than about disks: its event
// log, its trace level, and the cluster's picture as the service has
// configured it (which node runs each group, which of a group's disks holds
// the service's configuration, the messages the partner node sent).
//
// The model writes events itself as things happen (a protection enabled, a
// synchronisation finished, a verify that failed, a failover); other
// families call the named writers below; callers append through
// WRITE_EVENT_MESSAGE.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "inventory.h"

namespace qvsim {

// Event types, as the platform's event log has them.
enum : uint32_t { kEventError = 1, kEventWarning = 2, kEventInformation = 4 };

// The message codes of the service's own events: severity in the top two
// bits, facility in bits 16 to 27, the message number below.
namespace event_code {
inline constexpr uint32_t kProtectionEnabled = 0x400003E8;  // informational 1000
inline constexpr uint32_t kFailover = 0x800003E9;           // warning 1001
inline constexpr uint32_t kSyncFinished = 0x40010001;       // informational 1:1
inline constexpr uint32_t kVerifyFailed = 0xC0010003;       // error 1:3
inline constexpr uint32_t kSnapshotTaken = 0x40020001;      // informational 2:1
inline constexpr uint32_t kGroupConfigured = 0x40020002;    // informational 2:2
}  // namespace event_code

// Who wrote an event.
enum : uint32_t { kFromService = 1, kFromCaller = 2 };

// What an event is about: an object (name and number), a named item, or
// nothing.
enum : uint32_t { kSubjectNone = 0, kSubjectObject = 1, kSubjectName = 2 };

struct Event {
    uint32_t number = 0;  // 1, 2, ... in the order written
    uint32_t time = 0;    // seconds since 1970, UTC
    uint32_t type = kEventInformation;
    uint32_t code = 0;
    uint32_t subject_kind = kSubjectNone;
    uint32_t source = kFromService;
    std::u16string subject_name;
    uint32_t subject_number = 0;
    std::u16string text;
};

// What a reader asks for. The selectors and filter items are those of
// GET_EVENT_LIST; see the table in service_diag.cpp.
struct EventQuery {
    uint32_t selector = 0;
    uint32_t first = 0;  // the lowest event number wanted; 0 for the oldest
    uint32_t limit = 0;  // at most this many, the newest ones; 0 for all
    uint32_t number = 0;
    std::u16string name;
    uint32_t type_mask = 0;  // event types, or'ed; 0 for every type
    uint32_t code = 0;       // one message code; 0 for every code
};

enum : uint32_t { kSelectNumber = 16, kSelectObject = 4, kSelectName = 8 };

class EventLog {
  public:
    // The oldest events go once the log holds this many.
    static constexpr std::size_t kCapacity = 10000;

    const Event& Write(Event event);
    std::vector<const Event*> Select(const EventQuery& query) const;
    const std::deque<Event>& events() const noexcept { return events_; }
    uint32_t last() const noexcept { return next_ - 1; }

    // The service's own events.
    void ProtectionEnabled(const ObjectId& primary, const ObjectId& mirror);
    void SyncFinished(const ObjectId& primary);
    void VerifyFailed(const ObjectId& primary, uint32_t word);
    void SnapshotTaken(const ObjectId& object);
    void Failover(const std::u16string& group, const std::u16string& from,
                  const std::u16string& to);
    void GroupConfigured(const std::u16string& group, const std::u16string& disk);

    nlohmann::json Save() const;
    void Load(const nlohmann::json& j);

  private:
    void Service(uint32_t type, uint32_t code, const ObjectId* object, std::u16string text);

    std::deque<Event> events_;
    uint32_t next_ = 1;
};

// The service's picture of one cluster group beyond the inventory's.
struct GroupState {
    uint32_t owner = 0;                 // the node that runs it now
    std::optional<ClusterDisk> config;  // the disk that holds the configuration
    uint32_t failovers = 0;
};

struct ClusterState {
    // Messages kept from the partner node, newest last.
    static constexpr std::size_t kMessageCapacity = 100;

    std::map<std::u16string, GroupState> groups;  // by group name as the inventory has it
    std::deque<std::u16string> messages;

    // The state of an inventory group, created from the inventory on first use.
    GroupState& Of(const ClusterGroup& group);

    nlohmann::json Save() const;
    void Load(const nlohmann::json& j);
};

// The trace masks the service accepts: two families of five cumulative levels.
bool ValidTraceMask(uint32_t mask) noexcept;
inline constexpr uint32_t kDefaultTraceMask = 0x20000003;

struct Diagnostics {
    EventLog events;
    ClusterState cluster;
    uint32_t trace_mask = kDefaultTraceMask;

    // Kept in the state file beside the protections; a state file without
    // them (an older one) starts empty.
    nlohmann::json Save() const;
    void Load(const nlohmann::json& state);
};

}  // namespace qvsim
