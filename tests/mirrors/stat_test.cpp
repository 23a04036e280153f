// The statistics record of a protection and the progress records inside it:
// the conversions' tables and arithmetic, then qvGetMirrorStat against the
// test service.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <deque>

#include "mirror_test_support.h"
#include "mirrors/mirror_stat_conversion.h"
#include "mirrors/progress_conversion.h"
#include "platform/alloc.h"

using qv::LongOperation;
using qvtest::Fault;
using qvtest::Text;

namespace {

// Wire arrays for scripted statistics; addresses stay put while it lives.
class StatsStore {
  public:
    RpcIoCounters* Io(const RpcIoCounters& io) { return &io_.emplace_back(io); }
    RpcProgress* Progress(const RpcProgress& p) { return &progress_.emplace_back(p); }
    RpcVerifyProgress* Verify(const RpcVerifyProgress& v) { return &verify_.emplace_back(v); }

    // A record with one element in every array and a distinct figure in
    // every progress, so that the progress read shows where it came from.
    RpcMirrorStats Full(uint32_t state) {
        RpcMirrorStats w{};
        w.State = state;
        w.Io1 = {1, Io({})};
        w.Io2 = {1, Io({})};
        w.Io3 = {1, Io({})};
        w.Io4 = {1, Io({})};
        w.VerifyProgress = {1, Verify(VerifySample())};
        w.SnapshotProgress = {1, Progress({0xEE, 4, 41, 42, 43})};
        w.RollbackProgress = {1, Progress({0xEE, 5, 51, 52, 53})};
        w.RestoreProgress = {1, Progress({0xEE, 3, 31, 32, 33})};
        return w;
    }

    static RpcVerifyProgress VerifySample() {
        RpcVerifyProgress v{};
        v.status = 0xEE;
        v.State = 2;
        v.Amount0 = 0x7777777;
        v.Amount1 = 10 << 10;
        v.Amount2 = 20 << 10;
        v.Amount3 = 30 << 10;
        v.Count = 0x123456789LL;
        v.Value1 = 101;
        v.Value2 = 102;
        v.Value3 = 103;
        v.Value4 = 104;
        v.Value5 = 105;
        v.Value6 = 6 << 10;
        return v;
    }

  private:
    std::deque<RpcIoCounters> io_;
    std::deque<RpcProgress> progress_;
    std::deque<RpcVerifyProgress> verify_;
};

// The first element of each of the four counter arrays.
std::array<RpcIoCounters*, 4> IoBlocks(const RpcMirrorStats& w) {
    return {w.Io1.Io1_val, w.Io2.Io2_val, w.Io3.Io3_val, w.Io4.Io4_val};
}

QV_MIRROR_STAT Convert(const RpcMirrorStats& w) {
    QV_MIRROR_STAT out{};
    qv::ConvertMirrorStats(w, out);
    return out;
}

// ---- Tables -----------------------------------------------------------------

TEST(MirrorStatConversion, ConditionIsRenumbered) {
    const std::pair<uint32_t, uint32_t> table[] = {
        {0, 0}, {1, 1}, {2, 3}, {3, 4},  {4, 5},  {5, 6},          {6, 7},
        {7, 8}, {8, 2}, {9, 9}, {10, 0}, {11, 0}, {0xFFFFFFFF, 0},
    };
    for (const auto& [wire, caller] : table) {
        SCOPED_TRACE(wire);
        RpcMirrorStats w{};
        w.Condition = wire;
        EXPECT_EQ(Convert(w).Condition, caller);
    }
}

TEST(MirrorStatConversion, StateOutsideOneToFourteenReadsZero) {
    const std::pair<uint32_t, uint32_t> table[] = {
        {0, 0}, {1, 1}, {8, 8}, {13, 13}, {14, 14}, {15, 0}, {0xFFFFFFFF, 0},
    };
    for (const auto& [wire, caller] : table) {
        SCOPED_TRACE(wire);
        RpcMirrorStats w{};
        w.State = wire;
        EXPECT_EQ(Convert(w).State, caller);
    }
}

// ---- Arithmetic -------------------------------------------------------------

// Every byte amount becomes KiB through an unsigned 64-bit division whose
// low 32 bits are kept: the statistics' two amounts, each counter block's
// two amounts and the verify progress's three.
TEST(MirrorStatConversion, ByteAmountsBecomeKiBCutToThirtyTwoBits) {
    struct Row {
        int64_t bytes;
        uint32_t kib;
    };
    const Row rows[] = {
        {0, 0},
        {1023, 0},
        {1024, 1},
        {1048576, 1024},
        {(int64_t{1} << 42) - 1, 0xFFFFFFFF},  // the largest that fits
        {(int64_t{1} << 42) + 1023, 0},        // 2^32 KiB: only the low bits remain
        {(int64_t{1} << 42) + 2048, 2},
        {-1, 0xFFFFFFFF},  // read as 2^64 - 1, not as a negative amount
        {INT64_MIN, 0},    // 2^63 bytes is 2^53 KiB
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.bytes);
        StatsStore store;
        RpcMirrorStats w = store.Full(10);
        w.Amount1 = w.Amount2 = r.bytes;
        for (RpcIoCounters* io : IoBlocks(w)) io->Bytes1 = io->Bytes2 = r.bytes;
        RpcVerifyProgress& v = *w.VerifyProgress.VerifyProgress_val;
        v.Amount1 = v.Amount2 = v.Amount3 = r.bytes;

        const QV_MIRROR_STAT s = Convert(w);
        EXPECT_EQ(s.Amount1KiB, r.kib);
        EXPECT_EQ(s.Amount2KiB, r.kib);
        for (const QV_IO_COUNTERS* io : {&s.Io1, &s.Io2, &s.Io3, &s.Io4}) {
            EXPECT_EQ(io->KiB1, r.kib);
            EXPECT_EQ(io->KiB2, r.kib);
        }
        EXPECT_EQ(s.Progress.Verify.Amount1KiB, r.kib);
        EXPECT_EQ(s.Progress.Verify.Amount2KiB, r.kib);
        EXPECT_EQ(s.Progress.Verify.Amount3KiB, r.kib);
    }
}

TEST(MirrorStatConversion, CountersAndValuesAreCopied) {
    StatsStore store;
    RpcMirrorStats w = store.Full(1);
    *w.Io3.Io3_val = {0, 0, -1, INT64_MAX, int64_t{1} << 40};
    w.Value1 = 1;
    w.Value2 = 2;
    w.Value3 = 3;
    w.Value4 = 4;
    w.Value5 = 5;
    w.Value6 = 0xFFFFFFFF;
    w.Unread1 = w.Unread2 = w.Unread3 = w.Unread4 = w.Unread5 = 0xBAD;

    const QV_MIRROR_STAT s = Convert(w);
    EXPECT_EQ(s.Io3.Count1, UINT64_MAX);
    EXPECT_EQ(s.Io3.Count2, uint64_t{INT64_MAX});
    EXPECT_EQ(s.Io3.Count3, uint64_t{1} << 40);
    EXPECT_EQ((std::array{s.Value1, s.Value2, s.Value3, s.Value4, s.Value5, s.Value6}),
              (std::array<uint32_t, 6>{1, 2, 3, 4, 5, 0xFFFFFFFF}));
}

TEST(MirrorStatConversion, OnlyTheFirstCounterBlockOfEachArrayIsRead) {
    RpcIoCounters two[2] = {{1024, 2048, 1, 2, 3}, {99 << 10, 99 << 10, 9, 9, 9}};
    RpcMirrorStats w{};
    w.Io2 = {2, two};  // Io1, Io3 and Io4 arrive empty
    const QV_MIRROR_STAT s = Convert(w);
    EXPECT_EQ(s.Io2.KiB1, 1u);
    EXPECT_EQ(s.Io2.KiB2, 2u);
    EXPECT_EQ(s.Io2.Count3, 3u);
    const QV_IO_COUNTERS zero{};
    for (const QV_IO_COUNTERS* io : {&s.Io1, &s.Io3, &s.Io4}) {
        EXPECT_EQ(std::memcmp(io, &zero, sizeof zero), 0);
    }
}

// Divisor1 times the first and third blocks, Divisor2 the second and
// fourth; a zero divisor leaves the rates 0.
TEST(MirrorStatConversion, RatesDivideKiBByTheirBlocksDivisor) {
    struct Row {
        uint32_t divisor1, divisor2;
        uint32_t rate13, rate24;  // Rate1 of the blocks timed by each divisor
    };
    // 1024 KiB in every block; 1024 / 3 and 1024 / 1000 truncate.
    const Row rows[] = {
        {4, 0, 256, 0}, {0, 4, 0, 256}, {3, 1000, 341, 1}, {0, 0, 0, 0}, {0xFFFFFFFF, 1, 0, 1024},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.divisor1 << "/" << r.divisor2);
        StatsStore store;
        RpcMirrorStats w = store.Full(1);
        for (RpcIoCounters* io : IoBlocks(w)) *io = {1048576, 2 * 1048576, 0, 0, 0};
        w.Divisor1 = r.divisor1;
        w.Divisor2 = r.divisor2;
        const QV_MIRROR_STAT s = Convert(w);
        for (const QV_IO_COUNTERS* io : {&s.Io1, &s.Io3}) {
            EXPECT_EQ(io->KiB1, 1024u);
            EXPECT_EQ(io->Rate1, r.rate13);
            EXPECT_EQ(io->Rate2, r.divisor1 == 0 ? 0 : 2048 / r.divisor1);
        }
        for (const QV_IO_COUNTERS* io : {&s.Io2, &s.Io4}) {
            EXPECT_EQ(io->Rate1, r.rate24);
            EXPECT_EQ(io->Rate2, r.divisor2 == 0 ? 0 : 2048 / r.divisor2);
        }
    }
}

// ---- Progress by state ------------------------------------------------------

TEST(MirrorStatConversion, StateSelectsTheProgressItCarries) {
    struct Row {
        uint32_t state;
        uint32_t kind;
        QV_PROGRESS progress;  // when the kind is not verify
    };
    const Row rows[] = {
        {9, QV_PROGRESS_KIND_RESTORE, {3, 31, 32, 33}},
        {11, QV_PROGRESS_KIND_ROLLBACK, {5, 51, 52, 53}},
        {12, QV_PROGRESS_KIND_SNAPSHOT, {4, 41, 42, 43}},
        {10, QV_PROGRESS_KIND_VERIFY, {}},
        {1, QV_PROGRESS_KIND_NONE, {}},
        {8, QV_PROGRESS_KIND_NONE, {}},
        {13, QV_PROGRESS_KIND_NONE, {}},
        {14, QV_PROGRESS_KIND_NONE, {}},
        {15, QV_PROGRESS_KIND_NONE, {}},  // reads as state 0
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.state);
        StatsStore store;
        const QV_MIRROR_STAT s = Convert(store.Full(r.state));
        EXPECT_EQ(s.ProgressKind, r.kind);
        if (r.kind == QV_PROGRESS_KIND_VERIFY) {
            const QV_VERIFY_PROGRESS& v = s.Progress.Verify;
            EXPECT_EQ(v.State, 2u);
            EXPECT_EQ(v.Amount1KiB, 10u);
            EXPECT_EQ(v.Result, 0u);
        } else {
            QV_STAT_PROGRESS expected{};
            expected.Operation = r.progress;
            EXPECT_EQ(std::memcmp(&s.Progress, &expected, sizeof expected), 0);
        }
    }
}

TEST(MirrorStatConversion, OperationStateWithoutItsRecordKeepsProgressZero) {
    for (uint32_t state : {9u, 10u, 11u, 12u}) {
        SCOPED_TRACE(state);
        StatsStore store;
        RpcMirrorStats w = store.Full(state);
        w.VerifyProgress.VerifyProgress_len = 0;
        w.SnapshotProgress.SnapshotProgress_len = 0;
        w.RollbackProgress.RollbackProgress_len = 0;
        w.RestoreProgress.RestoreProgress_len = 0;
        const QV_MIRROR_STAT s = Convert(w);
        EXPECT_NE(s.ProgressKind, QV_PROGRESS_KIND_NONE);
        const QV_STAT_PROGRESS zero{};
        EXPECT_EQ(std::memcmp(&s.Progress, &zero, sizeof zero), 0);
    }
}

TEST(ProgressConversion, EachOperationKeepsItsOwnStateRange) {
    struct Row {
        LongOperation operation;
        uint32_t wire;
        uint32_t caller;
    };
    const Row rows[] = {
        {LongOperation::kRestore, 0, 0},           {LongOperation::kRestore, 1, 1},
        {LongOperation::kRestore, 4, 4},           {LongOperation::kRestore, 5, 0},
        {LongOperation::kRestore, 7, 0},           {LongOperation::kRollback, 0, 0},
        {LongOperation::kRollback, 1, 1},          {LongOperation::kRollback, 5, 5},
        {LongOperation::kRollback, 6, 0},          {LongOperation::kSnapshot, 0, 0},
        {LongOperation::kSnapshot, 4, 4},          {LongOperation::kSnapshot, 5, 0},
        {LongOperation::kSnapshot, 0xFFFFFFFF, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(r.operation) << ":" << r.wire);
        QV_PROGRESS out{};
        qv::ConvertProgress({0xEE, r.wire, 7, 8, 9}, r.operation, out);
        EXPECT_EQ(out.State, r.caller);
        EXPECT_EQ(out.Result, 7u);
        EXPECT_EQ(out.DirtyData, 8u);
        EXPECT_EQ(out.TotalDone, 9u);
    }
}

TEST(ProgressConversion, VerifyFieldsLandInTheirPlacesAndResultIsLeftAlone) {
    QV_VERIFY_PROGRESS out{};
    out.Result = 0xBEEF;
    qv::ConvertVerifyProgress(StatsStore::VerifySample(), out);
    EXPECT_EQ(out.State, 2u);
    EXPECT_EQ(out.Result, 0xBEEFu);
    EXPECT_EQ(out.Amount1KiB, 10u);
    EXPECT_EQ(out.Amount2KiB, 20u);
    EXPECT_EQ(out.Amount3KiB, 30u);
    EXPECT_EQ(out.Value1, 101u);
    EXPECT_EQ(out.Value2, 102u);
    EXPECT_EQ(out.Value3, 103u);
    EXPECT_EQ(out.Value4, 104u);
    EXPECT_EQ(out.Value5, 105u);
    EXPECT_EQ(out.Value6KiB, 6u);
    EXPECT_EQ(out.Count, 0x123456789u);

    for (const auto& [wire, caller] :
         {std::pair{0u, 0u}, {1u, 1u}, {3u, 3u}, {4u, 0u}, {0xFFFFFFFFu, 0u}}) {
        RpcVerifyProgress v{};
        v.State = wire;
        v.Value6 = 0xFFFFFFFF;
        qv::ConvertVerifyProgress(v, out);
        EXPECT_EQ(out.State, caller) << wire;
        EXPECT_EQ(out.Value6KiB, 0x3FFFFFu);
    }
}

// ---- qvGetMirrorStat --------------------------------------------------------

using MirrorStat = qvtest::MirrorHandleTest;

TEST_F(MirrorStat, ConvertsTheReplyForTheNamedProtection) {
    StatsStore store;
    RpcMirrorStats reply = store.Full(3);
    reply.Condition = 8;
    reply.Amount1 = 4096;
    reply.Value4 = 44;
    svc.Answer<GET_MIRROR_STATS>(reply);

    QV_MIRROR_STAT stat;
    std::memset(&stat, 0xA5, sizeof stat);
    EXPECT_EQ(qvGetMirrorStat(handle, u"Harddisk2", 4, &stat), 0u);

    auto req = svc.Last<GET_MIRROR_STATS>();
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(req->kind, 0u);
    EXPECT_EQ(Text(req->name), u"Harddisk2");
    EXPECT_EQ(req->number, 4u);
    EXPECT_EQ(req->token, qvtest::kMirrorToken);

    EXPECT_EQ(stat.State, 3u);
    EXPECT_EQ(stat.Condition, 2u);
    EXPECT_EQ(stat.Amount1KiB, 4u);
    EXPECT_EQ(stat.Value4, 44u);
    EXPECT_EQ(stat.ProgressKind, QV_PROGRESS_KIND_NONE);
    const QV_STAT_PROGRESS zero{};  // the earlier contents are gone
    EXPECT_EQ(std::memcmp(&stat.Progress, &zero, sizeof zero), 0);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorStat, RestoringProtectionWritesItsProgressLine) {
    StatsStore store;
    RpcMirrorStats reply = store.Full(9);
    *reply.RestoreProgress.RestoreProgress_val = {0xEE, 7, 0x2A, 100, 200};
    svc.Answer<GET_MIRROR_STATS>(reply);

    QV_MIRROR_STAT stat{};
    EXPECT_EQ(qvGetMirrorStat(handle, u"Harddisk2", 4, &stat), 0u);
    EXPECT_EQ(stat.ProgressKind, QV_PROGRESS_KIND_RESTORE);
    EXPECT_EQ(stat.Progress.Operation.State, 0u);  // 7 is outside the restore range
    EXPECT_EQ(trace.Lines(), std::vector<std::u16string>{u"Restore Disk Progress, Harddisk2:4 "
                                                         u"return:0000002A state:0 "
                                                         u"dirtyData:100 totalDone:200"});
}

TEST_F(MirrorStat, FailureLeavesTheRecordZero) {
    struct Row {
        Fault fault;  // kNone: the service refuses
        uint32_t status;
        std::vector<std::u16string> lines;
    };
    const Row rows[] = {
        {Fault::kNone, 0x6FFC0040, {u"RPC_GetMirrorStats, get mirror statistics error[6FFC0040]"}},
        {Fault::kGarbage,
         QV_STATUS_RPC_FAILED,
         {u"Error, rpc call error, client status[00000002]",
          u"RPC_GetMirrorStats, get mirror statistics error[6FFC8005]"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.fault));
        StatsStore store;
        RpcMirrorStats reply = store.Full(9);
        reply.status = r.status;
        svc.Answer<GET_MIRROR_STATS>(reply);
        if (r.fault != Fault::kNone) svc.Misbehave(GET_MIRROR_STATS, r.fault);
        const size_t before = trace.Lines().size();

        QV_MIRROR_STAT stat;
        std::memset(&stat, 0xA5, sizeof stat);
        EXPECT_EQ(qvGetMirrorStat(handle, u"Harddisk2", 4, &stat), r.status);
        const QV_MIRROR_STAT zero{};
        EXPECT_EQ(std::memcmp(&stat, &zero, sizeof zero), 0);
        const auto lines = trace.Lines();
        EXPECT_EQ(std::vector(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()),
                  r.lines);
    }
}

TEST_F(MirrorStat, NoMemoryForTheNameSendsNothing) {
    QV_MIRROR_STAT stat;
    std::memset(&stat, 0xA5, sizeof stat);
    qv::alloc_fault::FailAt(1);
    EXPECT_EQ(qvGetMirrorStat(handle, u"Harddisk2", 4, &stat), QV_STATUS_NO_MEMORY);
    qv::alloc_fault::Reset();
    EXPECT_EQ(svc.TotalCalls(), 0u);
    const QV_MIRROR_STAT zero{};
    EXPECT_EQ(std::memcmp(&stat, &zero, sizeof zero), 0);
    EXPECT_EQ(trace.Lines(), std::vector<std::u16string>{
                                 u"RPC_GetMirrorStats, get mirror statistics error[EFFC0001]"});
}

TEST(MirrorStatRelease, KeepLeavesTheBlockAndZeroReleasesIt) {
    auto* stat = static_cast<QV_MIRROR_STAT*>(qv::AllocZeroed(1, sizeof(QV_MIRROR_STAT)));
    ASSERT_NE(stat, nullptr);
    QV_MIRROR_STAT* held = stat;
    EXPECT_EQ(qvFreeMirrorStat(&held, 1), 0u);
    EXPECT_EQ(held, stat);
    held->State = 1;  // still the caller's block
    EXPECT_EQ(qvFreeMirrorStat(&held, 0), 0u);
    EXPECT_EQ(held, nullptr);
}

}  // namespace
