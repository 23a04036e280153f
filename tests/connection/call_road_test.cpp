// The road of one remote operation: status mapping, object references, the
// request and reply records' release, and transport faults on an open handle.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "connection/rpc_call.h"
#include "platform/alloc.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

using qvtest::Fault;
using qvtest::TestService;
using qvtest::Text;

namespace {

TEST(MapRpcStatus, ClientStatusWinsOverTheServiceWord) {
    qvtest::TraceFixture trace;
    struct Row {
        clnt_stat client;
        uint32_t service;
        uint32_t expected;
        const char16_t* line;  // null: no line
    };
    const Row rows[] = {
        {RPC_SUCCESS, 0, 0, nullptr},
        {RPC_SUCCESS, 0x6FFC0010, 0x6FFC0010, nullptr},
        {RPC_SUCCESS, QV_STATUS_NO_MEMORY, QV_STATUS_NO_MEMORY, nullptr},
        {RPC_CANTENCODEARGS, 0, QV_STATUS_RPC_FAILED,
         u"Error, rpc call error, client status[00000001]"},
        {RPC_CANTDECODERES, 0, QV_STATUS_RPC_FAILED,
         u"Error, rpc call error, client status[00000002]"},
        {RPC_CANTSEND, 0x6FFC0010, QV_STATUS_RPC_CHANNEL,
         u"Error, rpc call error, client status[00000003]"},
        {RPC_CANTRECV, 0, QV_STATUS_RPC_CHANNEL, u"Error, rpc call error, client status[00000004]"},
        {RPC_TIMEDOUT, 0, QV_STATUS_RPC_TIMEOUT, u"Error, rpc call error, client status[00000005]"},
        {RPC_VERSMISMATCH, 0, QV_STATUS_RPC_FAILED,
         u"Error, rpc call error, client status[00000006]"},
        {RPC_PROCUNAVAIL, 0, QV_STATUS_RPC_FAILED,
         u"Error, rpc call error, client status[0000000A]"},
        {RPC_FAILED, 0, QV_STATUS_RPC_FAILED, u"Error, rpc call error, client status[00000010]"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.client));
        const size_t before = trace.Lines().size();
        EXPECT_EQ(qv::MapRpcStatus(r.client, r.service), r.expected);
        const auto lines = trace.Lines();
        if (r.line == nullptr) {
            EXPECT_EQ(lines.size(), before);
        } else {
            ASSERT_EQ(lines.size(), before + 1);
            EXPECT_EQ(lines.back(), r.line);
        }
    }
}

TEST(ObjectRef, NamesAreCopiedWithTheirTerminator) {
    struct Row {
        const char16_t* name;
        unsigned count;
    };
    for (const Row r : {Row{u"Disk7", 6}, Row{u"", 1}, Row{nullptr, 1}}) {
        RpcObjectRef ref{};
        ASSERT_TRUE(qv::FillObjectRef(ref, r.name, 3));
        EXPECT_EQ(ref.name.RpcWString_len, r.count);
        ASSERT_NE(ref.name.RpcWString_val, nullptr);
        EXPECT_EQ(ref.name.RpcWString_val[r.count - 1], 0u);
        EXPECT_EQ(ref.number, 3u);
        EXPECT_EQ(ref.kind, 0u);
        qv::ReleaseObjectRef(ref);
        EXPECT_EQ(ref.name.RpcWString_val, nullptr);
        EXPECT_EQ(ref.name.RpcWString_len, r.count);  // the count is left alone
    }
}

TEST(ObjectRef, NoMemoryForTheNameIsReported) {
    RpcObjectRef ref{};
    qv::alloc_fault::FailAt(1);
    EXPECT_FALSE(qv::FillObjectRef(ref, u"Disk1", 0));
    qv::alloc_fault::Reset();
    EXPECT_EQ(ref.name.RpcWString_val, nullptr);
}

TEST(WireText, StopsAtTheTerminatorAndNeverPastTheUnits) {
    u_short units[] = {u'a', u'b', 0, u'c'};
    EXPECT_EQ(qv::WireText(RpcWString{4, units}), u"ab");
    EXPECT_EQ(qv::WireText(RpcWString{2, units}), u"ab");  // no terminator received
    EXPECT_EQ(qv::WireText(RpcWString{0, units}), u"");
    EXPECT_EQ(qv::WireText(RpcWString{5, nullptr}), u"");
    char16_t* copy = qv::CopyWString(RpcWString{2, units});
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::u16string(copy), u"ab");
    qvFreeMemory(copy);
}

// An open handle against the test service, with a client timeout short
// enough for stalls to be cheap.
class OpenHandle : public ::testing::Test {
  protected:
    TestService svc;
    qvtest::TraceFixture trace;
    QV_HANDLE handle = nullptr;

    void SetUp() override {
        svc.Answer<LOGIN>({.status = 0, .token = 0x77});
        const QV_CONNECT_PARAM p = svc.Params();
        ASSERT_EQ(qvConnect(&p, &handle), 0u);
        timeval shortened{0, 300000};
        clnt_control(qv::GetRpcClient(handle), CLSET_TIMEOUT, reinterpret_cast<char*>(&shortened));
    }
    void TearDown() override {
        if (handle == nullptr) return;
        for (unsigned proc = 0; proc < qv::wire::kProcCount; ++proc) svc.Reset(proc);
        if (qvDisconnect(&handle) != 0) {
            clnt_destroy(qv::GetRpcClient(handle));
            qvFreeHandle(&handle);
        }
    }

    // One road trip through an object-reference procedure, as a family
    // function makes it.
    uint32_t Suspend(const char16_t* name, uint32_t number) {
        qv::RemoteCall<SUSPEND_MIRROR> call(handle);
        if (!qv::FillObjectRef(call.arg, name, number)) return QV_STATUS_NO_MEMORY;
        call.arg.token = qv::GetLoginToken(handle);
        call.Invoke();
        return call.Map();
    }
};

TEST_F(OpenHandle, RequestCarriesNameNumberAndToken) {
    svc.Answer<SUSPEND_MIRROR>({.status = 0x6FFC0040, .value = 0, .token = 0});
    EXPECT_EQ(Suspend(u"Harddisk2", 4), 0x6FFC0040u);
    auto req = svc.Last<SUSPEND_MIRROR>();
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(req->kind, 0u);
    EXPECT_EQ(Text(req->name), u"Harddisk2");
    EXPECT_EQ(req->number, 4u);
    EXPECT_EQ(req->token, 0x77u);
    EXPECT_TRUE(trace.Lines().empty());  // a service word is not the road's to log
}

TEST_F(OpenHandle, TransportFaultsAreMappedAndTheHandleRecovers) {
    struct Row {
        Fault fault;
        uint32_t status;
        const char16_t* line;
    };
    const Row rows[] = {
        {Fault::kStall, QV_STATUS_RPC_TIMEOUT, u"Error, rpc call error, client status[00000005]"},
        {Fault::kGarbage, QV_STATUS_RPC_FAILED, u"Error, rpc call error, client status[00000002]"},
        {Fault::kClose, QV_STATUS_RPC_CHANNEL, u"Error, rpc call error, client status[00000004]"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.fault));
        const size_t before = trace.Lines().size();
        svc.Misbehave(SUSPEND_MIRROR, r.fault);
        EXPECT_EQ(Suspend(u"Disk1", 0), r.status);
        const auto lines = trace.Lines();
        ASSERT_EQ(lines.size(), before + 1);
        EXPECT_EQ(lines.back(), r.line);
        if (r.fault == Fault::kClose) break;  // the connection is gone for good
        // The same handle carries the next call once the service answers again.
        svc.Reset(SUSPEND_MIRROR);
        EXPECT_EQ(Suspend(u"Disk1", 0), 0u);
    }
}

TEST_F(OpenHandle, AcceptedReplyWithoutItsResultIsACallFailure) {
    svc.AnswerRaw(SUSPEND_MIRROR, {});
    EXPECT_EQ(Suspend(u"Disk1", 0), QV_STATUS_RPC_FAILED);
}

// libtirpc writes with plain write(): once the service has dropped the
// connection, a call on the handle would raise SIGPIPE and end a host
// process that keeps the default disposition.
TEST(SigpipeDeath, ClosedConnectionNeverKillsTheCaller) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            signal(SIGPIPE, SIG_DFL);
            TestService svc;
            const QV_CONNECT_PARAM p = svc.Params();
            QV_HANDLE h = nullptr;
            if (qvConnect(&p, &h) != 0) _exit(2);
            svc.DropConnections();
            for (int i = 0; i < 3; ++i) {
                qv::RemoteCall<SYNC_MIRROR> call(h);
                if (!qv::FillObjectRef(call.arg, u"Disk1", 0)) _exit(3);
                call.Invoke();
                const uint32_t st = call.Map();
                if (st != QV_STATUS_RPC_CHANNEL) _exit(10 + i);
            }
            // SIGPIPE handling of the process is as it was.
            struct sigaction now {};
            sigaction(SIGPIPE, nullptr, &now);
            if (now.sa_handler != SIG_DFL) _exit(4);
            sigset_t mask;
            pthread_sigmask(SIG_BLOCK, nullptr, &mask);
            if (sigismember(&mask, SIGPIPE)) _exit(5);
            clnt_destroy(qv::GetRpcClient(h));
            qvFreeHandle(&h);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
