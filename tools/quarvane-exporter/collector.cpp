// The service's numbers mean what its model makes of them (see
// tools/quarvane-sim/statistics.cpp): amounts are bytes turned into KiB by
// the library, Value1 the percent of the primary the mirror holds, Value4
// the synchronisations completed, Value5 the copy rate in MiB/s; Io1 and
// Io2 are the application's traffic on the primary and on the mirror, Io3
// and Io4 background copying on either side.
#include "collector.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>

#include "held.h"
#include "platform/bounded_utf.h"
#include "subjects.h"

namespace qvexp {
namespace {

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = 1024 * 1024;

// The service logs a verify that found the mirror different as an error
// event with this message code about the protection's primary.
constexpr uint32_t kVerifyFailedCode = 0xC0010003;
constexpr uint32_t kErrorEvents = QV_EVENT_ERROR;

// A failure of the road itself: the rest of the scrape cannot be trusted.
bool Broken(QV_STATUS status) {
    return (status >= QV_STATUS_NO_HANDLE && status <= QV_STATUS_RPC_FAILED) ||
           status == QV_STATUS_NO_MEMORY;
}

class Session {
  public:
    Session(const Target& target, const Login& login) {
        const std::u16string host(target.host.begin(), target.host.end());
        const QV_CONNECT_PARAM param{host.c_str(), target.port, login.user.c_str(),
                                     login.password.c_str()};
        status_ = qvConnect(&param, &handle_);
        if (status_ != QV_STATUS_SUCCESS) handle_ = nullptr;
    }
    ~Session() {
        if (handle_ != nullptr && qvDisconnect(&handle_) != QV_STATUS_SUCCESS) {
            qvFreeHandle(&handle_);
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    QV_HANDLE handle() const { return handle_; }
    QV_STATUS status() const { return status_; }

  private:
    QV_HANDLE handle_ = nullptr;
    QV_STATUS status_ = QV_STATUS_SUCCESS;
};

using qvtools::Held;

void ReadSnapshots(QV_HANDLE handle, const QV_OBJECT_ID& primary, ProtectionReading& r) {
    Held<QV_SNAPSHOT_LIST, qvFreeSnapshotList> list;
    const QV_SNAPSHOT_SELECTOR selector{QV_SNAPSHOTS_OF_OBJECT, &primary, 0, 0, 0};
    const QV_STATUS status = qvGetSnapshotList(handle, &selector, &list.value);
    Check(status);
    if (status != QV_STATUS_SUCCESS) return;
    r.snapshots_read = true;
    for (uint32_t i = 0; i < list.value.Count; ++i) {
        const QV_SNAPSHOT_INFO& s = list.value.Entries[i];
        ++r.snapshots;
        if (s.View != nullptr) ++r.views;
        r.newest_snapshot = std::max(r.newest_snapshot, s.Value64);
    }
}

// Failed verifies by primary, from the service's event log.
std::map<std::string, uint64_t> ReadVerifyFailures(QV_HANDLE handle) {
    std::map<std::string, uint64_t> out;
    Held<QV_EVENT_LIST, qvFreeEventList> list;
    const QV_EVENT_QUERY query{0, 0, 0, nullptr, kErrorEvents, kVerifyFailedCode, 0, 0};
    const QV_STATUS status = qvGetEventList(handle, &query, &list.value);
    Check(status);
    if (status != QV_STATUS_SUCCESS) return out;
    for (uint32_t i = 0; i < list.value.count; ++i) {
        const QV_EVENT_ENTRY& e = list.value.events[i];
        if (e.subjectKind == 1) ++out[ObjectText(e.subjectName, e.subjectNumber)];
    }
    return out;
}

void ReadProtections(QV_HANDLE handle, Reading& reading) {
    Held<QV_MIRROR_CONFIG_LIST, qvFreeMirConfigList> configs;
    const QV_CONFIG_FILTER all{0, nullptr, {nullptr, 0}};
    const QV_STATUS listed = qvGetMirConfigList(handle, &all, &configs.value);
    if (listed != QV_STATUS_SUCCESS) throw Broke{listed};
    const auto failures = ReadVerifyFailures(handle);
    reading.protections.reserve(configs.value.Count);
    for (uint32_t i = 0; i < configs.value.Count; ++i) {
        const QV_MIRROR_CONFIG& c = configs.value.Entries[i];
        ProtectionReading r;
        r.primary = ObjectText(c.Primary.name, c.Primary.number);
        r.mirror = ObjectText(c.Mirror.name, c.Mirror.number);
        const QV_STATUS status = qvGetMirrorStat(handle, c.Primary.name, c.Primary.number, &r.stat);
        Check(status);
        // Removed between the list and its statistics: no longer there.
        if (status != QV_STATUS_SUCCESS) continue;
        ReadSnapshots(handle, c.Primary, r);
        if (const auto f = failures.find(r.primary); f != failures.end())
            r.verify_failures = f->second;
        reading.protections.push_back(std::move(r));
    }
}

template <std::size_t N>
std::string Fixed(const QV_WCHAR (&text)[N]) {
    return ToUtf8(std::u16string(text, std::char_traits<char16_t>::length(text)).c_str());
}

void ReadCluster(QV_HANDLE handle, Reading& reading) {
    Held<QV_CLUSTER_INFO, qvFreeClusterInfo> info;
    const QV_STATUS status = qvGetClusterInfo(handle, &info.value);
    Check(status);
    if (status != QV_STATUS_SUCCESS) return;
    ClusterReading c{info.value.infoWord,
                     Fixed(info.value.name1),
                     Fixed(info.value.name2),
                     Fixed(info.value.name3),
                     {}};
    for (uint32_t i = 0; info.value.groups != nullptr && i < info.value.groupCount; ++i) {
        const QV_CLUSTER_GROUP& g = info.value.groups[i];
        c.groups.push_back({Fixed(g.groupName), g.value1, g.value2 != 0, g.value4});
    }
    reading.cluster = std::move(c);
}

void ReadNewestEvent(QV_HANDLE handle, Reading& reading) {
    Held<QV_EVENT_LIST, qvFreeEventList> list;
    const QV_EVENT_QUERY newest{0, 0, 1, nullptr, 0, 0, 0, 0};
    const QV_STATUS status = qvGetEventList(handle, &newest, &list.value);
    Check(status);
    if (status == QV_STATUS_SUCCESS && list.value.count > 0) {
        reading.newest_event = list.value.events[list.value.count - 1].word0;
    }
}

// ---------------------------------------------------------------------------
// Writing

using P = ProtectionReading;

struct Named {
    uint32_t code;
    const char* name;
};

// Protection states and conditions as the statistics number them; the
// rest is "unknown".
constexpr std::array<Named, 9> kStates{{{1, "mirrored"},
                                        {2, "synchronizing"},
                                        {3, "suspended"},
                                        {4, "stopped"},
                                        {5, "out_of_sync"},
                                        {9, "restoring"},
                                        {10, "verifying"},
                                        {11, "rolling_back"},
                                        {12, "snapshot"}}};
constexpr std::array<Named, 9> kConditions{{{1, "normal"},
                                            {2, "synchronizing"},
                                            {3, "dirty"},
                                            {4, "primary_unavailable"},
                                            {5, "mirror_unavailable"},
                                            {6, "suspended"},
                                            {7, "stopped"},
                                            {8, "sync_cancelled"},
                                            {9, "maintenance"}}};

template <typename F>
double Sum(const Subject& s, F&& value) {
    double sum = 0;
    for (const P* p : s.members) sum += value(*p);
    return sum;
}

template <std::size_t N>
void WriteStateSet(Exposition& out, const Subjects& subjects, const char* suffix, const char* help,
                   const char* label, const std::array<Named, N>& names,
                   uint32_t (*code)(const P&)) {
    out.Family(std::string(subjects.prefix) + suffix, std::string(help) + subjects.help,
               Type::kGauge);
    for (const Subject& s : subjects.list) {
        for (const Named& n : names) {
            out.Sample({{s.label, s.name}, {label, n.name}},
                       Sum(s, [&](const P& p) { return code(p) == n.code ? 1.0 : 0.0; }));
        }
        const auto unknown = [&](const P& p) {
            for (const Named& n : names) {
                if (code(p) == n.code) return 0.0;
            }
            return 1.0;
        };
        out.Sample({{s.label, s.name}, {label, "unknown"}}, Sum(s, unknown));
    }
}

enum class Fold { kSum, kMax };

struct Gauge {
    const char* suffix;
    const char* help;
    Type type;
    double (*value)(const P&);
    bool (*present)(const P&);
    Fold fold = Fold::kSum;
};

bool Always(const P&) { return true; }
bool SnapshotsRead(const P& p) { return p.snapshots_read; }
double Size(const P& p) { return double(p.stat.Amount1KiB * kKiB); }
double Synchronized(const P& p) { return std::min(p.stat.Value1, 100u) / 100.0; }

const Gauge kGauges[] = {
    {"size_bytes", "Size of the protected primary.", Type::kGauge, Size, Always},
    {"unsynchronized_bytes", "Bytes of the primary not yet on the mirror.", Type::kGauge,
     [](const P& p) { return double(p.stat.Amount2KiB * kKiB); }, Always},
    {"copy_rate_bytes_per_second", "Rate at which the service copies to the mirror.", Type::kGauge,
     [](const P& p) { return double(p.stat.Value5 * kMiB); }, Always},
    {"syncs_completed_total", "Synchronisations completed.", Type::kCounter,
     [](const P& p) { return double(p.stat.Value4); }, Always},
    {"verify_failures_total", "Failed verifies that the service's event log holds.", Type::kCounter,
     [](const P& p) { return double(p.verify_failures); }, Always},
    {"snapshots", "Snapshots held.", Type::kGauge, [](const P& p) { return double(p.snapshots); },
     SnapshotsRead},
    {"mounted_views", "Snapshots mounted as views.", Type::kGauge,
     [](const P& p) { return double(p.views); }, SnapshotsRead},
    {"newest_snapshot_timestamp_seconds",
     "When the newest snapshot was taken, in seconds since 1970.", Type::kGauge,
     [](const P& p) { return double(p.newest_snapshot); },
     [](const P& p) { return p.snapshots > 0; }, Fold::kMax},
};

struct IoSide {
    const QV_IO_COUNTERS QV_MIRROR_STAT::*counters;
    const char* side;
    const char* traffic;
};
constexpr IoSide kIoSides[] = {{&QV_MIRROR_STAT::Io1, "primary", "application"},
                               {&QV_MIRROR_STAT::Io2, "mirror", "application"},
                               {&QV_MIRROR_STAT::Io3, "primary", "background"},
                               {&QV_MIRROR_STAT::Io4, "mirror", "background"}};

struct IoCounter {
    const char* suffix;
    const char* help;
    uint64_t (*value)(const QV_IO_COUNTERS&);
};
// The byte amounts are the low 32 bits of a KiB count: past 4 TiB they
// start again from 0, which Prometheus takes as a counter reset.
const IoCounter kIoCounters[] = {
    {"io_read_bytes_total", "Bytes read.", [](const QV_IO_COUNTERS& c) { return c.KiB1 * kKiB; }},
    {"io_written_bytes_total", "Bytes written.",
     [](const QV_IO_COUNTERS& c) { return c.KiB2 * kKiB; }},
    {"io_reads_total", "Read requests.", [](const QV_IO_COUNTERS& c) { return c.Count1; }},
    {"io_writes_total", "Write requests.", [](const QV_IO_COUNTERS& c) { return c.Count2; }},
    {"io_errors_total", "Failed requests.", [](const QV_IO_COUNTERS& c) { return c.Count3; }},
};

void WriteProtections(const std::vector<P>& ps, Exposition& out) {
    out.Family("quarvane_protection_info", "A protection: its primary and its mirror.",
               Type::kGauge);
    for (const P& p : ps) out.Sample({{"primary", p.primary}, {"mirror", p.mirror}}, uint64_t{1});
    Subjects each{"quarvane_protection_", "", {}};
    each.list.reserve(ps.size());
    for (const P& p : ps) each.list.push_back({"primary", p.primary, {&p}});
    WriteSubjects(each, out);
}

void WriteCluster(const ClusterReading& c, Exposition& out) {
    out.Family("quarvane_cluster_info", "The cluster the service's machine is a node of.",
               Type::kGauge);
    out.Sample(
        {{"cluster", c.name}, {"local_node", c.local_node}, {"partner_node", c.partner_node}},
        uint64_t{1});
    out.Family("quarvane_cluster_node_role",
               "This node's role in the service's pairing: 1 for the one it has.", Type::kGauge);
    out.Sample({{"role", "primary"}}, uint64_t{c.role == 1});
    out.Sample({{"role", "secondary"}}, uint64_t{c.role == 2});
    out.Family("quarvane_cluster_group_node",
               "The node that runs the cluster group, 1 or 2 as the cluster lists its nodes.",
               Type::kGauge);
    for (const auto& g : c.groups) out.Sample({{"group", g.name}}, double(g.node));
    out.Family("quarvane_cluster_group_running_here", "1 when this node runs the cluster group.",
               Type::kGauge);
    for (const auto& g : c.groups) out.Sample({{"group", g.name}}, uint64_t{g.here});
    out.Family("quarvane_cluster_group_failovers_total",
               "Failovers of the cluster group since the service was configured on it.",
               Type::kCounter);
    for (const auto& g : c.groups) out.Sample({{"group", g.name}}, double(g.failovers));
}

void WriteScrape(bool up, double seconds, Exposition& out) {
    out.Single("quarvane_up", "1 when the service answered the scrape, else 0.", Type::kGauge,
               up ? 1.0 : 0.0);
    out.Single("quarvane_scrape_duration_seconds", "How long reading the service took.",
               Type::kGauge, seconds);
}

}  // namespace

void Check(QV_STATUS status) {
    if (Broken(status)) throw Broke{status};
}

std::string ObjectText(const QV_WCHAR* name, uint32_t number) {
    return ToUtf8(name) + ":" + std::to_string(number);
}

void WriteSubjects(const Subjects& subjects, Exposition& out) {
    const auto family = [&](const char* suffix, const char* help, Type type) {
        out.Family(std::string(subjects.prefix) + suffix, std::string(help) + subjects.help, type);
    };
    WriteStateSet(out, subjects, "state", "1 for the state the protection is in.", "state", kStates,
                  [](const P& p) { return p.stat.State; });
    WriteStateSet(out, subjects, "condition", "1 for the condition the protection is in.",
                  "condition", kConditions, [](const P& p) { return p.stat.Condition; });
    // A group's share is its members' weighted by their sizes.
    family("synchronized_ratio", "Share of the primary that the mirror holds, 0 to 1.",
           Type::kGauge);
    for (const Subject& s : subjects.list) {
        const double size = Sum(s, Size);
        const double ratio =
            s.members.size() == 1 ? Synchronized(*s.members[0])
            : size > 0 ? Sum(s, [](const P& p) { return Synchronized(p) * Size(p); }) / size
            : s.members.empty() ? 1.0
                                : Sum(s, Synchronized) / double(s.members.size());
        out.Sample({{s.label, s.name}}, ratio);
    }
    for (const Gauge& g : kGauges) {
        family(g.suffix, g.help, g.type);
        for (const Subject& s : subjects.list) {
            double folded = 0;
            bool present = false;
            for (const P* p : s.members) {
                if (!g.present(*p)) continue;
                const double v = g.value(*p);
                folded = g.fold == Fold::kMax ? std::max(folded, v) : folded + v;
                present = true;
            }
            if (present) out.Sample({{s.label, s.name}}, folded);
        }
    }
    for (const IoCounter& c : kIoCounters) {
        family(c.suffix, c.help, Type::kCounter);
        for (const Subject& s : subjects.list) {
            for (const IoSide& side : kIoSides) {
                uint64_t sum = 0;
                for (const P* p : s.members) sum += c.value(p->stat.*side.counters);
                out.Sample({{s.label, s.name}, {"side", side.side}, {"traffic", side.traffic}},
                           sum);
            }
        }
    }
}

std::optional<Target> ParseTarget(const std::string& text, bool any_port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    Target t{text.substr(0, colon), 0};
    for (char c : t.host) {
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) {
            return std::nullopt;
        }
    }
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(first, last, port);
    if (ec != std::errc() || end != last || first == last || (port == 0 && !any_port) ||
        port > 65535) {
        return std::nullopt;
    }
    t.port = static_cast<uint16_t>(port);
    return t;
}

std::string ToUtf8(const QV_WCHAR* text) {
    if (text == nullptr) return {};
    const std::u16string_view in(text);
    std::string out(in.size() * 3 + 1, '\0');
    out.resize(qv::Utf16ToUtf8(in, out));
    return out;
}

void Log(const Target& target, const std::string& what) {
    // One write per line, so that lines of scrapes running at once do not mix.
    const std::string line = "quarvane-exporter: " + target.host + ":" +
                             std::to_string(target.port) + ": " + what + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

Reading Read(const Target& target, const Login& login) {
    Reading reading;
    const Session session(target, login);
    if (session.handle() == nullptr) {
        reading.status = session.status();
        return reading;
    }
    try {
        ReadProtections(session.handle(), reading);
        ReadGroups(session.handle(), reading);
        ReadCluster(session.handle(), reading);
        ReadNewestEvent(session.handle(), reading);
        reading.up = true;
    } catch (const Broke& broke) {
        Reading broken;
        broken.status = broke.status;
        return broken;
    }
    return reading;
}

void Write(const Reading& reading, double scrape_seconds, Exposition& out) {
    WriteScrape(reading.up, scrape_seconds, out);
    if (!reading.up) return;
    WriteProtections(reading.protections, out);
    WriteGroups(reading, out);
    if (reading.cluster) WriteCluster(*reading.cluster, out);
    if (reading.newest_event) {
        out.Single("quarvane_event_last_sequence_number",
                   "Sequence number of the newest event in the service's event log.", Type::kGauge,
                   double(*reading.newest_event));
    }
}

void WriteDown(double scrape_seconds, Exposition& out) { WriteScrape(false, scrape_seconds, out); }

std::string Scrape(const Target& target, const Login& login) {
    const auto start = std::chrono::steady_clock::now();
    const Reading reading = Read(target, login);
    if (!reading.up) {
        QV_WCHAR* text = nullptr;
        qvFormatErrMessage(nullptr, reading.status, &text);
        char word[12];
        std::snprintf(word, sizeof word, "%08X", static_cast<unsigned>(reading.status));
        Log(target, ToUtf8(text) + " (error " + word + ")");
        qvFreeErrMessage(&text);
    }
    Exposition out;
    Write(reading, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          out);
    return out.Take();
}

}  // namespace qvexp
