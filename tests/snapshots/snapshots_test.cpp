// Snapshots, rollback and views: requests as the service decoded them, the
// snapshot entries the caller receives, and the lines each function writes.
// What every function shares runs once over the function table.
#include <gtest/gtest.h>


#include "mirrors/mirror_test_support.h"
#include "platform/alloc.h"
#include "snapshots/wire_store.h"

using qvtest::Count;
using qvtest::kMirrorToken;
using qvtest::Lines;
using qvtest::Text;

namespace {

const QV_OBJECT_ID kDisk{u"Harddisk1", 2};
const QV_GROUP_REF kGroup{u"Payroll"};

class Snapshots : public qvtest::MirrorHandleTest {
  protected:
    qvtest::WireStore store;

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
        qvtest::ReleaseKept(qvFreeSnapshotList, list);
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
    svc.ClearRecord();
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

// A kept header stays as it was, pointing at what is gone.
TEST_F(Snapshots, FreeKeepsTheHeaderAsItWas) {
    std::vector<RpcSnapshotRecord> records{Record(1, 1, u"x")};
    AnswerList(records, 1);
    const QV_SNAPSHOT_SELECTOR selector{2, &kGroup, 0, 0, 0};
    QV_SNAPSHOT_LIST list{};
    ASSERT_EQ(qvGetSnapshotList(handle, &selector, &list), 0u);
    const QV_SNAPSHOT_LIST before = list;
    EXPECT_EQ(qvtest::ReleaseKept(qvFreeSnapshotList, list), &list);
    EXPECT_EQ(std::tuple(list.Count, list.Entries), std::tuple(1u, before.Entries));
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

// The rollback sends only the object, the snapshot, the option and the
// token, whatever the owner kind; the unmount never sends a view name.
TEST_F(Snapshots, RollbackAndViewRequests) {
    for (uint32_t owner_kind : {0u, 1u}) {
        ASSERT_EQ(qvRollback(handle, owner_kind, &kDisk, 17, -3), 0u);
        auto req = svc.Last<ROLLBACK>();
        EXPECT_EQ(std::tuple(req->Objects.Objects_len, req->SnapshotId, req->HasView, req->Value64,
                             Count(req->Text1), Count(req->Text2), Count(req->Text3), req->token,
                             req->Option),
                  std::tuple(1u, 17u, 0u, RpcHyper{0}, 0u, 0u, 0u, kMirrorToken, -3));
    }
    for (const auto& [name, count] :
         {std::pair<const QV_WCHAR*, u_int>{nullptr, 0}, {u"", 1}, {u"ab", 3}}) {
        const QV_BACKLOOK_MOUNT mount{1, &kDisk, 17, name};
        ASSERT_EQ(qvMountBacklook(handle, &mount), 0u);
        auto req = svc.Last<MOUNT_BACKLOOK>();
        EXPECT_EQ(std::tuple(Count(req->ViewName), req->SnapshotId, req->token,
                             req->Objects.Objects_len),
                  std::tuple(count, 17u, kMirrorToken, 1u));
    }
    ASSERT_EQ(qvUnmountBacklook(handle, 1, &kDisk, 17), 0u);
    auto req = svc.Last<UNMOUNT_BACKLOOK>();
    EXPECT_EQ(std::tuple(Count(req->ViewName), req->SnapshotId, req->token),
              std::tuple(0u, 17u, kMirrorToken));
}

}  // namespace
