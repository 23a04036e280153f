// The library against quarvane-sim, through the public interface only: the
// disk lists, protections and their refusals, the state machine, values out
// of range. Logins, the configuration list by object, what a restart keeps
// and the long operations followed to their end or cancelled run through
// qvctl (tests/qvctl); a synchronisation's I/O through the exporter
// (tests/exporter).
#include "fixture.h"

namespace simtest {
namespace {

class SimE2eDisks : public SimE2e {
  protected:
    void SetUp() override { Start(); }
};

TEST_F(SimE2eDisks, EachKindListsItsDisksAndPartitions) {
    // Partitions of the dynamic disk are never listed, the offline disk only
    // by kinds 8 and 255.
    const std::string primaries =
        "Disk0 Disk0:1 Disk0:2 Disk1 Disk1:1 Disk1:2 Disk2 Disk3 Disk3:1 Disk3:2 Disk4";
    const std::tuple<uint32_t, const QV_WCHAR*, uint32_t, uint32_t, std::string> cases[] = {
        {1, nullptr, 0, 0, primaries},  // not the removable disk
        {3, nullptr, 0, 0, primaries + " Disk5 Disk5:1"},
        {4, nullptr, 0, 0, "Disk1 Disk1:1 Disk1:2 Disk2 Disk3 Disk3:1 Disk3:2"},
        {5, nullptr, 0, 0, "Disk0 Disk1 Disk2 Disk3 Disk4 Disk5"},
        {6, nullptr, 0, 0, "Disk2"},
        // Mirror candidates: large enough, free, on another disk that may hold one.
        {7, u"Disk1", 1, 0, "Disk3:2"},
        {7, u"Disk3", 1, 0, "Disk1:1 Disk1:2"},
        {7, u"Disk1", 0, 0, "Disk2"},
        {7, u"Disk0", 0, 0, ""},
        {7, u"", 0, kInvalid, ""},
        {7, u"Nope", 0, kDiskNotFound, ""},
        {8, u"Disk3", 2, 0, "Disk3:2"},
        {8, u"disk3", 0, 0, "Disk3"},
        {8, u"Disk6", 0, 0, "Disk6"},
        {8, u"Disk3", 9, kPartitionNotFound, ""},
        {8, u"Nope", 1, kDiskNotFound, ""},
        {8, u"", 0, kInvalid, ""},
        {255, nullptr, 0, 0, primaries + " Disk5 Disk5:1 Disk6"},
    };
    for (const auto& [kind, name, number, status, listed] : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << kind << " " << Ascii(name) << ":" << number);
        DiskList list;
        EXPECT_EQ(Said(List(list, kind, name, number)), Said(status));
        EXPECT_EQ(Summary(list), listed);
    }
}

TEST_F(SimE2eDisks, EntriesCarryTheInventoryAndTheProtections) {
    // Each entry, with no attributes before Disk1:1 and Disk1:2 are
    // protected by Disk3:2 and Disk2; the attributes after: 1 for a primary,
    // 2 for a mirror, and a disk counts its primaries.
    const std::tuple<const char*, uint32_t, std::string, std::string> cases[] = {
        {"Disk0", 0, "Disk 0|C:D:||10000/3010 MiB|1 1 1 0", "0/0"},
        {"Disk0", 1, "Disk 0 Partition 1 - System (C:)|C:|System|4000/3000 MiB|1 0 1 7", "0/0"},
        {"Disk0", 2, "Disk 0 Partition 2 - (D:)|D:||2000/10 MiB|1 0 1 7", "0/0"},  // empty label
        {"Disk1", 0, "Disk 1|E:||8000/600 MiB|0 1 1 0", "1/2"},
        {"Disk1", 1, "Disk 1 Partition 1 - Data (E:)|E:|Data|1000/600 MiB|0 0 1 7", "1/0"},
        {"Disk1", 2, "Disk 1 Partition 2||Spare|3000/0 MiB|0 0 1 7", "1/0"},
        {"Disk2", 0, "Disk 2|||8000/0 MiB|0 0 1 0", "2/0"},
        {"Disk3", 2, "Disk 3 Partition 2 - Big (G:)|G:|Big|2000/0 MiB|0 0 1 7", "2/0"},
        {"Disk4", 0, "Disk 4|||4000/0 MiB|0 1 1 66", "0/0"},  // dynamic
        {"Disk6", 0, "Disk 6|||8000/0 MiB|0 0 3 0", "0/0"},   // offline
    };
    DiskList list;
    ASSERT_EQ(List(list, 255), 0u);
    for (const auto& [disk, number, entry, after] : cases) {
        EXPECT_EQ(Describe(list, disk, number), entry + "|0/0");
    }
    const QV_DISK_INFO& system = list.Entries[0];
    EXPECT_EQ(Ascii(system.DiskText1) + "|" + Ascii(system.DiskText2), "QVSIM System|S0");
    EXPECT_EQ(system.Descriptor.Value64, 10000LL * 1024 * 1024);

    ASSERT_EQ(Enable(Pair()), 0u);
    ASSERT_EQ(Enable(Pair(u"Disk1", 2, u"Disk2", 0)), 0u);
    ASSERT_EQ(List(list, 255), 0u);
    for (const auto& [disk, number, entry, after] : cases) {
        EXPECT_EQ(Describe(list, disk, number), entry + "|" + after);
    }
    // A disk with protected partitions offers only those; what is in use is
    // no mirror candidate, a mirror no primary.
    const std::tuple<uint32_t, const QV_WCHAR*, uint32_t, std::string> lists[] = {
        {1, nullptr, 0, "Disk0 Disk0:1 Disk0:2 Disk1:1 Disk1:2 Disk3:1 Disk4"},
        {4, nullptr, 0, "Disk1 Disk1:1 Disk1:2 Disk3 Disk3:1 Disk3:2"},
        {6, nullptr, 0, ""},
        {7, u"Disk3", 1, ""},
    };
    for (const auto& [kind, name, number, listed] : lists) {
        EXPECT_EQ(List(list, kind, name, number), 0u);
        EXPECT_EQ(Summary(list), listed) << "kind " << kind;
    }
}

class SimE2eMirror : public SimE2e {
  protected:
    // A synchronisation of the test partitions ends at once; a protection's
    // own limit slows an operation down where a test needs it running.
    void SetUp() override { Start({"--rate", "1000000", "--io-rate", "4"}); }
};

TEST_F(SimE2eMirror, EnableRefusesWhatTheServiceRefuses) {
    const std::tuple<const QV_WCHAR*, uint32_t, const QV_WCHAR*, uint32_t, uint32_t> cases[] = {
        {u"Nope", 0, u"Disk2", 0, kDiskNotFound},
        {u"Disk1", 9, u"Disk2", 0, kPartitionNotFound},
        {u"Disk1", 1, u"Nope", 0, kDiskNotFound},
        {u"Disk1", 1, u"Disk3", 7, kPartitionNotFound},
        {u"Disk1", 1, u"Disk0", 2, kSystemDiskAsMirror},
        {u"Disk1", 2, u"Disk3", 1, kMirrorTooSmall},
        {u"Disk3", 1, u"Disk3", 0, kInvalid},
        {u"Disk3", 1, u"Disk3", 1, kInvalid},
        {u"Disk4", 2, u"Disk3", 2, kDiskNotSupported},  // dynamic
        {u"Disk5", 1, u"Disk3", 2, kDiskNotSupported},  // removable
        {u"Disk6", 0, u"Disk2", 0, kDiskOffline},
        {u"Disk3", 2, u"Disk6", 0, kDiskOffline},
        {u"Disk0", 1, u"Disk3", 0, kMirrorHasPartitions},
        {u"Disk1", 0, u"Disk2", 0, 0},  // equal sizes are fine; Disk1 is protected whole now
        {u"Disk1", 0, u"Disk2", 0, kExists},
        {u"Disk1", 1, u"Disk3", 2, kExists},
        {u"Disk3", 2, u"Disk1", 2, kExists},  // the mirror inside a protected disk
        {u"Disk2", 0, u"Disk0", 0, kExists},  // the primary a mirror
    };
    for (const auto& [primary, primary_number, mirror, mirror_number, status] : cases) {
        EXPECT_EQ(Said(Enable(Pair(primary, primary_number, mirror, mirror_number))), Said(status))
            << Ascii(primary) << ":" << primary_number << " on " << Ascii(mirror);
    }
    ConfigList list;
    const QV_CONFIG_FILTER all{};
    EXPECT_EQ(qvGetMirConfigList(handle_, &all, list.Reset()), 0u);
    EXPECT_EQ(list.Count, 1u);
    // Another mirror is no change of configuration.
    QV_MIRROR_CONFIG change = Pair(u"Disk1", 0, u"Disk3", 2);
    EXPECT_EQ(Said(qvChangeMirrorConfig(handle_, &change)), Said(kInvalid));
}

// Each operation from each state: the service's answer and the state it
// leaves. Every start is reached from a fresh protection in sync whose
// copying is capped at 1 MiB/s, so that nothing ends on its own meanwhile.
TEST_F(SimE2eMirror, EachOperationFromEachState) {
    enum Op { kDisable, kSuspend, kResume, kStop, kSync, kCancelSync, kVerify, kRestore, kOps };
    const auto run = [&](int op) {
        const QV_VERIFY_REQUEST verify{{u"Disk1", 1}, 1, 0, 0};
        const QV_RESTORE_REQUEST restore{{u"Disk1", 1}, 1, {u"Disk3", 2}, 0, 0, 0};
        constexpr QV_STATUS (*kCalls[])(QV_HANDLE, const QV_WCHAR*, uint32_t) = {
            qvDisableMirror, qvSuspendMirror, qvResumeMirror,
            qvStopMirror,    qvSyncMirror,    qvCancelSyncMirror};
        if (op == kVerify) return qvVerifyData(handle_, &verify);
        if (op == kRestore) return qvRestorePrimary(handle_, &restore);
        return kCalls[op](handle_, u"Disk1", 1);
    };
    // Each cell: the answer (0x6FFC00xx, or 0) and the state left: Synchronizing,
    // susPended, sTopped, Out of sync, Verifying, Restoring, Gone; none: unchanged.
    enum : uint32_t { S = kSynchronizing, P = kSuspended, T = kStopped, O = kOutOfSync };
    enum : uint32_t { V = kVerifying, R = kRestoring, G = kGone };
    struct Cell {
        uint32_t answer;
        uint32_t state = 0;
    };
    struct Row {
        uint32_t start;
        std::vector<Op> path;  // from mirrored
        Cell cells[kOps];
    };
    // clang-format off
    const Row rows[] = {
        //                        disable suspend resume  stop    sync    cancel  verify  restore
        {kMirrored, {},           {{0, G}, {0, P}, {0x42}, {0, T}, {0, S}, {0x67}, {0, V}, {0, R}}},
        {S, {kSync},              {{0, G}, {0, P}, {0x42}, {0, T}, {0x61}, {0, O}, {0x60}, {0x60}}},
        {P, {kSync, kSuspend},    {{0, G}, {0x42}, {0, S}, {0, T}, {0x42}, {0x67}, {0x42}, {0, R}}},
        {T, {kStop},              {{0, G}, {0x43}, {0, S}, {0x69}, {0x43}, {0x67}, {0x43}, {0, R}}},
        {O, {kSync, kCancelSync}, {{0, G}, {0, P}, {0x42}, {0, T}, {0, S}, {0x67}, {0x42}, {0x42}}},
        {V, {kVerify},            {{0x60}, {0x60}, {0x60}, {0x60}, {0x60}, {0x67}, {0x61}, {0x60}}},
        {R, {kRestore},           {{0x60}, {0x60}, {0x60}, {0x60}, {0x60}, {0x67}, {0x60}, {0x61}}},
    };
    // clang-format on
    for (const Row& row : rows) {
        for (int op = 0; op < kOps; ++op) {
            const Cell& cell = row.cells[op];
            SCOPED_TRACE(testing::Message() << "operation " << op << " from " << row.start);
            ASSERT_NO_FATAL_FAILURE(Protect());
            for (Op step : row.path) ASSERT_EQ(run(step), 0u);
            ASSERT_EQ(State(), row.start);
            EXPECT_EQ(Said(run(op)), Said(cell.answer == 0 ? 0 : 0x6FFC0000 | cell.answer));
            EXPECT_EQ(State(), cell.state != 0 ? cell.state : row.start);
            // Out of the way of the next: whatever runs is cancelled, then removed.
            qvCancelVeridyData(handle_, u"Disk1", 1);
            qvCancelRestorePrimary(handle_, u"Disk1", 1);
            qvDisableMirror(handle_, u"Disk1", 1);
        }
    }
}

// What qvctl's choices never send is refused: an unknown failover action,
// an empty message, a trace level, event type or message code out of range.
TEST_F(SimE2eDisks, ValuesOutOfRangeAreRefused) {
    Owned<QV_CLUSTER_INFO, qvFreeClusterInfo> info;
    ASSERT_EQ(qvGetClusterInfo(handle_, info.Reset()), 0u);
    EXPECT_EQ(info.infoWord, 2u);  // the inventory's role: secondary
    QV_CLUSTER_GROUP sql{};
    std::u16string_view(u"SQL").copy(sql.groupName, QV_CLUSTER_GROUP_NAME_UNITS - 1);
    const uint32_t refused[] = {qvFailoverAction(handle_, &sql, 3),
                                qvClusterCommunication(handle_, u""), qvSetTraceLevel(handle_, 6),
                                qvWriteEventMessage(handle_, 3, 1, u"", 0, u"x"),
                                qvWriteEventMessage(handle_, 4, 10, u"", 0, u"x")};
    for (const uint32_t status : refused) EXPECT_EQ(Said(status), Said(kInvalid));
}

}  // namespace
}  // namespace simtest
