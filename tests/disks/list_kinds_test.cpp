// What qvGetDiskList asks the service for, and which entries each list kind
// makes of the same inventory.
#include <gtest/gtest.h>

#include <optional>

#include "disks/disk_fixture.h"

using disktest::AllZero;
using disktest::DiskReply;
using disktest::DiskTest;
using disktest::Lines;
using qvtest::Text;

namespace {

using DiskList = DiskTest;

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

}  // namespace
