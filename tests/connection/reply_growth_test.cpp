// What a hostile service can make the library hold: the lists it converts
// grow with the reply, never with a product of its parts.
#include <gtest/gtest.h>

#include <vector>

#include "proc_table.h"
#include "support/connected_test.h"
#include "support/memory_client.h"
#include "support/sample_replies.h"

namespace {

// One disk of `partitions` partitions that carry nothing, with `texts` of
// the nine texts its entries copy (name, texts, properties, descriptor) set
// to `units` characters.
qvtest::Bytes OneDisk(std::size_t partitions, std::size_t texts, std::size_t units) {
    std::vector<u_short> text(units, u'N');
    text.push_back(0);
    RpcDiskProperties properties{};
    RpcDiskDescriptor descriptor{};
    RpcDiskRecord disk{};
    RpcWString* copied[] = {&disk.Name,        &disk.Text1,       &disk.Text2,
                            &properties.Text1, &properties.Text2, &descriptor.Text1,
                            &descriptor.Text2, &descriptor.Text3, &descriptor.Text4};
    for (std::size_t i = 0; i < texts; ++i)
        *copied[i] = {static_cast<u_int>(text.size()), text.data()};
    std::vector<RpcPartitionRecord> records(partitions);
    for (std::size_t i = 0; i < records.size(); ++i) records[i].Number = static_cast<u_int>(i + 1);
    disk.Partitions = {static_cast<u_int>(records.size()), records.data()};
    disk.Properties = {1, &properties};
    disk.Descriptors = {1, &descriptor};
    const RpcDiskList list{0, 1, {1, &disk}};
    return qvtest::Encode(qv::wire::Proc<GET_DISK_LIST>::ResFilter(), &list);
}

// Every partition entry carries copies of its disk's texts, so a list can
// outgrow its reply by the product of texts and partitions. Real
// inventories convert whole; a product far beyond them is refused before
// anything is allocated.
TEST(DiskListGrowth, RealInventoriesConvertAmplificationIsRefused) {
    const struct {
        const char* name;
        qvtest::Bytes reply;
        uint32_t entries;  // 0: refused
    } cases[] = {
        {"six 300-character texts, 256 partitions", OneDisk(256, 6, 300), 257},
        {"every text 512 characters, 128 partitions", OneDisk(128, 9, 512), 129},
        {"every text 4,000 characters, 199 partitions", OneDisk(199, 9, 4000), 200},
        {"the sample inventory, 128 partitions a disk", qvtest::DiskListReply(4, 128), 4 * 129},
        {"a 20,000-character name, 3 partitions", OneDisk(3, 1, 20000), 4},
        {"a short name, 5,000 partitions", OneDisk(5000, 1, 8), 5001},
        // 20,000 units into 2,000 entries: 80 MB from a reply of 176 KB.
        {"a 20,000-character name, 2,000 partitions", OneDisk(2000, 1, 20000), 0},
        {"every text 512 characters, 2,000 partitions", OneDisk(2000, 9, 512), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qvtest::TraceFixture trace;
        qvtest::MemoryClient client;
        client.SetReply(c.reply);
        const QV_DISK_FILTER every{3, 0, 0, nullptr};
        QV_DISK_LIST list{};
        const QV_STATUS status = qvGetDiskList(client.handle(), &every, &list);
        EXPECT_EQ(list.Count, c.entries);
        if (c.entries == 0) {
            EXPECT_EQ(status, QV_STATUS_RPC_FAILED);
            EXPECT_EQ(list.Entries, nullptr);
            EXPECT_EQ(trace.Lines(),
                      (std::vector<std::u16string>{u"qvGetDiskList, reply would convert into more "
                                                   u"than 100 times its size[6FFC8005]"}));
        } else {
            EXPECT_EQ(status, 0u);
            EXPECT_TRUE(trace.Lines().empty());
        }
        qvtest::ReleaseKept(qvFreeDiskList, list);
    }
}

}  // namespace
