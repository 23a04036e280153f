// What a disk entry and a partition entry carry: their fields, their composed
// display names, and texts that come without elements or without an end.
#include <gtest/gtest.h>

#include <string>

#include "disks/disk_fixture.h"

using disktest::DiskReply;
using disktest::DisplayNames;
using disktest::Lines;
using disktest::Str;

namespace {

using DiskEntries = disktest::DiskTest;

TEST_F(DiskEntries, DiskAndPartitionEntriesCarryTheirRecordsFields) {
    DiskReply r;
    RpcDiskRecord& d = r.AddDisk(7, u"Harddisk7");
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
    RpcDiskProperties& props = r.AddProperties(d);
    props = {.P0 = 100,
             .P1 = 101,
             .P2 = 102,
             .P3 = 103,
             .P4 = 104,
             .P5 = 2,
             .P6 = 106,
             .Text1 = r.Str(u"Bus"),
             .Text2 = r.Str(u"Slot")};
    RpcDiskProperties& ignored = r.AddProperties(d);
    ignored.P6 = 999;
    ignored.Text1 = r.Str(u"second");
    RpcDiskDescriptor& desc = r.AddDescriptor(d);
    desc = {.Text1 = r.Str(u"T1"),
            .Text2 = r.Str(u"T2"),
            .Text3 = r.Str(u"T3"),
            .Text4 = r.Str(u"T4"),
            .Value = 21,
            .Value64 = -5000000000};
    r.AddDescriptor(d).Value = 999;
    RpcPartitionRecord& p1 = r.AddPartition(d, 1, u"C:", u"System");
    p1 = {.Number = 1,
          .Excluded = 0,
          .Attribute = -21,
          .Type = 0x07,
          .Letters = p1.Letters,
          .Label = p1.Label,
          .Extra1 = 1,
          .Size = 4000,
          .Measure = 4096,
          .Extra2 = 2,
          .UsedSize = 0xFFFFFFFF,
          .Attribute2 = 22};
    r.AddPartition(d, 2).UsedSize = 0xFFFFFFFF;
    r.AddPartition(d, 3, u"E:").UsedSize = 5;
    svc.Answer<GET_DISK_LIST>(r.Record());

    ASSERT_EQ(Get(3), 0u);
    ASSERT_EQ(list.Count, 4u);
    const QV_DISK_INFO& disk = list.Entries[0];
    const QV_DISK_INFO& part = list.Entries[1];

    // The disk's own fields.
    EXPECT_EQ(disk.PartitionNumber, 0u);
    EXPECT_EQ(disk.DiskMarked, 1u);
    EXPECT_EQ(Str(disk.DisplayName), u"Disk 7");
    EXPECT_EQ(disk.Attribute, -3);
    EXPECT_EQ(disk.DiskAttribute3, 13);
    EXPECT_EQ(disk.PartitionAttribute, 0u);
    EXPECT_EQ(disk.PartitionType, 0u);
    EXPECT_EQ(Str(disk.Letters), u"C:E:");
    EXPECT_EQ(Str(disk.Label), u"");
    EXPECT_EQ(disk.Size, 0xFFFFFFF0u);
    EXPECT_EQ(disk.UsedSize, 0x200000003u);  // a 64-bit sum of the partitions' figures
    EXPECT_EQ(disk.Measure, 512u);

    // The partition's own fields.
    EXPECT_EQ(part.PartitionNumber, 1u);
    EXPECT_EQ(part.DiskMarked, 0u);
    EXPECT_EQ(Str(part.DisplayName), u"Disk 7 Partition 1 - System (C:)");
    EXPECT_EQ(part.Attribute, -21);
    EXPECT_EQ(part.DiskAttribute3, 0);
    EXPECT_EQ(part.PartitionAttribute, 22u);
    EXPECT_EQ(part.PartitionType, 7u);
    EXPECT_EQ(Str(part.Letters), u"C:");
    EXPECT_EQ(Str(part.Label), u"System");
    EXPECT_EQ(part.Size, 4000u);
    EXPECT_EQ(part.UsedSize, 0xFFFFFFFFu);
    EXPECT_EQ(part.Measure, 4096u);

    // What both take from the disk record.
    for (const QV_DISK_INFO* e : {&disk, &part}) {
        SCOPED_TRACE(e == &disk ? "disk entry" : "partition entry");
        EXPECT_EQ(Str(e->DiskName), u"Harddisk7");
        EXPECT_EQ(e->DiskNumber, 7u);
        EXPECT_EQ(e->DiskAttribute1, 11);
        EXPECT_EQ(e->DiskAttribute2, -12);
        EXPECT_EQ(e->HighFlag, 1u);
        EXPECT_EQ(e->DiskAttribute4, 14u);
        EXPECT_EQ(Str(e->DiskText1), u"Vendor");
        EXPECT_EQ(Str(e->DiskText2), u"Model");
        const QV_DISK_PROPERTIES& p = e->Properties;
        EXPECT_EQ((std::vector<uint32_t>{p.Value0, p.Value1, p.Value2, p.Value3, p.Value4, p.Value5,
                                         p.Mode}),
                  (std::vector<uint32_t>{106, 100, 102, 101, 103, 104, 2}));
        EXPECT_EQ(Str(p.Text1), u"Bus");
        EXPECT_EQ(Str(p.Text2), u"Slot");
        const QV_DISK_DESCRIPTOR& t = e->Descriptor;
        EXPECT_EQ((Lines{Str(t.Text1), Str(t.Text2), Str(t.Text3), Str(t.Text4)}),
                  (Lines{u"T1", u"T2", u"T3", u"T4"}));
        EXPECT_EQ(t.Value, 21u);
        EXPECT_EQ(t.Value64, -5000000000);
    }
}

TEST_F(DiskEntries, HighFlagIsBit31Only) {
    DiskReply r;
    r.AddDisk(0).Flags = 0x7FFFFFFF;
    r.AddDisk(1).Flags = 0x80000000;
    svc.Answer<GET_DISK_LIST>(r.Record());
    ASSERT_EQ(Get(5), 0u);
    ASSERT_EQ(list.Count, 2u);
    EXPECT_EQ(list.Entries[0].HighFlag, 0u);
    EXPECT_EQ(list.Entries[1].HighFlag, 1u);
}

TEST_F(DiskEntries, PropertiesModeComesFromTheLowestSetBit) {
    const struct {
        uint32_t mask;
        uint32_t mode;
    } rows[] = {{0, 0}, {1, 1}, {2, 2}, {3, 1}, {4, 3}, {6, 2}, {7, 1}, {8, 0}, {0xFFFFFFF8, 0}};
    DiskReply r;
    for (uint32_t i = 0; i < std::size(rows); ++i) r.AddProperties(r.AddDisk(i)).P5 = rows[i].mask;
    svc.Answer<GET_DISK_LIST>(r.Record());
    ASSERT_EQ(Get(5), 0u);
    ASSERT_EQ(list.Count, std::size(rows));
    for (uint32_t i = 0; i < list.Count; ++i) {
        EXPECT_EQ(list.Entries[i].Properties.Mode, rows[i].mode) << "P5 " << rows[i].mask;
    }
}

TEST_F(DiskEntries, DisplayNamesAreComposedFromLettersAndLabel) {
    DiskReply r;
    RpcDiskRecord& d0 = r.AddDisk(0);
    r.AddPartition(d0, 1, u"", u"Ignored");
    r.AddPartition(d0, 2, u"C:", u"System");
    RpcDiskRecord& d1 = r.AddDisk(1);
    r.AddPartition(d1, 2, u"F:");
    RpcDiskRecord& d2 = r.AddDisk(2);
    RpcPartitionRecord& no_label = r.AddPartition(d2, 1, u"G:");
    no_label.Label = DiskReply::None();
    RpcPartitionRecord& no_letters = r.AddPartition(d2, 3, u"", u"Data");
    no_letters.Letters = DiskReply::None();
    // Texts that arrive without their terminator end with their units.
    RpcPartitionRecord& unended = r.AddPartition(d2, 4);
    unended.Letters = r.Units(u"H:");
    unended.Label = r.Units(u"Backup");
    // A terminator inside the units ends the text there.
    RpcPartitionRecord& inner_zero = r.AddPartition(d2, 5);
    inner_zero.Letters = r.Units(std::u16string_view(u"I:\0J:", 5));
    RpcDiskRecord& negative = r.AddDisk(0xFFFFFFFF);
    r.AddPartition(negative, 0x80000000);
    svc.Answer<GET_DISK_LIST>(r.Record());

    ASSERT_EQ(Get(3), 0u);
    EXPECT_EQ(DisplayNames(list), (Lines{
                                      u"Disk 0",
                                      u"Disk 0 Partition 1",
                                      u"Disk 0 Partition 2 - System (C:)",
                                      u"Disk 1",
                                      u"Disk 1 Partition 2 - (F:)",
                                      u"Disk 2",
                                      u"Disk 2 Partition 1 - (G:)",
                                      u"Disk 2 Partition 3",
                                      u"Disk 2 Partition 4 - Backup (H:)",
                                      u"Disk 2 Partition 5 - (I:)",
                                      u"Disk -1",
                                      u"Disk -1 Partition -2147483648",
                                  }));
    EXPECT_EQ(Str(list.Entries[5].Letters), u"G:H:I:");
    EXPECT_EQ(Str(list.Entries[8].Letters), u"H:");
    EXPECT_EQ(Str(list.Entries[8].Label), u"Backup");
}

TEST_F(DiskEntries, TextsWithoutElements) {
    DiskReply r;
    RpcDiskRecord& d = r.AddDisk(0);
    d.Name = DiskReply::None();
    d.Text1 = DiskReply::None();
    d.Text2 = DiskReply::None();
    RpcDiskProperties& props = r.AddProperties(d);
    props.Text1 = DiskReply::None();
    props.Text2 = r.Str(u"");
    RpcDiskDescriptor& desc = r.AddDescriptor(d);
    desc.Text2 = r.Str(u"T2");
    RpcPartitionRecord& p = r.AddPartition(d, 1);
    p.Letters = DiskReply::None();
    p.Label = DiskReply::None();
    r.AddPartition(d, 2, u"", u"");  // empty, but sent
    svc.Answer<GET_DISK_LIST>(r.Record());

    ASSERT_EQ(Get(3), 0u);
    ASSERT_EQ(list.Count, 3u);
    for (uint32_t i = 0; i < list.Count; ++i) {
        SCOPED_TRACE(i);
        const QV_DISK_INFO& e = list.Entries[i];
        EXPECT_EQ(Str(e.DiskName), u"");
        EXPECT_EQ(Str(e.DiskText1), u"");
        EXPECT_EQ(Str(e.DiskText2), u"");
        EXPECT_EQ(Str(e.Letters), u"");
        EXPECT_EQ(Str(e.Properties.Text1), u"<null>");
        EXPECT_EQ(Str(e.Properties.Text2), u"");
        EXPECT_EQ((Lines{Str(e.Descriptor.Text1), Str(e.Descriptor.Text2), Str(e.Descriptor.Text3),
                         Str(e.Descriptor.Text4)}),
                  (Lines{u"<null>", u"T2", u"<null>", u"<null>"}));
    }
    EXPECT_EQ(Str(list.Entries[0].Label), u"");        // a disk entry's label is empty
    EXPECT_EQ(Str(list.Entries[1].Label), u"<null>");  // not sent
    EXPECT_EQ(Str(list.Entries[2].Label), u"");        // sent empty
}

TEST_F(DiskEntries, DiskWithoutPropertiesOrDescriptorHasThemAllZero) {
    DiskReply r;
    r.AddPartition(r.AddDisk(0), 1);
    svc.Answer<GET_DISK_LIST>(r.Record());
    ASSERT_EQ(Get(3), 0u);
    ASSERT_EQ(list.Count, 2u);
    for (uint32_t i = 0; i < list.Count; ++i) {
        EXPECT_TRUE(disktest::AllZero(list.Entries[i].Properties));
        EXPECT_TRUE(disktest::AllZero(list.Entries[i].Descriptor));
    }
}

// Composed texts have fixed room: a partition name 127 characters, the
// joined letters 511. What does not fit is cut, never written past.
TEST_F(DiskEntries, LongTextsAreCutToTheirRoom) {
    const std::u16string label(300, u'L');
    const std::u16string letters(200, u'X');
    DiskReply r;
    RpcDiskRecord& d = r.AddDisk(0);
    for (uint32_t n = 1; n <= 3; ++n) r.AddPartition(d, n, letters, label);
    svc.Answer<GET_DISK_LIST>(r.Record());
    ASSERT_EQ(Get(3), 0u);
    ASSERT_EQ(list.Count, 4u);
    EXPECT_EQ(Str(list.Entries[0].Letters), std::u16string(511, u'X'));
    const std::u16string name = Str(list.Entries[1].DisplayName);
    EXPECT_EQ(name, (u"Disk 0 Partition 1 - " + label).substr(0, 127));
    // The entry's own copies are whole.
    EXPECT_EQ(Str(list.Entries[1].Label), label);
    EXPECT_EQ(Str(list.Entries[1].Letters), letters);
}

}  // namespace
