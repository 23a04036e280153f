// Connecting, logging in and out: every way qvConnect and qvDisconnect can
// end, as the caller and the service see it. Then the road of one remote
// operation: the operation shape over each request record it takes, a
// dropped connection that must never end the caller, and what a hostile
// service can make the library hold.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <vector>

#include "connection/handle.h"
#include "connection/rpc_call.h"
#include "connection/shapes.h"
#include "platform/alloc.h"
#include "support/connected_test.h"
#include "support/memory_client.h"
#include "support/sample_replies.h"

using qvtest::Fault;
using qvtest::TestService;
using qvtest::Text;
using Lines = std::vector<std::u16string>;

namespace {

QV_HANDLE Sentinel() { return reinterpret_cast<QV_HANDLE>(static_cast<uintptr_t>(0x5A5A)); }

// Each test connects itself; a handle left at the sentinel was never made.
class Connect : public qvtest::ConnectedTest {
  protected:
    void SetUp() override {}
    void TearDown() override {
        if (handle == Sentinel()) handle = nullptr;
        ConnectedTest::TearDown();
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

TEST_F(Connect, FreeHandleDropsTheRecordWithoutLoggingOut) {
    const QV_CONNECT_PARAM p = svc.Params();
    ASSERT_EQ(qvConnect(&p, &handle), 0u);
    CLIENT* client = qv::GetRpcClient(handle);  // the connection outlives the record
    EXPECT_EQ(qvFreeHandle(&handle), 0u);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(svc.Calls(LOGOUT), 0u);
    clnt_destroy(client);
    EXPECT_EQ(qvDisconnect(nullptr), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(qvDisconnect(&handle), QV_STATUS_NO_HANDLE);
}

// ---- one remote operation --------------------------------------------------

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

// ---- the lists a reply converts into grow with it, never with a product of
// its parts --------------------------------------------------------------------

// One disk of `partitions` partitions that carry nothing, with `texts` of
// the nine texts its entries copy (name, texts, properties, descriptor) set
// to `units` characters.
qvtest::Bytes OneDisk(std::size_t partitions, std::size_t texts, std::size_t units) {
    std::vector<u_short> text(units, u'N');
    text.push_back(0);
    RpcDiskProperties properties{};
    RpcDiskDescriptor descriptor{};
    RpcDiskRecord disk{};
    RpcWString* copied[] = {&disk.Name,        &disk.Text1,       &disk.Text2,
                            &properties.Text1, &properties.Text2, &descriptor.Text1,
                            &descriptor.Text2, &descriptor.Text3, &descriptor.Text4};
    for (std::size_t i = 0; i < texts; ++i)
        *copied[i] = {static_cast<u_int>(text.size()), text.data()};
    std::vector<RpcPartitionRecord> records(partitions);
    for (std::size_t i = 0; i < records.size(); ++i) records[i].Number = static_cast<u_int>(i + 1);
    disk.Partitions = {static_cast<u_int>(records.size()), records.data()};
    disk.Properties = {1, &properties};
    disk.Descriptors = {1, &descriptor};
    const RpcDiskList list{0, 1, {1, &disk}};
    return qvtest::Encode(qv::wire::Proc<GET_DISK_LIST>::ResFilter(), &list);
}

// Every partition entry carries copies of its disk's texts, so a list can
// outgrow its reply by the product of texts and partitions. Real
// inventories convert whole; a product far beyond them is refused before
// anything is allocated.
TEST(DiskListGrowth, RealInventoriesConvertAmplificationIsRefused) {
    const struct {
        const char* name;
        qvtest::Bytes reply;
        uint32_t entries;  // 0: refused
    } cases[] = {
        {"six 300-character texts, 256 partitions", OneDisk(256, 6, 300), 257},
        {"every text 512 characters, 128 partitions", OneDisk(128, 9, 512), 129},
        {"every text 4,000 characters, 199 partitions", OneDisk(199, 9, 4000), 200},
        {"the sample inventory, 128 partitions a disk", qvtest::DiskListReply(4, 128), 4 * 129},
        {"a 20,000-character name, 3 partitions", OneDisk(3, 1, 20000), 4},
        {"a short name, 5,000 partitions", OneDisk(5000, 1, 8), 5001},
        // 20,000 units into 2,000 entries: 80 MB from a reply of 176 KB.
        {"a 20,000-character name, 2,000 partitions", OneDisk(2000, 1, 20000), 0},
        {"every text 512 characters, 2,000 partitions", OneDisk(2000, 9, 512), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qvtest::TraceFixture trace;
        qvtest::MemoryClient client;
        client.SetReply(c.reply);
        const QV_DISK_FILTER every{3, 0, 0, nullptr};
        QV_DISK_LIST list{};
        const QV_STATUS status = qvGetDiskList(client.handle(), &every, &list);
        EXPECT_EQ(list.Count, c.entries);
        if (c.entries == 0) {
            EXPECT_EQ(status, QV_STATUS_RPC_FAILED);
            EXPECT_EQ(list.Entries, nullptr);
            EXPECT_EQ(trace.Lines(),
                      (std::vector<std::u16string>{u"qvGetDiskList, reply would convert into more "
                                                   u"than 100 times its size[6FFC8005]"}));
        } else {
            EXPECT_EQ(status, 0u);
            EXPECT_TRUE(trace.Lines().empty());
        }
        qvtest::ReleaseKept(qvFreeDiskList, list);
    }
}

}  // namespace
