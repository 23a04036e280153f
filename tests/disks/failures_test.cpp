// The disk inventory when things go wrong: bad handles and arguments, a
// refusing or broken service, transport faults, no memory; and the release
// of lists.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "disks/disk_fixture.h"
#include "platform/alloc.h"

using disktest::DiskReply;
using disktest::DiskTest;
using disktest::Lines;
using disktest::Sentinel;
using qvtest::Fault;

namespace {

using DiskListFailure = DiskTest;

// A small inventory: one disk with two partitions, every kind of text.
const RpcDiskList& SmallInventory(DiskReply& r) {
    RpcDiskRecord& d = r.AddDisk(0);
    RpcDiskProperties& props = r.AddProperties(d);
    props.Text1 = r.Str(u"Bus");
    props.Text2 = r.Str(u"Slot");
    RpcDiskDescriptor& desc = r.AddDescriptor(d);
    desc = {r.Str(u"T1"), r.Str(u"T2"), r.Str(u"T3"), r.Str(u"T4"), 0, 0};
    r.AddPartition(d, 1, u"C:", u"System");
    r.AddPartition(d, 2, u"D:", u"Data");
    return r.Record();
}

QV_DISK_LIST Untouched() { return {5, const_cast<QV_DISK_INFO*>(Sentinel())}; }

TEST_F(DiskListFailure, InvalidHandleTouchesNothing) {
    QV_CLIENT_HANDLE closed{kToken, nullptr};
    const QV_DISK_FILTER filter{3, 0, 1, nullptr};
    for (QV_HANDLE bad : {static_cast<QV_HANDLE>(nullptr), &closed}) {
        list = Untouched();
        EXPECT_EQ(qvGetDiskList(bad, &filter, &list), QV_STATUS_NO_HANDLE);
        EXPECT_EQ(list.Count, 5u);
        EXPECT_EQ(list.Entries, Sentinel());
        EXPECT_EQ(qvGetDiskList(bad, nullptr, nullptr), QV_STATUS_NO_HANDLE);
        EXPECT_EQ(qvRefreshDiskList(bad), QV_STATUS_NO_HANDLE);
    }
    EXPECT_EQ(svc.Calls(GET_DISK_LIST), 0u);
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_TRUE(trace.DebugLines().empty());
    list = {};
}

TEST_F(DiskListFailure, BadArgumentsAreRefusedBeforeAnythingIsSent) {
    const QV_DISK_FILTER no_object_7{7, 0, 0, nullptr};
    const QV_DISK_FILTER no_object_8{8, 0, 0, nullptr};
    const QV_DISK_FILTER fine{3, 0, 0, nullptr};
    list = Untouched();
    EXPECT_EQ(qvGetDiskList(handle, nullptr, &list), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(qvGetDiskList(handle, &fine, nullptr), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(qvGetDiskList(handle, &no_object_7, &list), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(qvGetDiskList(handle, &no_object_8, &list), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(list.Count, 5u);
    EXPECT_EQ(list.Entries, Sentinel());
    EXPECT_EQ(svc.Calls(GET_DISK_LIST), 0u);
    list = {};
}

TEST_F(DiskListFailure, ServiceRefusalPassesThroughWithAnEmptyList) {
    DiskReply r;
    SmallInventory(r);
    svc.Answer<GET_DISK_LIST>(r.Record(0x6FFC0010));
    list = Untouched();
    const QV_DISK_FILTER filter{3, 0, 0, nullptr};
    EXPECT_EQ(qvGetDiskList(handle, &filter, &list), 0x6FFC0010u);
    EXPECT_EQ(list.Count, 0u);
    EXPECT_EQ(list.Entries, nullptr);
    EXPECT_EQ(qvRefreshDiskList(handle), 0x6FFC0010u);
    EXPECT_EQ(trace.Lines(),
              (Lines{u"qvGetDiskList, calling rpc getting disk list error[6FFC0010]",
                     u"qvRefreshDiskList, calling rpc getting disk list error[6FFC0010]"}));
}

TEST_F(DiskListFailure, TransportFaultsPassThrough) {
    const struct {
        Fault fault;
        uint32_t status;
        const char16_t* road;
        const char16_t* get;
        const char16_t* refresh;
    } rows[] = {
        {Fault::kStall, QV_STATUS_RPC_TIMEOUT, u"Error, rpc call error, client status[00000005]",
         u"qvGetDiskList, calling rpc getting disk list error[6FFC8003]",
         u"qvRefreshDiskList, calling rpc getting disk list error[6FFC8003]"},
        {Fault::kGarbage, QV_STATUS_RPC_FAILED, u"Error, rpc call error, client status[00000002]",
         u"qvGetDiskList, calling rpc getting disk list error[6FFC8005]",
         u"qvRefreshDiskList, calling rpc getting disk list error[6FFC8005]"},
        // Last: the connection does not come back.
        {Fault::kClose, QV_STATUS_RPC_CHANNEL, u"Error, rpc call error, client status[00000004]",
         u"qvGetDiskList, calling rpc getting disk list error[6FFC8004]",
         u"qvRefreshDiskList, calling rpc getting disk list error[6FFC8004]"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.fault));
        svc.Misbehave(GET_DISK_LIST, r.fault);
        const std::size_t before = trace.Lines().size();
        list = Untouched();
        const QV_DISK_FILTER filter{5, 0, 0, nullptr};
        EXPECT_EQ(qvGetDiskList(handle, &filter, &list), r.status);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        EXPECT_EQ(qvRefreshDiskList(handle), r.status);
        const auto lines = trace.Lines();
        ASSERT_EQ(lines.size(), before + 4);
        EXPECT_EQ(lines[before], r.road);
        EXPECT_EQ(lines[before + 1], r.get);
        EXPECT_EQ(lines[before + 3], r.refresh);
    }
}

// The service claims more disks than it sends: nothing past the received
// records is read, and the list stays empty.
TEST_F(DiskListFailure, DiskCountBeyondTheReceivedDisks) {
    DiskReply r;
    SmallInventory(r);
    RpcDiskList& reply = r.Mutable();
    reply.DiskCount = 2;
    svc.Answer<GET_DISK_LIST>(reply);
    list = Untouched();
    const QV_DISK_FILTER filter{3, 0, 0, nullptr};
    EXPECT_EQ(qvGetDiskList(handle, &filter, &list), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(list.Count, 0u);
    EXPECT_EQ(list.Entries, nullptr);
    EXPECT_EQ(trace.Lines(),
              (Lines{u"qvGetDiskList, reply counts 2 disks but carries 1[6FFC8005]"}));
}

TEST_F(DiskListFailure, DiskCountDecidesHowManyDisksAreWalked) {
    DiskReply r;
    r.AddDisk(0);
    r.AddDisk(1);
    r.AddDisk(2);
    RpcDiskList& reply = r.Mutable();
    r.Record();
    for (uint32_t count : {0u, 1u, 3u}) {
        SCOPED_TRACE(count);
        reply.DiskCount = count;
        svc.Answer<GET_DISK_LIST>(reply);
        ASSERT_EQ(Get(5), 0u);
        EXPECT_EQ(list.Count, count);
        EXPECT_EQ(list.Entries == nullptr, count == 0);
    }
    EXPECT_TRUE(trace.Lines().empty());
}

// Counts on the wire that run past the bytes sent: the reply cannot be
// decoded, the call fails, and the caller sees the road's status.
TEST_F(DiskListFailure, ArraysLongerThanTheReplyAreACallFailure) {
    DiskReply r;
    qvtest::Bytes bytes =
        qvtest::Encode(qv::wire::Proc<GET_DISK_LIST>::ResFilter(), &SmallInventory(r));
    ASSERT_GT(bytes.size(), 12u);
    qvtest::Bytes claims_more = bytes;
    const uint32_t two = htonl(2);  // Disks<> says two records, one follows
    std::memcpy(claims_more.data() + 8, &two, sizeof two);
    qvtest::Bytes cut_short(bytes.begin(), bytes.end() - 4);
    for (const qvtest::Bytes& raw : {claims_more, cut_short}) {
        svc.AnswerRaw(GET_DISK_LIST, raw);
        const std::size_t before = trace.Lines().size();
        EXPECT_EQ(Get(3), QV_STATUS_RPC_FAILED);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        const auto lines = trace.Lines();
        EXPECT_EQ(Lines(lines.begin() + static_cast<long>(before), lines.end()),
                  (Lines{u"Error, rpc call error, client status[00000002]",
                         u"qvGetDiskList, calling rpc getting disk list error[6FFC8005]"}));
    }
}

// Every allocation of a full list is made to fail in turn: the request's
// name copy, the entry block and each string of each entry. The caller
// gets an empty list and nothing is left behind (the sanitizer build checks
// for leaks at exit).
TEST_F(DiskListFailure, NoMemoryAtEveryAllocationLeavesTheListEmpty) {
    DiskReply r;
    svc.Answer<GET_DISK_LIST>(SmallInventory(r));
    const QV_OBJECT_ID object{u"Harddisk0", 0};
    const QV_DISK_FILTER filter{3, 0, 0, &object};

    qv::alloc_fault::Reset();
    ASSERT_EQ(qvGetDiskList(handle, &filter, &list), 0u);
    const unsigned allocations = qv::alloc_fault::Count();
    ASSERT_EQ(list.Count, 3u);
    // Name copy, block, and per entry 6 texts + 2 properties + 4 descriptor texts
    // (the partitions' labels are sent).
    EXPECT_EQ(allocations, 2u + 3u * 12u);
    FreeList();

    for (unsigned n = 1; n <= allocations; ++n) {
        SCOPED_TRACE(n);
        const std::size_t calls = svc.Calls(GET_DISK_LIST);
        const std::size_t before = trace.Lines().size();
        list = Untouched();
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvGetDiskList(handle, &filter, &list), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        // Without the name copy nothing is sent.
        EXPECT_EQ(svc.Calls(GET_DISK_LIST), calls + (n == 1 ? 0 : 1));
        const auto lines = trace.Lines();
        EXPECT_EQ(Lines(lines.begin() + static_cast<long>(before), lines.end()),
                  (Lines{u"qvGetDiskList, no more memory for allocation"}));
    }
}

TEST_F(DiskListFailure, RefreshAsksForARescanAndConvertsNothing) {
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
    EXPECT_EQ(req->Object.kind, 0u);
    EXPECT_EQ(qvtest::Count(req->Object.name), 0u);
    EXPECT_EQ(req->Object.number, 0u);
    EXPECT_EQ(req->Object.token, 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

using DiskFree = DiskTest;

TEST_F(DiskFree, NullListsAreAccepted) {
    QV_DISK_LIST* none = nullptr;
    EXPECT_EQ(qvFreeDiskList(nullptr, 0), 0u);
    EXPECT_EQ(qvFreeDiskList(&none, 0), 0u);
    EXPECT_EQ(qvFreeDiskList(&none, 1), 0u);
    EXPECT_EQ(none, nullptr);
}

TEST_F(DiskFree, KeepFlagDecidesTheHeadersFate) {
    DiskReply r;
    svc.Answer<GET_DISK_LIST>(SmallInventory(r));
    const QV_DISK_FILTER filter{3, 0, 0, nullptr};

    // Flag 0: the header goes too (it came from the C heap) and the caller's
    // pointer is cleared.
    auto* header = static_cast<QV_DISK_LIST*>(qv::AllocZeroed(1, sizeof(QV_DISK_LIST)));
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(qvGetDiskList(handle, &filter, header), 0u);
    ASSERT_EQ(header->Count, 3u);
    EXPECT_EQ(qvFreeDiskList(&header, 0), 0u);
    EXPECT_EQ(header, nullptr);

    // Flag 1: the entries go, the header stays as it was.
    QV_DISK_LIST kept{};
    ASSERT_EQ(qvGetDiskList(handle, &filter, &kept), 0u);
    QV_DISK_LIST* kept_ref = &kept;
    const QV_DISK_INFO* entries = kept.Entries;
    EXPECT_EQ(qvFreeDiskList(&kept_ref, 1), 0u);
    EXPECT_EQ(kept_ref, &kept);
    EXPECT_EQ(kept.Count, 3u);
    EXPECT_EQ(kept.Entries, entries);

    // An empty list held in a kept header releases nothing.
    QV_DISK_LIST empty{};
    QV_DISK_LIST* empty_ref = &empty;
    EXPECT_EQ(qvFreeDiskList(&empty_ref, 1), 0u);
    EXPECT_EQ(empty_ref, &empty);
}

// The all-zero entry of a missing partition holds no strings to release.
TEST_F(DiskFree, ReleasesPartlyEmptyEntries) {
    DiskReply r;
    svc.Answer<GET_DISK_LIST>(SmallInventory(r));
    const QV_OBJECT_ID missing{u"Harddisk0", 9};
    auto* header = static_cast<QV_DISK_LIST*>(qv::AllocZeroed(1, sizeof(QV_DISK_LIST)));
    ASSERT_NE(header, nullptr);
    const QV_DISK_FILTER filter{8, 0, 0, &missing};
    ASSERT_EQ(qvGetDiskList(handle, &filter, header), 0u);
    ASSERT_EQ(header->Count, 1u);
    EXPECT_EQ(qvFreeDiskList(&header, 0), 0u);
    EXPECT_EQ(header, nullptr);
}

}  // namespace
