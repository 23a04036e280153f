// Adapters and the local PXE boot drivers, against the test service and the
// scripted network-boot module the test program runs with; the service's own
// boot settings and the questions about network boot; the module the project
// ships, loaded from its own file.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "mirrors/mirror_test_support.h"
#include "netboot/module_variant.h"
#include "netboot/pxecfg.h"
#include "support/sample_replies.h"

namespace {

using qvtest::Lines;

constexpr uint8_t kAdapter[QV_MAC_ADDRESS_BYTES] = {0x00, 0x1b, 0x21, 0xab, 0xcd, 0xef};
constexpr const char* kAdapterText = "00-1b-21-ab-cd-ef";

struct PxeRow {
    const char* name;
    QvTestPxeScript script;
    QV_STATUS (*call)(QV_HANDLE);
    unsigned proc;
    uint32_t service_word;
    std::string module_calls;
    uint32_t drivers_word;  // driversInstalled, or the first word of a disable
    Lines lines;
    QV_STATUS result;
};

QV_STATUS Enable(QV_HANDLE h) { return qvEnablePXEBoot(h, kAdapter); }
QV_STATUS Reconfig(QV_HANDLE h) { return qvReconfigPXEBoot(h, kAdapter); }

const std::string kInstalled = "PXEIsDriversInstalled";
const std::string kInstall = std::string("PXEInstallDrivers ") + kAdapterText;
const std::string kReconfigure = std::string("PXEReConfigPXEEnv ") + kAdapterText;
const std::string kUninstall = "PXEUninstallDrivers";

std::string Calls(std::initializer_list<std::string> calls) {
    std::string out;
    for (const std::string& c : calls) out += (out.empty() ? "" : "; ") + c;
    return out;
}

// The service's refusals are the table's; these are the module's steps.
// clang-format off
const PxeRow kRows[] = {
    {"EnableInstalls", {}, Enable, ENABLE_PXE_BOOT, 0, Calls({kInstalled, kInstall, kInstalled}), 1,
     {u"PXE boot driver is not installed", u"Call PXEInstallDrivers returns 00000000"}, 0},
    {"EnableInstallFailsButTellsTheService", {.install_result = 0xE0D00002u}, Enable, ENABLE_PXE_BOOT, 0x6FFC0042,
     Calls({kInstalled, kInstall, kInstalled}), 0,
     {u"PXE boot driver is not installed", u"Call PXEInstallDrivers returns E0D00002"}, 0xE0D00002u},
    {"EnableReconfiguresInstalledDrivers", {.installed = 1}, Enable, ENABLE_PXE_BOOT, 0,
     Calls({kInstalled, kReconfigure, kInstalled}), 1,
     {u"PXE boot driver is existed", u"Call PXEReConfigPXEEnv returns 00000000"}, 0},
    {"ReconfigWithoutCheck", {.installed = 1}, Reconfig, RECONFIG_PXE_BOOT, 0, Calls({kReconfigure, kInstalled}), 1,
     {u"PXEReConfigPXEEnv returns 00000000"}, 0},
    {"ReconfigFails", {.reconfig_result = 0xE0D00003u}, Reconfig, RECONFIG_PXE_BOOT, 0x6FFC0042,
     Calls({kReconfigure, kInstalled}), 0, {u"PXEReConfigPXEEnv returns E0D00003"}, 0xE0D00003u},
    {"DisableUninstalls", {.installed = 1}, qvDisablePXEBoot, DISABLE_PXE_BOOT, 0, Calls({kUninstall, kInstalled}), 1,
     {u"PXEUninstallDrivers returns 00000000"}, 0},
    {"DisableUninstallFails", {.installed = 1, .uninstall_result = 0xE0D00002u}, qvDisablePXEBoot,
     DISABLE_PXE_BOOT, 0x6FFC0042, Calls({kUninstall, kInstalled}), 0,
     {u"PXEUninstallDrivers returns E0D00002"}, 0xE0D00002u},
};
// clang-format on

using Netboot = qvtest::MirrorHandleTest;

TEST_F(Netboot, ActsLocallyThenTellsTheService) {
    for (const PxeRow& row : kRows) {
        SCOPED_TRACE(row.name);
        svc.ClearRecord();
        const std::uintmax_t before = trace.End();
        QvTestPxeSetScript(&row.script);
        svc.Answer<ENABLE_PXE_BOOT>({row.service_word, 0, 0});
        svc.Answer<RECONFIG_PXE_BOOT>({row.service_word, 0, 0});
        svc.Answer<DISABLE_PXE_BOOT>({row.service_word, 0, 0});
        EXPECT_EQ(row.call(handle), row.result);
        EXPECT_EQ(QvTestPxeCalls(), row.module_calls);
        EXPECT_EQ(trace.LinesAfter(before), row.lines);
        ASSERT_EQ(svc.CallOrder(), std::vector<unsigned>{row.proc});
        if (row.proc == DISABLE_PXE_BOOT) {
            auto req = svc.Last<DISABLE_PXE_BOOT>();
            EXPECT_EQ(std::tuple(req->status, req->value, req->token),
                      std::tuple(row.drivers_word, 0u, qvtest::kMirrorToken));
            continue;
        }
        // token, driversInstalled, then each address byte widened unsigned to
        // a word of its own: 0xab goes as 00 00 00 ab.
        static_assert(qvtest::kMirrorToken == 0x600D);
        const auto word = static_cast<uint8_t>(row.drivers_word);
        const qvtest::Bytes expected = {0,    0,    0x60, 0x0D, 0,    0,    0, word, 0,    0,   0,
                                        0x00, 0,    0,    0,    0x1b, 0,    0, 0,    0x21, 0,   0,
                                        0,    0xab, 0,    0,    0,    0xcd, 0, 0,    0,    0xef};
        EXPECT_EQ(svc.LastBytes(row.proc), expected);
    }
    // Later tests in this process find the module as it is by default.
    const QvTestPxeScript fresh{};
    QvTestPxeSetScript(&fresh);
}

TEST_F(Netboot, AdapterListIsCopiedIntoTheCallersRecords) {
    svc.AnswerRaw(GET_VALID_NIC_LIST, qvtest::SampleReply(GET_VALID_NIC_LIST));
    QV_NIC_LIST list{};
    ASSERT_EQ(qvGetValidNICList(handle, &list), 0u);
    ASSERT_EQ(list.count, 3);
    const QV_NIC_INFO& first = list.nics[0];
    EXPECT_EQ(std::tuple(first.nicWord1, first.nicWord2, first.nicValue),
              std::tuple(1000u, 0xFFFFFFFFu, -1));
    // A name longer than the array is cut to 259 characters and terminated
    // (the names and addresses as the service lists them are qvctl's).
    EXPECT_EQ(std::u16string(list.nics[1].nicName), std::u16string(259, u'n'));
    EXPECT_EQ(list.nics[2].nicName[0], u'\0');
    EXPECT_EQ(list.nics[2].macAddress[5], 0xf1);
    EXPECT_EQ(qvFreeNICList(&list), 0u);
}

// ---- the service's own boot settings ---------------------------------------

// Enabling and setting the properties send the caller's record: the text
// with its terminator counted, empty as no units, 15 characters at most from
// a full array; each address byte widened unsigned (0xab as 00 00 00 ab,
// never ff ff ff ab). Disabling sends no text.
TEST_F(Netboot, ServerBootRecordsTravelWhole) {
    const std::pair<QV_STATUS (*)(QV_HANDLE, const QV_SERVER_BOOT_CONFIG*), unsigned> calls[] = {
        {qvEnablePXEBootOnServer, ENABLE_PXE_BOOT_ON_SERVER},
        {qvSetPXEBootPropertiesOnServer, SET_PXE_BOOT_PROPERTIES_ON_SERVER}};
    const std::pair<std::u16string, std::u16string> texts[] = {
        {u"pxelinux.0", u"pxelinux.0"},
        {u"", u""},
        {std::u16string(16, u'x'), std::u16string(15, u'x')}};
    for (const auto& [call, proc] : calls) {
        for (const auto& [given, sent] : texts) {
            SCOPED_TRACE(proc);
            QV_SERVER_BOOT_CONFIG config{
                {}, 11, {0xab, 0x01, 0x02, 0x03, 0x04, 0xff}, 22, 33, 44, 0xFFFFFFFFu};
            std::copy(given.begin(), given.end(), config.bootText);
            EXPECT_EQ(call(handle, &config), 0u);
            const qvtest::Decoded<RpcServerBootConfig> req(
                reinterpret_cast<xdrproc_t>(xdr_RpcServerBootConfig), svc.LastBytes(proc));
            EXPECT_EQ(std::tuple(qvtest::Count(req->reservedText), qvtest::Count(req->bootText),
                                 qvtest::Text(req->bootText)),
                      std::tuple(0u, sent.empty() ? 0u : sent.size() + 1, sent));
            EXPECT_EQ(std::tuple(req->bootWord1, req->bootWord2, req->bootWord3, req->bootWord4,
                                 req->bootWord5),
                      std::tuple(11u, 22u, 33u, 44u, 0xFFFFFFFFu));
            EXPECT_EQ(std::vector<u_char>(req->macAddress, req->macAddress + 6),
                      (std::vector<u_char>{0xab, 0x01, 0x02, 0x03, 0x04, 0xff}));
        }
        const qvtest::Bytes bytes = svc.LastBytes(proc);
        const uint8_t widened[] = {0, 0, 0, 0xab, 0, 0, 0, 0x01};
        EXPECT_NE(std::search(bytes.begin(), bytes.end(), std::begin(widened), std::end(widened)),
                  bytes.end());
    }
    EXPECT_EQ(qvDisablePXEBootOnServer(handle), 0u);
    const qvtest::Decoded<RpcServerBootDisable> disable(
        reinterpret_cast<xdrproc_t>(xdr_RpcServerBootDisable),
        svc.LastBytes(DISABLE_PXE_BOOT_ON_SERVER));
    EXPECT_EQ(qvtest::Count(disable->text), 0u);
}

// The remote boot mode answers the reply's word unchanged; the questions'
// answers from the status alone are the table's.
TEST_F(Netboot, RemoteBootModeAnswersTheWord) {
    svc.Answer<IS_REMOTE_BOOT_MODE>({0, 7, 0});
    EXPECT_EQ(qvIsRemoteBootMode(handle), 7u);
}

TEST_F(Netboot, PropertiesAreClearedThenCopied) {
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

// ---- the module the project ships --------------------------------------------

// Its state is the drivers file under <Path>/pxe/.
class StandInModule : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = dlopen(QV_PXECFG_STANDIN, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module_, nullptr) << dlerror();
        installed = reinterpret_cast<decltype(installed)>(dlsym(module_, "PXEIsDriversInstalled"));
        install = reinterpret_cast<decltype(install)>(dlsym(module_, "PXEInstallDrivers"));
        reconfig = reinterpret_cast<decltype(reconfig)>(dlsym(module_, "PXEReConfigPXEEnv"));
        uninstall = reinterpret_cast<decltype(uninstall)>(dlsym(module_, "PXEUninstallDrivers"));
        ASSERT_TRUE(installed && install && reconfig && uninstall);
    }
    void TearDown() override {
        if (module_ != nullptr) dlclose(module_);
    }
    std::string Drivers() const {
        const auto bytes = qvtest::TraceFixture::ReadBytes(trace.InstallDir() / "pxe" / "drivers");
        return std::string(bytes.begin(), bytes.end());
    }

    qvtest::TraceFixture trace;
    void* module_ = nullptr;
    uint32_t (*installed)() = nullptr;
    uint32_t (*install)(QV_HW_ADDRESS) = nullptr;
    uint32_t (*reconfig)(QV_HW_ADDRESS) = nullptr;
    uint32_t (*uninstall)() = nullptr;
};

// Installing, re-configuring and removing through the library are run end to
// end by qvctl's network-boot case; here what a caller cannot see from there.
TEST_F(StandInModule, KeepsTheDriversAsAFileOfTheAdapter) {
    EXPECT_EQ(install(QV_HW_ADDRESS{}), 0xE0D00004u);
    EXPECT_EQ(uninstall(), 0u);  // nothing to remove is no failure
    EXPECT_EQ(installed(), 0u);
    EXPECT_EQ(install(QV_HW_ADDRESS{{0x00, 0x1b, 0x21, 0xab, 0xcd, 0xef}}), 0u);
    EXPECT_EQ(reconfig(QV_HW_ADDRESS{{0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54}}), 0u);
    EXPECT_EQ(Drivers(), "fe-dc-ba-98-76-54\n");
}

TEST_F(StandInModule, WithoutAnInstallationDirectoryNothingIsInstalled) {
    std::filesystem::remove(trace.ParametersFile());
    const QV_HW_ADDRESS adapter{{1, 2, 3, 4, 5, 6}};
    EXPECT_EQ(installed(), 0u);
    for (auto* call : {install, reconfig}) EXPECT_EQ(call(adapter), 0xE0D00001u);
    EXPECT_EQ(uninstall(), 0xE0D00001u);
}

}  // namespace
