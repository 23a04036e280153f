// The statistics record of a protection and the progress records, inside it
// and from the progress readers: the conversions' tables and arithmetic,
// then the readers' own lines against the test service.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "mirror_test_support.h"
#include "mirrors/mirror_stat_conversion.h"
#include "mirrors/progress_conversion.h"

using qvtest::Lines;

namespace {

// A statistics record with one element in every array and a distinct
// figure in every progress, so that the progress read shows where it came
// from. Its arrays live as long as it does.
struct FullStats {
    explicit FullStats(uint32_t state) {
        w.State = state;
        w.Io1 = {1, &io[0]};
        w.Io2 = {1, &io[1]};
        w.Io3 = {1, &io[2]};
        w.Io4 = {1, &io[3]};
        w.VerifyProgress = {1, &verify};
        w.SnapshotProgress = {1, &progress[0]};
        w.RollbackProgress = {1, &progress[1]};
        w.RestoreProgress = {1, &progress[2]};
    }
    FullStats(const FullStats&) = delete;
    QV_MIRROR_STAT Convert() const {
        QV_MIRROR_STAT out{};
        qv::ConvertMirrorStats(w, out);
        return out;
    }

    RpcMirrorStats w{};
    RpcIoCounters io[4]{};
    RpcProgress progress[3] = {{0xEE, 4, 41, 42, 43}, {0xEE, 5, 51, 52, 53}, {0xEE, 3, 31, 32, 33}};
    RpcVerifyProgress verify{0xEE, 2,   0x7777777, 10 << 10, 20 << 10, 30 << 10, 0x123456789LL,
                             101,  102, 103,       104,      105,      6 << 10};
};

TEST(MirrorStatConversion, StateAndConditionAreRenumbered) {
    const struct {
        uint32_t wire, state, condition;
    } rows[] = {
        {0, 0, 0}, {1, 1, 1}, {2, 2, 3}, {3, 3, 4},   {4, 4, 5},   {5, 5, 6},  {6, 6, 7},
        {7, 7, 8}, {8, 8, 2}, {9, 9, 9}, {10, 10, 0}, {14, 14, 0}, {15, 0, 0}, {0xFFFFFFFF, 0, 0},
    };
    for (const auto& r : rows) {
        RpcMirrorStats w{};
        w.State = w.Condition = r.wire;
        QV_MIRROR_STAT out{};
        qv::ConvertMirrorStats(w, out);
        EXPECT_EQ(std::tuple(out.State, out.Condition), std::tuple(r.state, r.condition)) << r.wire;
    }
}

// Every byte amount becomes KiB through an unsigned 64-bit division whose
// low 32 bits are kept: the statistics' two amounts, each counter block's
// two amounts and the verify progress's three.
TEST(MirrorStatConversion, ByteAmountsBecomeKiBCutToThirtyTwoBits) {
    const std::pair<int64_t, uint32_t> rows[] = {
        {1023, 0},
        {1024, 1},
        {(int64_t{1} << 42) - 1, 0xFFFFFFFF},  // the largest that fits
        {(int64_t{1} << 42) + 2048, 2},        // 2^32 KiB and more: only the low bits remain
        {-1, 0xFFFFFFFF},                      // read as 2^64 - 1, not as a negative amount
        {INT64_MIN, 0},                        // 2^63 bytes is 2^53 KiB
    };
    for (const auto& [bytes, kib] : rows) {
        SCOPED_TRACE(bytes);
        FullStats s(10);
        s.w.Amount1 = s.w.Amount2 = bytes;
        for (RpcIoCounters& io : s.io) io.Bytes1 = io.Bytes2 = bytes;
        s.verify.Amount1 = s.verify.Amount2 = s.verify.Amount3 = bytes;
        const QV_MIRROR_STAT out = s.Convert();
        EXPECT_EQ(std::tuple(out.Amount1KiB, out.Amount2KiB), std::tuple(kib, kib));
        for (const QV_IO_COUNTERS* io : {&out.Io1, &out.Io2, &out.Io3, &out.Io4}) {
            EXPECT_EQ(std::tuple(io->KiB1, io->KiB2), std::tuple(kib, kib));
        }
        const QV_VERIFY_PROGRESS& v = out.Progress.Verify;
        EXPECT_EQ(std::tuple(v.Amount1KiB, v.Amount2KiB, v.Amount3KiB), std::tuple(kib, kib, kib));
    }
}

// Divisor1 times the first and third blocks, Divisor2 the second and
// fourth; a zero divisor leaves the rates 0. 1024 and 2048 KiB everywhere.
TEST(MirrorStatConversion, RatesDivideKiBByTheirBlocksDivisor) {
    const struct {
        uint32_t divisor1, divisor2;
        std::tuple<uint32_t, uint32_t> rates13, rates24;
    } rows[] = {
        {4, 0, {256, 512}, {0, 0}},
        {3, 1000, {341, 682}, {1, 2}},
        {0xFFFFFFFF, 1, {0, 0}, {1024, 2048}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.divisor1 << "/" << r.divisor2);
        FullStats s(1);
        for (RpcIoCounters& io : s.io) io = {1048576, 2 * 1048576, 0, 0, 0};
        s.w.Divisor1 = r.divisor1;
        s.w.Divisor2 = r.divisor2;
        const QV_MIRROR_STAT out = s.Convert();
        for (const QV_IO_COUNTERS* io : {&out.Io1, &out.Io3}) {
            EXPECT_EQ(std::tuple(io->Rate1, io->Rate2), r.rates13);
        }
        for (const QV_IO_COUNTERS* io : {&out.Io2, &out.Io4}) {
            EXPECT_EQ(std::tuple(io->Rate1, io->Rate2), r.rates24);
        }
    }
}

// The state picks the progress it carries; without its record the kind is
// still set and the progress stays zero.
TEST(MirrorStatConversion, StateSelectsTheProgressItCarries) {
    const struct {
        uint32_t state, kind;
        QV_PROGRESS progress;  // when the kind is not verify
    } rows[] = {
        {9, QV_PROGRESS_KIND_RESTORE, {3, 31, 32, 33}},
        {11, QV_PROGRESS_KIND_ROLLBACK, {5, 51, 52, 53}},
        {12, QV_PROGRESS_KIND_SNAPSHOT, {4, 41, 42, 43}},
        {10, QV_PROGRESS_KIND_VERIFY, {}},
        {8, QV_PROGRESS_KIND_NONE, {}},
        {13, QV_PROGRESS_KIND_NONE, {}},
        {15, QV_PROGRESS_KIND_NONE, {}},  // reads as state 0
    };
    for (const auto& r : rows) {
        for (bool with_record : {true, false}) {
            SCOPED_TRACE(testing::Message() << r.state << (with_record ? "" : " without record"));
            FullStats s(r.state);
            if (!with_record) {
                s.w.VerifyProgress.VerifyProgress_len = s.w.SnapshotProgress.SnapshotProgress_len =
                    s.w.RollbackProgress.RollbackProgress_len =
                        s.w.RestoreProgress.RestoreProgress_len = 0;
            }
            const QV_MIRROR_STAT out = s.Convert();
            EXPECT_EQ(out.ProgressKind, r.kind);
            QV_STAT_PROGRESS expected{};
            if (with_record && r.kind == QV_PROGRESS_KIND_VERIFY) {
                qv::ConvertVerifyProgress(s.verify, expected.Verify);
            } else if (with_record) {
                expected.Operation = r.progress;
            }
            EXPECT_EQ(std::memcmp(&out.Progress, &expected, sizeof expected), 0);
        }
    }
}

// The figures pass unchanged, the counters' signed 64-bit counts read
// unsigned; a state without an operation carries no progress.
TEST(MirrorStatConversion, FiguresAndCountsPassUnchanged) {
    FullStats s(3);
    s.w.Condition = 8;
    std::tie(s.w.Value1, s.w.Value2, s.w.Value3, s.w.Value4, s.w.Value5, s.w.Value6) =
        std::tuple(1, 2, 3, 4, 5, 0xFFFFFFFF);
    s.w.Unread1 = s.w.Unread2 = s.w.Unread3 = s.w.Unread4 = s.w.Unread5 = 9;
    s.io[2] = {0, 0, -1, INT64_MAX, int64_t{1} << 40};
    const QV_MIRROR_STAT stat = s.Convert();
    EXPECT_EQ(std::tuple(stat.State, stat.Condition, stat.ProgressKind, stat.Value1, stat.Value2,
                         stat.Value3, stat.Value4, stat.Value5, stat.Value6),
              std::tuple(3u, 2u, uint32_t{QV_PROGRESS_KIND_NONE}, 1u, 2u, 3u, 4u, 5u, 0xFFFFFFFFu));
    EXPECT_EQ(std::tuple(stat.Io3.Count1, stat.Io3.Count2, stat.Io3.Count3),
              std::tuple(UINT64_MAX, uint64_t{INT64_MAX}, uint64_t{1} << 40));
    const QV_STAT_PROGRESS zero{};
    EXPECT_EQ(std::memcmp(&stat.Progress, &zero, sizeof zero), 0);
}

TEST(ProgressConversion, VerifyFieldsLandInTheirPlacesAndResultIsLeftAlone) {
    FullStats s(10);
    QV_VERIFY_PROGRESS out{};
    out.Result = 0xBEEF;
    qv::ConvertVerifyProgress(s.verify, out);
    EXPECT_EQ(std::tuple(out.State, out.Result, out.Amount1KiB, out.Amount2KiB, out.Amount3KiB,
                         out.Value1, out.Value2, out.Value3, out.Value4, out.Value5, out.Value6KiB,
                         out.Count),
              std::tuple(2u, 0xBEEFu, 10u, 20u, 30u, 101u, 102u, 103u, 104u, 105u, 6u,
                         uint64_t{0x123456789}));
    for (const auto& [wire, caller] : {std::pair{0u, 0u}, {1u, 1u}, {3u, 3u}, {4u, 0u}}) {
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

TEST_F(MirrorStat, RestoringProtectionWritesItsProgressLine) {
    FullStats reply(9);
    reply.progress[2] = {0xEE, 7, 0x2A, 100, 200};
    svc.Answer<GET_MIRROR_STATS>(reply.w);
    QV_MIRROR_STAT stat{};
    EXPECT_EQ(qvGetMirrorStat(handle, u"Harddisk2", 4, &stat), 0u);
    EXPECT_EQ(stat.ProgressKind, QV_PROGRESS_KIND_RESTORE);
    EXPECT_EQ(stat.Progress.Operation.State, 0u);  // 7 is outside the restore range
    EXPECT_EQ(trace.Lines(), Lines{u"Restore Disk Progress, Harddisk2:4 return:0000002A state:0 "
                                   u"dirtyData:100 totalDone:200"});
}

// The verify's error state is logged with the caller's own Result, which no
// reply field feeds.
TEST_F(MirrorStat, VerifyErrorStateIsLoggedWithTheCallersResult) {
    for (const auto& [wire_state, state] : {std::pair{2u, 2u}, {3u, 3u}, {4u, 0u}}) {
        SCOPED_TRACE(wire_state);
        RpcVerifyProgress reply{};
        reply.State = wire_state;
        reply.Amount1 = 1 << 20;
        svc.Answer<GET_VERIFY_PROGRESS>(reply);
        const std::uintmax_t before = trace.End();
        QV_VERIFY_PROGRESS progress;
        std::memset(&progress, 0xA5, sizeof progress);
        EXPECT_EQ(qvGetVerifyProgress(handle, u"Harddisk2", 4, &progress), 0u);
        EXPECT_EQ(std::tuple(progress.State, progress.Result, progress.Amount1KiB),
                  std::tuple(state, 0xA5A5A5A5u, 1024u));
        EXPECT_EQ(trace.LinesAfter(before),
                  state == 3
                      ? Lines{u"Verify progress encounters error, state, 3, return, A5A5A5A5"}
                      : Lines{});
    }
}

// A progress reader of Harddisk1:2, or of the group G1.
template <auto F>
QV_STATUS OfDisk(QV_HANDLE h, QV_PROGRESS* p) {
    return F(h, u"Harddisk1", 2, p);
}
template <auto F>
QV_STATUS OfGroup(QV_HANDLE h, QV_PROGRESS* p) {
    return F(h, u"G1", p);
}

// Each progress reader keeps the state within its operation's range (1 to 4
// for a restore or a snapshot, 1 to 5 for a rollback) and writes its figures
// in its own words: that state (the restore's as received), the result in
// unsigned decimal.
TEST_F(MirrorStat, ProgressReadersWriteTheirLines) {
    const std::u16string snapshot = u"Snapshot Disk, Harddisk1:2, return:4294967280 state:";
    const std::u16string rollback = u"Rollback Disk, Harddisk1:2, return:4294967280 state:";
    const std::u16string restore = u"Restore Disk, Harddisk1:2, return:4294967280 status:";
    const std::u16string group_snap = u"Snapshot Group:G1, return:4294967280 state:";
    const std::u16string group_back = u"Rollback group, G1, return:4294967280 state:";
    const struct {
        QV_STATUS (*read)(QV_HANDLE, QV_PROGRESS*);
        unsigned proc;
        uint32_t wire_state, state;
        std::u16string line;  // followed by the figures
    } rows[] = {
        {OfDisk<qvGetSnapshotProgress>, GET_SNAPSHOT_PROGRESS, 4, 4, snapshot + u"4"},
        {OfDisk<qvGetSnapshotProgress>, GET_SNAPSHOT_PROGRESS, 5, 0, snapshot + u"0"},
        {OfDisk<qvGetRollbackProgress>, GET_ROLLBACK_PROGRESS, 5, 5, rollback + u"5"},
        {OfDisk<qvGetRollbackProgress>, GET_ROLLBACK_PROGRESS, 6, 0, rollback + u"0"},
        {OfDisk<qvGetRestorePrimaryProgress>, GET_RESTORE_PRIMARY_PROGRESS, 4, 4, restore + u"4"},
        {OfDisk<qvGetRestorePrimaryProgress>, GET_RESTORE_PRIMARY_PROGRESS, 5, 0, restore + u"5"},
        {OfGroup<qvGetGroupSnapshotProgress>, GET_GROUP_SNAPSHOT_PROGRESS, 5, 0, group_snap + u"0"},
        {OfGroup<qvGetGroupRollbackProgress>, GET_GROUP_ROLLBACK_PROGRESS, 5, 5, group_back + u"5"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.line.begin(), r.line.end()));
        const RpcProgress reply{0, r.wire_state, 0xFFFFFFF0u, 7, 9};
        svc.AnswerRaw(r.proc, qvtest::Encode(reinterpret_cast<xdrproc_t>(xdr_RpcProgress), &reply));
        QV_PROGRESS progress;
        std::memset(&progress, 0xA5, sizeof progress);
        ASSERT_EQ(r.read(handle, &progress), 0u);
        EXPECT_EQ(
            std::tuple(progress.State, progress.Result, progress.DirtyData, progress.TotalDone),
            std::tuple(r.state, 0xFFFFFFF0u, 7u, 9u));
        EXPECT_EQ(trace.Lines().back(), r.line + u" dirtyData:7 totalDone:9");
    }
}

}  // namespace
