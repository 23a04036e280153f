// Protection groups: what the group fill sends, the three readings of the
// configuration filter, the list's members under their group's settings,
// the statistics' condition and summed progress, and the requests and lines
// particular to the group operations. The rules every function shares run
// over the table of functions.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "mirrors/mirror_test_support.h"
#include "platform/alloc.h"
#include "support/sample_replies.h"

using qvtest::Count;
using qvtest::kAll;
using qvtest::Text;

namespace {

using Groups = qvtest::ConnectedTest;
const QV_OBJECT_ID kMember{u"Harddisk1", 2};
const QV_CONFIG_FILTER kG1{0, u"G1", {}};

// Create and change: token first, the group's own settings, the mirror kind
// reduced in the record but not in the schedule, the switch as 0 or 1; never
// Text0, Setting7, the spares or members.
TEST_F(Groups, TheGroupFillSendsTheGroupsOwnFields) {
    const struct {
        uint32_t kind, kind_sent, switch2, switch2_sent;
        const char16_t* text;
    } rows[] = {{2, 2, 0, 0, u"text"}, {3, 0, 5, 1, nullptr}, {0xFFFFFFFF, 0, 1, 1, u""}};
    for (const bool create : {true, false}) {
        for (const auto& r : rows) {
            SCOPED_TRACE(::testing::Message() << create << " kind " << r.kind);
            const QV_SNAPSHOT_SCHEDULE schedule{3, 301, 302, 303, 304, 305, 306};
            const QV_GROUP_CONFIG config{u"G1", r.text, r.kind, schedule, -2, -3,     r.switch2,
                                         11,    4,      7,      8,        0,  nullptr};
            ASSERT_EQ(create ? qvCreateGroup(handle, &config) : qvChangeGroupConfig(handle, &config),
                      0u);
            const auto req = create ? svc.Last<CREATE_GROUP>() : svc.Last<CHANGE_GROUP_CONFIG>();
            EXPECT_EQ(std::tuple(req->token, req->Reserved, Text(req->GroupName), Count(req->Text0)),
                      std::tuple(kToken, 0u, std::u16string(u"G1"), 0u));
            EXPECT_EQ(std::tuple(req->MirrorKind, req->Switch2, req->Setting2, req->Setting3,
                                 req->Setting4, req->Setting8, req->GroupSetting1),
                      std::tuple(r.kind_sent, r.switch2_sent, -2, -3, 4u, 8u, 11u));
            EXPECT_EQ(std::tuple(req->Setting7, req->Spare1, req->Spare2, req->Members.Members_len),
                      std::tuple(0u, 0u, 0u, 0u));
            EXPECT_EQ(Count(req->Text), r.text == nullptr ? 0u : std::u16string(r.text).size() + 1);
            ASSERT_EQ(req->Schedules.Schedules_len, 1u);
            const RpcSnapshotSchedule& s = req->Schedules.Schedules_val[0];
            EXPECT_EQ(std::tuple(s.GroupParam, s.Mode, s.Param1, s.Param6),
                      std::tuple(r.kind, 3u, 301u, 306u));
        }
    }
}

// The filter read two ways: the group list's (1 and 4 refused, the object
// with 2 only, an optional name) and the statistics' (nothing refused, the
// object with 2 only, the name required).
TEST_F(Groups, EachListReadsTheFilterItsOwnWay) {
    const struct {
        uint32_t kind;
        const char16_t* name;
        QV_STATUS groups, stat;
        bool object;
    } rows[] = {
        {0, nullptr, 0, QV_STATUS_INVALID_PARAMETER, false},
        {1, u"G1", QV_STATUS_INVALID_PARAMETER, 0, false},
        {2, u"G1", 0, 0, true},
        {3, u"G1", 0, 0, false},
        {4, u"", QV_STATUS_INVALID_PARAMETER, 0, false},
        {255, u"G1", 0, 0, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.kind);
        const QV_CONFIG_FILTER filter{r.kind, r.name, kMember};
        QV_GROUP_CONFIG_LIST groups{7, nullptr};
        QV_GROUP_STAT stat{};
        svc.ClearRecord();
        EXPECT_EQ(qvGetGroupConfigList(handle, &filter, &groups), r.groups);
        EXPECT_EQ(groups.Count, 0u);
        EXPECT_EQ(qvGetGroupStat(handle, &filter, &stat), r.stat);
        if (r.groups == 0) {
            const auto req = svc.Last<GET_GROUP_CONFIG_LIST>();
            EXPECT_EQ(req->Objects.Objects_len, r.object ? 1u : 0u);
            // A null name goes as no units, any other with its terminator.
            EXPECT_EQ(Count(req->Name), r.name == nullptr ? 0u : std::u16string(r.name).size() + 1);
        }
        if (r.stat == 0) {
            const auto req = svc.Last<GET_GROUP_STAT>();
            EXPECT_EQ(std::tuple(req->Kind, Text(req->GroupName), req->token),
                      std::tuple(r.kind, std::u16string(r.name), kToken));
            EXPECT_EQ(req->Objects.Objects_len, r.object ? 1u : 0u);
        }
    }
}

// The members carry their group's Setting2, 3, 4, 7, 8 and Switch2 and keep
// the rest; a group's own fields read back as the service holds them; a
// group without a member list or a schedule has none.
TEST_F(Groups, MembersCarryTheirGroupsSettings) {
    svc.AnswerRaw(GET_GROUP_CONFIG_LIST, qvtest::SampleReply(GET_GROUP_CONFIG_LIST));
    QV_GROUP_CONFIG_LIST list{};
    ASSERT_EQ(qvGetGroupConfigList(handle, &kAll, &list), 0u);
    ASSERT_EQ(list.Count, 3u);
    const QV_GROUP_CONFIG& g = list.Entries[0];
    EXPECT_EQ(std::tuple(std::u16string(g.Name), std::u16string(g.Text), g.MirrorKind, g.Switch2,
                         g.Schedule.Mode, g.Setting7, g.GroupSetting1),
              std::tuple(std::u16string(u"Group1"), std::u16string(u"group text"), 7u, 5u, 7u,
                         77u, 11u));
    ASSERT_EQ(g.MemberCount, 2u);
    for (const QV_MIRROR_CONFIG& m : std::span(g.Members, g.MemberCount)) {
        EXPECT_EQ(std::tuple(m.Setting2, m.Setting3, m.Setting4, m.Setting7, m.Setting8, m.Switch2),
                  std::tuple(-22, -33, 44u, 77u, 88u, 5u));
        EXPECT_EQ(std::tuple(m.Setting1, m.Setting5, m.Switch1), std::tuple(-1, 5u, 0x21u));
    }
    EXPECT_EQ(std::u16string(g.Members[1].Primary.name), u"Harddisk2");
    for (const QV_GROUP_CONFIG& bare : std::span(list.Entries + 1, 2)) {
        EXPECT_EQ(std::tuple(bare.MemberCount, bare.Members), std::tuple(0u, nullptr));
    }
    EXPECT_EQ(list.Entries[1].Text, nullptr);
    EXPECT_EQ(list.Entries[1].Schedule.Mode, 0u);

    // A kept header is left empty.
    QV_GROUP_CONFIG_LIST* held = qvtest::ReleaseKept(qvFreeGroupConfigList, list);
    EXPECT_EQ(std::tuple(held, list.Count, list.Entries), std::tuple(&list, 0u, nullptr));
}

// No count is trusted, at either level; a member that cannot be read fails
// the list, which stays empty.
TEST_F(Groups, ListCountsAreCheckedAtEveryLevel) {
    const struct {
        const char* what;
        void (*edit)(RpcGroupConfigList&);
    } rows[] = {
        {"groups", [](RpcGroupConfigList& l) { l.Count = l.Groups.Groups_len + 1; }},
        {"members",
         [](RpcGroupConfigList& l) { l.Groups.Groups_val[0].Members.Members_val[0].Count = 3; }},
        {"a member without a primary",
         [](RpcGroupConfigList& l) {
             l.Groups.Groups_val[0].Members.Members_val[0].Configs.Configs_val[1].Primaries = {};
         }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        // The edit works on copies of the first group's arrays, leaving the
        // decoded sample whole.
        std::vector<RpcGroupConfig> groups;
        std::vector<RpcMirrorConfigList> lists;
        std::vector<RpcMirrorConfig> configs;
        const auto copy = [](auto& field, auto& into) {
            auto& [len, val] = field;
            into.assign(val, val + len);
            val = into.data();
        };
        svc.AnswerRaw(GET_GROUP_CONFIG_LIST,
                      qvtest::EditReply<GET_GROUP_CONFIG_LIST>(
                          qvtest::SampleReply(GET_GROUP_CONFIG_LIST), [&](RpcGroupConfigList& l) {
                              copy(l.Groups, groups);
                              copy(groups[0].Members, lists);
                              copy(lists[0].Configs, configs);
                              r.edit(l);
                          }));
            QV_GROUP_CONFIG_LIST list{};
        EXPECT_EQ(qvGetGroupConfigList(handle, &kAll, &list), QV_STATUS_RPC_FAILED);
        EXPECT_EQ(std::tuple(list.Count, list.Entries), std::tuple(0u, nullptr));
    }
}

// A group's statistics: members with the wire condition and state given,
// each carrying a snapshot and a rollback progress of its own figures.
struct GroupStatReply {
    struct Member {
        uint32_t condition, state, dirty, done;
    };
    GroupStatReply(uint32_t state, uint32_t progress_state, std::vector<Member> members)
        : stats(members.size()), progress(members.size()), entries(members.size()) {
        record.State = state;
        record.ProgressState = progress_state;
        record.DirtyData = 1000;
        record.TotalDone = 2000;
        record.Count = static_cast<u_int>(members.size());
        record.Members = {record.Count, entries.data()};
        for (std::size_t i = 0; i < members.size(); ++i) {
            stats[i].State = members[i].state;
            stats[i].Condition = members[i].condition;
            progress[i] = {0, 1, 0, members[i].dirty, members[i].done};
            stats[i].SnapshotProgress = {1, &progress[i]};
            stats[i].RollbackProgress = {1, &progress[i]};
            entries[i].Stats = {1, &stats[i]};
        }
    }
    RpcGroupStat record{};
    std::vector<RpcMirrorStats> stats;
    std::vector<RpcProgress> progress;
    std::vector<RpcGroupMemberStat> entries;
};

// Short of memory part-way, the list keeps the groups converted so far and
// the statistics their group's own state and figures; neither writes a line.
TEST_F(Groups, ShortOfMemoryKeepsWhatWasConverted) {
    QV_GROUP_CONFIG_LIST list{};
    svc.AnswerRaw(GET_GROUP_CONFIG_LIST, qvtest::SampleReply(GET_GROUP_CONFIG_LIST));
    qv::alloc_fault::Reset();
    ASSERT_EQ(qvGetGroupConfigList(handle, &kAll, &list), 0u);
    const unsigned last = qv::alloc_fault::Count();  // the last group's name or text
    const int32_t own_setting2 = list.Entries[0].Members[0].Setting2;
    qvtest::ReleaseKept(qvFreeGroupConfigList, list);
    qv::alloc_fault::FailAt(last);
    EXPECT_EQ(qvGetGroupConfigList(handle, &kAll, &list), QV_STATUS_NO_MEMORY);
    qv::alloc_fault::Reset();
    ASSERT_EQ(list.Count, 3u);
    EXPECT_EQ(std::tuple(std::u16string(list.Entries[1].Name), list.Entries[0].MemberCount),
              std::tuple(std::u16string(u"Group2"), 2u));
    // The group settings reach the members only when every group is in.
    EXPECT_NE(list.Entries[0].Members[0].Setting2, own_setting2);
    qvtest::ReleaseKept(qvFreeGroupConfigList, list);

    const GroupStatReply reply(12, 3, {{5, 12, 10, 1}, {0, 12, 20, 2}});
    svc.Answer<GET_GROUP_STAT>(reply.record);
    QV_GROUP_STAT stat;
    qv::alloc_fault::Reset();
    ASSERT_EQ(qvGetGroupStat(handle, &kG1, &stat), 0u);
    const unsigned block = qv::alloc_fault::Count() - 2;  // the members, then their names
    qvtest::ReleaseKept(qvFreeGroupStat, stat);
    for (const unsigned at : {block, block + 2}) {
        qv::alloc_fault::FailAt(at);
        EXPECT_EQ(qvGetGroupStat(handle, &kG1, &stat), QV_STATUS_NO_MEMORY) << at;
        qv::alloc_fault::Reset();
        EXPECT_EQ(std::tuple(stat.State, stat.Condition, stat.ProgressKind, stat.MemberCount,
                             stat.Members),
                  std::tuple(12u, 0u, 0u, 0u, nullptr))
            << at;
    }
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(Groups, StatisticsSumTheMembersProgress) {
    const struct {
        const char* what;
        GroupStatReply reply;
        uint32_t condition, kind, state, dirty, done;
    } rows[] = {
        {"the first condition that tells of trouble", {14, 0, {{1, 1, 0, 0}, {4, 1, 0, 0}, {6, 1, 0, 0}}},
         5, 0, 0, 0, 0},
        {"quiet conditions", {14, 0, {{0, 1, 0, 0}, {1, 1, 0, 0}, {2, 1, 0, 0}}}, 0, 0, 0, 0, 0},
        {"snapshot sums", {12, 3, {{0, 12, 10, 1}, {0, 12, 20, 2}}}, 0, 4, 3, 30, 3},
        {"sums wrap", {11, 5, {{0, 11, 0xFFFFFFF0u, 0}, {0, 11, 0x20, 0}}}, 0, 3, 5, 0x10, 0},
        {"a state outside the operation's range", {12, 5, {{0, 12, 10, 1}}}, 0, 4, 0, 10, 1},
        {"no members, snapshot running", {12, 1, {}}, 0, 4, 1, 1000, 2000},
        {"no members, snapshot done", {12, 2, {}}, 0, 4, 2, 0, 0},
        {"no members, rollback at 2", {11, 2, {}}, 0, 3, 2, 1000, 2000},
        {"no members, rollback at 4", {11, 4, {}}, 0, 3, 4, 0, 0},
        {"no members, restoring", {9, 3, {}}, 0, 2, 3, 0, 0},
        {"no members, verifying", {10, 1, {}}, 0, 0, 0, 0, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        svc.Answer<GET_GROUP_STAT>(r.reply.record);
        QV_GROUP_STAT stat;
        ASSERT_EQ(qvGetGroupStat(handle, &kG1, &stat), 0u);
        const QV_PROGRESS& p = stat.Progress.Operation;
        EXPECT_EQ(std::tuple(stat.Condition, stat.ProgressKind, p.State, p.DirtyData, p.TotalDone),
                  std::tuple(r.condition, r.kind, r.state, r.dirty, r.done));
        EXPECT_EQ(stat.MemberCount, r.reply.record.Count);
        qvtest::ReleaseKept(qvFreeGroupStat, stat);
    }
}

// A verify sums only the three amounts of the members' verify progress;
// the group's own figures are read under their own names.
TEST_F(Groups, AVerifySumsOnlyTheAmounts) {
    RpcVerifyProgress verify{0, 2, 0, 3 << 10, 5 << 10, 7 << 10, 9, 1, 2, 3, 4, 5, 6};
    RpcMirrorStats member{};
    member.State = 10;
    member.VerifyProgress = {1, &verify};
    RpcGroupMemberStat entries[2] = {{{}, {1, &member}}, {{}, {1, &member}}};
    RpcGroupStat reply{};
    reply.State = 10;
    reply.ProgressState = 2;
    reply.Count = 2;
    reply.Members = {2, entries};
    std::tie(reply.Value1, reply.Value2, reply.Value3, reply.Value4) = std::tuple(1, 2, 3, 4);
    svc.Answer<GET_GROUP_STAT>(reply);
    QV_GROUP_STAT stat;
    ASSERT_EQ(qvGetGroupStat(handle, &kG1, &stat), 0u);
    const QV_VERIFY_PROGRESS& v = stat.Progress.Verify;
    EXPECT_EQ(std::tuple(stat.ProgressKind, v.State, v.Amount1KiB, v.Amount2KiB, v.Amount3KiB,
                         v.Value1, v.Count),
              std::tuple(1u, 0u, 6u, 10u, 14u, 0u, uint64_t{0}));
    EXPECT_EQ(std::tuple(stat.State, stat.Value1, stat.Value2, stat.Value3, stat.Value4),
              std::tuple(10u, 1u, 2u, 3u, 4u));
    // A member sent without its object reads as an unnamed one.
    EXPECT_EQ(std::tuple(std::u16string(stat.Members[0].Name), stat.Members[0].Number),
              std::tuple(std::u16string(), 0u));
    qvtest::ReleaseKept(qvFreeGroupStat, stat);
}

// The snapshot sends its option as given and no object or text; the
// rollback sends no owner kind and refuses 0; a set of members goes with
// its count, an empty one as one set of none (the members themselves, in
// order, are run against quarvane-sim by qvctl's group case).
TEST_F(Groups, OperationsSendWhatIsParticularToThem) {
    const QV_GROUP_REF group{u"G1"};
    const QV_SNAPSHOT_REQUEST take{&group, 7};
    ASSERT_EQ(qvTakeGroupSnapshot(handle, &take), 0u);
    const auto snap = svc.Last<TAKE_GROUP_SNAPSHOT>();
    EXPECT_EQ(std::tuple(Text(snap->GroupName), snap->Option, snap->Objects.Objects_len,
                         Count(snap->Text), snap->token),
              std::tuple(std::u16string(u"G1"), 7u, 0u, 0u, kToken));

    std::vector<qvtest::Bytes> sent;
    for (const uint32_t kind : {1u, 9u}) {
        ASSERT_EQ(qvRollbackGroup(handle, kind, &group, 42), 0u);
        sent.push_back(svc.LastBytes(ROLLBACK_GROUP));
    }
    EXPECT_EQ(sent[0], sent[1]);
    EXPECT_EQ(svc.Last<ROLLBACK_GROUP>()->SnapshotId, 42u);
    svc.ClearRecord();
    EXPECT_EQ(qvRollbackGroup(handle, 0, &group, 42), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(svc.TotalCalls(), 0u);

    const QV_OBJECT_ID* members[] = {&kMember, &kMember};
    for (const uint32_t count : {0u, 2u}) {
        ASSERT_EQ(qvAddGroupMembers(handle, u"G1", count, members), 0u);
        const auto req = svc.Last<ADD_GROUP_MEMBERS>();
        ASSERT_EQ(req->MemberSets.MemberSets_len, 1u);
        const RpcObjectSet& set = req->MemberSets.MemberSets_val[0];
        EXPECT_EQ(std::tuple(set.status, set.Count, set.Objects.Objects_len),
                  std::tuple(0u, count, count));
    }
}

}  // namespace
