// Connecting, logging in and out: every way qvConnect and qvDisconnect can
// end, as the caller and the service see it.
#include <gtest/gtest.h>

#include "connection/handle.h"
#include "platform/alloc.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

using qvtest::Fault;
using qvtest::TestService;
using qvtest::Text;
using Lines = std::vector<std::u16string>;

namespace {

QV_HANDLE Sentinel() { return reinterpret_cast<QV_HANDLE>(static_cast<uintptr_t>(0x5A5A)); }

class Connect : public ::testing::Test {
  protected:
    TestService svc;
    qvtest::TraceFixture trace;
    QV_HANDLE handle = nullptr;

    void TearDown() override {
        qv::alloc_fault::Reset();
        if (handle != nullptr && handle != Sentinel()) {
            svc.Reset(LOGOUT);
            EXPECT_EQ(qvDisconnect(&handle), 0u);
        }
    }
};

TEST_F(Connect, SendsLoginRecordAndKeepsTheIssuedToken) {
    svc.Answer<LOGIN>({.status = 0, .token = 0xA1B2C3D4});
    const QV_CONNECT_PARAM p = svc.Params(u"operator", u"pa\u00DFword");
    ASSERT_EQ(qvConnect(&p, &handle), 0u);
    EXPECT_EQ(qv::GetLoginToken(handle), 0xA1B2C3D4u);
    auto login = svc.Last<LOGIN>();
    EXPECT_EQ(Text(login->host), u"127.0.0.1");
    EXPECT_EQ(qvtest::Count(login->host), 10u);
    EXPECT_EQ(Text(login->login1), u"operator");
    EXPECT_EQ(Text(login->login2), u"pa\u00DFword");

    ASSERT_EQ(qvDisconnect(&handle), 0u);
    EXPECT_EQ(handle, nullptr);
    auto logout = svc.Last<LOGOUT>();
    EXPECT_EQ(logout->status, 0u);
    EXPECT_EQ(logout->token, 0xA1B2C3D4u);
    EXPECT_EQ(svc.CallOrder(), (std::vector<unsigned>{LOGIN, LOGOUT}));
    EXPECT_TRUE(trace.Lines().empty());
}

// A refused login passes the service's word on without a line of its own; a
// transport failure writes the rpc-call-error line; a host that does not
// resolve is named in its line and leaves the variable alone; with nothing
// listening the client is not made. Only a failed login leaves no handle
// after reaching the service.
TEST_F(Connect, FailedConnectsLeaveNoHandle) {
    uint16_t unused_port;  // a loopback port with nothing listening on it
    {
        TestService gone;
        unused_port = gone.port();
    }
    const char16_t lone_surrogate[] = {u'h', 0xD800, u'x', 0};
    const auto unresolved = [](std::u16string shown) {
        return Lines{u"qvConnect, Getting hostname[" + shown + u"]'s IP address failure"};
    };
    const struct {
        Fault fault;  // kNone: the service refuses
        const char16_t* host;
        uint16_t port;  // 0: the service's
        QV_STATUS status;
        QV_HANDLE left;
        Lines lines;
    } rows[] = {
        {Fault::kNone, u"127.0.0.1", 0, 0x6FFC0300, nullptr, {}},
        {Fault::kClose, u"127.0.0.1", 0, QV_STATUS_RPC_CHANNEL, nullptr,
         {u"Error, rpc call error, client status[00000004]"}},
        {Fault::kNone, u"no-such-host.invalid", 0, QV_STATUS_HOST_UNRESOLVED, Sentinel(),
         unresolved(u"no-such-host.invalid")},
        {Fault::kNone, lone_surrogate, 0, QV_STATUS_HOST_UNRESOLVED, Sentinel(),
         unresolved(lone_surrogate)},
        {Fault::kNone, u"", 0, QV_STATUS_HOST_UNRESOLVED, Sentinel(), unresolved(u"")},
        {Fault::kNone, nullptr, 0, QV_STATUS_HOST_UNRESOLVED, Sentinel(), unresolved(u"(null)")},
        {Fault::kNone, u"127.0.0.1", unused_port, QV_STATUS_CLIENT_CREATE, nullptr,
         {u"qvConnect, Create socket from RPC library error"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.status);
        svc.Answer<LOGIN>({.status = 0x6FFC0300, .token = 7});
        if (r.fault != Fault::kNone) svc.Misbehave(LOGIN, r.fault);
        const std::uintmax_t before = trace.End();
        const size_t calls = svc.TotalCalls();
        QV_CONNECT_PARAM p = svc.Params();
        p.host = r.host;
        if (r.port != 0) p.port = r.port;
        handle = Sentinel();
        EXPECT_EQ(qvConnect(&p, &handle), r.status);
        EXPECT_EQ(handle, r.left);
        EXPECT_EQ(trace.LinesAfter(before), r.lines);
        EXPECT_EQ(svc.TotalCalls() - calls, r.left == nullptr && r.port == 0 ? 1u : 0u);
    }
}

TEST_F(Connect, PortUsesOnlyItsLow16Bits) {
    QV_CONNECT_PARAM p = svc.Params();
    p.port = 0xABCD0000u | svc.port();
    ASSERT_EQ(qvConnect(&p, &handle), 0u);
    EXPECT_EQ(svc.Calls(LOGIN), 1u);
}

TEST(ConnectDefaultPort, PortZeroMeans11580) {
    std::unique_ptr<TestService> svc;
    try {
        svc = std::make_unique<TestService>(11580);
    } catch (const std::exception&) {
        GTEST_SKIP() << "port 11580 is taken on this machine";
    }
    QV_CONNECT_PARAM p = svc->Params();
    p.port = 0;
    QV_HANDLE h = nullptr;
    ASSERT_EQ(qvConnect(&p, &h), 0u);
    EXPECT_EQ(svc->Calls(LOGIN), 1u);
    EXPECT_EQ(qvDisconnect(&h), 0u);
}

// The handle block (the variable stays as it was), then the three login
// copies (the variable is cleared): nothing is sent, nothing is left.
TEST_F(Connect, NoMemoryAtEveryStepSendsNothing) {
    const QV_CONNECT_PARAM p = svc.Params();
    for (unsigned n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        const std::uintmax_t before = trace.End();
        handle = Sentinel();
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvConnect(&p, &handle), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
        EXPECT_EQ(handle, n == 1 ? Sentinel() : nullptr);
        EXPECT_EQ(trace.LinesAfter(before),
                  Lines{u"qvConnect, No enough memory to save client handle"});
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
}

TEST_F(Connect, FailedLogoutKeepsTheHandleUsable) {
    const QV_CONNECT_PARAM p = svc.Params();
    ASSERT_EQ(qvConnect(&p, &handle), 0u);
    timeval shortened{0, 200000};
    clnt_control(qv::GetRpcClient(handle), CLSET_TIMEOUT, reinterpret_cast<char*>(&shortened));
    const QV_HANDLE kept = handle;

    svc.Answer<LOGOUT>({.status = 0x6FFC0003, .value = 0, .token = 0});
    EXPECT_EQ(qvDisconnect(&handle), 0x6FFC0003u);
    svc.Misbehave(LOGOUT, Fault::kGarbage);
    EXPECT_EQ(qvDisconnect(&handle), QV_STATUS_RPC_FAILED);
    svc.Misbehave(LOGOUT, Fault::kStall);
    EXPECT_EQ(qvDisconnect(&handle), QV_STATUS_RPC_TIMEOUT);
    EXPECT_EQ(handle, kept);
    EXPECT_EQ(trace.Lines(), (Lines{u"Error, rpc call error, client status[00000002]",
                                    u"Error, rpc call error, client status[00000005]"}));

    svc.Reset(LOGOUT);
    EXPECT_EQ(qvDisconnect(&handle), 0u);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(svc.Calls(LOGOUT), 4u);
}

TEST(Handle, FreeHandleDropsTheRecordWithoutLoggingOut) {
    TestService svc;
    const QV_CONNECT_PARAM p = svc.Params();
    QV_HANDLE h = nullptr;
    ASSERT_EQ(qvConnect(&p, &h), 0u);
    CLIENT* client = qv::GetRpcClient(h);  // the connection outlives the record
    EXPECT_EQ(qvFreeHandle(&h), 0u);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(svc.Calls(LOGOUT), 0u);
    clnt_destroy(client);
    EXPECT_EQ(qvDisconnect(nullptr), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(qvDisconnect(&h), QV_STATUS_NO_HANDLE);
}

}  // namespace
