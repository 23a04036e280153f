// Login, logout and the token every later request carries.
#include "fixture.h"

namespace simtest {
namespace {

class SimSession : public SimTest {
  protected:
    void SetUp() override { Start({"--user", "operator", "--password", "s3cret"}, false); }
};

TEST_F(SimSession, LoginWithConfiguredCredentialsIssuesDistinctTokens) {
    Client client(daemon_->port());
    uint32_t status = 1;
    const uint32_t first = client.Login(u"operator", u"s3cret", &status);
    EXPECT_EQ(status, 0u);
    EXPECT_NE(first, 0u);
    const uint32_t second = client.Login(u"operator", u"s3cret", &status);
    EXPECT_EQ(status, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
}

TEST_F(SimSession, WrongLoginIsRefusedWithAStatusWord) {
    struct Case {
        std::u16string user;
        std::u16string password;
    };
    const Case cases[] = {
        {u"operator", u"wrong"},  {u"admin", u"s3cret"},     {u"", u""},
        {u"OPERATOR", u"s3cret"}, {u"operator", u"s3cret "},
    };
    Client client(daemon_->port());
    for (const auto& c : cases) {
        uint32_t status = 0;
        EXPECT_EQ(client.Login(c.user, c.password, &status), 0u);
        EXPECT_EQ(status, kInvalidParameter);
    }
    // The daemon is still there for the right credentials.
    EXPECT_NE(client.Login(u"operator", u"s3cret"), 0u);
}

TEST_F(SimSession, RequestsWithAnUnknownTokenAreRefused) {
    Client client(daemon_->port());
    const uint32_t token = client.Login(u"operator", u"s3cret");
    ASSERT_NE(token, 0u);

    for (const uint32_t bad : {0u, token + 1, token ^ 0x80000000u}) {
        RpcDiskListRequest req{};
        req.ListCode = 1;
        req.token = bad;
        Reply<GET_DISK_LIST> reply;
        client.Call<GET_DISK_LIST>(req, reply);
        ASSERT_EQ(reply.rpc, RPC_SUCCESS);
        EXPECT_EQ(reply->status, kNotConnected);
        EXPECT_EQ(reply->Disks.Disks_len, 0u);
    }

    // Logging out closes the token: it is refused afterwards, also by a
    // second logout.
    RpcTokenRecord logout{0, token};
    Reply<LOGOUT> out;
    client.Call<LOGOUT>(logout, out);
    EXPECT_EQ(out->status, 0u);
    Reply<LOGOUT> again;
    client.Call<LOGOUT>(logout, again);
    EXPECT_EQ(again->status, kNotConnected);

    RpcDiskListRequest req{};
    req.ListCode = 1;
    req.token = token;
    Reply<GET_DISK_LIST> after;
    client.Call<GET_DISK_LIST>(req, after);
    EXPECT_EQ(after->status, kNotConnected);
}

TEST_F(SimSession, TheOldestSessionClosesWhenTooManyAreOpen) {
    // Clients that never log out cannot grow the daemon without end.
    Client client(daemon_->port());
    const uint32_t first = client.Login(u"operator", u"s3cret");
    const uint32_t second = client.Login(u"operator", u"s3cret");
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    constexpr int kLimit = 4096;
    for (int i = 2; i < kLimit; ++i) ASSERT_NE(client.Login(u"operator", u"s3cret"), 0u);

    auto logout = [&](uint32_t token) {
        RpcTokenRecord arg{0, token};
        Reply<LOGOUT> reply;
        client.Call<LOGOUT>(arg, reply);
        return reply->status;
    };
    // One more: the first goes, the second is still open.
    ASSERT_NE(client.Login(u"operator", u"s3cret"), 0u);
    EXPECT_EQ(logout(first), kNotConnected);
    EXPECT_EQ(logout(second), 0u);
}

}  // namespace
}  // namespace simtest
