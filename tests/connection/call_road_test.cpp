// The road of one remote operation: status mapping, received texts, the
// operation shape over each request record it takes, and a dropped
// connection that must never end the caller.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "connection/rpc_call.h"
#include "connection/shapes.h"
#include "support/connected_test.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

namespace {

using Lines = std::vector<std::u16string>;

// What the table's transport faults do not reach: a send failure, the
// runtime's other statuses, and the library's own status passed through
// without the line.
TEST(MapRpcStatus, ClientStatusWinsOverTheServiceWord) {
    qvtest::TraceFixture trace;
    EXPECT_EQ(qv::MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY), QV_STATUS_NO_MEMORY);
    EXPECT_EQ(qv::MapRpcStatus(RPC_CANTSEND, 0x6FFC0010), QV_STATUS_RPC_CHANNEL);
    EXPECT_EQ(qv::MapRpcStatus(RPC_CANTENCODEARGS, 0), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(qv::MapRpcStatus(RPC_PROCUNAVAIL, 0), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(trace.Lines(), (Lines{u"Error, rpc call error, client status[00000003]",
                                    u"Error, rpc call error, client status[00000001]",
                                    u"Error, rpc call error, client status[0000000A]"}));
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

// An operation's request is its whole argument, filled from what the
// function takes and the login token: the group name record, and an object
// reference without a name (the table's functions always name one).
using OperationShape = qvtest::ConnectedTest;

TEST_F(OperationShape, FillsEachRequestRecord) {
    constexpr qv::Row kProbe{"probe",
                             qv::Shape::kGroupOperation,
                             0,
                             qv::Sim::kModelled,
                             qv::Token::kLoginToken,
                             qv::LogOn::kServiceWord,
                             qv::Answer::kStatus,
                             qv::Output::kNone,
                             nullptr,
                             u"probe error[%08X]"};
    // A group name record.
    EXPECT_EQ(qv::RunOperation<SUSPEND_GROUP>(kProbe, handle, u"Group1"), 0u);
    auto group = svc.Last<SUSPEND_GROUP>();
    EXPECT_EQ(std::tuple(group->token, group->Reserved, qvtest::Text(group->GroupName),
                         qvtest::Count(group->GroupName)),
              std::tuple(kToken, 0u, u"Group1", 7u));
    // An object reference: a missing or empty name goes as the lone terminator.
    for (const char16_t* name : {static_cast<const char16_t*>(nullptr), u""}) {
        EXPECT_EQ(qv::RunOperation<SUSPEND_MIRROR>(kProbe, handle, name, 3u), 0u);
        auto ref = svc.Last<SUSPEND_MIRROR>();
        ASSERT_EQ(qvtest::Count(ref->name), 1u);
        EXPECT_EQ(std::tuple(ref->kind, ref->name.RpcWString_val[0], ref->number, ref->token),
                  std::tuple(0u, u_short{0}, 3u, kToken));
    }
    EXPECT_EQ(svc.CallOrder(),
              (std::vector<unsigned>{SUSPEND_GROUP, SUSPEND_MIRROR, SUSPEND_MIRROR}));
    EXPECT_TRUE(trace.Lines().empty());  // the row's line for a refusal: the function table's
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
