// The cluster family: texts held in the caller's fixed arrays (bounded,
// terminated, never spilling into the next field), what qvGetClusterInfo
// leaves alone, the two release functions and what each request sends.
// The lines, with their blank before the status, are the table's.
#include <gtest/gtest.h>

#include <string>

#include "platform/alloc.h"
#include "support/connected_test.h"
#include "support/function_table.h"
#include "support/sample_replies.h"

using qvtest::Count;
using qvtest::Put;
using qvtest::Text;

namespace {

using Cluster = qvtest::ConnectedTest;

QV_CLUSTER_GROUP Group(std::u16string_view name, std::u16string_view tag) {
    QV_CLUSTER_GROUP g{};
    Put(g.groupName, name);
    Put(g.groupTag, tag);
    return g;
}

RpcClusterDisk Disk(qvtest::Arena& w, std::u16string_view name, std::u16string_view text1,
                    std::u16string_view text2) {
    return {name.empty() ? RpcWString{} : w.Text(name), 7,
            text1.empty() ? RpcWString{} : w.Text(text1), text2.empty() ? RpcWString{} : w.Text(text2),
            -3, 4};
}

TEST_F(Cluster, InfoCopiesTextsBoundedAndLeavesTheCallersNamesWhenNoneCome) {
    qvtest::Arena w;
    const std::u16string too_long(300, u'x');
    RpcClusterGroup groups[] = {
        {{w.Text(std::u16string(255, u'a')), w.Text(u"tag")}, 1, 2, 3, 4,
         Disk(w, std::u16string(127, u'd'), u"Harddisk1", u"")},
        // A name too long for its array, a tag that came with no units.
        {{w.Text(too_long), RpcWString{}}, -1, -2, -3, -4, Disk(w, too_long, too_long, too_long)},
    };
    svc.Answer<GET_CLUSTER_INFO>({0, 9, w.Text(u"QVCLUSTER"), RpcWString{}, w.Text(u""), {2, groups}});

    QV_CLUSTER_INFO info{};
    Put(info.name2, u"mine");
    Put(info.name3, u"also mine");
    ASSERT_EQ(qvGetClusterInfo(handle, &info), 0u);
    EXPECT_EQ(std::tuple(info.infoWord, info.groupCount), std::tuple(9u, 2u));
    EXPECT_EQ(std::u16string(info.name1), u"QVCLUSTER");
    EXPECT_EQ(std::u16string(info.name2), u"mine");
    EXPECT_EQ(std::u16string(info.name3), u"also mine");

    const QV_CLUSTER_GROUP& exact = info.groups[0];
    EXPECT_EQ(std::u16string(exact.groupName), std::u16string(255, u'a'));
    EXPECT_EQ(std::u16string(exact.disk.diskName), std::u16string(127, u'd'));
    EXPECT_EQ(std::tuple(exact.value1, exact.value4, exact.disk.diskId, exact.disk.diskValue1),
              std::tuple(1, 4, 7u, -3));
    EXPECT_EQ(exact.disk.diskText2[0], u'\0');

    // Cut to the array with its terminator; the next field keeps its own.
    const QV_CLUSTER_GROUP& cut = info.groups[1];
    EXPECT_EQ(std::u16string(cut.groupName), too_long.substr(0, 255));
    EXPECT_EQ(cut.groupTag[0], u'\0');
    EXPECT_EQ(std::u16string(cut.disk.diskName), too_long.substr(0, 127));
    EXPECT_EQ(cut.disk.diskId, 7u);
    EXPECT_EQ(std::u16string(cut.disk.diskText1), too_long.substr(0, 79));
    EXPECT_EQ(std::u16string(cut.disk.diskText2), too_long.substr(0, 35));
    EXPECT_EQ(std::tuple(cut.value1, cut.disk.diskValue1, cut.disk.diskValue2),
              std::tuple(-1, -3, 4));

    QV_CLUSTER_INFO* held = qvtest::ReleaseKept(qvFreeClusterInfo, info);
    EXPECT_EQ(std::tuple(held, info.groups, info.groupCount), std::tuple(&info, nullptr, 2u));
}

TEST_F(Cluster, ASurrogatePairIsNeverCutInTwo) {
    qvtest::Arena w;
    std::u16string name(34, u'x');
    name += u"\U0001F600";  // units 35 and 36 of a 36-unit array
    RpcClusterDisk disk = Disk(w, u"d", u"t", name);
    svc.Answer<GET_CLUSTER_GROUP_PHYSICAL_DISK_LIST>({0, {1, &disk}});
    QV_CLUSTER_GROUP group = Group(u"g", u"");
    QV_CLUSTER_DISK_LIST list{};
    ASSERT_EQ(qvGetClusterGroupPhysicalDiskList(handle, &group, &list), 0u);
    EXPECT_EQ(std::u16string(list.disks[0].diskText2), std::u16string(34, u'x'));
    // A kept list is left empty.
    qvtest::ReleaseKept(qvFreePhysicalDiskList, list);
    EXPECT_EQ(std::tuple(list.count, list.disks), std::tuple(0u, nullptr));
}

TEST_F(Cluster, InfoWithoutGroupsOrMemory) {
    qvtest::Arena w;
    RpcClusterGroup group{{w.Text(u"G"), w.Text(u"T")}, 0, 0, 0, 0, Disk(w, u"", u"", u"")};
    QV_CLUSTER_INFO info{};
    info.groupCount = 5;
    svc.Answer<GET_CLUSTER_INFO>({0, 1, w.Text(u"C"), w.Text(u"N1"), w.Text(u"N2"), {}});
    ASSERT_EQ(qvGetClusterInfo(handle, &info), 0u);
    EXPECT_EQ(std::tuple(info.groupCount, info.groups), std::tuple(0u, nullptr));
    EXPECT_EQ(std::u16string(info.name3), u"N2");

    // No room for the groups: none, and the names are not copied either.
    QV_CLUSTER_INFO bare{};
    svc.Answer<GET_CLUSTER_INFO>({0, 1, w.Text(u"C"), w.Text(u"N1"), w.Text(u"N2"), {1, &group}});
    qv::alloc_fault::FailAt(1, true);
    EXPECT_EQ(qvGetClusterInfo(handle, &bare), QV_STATUS_NO_MEMORY);
    qv::alloc_fault::Reset();
    EXPECT_EQ(std::tuple(bare.infoWord, bare.groupCount, bare.groups, bare.name1[0]),
              std::tuple(1u, 0u, nullptr, u'\0'));
}

TEST_F(Cluster, SetSendsTheKeyAlwaysTheDiskTextsOnlyWhenThereAndNoValues) {
    QV_CLUSTER_GROUP group = Group(u"", u"T");
    group.value1 = group.value2 = group.value3 = group.value4 = 99;
    Put(group.disk.diskName, u"Cluster Disk 1");
    Put(group.disk.diskText2, u"E:");
    group.disk.diskId = 101;
    group.disk.diskValue1 = 5;
    group.disk.diskValue2 = -5;
    // A caller's text that fills its array with no terminator stops there.
    std::fill(std::begin(group.groupTag), std::end(group.groupTag), u't');
    svc.Answer<SET_CLUSTER_GROUP_INFO>({0});
    ASSERT_EQ(qvSetClusterGroupInfo(handle, &group), 0u);
    const auto req = svc.Last<SET_CLUSTER_GROUP_INFO>();
    EXPECT_EQ(Count(req->key.groupName), 1u);  // an empty name as the lone terminator
    EXPECT_EQ(Count(req->key.groupTag), 65u);
    EXPECT_EQ(Text(req->key.groupTag), std::u16string(64, u't'));
    EXPECT_EQ(std::tuple(Text(req->disk.diskName), Count(req->disk.diskName)),
              std::tuple(u"Cluster Disk 1", 15u));
    EXPECT_EQ(Count(req->disk.diskText1), 0u);  // empty: no units at all
    EXPECT_EQ(Count(req->disk.diskText2), 3u);
    EXPECT_EQ(std::tuple(req->disk.diskId, req->disk.diskValue1, req->disk.diskValue2),
              std::tuple(101u, 0, 0));
}

// A message goes with its terminator, an empty or missing one as no units.
// (The group's key, the failover's action and the kind of information
// pulled are run against quarvane-sim by qvctl's cluster case.)
TEST_F(Cluster, MessagesCountTheirTerminator) {
    const struct {
        const QV_WCHAR* text;
        unsigned count;
    } messages[] = {{u"", 0}, {nullptr, 0}, {u"ab", 3}};
    for (const auto& m : messages) {
        EXPECT_EQ(qvClusterCommunication(handle, m.text), 0u);
        EXPECT_EQ(Count(svc.Last<CLUSTER_COMMUNICATION>()->text), m.count);
    }
}

// Nothing pulled reads as no text.
TEST_F(Cluster, PulledTextIsTerminatedAndCountedAsReceived) {
    char counted[] = "state\n";  // the terminator is part of what arrives
    char bare[] = {'a', 'b'};
    const struct {
        char* data;
        u_int length;
        const char* text;
    } rows[] = {
        {counted, sizeof counted, "state\n"}, {bare, sizeof bare, "ab"}, {nullptr, 0, nullptr}};
    for (const auto& r : rows) {
        svc.Answer<PULL_INFORMATION>({0, {r.length, r.data}});
        QV_PULL_INFO info{};
        ASSERT_EQ(qvPullInformation(handle, 1, &info), 0u);
        EXPECT_EQ(info.length, r.length);
        EXPECT_STREQ(info.text, r.text);
        qvFreeMemory(info.text);
    }
}

}  // namespace
