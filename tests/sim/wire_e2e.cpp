// What a well-behaved client never does: undecodable arguments, unknown
// procedures, half-sent requests, clients that leave before their reply.
// The daemon answers what can be answered and keeps serving everyone else.
#include <sys/wait.h>

#include "fixture.h"

namespace simtest {
namespace {

constexpr uint32_t kReply = 1;
constexpr uint32_t kAccepted = 0;
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kProgMismatch = 2;
constexpr uint32_t kProcUnavailable = 3;
constexpr uint32_t kGarbageArgs = 4;

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words) PutWord(out, w);
    return out;
}

class SimWire : public SimTest {
  protected:
    void SetUp() override { Start(); }

    std::vector<uint8_t> DiskListArgs(uint32_t code) {
        RpcDiskListRequest req{};
        req.ListCode = code;
        req.token = token_;
        return Encode(qv::wire::Proc<GET_DISK_LIST>::ArgFilter(), &req);
    }

    // The daemon still answers a fresh client.
    void ExpectServing() {
        Client fresh(daemon_->port());
        const uint32_t token = fresh.Login();
        ASSERT_NE(token, 0u);
        RpcDiskListRequest req{};
        req.ListCode = 3;
        req.token = token;
        Reply<GET_DISK_LIST> reply;
        fresh.Call<GET_DISK_LIST>(req, reply);
        ASSERT_EQ(reply.rpc, RPC_SUCCESS);
        EXPECT_EQ(reply->status, 0u);
        EXPECT_EQ(reply->DiskCount, 6u);
    }
};

TEST_F(SimWire, UndecodableArgumentsGetGarbageArgsAndTheConnectionGoesOn) {
    struct Case {
        const char* what;
        uint32_t proc;
        std::vector<uint8_t> args;
    };
    const Case cases[] = {
        {"no arguments at all", GET_MIRROR_STATS, {}},
        {"a record cut short", GET_DISK_LIST, Words({1, 0})},
        {"a string longer than the request", GET_DISK_LIST, Words({1, 0, 0x7FFFFFFF, 0x41, 0x42})},
        {"an array of four billion references", ENABLE_MIRROR, Words({0, 0xFFFFFFFF, 0, 0})},
        {"an array claiming more than it has", GET_MIR_CONFIG_LIST,
         Words({1, token_, 0x00100000, 0, 1, 0x41})},
        {"a login with half a host name", LOGIN, Words({5, 0x61, 0x62})},
        {"a name of two billion units", SET_DATA_TRACE_CONFIG,
         Words({0, token_, 1, 0, 0x7FFFFFF0})},
    };
    RawConnection conn(daemon_->port());
    uint32_t xid = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        conn.Send(CallRecord(++xid, c.proc, c.args));
        const std::vector<uint8_t> reply = conn.ReadRecord();
        ASSERT_GE(reply.size(), 24u);
        EXPECT_EQ(GetWord(reply, 0), xid);
        EXPECT_EQ(GetWord(reply, 1), kReply);
        EXPECT_EQ(GetWord(reply, 2), kAccepted);
        EXPECT_EQ(GetWord(reply, 5), kGarbageArgs);
    }
    // The same connection still carries good calls.
    conn.Send(CallRecord(++xid, GET_DISK_LIST, DiskListArgs(3)));
    const std::vector<uint8_t> good = conn.ReadRecord();
    EXPECT_EQ(GetWord(good, 0), xid);
    EXPECT_EQ(GetWord(good, 5), kSuccess);
    EXPECT_EQ(GetWord(good, 6), 0u);  // status word
    EXPECT_EQ(GetWord(good, 7), 6u);  // DiskCount
    ExpectServing();
}

TEST_F(SimWire, UnknownProcedureAndVersionAreRefusedByTheRpcLayer) {
    RawConnection conn(daemon_->port());
    conn.Send(CallRecord(7, qv::wire::kProcCount, {}));
    const std::vector<uint8_t> proc = conn.ReadRecord();
    EXPECT_EQ(GetWord(proc, 0), 7u);
    EXPECT_EQ(GetWord(proc, 5), kProcUnavailable);

    conn.Send(CallRecord(8, LOGIN, {}, QUARVANE_VERS + 1));
    const std::vector<uint8_t> vers = conn.ReadRecord();
    EXPECT_EQ(GetWord(vers, 0), 8u);
    EXPECT_EQ(GetWord(vers, 5), kProgMismatch);
    ExpectServing();
}

TEST_F(SimWire, ProceduresNotModelledAnswerInvalidParameter) {
    RpcTakeSnapshot snap{};
    snap.Objects = {1, arena_.Refs(u"Disk1", 1)};
    snap.token = token_;
    EXPECT_EQ(Call<TAKE_SNAPSHOT>(snap)->res.status, kInvalidParameter);
    // The token is checked first, modelled or not.
    snap.token = token_ + 1;
    EXPECT_EQ(Call<TAKE_SNAPSHOT>(snap)->res.status, kNotConnected);

    qv::wire::NoRecord none;
    EXPECT_EQ(Call<GET_TRACE_LEVEL>(none)->res.status, kInvalidParameter);
    // A result without a status word comes back zeroed.
    auto schedule = OnObject<GET_SNAPSHOT_SCHEDULE>(u"Disk1", 1);
    EXPECT_EQ(schedule->res.Mode, 0u);
}

TEST_F(SimWire, ClientsLeavingBeforeTheirReplyDoNotStopTheDaemon) {
    // Several calls in one go, then gone: the daemon goes on writing
    // replies to a connection whose far end has closed (and reset it).
    std::vector<uint8_t> burst;
    for (uint32_t i = 0; i < 8; ++i) {
        const std::vector<uint8_t> call = CallRecord(i, GET_DISK_LIST, DiskListArgs(255));
        burst.insert(burst.end(), call.begin(), call.end());
    }
    for (int round = 0; round < 20; ++round) {
        RawConnection conn(daemon_->port());
        conn.Send(burst);
        if (round % 4 == 0) conn.Abort();  // the others close in order
    }
    ExpectServing();
    client_.reset();
    const int status = daemon_->Stop();
    EXPECT_TRUE(WIFEXITED(status)) << "quarvane-sim ended by signal " << WTERMSIG(status);
    EXPECT_EQ(status, 0);
    daemon_.reset();
}

TEST_F(SimWire, AHalfSentRequestHoldsUpNobodyElse) {
    RawConnection slow(daemon_->port());
    std::vector<uint8_t> partial = CallRecord(1, GET_DISK_LIST, DiskListArgs(3));
    partial.resize(partial.size() / 2);
    slow.Send(partial);

    // Two clients at once, each using its own session, while the slow one
    // never finishes its request.
    Client other(daemon_->port());
    const uint32_t other_token = other.Login();
    ASSERT_NE(other_token, 0u);
    for (int i = 0; i < 3; ++i) {
        ExpectServing();
        EXPECT_EQ(DiskList(3)->res.DiskCount, 6u);
        RpcDiskListRequest req{};
        req.ListCode = 4;
        req.token = other_token;
        Reply<GET_DISK_LIST> reply;
        other.Call<GET_DISK_LIST>(req, reply);
        EXPECT_EQ(reply->DiskCount, 1u);
    }
}

}  // namespace
}  // namespace simtest
