// Rules every remote function of the mirror state, statistics, verify,
// restore and data trace families shares: a missing or closed handle is
// refused before anything is sent, logged or written; a missing output or
// request is refused before anything is sent.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "mirror_test_support.h"

namespace {

// Every output a function of these families can write, filled with a
// pattern that the call must leave alone.
struct Outputs {
    QV_MIRROR_STAT stat;
    QV_VERIFY_PROGRESS verify;
    QV_PROGRESS progress;
    QV_DATA_TRACE_CONFIG config;
};

const QV_VERIFY_REQUEST kVerify{{u"Harddisk1", 1}, 0, 1, 0};
const QV_RESTORE_REQUEST kRestore{{u"Harddisk1", 1}, 0, {u"Harddisk2", 0}, 0, 0, 0};
const QV_DATA_TRACE_CONFIG kTraceConfig{1, nullptr, 0};

struct FunctionRow {
    const char* function;
    QV_STATUS (*call)(QV_HANDLE, Outputs&);
};

// Failures name the row by its function.
void PrintTo(const FunctionRow& row, std::ostream* os) { *os << row.function; }

template <QV_STATUS (*F)(QV_HANDLE, const QV_WCHAR*, uint32_t)>
QV_STATUS CallObject(QV_HANDLE h, Outputs&) {
    return F(h, u"Harddisk1", 1);
}

const FunctionRow kFunctions[] = {
    {"qvDisableMirror", CallObject<qvDisableMirror>},
    {"qvSuspendMirror", CallObject<qvSuspendMirror>},
    {"qvResumeMirror", CallObject<qvResumeMirror>},
    {"qvStopMirror", CallObject<qvStopMirror>},
    {"qvSyncMirror", CallObject<qvSyncMirror>},
    {"qvCancelSyncMirror", CallObject<qvCancelSyncMirror>},
    {"qvCancelVeridyData", CallObject<qvCancelVeridyData>},
    {"qvCancelRestorePrimary", CallObject<qvCancelRestorePrimary>},
    {"qvGetMirrorStat",
     [](QV_HANDLE h, Outputs& o) { return qvGetMirrorStat(h, u"D", 1, &o.stat); }},
    {"qvVerifyData", [](QV_HANDLE h, Outputs&) { return qvVerifyData(h, &kVerify); }},
    {"qvGetVerifyProgress",
     [](QV_HANDLE h, Outputs& o) { return qvGetVerifyProgress(h, u"D", 1, &o.verify); }},
    {"qvRestorePrimary", [](QV_HANDLE h, Outputs&) { return qvRestorePrimary(h, &kRestore); }},
    {"qvGetRestorePrimaryProgress",
     [](QV_HANDLE h, Outputs& o) { return qvGetRestorePrimaryProgress(h, u"D", 1, &o.progress); }},
    {"qvSetDataTraceConfig",
     [](QV_HANDLE h, Outputs&) { return qvSetDataTraceConfig(h, u"D", 1, &kTraceConfig); }},
    {"qvGetDataTraceConfig",
     [](QV_HANDLE h, Outputs& o) { return qvGetDataTraceConfig(h, u"D", 1, &o.config); }},
};

// The functions whose request or output comes through a pointer.
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

class MirrorHandleRules : public qvtest::MirrorHandleTest,
                          public ::testing::WithParamInterface<FunctionRow> {};

TEST_P(MirrorHandleRules, InvalidHandleTouchesNothing) {
    const FunctionRow& row = GetParam();
    QV_CLIENT_HANDLE closed{qvtest::kMirrorToken, nullptr};
    for (QV_HANDLE h : {static_cast<QV_HANDLE>(nullptr), &closed}) {
        Outputs outputs;
        std::memset(&outputs, 0xA5, sizeof outputs);
        Outputs before;
        std::memcpy(&before, &outputs, sizeof before);

        EXPECT_EQ(row.call(h, outputs), QV_STATUS_NO_HANDLE);
        EXPECT_EQ(std::memcmp(&outputs, &before, sizeof outputs), 0);
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

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

INSTANTIATE_TEST_SUITE_P(Table, MirrorHandleRules, ::testing::ValuesIn(kFunctions),
                         [](const auto& info) { return std::string(info.param.function); });

TEST(MirrorReleases, MissingBlocksAreIgnored) {
    EXPECT_EQ(qvFreeMirrorStat(nullptr, 0), 0u);
    QV_MIRROR_STAT* stat = nullptr;
    EXPECT_EQ(qvFreeMirrorStat(&stat, 0), 0u);
    EXPECT_EQ(qvFreeDataTraceConfig(nullptr, 0), 0u);
    QV_DATA_TRACE_CONFIG* config = nullptr;
    EXPECT_EQ(qvFreeDataTraceConfig(&config, 0), 0u);
    EXPECT_EQ(config, nullptr);
}

}  // namespace
