// The cluster, the event log and the trace level of quarvane-sim through
// the library: what a restart keeps and what qvctl never sends. The rest of
// them runs through qvctl (tests/qvctl).
#include <cstdio>

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
    // Events about a number: those whose subject carries it.
    ASSERT_EQ(qvWriteEventMessage(handle_, 4, 1, u"Disk3", 2, u"two"), 0u);
    const uint32_t two = 2;
    EXPECT_EQ(Events(QV_EVENT_SELECT_NUMBER, &two), "3 4 400003E8 Disk3:2 two\n");
}

// What qvctl's choices never send is refused: an unknown failover action,
// an empty message, a trace level, event type or message code out of range.
TEST_F(SimDiagnostics, ValuesOutOfRangeAreRefused) {
    Start({}, "", kClusterInventory);
    ClusterInfo info;
    ASSERT_EQ(qvGetClusterInfo(handle_, info.Reset()), 0u);
    EXPECT_EQ(info.infoWord, 2u);  // the inventory's role: secondary
    const QV_CLUSTER_GROUP sql = Group(u"SQL");
    const uint32_t refused[] = {qvFailoverAction(handle_, &sql, 3),
                                qvClusterCommunication(handle_, u""), qvSetTraceLevel(handle_, 6),
                                qvWriteEventMessage(handle_, 3, 1, u"", 0, u"x"),
                                qvWriteEventMessage(handle_, 4, 10, u"", 0, u"x")};
    for (const uint32_t status : refused) EXPECT_EQ(Said(status), Said(kInvalid));
}

}  // namespace
}  // namespace simtest
