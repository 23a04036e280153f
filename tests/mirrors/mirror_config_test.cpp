// Mirror configuration: what enable and change send, what the list reads
// back, the snapshot schedule record both ways, the list kinds and the
// replies that contradict themselves; what the other requests of the family
// carry beyond the object and the token; the statistics record and the
// progress records, inside it and from the progress readers. The rules
// every function shares run over the table of functions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <tuple>

#include "mirrors/mirror_stat_conversion.h"
#include "mirrors/mirror_test_support.h"
#include "mirrors/progress_conversion.h"
#include "platform/alloc.h"
#include "support/sample_replies.h"

using qvtest::Count;
using qvtest::kAll;
using qvtest::kMirrorToken;
using qvtest::Lines;
using qvtest::SampleConfig;
using qvtest::Text;

namespace {

using MirrorConfig = qvtest::MirrorHandleTest;

// The sample list with its record or configurations changed by `edit`.
template <typename Edit>
qvtest::Bytes EditedList(Edit&& edit) {
    std::vector<RpcMirrorConfig> configs;
    return qvtest::EditReply<GET_MIR_CONFIG_LIST>(
        qvtest::SampleReply(GET_MIR_CONFIG_LIST), [&](RpcMirrorConfigList& l) {
            configs.assign(l.Configs.Configs_val, l.Configs.Configs_val + l.Configs.Configs_len);
            l.Configs.Configs_val = configs.data();
            edit(l, configs);
        });
}

// Enable and change side by side: both send an RpcMirrorConfig.
struct Sender {
    const char* name;
    unsigned proc;
    QV_STATUS (*send)(QV_HANDLE, const QV_MIRROR_ENABLE&);
    qvtest::Decoded<RpcMirrorConfig> (*last)(const qvtest::TestService&);
};

const Sender kSenders[] = {
    {"qvEnableMirror", ENABLE_MIRROR,
     [](QV_HANDLE h, const QV_MIRROR_ENABLE& e) { return qvEnableMirror(h, &e); },
     [](const qvtest::TestService& svc) { return svc.Last<ENABLE_MIRROR>(); }},
    {"qvChangeMirrorConfig", CHANGE_MIRROR_CONFIG,
     [](QV_HANDLE h, const QV_MIRROR_ENABLE& e) { return qvChangeMirrorConfig(h, &e.Config); },
     [](const qvtest::TestService& svc) { return svc.Last<CHANGE_MIRROR_CONFIG>(); }},
};

// A sent text: null as no units, otherwise with its terminator.
void ExpectText(const RpcWString& sent, const char16_t* text) {
    EXPECT_EQ(Count(sent), text == nullptr ? 0u : std::u16string(text).size() + 1);
    EXPECT_EQ(Text(sent), text == nullptr ? u"" : text);
}

// A name always travels, a missing one as the lone terminator.
void ExpectRef(const RpcObjectRef& ref, const QV_OBJECT_ID& id) {
    const std::u16string name = id.name == nullptr ? u"" : id.name;
    EXPECT_EQ(qvtest::Nested(ref), std::tuple(0u, name, name.size() + 1, id.number, 0u));
}

// Enable sends Text4 and the options as booleans; change sends neither.
// MirrorKind outside 1 and 2 goes as 0, a switch as 0 or 1; a null text as
// no units.
TEST_F(MirrorConfig, EveryFieldTravelsUnderItsName) {
    const struct {
        uint32_t kind, switch1, switch2, kind_sent, switch1_sent, switch2_sent;
        const char16_t* text;
    } rows[] = {{2, 1, 0, 2, 1, 0, nullptr},  // the sample's texts, each distinct
                {1, 7, 0x80000000, 1, 1, 1, u""},
                {0, 0xFFFFFFFF, 2, 0, 1, 1, nullptr},
                {3, 0, 1, 0, 0, 1, u"ab"},
                {0xFFFFFFFF, 0, 0, 0, 0, 0, u"x"}};
    for (const Sender& s : kSenders) {
        for (const auto& r : rows) {
            SCOPED_TRACE(::testing::Message() << s.name << " kind " << r.kind);
            QV_MIRROR_ENABLE e{SampleConfig(), 1, 7, 0xFFFFFFFF, 0};
            e.Config.MirrorKind = r.kind;
            e.Config.Switch1 = r.switch1;
            e.Config.Switch2 = r.switch2;
            if (&r != &rows[0]) {
                e.Config.Text1 = e.Config.Text2 = e.Config.Text3 = e.Config.Text4 = r.text;
                e.Config.Primary.name = r.text;
            }
            ASSERT_EQ(s.send(handle, e), 0u);
            auto req = s.last(svc);
            QV_MIRROR_CONFIG sent = e.Config;
            sent.MirrorKind = r.kind_sent;
            sent.Switch1 = r.switch1_sent;
            sent.Switch2 = r.switch2_sent;
            EXPECT_EQ(qvtest::SharedFields(*req), qvtest::SharedFields(sent));
            EXPECT_EQ(req->ScheduleMode, sent.Schedule.Mode);
            ASSERT_EQ(req->Schedules.Schedules_len, 1u);
            EXPECT_EQ(qvtest::ScheduleFields(req->Schedules.Schedules_val[0]),
                      qvtest::ScheduleFields(sent.Schedule));
            ASSERT_EQ(req->Primaries.Primaries_len, 1u);
            ExpectRef(req->Primaries.Primaries_val[0], sent.Primary);
            ASSERT_EQ(req->Mirrors.Mirrors_len, 1u);
            ExpectRef(req->Mirrors.Mirrors_val[0], sent.Mirror);
            ExpectText(req->Text1, e.Config.Text1);
            ExpectText(req->Text2, e.Config.Text2);
            ExpectText(req->Text3, e.Config.Text3);
            EXPECT_EQ(std::tuple(req->status, req->token, req->Spare1, req->Spare2),
                      std::tuple(0u, kMirrorToken, 0u, 0u));
            const bool enable = &s == &kSenders[0];
            ExpectText(req->Text4, enable ? e.Config.Text4 : nullptr);
            EXPECT_EQ(std::tuple(req->EnableOption1, req->EnableOption2, req->EnableOption3,
                                 req->EnableOption4),
                      enable ? std::tuple(1u, 1u, 1u, 0u) : std::tuple(0u, 0u, 0u, 0u));
        }
    }
    EXPECT_EQ(svc.Calls(ENABLE_MIRROR), 5u);
    EXPECT_TRUE(trace.Lines().empty());
}

// LimitOn is a promise that Limit is set; it is never sent.
TEST_F(MirrorConfig, LimitOnPromisesALimit) {
    const struct {
        uint32_t limit_on, limit, status;
    } rows[] = {{1, 0, QV_STATUS_INVALID_PARAMETER},
                {7, 0, QV_STATUS_INVALID_PARAMETER},
                {1, 5, 0},
                {0, 5, 0},
                {0, 0, 0}};
    for (const Sender& s : kSenders) {
        for (const auto& r : rows) {
            SCOPED_TRACE(::testing::Message() << s.name << " " << r.limit_on << "/" << r.limit);
            const std::size_t calls = svc.Calls(s.proc);
            QV_MIRROR_ENABLE e{SampleConfig(), 1, 1, 1, 1};
            e.Config.LimitOn = r.limit_on;
            e.Config.Limit = r.limit;
            EXPECT_EQ(s.send(handle, e), r.status);
            ASSERT_EQ(svc.Calls(s.proc), calls + (r.status == 0 ? 1 : 0));
            if (r.status == 0) {
                EXPECT_EQ(s.last(svc)->Limit, r.limit);
            }
        }
    }
    EXPECT_TRUE(trace.Lines().empty());  // a refusal is the caller's to report
}

TEST_F(MirrorConfig, RunningOutOfMemoryWhileFillingSendsNothing) {
    // The fill's allocations, in order: primary and its name, mirror and its
    // name, Text2, Text3, Text1, the schedule, and Text4 for enable only.
    for (const Sender& s : kSenders) {
        const QV_MIRROR_ENABLE e{SampleConfig(), 1, 1, 1, 1};
        qv::alloc_fault::Reset();
        ASSERT_EQ(s.send(handle, e), 0u);
        const unsigned allocations = &s == &kSenders[0] ? 9 : 8;
        ASSERT_EQ(qv::alloc_fault::Count(), allocations) << s.name;
        for (unsigned n = 1; n <= allocations; ++n) {
            SCOPED_TRACE(::testing::Message() << s.name << " allocation " << n);
            const std::size_t calls = svc.Calls(s.proc);
            const std::uintmax_t before = trace.End();
            qv::alloc_fault::FailAt(n);
            EXPECT_EQ(s.send(handle, e), QV_STATUS_NO_MEMORY);
            qv::alloc_fault::Reset();
            EXPECT_EQ(svc.Calls(s.proc), calls);
            EXPECT_EQ(
                trace.LinesAfter(before),
                Lines{n == 3 || n == 4 ? u"__FillRpcMirrorConfig, no enought momory for allocation"
                                       : u"__FillRpcMirrorConfig, no memory for allocation"});
        }
    }
}

// ---- the list ----------------------------------------------------------------

// Kind 1 sends the object, the other served kinds none, and never the
// filter's name; kinds the list does not serve are refused before sending,
// the list emptied.
TEST_F(MirrorConfig, ListSendsTheObjectForKindOneOnly) {
    QV_MIRROR_CONFIG sentinel{};
    for (uint32_t kind : {0u, 1u, 4u, 254u, 2u, 3u, 255u}) {
        SCOPED_TRACE(kind);
        const bool served = kind != 2 && kind != 3 && kind != 255;
        const std::size_t calls = svc.TotalCalls();
        const QV_CONFIG_FILTER filter{kind, u"NotRead", {u"Harddisk5", 6}};
        QV_MIRROR_CONFIG_LIST list{4, &sentinel};
        EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list),
                  served ? 0u : QV_STATUS_INVALID_PARAMETER);
        EXPECT_EQ(std::tuple(list.Count, list.Entries), std::tuple(0u, nullptr));
        ASSERT_EQ(svc.TotalCalls(), calls + (served ? 1 : 0));
        if (!served) continue;
        auto req = svc.Last<GET_MIR_CONFIG_LIST>();
        EXPECT_EQ(std::tuple(req->Kind, req->token, Count(req->Name)),
                  std::tuple(kind, kMirrorToken, 0u));
        EXPECT_EQ(req->Objects.Objects_len, kind == 1 ? 1u : 0u);
    }
    EXPECT_TRUE(trace.Lines().empty());
}

// Every field of a listed configuration under its name (the sample's
// values are distinct): switches as the service holds them, the schedule's
// own Mode rather than the record's copy, LimitOn from Limit, no text as
// null, only the first element of each array.
TEST_F(MirrorConfig, ListConvertsEveryFieldUnderItsName) {
    svc.AnswerRaw(GET_MIR_CONFIG_LIST, qvtest::SampleReply(GET_MIR_CONFIG_LIST));
    QV_MIRROR_CONFIG_LIST list{};
    ASSERT_EQ(qvGetMirConfigList(handle, &kAll, &list), 0u);
    ASSERT_EQ(list.Count, 3u);
    EXPECT_EQ(qvtest::SharedFields(list.Entries[0]),
              std::tuple(1u, -1, 2, -3, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 0x21u,
                         0x22u, 4096u));
    const auto describe = [](const QV_MIRROR_CONFIG& c) {
        const auto text = [](const QV_WCHAR* t) {
            return t == nullptr ? u"<null>" : std::u16string(t);
        };
        const auto [mode, p1, p2, p3, p4, p5, p6] = qvtest::ScheduleFields(c.Schedule);
        return std::tuple(text(c.Primary.name), c.Primary.number, text(c.Mirror.name),
                          c.Mirror.number, text(c.Text1), text(c.Text2), text(c.Text3),
                          text(c.Text4), c.MirrorKind, mode, p1 + p2 + p3 + p4 + p5 + p6, c.LimitOn,
                          c.Reserved1 + c.Reserved2);
    };
    EXPECT_EQ(describe(list.Entries[0]),
              std::tuple(u"Harddisk0", 1u, u"Harddisk1", 1u, u"first", u"second", u"third",
                         u"fourth", 1u, 2u, 621u, 1u, 0u));
    EXPECT_EQ(describe(list.Entries[1]),
              std::tuple(u"Harddisk2", 2u, u"Harddisk3", 2u, u"", u"<null>", u"<null>", u"<null>",
                         0u, 0u, 1221u, 0u, 0u));
    EXPECT_EQ(describe(list.Entries[2]),
              std::tuple(u"Harddisk4", 3u, u"Harddisk5", 3u, u"first", u"second", u"third",
                         u"fourth", 2u, 3u, 1821u, 1u, 0u));
    EXPECT_EQ(qvtest::ScheduleFields(list.Entries[0].Schedule),
              std::tuple(2u, 101u, 102u, 103u, 104u, 105u, 106u));
    qvtest::ReleaseKept(qvFreeMirConfigList, list);
}

// Count decides how many configurations are walked; the walked ones are
// checked, before anything is allocated, against what was decoded.
TEST_F(MirrorConfig, ListChecksItsCountAndRecords) {
    using Edit = std::function<void(RpcMirrorConfigList&, std::vector<RpcMirrorConfig>&)>;
    const struct {
        const char* what;
        Edit edit;
        uint32_t listed;  // ~0u: refused
    } rows[] = {
        {"broken record beyond Count",
         [](auto& l, auto& c) {
             l.Count = 1;
             c[1].Primaries = {};
         },
         1},
        {"Count 0", [](auto& l, auto&) { l.Count = 0; }, 0},
        {"count beyond the array", [](auto& l, auto&) { l.Count = 4; }, ~0u},
        {"count without an array", [](auto& l, auto&) { l.Configs = {}; }, ~0u},
        {"no primary", [](auto&, auto& c) { c[1].Primaries = {}; }, ~0u},
        {"no mirror", [](auto&, auto& c) { c[1].Mirrors = {}; }, ~0u},
        {"no schedule", [](auto&, auto& c) { c[1].Schedules = {}; }, ~0u},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        svc.AnswerRaw(GET_MIR_CONFIG_LIST, EditedList(r.edit));
        const std::uintmax_t before = trace.End();
        QV_MIRROR_CONFIG_LIST list{};
        const bool refused = r.listed == ~0u;
        EXPECT_EQ(qvGetMirConfigList(handle, &kAll, &list), refused ? QV_STATUS_RPC_FAILED : 0u);
        EXPECT_EQ(list.Count, refused ? 0u : r.listed);
        EXPECT_EQ(trace.LinesAfter(before),
                  refused
                      ? Lines{u"qvGetMirConfigList, invalid mirror configuration list[6FFC8005]"}
                      : Lines{});
        qvtest::ReleaseKept(qvFreeMirConfigList, list);
    }
}

// Only the request's reference has an out-of-memory line of its own: a
// block or a copy of the list that the heap refuses ends the call with the
// list empty and no line.
TEST_F(MirrorConfig, ListOutOfMemoryWritesALineOnlyForTheRequest) {
    svc.AnswerRaw(GET_MIR_CONFIG_LIST, qvtest::SampleReply(GET_MIR_CONFIG_LIST));
    const QV_CONFIG_FILTER filter{1, nullptr, {u"Harddisk5", 6}};
    QV_MIRROR_CONFIG_LIST list{};
    qv::alloc_fault::Reset();
    ASSERT_EQ(qvGetMirConfigList(handle, &filter, &list), 0u);
    const unsigned allocations = qv::alloc_fault::Count();
    qvtest::ReleaseKept(qvFreeMirConfigList, list);
    for (unsigned n = 1; n <= allocations; ++n) {
        const std::uintmax_t before = trace.End();
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), QV_STATUS_NO_MEMORY) << n;
        qv::alloc_fault::Reset();
        EXPECT_EQ(
            trace.LinesAfter(before),
            n <= 2 ? Lines{u"qvGetMirConfigList, no more memory for memory allocation"} : Lines{})
            << n;
    }
}

// The schedule's mode travels reduced to 1..3 (the list reads it back the
// same way); its spares and GroupParam go as 0.
TEST_F(MirrorConfig, ScheduleModeIsReducedOnTheWayOut) {
    const std::pair<uint32_t, uint32_t> modes[] = {{0, 0}, {1, 1}, {2, 2},    {3, 3},
                                                   {4, 0}, {7, 0}, {0x10, 0}, {0xFFFFFFFF, 0}};
    for (const auto& [mode, reduced] : modes) {
        SCOPED_TRACE(mode);
        QV_MIRROR_CONFIG config = SampleConfig();
        config.Schedule = {mode, 11, 22, 33, 44, 55, 66};
        ASSERT_EQ(qvChangeMirrorConfig(handle, &config), 0u);
        auto req = svc.Last<CHANGE_MIRROR_CONFIG>();
        EXPECT_EQ(req->ScheduleMode, reduced);
        ASSERT_EQ(req->Schedules.Schedules_len, 1u);
        const RpcSnapshotSchedule& sent = req->Schedules.Schedules_val[0];
        EXPECT_EQ(qvtest::ScheduleFields(sent), std::tuple(reduced, 11u, 22u, 33u, 44u, 55u, 66u));
        EXPECT_EQ(std::tuple(sent.Spare1, sent.GroupParam, sent.Spare2, sent.Spare3, sent.Spare4),
                  std::tuple(0u, 0u, 0u, 0u, 0));
    }
    EXPECT_TRUE(trace.Lines().empty());
}

// ---- verify, restore and the data trace configuration -----------------------

const QV_RESTORE_REQUEST kRestore{{u"Harddisk2", 4}, -3, {u"Harddisk5", 0}, 5, 0xFFFFFFFF, -7};

TEST_F(MirrorConfig, VerifyCarriesTheObjectModeAndOptionsAsBooleans) {
    const struct {
        int32_t option1, option2;
        unsigned sent1, sent2;
    } rows[] = {{5, 0, 1, 0}, {0, -1, 0, 1}, {1, 1, 1, 1}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.option1 << "," << r.option2);
        const QV_VERIFY_REQUEST request{{u"Harddisk2", 4}, 0xDEADBEEF, r.option1, r.option2};
        EXPECT_EQ(qvVerifyData(handle, &request), 0u);
        auto req = svc.Last<VERIFY_DATA>();
        EXPECT_EQ(std::tuple(req->Mode, req->Option1, req->Option2, req->token),
                  std::tuple(0xDEADBEEFu, r.sent1, r.sent2, kMirrorToken));
    }
}

TEST_F(MirrorConfig, RestoreCarriesBothObjectsAndTheFiguresUnchanged) {
    EXPECT_EQ(qvRestorePrimary(handle, &kRestore), 0u);
    auto req = svc.Last<RESTORE_PRIMARY>();
    ASSERT_EQ(req->Counterparts.Counterparts_len, 1u);
    EXPECT_EQ(qvtest::Nested(req->Counterparts.Counterparts_val[0]),
              std::tuple(0u, u"Harddisk5", 10u, 0u, 0u));
    EXPECT_EQ(std::tuple(req->Mode, req->Option1, req->Option2, req->Option3, req->token),
              std::tuple(-3, 5u, 0xFFFFFFFFu, -7, kMirrorToken));
}

// The count the service takes by default fills in for 0; a missing text goes
// as no units, an empty one with its terminator.
TEST_F(MirrorConfig, SetSendsTheObjectOptionTextAndCount) {
    QV_WCHAR path[] = u"trace path";
    QV_WCHAR empty[] = u"";
    const struct {
        QV_WCHAR* text;
        uint32_t count, sent_count;
    } rows[] = {{path, 3, 3}, {nullptr, 0, 5}, {empty, 1, 1}, {nullptr, 0xFFFFFFFF, 0xFFFFFFFF}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.count);
        const QV_DATA_TRACE_CONFIG config{-5, r.text, r.count};
        EXPECT_EQ(qvSetDataTraceConfig(handle, u"Harddisk2", 4, &config), 0u);
        auto req = svc.Last<SET_DATA_TRACE_CONFIG>();
        EXPECT_EQ(std::tuple(req->status, req->token, req->Option, req->Count),
                  std::tuple(0u, qvtest::kMirrorToken, -5, r.sent_count));
        const std::u16string text = r.text == nullptr ? u"" : r.text;
        EXPECT_EQ(Text(req->Text), text);
        EXPECT_EQ(Count(req->Text), r.text == nullptr ? 0 : text.size() + 1);
    }
    EXPECT_EQ(std::u16string(path), u"trace path");  // the caller's text stays
}

// The getter copies Option and Count; no units reads as no text, and a text
// is read up to its terminator and never past the units received.
TEST_F(MirrorConfig, GetReadsTheTextWithinTheUnitsReceived) {
    const std::pair<std::u16string, const char16_t*> rows[] = {
        {u"", nullptr},
        {std::u16string(1, u'\0'), u""},
        {u"trace path", u"trace path"},  // no terminator received
        {std::u16string(u"ab\0cd", 5), u"ab"},
    };
    for (const auto& [sent, expected] : rows) {
        SCOPED_TRACE(sent.size());
        std::u16string units = sent;
        svc.Answer<GET_DATA_TRACE_CONFIG>(
            {0,
             0,
             {},
             -9,
             {static_cast<u_int>(units.size()), reinterpret_cast<u_short*>(units.data())},
             12});
        QV_DATA_TRACE_CONFIG config{7, nullptr, 7};
        EXPECT_EQ(qvGetDataTraceConfig(handle, u"Harddisk2", 4, &config), 0u);
        EXPECT_EQ(std::tuple(config.Option, config.Count), std::tuple(-9, 12u));
        EXPECT_EQ(config.Text == nullptr, expected == nullptr);
        if (expected != nullptr && config.Text != nullptr) {
            EXPECT_EQ(std::u16string(config.Text), expected);
        }
        qvtest::ReleaseKept(qvFreeDataTraceConfig, config);
    }
    EXPECT_TRUE(trace.Lines().empty());
}

// ---- statistics and progress ---------------------------------------------------

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

TEST_F(MirrorConfig, RestoringProtectionWritesItsProgressLine) {
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
TEST_F(MirrorConfig, VerifyErrorStateIsLoggedWithTheCallersResult) {
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
TEST_F(MirrorConfig, ProgressReadersWriteTheirLines) {
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
