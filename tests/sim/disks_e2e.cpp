// GET_DISK_LIST: what each list code selects, the records' fields, the
// exclusion flags as protections appear, and the rescan bit.
#include <nlohmann/json.hpp>
#include <ostream>

#include "fixture.h"

namespace simtest {
namespace {

struct Listed {
    std::u16string disk;
    std::vector<uint32_t> partitions;
    bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Listed& l) {
    os << std::string(l.disk.begin(), l.disk.end()) << "[";
    for (auto p : l.partitions) os << p << " ";
    return os << "]";
}

std::vector<Listed> Summary(const RpcDiskList& list) {
    std::vector<Listed> out;
    for (u_int i = 0; i < list.Disks.Disks_len; ++i) {
        const RpcDiskRecord& d = list.Disks.Disks_val[i];
        Listed l{Text(d.Name), {}};
        for (u_int j = 0; j < d.Partitions.Partitions_len; ++j) {
            l.partitions.push_back(d.Partitions.Partitions_val[j].Number);
        }
        out.push_back(std::move(l));
    }
    return out;
}

const RpcDiskRecord* FindDisk(const RpcDiskList& list, std::u16string_view name) {
    for (u_int i = 0; i < list.Disks.Disks_len; ++i) {
        if (Text(list.Disks.Disks_val[i].Name) == name) return &list.Disks.Disks_val[i];
    }
    return nullptr;
}

const RpcPartitionRecord* FindPartition(const RpcDiskRecord& d, uint32_t number) {
    for (u_int j = 0; j < d.Partitions.Partitions_len; ++j) {
        if (d.Partitions.Partitions_val[j].Number == number) return &d.Partitions.Partitions_val[j];
    }
    return nullptr;
}

class SimDiskList : public SimTest {
  protected:
    void SetUp() override { Start(); }
};

const std::vector<Listed> kOnline = {{u"Disk0", {1, 2}}, {u"Disk1", {1, 2}}, {u"Disk2", {}},
                                     {u"Disk3", {1, 2}}, {u"Disk4", {1, 2}}, {u"Disk5", {1}}};

TEST_F(SimDiskList, EachListCodeSelectsItsDisksAndPartitions) {
    struct Case {
        uint32_t code;
        std::u16string object;
        uint32_t number;
        uint32_t status;
        std::vector<Listed> disks;
    };
    std::vector<Listed> everything = kOnline;
    everything.push_back({u"Disk6", {}});
    const Case cases[] = {
        {0, u"", 0, 0, kOnline},
        {1, u"", 0, 0, kOnline},
        {2, u"", 0, 0, {{u"Disk1", {1, 2}}, {u"Disk2", {}}, {u"Disk3", {1, 2}}}},
        {3, u"", 0, 0, kOnline},
        {4, u"", 0, 0, {{u"Disk2", {}}}},
        // Mirror candidates: large enough, free, on another disk that can
        // hold a mirror.
        {5, u"Disk1", 1, 0, {{u"Disk3", {2}}}},
        {5, u"Disk3", 1, 0, {{u"Disk1", {1, 2}}}},
        {5, u"Disk1", 0, 0, {{u"Disk2", {}}}},
        {5, u"Disk0", 0, 0, {}},
        {5, u"", 0, kInvalidParameter, {}},
        {5, u"Nope", 0, kDiskNotFound, {}},
        {6, u"Disk3", 2, 0, {{u"Disk3", {1, 2}}}},
        {6, u"disk3", 0, 0, {{u"Disk3", {1, 2}}}},
        {6, u"Disk6", 0, 0, {{u"Disk6", {}}}},
        {6, u"Disk3", 9, kPartitionNotFound, {}},
        {6, u"Nope", 1, kDiskNotFound, {}},
        {6, u"", 0, kInvalidParameter, {}},
        {255, u"", 0, 0, everything},
        {7, u"", 0, kInvalidParameter, {}},
        {254, u"", 0, kInvalidParameter, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "list code " << c.code << " object "
                     << std::string(c.object.begin(), c.object.end()) << ":" << c.number);
        auto reply = DiskList(c.code, c.object, c.number);
        EXPECT_EQ(reply->res.status, c.status);
        EXPECT_EQ(reply->res.DiskCount, reply->res.Disks.Disks_len);
        EXPECT_EQ(Summary(reply->res), c.disks);
    }
}

TEST_F(SimDiskList, RecordsCarryTheInventory) {
    auto reply = DiskList(255);
    const RpcDiskList& list = reply->res;

    const RpcDiskRecord* d0 = FindDisk(list, u"Disk0");
    ASSERT_NE(d0, nullptr);
    EXPECT_EQ(d0->Number, 0u);
    EXPECT_EQ(d0->Flags & 0x80000000u, 0x80000000u);  // the system disk
    EXPECT_EQ(d0->Marker, 2u);
    EXPECT_EQ(d0->Size, 10000u);
    EXPECT_EQ(d0->Measure, kMiB);
    EXPECT_EQ(Text(d0->Text1), u"QVSIM System");
    EXPECT_EQ(Text(d0->Text2), u"S0");
    ASSERT_EQ(d0->Properties.Properties_len, 1u);
    EXPECT_EQ(d0->Properties.Properties_val[0].P5, 1u);  // online
    ASSERT_EQ(d0->Descriptors.Descriptors_len, 1u);
    EXPECT_EQ(d0->Descriptors.Descriptors_val[0].Value64, static_cast<int64_t>(10000 * kMiB));
    const RpcPartitionRecord* c = FindPartition(*d0, 1);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(Text(c->Letters), u"C:");
    EXPECT_EQ(Text(c->Label), u"System");
    EXPECT_EQ(c->Size, 4000u);
    EXPECT_EQ(c->UsedSize, 3000u);
    EXPECT_EQ(c->Measure, kMiB);
    const RpcPartitionRecord* d = FindPartition(*d0, 2);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Label.RpcWString_len, 1u);  // an empty label still has its terminator

    const RpcDiskRecord* d4 = FindDisk(list, u"Disk4");
    ASSERT_NE(d4, nullptr);
    EXPECT_EQ(FindPartition(*d4, 1)->Type, 0x42);
    EXPECT_EQ(d4->Flags & 4u, 4u);  // dynamic

    const RpcDiskRecord* d5 = FindDisk(list, u"Disk5");
    ASSERT_NE(d5, nullptr);
    EXPECT_EQ(d5->Flags & 1u, 1u);  // removable

    const RpcDiskRecord* d6 = FindDisk(list, u"Disk6");
    ASSERT_NE(d6, nullptr);
    EXPECT_EQ(d6->Flags & 2u, 2u);  // offline
    EXPECT_EQ(d6->Properties.Properties_val[0].P5, 4u);
    EXPECT_EQ(d6->Marker, 0u);
}

TEST_F(SimDiskList, ProtectionsShapeTheFilteredAndCandidateLists) {
    ASSERT_EQ(Enable({u"Disk1", 1, u"Disk3", 2}), 0u);
    ASSERT_EQ(Enable({u"Disk1", 2, u"Disk2", 0}), 0u);

    auto filtered = DiskList(0);
    const RpcDiskList& list = filtered->res;
    const RpcDiskRecord* d1 = FindDisk(list, u"Disk1");
    const RpcDiskRecord* d2 = FindDisk(list, u"Disk2");
    const RpcDiskRecord* d3 = FindDisk(list, u"Disk3");
    const RpcDiskRecord* d0 = FindDisk(list, u"Disk0");
    const RpcDiskRecord* d5 = FindDisk(list, u"Disk5");
    ASSERT_TRUE(d0 && d1 && d2 && d3 && d5);
    // Disks with protected partitions offer only their partitions.
    EXPECT_EQ(d1->DiskEntryExcluded, 1u);
    EXPECT_EQ(d3->DiskEntryExcluded, 1u);
    EXPECT_EQ(d0->DiskEntryExcluded, 0u);
    // Mirrors cannot be chosen as primaries, nor can removable disks.
    EXPECT_NE(d2->Excluded, 0);
    EXPECT_NE(d5->Excluded, 0);
    EXPECT_EQ(d0->Excluded, 0);
    EXPECT_NE(FindPartition(*d3, 2)->Excluded, 0);
    EXPECT_EQ(FindPartition(*d3, 1)->Excluded, 0);
    EXPECT_EQ(FindPartition(*d1, 1)->Excluded, 0);
    // Usage bits: 1 primary, 2 mirror.
    EXPECT_EQ(FindPartition(*d1, 1)->Attribute, 1);
    EXPECT_EQ(FindPartition(*d3, 2)->Attribute, 2);
    EXPECT_EQ(d1->Attribute, 1);
    EXPECT_EQ(d2->Attribute, 2);
    EXPECT_EQ(d1->Attribute3, 2);  // two primaries on the disk

    // Used objects are no longer mirror candidates.
    EXPECT_EQ(Summary(DiskList(4)->res), std::vector<Listed>{});
    EXPECT_EQ(Summary(DiskList(2)->res),
              (std::vector<Listed>{{u"Disk1", {1, 2}}, {u"Disk3", {1, 2}}}));
    EXPECT_EQ(Summary(DiskList(5, u"Disk3", 1)->res), std::vector<Listed>{});
}

TEST_F(SimDiskList, RescanBitReadsTheInventoryAgain) {
    auto inventory = nlohmann::json::parse(TestInventory());
    inventory["disks"].push_back({{"number", 7}, {"name", "Disk7"}, {"size_mib", 16000}});
    dir_.Write("inventory.json", inventory.dump());

    EXPECT_EQ(DiskList(3)->res.DiskCount, 6u);  // not read again without the bit
    auto rescanned = DiskList(3, u"", 0, 0x80000000u);
    EXPECT_EQ(rescanned->res.status, 0u);
    EXPECT_EQ(rescanned->res.DiskCount, 7u);
    EXPECT_NE(FindDisk(rescanned->res, u"Disk7"), nullptr);

    // A broken file is reported and the inventory read last stays.
    dir_.Write("inventory.json", "{ \"disks\": [ ");
    EXPECT_EQ(DiskList(3, u"", 0, 0x800000FFu)->res.status, kDiskError);
    EXPECT_EQ(DiskList(3)->res.DiskCount, 7u);
}

}  // namespace
}  // namespace simtest
