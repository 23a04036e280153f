// Snapshots, rollback and views, then view disks, partition operations,
// notifications, schedule write-backs and disk maintenance: requests as the
// service decoded them, what the caller receives, and the lines each
// function writes. What every function shares runs once over the function
// table.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "mirrors/mirror_test_support.h"
#include "platform/alloc.h"
#include "support/sample_replies.h"

using qvtest::Count;
using qvtest::kMirrorToken;
using qvtest::Lines;
using qvtest::Text;

namespace {

// Storage behind the wire records the tests script as replies; addresses
// stay put while it lives.
class WireStore : public qvtest::Arena {
  public:
    RpcObjectRef* Ref(std::u16string_view name, uint32_t number) {
        return &refs_.emplace_back(RpcObjectRef{0, Text(name), number, 0});
    }

    // A configuration as the service would list it, every field distinct (in
    // wire order), spares, enable options and schedule spares set. The
    // schedule's own Mode differs from ScheduleMode.
    RpcMirrorConfig Config(std::u16string_view primary = u"Harddisk1", uint32_t number = 2) {
        RpcSnapshotSchedule* schedule = &schedules_.emplace_back(
            RpcSnapshotSchedule{901, 902, 2, 401, 903, 904, -905, 402, 403, 404, 405, 406});
        // clang-format off
        return {0, {1, Ref(primary, number)}, {1, Ref(u"Harddisk3", 4)}, -2001, 2002, -2003,
                1, 3, Text(u"first"), Text(u"second"), Text(u"third"), {1, schedule},
                1, 1, 1, 0x55, 2007, 2012, 2008, 9, 2004, 1, 7, 2005, 2006, 2015, 2010, 2011,
                2098, 2013, 2014, 2099, 2009, Text(u"fourth")};
        // clang-format on
    }

  private:
    std::deque<RpcObjectRef> refs_;
    std::deque<RpcSnapshotSchedule> schedules_;
};

const QV_OBJECT_ID kDisk{u"Harddisk1", 2};
const QV_GROUP_REF kGroup{u"Payroll"};

class Snapshots : public qvtest::MirrorHandleTest {
  protected:
    WireStore store;

    RpcSnapshotRecord Record(uint32_t id, uint32_t has_view, std::u16string_view text3) {
        RpcSnapshotRecord r{};
        // The owner the record names is never what an entry reports.
        r.Objects = {1, store.Ref(u"Elsewhere", 9)};
        r.SnapshotId = id;
        r.HasView = has_view;
        r.Value64 = -5;
        r.Text1 = store.Text(u"nightly");
        r.Text2 = store.Text(u"View A");
        if (text3 != u"-") r.Text3 = store.Text(text3);
        return r;
    }
    void AnswerList(std::vector<RpcSnapshotRecord>& records, u_int count) {
        svc.Answer<GET_SNAPSHOT_LIST>(
            RpcSnapshotList{0, count, {static_cast<u_int>(records.size()), records.data()}});
    }
};

TEST_F(Snapshots, TakeSendsOneNestedObjectNoGroupAnEmptyTextAndOptionOneOnlyAsOne) {
    for (const auto& [option, sent] : {std::pair{1u, 1u}, {2u, 0u}, {0u, 0u}, {0xFFFFFFFFu, 0u}}) {
        const QV_SNAPSHOT_REQUEST request{&kDisk, option};
        ASSERT_EQ(qvTakeSnapshot(handle, &request), 0u);
        auto req = svc.Last<TAKE_SNAPSHOT>();
        EXPECT_EQ(std::tuple(req->Objects.Objects_len, Count(req->GroupName), Count(req->Text),
                             Text(req->Text), req->Option, req->token),
                  std::tuple(1u, 0u, 1u, u"", sent, kMirrorToken));
    }
}

TEST_F(Snapshots, ListRequestNamesTheObjectOrTheGroupAndTheKeysSnapshot) {
    const QV_SNAPSHOT_KEY object_key{7, &kDisk, 42};
    const QV_SNAPSHOT_KEY group_key{7, &kGroup, 43};
    const struct {
        uint32_t kind;
        const void* target;
        u_int objects;
        const char16_t* group;
        u_int group_count, id;
    } rows[] = {{1, &kDisk, 1, u"", 0, 0},
                {2, &kGroup, 0, u"Payroll", 8, 0},
                {3, &object_key, 1, u"", 0, 42},
                {4, &group_key, 0, u"Payroll", 8, 43}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.kind);
        std::vector<RpcSnapshotRecord> records{Record(42, 0, u"x"), Record(43, 0, u"x")};
        AnswerList(records, 2);
        const QV_SNAPSHOT_SELECTOR selector{r.kind, r.target, 11, 12, 13};
        QV_SNAPSHOT_LIST list{};
        ASSERT_EQ(qvGetSnapshotList(handle, &selector, &list), 0u);
        qvtest::ReleaseKept(qvFreeSnapshotList, list);
        auto req = svc.Last<GET_SNAPSHOT_LIST>();
        ASSERT_EQ(req->Objects.Objects_len, r.objects);
        if (r.objects == 1) {
            EXPECT_EQ(qvtest::Nested(req->Objects.Objects_val[0]),
                      std::tuple(0u, u"Harddisk1", 10u, 2u, 0u));
        }
        EXPECT_EQ(std::tuple(Text(req->GroupName), Count(req->GroupName), req->SnapshotId,
                             req->Kind, req->Param1, req->Param2, req->Param3, req->token),
                  std::tuple(r.group, r.group_count, r.id, r.kind, 11u, 12u, 13u, kMirrorToken));
    }
}

TEST_F(Snapshots, EntriesTakeTheirOwnerFromTheSelector) {
    std::vector<RpcSnapshotRecord> records{Record(1, 1, u""), Record(2, 0, u"-"),
                                           Record(3, 0, u"kept")};
    AnswerList(records, 3);
    for (const QV_SNAPSHOT_SELECTOR& selector :
         {QV_SNAPSHOT_SELECTOR{1, &kDisk, 0, 0, 0}, QV_SNAPSHOT_SELECTOR{2, &kGroup, 0, 0, 0}}) {
        SCOPED_TRACE(selector.Kind);
        QV_SNAPSHOT_LIST list{};
        ASSERT_EQ(qvGetSnapshotList(handle, &selector, &list), 0u);
        ASSERT_EQ(list.Count, 3u);
        for (uint32_t i = 0; i < 3; ++i) {
            const QV_SNAPSHOT_INFO& e = list.Entries[i];
            EXPECT_EQ(std::tuple(e.SnapshotId, e.Value64, std::u16string(e.Text1),
                                 std::u16string(e.ViewName)),
                      std::tuple(i + 1, int64_t{-5}, u"nightly", u""));
            if (selector.Kind == 1) {
                const auto* owner = static_cast<const QV_OBJECT_ID*>(e.Owner);
                EXPECT_EQ(std::tuple(e.OwnerKind, std::u16string(owner->name), owner->number),
                          std::tuple(0u, u"Harddisk1", 2u));
                EXPECT_NE(owner->name, kDisk.name);  // the entry's own copy
            } else {
                EXPECT_EQ(std::tuple(e.OwnerKind, std::u16string(static_cast<QV_WCHAR*>(e.Owner))),
                          std::tuple(1u, u"Payroll"));
            }
        }
        // Text3: one element gives "", none gives null. Only a mounted one has a view.
        EXPECT_EQ(std::u16string(list.Entries[0].Text3), u"");
        EXPECT_EQ(list.Entries[1].Text3, nullptr);
        EXPECT_EQ(std::u16string(list.Entries[2].Text3), u"kept");
        ASSERT_NE(list.Entries[0].View, nullptr);
        const QV_SNAPSHOT_VIEW& v = *list.Entries[0].View;
        EXPECT_EQ(std::tuple(v.OwnerKind, v.Owner, v.SnapshotId, std::u16string(v.ViewName),
                             std::u16string(v.Text3), v.Value64),
                  std::tuple(0u, nullptr, 0u, u"View A", u"", int64_t{0}));
        EXPECT_EQ(list.Entries[1].View, nullptr);
        // A kept header stays as it was, pointing at what is gone.
        const QV_SNAPSHOT_INFO* entries = list.Entries;
        qvtest::ReleaseKept(qvFreeSnapshotList, list);
        EXPECT_EQ(std::tuple(list.Count, list.Entries), std::tuple(3u, entries));
    }
}

// Kinds 1 and 2 convert exactly Count records and never past the array;
// kinds 3 and 4 take the first record of the key's number.
TEST_F(Snapshots, ListShapesAndRefusals) {
    const QV_SNAPSHOT_KEY key{0, &kDisk, 7};
    const QV_SNAPSHOT_KEY missing{0, &kDisk, 8};
    const struct {
        const char* what;
        QV_SNAPSHOT_SELECTOR selector;
        u_int count;
        QV_STATUS status;
        uint32_t entries;
        Lines lines;
    } rows[] = {
        {"count below the array", {1, &kDisk, 0, 0, 0}, 1, 0, 1, {}},
        {"count past the array",
         {1, &kDisk, 0, 0, 0},
         4,
         QV_STATUS_RPC_FAILED,
         0,
         {u"qvGetSnapshotList, getting snapshot error[6FFC8005]"}},
        {"first of equal numbers", {3, &key, 0, 0, 0}, 0, 0, 1, {}},
        {"number not found", {3, &missing, 0, 0, 0}, 3, QV_STATUS_SNAPSHOT_NOT_FOUND, 0, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<RpcSnapshotRecord> records{Record(5, 0, u"a"), Record(7, 0, u"b"),
                                               Record(7, 0, u"c")};
        AnswerList(records, r.count);
        QV_SNAPSHOT_LIST list{99, reinterpret_cast<QV_SNAPSHOT_INFO*>(&list)};
        const std::uintmax_t before = trace.End();
        EXPECT_EQ(qvGetSnapshotList(handle, &r.selector, &list), r.status);
        ASSERT_EQ(list.Count, r.entries);
        if (r.entries == 0) {
            EXPECT_EQ(list.Entries, nullptr);
        }
        if (r.selector.Kind == 3 && r.entries == 1) {
            EXPECT_EQ(std::u16string(list.Entries[0].Text3), u"b");
        }
        EXPECT_EQ(trace.LinesAfter(before), r.lines);
        qvtest::ReleaseKept(qvFreeSnapshotList, list);
    }
}

TEST_F(Snapshots, BadKindsTouchNothing) {
    for (uint32_t kind : {0u, 5u}) {
        const QV_SNAPSHOT_SELECTOR bad{kind, &kDisk, 0, 0, 0};
        QV_SNAPSHOT_LIST kept{5, reinterpret_cast<QV_SNAPSHOT_INFO*>(&kept)};
        // The handle is checked before the kind.
        EXPECT_EQ(qvGetSnapshotList(nullptr, &bad, &kept), QV_STATUS_NO_HANDLE);
        EXPECT_EQ(qvGetSnapshotList(handle, &bad, &kept), QV_STATUS_INVALID_PARAMETER);
        EXPECT_EQ(qvDeleteSnapshots(handle, &bad), QV_STATUS_INVALID_PARAMETER);
        EXPECT_EQ(kept.Count, 5u);
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_EQ(trace.Lines(), (Lines{u"qvDeleteSnapshots, parameter invalid",
                                    u"qvDeleteSnapshots, parameter invalid"}));
}

// An entry short of memory does not stop the others: every record is
// converted and the list keeps them all for the release.
TEST_F(Snapshots, EntryShortOfMemoryKeepsTheList) {
    std::vector<RpcSnapshotRecord> records{Record(1, 0, u"x"), Record(2, 0, u"y")};
    AnswerList(records, 2);
    const QV_SNAPSHOT_SELECTOR selector{2, &kGroup, 0, 0, 0};
    QV_SNAPSHOT_LIST list{};
    qv::alloc_fault::Reset();
    ASSERT_EQ(qvGetSnapshotList(handle, &selector, &list), 0u);
    // The last entry's Text1, ViewName, owner and Text3 come last.
    const unsigned first_text3 = qv::alloc_fault::Count() - 4;
    qvtest::ReleaseKept(qvFreeSnapshotList, list);
    qv::alloc_fault::FailAt(first_text3);
    EXPECT_EQ(qvGetSnapshotList(handle, &selector, &list), QV_STATUS_NO_MEMORY);
    qv::alloc_fault::Reset();
    ASSERT_EQ(list.Count, 2u);
    EXPECT_EQ(list.Entries[0].Text3, nullptr);
    EXPECT_EQ(std::tuple(list.Entries[1].SnapshotId, std::u16string(list.Entries[1].Text3)),
              std::tuple(2u, u"y"));
    EXPECT_TRUE(trace.Lines().empty());
    qvtest::ReleaseKept(qvFreeSnapshotList, list);
}

TEST_F(Snapshots, DeleteSendsNoListParameters) {
    const QV_SNAPSHOT_KEY key{1, &kGroup, 9};
    const QV_SNAPSHOT_SELECTOR selector{4, &key, 11, 12, 13};
    ASSERT_EQ(qvDeleteSnapshots(handle, &selector), 0u);
    auto req = svc.Last<DELETE_SNAPSHOTS>();
    EXPECT_EQ(std::tuple(req->Objects.Objects_len, Text(req->GroupName), req->SnapshotId, req->Kind,
                         req->Param1, req->Param2, req->Param3, req->token),
              std::tuple(0u, u"Payroll", 9u, 4u, 0u, 0u, 0u, kMirrorToken));
}

// The rollbacks send only the object, the snapshot, the option (a rollback
// to a snapshot has none) and the token, whatever the owner kind; the
// unmount never sends a view name.
TEST_F(Snapshots, RollbackAndViewRequests) {
    const std::tuple<std::function<QV_STATUS()>, unsigned, int> rollbacks[] = {
        {[&] { return qvRollback(handle, 0, &kDisk, 17, -3); }, ROLLBACK, -3},
        {[&] { return qvRollback(handle, 1, &kDisk, 17, -3); }, ROLLBACK, -3},
        {[&] { return qvRollbackToSnapshot(handle, 0xFFFF, &kDisk, 17); }, ROLLBACK_TO_SNAPSHOT, 0}};
    for (const auto& [call, proc, option] : rollbacks) {
        ASSERT_EQ(call(), 0u);
        const qvtest::Decoded<RpcSnapshotRecord> req(
            reinterpret_cast<xdrproc_t>(xdr_RpcSnapshotRecord), svc.LastBytes(proc));
        EXPECT_EQ(std::tuple(req->Objects.Objects_len, req->SnapshotId, req->HasView, req->Value64,
                             Count(req->Text1), Count(req->Text2), Count(req->Text3), req->token,
                             req->Option),
                  std::tuple(1u, 17u, 0u, RpcHyper{0}, 0u, 0u, 0u, kMirrorToken, option));
    }
    for (const auto& [name, count] :
         {std::pair<const QV_WCHAR*, u_int>{nullptr, 0}, {u"", 1}, {u"ab", 3}}) {
        const QV_BACKLOOK_MOUNT mount{1, &kDisk, 17, name};
        ASSERT_EQ(qvMountBacklook(handle, &mount), 0u);
        auto req = svc.Last<MOUNT_BACKLOOK>();
        EXPECT_EQ(
            std::tuple(Count(req->ViewName), req->SnapshotId, req->token, req->Objects.Objects_len),
            std::tuple(count, 17u, kMirrorToken, 1u));
    }
    ASSERT_EQ(qvUnmountBacklook(handle, 1, &kDisk, 17), 0u);
    auto req = svc.Last<UNMOUNT_BACKLOOK>();
    EXPECT_EQ(std::tuple(Count(req->ViewName), req->SnapshotId, req->token),
              std::tuple(0u, 17u, kMirrorToken));
}

// ---- view disks, partitions, notifications, schedules, maintenance ----------

// Marker + 1 entries, filled like a disk and its partitions; a Marker the
// partitions received cannot back is refused before anything is allocated.
TEST_F(Snapshots, ViewDiskEntriesFollowTheMarker) {
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
        const QV_SNAPSHOT_KEY key{1, &kDisk, 3};
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

// The allocation's four parameters go under their names (the expansion's
// and the relocation's value are run against quarvane-sim by qvctl); the
// relocation's progress reader asks nothing.
TEST_F(Snapshots, PartitionAllocationCarriesItsParameters) {
    const QV_PARTITION_REQUEST alloc{{u"Harddisk1", 2}, 11, 22, 33, 44};
    ASSERT_EQ(qvAllocPartitionForDisk(handle, &alloc), 0u);
    auto a = svc.Last<ALLOC_PARTITION_FOR_DISK>();
    EXPECT_EQ(std::tuple(a->Param1, a->Param2, a->Param3, a->Param4),
              std::tuple(11u, 22u, 33u, 44u));
    svc.ClearRecord();
    EXPECT_EQ(qvGetRelocatePartitionProgress(nullptr, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(svc.TotalCalls(), 0u);
}

TEST_F(Snapshots, NotificationsGoTokenP2P3P1AndFillOnlyOnSuccess) {
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
TEST_F(Snapshots, ScheduleWriteBackChangesOnlyItsFields) {
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

TEST_F(Snapshots, FailedReadWritesNothingBackAndAMissingScheduleIsAdded) {
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

TEST_F(Snapshots, MaintenanceRequests) {
    ASSERT_EQ(qvBenchMarkDisk(handle, u"Harddisk1", 2), 0u);
    auto bench = svc.Last<DISK_MAINTENANCE>();
    EXPECT_EQ(std::tuple(bench->Objects.Objects_len, bench->Operation, bench->Parameter,
                         bench->Value3, Count(bench->Text1), Count(bench->Text2)),
              std::tuple(1u, 1u, 0u, 0u, 0u, 0u));
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

TEST_F(Snapshots, ConflictListAndItsRelease) {
    RpcConflict found[]{{*store.Ref(u"Harddisk4", 3), 8, store.Text(u"busy")}};
    svc.Answer<CHECK_RESTORE_CONFLICT>(RpcConflictList{0, {1, found}});
    const QV_CONFLICT_QUERY query{1, kDisk, kDisk, nullptr};
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

// A rollback is finished when the reply's word is 0 (the throughput's word
// is read by qvctl's maintenance case); statuses, outputs left on a failure
// and the requests' tokens are the table's.
TEST_F(Snapshots, RollbackIsFinishedOnAZeroWord) {
    uint32_t finished = 0xAAAA;
    for (const auto& [value, done] : {std::pair{0u, 1u}, {3u, 0u}}) {
        svc.Answer<IS_ROLLBACK_FINISHED>({0, value, 0});
        EXPECT_EQ(qvIsRollbackFinished(handle, u"Harddisk1", 2, &finished), 0u);
        EXPECT_EQ(finished, done);
    }
}

}  // namespace
