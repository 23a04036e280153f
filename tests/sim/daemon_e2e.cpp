// What the library never sends, on raw connections: tokens never issued or
// closed, records without their objects, calls outside the protocol,
// undecodable arguments, clients that leave before their reply. Then the
// daemon's own life: its state file, its sample inventory, what stops it
// from starting, its exit status and its request log.
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <latch>
#include <regex>
#include <thread>

#include "fixture.h"
#include "proc_table.h"
#include "quarvane.h"

namespace simtest {
namespace {

enum : uint32_t { kSuccess = 0, kProgMismatch = 2, kProcUnavailable = 3, kGarbageArgs = 4 };
constexpr rlim_t kDescriptors = 1100;  // a thousand connections and some

// Big-endian 32-bit words, as XDR writes them.
std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(w >> shift));
    }
    return out;
}
void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) {
    out.insert(out.end(), more.begin(), more.end());
}
uint32_t GetWord(const std::vector<uint8_t>& in, std::size_t index) {
    if (index * 4 + 4 > in.size()) return 0xDEADBEEF;
    const uint8_t* at = in.data() + index * 4;
    return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
}

// A record-marked call of procedure `proc` with `args`.
std::vector<uint8_t> CallRecord(uint32_t xid, uint32_t proc, const std::vector<uint8_t>& args,
                                uint32_t version = QUARVANE_VERS) {
    std::vector<uint8_t> record =
        Words({0x80000000u | static_cast<uint32_t>(40 + args.size()), xid, 0 /* call */, 2,
               QUARVANE_PROG, version, proc, 0, 0 /* no credentials */, 0, 0 /* no verifier */});
    Append(record, args);
    return record;
}

// A zeroed argument record of procedure P but for its token, encoded by P's
// own filter.
template <unsigned P>
std::vector<uint8_t> Args(uint32_t token) {
    typename qv::wire::Proc<P>::Arg arg{};
    arg.token = token;
    std::vector<uint8_t> out(xdr_sizeof(qv::wire::Proc<P>::ArgFilter(), &arg));
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(out.data()), static_cast<u_int>(out.size()),
                  XDR_ENCODE);
    EXPECT_TRUE(qv::wire::Proc<P>::ArgFilter()(&xdrs, &arg));
    xdr_destroy(&xdrs);
    return out;
}

// A text as XDR carries it: the count of units with the terminator, then
// one word per unit.
std::vector<uint8_t> Text(std::u16string_view text) {
    std::vector<uint8_t> out = Words({static_cast<uint32_t>(text.size() + 1)});
    for (char16_t unit : text) Append(out, Words({unit}));
    Append(out, Words({0}));
    return out;
}

std::vector<uint8_t> ListArgs(uint32_t code, uint32_t token) {
    return Words({code, 0, 0 /* no name */, 0, 0, 0, token});
}

// A TCP connection to the daemon on loopback; closed with a reset when
// `abort` is set.
struct RawConnection {
    explicit RawConnection(uint16_t port) : fd(qvtest::ConnectLoopback(port)) {
        EXPECT_GE(fd, 0);
    }
    ~RawConnection() {
        const linger reset{1, 0};
        if (abort) setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        close(fd);
    }
    void Send(const std::vector<uint8_t>& bytes) const {
        EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), std::ssize(bytes));
    }
    // One whole record, all fragments; empty when the daemon closed.
    std::vector<uint8_t> ReadRecord() const {
        std::vector<uint8_t> record;
        for (uint32_t mark = 0; (mark & 0x80000000u) == 0;) {
            std::vector<uint8_t> head(4);
            if (recv(fd, head.data(), 4, MSG_WAITALL) != 4) return {};
            mark = GetWord(head, 0);
            const std::size_t at = record.size();
            record.resize(at + (mark & 0x7FFFFFFFu));
            const auto size = static_cast<ssize_t>(record.size() - at);
            if (size > 0 && recv(fd, record.data() + at, size, MSG_WAITALL) != size) return {};
        }
        return record;
    }
    const int fd;
    bool abort = false;
};

class SimDaemon : public SimE2e {
  protected:
    void SetUp() override {
        // Room for a thousand connections, here and in the daemon, which
        // inherits the limit.
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::max(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, kDescriptors));
        setrlimit(RLIMIT_NOFILE, &limit);
        Start();
        raw_.emplace(daemon_->port);
        token_ = Login();
        ASSERT_NE(token_, 0u);
    }
    // One call on the raw connection; the reply, whose word 5 is the accept
    // status and 6 the first of the result (most often the status word).
    std::vector<uint8_t> Call(uint32_t proc, const std::vector<uint8_t>& args,
                              uint32_t version = QUARVANE_VERS) {
        raw_->Send(CallRecord(++xid_, proc, args, version));
        std::vector<uint8_t> reply = raw_->ReadRecord();
        EXPECT_EQ(GetWord(reply, 0), xid_);
        return reply;
    }
    uint32_t Login() {
        std::vector<uint8_t> args = Text(u"127.0.0.1");
        Append(args, Text(u"admin"));
        Append(args, Text(u"secret"));
        return GetWord(Call(LOGIN, args), 7);
    }
    uint32_t Logout(uint32_t token) { return GetWord(Call(LOGOUT, Words({0, token})), 6); }
    // The daemon still serves, through the library on a connection of its own.
    void ExpectServing() {
        DiskList list;
        EXPECT_EQ(List(list, 5), 0u);
        EXPECT_EQ(list.Count, 6u);
    }

    std::optional<RawConnection> raw_;
    uint32_t token_ = 0;
    uint32_t xid_ = 0;
};

TEST_F(SimDaemon, RequestsTheLibraryNeverSendsAreAnswered) {
    struct Case {
        const char* what;
        uint32_t proc;
        std::vector<uint8_t> args;
        uint32_t accept;
        uint32_t status = 0;
        uint32_t version = QUARVANE_VERS;
    };
    const uint32_t t = token_;
    const auto disk1 = [t](uint32_t number) {
        std::vector<uint8_t> ref = Words({0});
        Append(ref, Text(u"Disk1"));
        Append(ref, Words({number, t}));
        return ref;
    };
    ASSERT_EQ(Enable(Pair()), 0u);
    const Case cases[] = {
        {"token 0", GET_DISK_LIST, ListArgs(3, 0), kSuccess, kNotConnected},
        {"a token never issued", GET_DISK_LIST, ListArgs(3, t + 1), kSuccess, kNotConnected},
        {"an unknown list code", GET_DISK_LIST, ListArgs(7, t), kSuccess, kInvalid},
        // Records without the objects they name.
        {"enable", ENABLE_MIRROR, Args<ENABLE_MIRROR>(t), kSuccess, kInvalid},
        {"verify", VERIFY_DATA, Args<VERIFY_DATA>(t), kSuccess, kInvalid},
        {"restore", RESTORE_PRIMARY, Args<RESTORE_PRIMARY>(t), kSuccess, kInvalid},
        {"set data trace", SET_DATA_TRACE_CONFIG, Args<SET_DATA_TRACE_CONFIG>(t), kSuccess,
         kInvalid},
        {"config list by object", GET_MIR_CONFIG_LIST, Words({1, t, 0 /* no objects */, 0}),
         kSuccess, kInvalid},
        // Procedures not modelled: refused after the token, their results zeroed.
        {"not modelled", TAKE_SNAPSHOT, Args<TAKE_SNAPSHOT>(t), kSuccess, kInvalid},
        {"not modelled, bad token", TAKE_SNAPSHOT, Args<TAKE_SNAPSHOT>(t + 1), kSuccess,
         kNotConnected},
        // Nothing to check the caller by, and no word to refuse with: a zeroed result.
        {"not modelled, no token", LOOKUP_OBJECT, [] {
             std::vector<uint8_t> a = Text(u"Disk1");
             Append(a, Words({1}));
             return a;
         }(), kSuccess, 0},
        {"no status word", GET_SNAPSHOT_SCHEDULE, Words({0, 0, 1, t}), kSuccess, 0},
        // The one configuration by its primary, which the library lists instead.
        {"configuration of Disk1:1", GET_MIRROR_CONFIG, disk1(1), kSuccess, 0},
        {"configuration of Disk1:2", GET_MIRROR_CONFIG, disk1(2), kSuccess, kNotFound},
        // Not the protocol.
        {"an unknown procedure", qv::wire::kProcCount, {}, kProcUnavailable},
        {"an unknown version", LOGIN, {}, kProgMismatch, 0, QUARVANE_VERS + 1},
        // Undecodable arguments.
        {"no arguments at all", GET_MIRROR_STATS, {}, kGarbageArgs},
        {"a string beyond the request", GET_DISK_LIST, Words({1, 0, 0x7FFFFFFF, 0x41}),
         kGarbageArgs},
        {"four billion references", ENABLE_MIRROR, Words({0, 0xFFFFFFFF, 0, 0}), kGarbageArgs},
        {"an array claiming more than it has", GET_MIR_CONFIG_LIST,
         Words({1, t, 0x00100000, 0, 1, 0x41}), kGarbageArgs},
        {"half a host name", LOGIN, Words({5, 0x61, 0x62}), kGarbageArgs},
        {"a name of two billion units", SET_DATA_TRACE_CONFIG, Words({0, t, 1, 0, 0x7FFFFFF0}),
         kGarbageArgs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> reply = Call(c.proc, c.args, c.version);
        ASSERT_GE(reply.size(), 24u);
        EXPECT_EQ(GetWord(reply, 1), 1u);  // a reply
        EXPECT_EQ(GetWord(reply, 2), 0u);  // accepted
        EXPECT_EQ(GetWord(reply, 5), c.accept);
        if (c.accept == kSuccess) {
            EXPECT_EQ(Said(GetWord(reply, 6)), Said(c.status));
        }
    }
    // The same connection carries good calls still, and everyone else is served.
    const std::vector<uint8_t> good = Call(GET_DISK_LIST, ListArgs(3, t));
    EXPECT_EQ(GetWord(good, 6), 0u);
    EXPECT_EQ(GetWord(good, 7), 6u);  // disks
    ExpectServing();
}

TEST_F(SimDaemon, SessionsEndAtLogoutOrWhenTooManyAreOpen) {
    EXPECT_EQ(Logout(token_), 0u);
    EXPECT_EQ(Said(Logout(token_)), Said(kNotConnected));
    EXPECT_EQ(Said(GetWord(Call(GET_DISK_LIST, ListArgs(3, token_)), 6)), Said(kNotConnected));

    // Clients that never log out cannot grow the daemon without end: of
    // more than 4096 sessions the oldest closes.
    ASSERT_EQ(qvDisconnect(&handle_), 0u);  // now none is open
    const uint32_t first = Login();
    const uint32_t second = Login();
    for (int open = 2; open < 4096; ++open) ASSERT_NE(Login(), 0u);
    ASSERT_NE(Login(), 0u);
    EXPECT_EQ(Said(Logout(first)), Said(kNotConnected));
    EXPECT_EQ(Logout(second), 0u);
}

TEST_F(SimDaemon, AThousandHandlesOfTwoHundredClientsAreServedWhileOthersStallOrReadNothing) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < kDescriptors) GTEST_SKIP() << "descriptor limit " << limit.rlim_cur;
    // One client sends half a call and stalls; another sends a thousand
    // calls and reads none of their replies for now.
    const std::vector<uint8_t> call = CallRecord(++xid_, GET_DISK_LIST, ListArgs(3, token_));
    const auto half = call.begin() + static_cast<std::ptrdiff_t>(call.size() / 2);
    RawConnection stalled(daemon_->port);
    stalled.Send({call.begin(), half});
    constexpr uint32_t kUnread = 1000;
    std::vector<uint8_t> burst;
    for (uint32_t i = 1; i <= kUnread; ++i) Append(burst, CallRecord(i, GET_DISK_LIST, ListArgs(3, token_)));
    RawConnection deaf(daemon_->port);
    deaf.Send(burst);

    // The crowd: every client connected, with five handles, before any of
    // them calls.
    constexpr int kClients = 200;
    std::latch connected(kClients);
    std::atomic<int> served{0};
    std::vector<std::thread> crowd;
    for (int c = 0; c < kClients; ++c) {
        crowd.emplace_back([&] {
            QV_HANDLE handles[5] = {};
            uint32_t failed = 0;
            for (QV_HANDLE& handle : handles) {
                uint32_t status = 1;
                handle = Connect(user_, password_, &status);
                failed |= status;
            }
            connected.arrive_and_wait();
            const QV_DISK_FILTER filter{5, 0, 0, nullptr};
            for (QV_HANDLE& handle : handles) {
                DiskList list;
                failed |= qvGetDiskList(handle, &filter, list.Reset()) | (list.Count != 6 ? 1 : 0);
                failed |= qvDisconnect(&handle);
            }
            if (failed == 0) ++served;
        });
    }
    for (std::thread& t : crowd) t.join();
    EXPECT_EQ(served, kClients);
    std::ifstream status("/proc/" + std::to_string(daemon_->pid) + "/status");
    const std::string text(std::istreambuf_iterator<char>(status), {});
    EXPECT_NE(text.find("\nThreads:\t1\n"), std::string::npos) << text;

    // Nothing was lost meanwhile: every reply in order, and the half call
    // answered once complete.
    for (uint32_t i = 1; i <= kUnread; ++i) ASSERT_EQ(GetWord(deaf.ReadRecord(), 0), i);
    stalled.Send({half, call.end()});
    EXPECT_EQ(GetWord(stalled.ReadRecord(), 7), 6u);
}

TEST_F(SimDaemon, AFloodOfMalformedRecordsIsAnsweredOrDroppedWithoutGrowth) {
    // Freed blocks are not held back for inspection, so that what the
    // daemon holds is what it uses.
    setenv("ASAN_OPTIONS", "quarantine_size_mb=0:thread_local_quarantine_size_kb=0", 1);
    Daemon target({"--inventory", dir_.Write("flood.json", kInventory)});
    unsetenv("ASAN_OPTIONS");
    const uint32_t t = token_;
    std::vector<uint8_t> round;
    for (const auto& record : {
             CallRecord(1, GET_MIRROR_STATS, {}),  // arguments missing
             CallRecord(2, GET_MIR_CONFIG_LIST, Words({1, t, 0x00100000, 0, 1, 0x41})),
             CallRecord(3, ENABLE_MIRROR, Words({0, 0xFFFFFFFF, 0, 0})),
             CallRecord(4, qv::wire::kProcCount, {}),
             Words({0x80000008, 5, 1}),               // a reply where a call belongs
             Words({0x80000004, 6}),                  // a header cut short
             Words({0x00000004, 7, 0x80000000}),      // an empty last fragment
         }) {
        Append(round, record);
    }
    RawConnection flood(target.port);
    std::atomic<uint32_t> last{0};
    std::thread drain([&] {
        for (std::vector<uint8_t> reply; !(reply = flood.ReadRecord()).empty();) {
            last = GetWord(reply, 0);
        }
    });
    // Rounds, then a call whose answer shows that all of them were read.
    uint32_t marker = 100;
    const auto send_rounds = [&](int rounds) {
        for (int i = 0; i < rounds; ++i) flood.Send(round);
        flood.Send(CallRecord(++marker, qv::wire::kProcCount, {}));
        ASSERT_TRUE(Eventually([&] { return last == marker; }));
    };
    send_rounds(2000);
    const long before = qvtest::ResidentKiB(target.pid);
    send_rounds(20000);
    const long after = qvtest::ResidentKiB(target.pid);
    EXPECT_LT(after - before, 1024) << before << " KiB, then " << after << " KiB";

    // A record longer than any request ends its connection.
    flood.Send(Words({0x80000000u | (2u << 20)}));
    drain.join();
    RawConnection next(target.port);
    next.Send(CallRecord(8, qv::wire::kProcCount, {}));
    EXPECT_EQ(GetWord(next.ReadRecord(), 5), kProcUnavailable);

    // Clients that leave before their replies, some with a reset: the
    // daemon goes on writing to connections whose far end has gone.
    std::vector<uint8_t> burst;
    for (uint32_t i = 0; i < 8; ++i) Append(burst, CallRecord(i, GET_DISK_LIST, ListArgs(255, t)));
    for (int i = 0; i < 20; ++i) {
        RawConnection gone(daemon_->port);
        gone.Send(burst);
        gone.abort = i % 4 == 0;
    }
    ExpectServing();  // and TearDown expects a clean exit
}

TEST_F(SimE2e, WhatStopsItFromStartingIsSaidWithItsExitStatus) {
    Start({"--state-file", (dir_ / "state.json").string()});  // holds state.json
    const std::string held = (dir_ / "state.json").string();
    const std::string disk = R"({"disks": [{"number": 0, "name": "A", "size_mib": 10)";
    const std::string protection = R"({"format": 1, "data_trace": [], "protections": [{"primary":
        {"disk": "Disk1", "number": 1}, "mirror": {"disk": "Disk3", "number": 2},
        "size_mib": 1000, "state": "dancing"}]})";
    const std::string missing = (dir_ / "missing" / "s.json").string();
    const std::string in_file = dir_.Write("file", "") + "/s.json";
    struct Case {
        const char* what;
        std::string inventory;
        std::vector<std::string> args;
        int exit;
        std::string says;
    };
    const std::string state = "--state-file";
    // clang-format off
    const Case cases[] = {
        {"inventory not JSON", "{ disks", {}, 1, "case.json"},
        {"inventory with an unknown key", R"({"disks": [], "extra": 1})", {}, 1, "extra"},
        {"partition number 0", disk + R"(, "partitions": [{"number": 0, "size_mib": 1}]}]})", {}, 1, "case.json"},
        {"partition beyond its disk", disk + R"(, "partitions": [{"number": 1, "size_mib": 11}]}]})", {}, 1, "case.json"},
        {"disk name twice", disk + R"(}, {"number": 1, "name": "a", "size_mib": 10}]})", {}, 1, "case.json"},
        {"state not JSON", kInventory, {state, dir_.Write("case-state.json", "{")}, 1, "case-state.json"},
        {"state of another format", kInventory,
         {state, dir_.Write("format.json", R"({"format": 99, "protections": [], "data_trace": []})")}, 1, "format.json"},
        {"state with an unknown protection state", kInventory, {state, dir_.Write("dancing.json", protection)}, 1, "dancing"},
        {"state in a directory that does not exist", kInventory, {state, missing}, 1,
         "quarvane-sim: cannot keep the state in " + missing + ": cannot create " + missing + ".lock"},
        {"state in a directory that is a file", kInventory, {state, in_file}, 1, "Not a directory"},
        {"state of another daemon", kInventory, {state, held}, 1,
         held + " is in use by the daemon with pid " + std::to_string(daemon_->pid)},
        {"an unknown option", kInventory, {"--bogus"}, 2, "quarvane-sim: The following argument was not expected: --bogus"},
        {"a port that is no number", kInventory, {"--port", "x"}, 2, "--port"},
        {"a rate out of range", kInventory, {"--rate", "0"}, 2, "--rate"},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--port", "0", "--inventory",
                                         dir_.Write("case.json", c.inventory)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const qvtest::RunResult run = qvtest::Run(QV_SIM_EXE, args, {});
        EXPECT_EQ(run.exit_code, c.exit) << c.what;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.what << ": " << run.err;
    }
    EXPECT_EQ(State(), kGone);  // the daemon that holds the file serves on
}

// Each request a line with its time, procedure, object and answer; a state
// it cannot save is an error, and its exit status says so.
TEST_F(SimE2e, VerboseLinesAndAStateItCannotSave) {
    std::filesystem::create_directory(dir_ / "gone");
    const std::string state = (dir_ / "gone" / "state.json").string();
    Start({"--verbose", "--state-file", state}, (dir_ / "err.txt").string());
    // Not even root writes into a directory that is no more.
    std::filesystem::remove_all(dir_ / "gone");
    EXPECT_EQ(Enable(Pair()), 0u);  // the change is made; its save fails
    QV_MIRROR_STAT stat{};
    EXPECT_EQ(qvGetMirrorStat(handle_, u"Disk2", 0, &stat), kNotFound);
    ASSERT_EQ(qvDisconnect(&handle_), 0u);
    const int status = daemon_->Stop();
    daemon_.reset();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    const std::string said = dir_.Read("err.txt");
    const std::string unsaved = "quarvane-sim: cannot save the state to " + state;
    EXPECT_NE(said.find(unsaved), said.rfind(unsaved)) << said;  // after the change, at the end
    const std::string stamp = R"((^|\n)\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )";
    const char* lines[] = {
        "LOGIN user admin -> 00000000 Ok",
        "ENABLE_MIRROR Disk1:1 on Disk3:2 token [0-9A-F]{8} -> 00000000 Ok",
        R"(GET_MIRROR_STATS Disk2 token [0-9A-F]{8} -> 6FFC0040 ProtectionNotFound "Unable to find the specified protected disk\.")",
    };
    for (const char* line : lines) {
        EXPECT_TRUE(std::regex_search(said, std::regex(stamp + line + "\n"))) << line << "\n"
                                                                              << said;
    }
}

}  // namespace
}  // namespace simtest
