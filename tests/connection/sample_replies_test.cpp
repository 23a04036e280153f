// The sample replies stay what the fuzzers, the benchmarks and the
// allocation sweep take them for: valid replies that every function of the
// table accepts, rich enough to exercise its conversion.
#include "support/sample_replies.h"

#include <gtest/gtest.h>

#include <set>

#include "support/function_table.h"
#include "support/memory_client.h"
#include "support/trace_fixture.h"

namespace {

using qvtest::RemoteFunction;

class SampleReplies : public ::testing::TestWithParam<RemoteFunction> {
  protected:
    qvtest::TraceFixture trace;
};

TEST_P(SampleReplies, EverySampleIsAccepted) {
    const std::vector<qvtest::Bytes> samples = qvtest::SampleReplies(GetParam().proc);
    ASSERT_FALSE(samples.empty());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(i);
        qvtest::MemoryClient client;
        client.SetReply(samples[i]);
        EXPECT_EQ(GetParam().call(client.handle()), 0u);
        const unsigned then = GetParam().then;
        EXPECT_EQ(client.calls(), then != 0 ? 2u : 1u);
        EXPECT_EQ(client.last_proc(), then != 0 ? then : GetParam().proc);
    }
}

// A sample is exactly one record: it decodes to its last byte, so nothing
// of it is lost on the fuzzers' or the benchmarks' way.
TEST_P(SampleReplies, EverySampleIsOneWholeRecord) {
    const auto& info = qv::wire::ProcTable(GetParam().proc);
    for (const qvtest::Bytes& sample : qvtest::SampleReplies(GetParam().proc)) {
        std::vector<uint8_t> record(info.res_size + 8, 0);
        XDR xdrs;
        xdrmem_create(&xdrs, reinterpret_cast<char*>(const_cast<uint8_t*>(sample.data())),
                      static_cast<u_int>(sample.size()), XDR_DECODE);
        EXPECT_TRUE(info.res_filter(&xdrs, record.data()));
        EXPECT_EQ(xdr_getpos(&xdrs), sample.size());
        xdr_destroy(&xdrs);
        xdr_free(info.res_filter, reinterpret_cast<char*>(record.data()));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SampleReplies, ::testing::ValuesIn(qvtest::RemoteFunctions()),
                         [](const auto& info) { return std::string(info.param.name); });

QV_DISK_LIST EveryDisk(qvtest::MemoryClient& client, const qvtest::Bytes& reply) {
    client.SetReply(reply);
    const QV_DISK_FILTER every{3, 0, 0, nullptr};
    QV_DISK_LIST list{};
    EXPECT_EQ(qvGetDiskList(client.handle(), &every, &list), 0u);
    return list;
}

void Release(QV_DISK_LIST& list) {
    QV_DISK_LIST* p = &list;
    qvFreeDiskList(&p, 1);
}

TEST(SampleReply, DiskListHasPartitionsLabelsAndADynamicDisk) {
    qvtest::TraceFixture trace;
    qvtest::MemoryClient client;
    QV_DISK_LIST list = EveryDisk(client, qvtest::SampleReply(GET_DISK_LIST));
    // Four disks: 4 partitions, a dynamic disk listed alone, 1 partition, none.
    ASSERT_EQ(list.Count, 9u);
    std::set<std::u16string> names;
    bool dynamic = false;
    for (const QV_DISK_INFO& e : std::span(list.Entries, list.Count)) {
        names.insert(e.DisplayName);
        dynamic = dynamic || (e.PartitionNumber == 0 && e.PartitionType == 0x42);
    }
    EXPECT_TRUE(dynamic);
    EXPECT_TRUE(names.contains(u"Disk 0 Partition 1 - System (C:)"));
    EXPECT_TRUE(names.contains(u"Disk 0 Partition 2 - (D:E:)"));
    EXPECT_TRUE(names.contains(u"Disk 0 Partition 4"));
    EXPECT_TRUE(names.contains(u"Disk -2"));
    Release(list);
}

TEST(SampleReply, StatisticsCarryEveryProgressKind) {
    qvtest::TraceFixture trace;
    std::set<uint32_t> kinds;
    for (const qvtest::Bytes& sample : qvtest::SampleReplies(GET_MIRROR_STATS)) {
        qvtest::MemoryClient client;
        client.SetReply(sample);
        QV_MIRROR_STAT stat{};
        ASSERT_EQ(qvGetMirrorStat(client.handle(), u"Harddisk0", 1, &stat), 0u);
        kinds.insert(stat.ProgressKind);
    }
    EXPECT_EQ(kinds, (std::set<uint32_t>{QV_PROGRESS_KIND_NONE, QV_PROGRESS_KIND_VERIFY,
                                         QV_PROGRESS_KIND_RESTORE, QV_PROGRESS_KIND_ROLLBACK,
                                         QV_PROGRESS_KIND_SNAPSHOT}));
}

// The benchmarks size their replies by these counts.
TEST(SampleReply, ScaledListsHoldTheEntriesAsked) {
    qvtest::TraceFixture trace;
    qvtest::MemoryClient client;
    QV_DISK_LIST disks = EveryDisk(client, qvtest::DiskListReply(7, 4));
    EXPECT_EQ(disks.Count, 35u);
    Release(disks);

    const qvtest::Bytes configs = qvtest::MirrorConfigListReply(12);
    client.SetReply(configs);
    const QV_CONFIG_FILTER all{0, nullptr, {nullptr, 0}};
    QV_MIRROR_CONFIG_LIST list{};
    ASSERT_EQ(qvGetMirConfigList(client.handle(), &all, &list), 0u);
    ASSERT_EQ(list.Count, 12u);
    EXPECT_EQ(std::u16string(list.Entries[11].Mirror.name), u"Harddisk23");
    QV_MIRROR_CONFIG_LIST* p = &list;
    qvFreeMirConfigList(&p, 1);
}

}  // namespace
