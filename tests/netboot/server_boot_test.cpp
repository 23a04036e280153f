// The service's own boot settings and the questions about network boot.
#include <gtest/gtest.h>

#include <cstring>

#include "mirrors/mirror_test_support.h"
#include "support/sample_replies.h"

namespace {

using ServerBoot = qvtest::MirrorHandleTest;

QV_SERVER_BOOT_CONFIG Config(std::u16string_view text) {
    QV_SERVER_BOOT_CONFIG c{};
    std::copy(text.begin(), text.end(), c.bootText);
    c.bootWord1 = 11;
    const uint8_t mac[] = {0xab, 0x01, 0x02, 0x03, 0x04, 0xff};
    std::memcpy(c.macAddress, mac, sizeof mac);
    c.bootWord2 = 22;
    c.bootWord3 = 33;
    c.bootWord4 = 44;
    c.bootWord5 = 0xFFFFFFFFu;
    return c;
}

struct ConfigRow {
    const char* name;
    QV_STATUS (*call)(QV_HANDLE, const QV_SERVER_BOOT_CONFIG*);
    unsigned proc;
};

void PrintTo(const ConfigRow& row, std::ostream* os) { *os << row.name; }

class ServerBootConfig : public qvtest::MirrorHandleTest,
                         public ::testing::WithParamInterface<ConfigRow> {
  protected:
    qvtest::Decoded<RpcServerBootConfig> Last() const {
        return {reinterpret_cast<xdrproc_t>(xdr_RpcServerBootConfig),
                svc.LastBytes(GetParam().proc)};
    }
};

TEST_P(ServerBootConfig, SendsTheRecordWithoutTheToken) {
    const ConfigRow& row = GetParam();
    // Text with its terminator counted; empty as no units; 15 characters at
    // most from a full array.
    const std::pair<std::u16string, std::u16string> kTexts[] = {
        {u"pxelinux.0", u"pxelinux.0"},
        {u"", u""},
        {std::u16string(16, u'x'), std::u16string(15, u'x')}};
    for (const auto& [given, sent] : kTexts) {
        const QV_SERVER_BOOT_CONFIG config = Config(given);
        EXPECT_EQ(row.call(handle, &config), 0u);
        auto req = Last();
        EXPECT_EQ(req->token, 0u);
        EXPECT_EQ(qvtest::Count(req->reservedText), 0u);
        EXPECT_EQ(qvtest::Count(req->bootText), sent.empty() ? 0u : sent.size() + 1);
        EXPECT_EQ(qvtest::Text(req->bootText), sent);
        EXPECT_EQ(std::tuple(req->bootWord1, req->bootWord2, req->bootWord3, req->bootWord4,
                             req->bootWord5),
                  std::tuple(11u, 22u, 33u, 44u, 0xFFFFFFFFu));
        EXPECT_EQ(std::vector<u_char>(req->macAddress, req->macAddress + 6),
                  (std::vector<u_char>{0xab, 0x01, 0x02, 0x03, 0x04, 0xff}));
    }
    // The address byte 0xab travels unsigned: 00 00 00 ab, never ff ff ff ab.
    const qvtest::Bytes bytes = svc.LastBytes(row.proc);
    const uint8_t widened[] = {0, 0, 0, 0xab, 0, 0, 0, 0x01};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), std::begin(widened), std::end(widened)),
              bytes.end());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServerBootConfig,
    ::testing::Values(ConfigRow{"Enable", qvEnablePXEBootOnServer, ENABLE_PXE_BOOT_ON_SERVER},
                      ConfigRow{"SetProperties", qvSetPXEBootPropertiesOnServer,
                                SET_PXE_BOOT_PROPERTIES_ON_SERVER}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServerBoot, DisableSendsNoTokenAndNoText) {
    EXPECT_EQ(qvDisablePXEBootOnServer(handle), 0u);
    qvtest::Decoded<RpcServerBootDisable> req{reinterpret_cast<xdrproc_t>(xdr_RpcServerBootDisable),
                                              svc.LastBytes(DISABLE_PXE_BOOT_ON_SERVER)};
    EXPECT_EQ(std::tuple(req->token, qvtest::Count(req->text)), std::tuple(0u, 0u));
}

// The remote boot mode answers the reply's word unchanged; the questions'
// answers from the status alone are the table's.
TEST_F(ServerBoot, RemoteBootModeAnswersTheWord) {
    svc.Answer<IS_REMOTE_BOOT_MODE>({0, 7, 0});
    EXPECT_EQ(qvIsRemoteBootMode(handle), 7u);
}

TEST_F(ServerBoot, PropertiesAreClearedThenCopied) {
    QV_BOOT_PROPERTIES p;
    std::memset(&p, 0x5A, sizeof p);
    for (const qvtest::Bytes& reply : qvtest::SampleReplies(GET_BOOT_PROPERTIES)) {
        svc.AnswerRaw(GET_BOOT_PROPERTIES, reply);
        ASSERT_EQ(qvGetBootProperties(handle, &p), 0u);
        if (p.propWord1 == 1) {
            EXPECT_EQ(std::tuple(p.propWord2, p.propWord3, p.propWord4),
                      std::tuple(2u, 0xFFFFFFFFu, 4u));
            EXPECT_EQ(std::u16string(p.propPath1), u"/srv/tftp/boot");
            const std::u16string second(p.propPath2);
            EXPECT_TRUE(second == u"/srv/images" || second == std::u16string(259, u'p'));
        } else {
            // Paths not sent, or sent empty, stay empty.
            EXPECT_EQ(std::tuple(p.propWord1, p.propWord4, p.propPath1[0], p.propPath2[0]),
                      std::tuple(5u, 8u, u'\0', u'\0'));
        }
        std::memset(&p, 0x5A, sizeof p);
    }
}

}  // namespace
