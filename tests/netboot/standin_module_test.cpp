// The network-boot module the project ships, loaded from its own file (the
// test program itself runs with the scripted variant): its state is the
// drivers file under <Path>/pxe/.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "netboot/pxecfg.h"
#include "support/trace_fixture.h"

namespace {

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
