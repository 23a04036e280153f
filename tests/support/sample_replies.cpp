#include "support/sample_replies.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "proc_table.h"

// Records name only the fields a sample sets; every other field is zero.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace qvtest {
namespace {

std::u16string Numbered(std::u16string_view stem, std::size_t n) {
    std::u16string out(stem);
    const std::string digits = std::to_string(n);
    out.append(digits.begin(), digits.end());
    return out;
}

// ---------------------------------------------------------------------------
// Disks

// A partition; an empty letters or label text is not sent at all.
RpcPartitionRecord Partition(Arena& a, u_int number, std::u16string_view letters,
                             std::u16string_view label) {
    return {.Number = number,
            .Attribute = static_cast<int>(0x10 + number),
            .Type = 0x07,
            .Letters = letters.empty() ? RpcWString{} : a.Text(letters),
            .Label = label.empty() ? RpcWString{} : a.Text(label),
            .Extra1 = 11,
            .Size = 20480 * number,
            .Measure = 512,
            .Extra2 = 12,
            .UsedSize = 1024 * number,
            .Attribute2 = 0x200 + number};
}

RpcDiskProperties Properties(Arena& a, u_int mode_mask) {
    return {100, 101, 102, 103, 104, mode_mask, 106, a.Text(u"Vendor"), a.Text(u"Model 7")};
}

// Its second text is sent but empty, its fourth not sent.
RpcDiskDescriptor Descriptor(Arena& a) {
    return {a.Text(u"SCSI"),
            a.Text(u""),
            a.Text(u"Port 2, Target 0"),
            {},
            77,
            static_cast<RpcHyper>(-0x123456789ABCLL)};
}

RpcDiskRecord Disk(Arena& a, u_int number, std::u16string_view name,
                   std::vector<RpcPartitionRecord> partitions) {
    RpcDiskRecord d{.Number = number,
                    .Flags = 0x80000001u,
                    .Attribute = -1,
                    .Attribute1 = 2,
                    .Attribute2 = -3,
                    .Attribute3 = 4,
                    .Name = a.Text(name),
                    .Marker = static_cast<u_int>(partitions.size()),
                    .Size = 976762,
                    .Measure = 1024,
                    .Attribute4 = 5,
                    .Text0 = a.Text(u"zero"),
                    .Text1 = a.Text(u"Bus 0"),
                    .Text2 = a.Text(u"Online")};
    a.Put(d.Partitions, std::move(partitions));
    return d;
}

std::vector<RpcDiskList> Samples(Arena& a, std::type_identity<RpcDiskList>) {
    std::vector<RpcDiskRecord> disks;

    // A basic disk: letters and labels in every combination, properties and
    // a descriptor, one partition the service excludes.
    RpcDiskRecord basic = Disk(a, 0, u"Harddisk0",
                               {Partition(a, 1, u"C:", u"System"), Partition(a, 2, u"D:E:", u""),
                                Partition(a, 3, u"", u"Recovery"), Partition(a, 4, u"", u"")});
    basic.Partitions.Partitions_val[1].Label = a.Text(u"");  // sent, but empty
    basic.Partitions.Partitions_val[2].Excluded = 1;
    basic.Partitions.Partitions_val[3].UsedSize = 0xFFFFFFFF;  // the disk's sum needs 64 bits
    a.Put(basic.Properties, std::vector{Properties(a, 0x2)});
    a.Put(basic.Descriptors, std::vector{Descriptor(a)});
    disks.push_back(basic);

    // A dynamic disk: one 0x42 partition hides all of them.
    std::vector<RpcPartitionRecord> dynamic_parts{Partition(a, 1, u"F:", u"Data"),
                                                  Partition(a, 2, u"G:", u"Logs")};
    dynamic_parts[1].Type = 0x42;
    RpcDiskRecord dynamic = Disk(a, 1, u"Harddisk1", std::move(dynamic_parts));
    a.Put(dynamic.Properties, std::vector{Properties(a, 0x5), Properties(a, 0x4)});
    disks.push_back(dynamic);

    // A disk the service excludes, shown with a negative number; its
    // properties ask for the third mode.
    RpcDiskRecord excluded = Disk(a, 0xFFFFFFFEu, u"Harddisk2", {Partition(a, 1, u"H:", u"")});
    excluded.Excluded = 1;
    excluded.DiskEntryExcluded = 1;
    excluded.Flags = 0;
    a.Put(excluded.Properties, std::vector{Properties(a, 0x4)});
    disks.push_back(excluded);

    // A bare disk: an empty name, no texts, no partitions.
    RpcDiskRecord bare{};
    bare.Number = 3;
    bare.Name = a.Text(u"");
    bare.DiskEntryExcluded = 1;
    disks.push_back(bare);

    // A disk whose own entry the service excludes, but not its partitions
    // but one; the first has letters and no label at all.
    RpcDiskRecord listed_parts =
        Disk(a, 4, u"Harddisk4", {Partition(a, 1, u"F:", u""), Partition(a, 5, u"", u"")});
    listed_parts.DiskEntryExcluded = 1;
    listed_parts.Partitions.Partitions_val[1].Excluded = 1;
    disks.push_back(listed_parts);

    RpcDiskList full{};
    full.DiskCount = static_cast<u_int>(disks.size());
    a.Put(full.Disks, disks);

    // The count walks only the first two of the records that arrived.
    RpcDiskList shorter = full;
    shorter.DiskCount = 2;

    return {full, shorter, RpcDiskList{}};
}

// ---------------------------------------------------------------------------
// Mirror configuration

RpcObjectRef Ref(Arena& a, std::u16string_view name, u_int number) {
    return {.name = a.Text(name), .number = number};
}

// The spares are set: they are never read.
RpcSnapshotSchedule Schedule(u_int mode, u_int base) {
    return {1, 2, mode, base + 1, 3, 4, -5, base + 2, base + 3, base + 4, base + 5, base + 6};
}

// Every value distinct, so that a field read under another's name shows.
// The record's copy of the schedule mode differs from the schedule's own,
// which is the one read.
RpcMirrorConfig Config(Arena& a, std::u16string_view primary, std::u16string_view mirror,
                       u_int number, u_int mirror_kind, u_int schedule_mode) {
    RpcMirrorConfig c{.Setting1 = -1,
                      .Setting2 = 2,
                      .Setting3 = -3,
                      .MirrorKind = mirror_kind,
                      .ScheduleMode = schedule_mode + 1,
                      .Text1 = a.Text(u"first"),
                      .Text2 = a.Text(u"second"),
                      .Text3 = a.Text(u"third"),
                      .EnableOption1 = 1,
                      .Setting7 = 7,
                      .Setting12 = 12,
                      .Setting8 = 8,
                      .Switch2 = 0x22,
                      .Setting4 = 4,
                      .Switch1 = 0x21,
                      .Setting5 = 5,
                      .Setting6 = 6,
                      .Limit = 4096,
                      .Setting10 = 10,
                      .Setting11 = 11,
                      .Setting13 = 13,
                      .Setting14 = 14,
                      .Setting9 = 9,
                      .Text4 = a.Text(u"fourth")};
    a.Put(c.Primaries, std::vector{Ref(a, primary, number)});
    a.Put(c.Mirrors, std::vector{Ref(a, mirror, number)});
    a.Put(c.Schedules, std::vector{Schedule(schedule_mode, 100 * number)});
    return c;
}

// A list record whose count states every one of `entries`.
template <typename List, auto kEntries, typename Entry>
List Counted(std::vector<Entry> entries, Arena& a) {
    List list{};
    list.Count = static_cast<u_int>(entries.size());
    a.Put(list.*kEntries, std::move(entries));
    return list;
}

RpcMirrorConfigList ConfigList(std::vector<RpcMirrorConfig> configs, Arena& a) {
    return Counted<RpcMirrorConfigList, &RpcMirrorConfigList::Configs>(std::move(configs), a);
}

std::vector<RpcMirrorConfigList> Samples(Arena& a, std::type_identity<RpcMirrorConfigList>) {
    std::vector<RpcMirrorConfig> configs;
    configs.push_back(Config(a, u"Harddisk0", u"Harddisk1", 1, 1, 2));

    // Texts: one empty but present, the others without units; no limit; a
    // schedule mode and a mirror kind that read back as 0.
    RpcMirrorConfig sparse = Config(a, u"Harddisk2", u"Harddisk3", 2, 7, 9);
    sparse.Text1 = a.Text(u"");
    sparse.Text2 = RpcWString{};
    sparse.Text3 = RpcWString{};
    sparse.Text4 = RpcWString{};
    sparse.Limit = 0;
    configs.push_back(sparse);

    // More elements than are read: only the first of each counts.
    RpcMirrorConfig extra = Config(a, u"Harddisk4", u"Harddisk5", 3, 2, 3);
    a.Put(extra.Primaries, std::vector{Ref(a, u"Harddisk4", 3), Ref(a, u"Harddisk6", 1)});
    a.Put(extra.Schedules, std::vector{Schedule(3, 300), Schedule(1, 900)});
    configs.push_back(extra);

    RpcMirrorConfigList full = ConfigList(configs, a);
    RpcMirrorConfigList shorter = full;
    shorter.Count = 1;
    return {full, shorter, RpcMirrorConfigList{}};
}

// ---------------------------------------------------------------------------
// Statistics and progress

RpcIoCounters Io(RpcHyper base) {
    return RpcIoCounters{base * 1024 + 17, base * 2048, base + 1, base + 2, base + 3};
}

// Inside statistics a progress record's status word is not read: it is set
// there, to show that it stays unread.
RpcProgress Progress(u_int state, u_int base, u_int status = 0) {
    return RpcProgress{status, state, base + 1, base + 2, base + 3};
}

// Amounts of 5 GiB and one cut to the low 32 bits of its KiB.
RpcVerifyProgress Verify(u_int state) {
    return {0, state, 1, 5LL << 30, 123456789, 0x7FFFFFFFFFFLL, 99, 1, 2, 3, 4, 5, 6 << 10};
}

std::vector<RpcMirrorStats> Samples(Arena& a, std::type_identity<RpcMirrorStats>) {
    RpcMirrorStats s{.State = 9,  // restoring
                     .Unread1 = 1,
                     .Condition = 8,
                     .Amount1 = 1LL << 40,
                     .Amount2 = 3000};
    a.Put(s.Io1, std::vector{Io(10), Io(11)});
    a.Put(s.Io2, std::vector{Io(20)});
    a.Put(s.Io3, std::vector{Io(30)});
    a.Put(s.Io4, std::vector{Io(40)});
    std::tie(s.Value1, s.Value2, s.Value3, s.Value4, s.Value5, s.Value6) =
        std::tuple(1, 2, 3, 4, 5, 6);
    std::tie(s.Divisor1, s.Divisor2) = std::tuple(3, 7);
    a.Put(s.VerifyProgress, std::vector{Verify(2)});
    a.Put(s.SnapshotProgress, std::vector{Progress(4, 40, 0x6FFC0001)});
    a.Put(s.RollbackProgress, std::vector{Progress(5, 50, 0x6FFC0001), Progress(1, 0)});
    a.Put(s.RestoreProgress, std::vector{Progress(3, 30, 0x6FFC0001)});

    std::vector<RpcMirrorStats> out{s};
    // Each of the other progress kinds, then a state without progress.
    for (const u_int state : {10u, 11u, 12u, 1u, 14u}) {
        RpcMirrorStats other = s;
        other.State = state;
        other.Condition = state % 10;
        out.push_back(other);
    }
    // Restoring, but the service sent no progress record and no divisors.
    RpcMirrorStats bare = s;
    bare.RestoreProgress = {};
    bare.Divisor1 = 0;
    bare.Divisor2 = 0;
    bare.Io2 = {};
    out.push_back(bare);
    return out;
}

std::vector<RpcVerifyProgress> Samples(Arena&, std::type_identity<RpcVerifyProgress>) {
    // Running, then met an error (logged), then a state read back as 0.
    return {Verify(2), Verify(3), Verify(8)};
}

std::vector<RpcProgress> Samples(Arena&, std::type_identity<RpcProgress>) {
    return {Progress(2, 7), Progress(4, 0xFFFFFFF0u), Progress(6, 1)};
}

std::vector<RpcDataTraceConfig> Samples(Arena& a, std::type_identity<RpcDataTraceConfig>) {
    RpcDataTraceConfig c{
        .token = 0x51, .Option = 3, .Text = a.Text(u"/var/log/quarvane/trace"), .Count = 9};
    a.Put(c.Objects, std::vector{Ref(a, u"Harddisk1", 1)});
    RpcDataTraceConfig no_text = c;
    no_text.Text = RpcWString{};
    RpcDataTraceConfig empty_text = c;
    empty_text.Text = a.Text(u"");
    return {c, no_text, empty_text};
}

// Adapters: a high byte in every address, a name too long for its array,
// one without a name; and the empty list.
std::vector<RpcNicList> Samples(Arena& a, std::type_identity<RpcNicList>) {
    auto nic = [&](u_char last, std::u16string_view name, int value) {
        RpcNicInfo n{};
        const u_char mac[6] = {0x00, 0x1b, 0x21, 0xab, 0xcd, last};
        std::copy(std::begin(mac), std::end(mac), n.macAddress);
        n.nicWord1 = 1000;
        n.nicWord2 = 0xFFFFFFFFu;
        n.nicValue = value;
        n.nicName = name.empty() ? RpcWString{} : a.Text(name);
        return n;
    };
    RpcNicList list{};
    a.Put(list.nics, std::vector{nic(0xef, u"Ethernet adapter eth0", -1),
                                 nic(0xf0, std::u16string(300, u'n'), 7), nic(0xf1, u"", 0)});
    return {list, RpcNicList{}};
}

// Boot properties with both paths, with none, and with one too long.
std::vector<RpcBootProperties> Samples(Arena& a, std::type_identity<RpcBootProperties>) {
    RpcBootProperties p{0, 1, a.Text(u"/srv/tftp/boot"), 2, 0xFFFFFFFFu, a.Text(u"/srv/images"), 4};
    RpcBootProperties none{0, 5, RpcWString{}, 6, 7, a.Text(u""), 8};
    RpcBootProperties long_path = p;
    long_path.propPath2 = a.Text(std::u16string(400, u'p'));
    return {p, none, long_path};
}

// ---------------------------------------------------------------------------
// Cluster

RpcClusterDisk ClusterDisk(Arena& a, u_int id, std::u16string_view name, std::u16string_view text1,
                           std::u16string_view text2) {
    RpcClusterDisk d{};
    if (!name.empty()) d.diskName = a.Text(name);
    d.diskId = id;
    if (!text1.empty()) d.diskText1 = a.Text(text1);
    if (!text2.empty()) d.diskText2 = a.Text(text2);
    d.diskValue1 = -1;
    d.diskValue2 = 2;
    return d;
}

// Two groups, the second with a disk whose texts are empty and names longer
// than their caller-side arrays.
std::vector<RpcClusterInfo> Samples(Arena& a, std::type_identity<RpcClusterInfo>) {
    RpcClusterInfo info{};
    info.infoWord = 1;
    info.name1 = a.Text(u"QVCLUSTER");
    info.name2 = a.Text(u"QVNODE-A");
    info.name3 = a.Text(std::u16string(70, u'n'));
    RpcClusterGroup first{};
    first.key.groupName = a.Text(u"SQL Group");
    first.key.groupTag = a.Text(u"{6f1c2a10}");
    first.value1 = 1;
    first.value2 = 1;
    first.value3 = 1;
    first.value4 = 3;
    first.disk = ClusterDisk(a, 101, u"Cluster Disk 1", u"Harddisk1", u"E:");
    RpcClusterGroup second{};
    second.key.groupName = a.Text(std::u16string(300, u'g'));
    second.value1 = 2;
    second.disk = ClusterDisk(a, 103, std::u16string(200, u'd'), u"", u"");
    a.Put(info.groups, std::vector{first, second});
    RpcClusterInfo no_groups = info;
    no_groups.groups = {};
    return {info, no_groups};
}

std::vector<RpcClusterDiskList> Samples(Arena& a, std::type_identity<RpcClusterDiskList>) {
    RpcClusterDiskList list{};
    a.Put(list.disks, std::vector{ClusterDisk(a, 101, u"Cluster Disk 1", u"Harddisk1", u"E:"),
                                  ClusterDisk(a, 102, u"", std::u16string(90, u't'), u"G:")});
    return {list, RpcClusterDiskList{}};
}

std::vector<RpcPullReply> Samples(Arena& a, std::type_identity<RpcPullReply>) {
    RpcPullReply reply{};
    const std::string text = "cluster QVCLUSTER\n";
    a.Put(reply.data, std::vector<char>(text.c_str(), text.c_str() + text.size() + 1));
    return {reply, RpcPullReply{}};
}

// ---------------------------------------------------------------------------
// Service diagnostics

std::vector<RpcEventList> Samples(Arena& a, std::type_identity<RpcEventList>) {
    RpcEventRecord object{};
    object.word0 = 7;
    object.word1 = 1700000000;
    object.word2 = 4;
    object.word3 = 0x40010001;
    object.subjectKind = 1;
    object.word5 = 1;
    object.subjectName = a.Text(u"Harddisk1");
    object.subjectNumber = 2;
    object.text = a.Text(u"Synchronization of Harddisk1:2 finished.");
    RpcEventRecord named = object;
    named.subjectKind = 2;
    named.subjectName = a.Text(u"SQL Group");
    RpcEventRecord none = object;
    none.subjectKind = 3;
    none.text = RpcWString{};
    RpcEventList list{};
    list.reserved = 9;
    list.count = 3;
    a.Put(list.events, std::vector{object, named, none});
    // A count below the array's length reads only that many.
    RpcEventList fewer = list;
    fewer.count = 1;
    RpcEventList empty{};
    return {list, fewer, empty};
}

std::vector<RpcSystemInfo> Samples(Arena& a, std::type_identity<RpcSystemInfo>) {
    RpcSystemInfo info{};
    info.sysWord1 = 4;
    info.sysWord2 = 16384;
    info.sysWord3 = 10;
    info.sysText1 = a.Text(u"QVNODE-A");
    info.sysWord4 = 0;
    info.sysWord5 = 20348;
    info.sysText2 = a.Text(u"Quarvane Simulated Server");
    info.sysText3 = a.Text(u"1.0.0");
    info.sysText4 = a.Text(u"/opt/quarvane");
    info.sysWord6 = 7;
    info.sysWord7 = 1;
    RpcSystemInfo no_text2 = info;
    no_text2.sysText2 = RpcWString{};
    return {info, no_text2};
}

std::vector<RpcProbeData> Samples(Arena& a, std::type_identity<RpcProbeData>) {
    RpcProbeData probe{};
    a.Put(probe.data, std::vector<u_char>{'q', 'v', 0, 0xFF, '\n'});
    return {probe, RpcProbeData{}};
}

// ---------------------------------------------------------------------------
// Snapshots, views, notifications, maintenance

RpcSnapshotRecord Snapshot(Arena& a, u_int id, bool view) {
    RpcSnapshotRecord r{};
    a.Put(r.Objects, std::vector{Ref(a, u"Harddisk1", 1)});
    r.SnapshotId = id;
    r.HasView = view ? 1 : 0;
    r.Value64 = static_cast<RpcHyper>(0x1234567890LL) * id;
    r.Text1 = a.Text(u"nightly");
    if (view) r.Text2 = a.Text(u"Backlook 1");
    r.Text3 = a.Text(u"note");
    return r;
}

std::vector<RpcSnapshotList> Samples(Arena& a, std::type_identity<RpcSnapshotList>) {
    // A mounted one, one without Text3 and with an empty Text1 array, a
    // plain one.
    RpcSnapshotRecord bare = Snapshot(a, 2, false);
    bare.Text1 = RpcWString{};
    bare.Text3 = RpcWString{};
    std::vector<RpcSnapshotRecord> records{Snapshot(a, 1, true), bare, Snapshot(a, 3, false)};
    RpcSnapshotList full{};
    full.Count = static_cast<u_int>(records.size());
    a.Put(full.Records, std::move(records));
    RpcSnapshotList shorter = full;
    shorter.Count = 1;
    return {full, shorter, RpcSnapshotList{}};
}

std::vector<RpcBacklookDisk> Samples(Arena& a, std::type_identity<RpcBacklookDisk>) {
    RpcBacklookDisk view{};
    view.Disk =
        Disk(a, 7, u"Backlook7", {Partition(a, 1, u"V:", u"View"), Partition(a, 2, u"", u"")});
    // A dynamic view disk keeps its counted entries, empty.
    RpcBacklookDisk dynamic = view;
    dynamic.Disk = Disk(a, 8, u"Backlook8", {Partition(a, 1, u"W:", u"")});
    dynamic.Disk.Partitions.Partitions_val[0].Type = 0x42;
    RpcBacklookDisk bare{};
    bare.Disk.Name = a.Text(u"Backlook9");
    return {view, dynamic, bare};
}

std::vector<RpcNotificationList> Samples(Arena& a, std::type_identity<RpcNotificationList>) {
    std::vector<RpcNotification> n{{1, 2, 7, a.Text(u"Snapshot taken")}, {3, 4, 9, RpcWString{}}};
    RpcNotificationList list{};
    a.Put(list.Notifications, std::move(n));
    return {list, RpcNotificationList{}};
}

std::vector<RpcConflictList> Samples(Arena& a, std::type_identity<RpcConflictList>) {
    std::vector<RpcConflict> c{{Ref(a, u"Harddisk3", 2), 5, a.Text(u"in use")},
                               {Ref(a, u"", 0), 6, RpcWString{}}};
    RpcConflictList list{};
    a.Put(list.Conflicts, std::move(c));
    return {list, RpcConflictList{}};
}

std::vector<RpcMirrorConfig> Samples(Arena& a, std::type_identity<RpcMirrorConfig>) {
    return {Config(a, u"Harddisk0", u"Harddisk1", 1, 1, 2)};
}

// ---------------------------------------------------------------------------
// Groups

// A group's own settings all differ from its members', so that a member
// keeping its own shows; the mirror kind and schedule mode are ones a
// mirror would reduce.
RpcGroupConfig Group(Arena& a, std::u16string_view name, std::vector<RpcMirrorConfig> members) {
    RpcGroupConfig g{.Reserved = 1,
                     .GroupName = a.Text(name),
                     .Text0 = a.Text(u"unread"),
                     .Setting2 = -22,
                     .Setting3 = -33,
                     .MirrorKind = 7,
                     .Setting7 = 77,
                     .Spare1 = 1,
                     .Setting8 = 88,
                     .Setting4 = 44,
                     .Switch2 = 5,
                     .Spare2 = 2,
                     .GroupSetting1 = 11,
                     .Text = a.Text(u"group text")};
    a.Put(g.Schedules, std::vector{Schedule(7, 700)});
    a.Put(g.Members, std::vector{ConfigList(std::move(members), a)});
    return g;
}

std::vector<RpcGroupConfigList> Samples(Arena& a, std::type_identity<RpcGroupConfigList>) {
    RpcGroupConfig two = Group(a, u"Group1", {Config(a, u"Harddisk0", u"Harddisk1", 1, 1, 2),
                                              Config(a, u"Harddisk2", u"Harddisk3", 2, 2, 3)});
    // No text, no schedule, no member list.
    RpcGroupConfig bare = Group(a, u"Group2", {});
    bare.Text = RpcWString{};
    bare.Schedules = {};
    bare.Members = {};
    // A member list that is there but empty.
    RpcGroupConfig empty = Group(a, u"Group3", {});
    RpcGroupConfigList full =
        Counted<RpcGroupConfigList, &RpcGroupConfigList::Groups>(std::vector{two, bare, empty}, a);
    // A count of 0 is an empty list whatever the array holds.
    RpcGroupConfigList none = full;
    none.Count = 0;
    return {full, none, RpcGroupConfigList{}};
}

RpcGroupMemberStat MemberStat(Arena& a, std::u16string_view name, u_int number,
                              const RpcMirrorStats& stats) {
    RpcGroupMemberStat m{};
    a.Put(m.Objects, std::vector{Ref(a, name, number)});
    a.Put(m.Stats, std::vector{stats});
    return m;
}

std::vector<RpcGroupStat> Samples(Arena& a, std::type_identity<RpcGroupStat>) {
    // Members restoring, verifying, rolling back and snapshotting; the second
    // member's condition (8, read 2) is the first that tells of trouble.
    const std::vector<RpcMirrorStats> stats = Samples(a, std::type_identity<RpcMirrorStats>{});
    RpcMirrorStats quiet = stats[0];
    quiet.Condition = 2;  // read 3
    std::vector<RpcGroupMemberStat> members{MemberStat(a, u"Harddisk0", 1, quiet),
                                            MemberStat(a, u"Harddisk2", 2, stats[0]),
                                            MemberStat(a, u"Harddisk4", 3, stats[1]),
                                            RpcGroupMemberStat{}};
    RpcGroupStat s{.State = 12,
                   .ProgressState = 1,
                   .DirtyData = 1000,
                   .TotalDone = 2000,
                   .Value1 = 1,
                   .Value3 = 3,
                   .Value2 = 2,
                   .Value4 = 4,
                   .Count = static_cast<u_int>(members.size())};
    a.Put(s.Members, std::move(members));
    std::vector<RpcGroupStat> out{s};
    for (const u_int state : {9u, 10u, 11u, 14u}) {
        RpcGroupStat other = s;
        other.State = state;
        out.push_back(other);
    }
    // Without members the reply's own figures count in one state of each.
    for (const auto& [state, progress] : {std::pair{12u, 1u}, {11u, 2u}, {11u, 4u}, {9u, 3u}}) {
        RpcGroupStat alone = s;
        alone.State = state;
        alone.ProgressState = progress;
        alone.Count = 0;
        alone.Members = {};
        out.push_back(alone);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Dispatch by result record

std::vector<RpcStatus> Samples(Arena&, std::type_identity<RpcStatus>) {
    return {RpcStatus{0, 1, 0x51}, RpcStatus{0, 0, 0}};
}
std::vector<RpcTokenRecord> Samples(Arena&, std::type_identity<RpcTokenRecord>) {
    return {RpcTokenRecord{0, 0x600D}};
}
std::vector<RpcDiskMaintenanceResult> Samples(Arena& a,
                                              std::type_identity<RpcDiskMaintenanceResult>) {
    return {RpcDiskMaintenanceResult{0, a.Text(u"MiB/s"), 550, 495, a.Text(u""), RpcWString{}}};
}
std::vector<RpcThroughputResult> Samples(Arena&, std::type_identity<RpcThroughputResult>) {
    return {RpcThroughputResult{0, 850}};
}
std::vector<RpcClusterReply> Samples(Arena&, std::type_identity<RpcClusterReply>) {
    return {RpcClusterReply{0}};
}
// A result record without samples of its own has none: a test fails for
// every procedure the library calls whose reply has no sample, so that no
// function goes unfuzzed or unswept.
template <typename T>
std::vector<T> Samples(Arena&, std::type_identity<T>) {
    return {};
}

template <unsigned P>
std::vector<Bytes> EncodedSamples() {
    using Proc = qv::wire::Proc<P>;
    Arena arena;
    std::vector<Bytes> out;
    for (const auto& record : Samples(arena, std::type_identity<typename Proc::Res>{})) {
        out.push_back(Encode(Proc::ResFilter(), &record));
    }
    return out;
}

using SampleMaker = std::vector<Bytes> (*)();

template <unsigned... P>
constexpr std::array<SampleMaker, sizeof...(P)> Makers(std::integer_sequence<unsigned, P...>) {
    return {&EncodedSamples<P>...};
}

constexpr auto kMakers = Makers(std::make_integer_sequence<unsigned, qv::wire::kProcCount>{});

}  // namespace

std::vector<Bytes> SampleReplies(unsigned proc) {
    if (proc >= kMakers.size()) return {};
    return kMakers[proc]();
}

Bytes ReplyWithStatus(unsigned proc, uint32_t status) {
    const auto& info = qv::wire::ProcTable(proc);
    std::vector<uint8_t> zero(info.res_size + 8, 0);
    Bytes bytes = Encode(info.res_filter, zero.data());
    const uint32_t be = htonl(status);
    std::memcpy(bytes.data(), &be, 4);
    return bytes;
}

Bytes SampleReply(unsigned proc) {
    std::vector<Bytes> all = SampleReplies(proc);
    return all.empty() ? Bytes{} : std::move(all.front());
}

namespace {

// A reply of P whose array `kArray` holds `n` elements made by
// `make(arena, i)`; `kCount`, where the record states one, says n.
template <unsigned P, auto kArray, auto kCount = nullptr, typename Make>
Bytes ListOf(std::size_t n, Make make, typename qv::wire::Proc<P>::Res record = {}) {
    Arena a;
    std::vector<decltype(make(a, std::size_t{}))> elements;
    elements.reserve(n);
    for (std::size_t i = 0; i < n; ++i) elements.push_back(make(a, i));
    if constexpr (kCount != nullptr) record.*kCount = static_cast<u_int>(n);
    a.Put(record.*kArray, std::move(elements));
    return Encode(qv::wire::Proc<P>::ResFilter(), &record);
}

// A disk of `partitions` partitions with its properties and descriptor.
RpcDiskRecord FullDisk(Arena& a, u_int number, std::u16string_view name, std::size_t partitions,
                       std::u16string_view letters, std::u16string_view label) {
    std::vector<RpcPartitionRecord> parts;
    for (std::size_t p = 1; p <= partitions; ++p) {
        parts.push_back(Partition(a, static_cast<u_int>(p), letters, label));
    }
    RpcDiskRecord disk = Disk(a, number, name, std::move(parts));
    a.Put(disk.Properties, std::vector{Properties(a, 0x1)});
    a.Put(disk.Descriptors, std::vector{Descriptor(a)});
    return disk;
}

}  // namespace

Bytes DiskListReply(std::size_t disks, std::size_t partitions_per_disk) {
    return ListOf<GET_DISK_LIST, &RpcDiskList::Disks, &RpcDiskList::DiskCount>(
        disks, [&](Arena& a, std::size_t d) {
            return FullDisk(a, static_cast<u_int>(d), Numbered(u"Harddisk", d),
                            partitions_per_disk, u"C:", u"Volume");
        });
}

Bytes MirrorConfigListReply(std::size_t configs) {
    return ListOf<GET_MIR_CONFIG_LIST, &RpcMirrorConfigList::Configs, &RpcMirrorConfigList::Count>(
        configs, [](Arena& a, std::size_t i) {
            return Config(a, Numbered(u"Harddisk", 2 * i), Numbered(u"Harddisk", 2 * i + 1),
                          static_cast<u_int>(i % 8 + 1), 1, 2);
        });
}

Bytes GroupConfigListReply(std::size_t groups, std::size_t members) {
    return ListOf<GET_GROUP_CONFIG_LIST, &RpcGroupConfigList::Groups, &RpcGroupConfigList::Count>(
        groups, [&](Arena& a, std::size_t g) {
            std::vector<RpcMirrorConfig> configs;
            for (std::size_t m = 0, n = g * members; m < members; ++m, ++n) {
                configs.push_back(Config(a, Numbered(u"Harddisk", 2 * n),
                                         Numbered(u"Harddisk", 2 * n + 1),
                                         static_cast<u_int>(m + 1), 1, 2));
            }
            return Group(a, Numbered(u"Group", g), std::move(configs));
        });
}

Bytes GroupStatReply(std::size_t members) {
    Arena held;
    // Snapshotting.
    const RpcMirrorStats stats = Samples(held, std::type_identity<RpcMirrorStats>{})[3];
    return ListOf<GET_GROUP_STAT, &RpcGroupStat::Members, &RpcGroupStat::Count>(
        members,
        [&](Arena& a, std::size_t m) {
            return MemberStat(a, Numbered(u"Harddisk", m), static_cast<u_int>(m % 8 + 1), stats);
        },
        RpcGroupStat{.State = 12, .ProgressState = 1});
}

Bytes EventListReply(std::size_t events) {
    return ListOf<GET_EVENT_LIST, &RpcEventList::events, &RpcEventList::count>(
        events, [](Arena& a, std::size_t i) {
            return RpcEventRecord{.word0 = static_cast<u_int>(i + 1),
                                  .word2 = 4,
                                  .word3 = 0x40010001,
                                  .subjectKind = 1,
                                  .subjectName = a.Text(Numbered(u"Harddisk", i)),
                                  .subjectNumber = 1,
                                  .text = a.Text(u"Synchronization of the protection finished.")};
        });
}

Bytes ClusterDiskListReply(std::size_t disks) {
    return ListOf<GET_CLUSTER_GROUP_PHYSICAL_DISK_LIST, &RpcClusterDiskList::disks>(
        disks, [](Arena& a, std::size_t i) {
            return ClusterDisk(a, static_cast<u_int>(i), Numbered(u"Cluster Disk ", i),
                               Numbered(u"Harddisk", i), u"E:");
        });
}

Bytes SnapshotListReply(std::size_t snapshots) {
    return ListOf<GET_SNAPSHOT_LIST, &RpcSnapshotList::Records, &RpcSnapshotList::Count>(
        snapshots,
        [](Arena& a, std::size_t i) { return Snapshot(a, static_cast<u_int>(i + 1), false); });
}

Bytes BacklookDiskReply(std::size_t partitions) {
    Arena a;
    RpcBacklookDisk view{};
    view.Disk = FullDisk(a, 100, u"Backlook100", partitions, u"V:", u"View");
    return Encode(qv::wire::Proc<GET_BACKLOOK_DISK>::ResFilter(), &view);
}

}  // namespace qvtest
