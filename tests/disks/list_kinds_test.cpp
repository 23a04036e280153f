// What qvGetDiskList asks the service for, and which entries each list kind
// makes of the same inventory.
#include <gtest/gtest.h>

#include <optional>

#include "disks/disk_fixture.h"

using disktest::DiskReply;
using disktest::DiskTest;
using disktest::DisplayNames;
using disktest::Lines;
using qvtest::Text;

namespace {

using DiskList = DiskTest;

TEST_F(DiskList, RequestCarriesListCodeObjectOptionsAndToken) {
    const QV_OBJECT_ID disk{u"Harddisk2", 0};
    const QV_OBJECT_ID partition{u"Harddisk2", 3};
    const QV_OBJECT_ID unnamed{u"", 1};
    struct Row {
        uint32_t kind;
        uint32_t options;
        uint32_t refresh;
        const QV_OBJECT_ID* object;
        uint32_t list_code;
        uint32_t sent_options;
    };
    const Row rows[] = {
        {1, 0x12, 0, nullptr, 0, 0x12},
        {3, 0, 1, nullptr, 1, 0x80000000},
        {4, 0x7FFFFFFF, 7, &disk, 2, 0xFFFFFFFF},
        {5, 0x80000001, 0, nullptr, 3, 0x80000001},
        {6, 5, 0, &partition, 4, 5},
        {7, 0, 0, &disk, 5, 0},
        {7, 0, 1, &partition, 5, 0x80000000},
        {8, 0, 0, &unnamed, 6, 0},
        {8, 9, 0, &partition, 6, 9},
        {255, 0, 0, nullptr, 255, 0},
        // Kinds the library does not know are asked as list code 0.
        {0, 0, 0, nullptr, 0, 0},
        {2, 0, 1, nullptr, 0, 0x80000000},
        {9, 3, 0, &disk, 0, 3},
        {254, 0, 0, nullptr, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << r.kind);
        EXPECT_EQ(Get(r.kind, r.object, r.options, r.refresh), 0u);
        auto req = svc.Last<GET_DISK_LIST>();
        ASSERT_TRUE(req.ok());
        EXPECT_EQ(req->ListCode, r.list_code);
        EXPECT_EQ(req->Options, r.sent_options);
        EXPECT_EQ(req->token, kToken);
        EXPECT_EQ(req->Object.kind, 0u);
        EXPECT_EQ(req->Object.token, 0u);  // nested: the record has its own token
        if (r.object == nullptr) {
            EXPECT_EQ(qvtest::Count(req->Object.name), 0u);
            EXPECT_EQ(req->Object.number, 0u);
        } else {
            EXPECT_EQ(Text(req->Object.name), r.object->name);
            EXPECT_EQ(qvtest::Count(req->Object.name), Text(req->Object.name).size() + 1);
            EXPECT_EQ(req->Object.number, r.object->number);
        }
    }
    EXPECT_EQ(svc.Calls(GET_DISK_LIST), std::size(rows));
    EXPECT_TRUE(trace.Lines().empty());
}

// One inventory, every list kind over it:
//   disk 0  C: System (1), D: excluded (2)
//   disk 1  no partitions, its own entry excluded
//   disk 2  dynamic: a 0x42 partition among others
//   disk 3  excluded, with E: (1)
//   disk 4  its own entry excluded; F: without label (1), an excluded one (2)
class DiskListKinds : public DiskTest {
  protected:
    void SetUp() override {
        DiskTest::SetUp();
        DiskReply r;
        RpcDiskRecord& d0 = r.AddDisk(0);
        r.AddPartition(d0, 1, u"C:", u"System");
        r.AddPartition(d0, 2, u"D:").Excluded = 1;
        r.AddDisk(1).DiskEntryExcluded = 1;
        RpcDiskRecord& d2 = r.AddDisk(2);
        r.AddPartition(d2, 1).Type = 0x07;
        r.AddPartition(d2, 2).Type = 0x42;
        RpcDiskRecord& d3 = r.AddDisk(3);
        d3.Excluded = 1;
        r.AddPartition(d3, 1, u"E:");
        RpcDiskRecord& d4 = r.AddDisk(4);
        d4.DiskEntryExcluded = 1;
        r.AddPartition(d4, 1, u"F:");
        r.AddPartition(d4, 2).Excluded = 1;
        svc.Answer<GET_DISK_LIST>(r.Record());
    }
};

TEST_F(DiskListKinds, EachKindMakesItsEntries) {
    const Lines every{u"Disk 0",
                      u"Disk 0 Partition 1 - System (C:)",
                      u"Disk 0 Partition 2 - (D:)",
                      u"Disk 1",
                      u"Disk 2",
                      u"Disk 3",
                      u"Disk 3 Partition 1 - (E:)",
                      u"Disk 4",
                      u"Disk 4 Partition 1 - (F:)",
                      u"Disk 4 Partition 2"};
    const Lines disks{u"Disk 0", u"Disk 1", u"Disk 2", u"Disk 3", u"Disk 4"};
    struct Row {
        uint32_t kind;
        std::optional<uint32_t> number;
        Lines names;
    };
    const Row rows[] = {
        {1,
         std::nullopt,
         {u"Disk 0", u"Disk 0 Partition 1 - System (C:)", u"Disk 2", u"Disk 4 Partition 1 - (F:)"}},
        {3, std::nullopt, every},
        {4, std::nullopt, every},
        {255, std::nullopt, every},
        {3, 2u, every},  // an object does not narrow the other kinds
        {5, std::nullopt, disks},
        {6, 1u, disks},
        {7, 0u, disks},
        {7,
         1u,
         {u"Disk 0 Partition 1 - System (C:)", u"Disk 0 Partition 2 - (D:)",
          u"Disk 3 Partition 1 - (E:)", u"Disk 4 Partition 1 - (F:)", u"Disk 4 Partition 2"}},
        {8, 0u, {u"Disk 0"}},
        {8, 2u, {u"Disk 0 Partition 2 - (D:)"}},
        {2, std::nullopt, {}},
        {9, 1u, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << r.kind << " number " << r.number.value_or(0));
        const QV_OBJECT_ID object{u"Harddisk0", r.number.value_or(0)};
        ASSERT_EQ(Get(r.kind, r.number ? &object : nullptr), 0u);
        ASSERT_EQ(DisplayNames(list), r.names);
        EXPECT_EQ(list.Entries == nullptr, list.Count == 0);
        for (uint32_t i = 0; i < list.Count; ++i) {
            const QV_DISK_INFO& e = list.Entries[i];
            // Name and number are the object reference of the entry.
            const std::u16string expected_name = u"Harddisk" + DiskReply::Digits(e.DiskNumber);
            EXPECT_EQ(disktest::Str(e.DiskName), expected_name);
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

TEST_F(DiskListKinds, MissingPartitionGivesOneAllZeroEntry) {
    const QV_OBJECT_ID object{u"Harddisk0", 9};
    ASSERT_EQ(Get(8, &object), 0u);
    ASSERT_EQ(list.Count, 1u);
    ASSERT_NE(list.Entries, nullptr);
    EXPECT_TRUE(disktest::AllZero(list.Entries[0]));
}

TEST_F(DiskList, OnePartitionIsLookedForOnTheFirstDiskOnly) {
    DiskReply r;
    RpcDiskRecord& d0 = r.AddDisk(0);
    r.AddPartition(d0, 1, u"C:");
    RpcDiskRecord& d1 = r.AddDisk(1);
    r.AddPartition(d1, 2, u"G:");
    svc.Answer<GET_DISK_LIST>(r.Record());
    const QV_OBJECT_ID object{u"Harddisk1", 2};
    ASSERT_EQ(Get(8, &object), 0u);
    ASSERT_EQ(list.Count, 1u);
    EXPECT_EQ(list.Entries[0].DisplayName, nullptr);
}

TEST_F(DiskList, EmptyOrSkippedInventoryGivesAnEmptyList) {
    struct Row {
        const char* what;
        uint32_t kind;
        bool dynamic_only;
    };
    for (const Row r : {Row{"no disks", 3, false}, Row{"no disks, one disk asked", 8, false},
                        Row{"only a dynamic disk's partitions", 7, true}}) {
        SCOPED_TRACE(r.what);
        DiskReply reply;
        if (r.dynamic_only) {
            RpcDiskRecord& d = reply.AddDisk(0);
            reply.AddPartition(d, 1).Type = 0x42;
        }
        svc.Answer<GET_DISK_LIST>(reply.Record());
        const QV_OBJECT_ID object{u"Harddisk0", 1};
        list = {7, const_cast<QV_DISK_INFO*>(disktest::Sentinel())};
        const QV_DISK_FILTER filter{r.kind, 0, 0, &object};
        EXPECT_EQ(qvGetDiskList(handle, &filter, &list), 0u);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
    }
}

TEST(DiskListShape, CountAndFillAgreeOnEveryShape) {
    using qv::disks::DiskListShape;
    DiskReply r;
    RpcDiskRecord& d0 = r.AddDisk(0);
    r.AddPartition(d0, 1, u"C:");
    r.AddPartition(d0, 2).Excluded = 1;
    RpcDiskRecord& d1 = r.AddDisk(1);
    d1.DiskEntryExcluded = 1;
    r.AddPartition(d1, 1).Type = 0x42;
    r.AddDisk(2).Excluded = 1;
    const auto disks = qv::disks::DiskRecords(r.Record());
    struct Row {
        DiskListShape shape;
        uint32_t partition;
        std::size_t count;
    };
    for (const Row& row :
         {Row{DiskListShape::kNone, 0, 0}, Row{DiskListShape::kDisks, 0, 3},
          Row{DiskListShape::kEvery, 0, 5}, Row{DiskListShape::kFiltered, 0, 2},
          Row{DiskListShape::kPartitions, 0, 2}, Row{DiskListShape::kOneDisk, 0, 1},
          Row{DiskListShape::kOnePartition, 2, 1}, Row{DiskListShape::kOnePartition, 5, 1}}) {
        SCOPED_TRACE(static_cast<int>(row.shape));
        const std::size_t count = qv::disks::CountDiskEntries(disks, row.shape, row.partition);
        EXPECT_EQ(count, row.count);
        // One spare entry must stay untouched by the fill.
        std::vector<QV_DISK_INFO> block(count + 1);
        ASSERT_TRUE(qv::disks::ConvertDisks(disks, row.shape, row.partition,
                                            std::span(block).first(count)));
        EXPECT_TRUE(disktest::AllZero(block[count]));
        for (std::size_t i = 0; i + 1 < block.size(); ++i) {
            if (row.shape != DiskListShape::kOnePartition || row.partition == 2) {
                EXPECT_NE(block[i].DisplayName, nullptr) << i;
            }
        }
        qv::disks::ReleaseDiskEntries(block);
    }
}

// A block smaller than the records ask for is filled up to its end and no
// further (the Backlook disk sizes its block by the service's own count).
TEST(DiskListShape, FillStopsAtTheEndOfItsBlock) {
    using qv::disks::DiskListShape;
    DiskReply r;
    RpcDiskRecord& d0 = r.AddDisk(0);
    for (uint32_t n = 1; n <= 4; ++n) r.AddPartition(d0, n);
    const auto disks = qv::disks::DiskRecords(r.Record());
    std::vector<QV_DISK_INFO> block(4);
    ASSERT_TRUE(
        qv::disks::ConvertDisks(disks, DiskListShape::kEvery, 0, std::span(block).first(3)));
    EXPECT_EQ(disktest::Str(block[0].DisplayName), u"Disk 0");
    EXPECT_EQ(disktest::Str(block[2].DisplayName), u"Disk 0 Partition 2");
    EXPECT_TRUE(disktest::AllZero(block[3]));
    qv::disks::ReleaseDiskEntries(block);
}

}  // namespace
