// The disk inventory, over the sample disk list reply (sample_replies.cpp):
// what qvGetDiskList asks the service for, which entries each list kind
// makes, what a disk and a partition entry carry, composed display names,
// the reply's disk count against what arrived, and the rescan. The rules
// every function shares run over the table of functions.
//
// The sample's disks: 0 with C: System (1), D:E: with an empty label (2),
// an excluded Recovery without letters (3), a bare one (4); 1 dynamic; 2
// excluded, numbered 0xFFFFFFFE, with H: (1); 3 bare, its entry excluded;
// 4 its entry excluded, with F: and no label (1) and an excluded one (5).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/alloc.h"
#include "support/connected_test.h"
#include "support/memory_client.h"
#include "support/sample_replies.h"

namespace {

using Lines = std::vector<std::u16string>;

std::u16string Str(const QV_WCHAR* text) { return text == nullptr ? u"<null>" : text; }

class DiskList : public ::testing::Test {
  protected:
    qvtest::TraceFixture trace;
    qvtest::MemoryClient client;
    qvtest::Bytes reply = qvtest::SampleReply(GET_DISK_LIST);
    QV_DISK_LIST list{};

    void SetUp() override { client.KeepRequests(true); }
    void TearDown() override { Release(); }
    void Release() {
        qvtest::ReleaseKept(qvFreeDiskList, list);
        list = {};
    }
    // Fills `list` afresh; an object (Harddisk0, number) goes with kinds 7
    // and 8, or with any kind when `number` is given.
    QV_STATUS Get(uint32_t kind, int number = -1, uint32_t options = 0, uint32_t refresh = 0) {
        Release();
        client.SetReply(reply);
        const QV_OBJECT_ID object{u"Harddisk0", number < 0 ? 0u : static_cast<uint32_t>(number)};
        const bool about = number >= 0 || kind == 7 || kind == 8;
        const QV_DISK_FILTER filter{kind, options, refresh, about ? &object : nullptr};
        return qvGetDiskList(client.handle(), &filter, &list);
    }
    qvtest::Decoded<RpcDiskListRequest> Request() const {
        return {qv::wire::Proc<GET_DISK_LIST>::ArgFilter(), client.last_request()};
    }
    const QV_DISK_INFO& Entry(std::u16string_view name) const {
        for (uint32_t i = 0; i < list.Count; ++i) {
            if (Str(list.Entries[i].DisplayName) == name) return list.Entries[i];
        }
        ADD_FAILURE() << "no entry of that name";
        return list.Entries[0];
    }
};

// Each kind asks for its list code (what each code lists is run against
// quarvane-sim), a kind the library does not know for code 0; Refresh adds
// the rescan bit to the caller's options; without an object the reference
// goes empty.
TEST_F(DiskList, RequestCarriesListCodeAndOptions) {
    const struct {
        uint32_t kind, options, refresh, list_code, sent_options;
    } rows[] = {
        {1, 0x12, 0, 0, 0x12},
        {4, 0x7FFFFFFF, 7, 2, 0xFFFFFFFF},
        {5, 0x80000001, 0, 3, 0x80000001},
        {7, 0, 1, 5, 0x80000000},
        {8, 0, 0, 6, 0},
        {2, 0, 1, 0, 0x80000000},  // a kind the library does not know
    };
    for (const auto& r : rows) {
        ASSERT_EQ(Get(r.kind, -1, r.options, r.refresh), 0u) << r.kind;
        auto req = Request();
        const bool about = r.kind == 7 || r.kind == 8;
        EXPECT_EQ(std::tuple(req->ListCode, req->Options, qvtest::Count(req->Object.name)),
                  std::tuple(r.list_code, r.sent_options, about ? 10u : 0u))
            << r.kind;
    }
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(DiskList, EachKindMakesItsEntries) {
    const Lines every{u"Disk 0",
                      u"Disk 0 Partition 1 - System (C:)",
                      u"Disk 0 Partition 2 - (D:E:)",
                      u"Disk 0 Partition 3",
                      u"Disk 0 Partition 4",
                      u"Disk 1",
                      u"Disk -2",
                      u"Disk -2 Partition 1 - (H:)",
                      u"Disk 3",
                      u"Disk 4",
                      u"Disk 4 Partition 1 - (F:)",
                      u"Disk 4 Partition 5"};
    const Lines disks{u"Disk 0", u"Disk 1", u"Disk -2", u"Disk 3", u"Disk 4"};
    const struct {
        uint32_t kind;
        int number;
        Lines names;
    } rows[] = {
        // What the service excludes is left out; a dynamic disk's partitions never show.
        {1,
         -1,
         {u"Disk 0", u"Disk 0 Partition 1 - System (C:)", u"Disk 0 Partition 2 - (D:E:)",
          u"Disk 0 Partition 4", u"Disk 1", u"Disk 4 Partition 1 - (F:)"}},
        {3, -1, every},
        {255, -1, every},
        {3, 2, every},  // an object does not narrow the other kinds
        {5, -1, disks},
        {6, 1, disks},
        {7, 0, disks},
        {7,
         1,
         {u"Disk 0 Partition 1 - System (C:)", u"Disk 0 Partition 2 - (D:E:)",
          u"Disk 0 Partition 3", u"Disk 0 Partition 4", u"Disk -2 Partition 1 - (H:)",
          u"Disk 4 Partition 1 - (F:)", u"Disk 4 Partition 5"}},
        {8, 0, {u"Disk 0"}},
        {8, 2, {u"Disk 0 Partition 2 - (D:E:)"}},
        {8, 9, {u"<null>"}},  // only the first disk is searched: one all-zero entry
        {2, -1, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << r.kind << " number " << r.number);
        ASSERT_EQ(Get(r.kind, r.number), 0u);
        Lines names;
        for (uint32_t i = 0; i < list.Count; ++i) names.push_back(Str(list.Entries[i].DisplayName));
        EXPECT_EQ(names, r.names);
        EXPECT_EQ(list.Entries == nullptr, list.Count == 0);
        const QV_DISK_INFO zero{};
        if (list.Count == 1 && list.Entries[0].DisplayName == nullptr) {
            EXPECT_EQ(std::memcmp(&list.Entries[0], &zero, sizeof zero), 0);
        }
    }
    EXPECT_TRUE(trace.Lines().empty());
}

// Kinds 7 and 8 are about an object: without one they are refused before
// anything is sent, and the list is left as it was.
TEST_F(DiskList, KindsAboutAnObjectNeedOne) {
    for (uint32_t kind : {7u, 8u}) {
        QV_DISK_INFO entry{};
        list = {5, &entry};
        const QV_DISK_FILTER filter{kind, 0, 0, nullptr};
        EXPECT_EQ(qvGetDiskList(client.handle(), &filter, &list), QV_STATUS_INVALID_PARAMETER);
        EXPECT_EQ(std::tuple(list.Count, list.Entries), std::tuple(5u, &entry));
        list = {};
    }
    EXPECT_EQ(client.calls(), 0u);
}

// The fields a disk entry and a partition entry take from their records,
// and those both take from the disk.
TEST_F(DiskList, EntriesCarryTheirRecordsFields) {
    ASSERT_EQ(Get(3), 0u);
    const QV_DISK_INFO& disk = Entry(u"Disk 0");
    const QV_DISK_INFO& part = Entry(u"Disk 0 Partition 1 - System (C:)");
    const auto own = [](const QV_DISK_INFO& e) {
        return std::tuple(e.PartitionNumber, e.DiskMarked, e.Attribute, e.DiskAttribute3,
                          e.PartitionAttribute, e.PartitionType, e.Size, e.UsedSize, e.Measure);
    };
    // The disk's UsedSize is a 64-bit sum of its partitions' figures.
    EXPECT_EQ(own(disk), std::tuple(0u, 1u, -1, 4, 0u, 0u, 976762u,
                                    uint64_t{1024 + 2048 + 3072} + 0xFFFFFFFF, 1024u));
    EXPECT_EQ(own(part), std::tuple(1u, 0u, 0x11, 0, 0x201u, 7u, 20480u, 1024u, 512u));
    EXPECT_EQ((Lines{Str(disk.Letters), Str(disk.Label), Str(part.Letters), Str(part.Label)}),
              (Lines{u"C:D:E:", u"", u"C:", u"System"}));
    for (const QV_DISK_INFO* e : {&disk, &part}) {
        SCOPED_TRACE(e->PartitionNumber);
        EXPECT_EQ(std::tuple(e->DiskNumber, e->DiskAttribute1, e->DiskAttribute2, e->HighFlag,
                             e->DiskAttribute4),
                  std::tuple(0u, 2, -3, 1u, 5u));
        EXPECT_EQ((Lines{Str(e->DiskName), Str(e->DiskText1), Str(e->DiskText2)}),
                  (Lines{u"Harddisk0", u"Bus 0", u"Online"}));
        const QV_DISK_PROPERTIES& p = e->Properties;
        EXPECT_EQ(std::tuple(p.Value0, p.Value1, p.Value2, p.Value3, p.Value4, p.Value5, p.Mode),
                  std::tuple(106u, 100u, 102u, 101u, 103u, 104u, 2u));
        EXPECT_EQ((Lines{Str(p.Text1), Str(p.Text2)}), (Lines{u"Vendor", u"Model 7"}));
        const QV_DISK_DESCRIPTOR& d = e->Descriptor;
        EXPECT_EQ((Lines{Str(d.Text1), Str(d.Text2), Str(d.Text3), Str(d.Text4)}),
                  (Lines{u"SCSI", u"", u"Port 2, Target 0", u"<null>"}));
        EXPECT_EQ(std::tuple(d.Value, d.Value64), std::tuple(77u, -0x123456789ABCLL));
    }
    // A label sent empty reads empty, one not sent reads null.
    EXPECT_EQ(Str(Entry(u"Disk 0 Partition 2 - (D:E:)").Label), u"");
    EXPECT_EQ(Str(Entry(u"Disk 4 Partition 1 - (F:)").Label), u"<null>");
    // The properties' mode from the lowest of three bits, HighFlag from bit
    // 31 of Flags; a disk without texts, properties or descriptor.
    EXPECT_EQ(std::tuple(Entry(u"Disk 1").Properties.Mode, Entry(u"Disk -2").Properties.Mode,
                         Entry(u"Disk -2").HighFlag),
              std::tuple(1u, 3u, 0u));
    const QV_DISK_INFO& bare = Entry(u"Disk 3");
    EXPECT_EQ((Lines{Str(bare.DiskName), Str(bare.DiskText1), Str(bare.Properties.Text1)}),
              (Lines{u"", u"", u"<null>"}));
    const QV_DISK_PROPERTIES no_properties{};
    EXPECT_EQ(std::memcmp(&bare.Properties, &no_properties, sizeof no_properties), 0);
    // The dynamic disk shows its 0x42 in its own entry.
    EXPECT_EQ(Entry(u"Disk 1").PartitionType, 0x42u);
}

// Composed texts have fixed room: a partition name 127 characters, the
// joined letters 511. What does not fit is cut, never written past; the
// entry's own copies are whole.
TEST_F(DiskList, LongTextsAreCutToTheirRoom) {
    const std::u16string label(300, u'L');
    const std::u16string letters(200, u'X');
    qvtest::Arena a;
    std::vector<RpcPartitionRecord> partitions(3);
    for (u_int n = 0; n < 3; ++n) {
        partitions[n].Number = n + 1;
        partitions[n].Letters = a.Text(letters);
        partitions[n].Label = a.Text(label);
    }
    RpcDiskRecord disk{};
    disk.Name = a.Text(u"Harddisk0");
    a.Put(disk.Partitions, std::move(partitions));
    RpcDiskList records{0, 1, {}};
    a.Put(records.Disks, std::vector{disk});
    reply = qvtest::Encode(qv::wire::Proc<GET_DISK_LIST>::ResFilter(), &records);
    ASSERT_EQ(Get(3), 0u);
    ASSERT_EQ(list.Count, 4u);
    EXPECT_EQ(Str(list.Entries[0].Letters), std::u16string(511, u'X'));
    EXPECT_EQ(Str(list.Entries[1].DisplayName), (u"Disk 0 Partition 1 - " + label).substr(0, 127));
    EXPECT_EQ((Lines{Str(list.Entries[1].Label), Str(list.Entries[1].Letters)}),
              (Lines{label, letters}));
}

// DiskCount decides how many disks are walked; one beyond the received
// records is refused without reading past them.
TEST_F(DiskList, DiskCountIsCheckedAgainstTheReceivedDisks) {
    const qvtest::Bytes sample = reply;
    for (uint32_t count : {0u, 1u, 5u, 6u}) {
        SCOPED_TRACE(count);
        reply =
            qvtest::EditReply<GET_DISK_LIST>(sample, [&](RpcDiskList& l) { l.DiskCount = count; });
        EXPECT_EQ(Get(5), count <= 5 ? 0u : QV_STATUS_RPC_FAILED);
        EXPECT_EQ(list.Count, count <= 5 ? count : 0);
    }
    EXPECT_EQ(trace.Lines(), Lines{u"qvGetDiskList, reply counts 6 disks but carries 5[6FFC8005]"});
}

TEST_F(DiskList, RefreshAsksForARescanAndConvertsNothing) {
    client.SetReply(reply);
    qv::alloc_fault::Reset();
    EXPECT_EQ(qvRefreshDiskList(client.handle()), 0u);
    EXPECT_EQ(qv::alloc_fault::Count(), 0u);
    auto req = Request();
    EXPECT_EQ(std::tuple(req->ListCode, req->Options, qvtest::Count(req->Object.name),
                         req->Object.number),
              std::tuple(0u, 0x800000FFu, 0u, 0u));
}

}  // namespace
