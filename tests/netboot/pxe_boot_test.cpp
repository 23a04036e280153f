// Adapters and the local PXE boot drivers, against the test service and the
// scripted network-boot module the test program runs with.
#include <gtest/gtest.h>

#include <cstring>

#include "mirrors/mirror_test_support.h"
#include "netboot/module_variant.h"
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

void PrintTo(const PxeRow& row, std::ostream* os) { *os << row.name; }

QV_STATUS Enable(QV_HANDLE h) { return qvEnablePXEBoot(h, kAdapter); }
QV_STATUS Reconfig(QV_HANDLE h) { return qvReconfigPXEBoot(h, kAdapter); }

QvTestPxeScript Script(uint32_t installed, uint32_t install = 0, uint32_t reconfig = 0,
                       uint32_t uninstall = 0) {
    QvTestPxeScript s;
    s.installed = installed;
    s.install_result = install;
    s.reconfig_result = reconfig;
    s.uninstall_result = uninstall;
    return s;
}

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
    {"EnableInstalls", Script(0), Enable, ENABLE_PXE_BOOT, 0, Calls({kInstalled, kInstall, kInstalled}), 1,
     {u"PXE boot driver is not installed", u"Call PXEInstallDrivers returns 00000000"}, 0},
    {"EnableInstallFailsButTellsTheService", Script(0, 0xE0D00002u), Enable, ENABLE_PXE_BOOT, 0x6FFC0042,
     Calls({kInstalled, kInstall, kInstalled}), 0,
     {u"PXE boot driver is not installed", u"Call PXEInstallDrivers returns E0D00002"}, 0xE0D00002u},
    {"EnableReconfiguresInstalledDrivers", Script(1), Enable, ENABLE_PXE_BOOT, 0,
     Calls({kInstalled, kReconfigure, kInstalled}), 1,
     {u"PXE boot driver is existed", u"Call PXEReConfigPXEEnv returns 00000000"}, 0},
    {"ReconfigWithoutCheck", Script(1), Reconfig, RECONFIG_PXE_BOOT, 0, Calls({kReconfigure, kInstalled}), 1,
     {u"PXEReConfigPXEEnv returns 00000000"}, 0},
    {"ReconfigFails", Script(0, 0, 0xE0D00003u), Reconfig, RECONFIG_PXE_BOOT, 0x6FFC0042,
     Calls({kReconfigure, kInstalled}), 0, {u"PXEReConfigPXEEnv returns E0D00003"}, 0xE0D00003u},
    {"DisableUninstalls", Script(1), qvDisablePXEBoot, DISABLE_PXE_BOOT, 0, Calls({kUninstall, kInstalled}), 1,
     {u"PXEUninstallDrivers returns 00000000"}, 0},
    {"DisableUninstallFails", Script(1, 0, 0, 0xE0D00002u), qvDisablePXEBoot, DISABLE_PXE_BOOT, 0x6FFC0042,
     Calls({kUninstall, kInstalled}), 0, {u"PXEUninstallDrivers returns E0D00002"}, 0xE0D00002u},
};
// clang-format on

class LocalPxeBoot : public qvtest::MirrorHandleTest,
                     public ::testing::WithParamInterface<PxeRow> {
protected:
    // The module's script outlives the test: later tests in this process
    // find the module as it is by default, not as this row left it.
    ~LocalPxeBoot() override {
        const QvTestPxeScript fresh{};
        QvTestPxeSetScript(&fresh);
    }
};

TEST_P(LocalPxeBoot, ActsLocallyThenTellsTheService) {
    const PxeRow& row = GetParam();
    QvTestPxeSetScript(&row.script);
    svc.Answer<ENABLE_PXE_BOOT>({row.service_word, 0, 0});
    svc.Answer<RECONFIG_PXE_BOOT>({row.service_word, 0, 0});
    svc.Answer<DISABLE_PXE_BOOT>({row.service_word, 0, 0});
    EXPECT_EQ(row.call(handle), row.result);
    EXPECT_EQ(QvTestPxeCalls(), row.module_calls);
    EXPECT_EQ(trace.Lines(), row.lines);
    ASSERT_EQ(svc.CallOrder(), std::vector<unsigned>{row.proc});
    if (row.proc == DISABLE_PXE_BOOT) {
        auto req = svc.Last<DISABLE_PXE_BOOT>();
        EXPECT_EQ(std::tuple(req->status, req->value, req->token),
                  std::tuple(row.drivers_word, 0u, qvtest::kMirrorToken));
        return;
    }
    const qvtest::Bytes bytes = svc.LastBytes(row.proc);
    // token, driversInstalled, then each address byte widened unsigned to
    // a word of its own: 0xab goes as 00 00 00 ab.
    static_assert(qvtest::kMirrorToken == 0x600D);
    const qvtest::Bytes expected = {0, 0, 0x60, 0x0D, 0, 0, 0, static_cast<uint8_t>(row.drivers_word),
                                    0, 0, 0, 0x00, 0, 0, 0, 0x1b,
                                    0, 0, 0, 0x21, 0, 0, 0, 0xab,
                                    0, 0, 0, 0xcd, 0, 0, 0, 0xef};
    EXPECT_EQ(bytes, expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, LocalPxeBoot, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

using NetbootTest = qvtest::MirrorHandleTest;

TEST_F(NetbootTest, AdapterListIsCopiedIntoTheCallersRecords) {
    svc.AnswerRaw(GET_VALID_NIC_LIST, qvtest::SampleReply(GET_VALID_NIC_LIST));
    QV_NIC_LIST list{};
    ASSERT_EQ(qvGetValidNICList(handle, &list), 0u);
    ASSERT_EQ(list.count, 3);
    const QV_NIC_INFO& first = list.nics[0];
    EXPECT_EQ(0, std::memcmp(first.macAddress, kAdapter, 6));
    EXPECT_EQ(std::tuple(first.nicWord1, first.nicWord2, first.nicValue),
              std::tuple(1000u, 0xFFFFFFFFu, -1));
    EXPECT_EQ(std::u16string(first.nicName), u"Ethernet adapter eth0");
    // A name longer than the array is cut to 259 characters and terminated.
    EXPECT_EQ(std::u16string(list.nics[1].nicName), std::u16string(259, u'n'));
    EXPECT_EQ(list.nics[2].nicName[0], u'\0');
    EXPECT_EQ(list.nics[2].macAddress[5], 0xf1);
    EXPECT_EQ(qvFreeNICList(&list), 0u);
}

}  // namespace
