// Snapshots, views, groups, notifications and disk maintenance: the library
// against quarvane-sim's model of them where qvctl's walkthroughs
// (tests/qvctl) do not reach: restarts, failures, cancelling.
#include <span>

#include "fixture.h"

namespace simtest {
namespace {

enum : uint32_t { kOpRunning = 1, kOpCompleted = 2, kOpCancelled = 3 };

using SnapshotList = Owned<QV_SNAPSHOT_LIST, qvFreeSnapshotList>;
using EventList = Owned<QV_EVENT_LIST, qvFreeEventList>;

class SimE2eSnapshots : public SimE2e {
  protected:
    void SetUp() override { Start({"--rate", "1000000"}); }

    uint32_t Snapshots(SnapshotList& list) {
        const QV_OBJECT_ID disk{u"Disk1", 1};
        const QV_SNAPSHOT_SELECTOR selector{QV_SNAPSHOTS_OF_OBJECT, &disk, 0, 0, 0};
        return qvGetSnapshotList(handle_, &selector, list.Reset());
    }
    // Takes a snapshot of Disk1:1 and waits for it; its number.
    uint32_t Take() {
        const QV_OBJECT_ID disk{u"Disk1", 1};
        const QV_SNAPSHOT_REQUEST request{&disk, 1};
        EXPECT_EQ(Said(qvTakeSnapshot(handle_, &request)), Said(0));
        QV_PROGRESS progress{};
        EXPECT_TRUE(Eventually([&] {
            return qvGetSnapshotProgress(handle_, u"Disk1", 1, &progress) == 0 &&
                   progress.State == kOpCompleted;
        }));
        SnapshotList list;
        EXPECT_EQ(Snapshots(list), 0u);
        return list.Count == 0 ? 0 : list.Entries[list.Count - 1].SnapshotId;
    }
    std::vector<std::string> Notifications() {
        QV_NOTIFICATION_LIST list{};
        EXPECT_EQ(qvGetNotifications(handle_, 0, 0, 0, &list), 0u);
        std::vector<std::string> out;
        for (uint32_t i = 0; i < list.Count; ++i) {
            out.push_back(std::to_string(list.Entries[i].Value3) + " " +
                          Ascii(list.Entries[i].Text));
        }
        qvFreeNotifications(&list);
        return out;
    }
};

// Snapshots and their views are kept in the state file with the
// protections; numbers are not given twice after a restart.
TEST_F(SimE2eSnapshots, SnapshotsAndViewsSurviveARestart) {
    StopDaemon();
    const std::vector<std::string> args{"--rate", "1000000", "--state-file",
                                        (dir_ / "state.json").string()};
    Start(args);
    ASSERT_EQ(Enable(Pair()), 0u);
    ASSERT_TRUE(Eventually([&] { return State() == kMirrored; }));
    Take();
    const uint32_t mounted = Take();
    const QV_OBJECT_ID disk{u"Disk1", 1};
    const QV_BACKLOOK_MOUNT mount{0, &disk, mounted, u"Kept"};
    ASSERT_EQ(qvMountBacklook(handle_, &mount), 0u);
    // Each snapshot's number, name, time and view, then the view's disk.
    const auto held = [&] {
        SnapshotList list;
        EXPECT_EQ(Snapshots(list), 0u);
        std::string out;
        for (uint32_t i = 0; i < list.Count; ++i) {
            const QV_SNAPSHOT_INFO& e = list.Entries[i];
            out += std::to_string(e.SnapshotId) + " " + Ascii(e.Text1) + " " +
                   std::to_string(e.Value64) + " " +
                   (e.View != nullptr ? Ascii(e.View->ViewName) : "-") + "|";
        }
        const QV_SNAPSHOT_KEY key{0, &disk, mounted};
        DiskList view;
        EXPECT_EQ(qvGetBacklookDisk(handle_, &key, view.Reset(), 0), 0u);
        return out + (view.Count == 2 ? Ascii(view.Entries[1].DisplayName) : "no view disk");
    };
    const std::string before = held();
    EXPECT_NE(before.find("|2 Snapshot 2 "), std::string::npos) << before;
    EXPECT_NE(before.find("Kept|Disk 100 Partition 1 - Kept (E:)"), std::string::npos) << before;
    StopDaemon();
    Start(args);
    EXPECT_EQ(held(), before);
    EXPECT_EQ(Take(), 3u);
}

// Groups, empty or not, are kept in the state file with their members.
TEST_F(SimE2eSnapshots, GroupsSurviveARestart) {
    StopDaemon();
    const std::vector<std::string> args{"--state-file", (dir_ / "state.json").string()};
    Start(args);
    ASSERT_EQ(Enable(Pair()), 0u);
    ASSERT_EQ(Enable(Pair(u"Disk1", 2, u"Disk2", 0)), 0u);
    const QV_SNAPSHOT_SCHEDULE schedule{3, 4, 0, 0, 0, 0, 0};
    QV_GROUP_CONFIG g{u"Kept", u"both", 2, schedule, -5, 6, 1, 7, 8, 9, 10, 0, nullptr};
    ASSERT_EQ(qvCreateGroup(handle_, &g), 0u);
    g.Name = u"Empty";
    ASSERT_EQ(qvCreateGroup(handle_, &g), 0u);
    const QV_OBJECT_ID first{u"Disk1", 1};
    const QV_OBJECT_ID second{u"Disk1", 2};
    const QV_OBJECT_ID* members[] = {&first, &second};
    ASSERT_EQ(qvAddGroupMembers(handle_, u"Kept", 2, members), 0u);
    const auto held = [&] {
        Owned<QV_GROUP_CONFIG_LIST, qvFreeGroupConfigList> list;
        const QV_CONFIG_FILTER all{};
        EXPECT_EQ(qvGetGroupConfigList(handle_, &all, list.Reset()), 0u);
        std::string out;
        for (const QV_GROUP_CONFIG& e : std::span(list.Entries, list.Count)) {
            out += Ascii(e.Name) + " " + Ascii(e.Text);
            for (const uint32_t v : {e.MirrorKind, e.Schedule.Mode, e.Schedule.Param1, e.Switch2,
                                     e.GroupSetting1, e.Setting4, e.Setting7, e.Setting8}) {
                out += " " + std::to_string(v);
            }
            out += " " + std::to_string(e.Setting2) + " " + std::to_string(e.Setting3);
            for (const QV_MIRROR_CONFIG& m : std::span(e.Members, e.MemberCount)) {
                out += "|" + Ascii(m.Primary.name) + ":" + std::to_string(m.Primary.number);
            }
            out += "\n";
        }
        return out;
    };
    const std::string before = held();
    EXPECT_EQ(before,
              "Kept both 2 3 4 1 7 8 0 10 -5 6|Disk1:1|Disk1:2\n"
              "Empty both 2 3 4 1 7 8 0 10 -5 6\n");
    StopDaemon();
    Start(args);
    EXPECT_EQ(held(), before);
}

// --fail-verify makes every verify of Disk1:1 meet a disk error halfway: its
// progress reads ended, and the failure is raised as a notification and
// written to the event log.
TEST_F(SimE2eSnapshots, AVerifyMadeToFailIsNotifiedAndLogged) {
    StopDaemon();
    Start({"--rate", "1000000", "--fail-verify", "Disk1:1"});
    ASSERT_EQ(Enable(Pair()), 0u);
    ASSERT_TRUE(Eventually([&] { return State() == kMirrored; }));
    const QV_VERIFY_REQUEST request{{u"Disk1", 1}, 2, 1, 0};
    ASSERT_EQ(qvVerifyData(handle_, &request), 0u);
    QV_VERIFY_PROGRESS verify{};
    ASSERT_TRUE(Eventually([&] {
        return qvGetVerifyProgress(handle_, u"Disk1", 1, &verify) == 0 && verify.State != 1;
    }));
    EXPECT_EQ(std::tuple(verify.State, verify.Amount1KiB, verify.Amount2KiB),
              std::tuple(3u, 500u * 1024, 1000u * 1024));
    EXPECT_EQ(State(), kMirrored);
    EXPECT_EQ(Notifications(), (std::vector<std::string>{"1 Disk1:1: synchronisation finished",
                                                         "2 Disk1:1: verify failed"}));
    EventList errors;
    const QV_EVENT_QUERY query{0, 0, 0, nullptr, QV_EVENT_ERROR, 0, 0, 0};
    ASSERT_EQ(qvGetEventList(handle_, &query, errors.Reset()), 0u);
    ASSERT_EQ(errors.count, 1u);
    EXPECT_EQ(Ascii(errors.events[0].text), "Verify of Disk1:1 failed with EFFC0031.");
}

TEST_F(SimE2eSnapshots, SlowSnapshotsCanBeCancelled) {
    Protect();  // copying at 1 MiB/s from here on
    const QV_OBJECT_ID disk{u"Disk1", 1};
    const QV_SNAPSHOT_REQUEST request{&disk, 0};
    ASSERT_EQ(qvTakeSnapshot(handle_, &request), 0u);
    QV_PROGRESS progress{};
    ASSERT_EQ(qvGetSnapshotProgress(handle_, u"Disk1", 1, &progress), 0u);
    EXPECT_EQ(progress.State, kOpRunning);
    ASSERT_EQ(qvCancelSnapshot(handle_, u"Disk1", 1), 0u);
    ASSERT_EQ(qvGetSnapshotProgress(handle_, u"Disk1", 1, &progress), 0u);
    EXPECT_EQ(std::tuple(progress.State, progress.Result), std::tuple(kOpCancelled, kCancelled));
    EXPECT_EQ(Said(qvCancelSnapshot(handle_, u"Disk1", 1)), Said(kNoTask));
    SnapshotList list;
    ASSERT_EQ(Snapshots(list), 0u);
    EXPECT_EQ(list.Count, 0u);
}

// Benchmarks, refusals and conflicts run through qvctl.
TEST_F(SimE2eSnapshots, MaintenanceFigures) {
    uint32_t throughput = 0;
    ASSERT_EQ(qvTestDiskThroughput(handle_, u"Disk1", 0, &throughput), 0u);
    EXPECT_GT(throughput, 0u);
    EXPECT_EQ(qvRefreshDiskFileSystem(handle_, 0), 0u);
}

}  // namespace
}  // namespace simtest
