// qvctl partition alloc | expand | relocate, notifications, disk bench |
// throughput | conflicts: the layout of disks, the service's notifications
// and the maintenance figures of a disk.
#include <array>

#include "qvctl.h"

namespace qvctl {
namespace {


struct LayoutArgs {
    std::string object;
    uint32_t value = 0;
    std::array<uint32_t, 4> params{};
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
        const auto& p = alloc->params;
        const QV_PARTITION_REQUEST request{
            {object.name.c_str(), object.number}, p[0], p[1], p[2], p[3]};
        Check(qvAllocPartitionForDisk(session.handle(), &request),
              "allocate a partition on " + object.text);
        Done(g, "partition alloc", object.text, "Partition allocated on " + object.text + ".");
    });

    // Started by the call and carried out by the service; nothing reports
    // how far they are.
    using Start = QV_STATUS (*)(QV_HANDLE, const QV_WCHAR*, uint32_t, uint32_t);
    const struct {
        const char* name;
        const char* help;
        const char* value_help;
        Start start;
        const char* noun;
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
        commands.Add(sub, [args, start = l.start, name = std::string(l.name),
                           noun = std::string(l.noun)](const Globals& g) {
            const Object object = ObjectArg(args->object);
            Session session(g);
            Check(start(session.handle(), object.name.c_str(), object.number, args->value),
                  "start the " + noun + " of " + object.text);
            Done(g, "partition " + name, object.text,
                 "The " + noun + " of " + object.text + " started.");
        });
    }
}

const Fields<QV_NOTIFICATION>& NotificationFields() {
    using N = QV_NOTIFICATION;
    static const Fields<N> fields = {
        {"sequence", "SEQ", Unit::kCount, [](const N& n) -> Value { return uint64_t{n.Value3}; }},
        {"kind", "KIND", Unit::kCount, [](const N& n) -> Value { return uint64_t{n.Value1}; }},
        {"text", "TEXT", Unit::kText, [](const N& n) { return Text(n.Text); }},
        {"value2", "VALUE2", Unit::kCount, [](const N& n) -> Value { return uint64_t{n.Value2}; },
         kDetail},
    };
    return fields;
}

void AddNotifications(CLI::App& app, Commands& commands) {
    auto params = std::make_shared<std::array<uint32_t, 3>>();
    CLI::App* n = app.add_subcommand("notifications", "Read the service's notifications");
    n->add_option("--kind", (*params)[0],
                  "Only this kind: 1 snapshot taken, 2 sync finished, 3 verify failed");
    n->add_option("--from", (*params)[1], "From this sequence number on");
    n->add_option("--max", (*params)[2], "At most this many (0 no limit)");
    commands.Add(n, [params](const Globals& g) {
        Session session(g);
        QV_NOTIFICATION_LIST list{};
        const auto& p = *params;
        Check(qvGetNotifications(session.handle(), p[0], p[1], p[2], &list),
              "read the notifications");
        const QV_NOTIFICATION* begin = list.Entries;
        PrintList(g, NotificationFields(), begin, begin == nullptr ? begin : begin + list.Count);
        qvFreeNotifications(&list);
    });
}

struct ThroughputRecord {
    std::string object;
    uint32_t mib_per_second;
};

const Fields<ThroughputRecord>& ThroughputFields() {
    using R = ThroughputRecord;
    static const Fields<R> fields = {
        {"object", "OBJECT", Unit::kText, [](const R& r) -> Value { return r.object; }},
        {"throughput", "THROUGHPUT", Unit::kRate,
         [](const R& r) -> Value { return r.mib_per_second * kMiB; }},
    };
    return fields;
}

const Fields<QV_CONFLICT>& ConflictFields() {
    using C = QV_CONFLICT;
    static const Fields<C> fields = {
        {"object", "OBJECT", Unit::kText,
         [](const C& c) -> Value { return ObjectText(c.Name, c.Number); }},
        {"value", "VALUE", Unit::kCount, [](const C& c) -> Value { return uint64_t{c.Value}; }},
    };
    return fields;
}

const ObjectCommand kDiskCommands[] = {
    {"bench", "Have the service benchmark a disk or partition", qvBenchMarkDisk, "benchmark {}",
     "Benchmark of {} done."},
};

void AddDisk(CLI::App& app, Commands& commands) {
    CLI::App* disk = app.add_subcommand("disk", "Benchmark a disk, measure it, check conflicts");
    disk->require_subcommand(1);
    AddObjectCommands(*disk, commands, kDiskCommands);

    auto throughput = std::make_shared<std::string>();
    CLI::App* t = disk->add_subcommand("throughput", "Measure a disk's throughput");
    AddObjectArg(t, "OBJECT", *throughput, "The disk or partition")->required();
    commands.Add(t, [throughput](const Globals& g) {
        const Object object = ObjectArg(*throughput);
        Session session(g);
        ThroughputRecord r{object.text, 0};
        Check(qvTestDiskThroughput(session.handle(), object.name.c_str(), object.number,
                                   &r.mib_per_second),
              "measure the throughput of " + object.text);
        PrintOne(g, ThroughputFields(), r);
    });

    auto pair = std::make_shared<std::array<std::string, 2>>();
    CLI::App* c =
        disk->add_subcommand("conflicts", "What a restore of PRIMARY from SOURCE would disturb");
    AddObjectArg(c, "PRIMARY", (*pair)[0], "The disk or partition restored")->required();
    AddObjectArg(c, "SOURCE", (*pair)[1], "Where its data comes from")->required();
    commands.Add(c, [pair](const Globals& g) {
        const Object first = ObjectArg((*pair)[0]);
        const Object second = ObjectArg((*pair)[1]);
        Session session(g);
        const QV_CONFLICT_QUERY query{
            0, {first.name.c_str(), first.number}, {second.name.c_str(), second.number}, nullptr};
        QV_CONFLICT_LIST list{};
        Check(qvCheckRestoreConflict(session.handle(), &query, &list),
              "check what a restore of " + first.text + " would disturb");
        const QV_CONFLICT* begin = list.Entries;
        PrintList(g, ConflictFields(), begin, begin == nullptr ? begin : begin + list.Count);
        QV_CONFLICT_LIST* p = &list;
        qvFreeConflictList(&p, 1);
    });
}

}  // namespace

void AddMaintenanceCommands(CLI::App& app, Commands& commands) {
    AddPartition(app, commands);
    AddNotifications(app, commands);
    AddDisk(app, commands);
}

}  // namespace qvctl
