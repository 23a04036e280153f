// qvctl disks: the disks and partitions the service sees.
#include <iostream>

#include "qvctl.h"

namespace qvctl {
namespace {

// A disk list whose entries are given back when it goes.
struct DiskList {
    QV_DISK_LIST list{};
    DiskList() = default;
    ~DiskList() {
        QV_DISK_LIST* header = &list;
        qvFreeDiskList(&header, 1);
    }
    DiskList(const DiskList&) = delete;
    DiskList& operator=(const DiskList&) = delete;
};

json DiskJson(const QV_DISK_INFO& d) {
    const QV_DISK_PROPERTIES& p = d.Properties;
    const QV_DISK_DESCRIPTOR& s = d.Descriptor;
    return {
        {"object",
         d.DiskName != nullptr ? json(ObjectText(d.DiskName, d.PartitionNumber)) : json(nullptr)},
        {"disk_name", JsonText(d.DiskName)},
        {"partition_number", d.PartitionNumber},
        {"disk_number", d.DiskNumber},
        {"disk_marked", d.DiskMarked},
        {"display_name", JsonText(d.DisplayName)},
        {"attribute", d.Attribute},
        {"disk_attribute1", d.DiskAttribute1},
        {"disk_attribute2", d.DiskAttribute2},
        {"high_flag", d.HighFlag},
        {"disk_attribute3", d.DiskAttribute3},
        {"partition_attribute", d.PartitionAttribute},
        {"partition_type", d.PartitionType},
        {"disk_text1", JsonText(d.DiskText1)},
        {"disk_text2", JsonText(d.DiskText2)},
        {"letters", JsonText(d.Letters)},
        {"label", JsonText(d.Label)},
        {"size", d.Size},
        {"used_size", d.UsedSize},
        {"measure", d.Measure},
        {"disk_attribute4", d.DiskAttribute4},
        {"properties",
         {{"value0", p.Value0},
          {"value1", p.Value1},
          {"value2", p.Value2},
          {"value3", p.Value3},
          {"value4", p.Value4},
          {"value5", p.Value5},
          {"mode", p.Mode},
          {"text1", JsonText(p.Text1)},
          {"text2", JsonText(p.Text2)}}},
        {"descriptor",
         {{"text1", JsonText(s.Text1)},
          {"text2", JsonText(s.Text2)},
          {"text3", JsonText(s.Text3)},
          {"text4", JsonText(s.Text4)},
          {"value", s.Value},
          {"value64", s.Value64}}},
    };
}

struct ListOptions {
    uint32_t kind = 3;
    std::string object;
    bool refresh = false;
};

void List(const Globals& globals, const ListOptions& options) {
    std::optional<Object> object;
    if (!options.object.empty()) object = ObjectArg(options.object);
    if ((options.kind == 7 || options.kind == 8) && !object) {
        throw UsageError("--kind " + std::to_string(options.kind) + " needs --object");
    }
    QV_OBJECT_ID id{};
    if (object) id = QV_OBJECT_ID{object->name.c_str(), object->number};
    const QV_DISK_FILTER filter{options.kind, 0, options.refresh ? 1u : 0u, object ? &id : nullptr};

    Session session(globals);
    DiskList disks;
    Check(qvGetDiskList(session.handle(), &filter, &disks.list), "list disks");
    const QV_DISK_INFO* begin = disks.list.Entries;
    const QV_DISK_INFO* end = begin == nullptr ? begin : begin + disks.list.Count;

    if (globals.json) {
        json out = json::array();
        for (const QV_DISK_INFO* d = begin; d != end; ++d) out.push_back(DiskJson(*d));
        PrintJson(out);
        return;
    }
    Table table({"OBJECT", "DISPLAY NAME", "SIZE", "USED"});
    table.AlignRight(2);
    table.AlignRight(3);
    for (const QV_DISK_INFO* d = begin; d != end; ++d) {
        const std::string name =
            d->DiskName != nullptr ? ObjectText(d->DiskName, d->PartitionNumber) : std::string("-");
        std::string display = ToUtf8(d->DisplayName).value_or("-");
        if (d->PartitionNumber == 0 && d->PartitionType == 0x42) display += " (dynamic)";
        table.Add(
            {name, display, SizeText(d->Size, d->Measure), SizeText(d->UsedSize, d->Measure)});
    }
    table.Print();
}

}  // namespace

void AddDiskCommands(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<ListOptions>();
    CLI::App* disks = app.add_subcommand("disks", "List the disks and partitions the service sees");
    disks
        ->add_option("--kind", options->kind,
                     "Which list: 1 what the service does not exclude; 3, 4 or 255 every disk "
                     "followed by its partitions; 5 or 6 disks only; 7 the partitions the "
                     "service lists about --object (disks when it names a whole disk); 8 the "
                     "one disk or partition --object names")
        ->check(CLI::IsMember({1, 3, 4, 5, 6, 7, 8, 255}))
        ->capture_default_str();
    AddObjectArg(disks, "--object", options->object,
                 "The disk or partition kinds 7 and 8 are about");
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
