// What an exported function costs over the bare call of its procedure.
//
// Both sides talk to the same in-process test service on loopback and get
// the same reply bytes. The library side is the exported function; the
// bare side is the generated stub with a request built once, followed by
// xdr_free of the reply: what a hand-written client would do at the least.
// The two alternate call by call, so that whatever else the machine does
// weighs on both alike; each benchmark reports both means and their ratio.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string_view>

#include "connection/handle.h"
#include "proc_table.h"
#include "support/sample_replies.h"
#include "support/test_service.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kToken = 0x600D;
constexpr char16_t kName[] = u"Harddisk0";

// Runs `library` and `bare` alternately, first one then the other first,
// and reports the mean of each and the ratio library / bare.
template <typename Library, typename Bare>
void Alternate(benchmark::State& state, Library&& library, Bare&& bare) {
    Clock::duration library_time{};
    Clock::duration bare_time{};
    bool library_first = true;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (library_first) {
            library();
        } else {
            bare();
        }
        const auto t1 = Clock::now();
        if (library_first) {
            bare();
        } else {
            library();
        }
        const auto t2 = Clock::now();
        library_time += library_first ? t1 - t0 : t2 - t1;
        bare_time += library_first ? t2 - t1 : t1 - t0;
        library_first = !library_first;
    }
    const double n = static_cast<double>(state.iterations());
    const double library_us = std::chrono::duration<double, std::micro>(library_time).count() / n;
    const double bare_us = std::chrono::duration<double, std::micro>(bare_time).count() / n;
    state.counters["library_us"] = library_us;
    state.counters["bare_us"] = bare_us;
    state.counters["ratio"] = library_us / bare_us;
}

// A TCP client of the test service, as the library would open it.
CLIENT* BareClient(const qvtest::TestService& svc) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(svc.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int socket = RPC_ANYSOCK;
    CLIENT* client = clnttcp_create(&address, QUARVANE_PROG, QUARVANE_VERS, &socket, 0, 0);
    if (client != nullptr) {
        timeval timeout{60, 0};
        clnt_control(client, CLSET_TIMEOUT, reinterpret_cast<char*>(&timeout));
    }
    return client;
}

// The request the bare side sends again and again: the object named as the
// library names it, its text not copied.
struct BareObject {
    u_short units[std::size(kName)];
    RpcObjectRef ref{};

    BareObject() {
        std::copy(std::begin(kName), std::end(kName), units);
        ref.name = {static_cast<u_int>(std::size(units)), units};
        ref.number = 1;
        ref.token = kToken;
    }
};

// An open handle and a bare client on the same service.
struct Connected {
    qvtest::TestService svc;
    QV_HANDLE handle = nullptr;
    CLIENT* bare = nullptr;

    Connected() {
        svc.Answer<LOGIN>({.status = 0, .token = kToken});
        const QV_CONNECT_PARAM params = svc.Params();
        if (qvConnect(&params, &handle) != 0) handle = nullptr;
        bare = BareClient(svc);
    }
    ~Connected() {
        if (handle != nullptr && qvDisconnect(&handle) != 0) {
            clnt_destroy(qv::GetRpcClient(handle));
            qvFreeHandle(&handle);
        }
        if (bare != nullptr) clnt_destroy(bare);
    }
    bool ok() const { return handle != nullptr && bare != nullptr; }
};

// Statistics of a protection in its normal state: nothing for the trace.
qvtest::Bytes SteadyStats() {
    const auto filter = qv::wire::Proc<GET_MIRROR_STATS>::ResFilter();
    qvtest::Decoded<RpcMirrorStats> stats(filter, qvtest::SampleReply(GET_MIRROR_STATS));
    RpcMirrorStats steady = *stats;
    steady.State = 1;
    return qvtest::Encode(filter, &steady);
}

template <unsigned P>
bool BareCall(CLIENT* client, typename qv::wire::Proc<P>::Arg& arg) {
    using Proc = qv::wire::Proc<P>;
    typename Proc::Res res;
    std::memset(static_cast<void*>(&res), 0, sizeof res);
    const bool ok = Proc::Stub(&arg, &res, client) == RPC_SUCCESS;
    xdr_free(Proc::ResFilter(), reinterpret_cast<char*>(&res));
    return ok;
}

void GetMirrorStat(benchmark::State& state) {
    Connected c;
    c.svc.AnswerRaw(GET_MIRROR_STATS, SteadyStats());
    BareObject object;
    QV_MIRROR_STAT stat{};
    if (!c.ok() || qvGetMirrorStat(c.handle, kName, 1, &stat) != 0 ||
        !BareCall<GET_MIRROR_STATS>(c.bare, object.ref)) {
        state.SkipWithError("no call through");
        return;
    }
    Alternate(
        state,
        [&] {
            benchmark::DoNotOptimize(qvGetMirrorStat(c.handle, kName, 1, &stat));
            benchmark::DoNotOptimize(stat);
        },
        [&] { benchmark::DoNotOptimize(BareCall<GET_MIRROR_STATS>(c.bare, object.ref)); });
}

void SuspendMirror(benchmark::State& state) {
    Connected c;
    c.svc.AnswerRaw(SUSPEND_MIRROR, qvtest::SampleReply(SUSPEND_MIRROR));
    BareObject object;
    if (!c.ok() || qvSuspendMirror(c.handle, kName, 1) != 0 ||
        !BareCall<SUSPEND_MIRROR>(c.bare, object.ref)) {
        state.SkipWithError("no call through");
        return;
    }
    Alternate(
        state, [&] { benchmark::DoNotOptimize(qvSuspendMirror(c.handle, kName, 1)); },
        [&] { benchmark::DoNotOptimize(BareCall<SUSPEND_MIRROR>(c.bare, object.ref)); });
}

// A whole session: connect, log in, log out, close.
void ConnectDisconnect(benchmark::State& state) {
    qvtest::TestService svc;
    svc.Answer<LOGIN>({.status = 0, .token = kToken});
    const QV_CONNECT_PARAM params = svc.Params();

    u_short host[] = {'1', '2', '7', '.', '0', '.', '0', '.', '1', 0};
    u_short login1[] = {'a', 'd', 'm', 'i', 'n', 0};
    u_short login2[] = {'s', 'e', 'c', 'r', 'e', 't', 0};
    RpcLogin login{
        {std::size(host), host}, {std::size(login1), login1}, {std::size(login2), login2}};

    const auto library = [&] {
        QV_HANDLE handle = nullptr;
        if (qvConnect(&params, &handle) != 0) return false;
        return qvDisconnect(&handle) == 0;
    };
    const auto bare = [&] {
        CLIENT* client = BareClient(svc);
        if (client == nullptr) return false;
        RpcTokenRecord token{};
        bool ok = login_1(&login, &token, client) == RPC_SUCCESS;
        RpcStatus status{};
        ok = ok && logout_1(&token, &status, client) == RPC_SUCCESS;
        clnt_destroy(client);
        return ok;
    };
    if (!library() || !bare()) {
        state.SkipWithError("no session");
        return;
    }
    Alternate(
        state, [&] { benchmark::DoNotOptimize(library()); },
        [&] { benchmark::DoNotOptimize(bare()); });
}

}  // namespace

// Round trips vary with whatever else the machine does: five runs each, of
// which the summary takes the median.
void Repeated(benchmark::internal::Benchmark* b) {
    b->UseRealTime()->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(GetMirrorStat)->Name("Overhead/qvGetMirrorStat")->Apply(Repeated);
BENCHMARK(SuspendMirror)->Name("Overhead/qvSuspendMirror")->Apply(Repeated);
BENCHMARK(ConnectDisconnect)->Name("Overhead/qvConnect+qvDisconnect")->Apply(Repeated);
