// The statistics of a group: its own state and figures, each member's full
// statistics (the mirror family's conversion), and the progress of a
// group-wide operation summed over the members.
#include <span>

#include "connection/shapes.h"
#include "connection/wire_list.h"
#include "mirrors/mirror_stat_conversion.h"
#include "mirrors/progress_conversion.h"
#include "platform/alloc.h"

// The query names the group, and with Kind 2 one object too. ReadRecord
// finds this through the request's type.
static bool FillRequest(RpcGroupStatQuery& arg, const QV_CONFIG_FILTER* filter) noexcept {
    arg.Kind = filter->Kind;
    if (filter->Kind == 2 &&
        !qv::FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, filter->Object)) {
        return false;
    }
    return qv::FillWString(arg.GroupName, filter->GroupName);
}

using namespace qv;

namespace {

// The group states that carry the progress of a long operation other than a
// verify, and for a group without members the one progress state in which
// the service's own figures count (0: never).
struct GroupProgressRule {
    uint32_t state;
    uint32_t kind;
    LongOperation operation;
    uint32_t figures_state;
};
constexpr GroupProgressRule kProgressRules[] = {
    {9, QV_PROGRESS_KIND_RESTORE, LongOperation::kRestore, 0},
    {11, QV_PROGRESS_KIND_ROLLBACK, LongOperation::kRollback, 2},
    {12, QV_PROGRESS_KIND_SNAPSHOT, LongOperation::kSnapshot, 1},
};
constexpr uint32_t kVerifyState = 10;

void ReleaseMemberStat(QV_GROUP_MEMBER_STAT& member) noexcept {
    Free(member.Name);
    member.Name = nullptr;
}

// A member without an object reads as an unnamed one, a member without
// statistics as all zero: neither array is read past what arrived.
uint32_t ConvertMemberStat(const RpcGroupMemberStat& in, QV_GROUP_MEMBER_STAT& out) noexcept {
    const auto objects = Received(in.Objects);
    out.Name = objects.empty() ? DupString(u"") : CopyWString(objects.front().name);
    if (out.Name == nullptr) return QV_STATUS_NO_MEMORY;
    if (!objects.empty()) out.Number = objects.front().number;
    const auto stats = Received(in.Stats);
    if (!stats.empty()) ConvertMirrorStats(stats.front(), out.Stat);
    return 0;
}

// The conditions that say nothing about a member being in trouble.
constexpr bool IsQuietCondition(uint32_t condition) noexcept {
    return condition == 0 || condition == 1 || condition == 3;
}

// The group's progress from its members' (sums wrap at 32 bits).
void SumMemberProgress(const RpcGroupStat& in, std::span<const QV_GROUP_MEMBER_STAT> members,
                       QV_GROUP_STAT& out) noexcept {
    if (out.State == kVerifyState) {
        out.ProgressKind = QV_PROGRESS_KIND_VERIFY;
        QV_VERIFY_PROGRESS& verify = out.Progress.Verify;
        for (const QV_GROUP_MEMBER_STAT& m : members) {
            verify.Amount1KiB += m.Stat.Progress.Verify.Amount1KiB;
            verify.Amount2KiB += m.Stat.Progress.Verify.Amount2KiB;
            verify.Amount3KiB += m.Stat.Progress.Verify.Amount3KiB;
        }
        return;
    }
    for (const GroupProgressRule& rule : kProgressRules) {
        if (rule.state != out.State) continue;
        out.ProgressKind = rule.kind;
        QV_PROGRESS& progress = out.Progress.Operation;
        progress.State = ProgressState(rule.operation, in.ProgressState);
        for (const QV_GROUP_MEMBER_STAT& m : members) {
            progress.DirtyData += m.Stat.Progress.Operation.DirtyData;
            progress.TotalDone += m.Stat.Progress.Operation.TotalDone;
        }
    }
}

// A group without members reports its progress in the reply's own figures,
// and only in one state of each operation.
void WireProgress(const RpcGroupStat& in, QV_GROUP_STAT& out) noexcept {
    for (const GroupProgressRule& rule : kProgressRules) {
        if (rule.state != out.State) continue;
        out.ProgressKind = rule.kind;
        QV_PROGRESS& progress = out.Progress.Operation;
        progress.State = ProgressState(rule.operation, in.ProgressState);
        if (rule.figures_state != 0 && progress.State == rule.figures_state) {
            progress.DirtyData = in.DirtyData;
            progress.TotalDone = in.TotalDone;
        }
    }
}

// Into a zeroed record; on failure no member stays allocated. Members the
// heap has no room for leave the group's own state and figures in place,
// without members or progress.
uint32_t ConvertGroupStat(const RpcGroupStat& in, QV_GROUP_STAT& out) noexcept {
    const auto walked = Walk(Received(in.Members), in.Count);
    if (!walked) return QV_STATUS_RPC_FAILED;
    out.State = MirrorState(in.State);
    out.Value1 = in.Value1;
    out.Value2 = in.Value2;
    out.Value3 = in.Value3;
    out.Value4 = in.Value4;
    const uint32_t status =
        ConvertEntries<ReleaseMemberStat>(*walked, ConvertMemberStat, out.Members, out.MemberCount);
    if (status != 0) return status;

    const std::span<const QV_GROUP_MEMBER_STAT> members(out.Members, out.MemberCount);
    for (const QV_GROUP_MEMBER_STAT& m : members) {
        if (!IsQuietCondition(m.Stat.Condition)) {
            out.Condition = m.Stat.Condition;
            break;
        }
    }
    if (members.empty()) {
        WireProgress(in, out);
    } else {
        SumMemberProgress(in, members, out);
    }
    return 0;
}

}  // namespace

extern "C" QV_STATUS qvGetGroupStat(QV_HANDLE handle, const QV_CONFIG_FILTER* filter,
                                    QV_GROUP_STAT* stat) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (filter == nullptr || filter->GroupName == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return ReadRecord<GET_GROUP_STAT>(rows::qvGetGroupStat, handle, stat, ConvertGroupStat, filter);
}

extern "C" QV_STATUS qvFreeGroupStat(QV_GROUP_STAT** stat, uint32_t keepHeader) {
    return ReleaseList<&QV_GROUP_STAT::MemberCount, &QV_GROUP_STAT::Members>(stat, keepHeader,
                                                                             ReleaseMemberStat);
}
