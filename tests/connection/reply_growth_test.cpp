// What a hostile service can make the library hold: the lists it converts
// grow with the reply, never with a product of its parts.
#include <gtest/gtest.h>

#include <vector>

#include "proc_table.h"
#include "support/memory_client.h"
#include "support/sample_replies.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

namespace {

// One disk with a long name and `partitions` partitions that carry nothing.
qvtest::Bytes OneLongNamedDisk(std::size_t name_units, std::size_t partitions) {
    std::vector<u_short> name(name_units, u'N');
    name.push_back(0);
    std::vector<RpcPartitionRecord> records(partitions);
    for (std::size_t i = 0; i < records.size(); ++i) records[i].Number = static_cast<u_int>(i + 1);
    RpcDiskRecord disk{};
    disk.Name = {static_cast<u_int>(name.size()), name.data()};
    disk.Partitions = {static_cast<u_int>(records.size()), records.data()};
    const RpcDiskList list{0, 1, {1, &disk}};
    return qvtest::Encode(qv::wire::Proc<GET_DISK_LIST>::ResFilter(), &list);
}

class DiskListGrowth : public ::testing::Test {
  protected:
    qvtest::TraceFixture trace;
    qvtest::MemoryClient client;
    QV_DISK_LIST list{};

    QV_STATUS Every(const qvtest::Bytes& reply) {
        client.SetReply(reply);
        const QV_DISK_FILTER every{3, 0, 0, nullptr};
        return qvGetDiskList(client.handle(), &every, &list);
    }
    void TearDown() override {
        QV_DISK_LIST* p = &list;
        qvFreeDiskList(&p, 1);
    }
};

// Every partition entry carries a copy of its disk's name: 20,000 units
// copied into 2,000 entries would be 80 MB from a reply of 90 KB.
TEST_F(DiskListGrowth, ProductOfTextAndPartitionsIsRefused) {
    const qvtest::Bytes reply = OneLongNamedDisk(20000, 2000);
    ASSERT_LT(reply.size(), 200000u);
    EXPECT_EQ(Every(reply), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(list.Count, 0u);
    EXPECT_EQ(list.Entries, nullptr);
    EXPECT_EQ(
        trace.Lines(),
        (std::vector<std::u16string>{
            u"qvGetDiskList, reply would convert into more than 32 times its size[6FFC8005]"}));
}

TEST_F(DiskListGrowth, LongTextsOnFewPartitionsConvert) {
    EXPECT_EQ(Every(OneLongNamedDisk(20000, 3)), 0u);
    EXPECT_EQ(list.Count, 4u);
    EXPECT_EQ(std::u16string(list.Entries[3].DiskName).size(), 20000u);
}

// The most partitions a disk can have, every disk text set.
TEST_F(DiskListGrowth, FullInventoryConverts) {
    EXPECT_EQ(Every(qvtest::DiskListReply(4, 128)), 0u);
    EXPECT_EQ(list.Count, 4u * 129u);
}

TEST_F(DiskListGrowth, EmptyPartitionsOnAShortNamedDiskConvert) {
    EXPECT_EQ(Every(OneLongNamedDisk(8, 5000)), 0u);
    EXPECT_EQ(list.Count, 5001u);
}

}  // namespace
