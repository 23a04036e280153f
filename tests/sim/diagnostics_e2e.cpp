// The cluster, the event log, the trace level, system information and the
// probe capture of quarvane-sim, through the library.
#include <cstdio>
#include <memory>

#include "fixture.h"

namespace simtest {
namespace {

// Two disks, a two-node cluster of which this machine is the first node,
// and the machine's description.
constexpr const char* kClusterInventory = R"({"disks": [
 {"number": 1, "name": "Disk1", "size_mib": 8000, "partitions": [
   {"number": 1, "size_mib": 1000}, {"number": 2, "size_mib": 1000}]},
 {"number": 3, "name": "Disk3", "size_mib": 4000, "partitions": [
   {"number": 1, "size_mib": 500}, {"number": 2, "size_mib": 2000}]}],
 "cluster": {"name": "CL", "nodes": ["NODE-A", "NODE-B"], "local_node": "NODE-A",
  "role": "secondary", "groups": [
   {"name": "SQL", "tag": "T1", "owner": "NODE-A", "disks": [
     {"name": "CD1", "id": 101, "text1": "Disk1", "text2": "E:"},
     {"name": "CD2", "id": 102}]},
   {"name": "Files", "owner": "NODE-B", "disks": [{"name": "CD3", "id": 103}]}]},
 "system": {"computer": "NODE-A", "os": "Sim OS", "version": "9.9", "path": "/opt/qv",
  "processors": 8, "memory_mib": 2048, "os_major": 6, "os_minor": 3, "os_build": 9600}})";

enum : uint32_t {
    kClusterNotConfigured = 0x6FFC0701,
    kGroupNotFound = 0x6FFC0704,
    kConfigDiskNotFound = 0x6FFC0705,
};

QV_CLUSTER_GROUP Group(std::u16string_view name, std::u16string_view tag = u"") {
    QV_CLUSTER_GROUP g{};
    name.copy(g.groupName, QV_CLUSTER_GROUP_NAME_UNITS - 1);
    tag.copy(g.groupTag, QV_CLUSTER_GROUP_TAG_UNITS - 1);
    return g;
}

using ClusterInfo = Owned<QV_CLUSTER_INFO, qvFreeClusterInfo>;
using EventList = Owned<QV_EVENT_LIST, qvFreeEventList>;

class SimDiagnostics : public SimE2e {
  protected:
    // "SQL NODE-A 1 CD1|Files NODE-B 0 CD3": each group, the node it runs
    // on, whether the service is configured on it, and its disk.
    std::string Groups() {
        ClusterInfo info;
        EXPECT_EQ(qvGetClusterInfo(handle_, info.Reset()), 0u);
        std::string out;
        for (uint32_t i = 0; i < info.groupCount; ++i) {
            const QV_CLUSTER_GROUP& g = info.groups[i];
            out += (i == 0 ? "" : "|") + Ascii(g.groupName) + " " +
                   (g.value1 == 1 ? "NODE-A" : "NODE-B") + " " + std::to_string(g.value3) + " " +
                   Ascii(g.disk.diskName);
        }
        return out;
    }
    // "7 4 40010001 Disk1:1 text": number, type, code, subject and text of
    // each selected event, one a line.
    std::string Events(uint32_t selector = 0, const void* subject = nullptr, uint32_t types = 0,
                       uint32_t first = 0, uint32_t limit = 0) {
        EventList list;
        const QV_EVENT_QUERY query{selector, first, limit, subject, types, 0, 0, 0};
        EXPECT_EQ(qvGetEventList(handle_, &query, list.Reset()), 0u);
        std::string out;
        for (uint32_t i = 0; i < list.count; ++i) {
            const QV_EVENT_ENTRY& e = list.events[i];
            char head[64];
            std::snprintf(head, sizeof head, "%u %u %08X ", e.word0, e.word2, e.word3);
            out += head;
            if (e.subjectKind != 0) out += Ascii(e.subjectName);
            if (e.subjectKind == 1) out += ":" + std::to_string(e.subjectNumber);
            out += " " + Ascii(e.text) + "\n";
        }
        return out;
    }
};

TEST_F(SimDiagnostics, ClusterGroupsAreConfiguredMovedAndRemoved) {
    Start({}, "", kClusterInventory);
    ClusterInfo info;
    ASSERT_EQ(qvGetClusterInfo(handle_, info.Reset()), 0u);
    EXPECT_EQ(std::tuple(info.infoWord, Ascii(info.name1), Ascii(info.name2), Ascii(info.name3)),
              std::tuple(2u, "CL", "NODE-A", "NODE-B"));
    EXPECT_EQ(Groups(), "SQL NODE-A 0 CD1|Files NODE-B 0 CD3");

    using DiskList = Owned<QV_CLUSTER_DISK_LIST, qvFreePhysicalDiskList>;
    DiskList disks;
    QV_CLUSTER_GROUP sql = Group(u"sql", u"T1");
    ASSERT_EQ(qvGetClusterGroupPhysicalDiskList(handle_, &sql, disks.Reset()), 0u);
    ASSERT_EQ(disks.count, 2u);
    EXPECT_EQ(std::tuple(Ascii(disks.disks[0].diskText1), Ascii(disks.disks[0].diskText2),
                         disks.disks[1].diskId),
              std::tuple("Disk1", "E:", 102u));

    // The service is configured on the group's second disk, then the group
    // moves to the partner and back.
    std::u16string_view(u"CD2").copy(sql.disk.diskName, 3);
    ASSERT_EQ(qvSetClusterGroupInfo(handle_, &sql), 0u);
    EXPECT_EQ(Groups(), "SQL NODE-A 1 CD2|Files NODE-B 0 CD3");
    ASSERT_EQ(qvFailoverAction(handle_, &sql, 1), 0u);
    QV_CLUSTER_GROUP files = Group(u"Files");
    ASSERT_EQ(qvFailoverAction(handle_, &files, 2), 0u);
    EXPECT_EQ(Groups(), "SQL NODE-B 1 CD2|Files NODE-A 0 CD3");
    EXPECT_EQ(qvFailoverAction(handle_, &files, 2), 0u);  // already here: nothing happens
    ASSERT_EQ(qvRemoveClusterGroupInfo(handle_, &sql), 0u);
    EXPECT_EQ(Groups(), "SQL NODE-B 0 CD1|Files NODE-A 0 CD3");

    const struct {
        const char* what;
        uint32_t status, expected;
    } refusals[] = {
        {"remove again", qvRemoveClusterGroupInfo(handle_, &sql), kConfigDiskNotFound},
        {"a disk not in the group",
         [&] {
             QV_CLUSTER_GROUP other = Group(u"Files");
             std::u16string_view(u"CD1").copy(other.disk.diskName, 3);
             return qvSetClusterGroupInfo(handle_, &other);
         }(),
         kConfigDiskNotFound},
        {"an unknown action", qvFailoverAction(handle_, &sql, 3), kInvalid},
        {"a wrong tag", [&] {
             const QV_CLUSTER_GROUP wrong = Group(u"SQL", u"T2");
             return qvFailoverAction(handle_, &wrong, 1);
         }(), kGroupNotFound},
        {"an empty message", qvClusterCommunication(handle_, u""), kInvalid},
    };
    for (const auto& r : refusals) EXPECT_EQ(Said(r.status), Said(r.expected)) << r.what;

    // Messages and the cluster's state come back as pulled text.
    ASSERT_EQ(qvClusterCommunication(handle_, u"partner says hello"), 0u);
    QV_PULL_INFO pulled{};
    ASSERT_EQ(qvPullInformation(handle_, 2, &pulled), 0u);
    EXPECT_EQ(std::tuple(std::string(pulled.text), pulled.length),
              std::tuple("partner says hello\n", 20u));
    qvFreeMemory(pulled.text);
    ASSERT_EQ(qvPullInformation(handle_, 1, &pulled), 0u);
    EXPECT_NE(std::string(pulled.text).find("group SQL on NODE-B\n"), std::string::npos)
        << pulled.text;
    qvFreeMemory(pulled.text);

    // The failovers and the configuration are in the event log, by name.
    EXPECT_EQ(Events(QV_EVENT_SELECT_NAME, u"sql"),
              "1 4 40020002 SQL Cluster group SQL configured on CD2.\n"
              "2 2 800003E9 SQL Cluster group SQL moved from NODE-A to NODE-B.\n");
}

TEST_F(SimDiagnostics, AMachineOutsideAClusterSaysSo) {
    Start();
    ClusterInfo info;
    EXPECT_EQ(Said(qvGetClusterInfo(handle_, info.Reset())), Said(kClusterNotConfigured));
    const QV_CLUSTER_GROUP any = Group(u"SQL");
    EXPECT_EQ(Said(qvFailoverAction(handle_, &any, 1)), Said(kClusterNotConfigured));
}

TEST_F(SimDiagnostics, TheEventLogHoldsWhatHappenedAndWhatCallersWrote) {
    Start({}, "", kClusterInventory);
    ASSERT_EQ(Enable(Pair()), 0u);
    ASSERT_TRUE(Eventually([&] { return State() == kMirrored; }));
    const QV_OBJECT_ID disk1{u"disk1", 1};
    const QV_SNAPSHOT_REQUEST snapshot{&disk1, 1};
    ASSERT_EQ(qvTakeSnapshot(handle_, &snapshot), 0u);
    ASSERT_TRUE(Eventually([&] {
        QV_PROGRESS progress{};
        return qvGetSnapshotProgress(handle_, u"Disk1", 1, &progress) == 0 && progress.State == 2;
    }));
    ASSERT_EQ(qvWriteEventMessage(handle_, QV_EVENT_WARNING, 5, u"Disk3", 2, u"checked"), 0u);
    ASSERT_EQ(qvWriteEventMessage(handle_, QV_EVENT_ERROR, 3, u"", 0, u"no subject"), 0u);
    EXPECT_EQ(Said(qvWriteEventMessage(handle_, 3, 1, u"", 0, u"x")), Said(kInvalid));
    EXPECT_EQ(Said(qvWriteEventMessage(handle_, 4, 10, u"", 0, u"x")), Said(kInvalid));

    EXPECT_EQ(Events(),
              "1 4 400003E8 Disk1:1 Protection of Disk1:1 on Disk3:2 enabled.\n"
              "2 4 40010001 Disk1:1 Synchronization of Disk1:1 finished.\n"
              "3 4 40020001 Disk1:1 Snapshot of Disk1:1 taken.\n"
              "4 2 80010002 Disk3:2 checked\n"
              "5 1 C00003EA  no subject\n");
    const uint32_t two = 2;
    const struct {
        const char* what;
        std::string got, want;
    } rows[] = {
        {"by number", Events(QV_EVENT_SELECT_NUMBER, &two), "4 2 80010002 Disk3:2 checked\n"},
        {"by object", Events(QV_EVENT_SELECT_OBJECT, &disk1, 0, 3),
         "3 4 40020001 Disk1:1 Snapshot of Disk1:1 taken.\n"},
        {"errors and warnings", Events(0, nullptr, QV_EVENT_ERROR | QV_EVENT_WARNING, 0, 1),
         "5 1 C00003EA  no subject\n"},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.what;
}

TEST_F(SimDiagnostics, TraceLevelSystemInformationAndProbe) {
    Start({}, "", kClusterInventory);
    uint32_t level = 0;
    ASSERT_EQ(qvGetTraceLevel(handle_, &level), 0u);
    EXPECT_EQ(level, 2u);
    ASSERT_EQ(qvSetTraceLevel(handle_, QV_TRACE_DETAIL_4), 0u);
    ASSERT_EQ(qvGetTraceLevel(handle_, &level), 0u);
    EXPECT_EQ(level, uint32_t{QV_TRACE_DETAIL_4});
    EXPECT_EQ(Said(qvSetTraceLevel(handle_, 6)), Said(kInvalid));  // travels as 0

    using SystemInfo = Owned<QV_SYSTEM_INFO, qvFreeSystemInfo>;
    SystemInfo info;
    ASSERT_EQ(qvGetSystemInfo(handle_, info.Reset()), 0u);
    EXPECT_EQ(std::tuple(info.sysWord1, info.sysWord2, info.sysWord3, info.sysWord4,
                         info.sysWord5, info.sysWord6, info.sysWord7),
              std::tuple(8u, 2048u, 6u, 3u, 9600u, 2u, 0u));
    EXPECT_EQ(std::tuple(Ascii(info.sysText1), Ascii(info.sysText2), Ascii(info.sysText3),
                         Ascii(info.sysText4)),
              std::tuple("NODE-A", "Sim OS", "9.9", "/opt/qv"));

    QV_PROBE_REQUEST probe{};
    const std::string path = (dir_ / "probe.tar").string();
    std::copy(path.begin(), path.end(), probe.probeFile);
    ASSERT_EQ(qvTakeProbe(handle_, &probe), 0u);
    const std::unique_ptr<FILE, int (*)(FILE*)> tar(
        popen(("tar -tf '" + path + "' 2>&1").c_str(), "r"), pclose);
    ASSERT_TRUE(tar);
    std::string listed;
    for (char buffer[256]; std::fgets(buffer, sizeof buffer, tar.get()) != nullptr;) {
        listed += buffer;
    }
    EXPECT_EQ(listed,
              "quarvane-probe/state.json\nquarvane-probe/events.log\nquarvane-probe/system.txt\n");
}

TEST_F(SimDiagnostics, EventsClusterAndTraceLevelSurviveARestart) {
    const std::string state = (dir_ / "state.json").string();
    Start({"--state-file", state}, "", kClusterInventory);
    const QV_CLUSTER_GROUP sql = Group(u"SQL");
    ASSERT_EQ(qvFailoverAction(handle_, &sql, 1), 0u);
    ASSERT_EQ(qvSetTraceLevel(handle_, 5), 0u);
    StopDaemon();
    Start({"--state-file", state}, "", kClusterInventory);
    EXPECT_EQ(Groups(), "SQL NODE-B 0 CD1|Files NODE-B 0 CD3");
    uint32_t level = 0;
    ASSERT_EQ(qvGetTraceLevel(handle_, &level), 0u);
    EXPECT_EQ(level, 5u);
    ASSERT_EQ(qvWriteEventMessage(handle_, 4, 1, u"", 0, u"after"), 0u);
    EXPECT_EQ(Events(0, nullptr, 0, 2),
              "2 4 400003E8  after\n");
}

}  // namespace
}  // namespace simtest
