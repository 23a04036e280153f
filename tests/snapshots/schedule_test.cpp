// The snapshot schedule record: how a configuration carries it to the
// service and how it reads back.
#include <gtest/gtest.h>

#include "mirrors/mirror_test_support.h"
#include "snapshots/snapshot_schedule.h"

namespace {

using qvtest::ScheduleFields;

// Modes with what the service receives and what a mirror configuration
// reads back; a group configuration reads every mode back as received.
constexpr std::pair<uint32_t, uint32_t> kModes[] = {{0, 0}, {1, 1}, {2, 2},    {3, 3},
                                                    {4, 0}, {7, 0}, {0x10, 0}, {0xFFFFFFFF, 0}};

using SnapshotSchedule = qvtest::MirrorHandleTest;

TEST_F(SnapshotSchedule, ModeIsReducedBothWaysAndParamsKeepTheirNames) {
    for (const auto& [mode, reduced] : kModes) {
        SCOPED_TRACE(mode);
        QV_MIRROR_CONFIG config = qvtest::SampleConfig();
        config.Schedule = {mode, 11, 22, 33, 44, 55, 66};
        ASSERT_EQ(qvChangeMirrorConfig(handle, &config), 0u);
        auto req = svc.Last<CHANGE_MIRROR_CONFIG>();
        ASSERT_TRUE(req.ok());
        EXPECT_EQ(req->ScheduleMode, reduced);
        ASSERT_EQ(req->Schedules.Schedules_len, 1u);
        RpcSnapshotSchedule sent = req->Schedules.Schedules_val[0];
        EXPECT_EQ(ScheduleFields(sent), std::tuple(reduced, 11u, 22u, 33u, 44u, 55u, 66u));
        EXPECT_EQ(std::tuple(sent.Spare1, sent.GroupParam, sent.Spare2, sent.Spare3, sent.Spare4),
                  std::tuple(0u, 0u, 0u, 0u, 0));

        // Listed back, with the spares and GroupParam set: they never reach
        // the caller.
        qvtest::WireStore store;
        RpcMirrorConfig listed = store.Config();
        sent = {9, 9, mode, 11, 9, 9, -9, 22, 33, 44, 55, 66};
        listed.Schedules = {1, &sent};
        svc.Answer<GET_MIR_CONFIG_LIST>(qvtest::ListOf(&listed, 1));
        const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
        QV_MIRROR_CONFIG_LIST list{};
        ASSERT_EQ(qvGetMirConfigList(handle, &filter, &list), 0u);
        ASSERT_EQ(list.Count, 1u);
        EXPECT_EQ(ScheduleFields(list.Entries[0].Schedule),
                  std::tuple(reduced, 11u, 22u, 33u, 44u, 55u, 66u));
        QV_MIRROR_CONFIG_LIST* ref = &list;
        qvFreeMirConfigList(&ref, 1);

        EXPECT_EQ(
            ScheduleFields(qv::FromRpcSnapshotSchedule(sent, qv::ScheduleModeReadBack::kAsSent)),
            std::tuple(mode, 11u, 22u, 33u, 44u, 55u, 66u));
    }
    EXPECT_TRUE(trace.Lines().empty());
}

}  // namespace
