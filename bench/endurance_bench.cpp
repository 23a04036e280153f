// Endurance and scale against a real quarvane-sim: the cost of a call with
// 1, 100 and 1,000 handles open and what each open handle holds; 100,000
// connect/call/disconnect cycles and 100,000 failing calls that write the
// trace file and rotate it, with the drift of descriptors and resident
// memory over them; the daemon's requests per second with 1 to 200 clients.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "qvcliapi.h"
#include "sim/processes.h"
#include "support/test_service.h"

namespace {

constexpr int64_t kCycles = 100000;
constexpr int64_t kSampleEvery = 10000;

// quarvane-sim with its sample inventory for the program's whole run,
// allowed (like this process) thousands of descriptors.
const qvtest::Daemon& Sim() {
    static const bool raised = [] {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
        return setrlimit(RLIMIT_NOFILE, &limit) == 0;
    }();
    static const qvtest::Daemon daemon({});
    (void)raised;
    return daemon;
}

QV_HANDLE Open() {
    const QV_CONNECT_PARAM param{u"127.0.0.1", Sim().port, u"admin", u"secret"};
    QV_HANDLE handle = nullptr;
    return qvConnect(&param, &handle) == 0 ? handle : nullptr;
}

// One call with a reply of a few records: the disks of the sample.
bool Call(QV_HANDLE handle) {
    const QV_DISK_FILTER filter{5, 0, 0, nullptr};
    QV_DISK_LIST list{};
    const QV_STATUS status = qvGetDiskList(handle, &filter, &list);
    QV_DISK_LIST* listed = &list;
    qvFreeDiskList(&listed, 1);
    return status == 0;
}

// Descriptors and resident memory of this process sampled along a long
// run; the least-squares slope of each per 10,000 operations.
class Drift {
  public:
    void Sample(int64_t done) {
        done_.push_back(static_cast<double>(done) / kSampleEvery);
        fds_.push_back(static_cast<double>(qvtest::OpenDescriptors()));
        rss_.push_back(static_cast<double>(qvtest::ResidentKiB()));
    }
    void Report(benchmark::State& state) const {
        if (done_.size() < 2) return;
        state.counters["fds_first"] = fds_.front();
        state.counters["fds_last"] = fds_.back();
        state.counters["fds_per_10k"] = Slope(fds_);
        state.counters["rss_kib_first"] = rss_.front();
        state.counters["rss_kib_last"] = rss_.back();
        state.counters["rss_kib_per_10k"] = Slope(rss_);
    }

  private:
    double Slope(const std::vector<double>& y) const {
        const double n = static_cast<double>(y.size());
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (std::size_t i = 0; i < y.size(); ++i) {
            sx += done_[i];
            sy += y[i];
            sxx += done_[i] * done_[i];
            sxy += done_[i] * y[i];
        }
        return (n * sxy - sx * sy) / (n * sxx - sx * sx);
    }
    std::vector<double> done_, fds_, rss_;
};

// Calls on the first handle only (round 0) or on each in turn (round 1).
void BM_CallWithHandlesOpen(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const bool round = state.range(1) != 0;
    const pid_t sim = Sim().pid;
    const long fds = qvtest::OpenDescriptors();
    const long rss = qvtest::ResidentKiB();
    const long sim_rss = qvtest::ResidentKiB(sim);
    qvbench::StartCounting();
    std::vector<QV_HANDLE> handles;
    while (handles.size() < count) {
        handles.push_back(Open());
        if (handles.back() == nullptr) {
            handles.pop_back();
            break;
        }
    }
    const qvbench::HeapUse heap = qvbench::StopCounting();
    const auto per = [&](double total) { return total / static_cast<double>(count); };
    state.counters["fds_per_handle"] = per(qvtest::OpenDescriptors() - fds);
    state.counters["heap_bytes_per_handle"] = per(static_cast<double>(heap.in_use));
    state.counters["rss_kib_per_handle"] = per(qvtest::ResidentKiB() - rss);
    state.counters["sim_rss_kib_per_handle"] = per(qvtest::ResidentKiB(sim) - sim_rss);

    if (handles.size() < count) state.SkipWithError("a handle could not connect");
    std::size_t next = 0;
    for (auto _ : state) {
        if (handles.empty() || !Call(handles[next])) {
            state.SkipWithError("a call failed");
            break;
        }
        if (round) next = (next + 1) % handles.size();
    }
    for (QV_HANDLE& handle : handles) qvDisconnect(&handle);
}
BENCHMARK(BM_CallWithHandlesOpen)
    ->ArgsProduct({{1, 100, 1000}, {0, 1}})->ArgNames({"handles", "round"})
    ->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_ConnectCallDisconnectCycles(benchmark::State& state) {
    Sim();
    Drift drift;
    int64_t done = 0;
    for (auto _ : state) {
        QV_HANDLE handle = Open();
        if (handle == nullptr || !Call(handle) || qvDisconnect(&handle) != 0) {
            state.SkipWithError("a cycle failed");
            break;
        }
        if (++done % kSampleEvery == 0) drift.Sample(done);
    }
    drift.Report(state);
}
BENCHMARK(BM_ConnectCallDisconnectCycles)
    ->Iterations(kCycles)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A handle whose service has gone: every call fails, and each failure
// writes its lines to a trace file that rotates every 2 MiB.
void BM_FailingCallsWithRotation(benchmark::State& state) {
    const qvtest::TempDir dir;
    std::filesystem::create_directory(dir / "log");
    const std::string parameters = dir.Write("parameters.ini", "[Parameters]\nPath=" + dir.path().string() + "\n");
    const char* before = std::getenv("QUARVANE_PARAMETERS");
    const std::string restore = before != nullptr ? before : "";
    setenv("QUARVANE_PARAMETERS", parameters.c_str(), 1);
    QV_HANDLE handle = nullptr;
    {
        const qvtest::TestService gone;
        const QV_CONNECT_PARAM param = gone.Params();
        if (qvConnect(&param, &handle) != 0) state.SkipWithError("no connection");
    }

    Drift drift;
    int64_t done = 0;
    for (auto _ : state) {
        QV_MIRROR_STAT stat;
        if (qvGetMirrorStat(handle, u"Harddisk1", 1, &stat) == 0) {
            state.SkipWithError("a call succeeded");
            break;
        }
        if (++done % kSampleEvery == 0) drift.Sample(done);
    }
    drift.Report(state);
    if (handle != nullptr) qvDisconnect(&handle);
    setenv("QUARVANE_PARAMETERS", restore.c_str(), 1);

    const std::regex scheme(R"(qvapi([1-9]|10)?\.log)");
    int files = 0, outside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "log")) {
        ++files;
        outside += !std::regex_match(entry.path().filename().string(), scheme);
    }
    state.counters["trace_files"] = files;
    state.counters["names_outside_scheme"] = outside;
}
BENCHMARK(BM_FailingCallsWithRotation)
    ->Iterations(kCycles)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Clients of their own each, calling as fast as the daemon answers:
// items_per_second is the daemon's requests per second.
void BM_SimRequests(benchmark::State& state) {
    QV_HANDLE handle = Open();
    for (auto _ : state) {
        if (handle == nullptr || !Call(handle)) {
            state.SkipWithError("a call failed");
            break;
        }
    }
    if (handle != nullptr) qvDisconnect(&handle);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SimRequests)->Threads(1)->Threads(16)->Threads(200)->UseRealTime();

}  // namespace
