// qvctl cluster info | disks | set-group | remove-group | failover |
// message | pull: the two-node cluster as the service pictures it, and what
// a caller may ask of its cluster support.
#include <iostream>
#include <memory>

#include "qvctl.h"

namespace qvctl {
namespace {

using ClusterInfo = Held<QV_CLUSTER_INFO, qvFreeClusterInfo>;
using ClusterDisks = Held<QV_CLUSTER_DISK_LIST, qvFreePhysicalDiskList>;

// A group's row also carries the cluster's names, for the JSON form and -o.
struct ClusterGroupRecord {
    const QV_CLUSTER_INFO* cluster;
    const QV_CLUSTER_GROUP* group;
};

// The node a group runs on: the service numbers the two nodes 1 and 2, the
// first being this machine's name when it is node 1.
const Fields<ClusterGroupRecord>& ClusterGroupFields() {
    using R = ClusterGroupRecord;
    static const Fields<R> fields = {
        {"group", "GROUP", Unit::kText, [](const R& r) { return Text(r.group->groupName); }},
        {"tag", "TAG", Unit::kText, [](const R& r) { return Text(r.group->groupTag); }, kDetail},
        {"node", "NODE", Unit::kCount,
         [](const R& r) -> Value { return int64_t{r.group->value1}; }},
        {"here", "HERE", Unit::kFlag, [](const R& r) -> Value { return r.group->value2 != 0; }},
        {"configured", "CONFIGURED", Unit::kFlag,
         [](const R& r) -> Value { return r.group->value3 != 0; }},
        {"failovers", "FAILOVERS", Unit::kCount,
         [](const R& r) -> Value { return int64_t{r.group->value4}; }},
        {"disk", "DISK", Unit::kText, [](const R& r) { return Text(r.group->disk.diskName); }},
        {"disk_id", "DISK ID", Unit::kCount,
         [](const R& r) -> Value { return uint64_t{r.group->disk.diskId}; }, kDetail},
        {"cluster", "CLUSTER", Unit::kText, [](const R& r) { return Text(r.cluster->name1); },
         kDetail},
        {"local_node", "LOCAL NODE", Unit::kText,
         [](const R& r) { return Text(r.cluster->name2); }, kDetail},
        {"partner_node", "PARTNER NODE", Unit::kText,
         [](const R& r) { return Text(r.cluster->name3); }, kDetail},
        {"info_word", "INFO", Unit::kCount,
         [](const R& r) -> Value { return uint64_t{r.cluster->infoWord}; }, kDetail},
    };
    return fields;
}

const Fields<QV_CLUSTER_DISK>& ClusterDiskFields() {
    using R = QV_CLUSTER_DISK;
    static const Fields<R> fields = {
        {"disk", "DISK", Unit::kText, [](const R& d) { return Text(d.diskName); }},
        {"id", "ID", Unit::kCount, [](const R& d) -> Value { return uint64_t{d.diskId}; }},
        {"text1", "TEXT1", Unit::kText, [](const R& d) { return Text(d.diskText1); }},
        {"text2", "TEXT2", Unit::kText, [](const R& d) { return Text(d.diskText2); }},
        {"value1", "VALUE1", Unit::kCount,
         [](const R& d) -> Value { return int64_t{d.diskValue1}; }},
        {"value2", "VALUE2", Unit::kCount,
         [](const R& d) -> Value { return int64_t{d.diskValue2}; }},
    };
    return fields;
}

// Copies a command-line text into a record's fixed array; a text that does
// not fit is a usage error rather than a different name.
template <std::size_t N>
void Put(QV_WCHAR (&out)[N], const std::string& text, const char* what) {
    const std::u16string units = ToUtf16(text);
    if (units.size() >= N) {
        throw UsageError(std::string(what) + " is longer than " + std::to_string(N - 1) +
                         " UTF-16 units");
    }
    units.copy(out, units.size());
    out[units.size()] = 0;
}

struct ClusterGroupArgs {
    std::string group;
    std::string tag;
    std::string disk;
    uint32_t disk_id = 0;
    std::string text1;
    std::string text2;
    std::string action = "to-partner";
    bool yes = false;

    QV_CLUSTER_GROUP Group() const {
        QV_CLUSTER_GROUP g{};
        Put(g.groupName, group, "the group name");
        Put(g.groupTag, tag, "the tag");
        Put(g.disk.diskName, disk, "the disk name");
        g.disk.diskId = disk_id;
        Put(g.disk.diskText1, text1, "--text1");
        Put(g.disk.diskText2, text2, "--text2");
        return g;
    }
};

CLI::App* ClusterGroupCommand(CLI::App* cluster, const char* name, const char* help, ClusterGroupArgs& args) {
    CLI::App* sub = cluster->add_subcommand(name, help);
    sub->add_option("GROUP", args.group, "The cluster group's name")->required();
    sub->add_option("--tag", args.tag, "The group's tag, when the name is not enough");
    return sub;
}

constexpr Choice kActions[] = {
    {"to-partner", 1, "move the group to the other node"},
    {"here", 2, "bring the group to this node"},
};

constexpr Choice kPullKinds[] = {
    {"state", 1, "the cluster's state as text"},
    {"messages", 2, "the messages the partner node sent"},
};

void Info(const Globals& globals) {
    Session session(globals);
    ClusterInfo cluster;
    Check(qvGetClusterInfo(session.handle(), &cluster.value), "read the cluster information");
    std::vector<ClusterGroupRecord> rows;
    for (uint32_t i = 0; i < cluster.value.groupCount; ++i) {
        rows.push_back({&cluster.value, &cluster.value.groups[i]});
    }
    if (!globals.json && !globals.scripted && globals.columns.empty()) {
        std::cout << "Cluster " << ToUtf8(cluster.value.name1).value_or("") << ", this node "
                  << ToUtf8(cluster.value.name2).value_or("") << ", partner "
                  << ToUtf8(cluster.value.name3).value_or("") << "\n";
    }
    PrintList(globals, ClusterGroupFields(), rows.begin(), rows.end());
}

}  // namespace

void AddClusterCommands(CLI::App& app, Commands& commands) {
    CLI::App* cluster =
        app.add_subcommand("cluster", "The two-node cluster: groups, their disks and failover");
    cluster->require_subcommand(1);

    CLI::App* info = cluster->add_subcommand("info", "Show the cluster and its groups");
    commands.Add(info, [](const Globals& globals) { Info(globals); });

    auto disks = std::make_shared<ClusterGroupArgs>();
    CLI::App* d = ClusterGroupCommand(cluster, "disks", "List the physical disks of a group", *disks);
    commands.Add(d, [disks](const Globals& globals) {
        const QV_CLUSTER_GROUP group = disks->Group();
        Session session(globals);
        ClusterDisks list;
        Check(qvGetClusterGroupPhysicalDiskList(session.handle(), &group, &list.value),
              "list the physical disks of " + disks->group);
        PrintList(globals, ClusterDiskFields(), list.value.disks, list.value.disks + list.value.count);
    });

    auto set = std::make_shared<ClusterGroupArgs>();
    CLI::App* s = ClusterGroupCommand(cluster, "set-group",
                               "Configure the service on one of a group's physical disks", *set);
    s->add_option("--disk", set->disk, "The physical disk's name")->required();
    s->add_option("--disk-id", set->disk_id, "The physical disk's id");
    s->add_option("--text1", set->text1, "The disk's first text");
    s->add_option("--text2", set->text2, "The disk's second text");
    commands.Add(s, [set](const Globals& globals) {
        const QV_CLUSTER_GROUP group = set->Group();
        Session session(globals);
        Check(qvSetClusterGroupInfo(session.handle(), &group), "configure group " + set->group);
        Done(globals, "cluster set-group", set->group,
             "Group " + set->group + " configured on " + set->disk + ".");
    });

    auto remove = std::make_shared<ClusterGroupArgs>();
    CLI::App* r = ClusterGroupCommand(cluster, "remove-group",
                               "Remove the service's configuration of a group", *remove);
    AddYes(r, remove->yes);
    commands.Add(r, [remove](const Globals& globals) {
        const QV_CLUSTER_GROUP group = remove->Group();
        Confirm(remove->yes, "Remove the configuration of cluster group " + remove->group + "?");
        Session session(globals);
        Check(qvRemoveClusterGroupInfo(session.handle(), &group),
              "remove the configuration of group " + remove->group);
        Done(globals, "cluster remove-group", remove->group,
             "Configuration of group " + remove->group + " removed.");
    });

    auto failover = std::make_shared<ClusterGroupArgs>();
    CLI::App* f = ClusterGroupCommand(cluster, "failover", "Move a group between the nodes", *failover);
    AddChoice(f, "--action", failover->action, kActions, "What to do")->capture_default_str();
    AddYes(f, failover->yes);
    commands.Add(f, [failover](const Globals& globals) {
        const QV_CLUSTER_GROUP group = failover->Group();
        Confirm(failover->yes, "Fail over cluster group " + failover->group + "?");
        Session session(globals);
        Check(qvFailoverAction(session.handle(), &group, ChoiceValue(kActions, failover->action)),
              "fail over group " + failover->group);
        Done(globals, "cluster failover", failover->group,
             "Group " + failover->group + " failed over (" + failover->action + ").");
    });

    auto message = std::make_shared<std::string>();
    CLI::App* m = cluster->add_subcommand("message", "Pass a text to the cluster communication");
    m->add_option("TEXT", *message, "The text")->required();
    commands.Add(m, [message](const Globals& globals) {
        const std::u16string text = ToUtf16(*message);
        Session session(globals);
        Check(qvClusterCommunication(session.handle(), text.c_str()), "send the message");
        Done(globals, "cluster message", "", "Message sent.");
    });

    auto kind = std::make_shared<std::string>("state");
    CLI::App* p = cluster->add_subcommand("pull", "Fetch a block of information text");
    AddChoice(p, "--kind", *kind, kPullKinds, "Which information")->capture_default_str();
    commands.Add(p, [kind](const Globals& globals) {
        Session session(globals);
        QV_PULL_INFO info{};
        Check(qvPullInformation(session.handle(), ChoiceValue(kPullKinds, *kind), &info),
              "pull information");
        const std::string text = info.text != nullptr ? info.text : "";
        qvFreeMemory(info.text);
        if (globals.json) {
            PrintJson({{"kind", *kind}, {"length", info.length}, {"text", text}});
        } else {
            std::cout << text;
            if (!text.empty() && text.back() != '\n') std::cout << '\n';
        }
    });
}

}  // namespace qvctl
