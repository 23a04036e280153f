// The road of one remote operation: status mapping, received texts, and a
// dropped connection that must never end the caller.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "connection/rpc_call.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

namespace {

TEST(MapRpcStatus, ClientStatusWinsOverTheServiceWord) {
    qvtest::TraceFixture trace;
    const struct {
        clnt_stat client;
        uint32_t service;
        uint32_t expected;
        const char16_t* line;  // null: no line
    } rows[] = {
        {RPC_SUCCESS, 0, 0, nullptr},
        {RPC_SUCCESS, 0x6FFC0010, 0x6FFC0010, nullptr},
        {RPC_SUCCESS, QV_STATUS_NO_MEMORY, QV_STATUS_NO_MEMORY, nullptr},
        {RPC_CANTENCODEARGS, 0, QV_STATUS_RPC_FAILED, u"00000001"},
        {RPC_CANTDECODERES, 0, QV_STATUS_RPC_FAILED, u"00000002"},
        {RPC_CANTSEND, 0x6FFC0010, QV_STATUS_RPC_CHANNEL, u"00000003"},
        {RPC_CANTRECV, 0, QV_STATUS_RPC_CHANNEL, u"00000004"},
        {RPC_TIMEDOUT, 0, QV_STATUS_RPC_TIMEOUT, u"00000005"},
        {RPC_VERSMISMATCH, 0, QV_STATUS_RPC_FAILED, u"00000006"},
        {RPC_PROCUNAVAIL, 0, QV_STATUS_RPC_FAILED, u"0000000A"},
        {RPC_FAILED, 0, QV_STATUS_RPC_FAILED, u"00000010"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.client));
        const size_t before = trace.Lines().size();
        EXPECT_EQ(qv::MapRpcStatus(r.client, r.service), r.expected);
        const auto lines = trace.Lines();
        if (r.line == nullptr) {
            EXPECT_EQ(lines.size(), before);
        } else {
            ASSERT_EQ(lines.size(), before + 1);
            EXPECT_EQ(lines.back(),
                      u"Error, rpc call error, client status[" + std::u16string(r.line) + u"]");
        }
    }
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

// libtirpc writes with plain write(): once the service has dropped the
// connection, a call on the handle would raise SIGPIPE and end a host
// process that keeps the default disposition.
TEST(SigpipeDeath, ClosedConnectionNeverKillsTheCaller) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            signal(SIGPIPE, SIG_DFL);
            qvtest::TestService svc;
            const QV_CONNECT_PARAM p = svc.Params();
            QV_HANDLE h = nullptr;
            if (qvConnect(&p, &h) != 0) _exit(2);
            svc.DropConnections();
            for (int i = 0; i < 3; ++i) {
                if (qvSyncMirror(h, u"Disk1", 0) != QV_STATUS_RPC_CHANNEL) _exit(10 + i);
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
