// View disks, partition operations, notifications, schedule write-backs and
// disk maintenance: what each sends, what the caller gets, what is logged.
#include <gtest/gtest.h>

#include <functional>

#include "mirrors/mirror_test_support.h"
#include "snapshots/wire_store.h"
#include "support/sample_replies.h"

using qvtest::Count;
using qvtest::kMirrorToken;
using qvtest::Text;

namespace {

const QV_OBJECT_ID kHarddisk{u"Harddisk1", 2};

class SnapshotOperations : public qvtest::MirrorHandleTest {
  protected:
    qvtest::WireStore store;
};

// Marker + 1 entries, filled like a disk and its partitions; a Marker the
// partitions received cannot back is refused before anything is allocated.
TEST_F(SnapshotOperations, ViewDiskEntriesFollowTheMarker) {
    RpcPartitionRecord parts[2]{};
    parts[0].Number = 1;
    parts[0].Letters = store.Text(u"V:");
    parts[1].Number = 2;
    const struct {
        u_int marker, partitions;
        uint8_t type;
        QV_STATUS status;
        uint32_t count, filled;
    } rows[] = {{2, 2, 0x07, 0, 3, 3},
                {2, 2, 0x42, 0, 3, 1},  // a dynamic disk: its partitions stay unlisted
                {0, 0, 0x07, 0, 1, 1},
                {3, 2, 0x07, QV_STATUS_RPC_FAILED, 0, 0},
                {0xFFFFFFFF, 2, 0x07, QV_STATUS_RPC_FAILED, 0, 0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.marker);
        parts[1].Type = r.type;
        RpcBacklookDisk reply{};
        reply.Disk.Name = store.Text(u"Backlook7");
        reply.Disk.Number = 7;
        reply.Disk.Marker = r.marker;
        reply.Disk.Partitions = {r.partitions, r.partitions != 0 ? parts : nullptr};
        svc.Answer<GET_BACKLOOK_DISK>(reply);
        const QV_SNAPSHOT_KEY key{1, &kHarddisk, 3};
        QV_DISK_LIST list{9, reinterpret_cast<QV_DISK_INFO*>(&list)};
        EXPECT_EQ(qvGetBacklookDisk(handle, &key, &list, 0xAB), r.status);
        ASSERT_EQ(list.Count, r.count);
        uint32_t filled = 0;
        for (uint32_t i = 0; i < list.Count; ++i) filled += list.Entries[i].DiskName != nullptr;
        EXPECT_EQ(filled, r.filled);
        if (r.count == 3 && r.filled == 3) {
            EXPECT_EQ(std::u16string(list.Entries[1].DisplayName), u"Disk 7 Partition 1 - (V:)");
        }
        qvtest::ReleaseKept(qvFreeDiskList, list);
        auto req = svc.Last<GET_BACKLOOK_DISK>();
        EXPECT_EQ(std::tuple(req->token, Text(req->Name), Count(req->Name), req->Number,
                             req->SnapshotId, req->Param),
                  std::tuple(kMirrorToken, u"Harddisk1", 10u, 2u, 3u, 0xABu));
    }
}

// Single records carry no token of their own; the relocation's is an array.
TEST_F(SnapshotOperations, PartitionRequestsPlaceTheTokenOnce) {
    const QV_PARTITION_REQUEST alloc{{u"", 0}, 11, 22, 33, 44};
    ASSERT_EQ(qvAllocPartitionForDisk(handle, &alloc), 0u);
    auto a = svc.Last<ALLOC_PARTITION_FOR_DISK>();
    EXPECT_EQ(std::tuple(a->token, a->Object.kind, Text(a->Object.name), Count(a->Object.name),
                         a->Object.token, a->Param1, a->Param2, a->Param3, a->Param4),
              std::tuple(kMirrorToken, 0u, u"", 1u, 0u, 11u, 22u, 33u, 44u));
    ASSERT_EQ(qvExpandDisk(handle, u"", 0, 77), 0u);
    auto e = svc.Last<EXPAND_DISK>();
    EXPECT_EQ(std::tuple(Count(e->Object.name), e->Object.token, e->Value, e->token),
              std::tuple(1u, 0u, 77u, kMirrorToken));
    ASSERT_EQ(qvRelocatePartition(handle, u"Harddisk1", 2, 88), 0u);
    auto r = svc.Last<RELOCATE_PARTITION>();
    ASSERT_EQ(r->Objects.Objects_len, 1u);
    EXPECT_EQ(std::tuple(Text(r->Objects.Objects_val[0].name), r->Objects.Objects_val[0].token,
                         r->Value, r->token),
              std::tuple(u"Harddisk1", 0u, 88u, kMirrorToken));
    svc.ClearRecord();
    EXPECT_EQ(qvGetRelocatePartitionProgress(nullptr, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(svc.TotalCalls(), 0u);
}

TEST_F(SnapshotOperations, NotificationsGoTokenP2P3P1AndFillOnlyOnSuccess) {
    RpcNotification notes[]{{1, 2, 7, store.Text(u"Snapshot taken")}, {3, 4, 9, RpcWString{}}};
    svc.Answer<GET_NOTIFICATIONS>(RpcNotificationList{0, {2, notes}});
    QV_NOTIFICATION_LIST list{};
    ASSERT_EQ(qvGetNotifications(handle, 0x11, 0x22, 0x33, &list), 0u);
    auto req = svc.Last<GET_NOTIFICATIONS>();
    const qvtest::Bytes bytes = svc.LastBytes(GET_NOTIFICATIONS);
    const qvtest::Bytes wire{0, 0, 0x60, 0x0D, 0, 0, 0, 0x22, 0, 0, 0, 0x33, 0, 0, 0, 0x11};
    EXPECT_EQ(bytes, wire);
    ASSERT_EQ(std::tuple(list.FirstValue3, list.Count), std::tuple(7u, 2u));
    EXPECT_EQ(
        std::tuple(list.Entries[0].Value1, list.Entries[0].Value2,
                   std::u16string(list.Entries[0].Text), std::u16string(list.Entries[1].Text)),
        std::tuple(1u, 2u, u"Snapshot taken", u""));
    qvFreeNotifications(&list);
    EXPECT_EQ(list.Count, 2u);  // the caller's fields stay as they were

    QV_NOTIFICATION_LIST kept{5, 6, nullptr};
    svc.Answer<GET_NOTIFICATIONS>(RpcNotificationList{0, {}});
    EXPECT_EQ(qvGetNotifications(handle, 1, 2, 3, &kept), 0u);
    EXPECT_EQ(std::tuple(kept.FirstValue3, kept.Count, kept.Entries), std::tuple(0u, 0u, nullptr));
    EXPECT_EQ(qvFreeNotifications(&kept), 0u);
}

// The configuration read goes back with only the schedule's fields changed:
// every other field, the ones a caller's configuration cannot hold
// included, travels as the service sent it.
TEST_F(SnapshotOperations, ScheduleWriteBackChangesOnlyItsFields) {
    const RpcMirrorConfig stored = store.Config();
    const QV_SNAPSHOT_SCHEDULE schedule{4, 11, 12, 13, 14, 15, 16};
    const struct {
        std::function<QV_STATUS()> call;
        int setting;
        u_int mode;
        RpcSnapshotSchedule sent;
    } rows[] = {
        {[&] { return qvScheduleSnapshot(handle, u"Harddisk1", 2, &schedule); },
         1,
         0,
         {901, 902, 0, 11, 903, 904, -905, 12, 13, 14, 405, 406}},
        {[&] { return qvRemoveSnapshotSchedule(handle, u"Harddisk1", 2); },
         0,
         3,
         {901, 902, 2, 401, 903, 904, -905, 402, 403, 404, 405, 406}},
    };
    for (const auto& r : rows) {
        svc.Answer<GET_MIRROR_CONFIG>(stored);
        ASSERT_EQ(r.call(), 0u);
        auto read = svc.Last<GET_MIRROR_CONFIG>();
        EXPECT_EQ(std::tuple(Text(read->name), read->number, read->token),
                  std::tuple(u"Harddisk1", 2u, kMirrorToken));
        auto sent = svc.Last<CHANGE_MIRROR_CONFIG>();
        RpcMirrorConfig expected = stored;
        expected.Setting2 = expected.Setting3 = r.setting;
        expected.ScheduleMode = r.mode;
        expected.token = kMirrorToken;
        expected.Schedules = {1, const_cast<RpcSnapshotSchedule*>(&r.sent)};
        const auto encode = [](const RpcMirrorConfig& c) {
            return qvtest::Encode(reinterpret_cast<xdrproc_t>(xdr_RpcMirrorConfig), &c);
        };
        EXPECT_EQ(encode(*sent), encode(expected));
    }
}

TEST_F(SnapshotOperations, FailedReadWritesNothingBackAndAMissingScheduleIsAdded) {
    const QV_SNAPSHOT_SCHEDULE schedule{1, 1, 2, 3, 4, 0, 0};
    svc.AnswerRaw(GET_MIRROR_CONFIG, qvtest::ReplyWithStatus(GET_MIRROR_CONFIG, 0x6FFC0040));
    EXPECT_EQ(qvScheduleSnapshot(handle, u"Harddisk1", 2, &schedule), 0x6FFC0040u);
    EXPECT_EQ(qvRemoveSnapshotSchedule(handle, u"Harddisk1", 2), 0x6FFC0040u);
    EXPECT_EQ(svc.Calls(CHANGE_MIRROR_CONFIG), 0u);
    EXPECT_TRUE(trace.Lines().empty());
    // A configuration that came without its schedule gets one.
    RpcMirrorConfig bare = store.Config();
    bare.Schedules = {0, nullptr};
    svc.Answer<GET_MIRROR_CONFIG>(bare);
    EXPECT_EQ(qvScheduleSnapshot(handle, u"Harddisk1", 2, &schedule), 0u);
    auto sent = svc.Last<CHANGE_MIRROR_CONFIG>();
    ASSERT_EQ(sent->Schedules.Schedules_len, 1u);
    EXPECT_EQ(qvtest::ScheduleFields(sent->Schedules.Schedules_val[0]),
              std::tuple(1u, 1u, 2u, 3u, 4u, 0u, 0u));
}

TEST_F(SnapshotOperations, MaintenanceRequests) {
    ASSERT_EQ(qvBenchMarkDisk(handle, u"Harddisk1", 2), 0u);
    auto bench = svc.Last<DISK_MAINTENANCE>();
    ASSERT_EQ(bench->Objects.Objects_len, 1u);
    EXPECT_EQ(std::tuple(bench->token, Text(bench->Objects.Objects_val[0].name),
                         bench->Objects.Objects_val[0].token, bench->Operation, bench->Parameter,
                         bench->Value3, Count(bench->Text1), Count(bench->Text2)),
              std::tuple(kMirrorToken, u"Harddisk1", 0u, 1u, 0u, 0u, 0u, 0u));
    ASSERT_EQ(qvRefreshDiskFileSystem(handle, 0x5A), 0u);
    auto refresh = svc.Last<DISK_MAINTENANCE>();
    EXPECT_EQ(std::tuple(refresh->Objects.Objects_len, refresh->Operation, refresh->Parameter),
              std::tuple(0u, 2u, 0x5Au));

    for (const auto& [flag, text, sent_flag, count] :
         {std::tuple<uint32_t, const QV_WCHAR*, int, u_int>{5, nullptr, 1, 0}, {0, u"", 0, 1}}) {
        const QV_CONFLICT_QUERY query{flag, {u"Harddisk1", 2}, {u"Harddisk3", 0}, text};
        QV_CONFLICT_LIST list{};
        ASSERT_EQ(qvCheckRestoreConflict(handle, &query, &list), 0u);
        EXPECT_EQ(std::tuple(list.Count, list.Entries), std::tuple(0u, nullptr));
        auto req = svc.Last<CHECK_RESTORE_CONFLICT>();
        EXPECT_EQ(std::tuple(req->token, req->Flag, Text(req->First.name), req->First.token,
                             Text(req->Second.name), req->Second.number, Count(req->Text)),
                  std::tuple(kMirrorToken, sent_flag, u"Harddisk1", 0u, u"Harddisk3", 0u, count));
    }
}

TEST_F(SnapshotOperations, ConflictListAndItsRelease) {
    RpcConflict found[]{{*store.Ref(u"Harddisk4", 3), 8, store.Text(u"busy")}};
    svc.Answer<CHECK_RESTORE_CONFLICT>(RpcConflictList{0, {1, found}});
    const QV_CONFLICT_QUERY query{1, kHarddisk, kHarddisk, nullptr};
    QV_CONFLICT_LIST list{};
    ASSERT_EQ(qvCheckRestoreConflict(handle, &query, &list), 0u);
    ASSERT_EQ(list.Count, 1u);
    EXPECT_EQ(std::tuple(std::u16string(list.Entries[0].Name), list.Entries[0].Number,
                         list.Entries[0].Value),
              std::tuple(u"Harddisk4", 3u, 8u));
    // The kept header keeps its count.
    EXPECT_EQ(qvtest::ReleaseKept(qvFreeConflictList, list), &list);
    EXPECT_EQ(std::tuple(list.Count, list.Entries), std::tuple(1u, nullptr));
}

// The answers read from the replies' words; statuses, outputs left on a
// failure and the requests' tokens are the table's.
TEST_F(SnapshotOperations, AnswersFromTheReplysWord) {
    uint32_t throughput = 0, finished = 0xAAAA;
    svc.Answer<TEST_DISK_THROUGHPUT>(RpcThroughputResult{0, 850});
    EXPECT_EQ(qvTestDiskThroughput(handle, u"Harddisk1", 2, &throughput), 0u);
    EXPECT_EQ(throughput, 850u);
    for (const auto& [value, done] : {std::pair{0u, 1u}, {3u, 0u}}) {
        svc.Answer<IS_ROLLBACK_FINISHED>({0, value, 0});
        EXPECT_EQ(qvIsRollbackFinished(handle, u"Harddisk1", 2, &finished), 0u);
        EXPECT_EQ(finished, done);
    }
}

TEST_F(SnapshotOperations, RollbackToSnapshotSendsTheRecordWithoutOption) {
    ASSERT_EQ(qvRollbackToSnapshot(handle, 0xFFFF, &kHarddisk, 21), 0u);
    auto req = svc.Last<ROLLBACK_TO_SNAPSHOT>();
    ASSERT_EQ(req->Objects.Objects_len, 1u);
    EXPECT_EQ(std::tuple(Text(req->Objects.Objects_val[0].name), req->Objects.Objects_val[0].token,
                         req->SnapshotId, req->HasView, Count(req->Text1), req->token, req->Option),
              std::tuple(u"Harddisk1", 0u, 21u, 0u, 0u, kMirrorToken, 0));
}

}  // namespace
