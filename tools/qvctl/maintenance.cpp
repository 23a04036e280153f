// qvctl partition alloc | expand | relocate, notifications, disk bench |
// throughput | conflicts: the layout of disks, the service's notifications
// and the maintenance figures of a disk.
#include <array>
#include <iostream>

#include "qvctl.h"

namespace qvctl {
namespace {

struct LayoutArgs {
    std::string object;
    uint32_t value = 0;
    uint32_t params[4] = {0, 0, 0, 0};
};

void AddPartition(CLI::App& app, Commands& commands) {
    CLI::App* partition =
        app.add_subcommand("partition", "Allocate, expand or relocate partitions");
    partition->require_subcommand(1);

    auto alloc = std::make_shared<LayoutArgs>();
    CLI::App* a = partition->add_subcommand("alloc", "Allocate a partition on a disk");
    AddObjectArg(a, "DISK", alloc->object, "The disk")->required();
    a->add_option("--size", alloc->params[0], "The size in MiB; 0 takes the largest free space");
    a->add_option("--fs", alloc->params[1], "The file system: 0 raw, 1 NTFS, 2 FAT32, 3 ReFS");
    a->add_option("--param3", alloc->params[2], "Passed to the service");
    a->add_option("--param4", alloc->params[3], "Passed to the service");
    commands.Add(a, [alloc](const Globals& g) {
        const Object object = ObjectArg(alloc->object);
        Session session(g);
        const QV_PARTITION_REQUEST request{{object.name.c_str(), object.number},
                                           alloc->params[0],
                                           alloc->params[1],
                                           alloc->params[2],
                                           alloc->params[3]};
        Check(qvAllocPartitionForDisk(session.handle(), &request),
              "allocate a partition on " + object.text);
        Done(g, "partition alloc", object.text, "Partition allocated on " + object.text + ".");
    });

    using Start = QV_STATUS (*)(QV_HANDLE, const QV_WCHAR*, uint32_t, uint32_t);
    const struct {
        const char* name;
        const char* help;
        const char* value_help;
        Start start;
        const char* verb;
    } layout[] = {
        {"expand", "Expand a partition into the free space after it", "The MiB to add",
         qvExpandDisk, "expansion"},
        {"relocate", "Move a partition to another offset", "The new offset in MiB",
         qvRelocatePartition, "relocation"},
    };
    for (const auto& l : layout) {
        auto args = std::make_shared<LayoutArgs>();
        CLI::App* sub = partition->add_subcommand(l.name, l.help);
        AddObjectArg(sub, "PARTITION", args->object, "The partition")->required();
        sub->add_option("VALUE", args->value, l.value_help)->required();
        const std::string name = l.name;
        const std::string verb = l.verb;
        commands.Add(sub, [args, start = l.start, name, verb](const Globals& g) {
            const Object object = ObjectArg(args->object);
            Session session(g);
            Check(start(session.handle(), object.name.c_str(), object.number, args->value),
                  "start the " + verb + " of " + object.text);
            Done(g, "partition " + name, object.text,
                 "The " + verb + " of " + object.text + " started.");
        });
    }
}

void AddNotifications(CLI::App& app, Commands& commands) {
    auto params = std::make_shared<std::array<uint32_t, 3>>();
    CLI::App* n = app.add_subcommand("notifications", "Read the service's notifications");
    n->add_option("--kind", (*params)[0], "Only this kind (0 every kind)");
    n->add_option("--from", (*params)[1], "From this sequence number on");
    n->add_option("--max", (*params)[2], "At most this many (0 no limit)");
    commands.Add(n, [params](const Globals& g) {
        Session session(g);
        QV_NOTIFICATION_LIST list{};
        Check(qvGetNotifications(session.handle(), (*params)[0], (*params)[1], (*params)[2], &list),
              "read the notifications");
        json all = json::array();
        Table table({"SEQ", "KIND", "TEXT"});
        table.AlignRight(0);
        for (uint32_t i = 0; i < list.Count; ++i) {
            const QV_NOTIFICATION& e = list.Entries[i];
            all.push_back({{"sequence", e.Value3},
                           {"kind", e.Value1},
                           {"value2", e.Value2},
                           {"text", JsonText(e.Text)}});
            table.Add(
                {std::to_string(e.Value3), std::to_string(e.Value1), ToUtf8(e.Text).value_or("")});
        }
        qvFreeNotifications(&list);
        if (g.json) {
            PrintJson(all);
        } else {
            table.Print();
        }
    });
}

void AddDisk(CLI::App& app, Commands& commands) {
    CLI::App* disk = app.add_subcommand("disk", "Benchmark a disk, measure it, check conflicts");
    disk->require_subcommand(1);

    auto bench = std::make_shared<std::string>();
    CLI::App* b = disk->add_subcommand("bench", "Have the service benchmark a disk");
    AddObjectArg(b, "OBJECT", *bench, "The disk or partition")->required();
    commands.Add(b, [bench](const Globals& g) {
        const Object object = ObjectArg(*bench);
        Session session(g);
        Check(qvBenchMarkDisk(session.handle(), object.name.c_str(), object.number),
              "benchmark " + object.text);
        Done(g, "disk bench", object.text, "Benchmark of " + object.text + " done.");
    });

    auto throughput = std::make_shared<std::string>();
    CLI::App* t = disk->add_subcommand("throughput", "Measure a disk's throughput");
    AddObjectArg(t, "OBJECT", *throughput, "The disk or partition")->required();
    commands.Add(t, [throughput](const Globals& g) {
        const Object object = ObjectArg(*throughput);
        Session session(g);
        uint32_t value = 0;
        Check(qvTestDiskThroughput(session.handle(), object.name.c_str(), object.number, &value),
              "measure the throughput of " + object.text);
        if (g.json) {
            PrintJson({{"object", object.text}, {"throughput", value}});
        } else {
            PrintFields(
                {{"Object", object.text}, {"Throughput", std::to_string(value) + " MiB/s"}});
        }
    });

    auto conflicts = std::make_shared<std::array<std::string, 2>>();
    CLI::App* c =
        disk->add_subcommand("conflicts", "What a restore of PRIMARY from SOURCE disturbs");
    AddObjectArg(c, "PRIMARY", (*conflicts)[0], "The disk or partition restored")->required();
    AddObjectArg(c, "SOURCE", (*conflicts)[1], "Where its data comes from")->required();
    commands.Add(c, [conflicts](const Globals& g) {
        const Object first = ObjectArg((*conflicts)[0]);
        const Object second = ObjectArg((*conflicts)[1]);
        Session session(g);
        const QV_CONFLICT_QUERY query{
            0, {first.name.c_str(), first.number}, {second.name.c_str(), second.number}, nullptr};
        QV_CONFLICT_LIST list{};
        Check(qvCheckRestoreConflict(session.handle(), &query, &list),
              "check the conflicts of a restore of " + first.text);
        json all = json::array();
        Table table({"OBJECT", "VALUE"});
        for (uint32_t i = 0; i < list.Count; ++i) {
            const QV_CONFLICT& e = list.Entries[i];
            const std::string name = ObjectText(e.Name, e.Number);
            all.push_back({{"object", name}, {"value", e.Value}});
            table.Add({name, std::to_string(e.Value)});
        }
        QV_CONFLICT_LIST* p = &list;
        qvFreeConflictList(&p, 1);
        if (g.json) {
            PrintJson(all);
        } else {
            table.Print();
        }
    });
}

}  // namespace

void AddMaintenanceCommands(CLI::App& app, Commands& commands) {
    AddPartition(app, commands);
    AddNotifications(app, commands);
    AddDisk(app, commands);
}

}  // namespace qvctl
