// The two-node cluster: GET_CLUSTER_INFO, GET_CLUSTER_GROUP_PHYSICAL_DISK_LIST,
// SET_CLUSTER_GROUP_INFO, REMOVE_CLUSTER_GROUP_INFO, FAILOVER_ACTION,
// CLUSTER_COMMUNICATION and PULL_INFORMATION.
//
// The nodes, groups and their physical disks come from the inventory's
// "cluster"; without one every procedure answers ClusterNotConfigured. A
// group is named by its name (ASCII case ignored); a tag, when the request
// gives one, must be the group's. What the service adds to the inventory's
// picture lives in the model: which node runs each group now, which disk
// holds the service's configuration of it, and the partner's messages.
//
// Fields of a group in GET_CLUSTER_INFO:
//   infoWord     1 this node is the primary of the service's pairing, 2 secondary
//   name1..3     the cluster, this node, the partner node
//   value1       the node that runs the group: 1 or 2, as the nodes are listed
//   value2       1 when this node runs it
//   value3       1 when the service is configured on one of its disks
//   value4       failovers since then
//   disk         the configured disk, else the group's first; diskValue1 is 1
//                for the configured disk, diskValue2 the node that runs it
//
// FAILOVER_ACTION codes: 1 moves the group to the other node, 2 brings it to
// this node (nothing to do when it runs here). PULL_INFORMATION kinds: 1 the
// cluster's state as text, 2 the partner's messages, one a line.
#include <string>

#include "families.h"
#include "quarvane.h"
#include "status.h"
#include "text.h"
#include "wire.h"

namespace qvsim {
namespace {

enum : uint32_t { kMoveToPartner = 1, kMoveHere = 2 };
enum : uint32_t { kPullState = 1, kPullMessages = 2 };

struct Found {
    const Cluster* cluster = nullptr;
    const ClusterGroup* group = nullptr;
};

uint32_t FindGroup(const Model& model, const RpcClusterGroupKey& key, Found& out) {
    out.cluster = model.inventory().cluster ? &*model.inventory().cluster : nullptr;
    if (out.cluster == nullptr) return status::kClusterNotConfigured;
    out.group = out.cluster->FindGroup(wire::Text(key.groupName));
    const std::u16string tag = wire::Text(key.groupTag);
    if (out.group == nullptr || (!tag.empty() && !SameName(tag, out.group->tag))) {
        return status::kClusterGroupNotFound;
    }
    return status::kOk;
}

void SetDisk(RpcClusterDisk& out, const ClusterDisk& disk, int32_t value1, int32_t value2) {
    wire::SetText(out.diskName, disk.name);
    out.diskId = disk.id;
    wire::SetText(out.diskText1, disk.text1);
    wire::SetText(out.diskText2, disk.text2);
    out.diskValue1 = value1;
    out.diskValue2 = value2;
}

bool IsConfigured(const GroupState& state, const ClusterDisk& disk) {
    return state.config && state.config->id == disk.id && SameName(state.config->name, disk.name);
}

void SetGroup(RpcClusterGroup& out, const Cluster& cluster, const ClusterGroup& group,
              const GroupState& state) {
    wire::SetText(out.key.groupName, group.name);
    wire::SetText(out.key.groupTag, group.tag);
    out.value1 = static_cast<int32_t>(state.owner + 1);
    out.value2 = state.owner == cluster.local ? 1 : 0;
    out.value3 = state.config ? 1 : 0;
    out.value4 = static_cast<int32_t>(state.failovers);
    const ClusterDisk& disk = state.config ? *state.config : group.disks.front();
    SetDisk(out.disk, disk, state.config ? 1 : 0, static_cast<int32_t>(state.owner + 1));
}

// Narrow text into a reply's char array, terminator counted.
void SetNarrow(RpcPullReply& res, const std::string& text) {
    char* out = wire::Allocate(res.data.data_len, res.data.data_val, text.size() + 1);
    text.copy(out, text.size());
}

std::string StateText(const Cluster& cluster, ClusterState& picture) {
    std::string out = "cluster " + ToUtf8(cluster.name) + "\n";
    for (uint32_t i = 0; i < 2; ++i) {
        out += "node " + ToUtf8(cluster.nodes[i]);
        if (i == cluster.local) out += cluster.primary ? " local primary" : " local secondary";
        if (i != cluster.local) out += cluster.partner_running ? " partner running" : " partner down";
        out += "\n";
    }
    for (const ClusterGroup& g : cluster.groups) {
        const GroupState& state = picture.Of(g);
        out += "group " + ToUtf8(g.name) + " on " + ToUtf8(cluster.nodes[state.owner]);
        if (state.config) out += " configured on " + ToUtf8(state.config->name);
        out += "\n";
    }
    return out;
}

}  // namespace

void RegisterCluster(Registry& registry, Service& service) {
    Model& model = service.model();

    registry.On<GET_CLUSTER_INFO>([&model](const RpcClusterInfoRequest&, RpcClusterInfo& res) {
        const auto& cluster = model.inventory().cluster;
        if (!cluster) {
            res.status = status::kClusterNotConfigured;
            return;
        }
        res.infoWord = cluster->primary ? 1 : 2;
        wire::SetText(res.name1, cluster->name);
        wire::SetText(res.name2, cluster->nodes[cluster->local]);
        wire::SetText(res.name3, cluster->nodes[1 - cluster->local]);
        RpcClusterGroup* out = wire::Allocate(res.groups.groups_len, res.groups.groups_val,
                                              cluster->groups.size());
        for (const ClusterGroup& g : cluster->groups) {
            SetGroup(*out++, *cluster, g, model.diagnostics().cluster.Of(g));
        }
    });

    registry.On<GET_CLUSTER_GROUP_PHYSICAL_DISK_LIST>(
        [&model](const RpcClusterGroupRequest& arg, RpcClusterDiskList& res) {
            Found found;
            res.status = FindGroup(model, arg.key, found);
            if (res.status != status::kOk) return;
            const GroupState& state = model.diagnostics().cluster.Of(*found.group);
            RpcClusterDisk* out = wire::Allocate(res.disks.disks_len, res.disks.disks_val,
                                                 found.group->disks.size());
            for (const ClusterDisk& d : found.group->disks) {
                SetDisk(*out++, d, IsConfigured(state, d) ? 1 : 0,
                        static_cast<int32_t>(state.owner + 1));
            }
        });

    // The service is configured on one of the group's disks, named by name
    // or, when the name is empty, by its id; the partner node is told too.
    registry.On<SET_CLUSTER_GROUP_INFO>(
        [&model](const RpcClusterGroupConfig& arg, RpcClusterReply& res) {
            Found found;
            res.status = FindGroup(model, arg.key, found);
            if (res.status != status::kOk) return;
            const std::u16string name = wire::Text(arg.disk.diskName);
            const ClusterDisk* disk = nullptr;
            for (const ClusterDisk& d : found.group->disks) {
                if (name.empty() ? d.id == arg.disk.diskId : SameName(d.name, name)) disk = &d;
            }
            if (disk == nullptr) {
                res.status = status::kConfigDiskNotFound;
                return;
            }
            if (!found.cluster->partner_running) {
                res.status = status::kPartnerNotNotifiedConfigure;
                return;
            }
            model.diagnostics().cluster.Of(*found.group).config = *disk;
            model.events().GroupConfigured(found.group->name, disk->name);
            model.MarkChanged();
        });

    registry.On<REMOVE_CLUSTER_GROUP_INFO>(
        [&model](const RpcClusterGroupRequest& arg, RpcClusterReply& res) {
            Found found;
            res.status = FindGroup(model, arg.key, found);
            if (res.status != status::kOk) return;
            GroupState& state = model.diagnostics().cluster.Of(*found.group);
            if (!state.config) {
                res.status = status::kConfigDiskNotFound;
                return;
            }
            if (!found.cluster->partner_running) {
                res.status = status::kPartnerNotNotifiedRemove;
                return;
            }
            state.config.reset();
            state.failovers = 0;
            model.MarkChanged();
        });

    registry.On<FAILOVER_ACTION>([&model](const RpcFailoverRequest& arg, RpcClusterReply& res) {
        Found found;
        res.status = FindGroup(model, arg.key, found);
        if (res.status != status::kOk) return;
        if (arg.action != kMoveToPartner && arg.action != kMoveHere) {
            res.status = status::kInvalidParameter;
            return;
        }
        const Cluster& cluster = *found.cluster;
        GroupState& state = model.diagnostics().cluster.Of(*found.group);
        const uint32_t to = arg.action == kMoveHere ? cluster.local : 1 - state.owner;
        if (to == state.owner) return;
        if (!cluster.partner_running) {
            res.status = status::kPartnerNotRunning;
            return;
        }
        model.events().Failover(found.group->name, cluster.nodes[state.owner], cluster.nodes[to]);
        state.owner = to;
        ++state.failovers;
        model.MarkChanged();
    });

    registry.On<CLUSTER_COMMUNICATION>([&model](const RpcClusterMessage& arg, RpcClusterReply& res) {
        if (!model.inventory().cluster) {
            res.status = status::kClusterNotConfigured;
            return;
        }
        std::u16string text = wire::Text(arg.text);
        if (text.empty()) {
            res.status = status::kInvalidParameter;
            return;
        }
        auto& messages = model.diagnostics().cluster.messages;
        if (messages.size() >= ClusterState::kMessageCapacity) messages.pop_front();
        messages.push_back(std::move(text));
        model.MarkChanged();
    });

    registry.On<PULL_INFORMATION>([&model](const RpcPullRequest& arg, RpcPullReply& res) {
        const auto& cluster = model.inventory().cluster;
        if (!cluster) {
            res.status = status::kClusterNotConfigured;
            return;
        }
        if (arg.infoKind == kPullState) {
            SetNarrow(res, StateText(*cluster, model.diagnostics().cluster));
        } else if (arg.infoKind == kPullMessages) {
            std::string text;
            for (const auto& m : model.diagnostics().cluster.messages) text += ToUtf8(m) + "\n";
            SetNarrow(res, text);
        } else {
            res.status = status::kInvalidParameter;
        }
    });
}

}  // namespace qvsim
