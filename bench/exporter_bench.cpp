// quarvane-exporter's cost: one scrape (connect, the list and statistics
// calls, disconnect, the exposition written) against quarvane-sim with 10
// to 1,000 protections in groups of 10, its time and bytes of output; the exporter's
// resident memory over 10,000 scrapes served over HTTP; and its requests per
// second under concurrent scrapes.
//
// The CPU column is the scrape's own work, the library's and the
// exposition's; the wall time also holds quarvane-sim's answers, and the
// sim brings its whole model up to date on every request.
//
//   make bench-exporter
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "collector.h"
#include "processes.h"

namespace {

constexpr int kDisks = 40;
constexpr int kPartitions = 50;  // 20 pairs of disks, 1,000 pairs of partitions

// quarvane-sim with an inventory of kDisks disks of kPartitions small
// partitions each, and `protections` protections, partition by partition of
// the next disk.
class Sim {
  public:
    Sim() {
        nlohmann::json disks = nlohmann::json::array();
        for (int d = 0; d < kDisks; ++d) {
            nlohmann::json parts = nlohmann::json::array();
            for (int p = 1; p <= kPartitions; ++p)
                parts.push_back({{"number", p}, {"size_mib", 16}});
            disks.push_back({{"number", d},
                             {"name", "Disk" + std::to_string(d)},
                             {"size_mib", 16 * kPartitions + 16},
                             {"partitions", parts}});
        }
        const std::string inventory =
            dir_.Write("inventory.json", nlohmann::json{{"disks", disks}}.dump());
        daemon_ =
            std::make_unique<qvtest::Daemon>(std::vector<std::string>{"--inventory", inventory});
        const QV_CONNECT_PARAM param{u"127.0.0.1", daemon_->port, u"admin", u"secret"};
        if (qvConnect(&param, &handle_) != QV_STATUS_SUCCESS) throw std::runtime_error("no login");
    }
    ~Sim() { qvDisconnect(&handle_); }

    // Protections up to `protections`, and a group for every 10 of them.
    void Protect(int protections) {
        for (; enabled_ < protections; ++enabled_) {
            const std::u16string primary = Primary(enabled_);
            const std::u16string mirror = u"Disk" + Number(2 * (enabled_ / kPartitions) + 1);
            const uint32_t number = static_cast<uint32_t>(enabled_ % kPartitions + 1);
            QV_MIRROR_ENABLE enable{};
            enable.Config.Primary = {primary.c_str(), number};
            enable.Config.Mirror = {mirror.c_str(), number};
            if (qvEnableMirror(handle_, &enable) != QV_STATUS_SUCCESS) {
                throw std::runtime_error("enable failed");
            }
            if (enabled_ % kPerGroup == kPerGroup - 1) Group(enabled_ / kPerGroup);
        }
    }
    uint16_t port() const { return daemon_->port; }

  private:
    static constexpr int kPerGroup = 10;

    static std::u16string Primary(int protection) {
        return u"Disk" + Number(2 * (protection / kPartitions));
    }
    void Group(int group) {
        const std::u16string name = u"Group" + Number(group);
        QV_GROUP_CONFIG config{};
        config.Name = name.c_str();
        std::vector<std::u16string> names;
        std::vector<QV_OBJECT_ID> ids;
        for (int k = group * kPerGroup; k < (group + 1) * kPerGroup; ++k)
            names.push_back(Primary(k));
        for (int k = 0; k < kPerGroup; ++k) {
            ids.push_back({names[k].c_str(),
                           static_cast<uint32_t>((group * kPerGroup + k) % kPartitions + 1)});
        }
        std::vector<const QV_OBJECT_ID*> members;
        for (const QV_OBJECT_ID& id : ids) members.push_back(&id);
        if (qvCreateGroup(handle_, &config) != QV_STATUS_SUCCESS ||
            qvAddGroupMembers(handle_, name.c_str(), kPerGroup, members.data()) !=
                QV_STATUS_SUCCESS) {
            throw std::runtime_error("group failed");
        }
    }
    static std::u16string Number(int n) {
        const std::string s = std::to_string(n);
        return {s.begin(), s.end()};
    }
    qvtest::TempDir dir_;
    std::unique_ptr<qvtest::Daemon> daemon_;
    QV_HANDLE handle_ = nullptr;
    int enabled_ = 0;
};

Sim& TheSim() {
    static Sim sim;
    return sim;
}

const qvexp::Login kLogin{u"admin", u"secret"};

void BM_Scrape(benchmark::State& state) {
    Sim& sim = TheSim();
    sim.Protect(static_cast<int>(state.range(0)));
    const qvexp::Target target{"127.0.0.1", sim.port()};
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = qvexp::Scrape(target, kLogin);
        if (text.find("\nquarvane_up 1\n") == std::string::npos)
            state.SkipWithError("service down");
        bytes = text.size();
    }
    state.counters["output_bytes"] = static_cast<double>(bytes);
    state.counters["bytes_per_protection"] =
        static_cast<double>(bytes) / static_cast<double>(state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Scrape)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The exporter process, scraped 10,000 times over HTTP (10 protections):
// its resident memory after the first 1,000 scrapes and after the last.
void BM_ExporterResidentMemory(benchmark::State& state) {
    Sim sim;
    sim.Protect(10);
    const std::string target = "/probe?target=127.0.0.1:" + std::to_string(sim.port());
    for (auto _ : state) {
        qvtest::Daemon exporter(QV_EXPORTER_EXE, {"--listen", "127.0.0.1:0"}, "");
        httplib::Client client("127.0.0.1", exporter.port);
        client.set_keep_alive(true);
        long after_warmup = 0;
        for (int i = 1; i <= 10000; ++i) {
            const auto r = client.Get(target.c_str());
            if (!r || r->status != 200) state.SkipWithError("scrape failed");
            if (i == 1000) after_warmup = qvtest::ResidentKiB(exporter.pid);
        }
        const long after_all = qvtest::ResidentKiB(exporter.pid);
        state.counters["rss_kib_after_1000"] = static_cast<double>(after_warmup);
        state.counters["rss_kib_after_10000"] = static_cast<double>(after_all);
        state.counters["rss_growth_kib"] = static_cast<double>(after_all - after_warmup);
    }
}
BENCHMARK(BM_ExporterResidentMemory)->Iterations(1)->Unit(benchmark::kSecond);

// The exporter process (its default 16 threads) scraped by 1, 16 or 200
// clients at once, 2,000 scrapes in all (/probe, 10 protections): requests
// answered per second, and of them those that reached the service; past
// four scrapes of one target at once the others answer down at once.
void BM_ConcurrentScrapes(benchmark::State& state) {
    Sim sim;
    sim.Protect(10);
    const std::string target = "/probe?target=127.0.0.1:" + std::to_string(sim.port());
    const auto clients = static_cast<int>(state.range(0));
    const qvtest::TempDir dir;
    const std::string login = dir.Write("login", "user=admin\npassword=secret\n");
    chmod(login.c_str(), 0600);
    for (auto _ : state) {
        qvtest::Daemon exporter(QV_EXPORTER_EXE,
                                {"--listen", "127.0.0.1:0", "--credentials", login}, "");
        std::atomic<int> answered{0}, up{0};
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> crowd;
        for (int c = 0; c < clients; ++c) {
            crowd.emplace_back([&] {
                httplib::Client client("127.0.0.1", exporter.port);
                for (int i = 0; i < 2000 / clients; ++i) {
                    const auto r = client.Get(target.c_str());
                    if (!r || r->status != 200) continue;
                    ++answered;
                    if (r->body.find("\nquarvane_up 1\n") != std::string::npos) ++up;
                }
            });
        }
        for (std::thread& t : crowd) t.join();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (answered != 2000 / clients * clients) state.SkipWithError("scrapes unanswered");
        state.counters["requests_per_second"] = answered / took.count();
        state.counters["up_per_second"] = up / took.count();
    }
}
BENCHMARK(BM_ConcurrentScrapes)->Arg(1)->Arg(16)->Arg(200)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
