#include "model.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "status.h"
#include "text.h"

namespace qvsim {
namespace {

using nlohmann::json;

constexpr int kStateFormat = 1;

template <typename T, typename Of = MirrorSettings>
struct Field {
    const char* key;
    T Of::*member;
};

constexpr Field<int32_t> kIntSettings[] = {
    {"setting1", &MirrorSettings::setting1},
    {"setting2", &MirrorSettings::setting2},
    {"setting3", &MirrorSettings::setting3},
};

constexpr Field<uint32_t> kUintSettings[] = {
    {"mirror_kind", &MirrorSettings::mirror_kind},
    {"schedule_mode", &MirrorSettings::schedule_mode},
    {"enable_option1", &MirrorSettings::enable_option1},
    {"enable_option2", &MirrorSettings::enable_option2},
    {"enable_option3", &MirrorSettings::enable_option3},
    {"enable_option4", &MirrorSettings::enable_option4},
    {"setting4", &MirrorSettings::setting4},
    {"setting5", &MirrorSettings::setting5},
    {"setting6", &MirrorSettings::setting6},
    {"setting7", &MirrorSettings::setting7},
    {"setting8", &MirrorSettings::setting8},
    {"setting9", &MirrorSettings::setting9},
    {"setting10", &MirrorSettings::setting10},
    {"setting11", &MirrorSettings::setting11},
    {"setting12", &MirrorSettings::setting12},
    {"setting13", &MirrorSettings::setting13},
    {"setting14", &MirrorSettings::setting14},
    {"switch1", &MirrorSettings::switch1},
    {"switch2", &MirrorSettings::switch2},
    {"limit", &MirrorSettings::limit},
    {"spare1", &MirrorSettings::spare1},
    {"spare2", &MirrorSettings::spare2},
};

constexpr Field<std::optional<std::u16string>> kTextSettings[] = {
    {"text1", &MirrorSettings::text1},
    {"text2", &MirrorSettings::text2},
    {"text3", &MirrorSettings::text3},
    {"text4", &MirrorSettings::text4},
};

struct ScheduleField {
    const char* key;
    uint32_t Schedule::*member;
};

constexpr ScheduleField kScheduleFields[] = {
    {"spare1", &Schedule::spare1}, {"group_param", &Schedule::group_param},
    {"mode", &Schedule::mode},     {"param1", &Schedule::param1},
    {"spare2", &Schedule::spare2}, {"spare3", &Schedule::spare3},
    {"param2", &Schedule::param2}, {"param3", &Schedule::param3},
    {"param4", &Schedule::param4}, {"param5", &Schedule::param5},
    {"param6", &Schedule::param6},
};

json OptText(const std::optional<std::u16string>& text) {
    return text ? json(ToUtf8(*text)) : json(nullptr);
}

std::optional<std::u16string> OptText(const json& j) {
    if (j.is_null()) return std::nullopt;
    return FromUtf8(j.get<std::string>());
}

json Object(const ObjectId& id) { return {{"disk", ToUtf8(id.disk)}, {"number", id.number}}; }

ObjectId Object(const json& j) {
    return ObjectId{FromUtf8(j.at("disk").get<std::string>()), j.at("number").get<uint32_t>()};
}

json SaveSchedule(const Schedule& s) {
    json j;
    for (const auto& f : kScheduleFields) j[f.key] = s.*f.member;
    j["spare4"] = s.spare4;
    return j;
}

Schedule LoadSchedule(const json& j) {
    Schedule s;
    for (const auto& f : kScheduleFields) s.*f.member = j.at(f.key).get<uint32_t>();
    s.spare4 = j.at("spare4").get<int32_t>();
    return s;
}

json Settings(const MirrorSettings& s) {
    json j;
    for (const auto& f : kIntSettings) j[f.key] = s.*f.member;
    for (const auto& f : kUintSettings) j[f.key] = s.*f.member;
    for (const auto& f : kTextSettings) j[f.key] = OptText(s.*f.member);
    j["schedule"] = SaveSchedule(s.schedule);
    return j;
}

MirrorSettings Settings(const json& j) {
    MirrorSettings s;
    for (const auto& f : kIntSettings) s.*f.member = j.at(f.key).get<int32_t>();
    for (const auto& f : kUintSettings) s.*f.member = j.at(f.key).get<uint32_t>();
    for (const auto& f : kTextSettings) s.*f.member = OptText(j.at(f.key));
    s.schedule = LoadSchedule(j.at("schedule"));
    return s;
}

json Op(const Operation& op) {
    return {{"state", static_cast<uint32_t>(op.state)},
            {"result", op.result},
            {"total_mib", op.total_mib},
            {"done_mib", op.done_mib},
            {"elapsed_s", op.elapsed_s},
            {"mode", op.mode},
            {"options", op.options}};
}

double NonNegative(const json& j) {
    const double v = j.get<double>();
    if (!(v >= 0)) throw std::runtime_error("negative amount in state");
    return v;
}

Operation Op(const json& j) {
    Operation op;
    const auto state = j.at("state").get<uint32_t>();
    if (state > static_cast<uint32_t>(OpState::kFailed)) {
        throw std::runtime_error("unknown operation state " + std::to_string(state));
    }
    op.state = static_cast<OpState>(state);
    op.result = j.at("result").get<uint32_t>();
    op.total_mib = NonNegative(j.at("total_mib"));
    op.done_mib = std::min(NonNegative(j.at("done_mib")), op.total_mib);
    op.elapsed_s = NonNegative(j.at("elapsed_s"));
    op.mode = j.at("mode").get<uint32_t>();
    op.options = j.at("options").get<uint32_t>();
    return op;
}

json Io(const IoSide& io) { return json::array({io.read_bytes, io.written_bytes}); }

IoSide Io(const json& j) {
    if (!j.is_array() || j.size() != 2)
        throw std::runtime_error("I/O totals must be [read, written]");
    return IoSide{NonNegative(j[0]), NonNegative(j[1])};
}

json SaveProtection(const Protection& p) {
    return {{"primary", Object(p.primary)},
            {"mirror", Object(p.mirror)},
            {"size_mib", p.size_mib},
            {"state", StateName(p.state)},
            {"dirty_mib", p.dirty_mib},
            {"settings", Settings(p.settings)},
            {"sync", Op(p.sync)},
            {"verify", Op(p.verify)},
            {"restore", Op(p.restore)},
            {"io",
             {{"primary", Io(p.primary_io)},
              {"mirror", Io(p.mirror_io)},
              {"primary_bg", Io(p.primary_bg_io)},
              {"mirror_bg", Io(p.mirror_bg_io)}}},
            {"age_s", p.age_s},
            {"completed_syncs", p.completed_syncs}};
}

Protection LoadProtection(const json& j) {
    Protection p;
    p.primary = Object(j.at("primary"));
    p.mirror = Object(j.at("mirror"));
    p.size_mib = j.at("size_mib").get<uint64_t>();
    const auto state = StateFromName(j.at("state").get<std::string>());
    if (!state) throw std::runtime_error("unknown protection state");
    p.state = *state;
    p.dirty_mib = std::min(NonNegative(j.at("dirty_mib")), static_cast<double>(p.size_mib));
    p.settings = Settings(j.at("settings"));
    p.sync = Op(j.at("sync"));
    p.verify = Op(j.at("verify"));
    p.restore = Op(j.at("restore"));
    const json& io = j.at("io");
    p.primary_io = Io(io.at("primary"));
    p.mirror_io = Io(io.at("mirror"));
    p.primary_bg_io = Io(io.at("primary_bg"));
    p.mirror_bg_io = Io(io.at("mirror_bg"));
    p.age_s = NonNegative(j.at("age_s"));
    p.completed_syncs = j.at("completed_syncs").get<uint32_t>();
    return p;
}

}  // namespace

uint64_t Target::SizeMiB() const noexcept {
    if (partition != nullptr) return partition->size_mib;
    return disk != nullptr ? disk->size_mib : 0;
}

ObjectId Target::Id() const {
    return ObjectId{disk != nullptr ? disk->name : std::u16string(),
                    partition != nullptr ? partition->number : 0};
}

bool Same(const ObjectId& a, const ObjectId& b) noexcept {
    return a.number == b.number && SameName(a.disk, b.disk);
}

bool Overlap(const ObjectId& a, const ObjectId& b) noexcept {
    if (!SameName(a.disk, b.disk)) return false;
    return a.number == 0 || b.number == 0 || a.number == b.number;
}

Model::Model(Inventory inventory, Rates rates, Clock::time_point start)
    : inventory_(std::move(inventory)), rates_(rates), now_(start) {}

void Model::ReplaceInventory(Inventory inventory) {
    const auto macs = [](const Inventory& i) {
        std::vector<std::array<uint8_t, 6>> out;
        for (const Adapter& a : i.adapters) out.push_back(a.mac);
        std::sort(out.begin(), out.end());
        return out;
    };
    if (macs(inventory) != macs(inventory_)) {
        netboot_.env_changed = true;
        changed_ = true;
    }
    inventory_ = std::move(inventory);
}

void Model::Advance(Clock::time_point now) {
    // Every request brings the model up to date, and a scraper asks about
    // each protection in turn: stepping the whole model for each of those
    // requests would cost the number of protections squared. The model moves
    // in steps of at least a few milliseconds instead.
    constexpr auto kStep = std::chrono::milliseconds(5);
    if (now < now_ + kStep) return;
    const double dt = std::chrono::duration<double>(now - now_).count();
    now_ = now;
    for (auto& p : protections_) {
        const OpState sync = p.sync.state;
        const OpState verify = p.verify.state;
        p.verify_fails = std::any_of(failing_verifies_.begin(), failing_verifies_.end(),
                                     [&](const ObjectId& o) { return Same(o, p.primary); });
        if (p.Step(dt, rates_)) changed_ = true;
        // The service writes the ends of its long operations into its log.
        if (sync == OpState::kRunning && p.sync.state == OpState::kCompleted) {
            events().SyncFinished(p.primary);
        }
        if (verify == OpState::kRunning && p.verify.state == OpState::kFailed) {
            events().VerifyFailed(p.primary, p.verify.result);
        }
    }
}

uint32_t Model::Locate(const ObjectId& id, Target& out) const {
    out = Target{};
    const Disk* disk = inventory_.FindDisk(id.disk);
    if (disk == nullptr) return status::kDiskNotFound;
    out.disk = disk;
    if (id.number == 0) return status::kOk;
    out.partition = disk->FindPartition(id.number);
    return out.partition != nullptr ? status::kOk : status::kPartitionNotFound;
}

Protection* Model::FindProtection(const ObjectId& primary) {
    for (auto& p : protections_) {
        if (Same(p.primary, primary)) return &p;
    }
    return nullptr;
}

Protection& Model::AddProtection(Protection protection) {
    changed_ = true;
    events().ProtectionEnabled(protection.primary, protection.mirror);
    return protections_.emplace_back(std::move(protection));
}

void Model::RemoveProtection(const Protection* protection) {
    const ObjectId primary = protection->primary;
    protections_.remove_if([&](const Protection& p) { return &p == protection; });
    // The trace settings belong to the protection and go with it.
    std::erase_if(traces_, [&](const DataTraceConfig& t) { return Same(t.object, primary); });
    changed_ = true;
}

const Protection* Model::UserOf(const ObjectId& id) const {
    for (const auto& p : protections_) {
        if (Overlap(p.primary, id) || Overlap(p.mirror, id)) return &p;
    }
    return nullptr;
}

DataTraceConfig* Model::FindTrace(const ObjectId& object) {
    for (auto& t : traces_) {
        if (Same(t.object, object)) return &t;
    }
    return nullptr;
}

void Model::SetTrace(DataTraceConfig config) {
    changed_ = true;
    if (DataTraceConfig* existing = FindTrace(config.object)) {
        *existing = std::move(config);
    } else {
        traces_.push_back(std::move(config));
    }
}

namespace {

std::array<uint8_t, 6> Mac(const json& j) {
    std::array<uint8_t, 6> mac{};
    if (!ParseMac(j.get<std::string>(), mac)) throw std::runtime_error("malformed adapter address");
    return mac;
}

NetbootState LoadNetboot(const json& j) {
    NetbootState n;
    n.drivers_installed = j.at("drivers_installed").get<bool>();
    if (!j.at("adapter").is_null()) n.adapter = Mac(j.at("adapter"));
    n.server_enabled = j.at("server_enabled").get<bool>();
    const json& server = j.at("server");
    n.server.text = FromUtf8(server.at("text").get<std::string>());
    n.server.mac = Mac(server.at("mac"));
    const auto words = server.at("words").get<std::vector<uint32_t>>();
    if (words.size() != 5) throw std::runtime_error("the server's boot words are not five");
    n.server.word1 = words[0];
    n.server.word2 = words[1];
    n.server.word3 = words[2];
    n.server.word4 = words[3];
    n.server.word5 = words[4];
    n.env_changed = j.at("env_changed").get<bool>();
    return n;
}

}  // namespace

namespace {

json SaveSnapshots(const SnapshotStore& store) {
    json list = json::array();
    for (const Snapshot& s : store.snapshots) {
        list.push_back({{"id", s.id},
                        {"owner", Object(s.owner)},
                        {"taken_at", s.taken_at},
                        {"name", ToUtf8(s.name)},
                        {"view", OptText(s.view)},
                        {"view_disk", s.view_disk}});
    }
    return {{"next_id", store.next_id}, {"next_view_disk", store.next_view_disk}, {"list", list}};
}

// The snapshots of the protections kept; a snapshot number or a view disk
// number is never given twice, whatever the file says.
SnapshotStore LoadSnapshots(const json& j, const std::list<Protection>& protections,
                            std::vector<std::string>& warnings) {
    SnapshotStore store;
    store.next_id = j.at("next_id").get<uint32_t>();
    store.next_view_disk = j.at("next_view_disk").get<uint32_t>();
    for (const json& item : j.at("list")) {
        Snapshot s;
        s.id = item.at("id").get<uint32_t>();
        s.owner = Object(item.at("owner"));
        s.taken_at = item.at("taken_at").get<int64_t>();
        s.name = FromUtf8(item.at("name").get<std::string>());
        s.view = OptText(item.at("view"));
        s.view_disk = s.view ? item.at("view_disk").get<uint32_t>() : 0;
        const bool owned =
            std::any_of(protections.begin(), protections.end(),
                        [&](const Protection& p) { return Same(p.primary, s.owner); });
        if (!owned) {
            warnings.push_back("dropping snapshot " + std::to_string(s.id) + " of " +
                               ToUtf8(s.owner.disk) + ":" + std::to_string(s.owner.number) +
                               ": its protection is gone");
            continue;
        }
        store.next_id = std::max(store.next_id, s.id + 1);
        if (s.view) store.next_view_disk = std::max(store.next_view_disk, s.view_disk + 1);
        store.snapshots.push_back(std::move(s));
    }
    return store;
}

constexpr Field<int32_t, ProtectionGroup> kGroupIntSettings[] = {
    {"setting2", &ProtectionGroup::setting2},
    {"setting3", &ProtectionGroup::setting3},
};

constexpr Field<uint32_t, ProtectionGroup> kGroupUintSettings[] = {
    {"mirror_kind", &ProtectionGroup::mirror_kind},
    {"setting4", &ProtectionGroup::setting4},
    {"setting7", &ProtectionGroup::setting7},
    {"setting8", &ProtectionGroup::setting8},
    {"switch2", &ProtectionGroup::switch2},
    {"group_setting1", &ProtectionGroup::group_setting1},
};

bool HasProtection(const std::list<Protection>& protections, const ObjectId& primary) {
    return std::any_of(protections.begin(), protections.end(),
                       [&](const Protection& p) { return Same(p.primary, primary); });
}

bool HasSnapshot(const SnapshotStore& store, const ObjectId& owner, uint32_t id) {
    return std::any_of(store.snapshots.begin(), store.snapshots.end(),
                       [&](const Snapshot& s) { return s.id == id && Same(s.owner, owner); });
}

// Members whose protections were disabled and snapshots that were deleted
// since are left out, as the group no longer holds them.
json SaveGroups(const std::list<ProtectionGroup>& groups, const std::list<Protection>& protections,
                const SnapshotStore& store) {
    json list = json::array();
    for (const ProtectionGroup& g : groups) {
        json j = {{"name", ToUtf8(g.name)},
                  {"text", OptText(g.text)},
                  {"schedule", SaveSchedule(g.schedule)}};
        for (const auto& f : kGroupIntSettings) j[f.key] = g.*f.member;
        for (const auto& f : kGroupUintSettings) j[f.key] = g.*f.member;
        json members = json::array();
        for (const ObjectId& m : g.members) {
            if (HasProtection(protections, m)) members.push_back(Object(m));
        }
        json snapshots = json::array();
        for (const GroupSnapshot& gs : g.snapshots) {
            json taken = json::array();
            for (const auto& [member, id] : gs.taken) {
                if (HasSnapshot(store, member, id))
                    taken.push_back({{"member", Object(member)}, {"id", id}});
            }
            if (!taken.empty()) snapshots.push_back({{"id", gs.id}, {"taken", taken}});
        }
        j["members"] = members;
        j["snapshots"] = snapshots;
        list.push_back(std::move(j));
    }
    return list;
}

// A group whose name is taken already is dropped, and so is a member whose
// protection is gone or that another group holds already; the group stays
// without it. A group snapshot keeps the member snapshots that are kept.
std::list<ProtectionGroup> LoadGroups(const json& list, const std::list<Protection>& protections,
                                      const SnapshotStore& store,
                                      std::vector<std::string>& warnings) {
    std::list<ProtectionGroup> groups;
    std::vector<ObjectId> held;  // the members of every group so far
    for (const json& j : list) {
        ProtectionGroup g;
        g.name = FromUtf8(j.at("name").get<std::string>());
        const std::string name = ToUtf8(g.name);
        if (g.name.empty() ||
            std::any_of(groups.begin(), groups.end(),
                        [&](const ProtectionGroup& other) { return other.name == g.name; })) {
            warnings.push_back("dropping group \"" + name + "\": its name is empty or taken");
            continue;
        }
        g.text = OptText(j.at("text"));
        g.schedule = LoadSchedule(j.at("schedule"));
        for (const auto& f : kGroupIntSettings) g.*f.member = j.at(f.key).get<int32_t>();
        for (const auto& f : kGroupUintSettings) g.*f.member = j.at(f.key).get<uint32_t>();
        for (const json& item : j.at("members")) {
            const ObjectId m = Object(item);
            const bool kept = HasProtection(protections, m);
            const bool taken = std::any_of(held.begin(), held.end(),
                                           [&](const ObjectId& o) { return Same(o, m); });
            if (!kept || taken) {
                warnings.push_back("dropping member " + ToUtf8(m.disk) + ":" +
                                   std::to_string(m.number) + " of group \"" + name + "\": " +
                                   (kept ? "another group holds it" : "its protection is gone"));
                continue;
            }
            g.members.push_back(m);
            held.push_back(m);
        }
        for (const json& item : j.at("snapshots")) {
            GroupSnapshot gs;
            gs.id = item.at("id").get<uint32_t>();
            for (const json& t : item.at("taken")) {
                const ObjectId member = Object(t.at("member"));
                const auto id = t.at("id").get<uint32_t>();
                if (HasSnapshot(store, member, id)) gs.taken.emplace_back(member, id);
            }
            if (!gs.taken.empty()) g.snapshots.push_back(std::move(gs));
        }
        groups.push_back(std::move(g));
    }
    return groups;
}

}  // namespace

json Model::SaveState() const {
    json protections = json::array();
    for (const auto& p : protections_) protections.push_back(SaveProtection(p));
    json traces = json::array();
    for (const auto& t : traces_) {
        traces.push_back({{"object", Object(t.object)},
                          {"option", t.option},
                          {"text", OptText(t.text)},
                          {"count", t.count}});
    }
    const ServerBootConfig& server = netboot_.server;
    const json netboot = {
        {"drivers_installed", netboot_.drivers_installed},
        {"adapter", netboot_.adapter ? json(MacText(*netboot_.adapter)) : json(nullptr)},
        {"server_enabled", netboot_.server_enabled},
        {"server",
         {{"text", ToUtf8(server.text)},
          {"mac", MacText(server.mac)},
          {"words", {server.word1, server.word2, server.word3, server.word4, server.word5}}}},
        {"env_changed", netboot_.env_changed}};
    return {{"format", kStateFormat},
            {"protections", protections},
            {"data_trace", traces},
            {"netboot", netboot},
            {"snapshots", SaveSnapshots(snapshots_)},
            {"groups", SaveGroups(groups_, protections_, snapshots_)},
            {"diagnostics", diagnostics_.Save()}};
}

void Model::LoadState(const json& state, std::vector<std::string>& warnings) {
    std::list<Protection> protections;
    std::vector<DataTraceConfig> traces;
    NetbootState netboot;
    SnapshotStore snapshots;
    std::list<ProtectionGroup> groups;
    try {
        if (state.at("format").get<int>() != kStateFormat) {
            throw std::runtime_error("unsupported state format");
        }
        for (const json& j : state.at("protections")) {
            Protection p = LoadProtection(j);
            const std::string name =
                ToUtf8(p.primary.disk) + ":" + std::to_string(p.primary.number);
            Target primary;
            Target mirror;
            if (Locate(p.primary, primary) != status::kOk ||
                Locate(p.mirror, mirror) != status::kOk) {
                warnings.push_back("dropping the protection of " + name +
                                   ": the inventory has no such primary or mirror");
                continue;
            }
            const bool clash =
                std::any_of(protections.begin(), protections.end(), [&](const Protection& other) {
                    return Overlap(p.primary, other.primary) || Overlap(p.primary, other.mirror) ||
                           Overlap(p.mirror, other.primary) || Overlap(p.mirror, other.mirror);
                });
            if (clash || Overlap(p.primary, p.mirror)) {
                warnings.push_back("dropping the protection of " + name +
                                   ": it shares a disk extent with another");
                continue;
            }
            protections.push_back(std::move(p));
        }
        for (const json& j : state.at("data_trace")) {
            DataTraceConfig t;
            t.object = Object(j.at("object"));
            t.option = j.at("option").get<int32_t>();
            t.text = OptText(j.at("text"));
            t.count = j.at("count").get<uint32_t>();
            traces.push_back(std::move(t));
        }
        diagnostics_.Load(state);
        // State files from before network boot was modelled have none.
        if (const auto it = state.find("netboot"); it != state.end()) netboot = LoadNetboot(*it);
        if (const auto it = state.find("snapshots"); it != state.end()) {
            snapshots = LoadSnapshots(*it, protections, warnings);
        }
        if (const auto it = state.find("groups"); it != state.end()) {
            groups = LoadGroups(*it, protections, snapshots, warnings);
        }
    } catch (const json::exception& e) {
        throw std::runtime_error(e.what());
    }
    protections_ = std::move(protections);
    traces_ = std::move(traces);
    netboot_ = std::move(netboot);
    snapshots_ = std::move(snapshots);
    groups_ = std::move(groups);
}

}  // namespace qvsim
