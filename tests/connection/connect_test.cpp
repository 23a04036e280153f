// Connecting, logging in and out: every way qvConnect and qvDisconnect can
// end, as the caller and the service see it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "connection/handle.h"
#include "platform/alloc.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

using qvtest::Fault;
using qvtest::TestService;
using qvtest::Text;

namespace {

constexpr const char16_t* kRpcTimeoutLine = u"Error, rpc call error, client status[00000005]";

// A loopback port with nothing listening on it.
uint16_t UnusedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

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
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(qv::GetLoginToken(handle), 0xA1B2C3D4u);

    auto login = svc.Last<LOGIN>();
    ASSERT_TRUE(login.ok());
    EXPECT_EQ(Text(login->host), u"127.0.0.1");
    EXPECT_EQ(qvtest::Count(login->host), 10u);
    EXPECT_EQ(Text(login->login1), u"operator");
    EXPECT_EQ(Text(login->login2), u"pa\u00DFword");

    ASSERT_EQ(qvDisconnect(&handle), 0u);
    EXPECT_EQ(handle, nullptr);
    auto logout = svc.Last<LOGOUT>();
    ASSERT_TRUE(logout.ok());
    EXPECT_EQ(logout->status, 0u);
    EXPECT_EQ(logout->token, 0xA1B2C3D4u);
    EXPECT_EQ(svc.CallOrder(), (std::vector<unsigned>{LOGIN, LOGOUT}));
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(Connect, EmptyAndMissingLoginStringsTravelAsOneZeroUnit) {
    QV_CONNECT_PARAM p = svc.Params(u"", nullptr);
    ASSERT_EQ(qvConnect(&p, &handle), 0u);
    auto login = svc.Last<LOGIN>();
    ASSERT_TRUE(login.ok());
    for (const RpcWString* s : {&login->login1, &login->login2}) {
        ASSERT_EQ(s->RpcWString_len, 1u);
        EXPECT_EQ(s->RpcWString_val[0], 0u);
    }
    // On the wire: count 1, one zero unit, for each of the two strings.
    const qvtest::Bytes bytes = svc.LastBytes(LOGIN);
    ASSERT_EQ(bytes.size(), 4u + 4u * 10u + 8u + 8u);
    const qvtest::Bytes tail(bytes.end() - 16, bytes.end());
    EXPECT_EQ(tail, (qvtest::Bytes{0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
}

TEST_F(Connect, RefusedLoginPassesTheServiceWordThroughWithoutALine) {
    svc.Answer<LOGIN>({.status = 0x6FFC0300, .token = 7});
    handle = Sentinel();
    const QV_CONNECT_PARAM p = svc.Params();
    EXPECT_EQ(qvConnect(&p, &handle), 0x6FFC0300u);
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(Connect, TransportFailureDuringLoginIsMappedAndLogged) {
    svc.Misbehave(LOGIN, Fault::kClose);
    handle = Sentinel();
    const QV_CONNECT_PARAM p = svc.Params();
    EXPECT_EQ(qvConnect(&p, &handle), QV_STATUS_RPC_CHANNEL);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(trace.Lines(),
              std::vector<std::u16string>{u"Error, rpc call error, client status[00000004]"});
}

TEST_F(Connect, UnresolvableHostLeavesTheVariableAlone) {
    struct Case {
        const char16_t* host;
        std::u16string shown;
    };
    const char16_t lone_surrogate[] = {u'h', 0xD800, u'x', 0};
    const Case cases[] = {
        {u"no-such-host.invalid", u"no-such-host.invalid"},
        {lone_surrogate, std::u16string(lone_surrogate)},
        {u"", u""},
        {nullptr, u"(null)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "host #" << (&c - cases));
        const size_t before = trace.Lines().size();
        QV_CONNECT_PARAM p = svc.Params();
        p.host = c.host;
        handle = Sentinel();
        EXPECT_EQ(qvConnect(&p, &handle), QV_STATUS_HOST_UNRESOLVED);
        EXPECT_EQ(handle, Sentinel());
        const auto lines = trace.Lines();
        ASSERT_EQ(lines.size(), before + 1);
        EXPECT_EQ(lines.back(),
                  u"qvConnect, Getting hostname[" + c.shown + u"]'s IP address failure");
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
}

TEST_F(Connect, NothingListeningGivesClientCreateAndNullVariable) {
    QV_CONNECT_PARAM p = svc.Params();
    p.port = UnusedPort();
    handle = Sentinel();
    EXPECT_EQ(qvConnect(&p, &handle), QV_STATUS_CLIENT_CREATE);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(trace.Lines(),
              std::vector<std::u16string>{u"qvConnect, Create socket from RPC library error"});
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

TEST_F(Connect, NoMemoryForTheHandle) {
    const QV_CONNECT_PARAM p = svc.Params();
    handle = Sentinel();
    qv::alloc_fault::FailAt(1);
    EXPECT_EQ(qvConnect(&p, &handle), QV_STATUS_NO_MEMORY);
    qv::alloc_fault::Reset();
    EXPECT_EQ(handle, Sentinel());
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_EQ(trace.Lines(),
              std::vector<std::u16string>{u"qvConnect, No enough memory to save client handle"});
}

TEST_F(Connect, NoMemoryForTheLoginCopiesReleasesEverything) {
    const QV_CONNECT_PARAM p = svc.Params();
    for (unsigned n = 2; n <= 4; ++n) {
        SCOPED_TRACE(n);
        handle = Sentinel();
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvConnect(&p, &handle), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
        EXPECT_EQ(handle, nullptr);
    }
    EXPECT_EQ(svc.Calls(LOGIN), 0u);
}

TEST_F(Connect, FailedLogoutKeepsTheHandleUsable) {
    const QV_CONNECT_PARAM p = svc.Params();
    ASSERT_EQ(qvConnect(&p, &handle), 0u);
    QV_HANDLE kept = handle;

    svc.Answer<LOGOUT>({.status = 0x6FFC0003, .value = 0, .token = 0});
    EXPECT_EQ(qvDisconnect(&handle), 0x6FFC0003u);
    EXPECT_EQ(handle, kept);
    EXPECT_TRUE(trace.Lines().empty());

    svc.Misbehave(LOGOUT, Fault::kGarbage);
    EXPECT_EQ(qvDisconnect(&handle), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(handle, kept);
    EXPECT_EQ(trace.Lines(),
              std::vector<std::u16string>{u"Error, rpc call error, client status[00000002]"});

    svc.Reset(LOGOUT);
    EXPECT_EQ(qvDisconnect(&handle), 0u);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(svc.Calls(LOGOUT), 3u);
}

TEST_F(Connect, StalledLogoutTimesOut) {
    const QV_CONNECT_PARAM p = svc.Params();
    ASSERT_EQ(qvConnect(&p, &handle), 0u);
    timeval shortened{0, 200000};
    clnt_control(qv::GetRpcClient(handle), CLSET_TIMEOUT, reinterpret_cast<char*>(&shortened));
    svc.Misbehave(LOGOUT, Fault::kStall);
    EXPECT_EQ(qvDisconnect(&handle), QV_STATUS_RPC_TIMEOUT);
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(trace.Lines(), std::vector<std::u16string>{kRpcTimeoutLine});
}

TEST(Handle, FreeHandleAndFreeMemoryAcceptNull) {
    QV_HANDLE none = nullptr;
    EXPECT_EQ(qvFreeHandle(&none), 0u);
    EXPECT_EQ(qvFreeHandle(nullptr), 0u);
    qvFreeMemory(nullptr);
    EXPECT_EQ(qvDisconnect(nullptr), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(qvDisconnect(&none), QV_STATUS_NO_HANDLE);
}

TEST(Handle, FreeHandleDropsTheRecordWithoutLoggingOut) {
    TestService svc;
    const QV_CONNECT_PARAM p = svc.Params();
    QV_HANDLE h = nullptr;
    ASSERT_EQ(qvConnect(&p, &h), 0u);
    // The connection outlives the record; keep the client to close it here.
    CLIENT* client = qv::GetRpcClient(h);
    EXPECT_EQ(qvFreeHandle(&h), 0u);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(svc.Calls(LOGOUT), 0u);
    clnt_destroy(client);
}

TEST(Handle, ValidityNeedsAClient) {
    QV_CLIENT_HANDLE without_client{42, nullptr};
    EXPECT_FALSE(qv::IsValidHandle(nullptr));
    EXPECT_FALSE(qv::IsValidHandle(&without_client));
    EXPECT_EQ(qv::GetLoginToken(nullptr), 0u);
    EXPECT_EQ(qv::GetLoginToken(&without_client), 42u);
    EXPECT_EQ(qv::GetRpcClient(nullptr), nullptr);
}

}  // namespace
