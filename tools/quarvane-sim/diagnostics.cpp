#include "diagnostics.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "text.h"

namespace qvsim {
namespace {

using nlohmann::json;

uint32_t Now() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

std::u16string Spelled(const ObjectId& id) {
    return id.number == 0 ? id.disk : id.disk + u":" + FromUtf8(std::to_string(id.number));
}

bool Matches(const Event& e, const EventQuery& q) {
    if (e.number < q.first) return false;
    if (q.type_mask != 0 && (e.type & q.type_mask) == 0) return false;
    if (q.code != 0 && e.code != q.code) return false;
    switch (q.selector) {
        case kSelectNumber:
            return e.subject_kind == kSubjectObject && e.subject_number == q.number;
        case kSelectObject:
            return e.subject_kind == kSubjectObject && e.subject_number == q.number &&
                   SameName(e.subject_name, q.name);
        case kSelectName:
            return e.subject_kind != kSubjectNone && SameName(e.subject_name, q.name);
        default:
            return true;
    }
}

}  // namespace

const Event& EventLog::Write(Event event) {
    event.number = next_++;
    if (event.time == 0) event.time = Now();
    if (events_.size() >= kCapacity) events_.pop_front();
    events_.push_back(std::move(event));
    return events_.back();
}

std::vector<const Event*> EventLog::Select(const EventQuery& query) const {
    std::vector<const Event*> out;
    for (const Event& e : events_) {
        if (Matches(e, query)) out.push_back(&e);
    }
    if (query.limit != 0 && out.size() > query.limit) {
        out.erase(out.begin(), out.end() - query.limit);
    }
    return out;
}

void EventLog::Service(uint32_t type, uint32_t code, const ObjectId* object, std::u16string text) {
    Event e;
    e.type = type;
    e.code = code;
    if (object != nullptr) {
        e.subject_kind = kSubjectObject;
        e.subject_name = object->disk;
        e.subject_number = object->number;
    }
    e.text = std::move(text);
    Write(std::move(e));
}

void EventLog::ProtectionEnabled(const ObjectId& primary, const ObjectId& mirror) {
    Service(kEventInformation, event_code::kProtectionEnabled, &primary,
            u"Protection of " + Spelled(primary) + u" on " + Spelled(mirror) + u" enabled.");
}

void EventLog::SyncFinished(const ObjectId& primary) {
    Service(kEventInformation, event_code::kSyncFinished, &primary,
            u"Synchronization of " + Spelled(primary) + u" finished.");
}

void EventLog::VerifyFailed(const ObjectId& primary, uint32_t word) {
    char hex[12];
    std::snprintf(hex, sizeof hex, "%08X", word);
    Service(kEventError, event_code::kVerifyFailed, &primary,
            u"Verify of " + Spelled(primary) + u" failed with " + FromUtf8(hex) + u".");
}

void EventLog::SnapshotTaken(const ObjectId& object) {
    Service(kEventInformation, event_code::kSnapshotTaken, &object,
            u"Snapshot of " + Spelled(object) + u" taken.");
}

void EventLog::Failover(const std::u16string& group, const std::u16string& from,
                        const std::u16string& to) {
    Event e;
    e.type = kEventWarning;
    e.code = event_code::kFailover;
    e.subject_kind = kSubjectName;
    e.subject_name = group;
    e.text = u"Cluster group " + group + u" moved from " + from + u" to " + to + u".";
    Write(std::move(e));
}

void EventLog::GroupConfigured(const std::u16string& group, const std::u16string& disk) {
    Event e;
    e.type = kEventInformation;
    e.code = event_code::kGroupConfigured;
    e.subject_kind = kSubjectName;
    e.subject_name = group;
    e.text = u"Cluster group " + group + u" configured on " + disk + u".";
    Write(std::move(e));
}

json EventLog::Save() const {
    json out = json::array();
    for (const Event& e : events_) {
        out.push_back({{"number", e.number},
                       {"time", e.time},
                       {"type", e.type},
                       {"code", e.code},
                       {"subject_kind", e.subject_kind},
                       {"source", e.source},
                       {"subject_name", ToUtf8(e.subject_name)},
                       {"subject_number", e.subject_number},
                       {"text", ToUtf8(e.text)}});
    }
    return out;
}

void EventLog::Load(const json& j) {
    std::deque<Event> events;
    uint32_t next = 1;
    for (const json& item : j) {
        Event e;
        e.number = item.at("number").get<uint32_t>();
        if (e.number < next) throw std::runtime_error("event numbers out of order");
        e.time = item.at("time").get<uint32_t>();
        e.type = item.at("type").get<uint32_t>();
        e.code = item.at("code").get<uint32_t>();
        e.subject_kind = item.at("subject_kind").get<uint32_t>();
        e.source = item.at("source").get<uint32_t>();
        e.subject_name = FromUtf8(item.at("subject_name").get<std::string>());
        e.subject_number = item.at("subject_number").get<uint32_t>();
        e.text = FromUtf8(item.at("text").get<std::string>());
        next = e.number + 1;
        events.push_back(std::move(e));
        if (events.size() > kCapacity) events.pop_front();
    }
    events_ = std::move(events);
    next_ = next;
}

GroupState& ClusterState::Of(const ClusterGroup& group) {
    const auto [it, added] = groups.try_emplace(group.name);
    if (added) it->second.owner = group.owner;
    return it->second;
}

json ClusterState::Save() const {
    json out = json::object();
    json list = json::array();
    for (const auto& [name, g] : groups) {
        json item = {{"name", ToUtf8(name)}, {"owner", g.owner}, {"failovers", g.failovers}};
        if (g.config) {
            item["config"] = {{"name", ToUtf8(g.config->name)},
                              {"id", g.config->id},
                              {"text1", ToUtf8(g.config->text1)},
                              {"text2", ToUtf8(g.config->text2)}};
        }
        list.push_back(item);
    }
    out["groups"] = list;
    json kept = json::array();
    for (const auto& m : messages) kept.push_back(ToUtf8(m));
    out["messages"] = kept;
    return out;
}

void ClusterState::Load(const json& j) {
    std::map<std::u16string, GroupState> loaded;
    for (const json& item : j.at("groups")) {
        GroupState g;
        g.owner = item.at("owner").get<uint32_t>();
        if (g.owner > 1) throw std::runtime_error("a cluster group's owner must be node 0 or 1");
        g.failovers = item.at("failovers").get<uint32_t>();
        if (const auto c = item.find("config"); c != item.end()) {
            g.config = ClusterDisk{FromUtf8(c->at("name").get<std::string>()),
                                   c->at("id").get<uint32_t>(),
                                   FromUtf8(c->at("text1").get<std::string>()),
                                   FromUtf8(c->at("text2").get<std::string>())};
        }
        loaded[FromUtf8(item.at("name").get<std::string>())] = std::move(g);
    }
    std::deque<std::u16string> kept;
    for (const json& m : j.at("messages")) kept.push_back(FromUtf8(m.get<std::string>()));
    while (kept.size() > kMessageCapacity) kept.pop_front();
    groups = std::move(loaded);
    messages = std::move(kept);
}

bool ValidTraceMask(uint32_t mask) noexcept {
    const uint32_t family = mask & 0xF0000000u;
    if (family != 0x10000000u && family != 0x20000000u) return false;
    const uint32_t levels = mask & 0x0FFFFFFFu;
    for (uint32_t n = 1; n <= 5; ++n) {
        if (levels == (1u << n) - 1) return true;
    }
    return false;
}

json Diagnostics::Save() const {
    return {{"events", events.Save()}, {"cluster", cluster.Save()}, {"trace_mask", trace_mask}};
}

void Diagnostics::Load(const json& state) {
    const auto it = state.find("diagnostics");
    if (it == state.end()) return;
    const uint32_t mask = it->at("trace_mask").get<uint32_t>();
    if (!ValidTraceMask(mask)) throw std::runtime_error("unknown trace mask in state");
    EventLog log;
    log.Load(it->at("events"));
    ClusterState picture;
    picture.Load(it->at("cluster"));
    events = std::move(log);
    cluster = std::move(picture);
    trace_mask = mask;
}

}  // namespace qvsim
