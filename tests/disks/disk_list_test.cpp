// The disk inventory: what qvGetDiskList asks the service for, which entries
// each list kind makes, what a disk and a partition entry carry (fields,
// composed display names, texts without elements or without an end), the
// reply's disk count against what arrived, and the rescan. The rules every
// function shares run over the table of functions.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "disks/disk_fixture.h"
#include "platform/alloc.h"

using disktest::AllZero;
using disktest::DiskReply;
using disktest::DiskTest;
using disktest::DisplayNames;
using disktest::Lines;
using disktest::Sentinel;
using disktest::Str;
using qvtest::Text;

namespace {

using DiskList = DiskTest;

// One disk with two partitions and every kind of text.
RpcDiskList& SmallInventory(DiskReply& r) {
    RpcDiskRecord& d = r.AddDisk(0);
    RpcDiskProperties& props = r.AddProperties(d);
    props.Text1 = r.Str(u"Bus");
    props.Text2 = r.Str(u"Slot");
    r.AddDescriptor(d) = {r.Str(u"T1"), r.Str(u"T2"), r.Str(u"T3"), r.Str(u"T4"), 0, 0};
    r.AddPartition(d, 1, u"C:", u"System");
    r.AddPartition(d, 2, u"D:", u"Data");
    return r.Record();
}

TEST_F(DiskList, RequestCarriesListCodeObjectOptionsAndToken) {
    const QV_OBJECT_ID disk{u"Harddisk2", 0};
    const QV_OBJECT_ID partition{u"Harddisk2", 3};
    const QV_OBJECT_ID unnamed{u"", 1};
    const struct {
        uint32_t kind, options, refresh;
        const QV_OBJECT_ID* object;
        uint32_t list_code, sent_options;
    } rows[] = {
        {1, 0x12, 0, nullptr, 0, 0x12},
        {3, 0, 1, nullptr, 1, 0x80000000},
        {4, 0x7FFFFFFF, 7, &disk, 2, 0xFFFFFFFF},
        {5, 0x80000001, 0, nullptr, 3, 0x80000001},
        {6, 5, 0, &partition, 4, 5},
        {7, 0, 1, &partition, 5, 0x80000000},
        {8, 0, 0, &unnamed, 6, 0},
        {255, 0, 0, nullptr, 255, 0},
        // Kinds the library does not know are asked as list code 0.
        {0, 0, 0, nullptr, 0, 0},
        {2, 0, 1, nullptr, 0, 0x80000000},
        {9, 3, 0, &disk, 0, 3},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << r.kind);
        EXPECT_EQ(Get(r.kind, r.object, r.options, r.refresh), 0u);
        auto req = svc.Last<GET_DISK_LIST>();
        ASSERT_TRUE(req.ok());
        EXPECT_EQ(req->ListCode, r.list_code);
        EXPECT_EQ(req->Options, r.sent_options);
        EXPECT_EQ(req->token, kToken);
        EXPECT_EQ(req->Object.kind, 0u);
        EXPECT_EQ(req->Object.token, 0u);  // nested: the record has its own token
        const std::u16string name = r.object == nullptr ? u"" : r.object->name;
        EXPECT_EQ(Text(req->Object.name), name);
        EXPECT_EQ(qvtest::Count(req->Object.name), r.object == nullptr ? 0 : name.size() + 1);
        EXPECT_EQ(req->Object.number, r.object == nullptr ? 0 : r.object->number);
    }
    EXPECT_TRUE(trace.Lines().empty());
}

// One inventory, every list kind over it:
//   disk 0  C: System (1), D: excluded (2)
//   disk 1  no partitions, its own entry excluded
//   disk 2  dynamic: a 0x42 partition among others
//   disk 3  excluded, with E: (1)
//   disk 4  its own entry excluded; F: without label (1), an excluded one (5)
TEST_F(DiskList, EachKindMakesItsEntries) {
    DiskReply reply;
    RpcDiskRecord& d0 = reply.AddDisk(0);
    reply.AddPartition(d0, 1, u"C:", u"System");
    reply.AddPartition(d0, 2, u"D:").Excluded = 1;
    reply.AddDisk(1).DiskEntryExcluded = 1;
    RpcDiskRecord& d2 = reply.AddDisk(2);
    reply.AddPartition(d2, 1).Type = 0x07;
    reply.AddPartition(d2, 2).Type = 0x42;
    RpcDiskRecord& d3 = reply.AddDisk(3);
    d3.Excluded = 1;
    reply.AddPartition(d3, 1, u"E:");
    RpcDiskRecord& d4 = reply.AddDisk(4);
    d4.DiskEntryExcluded = 1;
    reply.AddPartition(d4, 1, u"F:");
    reply.AddPartition(d4, 5).Excluded = 1;
    svc.Answer<GET_DISK_LIST>(reply.Record());

    const Lines every{u"Disk 0",
                      u"Disk 0 Partition 1 - System (C:)",
                      u"Disk 0 Partition 2 - (D:)",
                      u"Disk 1",
                      u"Disk 2",
                      u"Disk 3",
                      u"Disk 3 Partition 1 - (E:)",
                      u"Disk 4",
                      u"Disk 4 Partition 1 - (F:)",
                      u"Disk 4 Partition 5"};
    const Lines disks{u"Disk 0", u"Disk 1", u"Disk 2", u"Disk 3", u"Disk 4"};
    const struct {
        uint32_t kind;
        std::optional<uint32_t> number;
        Lines names;
    } rows[] = {
        {1,
         {},
         {u"Disk 0", u"Disk 0 Partition 1 - System (C:)", u"Disk 2", u"Disk 4 Partition 1 - (F:)"}},
        {3, {}, every},
        {4, {}, every},
        {255, {}, every},
        {3, 2u, every},  // an object does not narrow the other kinds
        {5, {}, disks},
        {6, 1u, disks},
        {7, 0u, disks},
        {7,
         1u,
         {u"Disk 0 Partition 1 - System (C:)", u"Disk 0 Partition 2 - (D:)",
          u"Disk 3 Partition 1 - (E:)", u"Disk 4 Partition 1 - (F:)", u"Disk 4 Partition 5"}},
        {8, 0u, {u"Disk 0"}},
        {8, 2u, {u"Disk 0 Partition 2 - (D:)"}},
        {8, 5u, {u"<null>"}},  // only the first disk is searched: one all-zero entry
        {2, {}, {}},
        {9, 1u, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << r.kind << " number " << r.number.value_or(0));
        const QV_OBJECT_ID object{u"Harddisk0", r.number.value_or(0)};
        ASSERT_EQ(Get(r.kind, r.number ? &object : nullptr), 0u);
        ASSERT_EQ(disktest::DisplayNames(list), r.names);
        EXPECT_EQ(list.Entries == nullptr, list.Count == 0);
        for (uint32_t i = 0; i < list.Count; ++i) {
            const QV_DISK_INFO& e = list.Entries[i];
            if (e.DisplayName == nullptr) {
                EXPECT_TRUE(AllZero(e));
                continue;
            }
            // Name and number are the object reference of the entry.
            const std::string digits = std::to_string(e.DiskNumber);
            EXPECT_EQ(disktest::Str(e.DiskName),
                      u"Harddisk" + std::u16string(digits.begin(), digits.end()));
            EXPECT_EQ(e.PartitionNumber == 0,
                      r.names[i].find(u"Partition") == std::u16string::npos);
            // The dynamic disk shows its 0x42 in its own entry.
            if (e.PartitionNumber == 0) {
                EXPECT_EQ(e.PartitionType, e.DiskNumber == 2 ? 0x42u : 0u);
            }
        }
    }
    EXPECT_TRUE(trace.Lines().empty());
}

// Kinds 7 and 8 are about an object: without one they are refused before
// anything is sent, and the list is left as it was.
TEST_F(DiskList, KindsAboutAnObjectNeedOne) {
    for (uint32_t kind : {7u, 8u}) {
        list = {5, Sentinel()};
        const QV_DISK_FILTER filter{kind, 0, 0, nullptr};
        EXPECT_EQ(qvGetDiskList(handle, &filter, &list), QV_STATUS_INVALID_PARAMETER);
        EXPECT_EQ(std::tuple(list.Count, list.Entries), std::tuple(5u, Sentinel()));
    }
    list = {};
    EXPECT_EQ(svc.TotalCalls(), 0u);
}

TEST_F(DiskList, EmptyOrSkippedInventoryGivesAnEmptyList) {
    for (const auto& [kind, dynamic_only] : {std::pair{3u, false}, {8u, false}, {7u, true}}) {
        SCOPED_TRACE(kind);
        DiskReply reply;
        if (dynamic_only) reply.AddPartition(reply.AddDisk(0), 1).Type = 0x42;
        svc.Answer<GET_DISK_LIST>(reply.Record());
        const QV_OBJECT_ID object{u"Harddisk0", 1};
        list = {7, disktest::Sentinel()};
        const QV_DISK_FILTER filter{kind, 0, 0, &object};
        EXPECT_EQ(qvGetDiskList(handle, &filter, &list), 0u);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
    }
}



TEST_F(DiskList, DiskAndPartitionEntriesCarryTheirRecordsFields) {
    DiskReply r;
    RpcDiskRecord& d = r.AddDisk(7);
    d.Flags = 0x80000005;
    d.Attribute = -3;
    d.Attribute1 = 11;
    d.Attribute2 = -12;
    d.Attribute3 = 13;
    d.Marker = 3;
    d.Size = 0xFFFFFFF0;
    d.Measure = 512;
    d.Attribute4 = 14;
    d.Text0 = r.Str(u"unused");
    d.Text1 = r.Str(u"Vendor");
    d.Text2 = r.Str(u"Model");
    r.AddProperties(d) = {100, 101, 102, 103, 104, 2, 106, r.Str(u"Bus"), r.Str(u"Slot")};
    r.AddProperties(d).P6 = 999;  // only the first is read
    r.AddDescriptor(d) = {r.Str(u"T1"), r.Str(u"T2"), r.Str(u"T3"), r.Str(u"T4"), 21, -5000000000};
    r.AddDescriptor(d).Value = 999;
    RpcPartitionRecord& p1 = r.AddPartition(d, 1, u"C:", u"System");
    // Number, Excluded, Attribute, Type, Letters, Label, Extra1, Size, Measure,
    // Extra2, UsedSize, Attribute2.
    p1 = {1, 0, -21, 0x07, p1.Letters, p1.Label, 1, 4000, 4096, 1, 0xFFFFFFFF, 22};
    r.AddPartition(d, 2).UsedSize = 0xFFFFFFFF;
    r.AddPartition(d, 3, u"E:").UsedSize = 5;
    svc.Answer<GET_DISK_LIST>(r.Record());

    ASSERT_EQ(Get(3), 0u);
    ASSERT_EQ(list.Count, 4u);
    const QV_DISK_INFO& disk = list.Entries[0];
    const QV_DISK_INFO& part = list.Entries[1];

    // Fields whose source differs between the two kinds of entry.
    const auto own = [](const QV_DISK_INFO& e) {
        return std::tuple(e.PartitionNumber, e.DiskMarked, e.Attribute, e.DiskAttribute3,
                          e.PartitionAttribute, e.PartitionType, e.Size, e.UsedSize, e.Measure);
    };
    // The disk's UsedSize is a 64-bit sum of its partitions' figures.
    EXPECT_EQ(own(disk), std::tuple(0u, 1u, -3, 13, 0u, 0u, 0xFFFFFFF0u, 0x200000003u, 512u));
    EXPECT_EQ(own(part), std::tuple(1u, 0u, -21, 0, 22u, 7u, 4000u, 0xFFFFFFFFu, 4096u));
    EXPECT_EQ((Lines{Str(disk.DisplayName), Str(disk.Letters), Str(disk.Label)}),
              (Lines{u"Disk 7", u"C:E:", u""}));
    EXPECT_EQ((Lines{Str(part.DisplayName), Str(part.Letters), Str(part.Label)}),
              (Lines{u"Disk 7 Partition 1 - System (C:)", u"C:", u"System"}));

    // What both take from the disk record.
    for (const QV_DISK_INFO* e : {&disk, &part}) {
        SCOPED_TRACE(e == &disk ? "disk entry" : "partition entry");
        EXPECT_EQ(std::tuple(e->DiskNumber, e->DiskAttribute1, e->DiskAttribute2, e->HighFlag,
                             e->DiskAttribute4),
                  std::tuple(7u, 11, -12, 1u, 14u));
        EXPECT_EQ((Lines{Str(e->DiskName), Str(e->DiskText1), Str(e->DiskText2)}),
                  (Lines{u"Harddisk7", u"Vendor", u"Model"}));
        const QV_DISK_PROPERTIES& p = e->Properties;
        EXPECT_EQ((std::vector<uint32_t>{p.Value0, p.Value1, p.Value2, p.Value3, p.Value4, p.Value5,
                                         p.Mode}),
                  (std::vector<uint32_t>{106, 100, 102, 101, 103, 104, 2}));
        EXPECT_EQ((Lines{Str(p.Text1), Str(p.Text2)}), (Lines{u"Bus", u"Slot"}));
        const QV_DISK_DESCRIPTOR& t = e->Descriptor;
        EXPECT_EQ((Lines{Str(t.Text1), Str(t.Text2), Str(t.Text3), Str(t.Text4)}),
                  (Lines{u"T1", u"T2", u"T3", u"T4"}));
        EXPECT_EQ(t.Value, 21u);
        EXPECT_EQ(t.Value64, -5000000000);
    }
}

// The properties' mode from the lowest of P5's three low bits; HighFlag is
// bit 31 of Flags alone.
TEST_F(DiskList, ModeAndHighFlagReadTheirBits) {
    const struct {
        uint32_t mask, mode, flags, high;
    } rows[] = {{0, 0, 0x7FFFFFFF, 0}, {1, 1, 0x80000000, 1}, {2, 2, 0, 0},
                {3, 1, 0, 0},          {4, 3, 0, 0},          {6, 2, 0, 0},
                {7, 1, 0, 0},          {8, 0, 0, 0},          {0xFFFFFFF8, 0, 0xFFFFFFFF, 1}};
    DiskReply r;
    for (uint32_t i = 0; i < std::size(rows); ++i) {
        RpcDiskRecord& d = r.AddDisk(i);
        d.Flags = rows[i].flags;
        r.AddProperties(d).P5 = rows[i].mask;
    }
    svc.Answer<GET_DISK_LIST>(r.Record());
    ASSERT_EQ(Get(5), 0u);
    ASSERT_EQ(list.Count, std::size(rows));
    for (uint32_t i = 0; i < list.Count; ++i) {
        EXPECT_EQ(list.Entries[i].Properties.Mode, rows[i].mode) << "P5 " << rows[i].mask;
        EXPECT_EQ(list.Entries[i].HighFlag, rows[i].high) << "Flags " << rows[i].flags;
    }
}

TEST_F(DiskList, DisplayNamesAreComposedFromLettersAndLabel) {
    DiskReply r;
    RpcDiskRecord& d0 = r.AddDisk(0);
    r.AddPartition(d0, 1, u"", u"Ignored");
    r.AddPartition(d0, 2, u"C:", u"System");
    RpcDiskRecord& d1 = r.AddDisk(1);
    r.AddPartition(d1, 2, u"F:").Label = DiskReply::None();
    r.AddPartition(d1, 3, u"", u"Data").Letters = DiskReply::None();
    // Texts that arrive without their terminator end with their units.
    RpcPartitionRecord& unended = r.AddPartition(d1, 4);
    unended.Letters = r.Str(u"H:", false);
    unended.Label = r.Str(u"Backup", false);
    // A terminator inside the units ends the text there.
    r.AddPartition(d1, 5).Letters = r.Str(std::u16string_view(u"I:\0J:", 5), false);
    r.AddPartition(r.AddDisk(0xFFFFFFFF), 0x80000000);
    svc.Answer<GET_DISK_LIST>(r.Record());

    ASSERT_EQ(Get(3), 0u);
    EXPECT_EQ(DisplayNames(list), (Lines{
                                      u"Disk 0",
                                      u"Disk 0 Partition 1",
                                      u"Disk 0 Partition 2 - System (C:)",
                                      u"Disk 1",
                                      u"Disk 1 Partition 2 - (F:)",
                                      u"Disk 1 Partition 3",
                                      u"Disk 1 Partition 4 - Backup (H:)",
                                      u"Disk 1 Partition 5 - (I:)",
                                      u"Disk -1",
                                      u"Disk -1 Partition -2147483648",
                                  }));
    EXPECT_EQ(Str(list.Entries[3].Letters), u"F:H:I:");
    EXPECT_EQ(Str(list.Entries[6].Letters), u"H:");
    EXPECT_EQ(Str(list.Entries[6].Label), u"Backup");
    // A disk without properties or descriptor has them all zero.
    for (uint32_t i = 0; i < list.Count; ++i) {
        EXPECT_TRUE(disktest::AllZero(list.Entries[i].Properties)) << i;
        EXPECT_TRUE(disktest::AllZero(list.Entries[i].Descriptor)) << i;
    }
}

TEST_F(DiskList, TextsWithoutElements) {
    DiskReply r;
    RpcDiskRecord& d = r.AddDisk(0);
    d.Name = d.Text1 = d.Text2 = DiskReply::None();
    r.AddProperties(d).Text2 = r.Str(u"");
    r.AddDescriptor(d).Text2 = r.Str(u"T2");
    RpcPartitionRecord& p = r.AddPartition(d, 1);
    p.Letters = p.Label = DiskReply::None();
    r.AddPartition(d, 2, u"", u"");  // empty, but sent
    svc.Answer<GET_DISK_LIST>(r.Record());

    ASSERT_EQ(Get(3), 0u);
    ASSERT_EQ(list.Count, 3u);
    for (uint32_t i = 0; i < list.Count; ++i) {
        SCOPED_TRACE(i);
        const QV_DISK_INFO& e = list.Entries[i];
        EXPECT_EQ(
            (Lines{Str(e.DiskName), Str(e.DiskText1), Str(e.DiskText2), Str(e.Letters),
                   Str(e.Properties.Text1), Str(e.Properties.Text2), Str(e.Descriptor.Text1),
                   Str(e.Descriptor.Text2), Str(e.Descriptor.Text3), Str(e.Descriptor.Text4)}),
            (Lines{u"", u"", u"", u"", u"<null>", u"", u"<null>", u"T2", u"<null>", u"<null>"}));
    }
    EXPECT_EQ(Str(list.Entries[0].Label), u"");        // a disk entry's label is empty
    EXPECT_EQ(Str(list.Entries[1].Label), u"<null>");  // not sent
    EXPECT_EQ(Str(list.Entries[2].Label), u"");        // sent empty
}

// Composed texts have fixed room: a partition name 127 characters, the
// joined letters 511. What does not fit is cut, never written past.
TEST_F(DiskList, LongTextsAreCutToTheirRoom) {
    const std::u16string label(300, u'L');
    const std::u16string letters(200, u'X');
    DiskReply r;
    RpcDiskRecord& d = r.AddDisk(0);
    for (uint32_t n = 1; n <= 3; ++n) r.AddPartition(d, n, letters, label);
    svc.Answer<GET_DISK_LIST>(r.Record());
    ASSERT_EQ(Get(3), 0u);
    ASSERT_EQ(list.Count, 4u);
    EXPECT_EQ(Str(list.Entries[0].Letters), std::u16string(511, u'X'));
    EXPECT_EQ(Str(list.Entries[1].DisplayName), (u"Disk 0 Partition 1 - " + label).substr(0, 127));
    // The entry's own copies are whole.
    EXPECT_EQ(Str(list.Entries[1].Label), label);
    EXPECT_EQ(Str(list.Entries[1].Letters), letters);
}

// DiskCount decides how many disks are walked; one beyond the received
// records is refused without reading past them.
TEST_F(DiskList, DiskCountIsCheckedAgainstTheReceivedDisks) {
    DiskReply r;
    r.AddDisk(0);
    r.AddDisk(1);
    r.AddDisk(2);
    RpcDiskList& reply = r.Record();
    for (uint32_t count : {0u, 1u, 3u, 4u}) {
        SCOPED_TRACE(count);
        reply.DiskCount = count;
        svc.Answer<GET_DISK_LIST>(reply);
        EXPECT_EQ(Get(5), count <= 3 ? 0u : QV_STATUS_RPC_FAILED);
        EXPECT_EQ(list.Count, count <= 3 ? count : 0);
        EXPECT_EQ(list.Entries == nullptr, list.Count == 0);
    }
    EXPECT_EQ(trace.Lines(), Lines{u"qvGetDiskList, reply counts 4 disks but carries 3[6FFC8005]"});
}

TEST_F(DiskList, RefreshAsksForARescanAndConvertsNothing) {
    DiskReply r;
    svc.Answer<GET_DISK_LIST>(SmallInventory(r));
    qv::alloc_fault::Reset();
    EXPECT_EQ(qvRefreshDiskList(handle), 0u);
    EXPECT_EQ(qv::alloc_fault::Count(), 0u);
    auto req = svc.Last<GET_DISK_LIST>();
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(req->ListCode, 0u);
    EXPECT_EQ(req->Options, 0x800000FFu);
    EXPECT_EQ(req->token, kToken);
    EXPECT_EQ(qvtest::Count(req->Object.name), 0u);
    EXPECT_EQ(req->Object.number, 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

}  // namespace
