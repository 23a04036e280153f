// The snapshot schedule record: how a configuration carries it to the
// service and how it reads back.
#include <gtest/gtest.h>

#include "mirrors/mirror_test_support.h"
#include "snapshots/snapshot_schedule.h"

using qvtest::ListOf;
using qvtest::SampleConfig;
using qvtest::WireStore;

namespace {

class SnapshotSchedule : public qvtest::MirrorHandleTest {};

// Modes with what the service receives and what a mirror configuration
// reads back; a group configuration reads every mode back as received.
struct ModeRow {
    uint32_t mode;
    uint32_t reduced;
};
constexpr ModeRow kModes[] = {{0, 0}, {1, 1}, {2, 2},    {3, 3},
                              {4, 0}, {7, 0}, {0x10, 0}, {0xFFFFFFFF, 0}};

TEST_F(SnapshotSchedule, FillReducesTheModeAndCarriesEachParamUnderItsName) {
    for (const ModeRow& r : kModes) {
        SCOPED_TRACE(r.mode);
        QV_MIRROR_CONFIG config = SampleConfig();
        config.Schedule = {r.mode, 11, 22, 33, 44, 55, 66};
        ASSERT_EQ(qvChangeMirrorConfig(handle, &config), 0u);
        auto req = svc.Last<CHANGE_MIRROR_CONFIG>();
        ASSERT_TRUE(req.ok());
        EXPECT_EQ(req->ScheduleMode, r.reduced);
        ASSERT_EQ(req->Schedules.Schedules_len, 1u);
        const RpcSnapshotSchedule& sent = req->Schedules.Schedules_val[0];
        EXPECT_EQ(sent.Spare1, 0u);
        EXPECT_EQ(sent.GroupParam, 0u);
        EXPECT_EQ(sent.Mode, r.reduced);
        EXPECT_EQ(sent.Param1, 11u);
        EXPECT_EQ(sent.Spare2, 0u);
        EXPECT_EQ(sent.Spare3, 0u);
        EXPECT_EQ(sent.Spare4, 0);
        EXPECT_EQ(sent.Param2, 22u);
        EXPECT_EQ(sent.Param3, 33u);
        EXPECT_EQ(sent.Param4, 44u);
        EXPECT_EQ(sent.Param5, 55u);
        EXPECT_EQ(sent.Param6, 66u);
    }
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(SnapshotSchedule, MirrorListReadsTheModeBackReduced) {
    for (const ModeRow& r : kModes) {
        SCOPED_TRACE(r.mode);
        WireStore store;
        RpcMirrorConfig config = store.Config();
        // Spares and GroupParam are the service's; they never reach the caller.
        *config.Schedules.Schedules_val = {.Spare1 = 9,
                                           .GroupParam = 9,
                                           .Mode = r.mode,
                                           .Param1 = 11,
                                           .Spare2 = 9,
                                           .Spare3 = 9,
                                           .Spare4 = -9,
                                           .Param2 = 22,
                                           .Param3 = 33,
                                           .Param4 = 44,
                                           .Param5 = 55,
                                           .Param6 = 66};
        svc.Answer<GET_MIR_CONFIG_LIST>(ListOf(&config, 1));
        const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
        QV_MIRROR_CONFIG_LIST list{};
        ASSERT_EQ(qvGetMirConfigList(handle, &filter, &list), 0u);
        ASSERT_EQ(list.Count, 1u);
        const QV_SNAPSHOT_SCHEDULE& got = list.Entries[0].Schedule;
        EXPECT_EQ(got.Mode, r.reduced);
        EXPECT_EQ(got.Param1, 11u);
        EXPECT_EQ(got.Param2, 22u);
        EXPECT_EQ(got.Param3, 33u);
        EXPECT_EQ(got.Param4, 44u);
        EXPECT_EQ(got.Param5, 55u);
        EXPECT_EQ(got.Param6, 66u);
        QV_MIRROR_CONFIG_LIST* ref = &list;
        qvFreeMirConfigList(&ref, 1);
    }
}

TEST(SnapshotScheduleRecord, GroupReadBackKeepsTheModeAsReceived) {
    for (const ModeRow& r : kModes) {
        SCOPED_TRACE(r.mode);
        const RpcSnapshotSchedule wire{.Spare1 = 1,
                                       .GroupParam = 2,
                                       .Mode = r.mode,
                                       .Param1 = 11,
                                       .Spare2 = 3,
                                       .Spare3 = 4,
                                       .Spare4 = 5,
                                       .Param2 = 22,
                                       .Param3 = 33,
                                       .Param4 = 44,
                                       .Param5 = 55,
                                       .Param6 = 66};
        const QV_SNAPSHOT_SCHEDULE group =
            qv::FromRpcSnapshotSchedule(wire, qv::ScheduleModeReadBack::kAsSent);
        EXPECT_EQ(group.Mode, r.mode);
        EXPECT_EQ(qv::FromRpcSnapshotSchedule(wire, qv::ScheduleModeReadBack::kReduced).Mode,
                  r.reduced);
        EXPECT_EQ(group.Param1, 11u);
        EXPECT_EQ(group.Param2, 22u);
        EXPECT_EQ(group.Param6, 66u);
    }
}

}  // namespace
