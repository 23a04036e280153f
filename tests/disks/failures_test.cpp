// The disk inventory when things go wrong: bad arguments, a refusing or
// broken service, replies that contradict themselves, no memory; the
// rescan; and the release of lists.
#include <gtest/gtest.h>

#include "disks/disk_fixture.h"
#include "platform/alloc.h"

using disktest::DiskReply;
using disktest::DiskTest;
using disktest::Lines;
using disktest::Sentinel;
using qvtest::Fault;

namespace {

using DiskListFailure = DiskTest;

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

// Refused before anything is sent, and the list is left as it was.
TEST_F(DiskListFailure, BadArgumentsLeaveTheListAlone) {
    const QV_DISK_FILTER fine{3, 0, 0, nullptr};
    const QV_DISK_FILTER no_object_7{7, 0, 0, nullptr};
    const QV_DISK_FILTER no_object_8{8, 0, 0, nullptr};
    list = {5, Sentinel()};
    EXPECT_EQ(qvGetDiskList(nullptr, &fine, &list), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(qvGetDiskList(handle, nullptr, &list), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(qvGetDiskList(handle, &fine, nullptr), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(qvGetDiskList(handle, &no_object_7, &list), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(qvGetDiskList(handle, &no_object_8, &list), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(list.Count, 5u);
    EXPECT_EQ(list.Entries, Sentinel());
    EXPECT_EQ(svc.Calls(GET_DISK_LIST), 0u);
    EXPECT_TRUE(trace.Lines().empty());
    list = {};
}

// Both functions log the mapped status with their own line; the list is
// empty after any failure.
TEST_F(DiskListFailure, FailuresAreLoggedWithTheMappedStatus) {
    const struct {
        Fault fault;  // kNone: the service refuses with 6FFC0010
        uint32_t status;
        const char16_t* word;
        Lines road;
    } rows[] = {
        {Fault::kNone, 0x6FFC0010, u"6FFC0010", {}},
        {Fault::kGarbage,
         QV_STATUS_RPC_FAILED,
         u"6FFC8005",
         {u"Error, rpc call error, client status[00000002]"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.fault));
        DiskReply reply;
        SmallInventory(reply);
        svc.Answer<GET_DISK_LIST>(reply.Record(0x6FFC0010));
        if (r.fault != Fault::kNone) svc.Misbehave(GET_DISK_LIST, r.fault);
        const std::size_t before = trace.Lines().size();
        list = {5, Sentinel()};
        const QV_DISK_FILTER filter{3, 0, 0, nullptr};
        EXPECT_EQ(qvGetDiskList(handle, &filter, &list), r.status);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        EXPECT_EQ(qvRefreshDiskList(handle), r.status);
        Lines expected = r.road;
        expected.push_back(u"qvGetDiskList, calling rpc getting disk list error[" +
                           std::u16string(r.word) + u"]");
        expected.insert(expected.end(), r.road.begin(), r.road.end());
        expected.push_back(u"qvRefreshDiskList, calling rpc getting disk list error[" +
                           std::u16string(r.word) + u"]");
        EXPECT_EQ(LinesSince(before), expected);
    }
}

// DiskCount decides how many disks are walked; one beyond the received
// records is refused without reading past them.
TEST_F(DiskListFailure, DiskCountIsCheckedAgainstTheReceivedDisks) {
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

// Every allocation of a full list is made to fail in turn: the request's
// name copy, the entry block and each string of each entry. The caller
// gets an empty list and nothing is left behind.
TEST_F(DiskListFailure, NoMemoryAtEveryAllocationLeavesTheListEmpty) {
    DiskReply r;
    svc.Answer<GET_DISK_LIST>(SmallInventory(r));
    const QV_OBJECT_ID object{u"Harddisk0", 0};
    const QV_DISK_FILTER filter{3, 0, 0, &object};

    qv::alloc_fault::Reset();
    ASSERT_EQ(qvGetDiskList(handle, &filter, &list), 0u);
    const unsigned allocations = qv::alloc_fault::Count();
    ASSERT_EQ(list.Count, 3u);
    // Name copy, block, and per entry 6 texts + 2 properties + 4 descriptor texts.
    EXPECT_EQ(allocations, 2u + 3u * 12u);
    FreeList();

    for (unsigned n = 1; n <= allocations; ++n) {
        SCOPED_TRACE(n);
        const std::size_t calls = svc.Calls(GET_DISK_LIST);
        const std::size_t before = trace.Lines().size();
        list = {5, Sentinel()};
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvGetDiskList(handle, &filter, &list), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        EXPECT_EQ(svc.Calls(GET_DISK_LIST), calls + (n == 1 ? 0 : 1));  // no name, no call
        EXPECT_EQ(LinesSince(before), Lines{u"qvGetDiskList, no more memory for allocation"});
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
    EXPECT_EQ(qvtest::Count(req->Object.name), 0u);
    EXPECT_EQ(req->Object.number, 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(DiskListFailure, KeepFlagDecidesTheHeadersFate) {
    DiskReply r;
    svc.Answer<GET_DISK_LIST>(SmallInventory(r));
    // Flag 0: the header goes too (it came from the C heap), the pointer is
    // cleared; the all-zero entry of a missing partition holds no strings.
    const QV_OBJECT_ID missing{u"Harddisk0", 9};
    for (const QV_DISK_FILTER& filter :
         {QV_DISK_FILTER{3, 0, 0, nullptr}, QV_DISK_FILTER{8, 0, 0, &missing}}) {
        auto* header = static_cast<QV_DISK_LIST*>(qv::AllocZeroed(1, sizeof(QV_DISK_LIST)));
        ASSERT_EQ(qvGetDiskList(handle, &filter, header), 0u);
        ASSERT_NE(header->Count, 0u);
        EXPECT_EQ(qvFreeDiskList(&header, 0), 0u);
        EXPECT_EQ(header, nullptr);
    }
    // Flag 1: the entries go, the header stays as it was.
    const QV_DISK_FILTER filter{3, 0, 0, nullptr};
    ASSERT_EQ(qvGetDiskList(handle, &filter, &list), 0u);
    QV_DISK_LIST* kept = &list;
    const QV_DISK_INFO* entries = list.Entries;
    EXPECT_EQ(qvFreeDiskList(&kept, 1), 0u);
    EXPECT_EQ(kept, &list);
    EXPECT_EQ(list.Count, 3u);
    EXPECT_EQ(list.Entries, entries);
    list = {};
    // Null lists are accepted.
    QV_DISK_LIST* none = nullptr;
    EXPECT_EQ(qvFreeDiskList(nullptr, 0), 0u);
    EXPECT_EQ(qvFreeDiskList(&none, 0), 0u);
}

}  // namespace
