// Rules the functions of the mirror families share beyond the table of every
// function: an invalid handle leaves the outputs alone, a missing output or
// request is refused before anything is sent (after the handle check), and
// the releases accept what is not there.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "mirror_test_support.h"

namespace {

const std::pair<const char*, QV_STATUS (*)(QV_HANDLE)> kMissingPointers[] = {
    {"qvGetMirrorStat", [](QV_HANDLE h) { return qvGetMirrorStat(h, u"D", 1, nullptr); }},
    {"qvVerifyData", [](QV_HANDLE h) { return qvVerifyData(h, nullptr); }},
    {"qvGetVerifyProgress", [](QV_HANDLE h) { return qvGetVerifyProgress(h, u"D", 1, nullptr); }},
    {"qvRestorePrimary", [](QV_HANDLE h) { return qvRestorePrimary(h, nullptr); }},
    {"qvGetRestorePrimaryProgress",
     [](QV_HANDLE h) { return qvGetRestorePrimaryProgress(h, u"D", 1, nullptr); }},
    {"qvSetDataTraceConfig", [](QV_HANDLE h) { return qvSetDataTraceConfig(h, u"D", 1, nullptr); }},
    {"qvGetDataTraceConfig", [](QV_HANDLE h) { return qvGetDataTraceConfig(h, u"D", 1, nullptr); }},
};

using MirrorPointerRules = qvtest::MirrorHandleTest;

TEST_F(MirrorPointerRules, MissingPointerIsRefusedBeforeSending) {
    for (const auto& [function, call] : kMissingPointers) {
        SCOPED_TRACE(function);
        EXPECT_EQ(call(handle), QV_STATUS_INVALID_PARAMETER);
        EXPECT_EQ(call(nullptr), QV_STATUS_NO_HANDLE);  // the handle is checked first
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST(MirrorHandleRules, InvalidHandleLeavesTheOutputsAlone) {
    struct {
        QV_MIRROR_STAT stat;
        QV_VERIFY_PROGRESS verify;
        QV_PROGRESS progress;
        QV_DATA_TRACE_CONFIG config;
        QV_MIRROR_CONFIG_LIST list;
    } out, before;
    std::memset(&out, 0xA5, sizeof out);
    std::memcpy(&before, &out, sizeof out);
    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
    EXPECT_EQ(qvGetMirrorStat(nullptr, u"D", 1, &out.stat), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(qvGetVerifyProgress(nullptr, u"D", 1, &out.verify), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(qvGetRestorePrimaryProgress(nullptr, u"D", 1, &out.progress), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(qvGetDataTraceConfig(nullptr, u"D", 1, &out.config), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(qvGetMirConfigList(nullptr, &filter, &out.list), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
}

TEST(MirrorReleases, MissingBlocksAreIgnored) {
    QV_MIRROR_STAT* stat = nullptr;
    QV_DATA_TRACE_CONFIG* config = nullptr;
    EXPECT_EQ(qvFreeMirrorStat(nullptr, 0), 0u);
    EXPECT_EQ(qvFreeMirrorStat(&stat, 0), 0u);
    EXPECT_EQ(qvFreeDataTraceConfig(nullptr, 0), 0u);
    EXPECT_EQ(qvFreeDataTraceConfig(&config, 0), 0u);
    EXPECT_EQ(config, nullptr);
}

}  // namespace
