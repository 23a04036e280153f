// What a disk entry and a partition entry carry: their fields, their composed
// display names, and texts that come without elements or without an end.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "disks/disk_fixture.h"

using disktest::DiskReply;
using disktest::DisplayNames;
using disktest::Lines;
using disktest::Str;

namespace {

using DiskEntries = disktest::DiskTest;

TEST_F(DiskEntries, DiskAndPartitionEntriesCarryTheirRecordsFields) {
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
TEST_F(DiskEntries, ModeAndHighFlagReadTheirBits) {
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

TEST_F(DiskEntries, DisplayNamesAreComposedFromLettersAndLabel) {
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

TEST_F(DiskEntries, TextsWithoutElements) {
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
    EXPECT_EQ(Str(list.Entries[1].DisplayName), (u"Disk 0 Partition 1 - " + label).substr(0, 127));
    // The entry's own copies are whole.
    EXPECT_EQ(Str(list.Entries[1].Label), label);
    EXPECT_EQ(Str(list.Entries[1].Letters), letters);
}

}  // namespace
