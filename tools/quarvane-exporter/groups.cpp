// Protection groups: each group's members from the group configuration
// list, and the protection families summed over them. The members' own
// readings are those of the protections, read once for both.
#include <unordered_map>

#include "held.h"
#include "subjects.h"

namespace qvexp {

void ReadGroups(QV_HANDLE handle, Reading& reading) {
    qvtools::Held<QV_GROUP_CONFIG_LIST, qvFreeGroupConfigList> list;
    const QV_CONFIG_FILTER all{0, nullptr, {nullptr, 0}};
    const QV_STATUS status = qvGetGroupConfigList(handle, &all, &list.value);
    Check(status);
    if (status != QV_STATUS_SUCCESS) return;
    reading.groups.reserve(list.value.Count);
    for (uint32_t i = 0; i < list.value.Count; ++i) {
        const QV_GROUP_CONFIG& g = list.value.Entries[i];
        GroupReading group{ToUtf8(g.Name), {}};
        for (uint32_t m = 0; g.Members != nullptr && m < g.MemberCount; ++m) {
            group.members.push_back(
                ObjectText(g.Members[m].Primary.name, g.Members[m].Primary.number));
        }
        reading.groups.push_back(std::move(group));
    }
}

void WriteGroups(const Reading& reading, Exposition& out) {
    std::unordered_map<std::string_view, const ProtectionReading*> by_primary;
    for (const ProtectionReading& p : reading.protections) by_primary.emplace(p.primary, &p);

    out.Family("quarvane_group_members", "Protections in the group.", Type::kGauge);
    for (const GroupReading& g : reading.groups) {
        out.Sample({{"group", g.name}}, uint64_t{g.members.size()});
    }
    out.Family("quarvane_group_member_info", "A protection of the group.", Type::kGauge);
    for (const GroupReading& g : reading.groups) {
        for (const std::string& m : g.members)
            out.Sample({{"group", g.name}, {"primary", m}}, uint64_t{1});
    }
    // A member removed between the two lists has no reading: it adds nothing.
    Subjects groups{"quarvane_group_", " Summed over the group's members.", {}};
    for (const GroupReading& g : reading.groups) {
        Subject s{"group", g.name, {}};
        for (const std::string& m : g.members) {
            if (const auto p = by_primary.find(m); p != by_primary.end())
                s.members.push_back(p->second);
        }
        groups.list.push_back(std::move(s));
    }
    WriteSubjects(groups, out);
}

}  // namespace qvexp
