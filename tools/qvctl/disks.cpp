// qvctl disks: the disks and partitions the service sees.
//
// The fields beyond names and sizes mean what the service's disk records
// carry (see tools/quarvane-sim/disks.cpp for the stand-in's model).
#include "qvctl.h"

namespace qvctl {
namespace {

using D = QV_DISK_INFO;

using DiskList = Held<QV_DISK_LIST, qvFreeDiskList>;

constexpr uint32_t kDynamicType = 0x42;

Value Count(uint64_t n) { return n; }

// A field only a partition entry (or only a disk entry) has.
template <class Get>
auto OnlyFor(bool partition, Get get) {
    return [partition, get](const D& d) -> Value {
        if ((d.PartitionNumber != 0) != partition) return {};
        return get(d);
    };
}

Value Role(const D& d) {
    const bool primary = (d.Attribute & 1) != 0;
    const bool mirror = (d.Attribute & 2) != 0;
    if (primary && mirror) return std::string("primary+mirror");
    if (primary || mirror) return std::string(primary ? "primary" : "mirror");
    return {};
}

// The lists the service offers; the library's kinds 7 and 8 are about
// an object.
constexpr Choice kKinds[] = {
    {"all", 3, "every disk, each followed by its partitions (the default)"},
    {"primaries", 1, "what can be protected"},
    {"mirror-disks", 4, "disks that can hold a mirror, with their partitions"},
    {"disks", 5, "disks only"},
    {"whole-mirrors", 6, "disks that can be a whole-disk mirror"},
    {"candidates", 7, "what can mirror --object"},
    {"object", 8, "the one disk or partition --object names"},
    {"everything", 255, "every disk, offline ones included"},
};

struct ListOptions {
    std::string kind = "all";
    std::string object;
    bool refresh = false;
};

void List(const Globals& globals, const ListOptions& options) {
    const uint32_t kind = ChoiceValue(kKinds, options.kind);
    std::optional<Object> object;
    if (!options.object.empty()) object = ObjectArg(options.object);
    if ((kind == 7 || kind == 8) && !object) {
        throw UsageError("--kind " + options.kind + " needs --object");
    }
    QV_OBJECT_ID id{};
    if (object) id = QV_OBJECT_ID{object->name.c_str(), object->number};
    const QV_DISK_FILTER filter{kind, 0, options.refresh ? 1u : 0u, object ? &id : nullptr};

    Session session(globals);
    DiskList disks;
    Check(qvGetDiskList(session.handle(), &filter, &disks.value), "list disks");
    const D* begin = disks.value.Entries;
    const D* end = begin == nullptr ? begin : begin + disks.value.Count;
    PrintList(globals, DiskFields(), begin, end);
}

}  // namespace

const Fields<QV_DISK_INFO>& DiskFields() {
    using D = QV_DISK_INFO;
    static const Fields<D> fields = {
        {"object", "OBJECT", Unit::kText,
         [](const D& d) -> Value {
             if (d.DiskName == nullptr) return {};
             return ObjectText(d.DiskName, d.PartitionNumber);
         }},
        {"name", "DISPLAY NAME", Unit::kText,
         [](const D& d) -> Value {
             Value v = Text(d.DisplayName);
             if (d.PartitionNumber == 0 && d.PartitionType == kDynamicType) {
                 if (auto* s = std::get_if<std::string>(&v)) *s += " (dynamic)";
             }
             return v;
         }},
        {"size", "SIZE", Unit::kBytes, [](const D& d) { return Count(d.Size * d.Measure); }},
        {"used", "USED", Unit::kBytes, [](const D& d) { return Count(d.UsedSize * d.Measure); }},
        {"role", "ROLE", Unit::kText, Role},
        {"letters", "LETTERS", Unit::kText, [](const D& d) { return Text(d.Letters); }, kDetail},
        {"label", "LABEL", Unit::kText, [](const D& d) { return Text(d.Label); }, kDetail},
        {"disk_number", "DISK NUMBER", Unit::kCount, [](const D& d) { return Count(d.DiskNumber); },
         kDetail},
        {"partition", "PARTITION", Unit::kCount,
         [](const D& d) { return Count(d.PartitionNumber); }, kDetail},
        {"type", "PARTITION TYPE", Unit::kText,
         OnlyFor(true,
                 [](const D& d) -> Value {
                     char text[8];
                     std::snprintf(text, sizeof text, "0x%02X", d.PartitionType & 0xFFu);
                     return std::string(text);
                 }),
         kDetail},
        {"file_system", "FILE SYSTEM", Unit::kText,
         OnlyFor(true,
                 [](const D& d) -> Value {
                     static constexpr const char* kNames[] = {"raw", "ntfs", "fat32", "refs"};
                     if (d.PartitionAttribute < 4) return std::string(kNames[d.PartitionAttribute]);
                     return "fs-" + std::to_string(d.PartitionAttribute);
                 }),
         kDetail},
        {"dynamic", "DYNAMIC", Unit::kFlag,
         [](const D& d) -> Value { return d.PartitionType == kDynamicType; }, kDetail},
        {"system", "SYSTEM DISK", Unit::kFlag, [](const D& d) -> Value { return d.HighFlag != 0; },
         kDetail},
        {"style", "STYLE", Unit::kText,
         [](const D& d) -> Value { return std::string(d.DiskAttribute4 == 1 ? "gpt" : "mbr"); },
         kDetail},
        {"bus_type", "BUS TYPE", Unit::kCount,
         [](const D& d) { return Count(static_cast<uint32_t>(d.DiskAttribute1)); }, kDetail},
        {"sector_size", "SECTOR SIZE", Unit::kBytes,
         [](const D& d) { return Count(static_cast<uint32_t>(d.DiskAttribute2)); }, kDetail},
        {"protections", "PROTECTIONS", Unit::kCount,
         OnlyFor(false, [](const D& d) { return Count(static_cast<uint32_t>(d.DiskAttribute3)); }),
         kDetail},
        {"has_partitions", "HAS PARTITIONS", Unit::kFlag,
         OnlyFor(false, [](const D& d) -> Value { return d.DiskMarked != 0; }), kDetail},
        {"model", "MODEL", Unit::kText, [](const D& d) { return Text(d.DiskText1); }, kDetail},
        {"serial", "SERIAL", Unit::kText, [](const D& d) { return Text(d.DiskText2); }, kDetail},
        {"online", "ONLINE", Unit::kFlag,
         [](const D& d) -> Value {
             if (d.Properties.Mode == 0) return {};
             return d.Properties.Mode == 1;
         },
         kDetail},
        {"cylinders", "CYLINDERS", Unit::kCount,
         [](const D& d) { return Count(d.Properties.Value4); }, kDetail},
        {"tracks_per_cylinder", "TRACKS PER CYLINDER", Unit::kCount,
         [](const D& d) { return Count(d.Properties.Value3); }, kDetail},
        {"sectors_per_track", "SECTORS PER TRACK", Unit::kCount,
         [](const D& d) { return Count(d.Properties.Value2); }, kDetail},
        {"adapter", "ADAPTER", Unit::kText, [](const D& d) { return Text(d.Properties.Text1); },
         kDetail},
        {"location", "LOCATION", Unit::kText, [](const D& d) { return Text(d.Properties.Text2); },
         kDetail},
        {"vendor", "VENDOR", Unit::kText, [](const D& d) { return Text(d.Descriptor.Text1); },
         kDetail},
        {"product", "PRODUCT", Unit::kText, [](const D& d) { return Text(d.Descriptor.Text2); },
         kDetail},
        {"revision", "REVISION", Unit::kText, [](const D& d) { return Text(d.Descriptor.Text3); },
         kDetail},
        {"capacity", "CAPACITY", Unit::kBytes,
         [](const D& d) {
             return Count(static_cast<uint64_t>(std::max<int64_t>(0, d.Descriptor.Value64)));
         },
         kDetail},
    };
    return fields;
}

void AddDiskCommands(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<ListOptions>();
    CLI::App* disks = app.add_subcommand("disks", "List the disks and partitions the service sees");
    AddChoice(disks, "--kind", options->kind, kKinds, "Which list")->capture_default_str();
    AddObjectArg(disks, "--object", options->object,
                 "The disk or partition that --kind candidates and object are about");
    disks->add_flag("--refresh", options->refresh, "Have the service rescan its disks first");
    commands.Add(disks, [options](const Globals& g) { List(g, *options); });

    CLI::App* refresh = disks->add_subcommand("refresh", "Have the service rescan its disks");
    commands.Add(refresh, [](const Globals& g) {
        Session session(g);
        Check(qvRefreshDiskList(session.handle()), "refresh the disk list");
        Done(g, "refresh", "", "Disk list refreshed.");
    });
}

}  // namespace qvctl
