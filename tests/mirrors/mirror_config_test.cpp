// Mirror configuration: what enable and change send, what the list reads
// back, the snapshot schedule record both ways, the list kinds and the
// replies that contradict themselves; then what the other requests of the
// family carry beyond the object and the token. The rules every function
// shares run over the table of functions.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "mirrors/mirror_test_support.h"
#include "platform/alloc.h"
#include "snapshots/snapshot_schedule.h"
#include "support/sample_replies.h"

using qvtest::Count;
using qvtest::kMirrorToken;
using qvtest::Lines;
using qvtest::SampleConfig;
using qvtest::Text;

namespace {

using MirrorConfig = qvtest::MirrorHandleTest;

const QV_CONFIG_FILTER kAll{0, nullptr, {nullptr, 0}};

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
const Sender& kEnable = kSenders[0];

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
            const bool enable = &s == &kEnable;
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
        const unsigned allocations = &s == &kEnable ? 9 : 8;
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
        ASSERT_EQ(req->Objects.Objects_len, kind == 1 ? 1u : 0u);
        if (kind == 1) ExpectRef(req->Objects.Objects_val[0], filter.Object);
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
    EXPECT_TRUE(trace.Lines().empty());
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

// The schedule's mode travels and reads back reduced to 1..3; its spares
// and GroupParam go as 0 and are never read back. A group configuration
// reads every mode back as sent.
TEST_F(MirrorConfig, ScheduleModeIsReducedBothWays) {
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
        RpcSnapshotSchedule sent = req->Schedules.Schedules_val[0];
        EXPECT_EQ(qvtest::ScheduleFields(sent), std::tuple(reduced, 11u, 22u, 33u, 44u, 55u, 66u));
        EXPECT_EQ(std::tuple(sent.Spare1, sent.GroupParam, sent.Spare2, sent.Spare3, sent.Spare4),
                  std::tuple(0u, 0u, 0u, 0u, 0));

        // Listed back with the spares and GroupParam set: they never reach the caller.
        sent = {9, 9, mode, 11, 9, 9, -9, 22, 33, 44, 55, 66};
        svc.AnswerRaw(GET_MIR_CONFIG_LIST, EditedList([&](auto& l, auto& c) {
                          l.Count = 1;
                          c[0].Schedules = {1, &sent};
                      }));
        QV_MIRROR_CONFIG_LIST list{};
        ASSERT_EQ(qvGetMirConfigList(handle, &kAll, &list), 0u);
        ASSERT_EQ(list.Count, 1u);
        EXPECT_EQ(qvtest::ScheduleFields(list.Entries[0].Schedule),
                  std::tuple(reduced, 11u, 22u, 33u, 44u, 55u, 66u));
        qvtest::ReleaseKept(qvFreeMirConfigList, list);
        EXPECT_EQ(qvtest::ScheduleFields(
                      qv::FromRpcSnapshotSchedule(sent, qv::ScheduleModeReadBack::kAsSent)),
                  std::tuple(mode, 11u, 22u, 33u, 44u, 55u, 66u));
    }
    EXPECT_TRUE(trace.Lines().empty());
}

// ---- verify, restore and the data trace configuration -----------------------

using MirrorRequests = qvtest::MirrorHandleTest;

const QV_RESTORE_REQUEST kRestore{{u"Harddisk2", 4}, -3, {u"Harddisk5", 0}, 5, 0xFFFFFFFF, -7};

TEST_F(MirrorRequests, VerifyCarriesTheObjectModeAndOptionsAsBooleans) {
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

TEST_F(MirrorRequests, RestoreCarriesBothObjectsAndTheFiguresUnchanged) {
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
TEST_F(MirrorRequests, SetSendsTheObjectOptionTextAndCount) {
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
TEST_F(MirrorRequests, GetReadsTheTextWithinTheUnitsReceived) {
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

}  // namespace
