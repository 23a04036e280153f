// The service's own boot settings and the questions about network boot.
#include <gtest/gtest.h>

#include <cstring>

#include "mirrors/mirror_test_support.h"
#include "support/sample_replies.h"

namespace {

using qvtest::Lines;
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
    const char16_t* line;
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
        ASSERT_TRUE(req.ok());
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
    EXPECT_TRUE(trace.Lines().empty());

    const QV_SERVER_BOOT_CONFIG config = Config(u"x");
    svc.Answer<ENABLE_PXE_BOOT_ON_SERVER>({0x6FFC0042, 0, 0});
    svc.Answer<SET_PXE_BOOT_PROPERTIES_ON_SERVER>({0x6FFC0042, 0, 0});
    EXPECT_EQ(row.call(handle, &config), 0x6FFC0042u);
    EXPECT_EQ(trace.Lines(), Lines{row.line});
    const std::size_t calls = svc.TotalCalls();
    EXPECT_EQ(row.call(handle, nullptr), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(row.call(nullptr, &config), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(svc.TotalCalls(), calls);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServerBootConfig,
    ::testing::Values(ConfigRow{"Enable", qvEnablePXEBootOnServer, ENABLE_PXE_BOOT_ON_SERVER,
                                u"qvEnablePXEBootOnServer, return error[6FFC0042]"},
                      ConfigRow{"SetProperties", qvSetPXEBootPropertiesOnServer,
                                SET_PXE_BOOT_PROPERTIES_ON_SERVER,
                                u"qvSetPXEBootPropertiesOnServer, return error[6FFC0042]"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServerBoot, DisableSendsNoTokenAndNoText) {
    EXPECT_EQ(qvDisablePXEBootOnServer(handle), 0u);
    qvtest::Decoded<RpcServerBootDisable> req{reinterpret_cast<xdrproc_t>(xdr_RpcServerBootDisable),
                                              svc.LastBytes(DISABLE_PXE_BOOT_ON_SERVER)};
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(std::tuple(req->token, qvtest::Count(req->text)), std::tuple(0u, 0u));
    svc.Answer<DISABLE_PXE_BOOT_ON_SERVER>({0x6FFC0042, 0, 0});
    EXPECT_EQ(qvDisablePXEBootOnServer(handle), 0x6FFC0042u);
    EXPECT_EQ(trace.Lines(), Lines{u"qvDisablePXEBootOnServer, return error[6FFC0042]"});
    EXPECT_EQ(qvDisablePXEBootOnServer(nullptr), QV_STATUS_NO_HANDLE);
}

struct QuestionRow {
    const char* name;
    uint32_t (*call)(QV_HANDLE);
    unsigned proc;
    const char16_t* negative_line;  // with %08X; null: nothing logged
    bool answers_the_word;          // the reply's second word, not 1
};

void PrintTo(const QuestionRow& row, std::ostream* os) { *os << row.name; }

class NetbootQuestions : public qvtest::MirrorHandleTest,
                         public ::testing::WithParamInterface<QuestionRow> {};

std::u16string WithWord(const char16_t* line, const char16_t* word) {
    std::u16string out = line;
    out.replace(out.find(u"%08X"), 4, word);
    return out;
}

TEST_P(NetbootQuestions, AnswerFromTheStatusAndLogEveryNegative) {
    const QuestionRow& row = GetParam();
    // The word of the reply is ignored but by the remote boot mode question.
    const RpcStatus yes{0, 7, 0};
    svc.AnswerRaw(row.proc, qvtest::Encode(reinterpret_cast<xdrproc_t>(xdr_RpcStatus), &yes));
    EXPECT_EQ(row.call(handle), row.answers_the_word ? 7u : 1u);
    const qvtest::Bytes sent = svc.LastBytes(row.proc);
    const qvtest::Bytes expected = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x77};
    EXPECT_EQ(sent, expected);
    EXPECT_TRUE(trace.Lines().empty());

    svc.Answer<IS_CAN_ENABLE_PXE_BOOT>({0x6FFC0042, 1, 0});
    svc.Answer<IS_NET_ENV_CHANGED>({0x6FFC0042, 1, 0});
    svc.Answer<IS_PXE_BOOT_ENABLED>({0x6FFC0042, 1, 0});
    svc.Answer<IS_REMOTE_BOOT_MODE>({0x6FFC0042, 1, 0});
    EXPECT_EQ(row.call(handle), 0u);
    svc.Misbehave(row.proc, qvtest::Fault::kGarbage);
    EXPECT_EQ(row.call(handle), 0u);
    Lines lines;
    if (row.negative_line != nullptr) lines.push_back(WithWord(row.negative_line, u"6FFC0042"));
    lines.push_back(u"Error, rpc call error, client status[00000002]");
    // After a transport failure the reply was never filled: its word is 0.
    if (row.negative_line != nullptr) lines.push_back(WithWord(row.negative_line, u"00000000"));
    EXPECT_EQ(trace.Lines(), lines);
    EXPECT_EQ(row.call(nullptr), QV_STATUS_NO_HANDLE);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NetbootQuestions,
    ::testing::Values(
        QuestionRow{"CanEnable", qvIsCanEnablePXEBoot, IS_CAN_ENABLE_PXE_BOOT,
                    u"qvIsCanEnablePXEBoot, return error[%08X]", false},
        QuestionRow{"NetEnvChanged", qvIsNetEnvChanged, IS_NET_ENV_CHANGED,
                    u"qvIsNetEnvChanged, return code[%08X], NET ENV not changed yet", false},
        QuestionRow{"PxeBootEnabled", qvIsPXEBootEnabled, IS_PXE_BOOT_ENABLED,
                    u"qvIsPXEBootEnabled, return code[%08X], PXE boot not enabled", false},
        QuestionRow{"RemoteBootMode", qvIsRemoteBootMode, IS_REMOTE_BOOT_MODE, nullptr, true}),
    [](const auto& info) { return std::string(info.param.name); });

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
    svc.Answer<GET_BOOT_PROPERTIES>({0x6FFC0042, 1, {0, nullptr}, 2, 3, {0, nullptr}, 4});
    EXPECT_EQ(qvGetBootProperties(handle, &p), 0x6FFC0042u);
    QV_BOOT_PROPERTIES zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&p, &zero, sizeof p), 0);
    EXPECT_EQ(trace.Lines(), Lines{u"qvGetBootProperties, return error[6FFC0042]"});
    EXPECT_EQ(qvGetBootProperties(handle, nullptr), QV_STATUS_INVALID_PARAMETER);
}

}  // namespace
