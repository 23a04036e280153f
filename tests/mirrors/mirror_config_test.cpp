// Mirror configuration: what enable and change send, the list and its
// release, refusals, broken replies and running out of memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "mirrors/mirror_config_conversion.h"
#include "mirrors/mirror_test_support.h"
#include "platform/alloc.h"

using qvtest::Count;
using qvtest::Decoded;
using qvtest::Fault;
using qvtest::kMirrorToken;
using qvtest::ListOf;
using qvtest::SampleConfig;
using qvtest::TestService;
using qvtest::Text;
using qvtest::WireStore;

namespace {

using Lines = std::vector<std::u16string>;

constexpr const char16_t* kFillNoMemory = u"__FillRpcMirrorConfig, no memory for allocation";
constexpr const char16_t* kFillNoMemoryForMirror =
    u"__FillRpcMirrorConfig, no enought momory for allocation";
constexpr const char16_t* kListNoMemory =
    u"qvGetMirConfigList, no more memory for memory allocation";
constexpr const char16_t* kListBroken =
    u"qvGetMirConfigList, invalid mirror configuration list[6FFC8005]";

class MirrorConfig : public qvtest::MirrorHandleTest {
  protected:
    // The trace lines written since `before` lines were there.
    Lines LinesSince(std::size_t before) const {
        const Lines all = trace.Lines();
        return Lines(all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())),
                     all.end());
    }
};

// Enable and change side by side: both send an RpcMirrorConfig and answer
// with an RpcStatus.
struct Sender {
    const char* name;
    unsigned proc;
    QV_STATUS (*send)(QV_HANDLE, const QV_MIRROR_ENABLE&);
    Decoded<RpcMirrorConfig> (*last)(const TestService&);
    void (*answer)(TestService&, uint32_t status);
    const char16_t* refusal_line;  // for the service word 0x6FFC0010
};

template <unsigned P>
Decoded<RpcMirrorConfig> LastConfig(const TestService& svc) {
    return svc.Last<P>();
}
template <unsigned P>
void AnswerStatus(TestService& svc, uint32_t status) {
    svc.Answer<P>({.status = status, .value = 0, .token = 0});
}

const Sender kSenders[] = {
    {"qvEnableMirror", ENABLE_MIRROR,
     [](QV_HANDLE h, const QV_MIRROR_ENABLE& e) { return qvEnableMirror(h, &e); },
     LastConfig<ENABLE_MIRROR>, AnswerStatus<ENABLE_MIRROR>,
     u"qvEnableMirror, enable mirror error[6FFC0010]"},
    {"qvChangeMirrorConfig", CHANGE_MIRROR_CONFIG,
     [](QV_HANDLE h, const QV_MIRROR_ENABLE& e) { return qvChangeMirrorConfig(h, &e.Config); },
     LastConfig<CHANGE_MIRROR_CONFIG>, AnswerStatus<CHANGE_MIRROR_CONFIG>,
     u"qvChangeMirrorConfig, change mirror config error[6FFC0010]"},
};
const Sender& kEnable = kSenders[0];
const Sender& kChange = kSenders[1];

void ExpectRef(const RpcObjectRef& ref, const QV_OBJECT_ID& id) {
    EXPECT_EQ(ref.kind, 0u);
    EXPECT_EQ(Text(ref.name), id.name);
    EXPECT_EQ(Count(ref.name), std::u16string(id.name).size() + 1);
    EXPECT_EQ(ref.number, id.number);
    EXPECT_EQ(ref.token, 0u);
}

void ExpectText(const RpcWString& sent, const char16_t* text) {
    if (text == nullptr) {
        EXPECT_EQ(Count(sent), 0u);
    } else {
        EXPECT_EQ(Text(sent), text);
        EXPECT_EQ(Count(sent), std::u16string(text).size() + 1);
    }
}

// Every field of a configuration whose enumerated fields are already in
// their accepted sets, as the service decoded it.
void ExpectConfigSent(const RpcMirrorConfig& w, const QV_MIRROR_CONFIG& c) {
    EXPECT_EQ(w.status, 0u);
    ASSERT_EQ(w.Primaries.Primaries_len, 1u);
    ExpectRef(w.Primaries.Primaries_val[0], c.Primary);
    ASSERT_EQ(w.Mirrors.Mirrors_len, 1u);
    ExpectRef(w.Mirrors.Mirrors_val[0], c.Mirror);
    EXPECT_EQ(w.Setting1, c.Setting1);
    EXPECT_EQ(w.Setting2, c.Setting2);
    EXPECT_EQ(w.Setting3, c.Setting3);
    EXPECT_EQ(w.MirrorKind, c.MirrorKind);
    EXPECT_EQ(w.ScheduleMode, c.Schedule.Mode);
    ExpectText(w.Text1, c.Text1);
    ExpectText(w.Text2, c.Text2);
    ExpectText(w.Text3, c.Text3);
    ASSERT_EQ(w.Schedules.Schedules_len, 1u);
    EXPECT_EQ(w.Schedules.Schedules_val[0].Mode, c.Schedule.Mode);
    EXPECT_EQ(w.Schedules.Schedules_val[0].Param1, c.Schedule.Param1);
    EXPECT_EQ(w.Setting7, c.Setting7);
    EXPECT_EQ(w.Setting12, c.Setting12);
    EXPECT_EQ(w.Setting8, c.Setting8);
    EXPECT_EQ(w.Switch2, c.Switch2);
    EXPECT_EQ(w.Setting4, c.Setting4);
    EXPECT_EQ(w.Switch1, c.Switch1);
    EXPECT_EQ(w.Setting5, c.Setting5);
    EXPECT_EQ(w.Setting6, c.Setting6);
    EXPECT_EQ(w.Limit, c.Limit);
    EXPECT_EQ(w.Setting10, c.Setting10);
    EXPECT_EQ(w.Setting11, c.Setting11);
    EXPECT_EQ(w.Spare1, 0u);
    EXPECT_EQ(w.Setting13, c.Setting13);
    EXPECT_EQ(w.Setting14, c.Setting14);
    EXPECT_EQ(w.Spare2, 0u);
    EXPECT_EQ(w.Setting9, c.Setting9);
}

// Every field of a listed configuration against the one the caller sent,
// once a round trip has brought it back.
void ExpectListedAs(const QV_MIRROR_CONFIG& got, const QV_MIRROR_CONFIG& c) {
    auto text = [](const QV_WCHAR* t) {
        return t == nullptr ? std::u16string(u"<null>") : std::u16string(t);
    };
    EXPECT_EQ(text(got.Primary.name), text(c.Primary.name));
    EXPECT_EQ(got.Primary.number, c.Primary.number);
    EXPECT_EQ(text(got.Mirror.name), text(c.Mirror.name));
    EXPECT_EQ(got.Mirror.number, c.Mirror.number);
    EXPECT_EQ(got.MirrorKind, c.MirrorKind);
    EXPECT_EQ(got.Schedule.Mode, c.Schedule.Mode);
    EXPECT_EQ(got.Schedule.Param1, c.Schedule.Param1);
    EXPECT_EQ(got.Schedule.Param6, c.Schedule.Param6);
    EXPECT_EQ(got.Setting1, c.Setting1);
    EXPECT_EQ(got.Setting2, c.Setting2);
    EXPECT_EQ(got.Setting3, c.Setting3);
    EXPECT_EQ(got.Setting4, c.Setting4);
    EXPECT_EQ(got.Switch1, c.Switch1);
    EXPECT_EQ(got.Setting5, c.Setting5);
    EXPECT_EQ(got.Setting6, c.Setting6);
    EXPECT_EQ(text(got.Text1), text(c.Text1));
    EXPECT_EQ(text(got.Text2), text(c.Text2));
    EXPECT_EQ(text(got.Text3), text(c.Text3));
    EXPECT_EQ(got.Setting7, c.Setting7);
    EXPECT_EQ(got.Setting8, c.Setting8);
    EXPECT_EQ(got.Switch2, c.Switch2);
    EXPECT_EQ(got.Setting9, c.Setting9);
    EXPECT_EQ(text(got.Text4), text(c.Text4));
    EXPECT_EQ(got.LimitOn, c.LimitOn);
    EXPECT_EQ(got.Limit, c.Limit);
    EXPECT_EQ(got.Setting10, c.Setting10);
    EXPECT_EQ(got.Setting11, c.Setting11);
    EXPECT_EQ(got.Setting12, c.Setting12);
    EXPECT_EQ(got.Setting13, c.Setting13);
    EXPECT_EQ(got.Setting14, c.Setting14);
    EXPECT_EQ(got.Reserved1, 0u);
    EXPECT_EQ(got.Reserved2, 0u);
}

// ---- enable and change ------------------------------------------------------

TEST_F(MirrorConfig, EnableSendsEveryFieldUnderItsName) {
    struct Row {
        uint32_t in[4];
        uint32_t sent[4];
    };
    const Row rows[] = {
        {{1, 0, 0, 5}, {1, 0, 0, 1}},
        {{0, 7, 0xFFFFFFFF, 0}, {0, 1, 1, 0}},
    };
    for (const Row& r : rows) {
        QV_MIRROR_ENABLE e{SampleConfig(), r.in[0], r.in[1], r.in[2], r.in[3]};
        ASSERT_EQ(qvEnableMirror(handle, &e), 0u);
        auto req = svc.Last<ENABLE_MIRROR>();
        ASSERT_TRUE(req.ok());
        ExpectConfigSent(*req, e.Config);
        EXPECT_EQ(req->token, kMirrorToken);
        ExpectText(req->Text4, u"fourth");
        EXPECT_EQ(req->EnableOption1, r.sent[0]);
        EXPECT_EQ(req->EnableOption2, r.sent[1]);
        EXPECT_EQ(req->EnableOption3, r.sent[2]);
        EXPECT_EQ(req->EnableOption4, r.sent[3]);
    }
    EXPECT_EQ(svc.Calls(CHANGE_MIRROR_CONFIG), 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorConfig, ChangeNeverSendsText4OrTheEnableOptions) {
    // The caller's configuration followed by set options and a Text4: none
    // of it may travel with a change.
    QV_MIRROR_ENABLE e{SampleConfig(), 1, 1, 1, 1};
    ASSERT_NE(e.Config.Text4, nullptr);
    ASSERT_EQ(qvChangeMirrorConfig(handle, &e.Config), 0u);
    auto req = svc.Last<CHANGE_MIRROR_CONFIG>();
    ASSERT_TRUE(req.ok());
    ExpectConfigSent(*req, e.Config);
    EXPECT_EQ(req->token, kMirrorToken);
    EXPECT_EQ(Count(req->Text4), 0u);
    EXPECT_EQ(req->EnableOption1, 0u);
    EXPECT_EQ(req->EnableOption2, 0u);
    EXPECT_EQ(req->EnableOption3, 0u);
    EXPECT_EQ(req->EnableOption4, 0u);
    EXPECT_EQ(svc.Calls(ENABLE_MIRROR), 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorConfig, EnumeratedFieldsAreLimitedToTheirAcceptedSets) {
    struct Row {
        uint32_t kind, kind_sent;
        uint32_t mode, mode_sent;
        uint32_t switch1, switch1_sent;
        uint32_t switch2, switch2_sent;
    };
    const Row rows[] = {
        {0, 0, 0, 0, 0, 0, 0, 0},          {1, 1, 1, 1, 1, 1, 1, 1},
        {2, 2, 2, 2, 7, 1, 0x80000000, 1}, {7, 0, 4, 0, 0xFFFFFFFF, 1, 2, 1},
        {3, 0, 0x10, 0, 0, 0, 1, 1},       {0xFFFFFFFF, 0, 3, 3, 1, 1, 0, 0},
    };
    for (const Sender& s : kSenders) {
        for (const Row& r : rows) {
            SCOPED_TRACE(::testing::Message()
                         << s.name << " kind " << r.kind << " mode " << r.mode);
            QV_MIRROR_ENABLE e{SampleConfig(), 0, 0, 0, 0};
            e.Config.MirrorKind = r.kind;
            e.Config.Schedule.Mode = r.mode;
            e.Config.Switch1 = r.switch1;
            e.Config.Switch2 = r.switch2;
            ASSERT_EQ(s.send(handle, e), 0u);
            auto req = s.last(svc);
            ASSERT_TRUE(req.ok());
            EXPECT_EQ(req->MirrorKind, r.kind_sent);
            EXPECT_EQ(req->ScheduleMode, r.mode_sent);
            ASSERT_EQ(req->Schedules.Schedules_len, 1u);
            EXPECT_EQ(req->Schedules.Schedules_val[0].Mode, r.mode_sent);
            EXPECT_EQ(req->Switch1, r.switch1_sent);
            EXPECT_EQ(req->Switch2, r.switch2_sent);
        }
    }
}

TEST_F(MirrorConfig, TextsTravelOnlyWhenPresent) {
    for (const Sender& s : kSenders) {
        for (const char16_t* text : {static_cast<const char16_t*>(nullptr), u"", u"ab"}) {
            SCOPED_TRACE(::testing::Message() << s.name << (text == nullptr ? " null" : " text"));
            QV_MIRROR_ENABLE e{SampleConfig(), 0, 0, 0, 0};
            e.Config.Text1 = e.Config.Text2 = e.Config.Text3 = e.Config.Text4 = text;
            e.Config.Primary.name = text;  // a name always travels, empty as one unit
            ASSERT_EQ(s.send(handle, e), 0u);
            auto req = s.last(svc);
            ASSERT_TRUE(req.ok());
            for (const RpcWString* sent : {&req->Text1, &req->Text2, &req->Text3}) {
                ExpectText(*sent, text);
            }
            if (&s == &kEnable) ExpectText(req->Text4, text);
            const RpcWString& name = req->Primaries.Primaries_val[0].name;
            ASSERT_EQ(Count(name), text == nullptr ? 1u : std::u16string(text).size() + 1);
            EXPECT_EQ(name.RpcWString_val[Count(name) - 1], 0u);
        }
    }
}

TEST_F(MirrorConfig, LimitOnPromisesALimit) {
    struct Row {
        uint32_t limit_on, limit;
        uint32_t status;
    };
    const Row rows[] = {
        {1, 0, QV_STATUS_INVALID_PARAMETER},
        {7, 0, QV_STATUS_INVALID_PARAMETER},
        {1, 5, 0},
        {0, 5, 0},
        {0, 0, 0},
    };
    for (const Sender& s : kSenders) {
        for (const Row& r : rows) {
            SCOPED_TRACE(::testing::Message() << s.name << " " << r.limit_on << "/" << r.limit);
            const std::size_t calls = svc.Calls(s.proc);
            QV_MIRROR_ENABLE e{SampleConfig(), 1, 1, 1, 1};
            e.Config.LimitOn = r.limit_on;
            e.Config.Limit = r.limit;
            EXPECT_EQ(s.send(handle, e), r.status);
            if (r.status != 0) {
                EXPECT_EQ(svc.Calls(s.proc), calls);
                continue;
            }
            ASSERT_EQ(svc.Calls(s.proc), calls + 1);
            EXPECT_EQ(s.last(svc)->Limit, r.limit);
        }
    }
    EXPECT_TRUE(trace.Lines().empty());  // a refusal is the caller's to report
}

TEST_F(MirrorConfig, WhatEnableSendsListsBackAsTheCallerGaveIt) {
    // LimitOn 0 with a Limit reads back as LimitOn 1; a null text as null,
    // an empty one as an empty string.
    QV_MIRROR_ENABLE e{SampleConfig(), 0, 0, 0, 0};
    e.Config.LimitOn = 0;
    e.Config.Limit = 5;
    e.Config.Text1 = nullptr;
    e.Config.Text2 = u"";
    ASSERT_EQ(qvEnableMirror(handle, &e), 0u);
    auto sent = svc.Last<ENABLE_MIRROR>();
    ASSERT_TRUE(sent.ok());
    RpcMirrorConfig echoed = *sent;
    svc.Answer<GET_MIR_CONFIG_LIST>(ListOf(&echoed, 1));

    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
    QV_MIRROR_CONFIG_LIST list{};
    ASSERT_EQ(qvGetMirConfigList(handle, &filter, &list), 0u);
    ASSERT_EQ(list.Count, 1u);
    QV_MIRROR_CONFIG expected = e.Config;
    expected.LimitOn = 1;
    ExpectListedAs(list.Entries[0], expected);
    ASSERT_NE(list.Entries[0].Text2, nullptr);
    EXPECT_EQ(list.Entries[0].Text2[0], u'\0');

    QV_MIRROR_CONFIG_LIST* ref = &list;
    EXPECT_EQ(qvFreeMirConfigList(&ref, 1), 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorConfig, ServiceRefusalIsLoggedWithItsWord) {
    for (const Sender& s : kSenders) {
        SCOPED_TRACE(s.name);
        const std::size_t before = trace.Lines().size();
        s.answer(svc, 0x6FFC0010);
        QV_MIRROR_ENABLE e{SampleConfig(), 0, 0, 0, 0};
        EXPECT_EQ(s.send(handle, e), 0x6FFC0010u);
        EXPECT_EQ(LinesSince(before), Lines{s.refusal_line});
    }
}

TEST_F(MirrorConfig, TransportFailureIsMappedWithoutTheFunctionLine) {
    for (const Sender& s : kSenders) {
        SCOPED_TRACE(s.name);
        const std::size_t before = trace.Lines().size();
        svc.Misbehave(s.proc, Fault::kGarbage);
        QV_MIRROR_ENABLE e{SampleConfig(), 0, 0, 0, 0};
        EXPECT_EQ(s.send(handle, e), QV_STATUS_RPC_FAILED);
        EXPECT_EQ(LinesSince(before), Lines{u"Error, rpc call error, client status[00000002]"});
        svc.Reset(s.proc);
    }
}

TEST_F(MirrorConfig, RunningOutOfMemoryWhileFillingSendsNothing) {
    // The fill's allocations, in order: primary and its name, mirror and its
    // name, Text2, Text3, Text1, the schedule, and Text4 for enable only.
    struct Row {
        const Sender* sender;
        unsigned allocations;
    };
    for (const Row& r : {Row{&kEnable, 9}, Row{&kChange, 8}}) {
        const Sender& s = *r.sender;
        QV_MIRROR_ENABLE e{SampleConfig(), 1, 1, 1, 1};
        qv::alloc_fault::Reset();
        ASSERT_EQ(s.send(handle, e), 0u);
        ASSERT_EQ(qv::alloc_fault::Count(), r.allocations) << s.name;
        for (unsigned n = 1; n <= r.allocations; ++n) {
            SCOPED_TRACE(::testing::Message() << s.name << " allocation " << n);
            const std::size_t calls = svc.Calls(s.proc);
            const std::size_t before = trace.Lines().size();
            qv::alloc_fault::FailAt(n);
            EXPECT_EQ(s.send(handle, e), QV_STATUS_NO_MEMORY);
            qv::alloc_fault::Reset();
            EXPECT_EQ(svc.Calls(s.proc), calls);
            const bool mirror = n == 3 || n == 4;
            EXPECT_EQ(LinesSince(before), Lines{mirror ? kFillNoMemoryForMirror : kFillNoMemory});
        }
    }
}

// ---- handle and argument checks ---------------------------------------------

TEST_F(MirrorConfig, InvalidHandleTouchesNothing) {
    QV_CLIENT_HANDLE closed{kMirrorToken, nullptr};
    QV_MIRROR_CONFIG_LIST sentinel_entries[1]{};
    for (QV_HANDLE dead : {static_cast<QV_HANDLE>(nullptr), &closed}) {
        QV_MIRROR_ENABLE e{SampleConfig(), 1, 1, 1, 1};
        EXPECT_EQ(qvEnableMirror(dead, &e), QV_STATUS_NO_HANDLE);
        EXPECT_EQ(qvEnableMirror(dead, nullptr), QV_STATUS_NO_HANDLE);
        EXPECT_EQ(qvChangeMirrorConfig(dead, &e.Config), QV_STATUS_NO_HANDLE);
        const QV_CONFIG_FILTER filter{1, nullptr, {u"Harddisk1", 0}};
        QV_MIRROR_CONFIG_LIST list{7, reinterpret_cast<QV_MIRROR_CONFIG*>(sentinel_entries)};
        EXPECT_EQ(qvGetMirConfigList(dead, &filter, &list), QV_STATUS_NO_HANDLE);
        EXPECT_EQ(list.Count, 7u);
        EXPECT_EQ(list.Entries, reinterpret_cast<QV_MIRROR_CONFIG*>(sentinel_entries));
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorConfig, MissingArgumentsAreInvalidParameters) {
    EXPECT_EQ(qvEnableMirror(handle, nullptr), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(qvChangeMirrorConfig(handle, nullptr), QV_STATUS_INVALID_PARAMETER);
    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
    EXPECT_EQ(qvGetMirConfigList(handle, &filter, nullptr), QV_STATUS_INVALID_PARAMETER);
    QV_MIRROR_CONFIG_LIST list{3, nullptr};
    EXPECT_EQ(qvGetMirConfigList(handle, nullptr, &list), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(list.Count, 0u);
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

// ---- the list ----------------------------------------------------------------

TEST_F(MirrorConfig, ListSendsTheObjectForKindOneOnly) {
    struct Row {
        uint32_t kind;
        bool object;
    };
    for (const Row& r : {Row{0, false}, Row{1, true}, Row{4, false}, Row{254, false}}) {
        SCOPED_TRACE(r.kind);
        const QV_CONFIG_FILTER filter{r.kind, u"NotRead", {u"Harddisk5", 6}};
        QV_MIRROR_CONFIG_LIST list{};
        ASSERT_EQ(qvGetMirConfigList(handle, &filter, &list), 0u);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        auto req = svc.Last<GET_MIR_CONFIG_LIST>();
        ASSERT_TRUE(req.ok());
        EXPECT_EQ(req->Kind, r.kind);
        EXPECT_EQ(req->token, kMirrorToken);
        EXPECT_EQ(Count(req->Name), 0u);
        ASSERT_EQ(req->Objects.Objects_len, r.object ? 1u : 0u);
        if (r.object) ExpectRef(req->Objects.Objects_val[0], filter.Object);
    }
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorConfig, ListRefusesKindsItDoesNotServe) {
    QV_MIRROR_CONFIG sentinel{};
    for (uint32_t kind : {2u, 3u, 255u}) {
        SCOPED_TRACE(kind);
        const QV_CONFIG_FILTER filter{kind, nullptr, {u"Harddisk5", 6}};
        QV_MIRROR_CONFIG_LIST list{4, &sentinel};
        EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), QV_STATUS_INVALID_PARAMETER);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorConfig, ListConvertsEveryFieldUnderItsName) {
    WireStore store;
    RpcMirrorConfig configs[2] = {store.Config(u"Harddisk1", 2), store.Config(u"Harddisk5", 6)};
    // The second: values outside the accepted sets, no Limit, texts absent
    // or empty.
    configs[1].MirrorKind = 7;
    configs[1].Schedules.Schedules_val->Mode = 7;
    configs[1].Limit = 0;
    configs[1].Text1 = {};
    configs[1].Text2 = store.Str(u"");
    configs[1].Text4 = {};
    svc.Answer<GET_MIR_CONFIG_LIST>(ListOf(configs, 2));

    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
    QV_MIRROR_CONFIG_LIST* list =
        static_cast<QV_MIRROR_CONFIG_LIST*>(qv::AllocZeroed(1, sizeof(QV_MIRROR_CONFIG_LIST)));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(qvGetMirConfigList(handle, &filter, list), 0u);
    ASSERT_EQ(list->Count, 2u);

    QV_MIRROR_CONFIG expected{};
    expected.Primary = {u"Harddisk1", 2};
    expected.Mirror = {u"Harddisk3", 4};
    expected.MirrorKind = 1;
    expected.Schedule = {2, 401, 402, 403, 404, 405, 406};
    expected.Setting1 = -2001;
    expected.Setting2 = 2002;
    expected.Setting3 = -2003;
    expected.Setting4 = 2004;
    expected.Switch1 = 7;  // switches read back as the service holds them
    expected.Setting5 = 2005;
    expected.Setting6 = 2006;
    expected.Text1 = u"first";
    expected.Text2 = u"second";
    expected.Text3 = u"third";
    expected.Setting7 = 2007;
    expected.Setting8 = 2008;
    expected.Switch2 = 9;
    expected.Setting9 = 2009;
    expected.Text4 = u"fourth";
    expected.LimitOn = 1;
    expected.Limit = 2015;
    expected.Setting10 = 2010;
    expected.Setting11 = 2011;
    expected.Setting12 = 2012;
    expected.Setting13 = 2013;
    expected.Setting14 = 2014;
    ExpectListedAs(list->Entries[0], expected);
    EXPECT_EQ(list->Entries[0].Schedule.Param2, 402u);
    EXPECT_EQ(list->Entries[0].Schedule.Param3, 403u);
    EXPECT_EQ(list->Entries[0].Schedule.Param4, 404u);
    EXPECT_EQ(list->Entries[0].Schedule.Param5, 405u);

    expected.Primary = {u"Harddisk5", 6};
    expected.MirrorKind = 0;
    expected.Schedule.Mode = 0;
    expected.Limit = 0;
    expected.LimitOn = 0;
    expected.Text1 = nullptr;
    expected.Text2 = u"";
    expected.Text4 = nullptr;
    ExpectListedAs(list->Entries[1], expected);

    EXPECT_EQ(qvFreeMirConfigList(&list, 0), 0u);
    EXPECT_EQ(list, nullptr);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorConfig, ListWalksTheCountItWasGiven) {
    WireStore store;
    RpcMirrorConfig configs[2] = {store.Config(u"Harddisk1", 2), store.Config(u"Harddisk5", 6)};
    // A record beyond Count is never read, even a broken one.
    configs[1].Primaries = {};
    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
    struct Row {
        u_int count;
        uint32_t listed;
    };
    for (const Row& r : {Row{1, 1}, Row{0, 0}}) {
        SCOPED_TRACE(r.count);
        RpcMirrorConfigList reply = ListOf(configs, 2);
        reply.Count = r.count;
        svc.Answer<GET_MIR_CONFIG_LIST>(reply);
        QV_MIRROR_CONFIG_LIST list{};
        ASSERT_EQ(qvGetMirConfigList(handle, &filter, &list), 0u);
        ASSERT_EQ(list.Count, r.listed);
        EXPECT_EQ(list.Entries == nullptr, r.listed == 0);
        if (r.listed != 0) {
            EXPECT_EQ(std::u16string(list.Entries[0].Primary.name), u"Harddisk1");
        }
        QV_MIRROR_CONFIG_LIST* ref = &list;
        qvFreeMirConfigList(&ref, 1);
    }
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorConfig, ListRefusesRepliesThatContradictThemselves) {
    struct Row {
        const char* what;
        std::function<void(RpcMirrorConfigList&)> breakIt;
    };
    const Row rows[] = {
        {"count beyond the array", [](RpcMirrorConfigList& l) { l.Count = 3; }},
        {"count without an array", [](RpcMirrorConfigList& l) { l.Configs = {}; }},
        {"no primary", [](RpcMirrorConfigList& l) { l.Configs.Configs_val[1].Primaries = {}; }},
        {"no mirror", [](RpcMirrorConfigList& l) { l.Configs.Configs_val[1].Mirrors = {}; }},
        {"no schedule", [](RpcMirrorConfigList& l) { l.Configs.Configs_val[1].Schedules = {}; }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        WireStore store;
        RpcMirrorConfig configs[2] = {store.Config(), store.Config(u"Harddisk5", 6)};
        RpcMirrorConfigList reply = ListOf(configs, 2);
        r.breakIt(reply);
        svc.Answer<GET_MIR_CONFIG_LIST>(reply);
        const std::size_t before = trace.Lines().size();
        const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
        QV_MIRROR_CONFIG_LIST list{};
        EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), QV_STATUS_RPC_FAILED);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        EXPECT_EQ(LinesSince(before), Lines{kListBroken});
    }
}

TEST_F(MirrorConfig, ListFailureIsLoggedWithTheMappedStatus) {
    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
    QV_MIRROR_CONFIG_LIST list{};
    svc.Answer<GET_MIR_CONFIG_LIST>({.status = 0x6FFC0010, .Count = 0, .Configs = {}});
    EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), 0x6FFC0010u);
    EXPECT_EQ(trace.Lines(),
              Lines{u"qvGetMirConfigList, getting mirror configuration list error[6FFC0010]"});

    svc.Misbehave(GET_MIR_CONFIG_LIST, Fault::kGarbage);
    EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(LinesSince(1),
              (Lines{u"Error, rpc call error, client status[00000002]",
                     u"qvGetMirConfigList, getting mirror configuration list error[6FFC8005]"}));
    EXPECT_EQ(list.Count, 0u);
    EXPECT_EQ(list.Entries, nullptr);
}

TEST_F(MirrorConfig, ListRequestOutOfMemorySendsNothing) {
    // The object reference, then its name.
    const QV_CONFIG_FILTER filter{1, nullptr, {u"Harddisk5", 6}};
    for (unsigned n : {1u, 2u}) {
        SCOPED_TRACE(n);
        const std::size_t before = trace.Lines().size();
        QV_MIRROR_CONFIG_LIST list{};
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        EXPECT_EQ(LinesSince(before), Lines{kListNoMemory});
    }
    EXPECT_EQ(svc.Calls(GET_MIR_CONFIG_LIST), 0u);
}

TEST_F(MirrorConfig, ListConversionOutOfMemoryLeavesTheListEmpty) {
    // The entry block, then per configuration two names and four texts.
    WireStore store;
    RpcMirrorConfig configs[2] = {store.Config(), store.Config(u"Harddisk5", 6)};
    svc.Answer<GET_MIR_CONFIG_LIST>(ListOf(configs, 2));
    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
    constexpr unsigned kAllocations = 1 + 2 * 6;
    for (unsigned n = 1; n <= kAllocations; ++n) {
        SCOPED_TRACE(n);
        const std::size_t before = trace.Lines().size();
        QV_MIRROR_CONFIG_LIST list{};
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        EXPECT_EQ(LinesSince(before), Lines{kListNoMemory});
    }
    // One allocation more than the walk counted would have failed nothing.
    QV_MIRROR_CONFIG_LIST list{};
    qv::alloc_fault::FailAt(kAllocations + 1);
    EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), 0u);
    qv::alloc_fault::Reset();
    EXPECT_EQ(list.Count, 2u);
    QV_MIRROR_CONFIG_LIST* ref = &list;
    qvFreeMirConfigList(&ref, 1);
}

// ---- release -------------------------------------------------------------------

TEST_F(MirrorConfig, FreeReleasesEntriesAndTheHeaderUnlessKept) {
    WireStore store;
    RpcMirrorConfig configs[2] = {store.Config(), store.Config(u"Harddisk5", 6)};
    configs[1].Text1 = {};
    svc.Answer<GET_MIR_CONFIG_LIST>(ListOf(configs, 2));
    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};

    for (uint32_t keep : {0u, 1u, 5u}) {
        SCOPED_TRACE(keep);
        auto* header =
            static_cast<QV_MIRROR_CONFIG_LIST*>(qv::AllocZeroed(1, sizeof(QV_MIRROR_CONFIG_LIST)));
        ASSERT_NE(header, nullptr);
        ASSERT_EQ(qvGetMirConfigList(handle, &filter, header), 0u);
        ASSERT_EQ(header->Count, 2u);
        QV_MIRROR_CONFIG* const entries = header->Entries;
        QV_MIRROR_CONFIG_LIST* ref = header;
        EXPECT_EQ(qvFreeMirConfigList(&ref, keep), 0u);
        if (keep == 0) {
            EXPECT_EQ(ref, nullptr);  // the sanitizer sees whether the header went
        } else {
            // The header stays as it stood; only the blocks it named are gone.
            EXPECT_EQ(ref, header);
            EXPECT_EQ(header->Count, 2u);
            EXPECT_EQ(header->Entries, entries);
            qv::Free(header);
        }
    }

    QV_MIRROR_CONFIG_LIST* none = nullptr;
    EXPECT_EQ(qvFreeMirConfigList(&none, 0), 0u);
    EXPECT_EQ(qvFreeMirConfigList(nullptr, 0), 0u);
    auto* empty =
        static_cast<QV_MIRROR_CONFIG_LIST*>(qv::AllocZeroed(1, sizeof(QV_MIRROR_CONFIG_LIST)));
    EXPECT_EQ(qvFreeMirConfigList(&empty, 0), 0u);
    EXPECT_EQ(empty, nullptr);
}

// ---- the conversion on its own, as the group list uses it ---------------------

TEST(MirrorConfigConversion, IncompleteRecordsAreNeverRead) {
    WireStore store;
    struct Row {
        const char* what;
        std::function<void(RpcMirrorConfig&)> breakIt;
    };
    const Row rows[] = {
        {"no primary", [](RpcMirrorConfig& w) { w.Primaries = {}; }},
        {"primary count without elements",
         [](RpcMirrorConfig& w) { w.Primaries.Primaries_val = nullptr; }},
        {"no mirror", [](RpcMirrorConfig& w) { w.Mirrors = {}; }},
        {"no schedule", [](RpcMirrorConfig& w) { w.Schedules = {}; }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        RpcMirrorConfig wire = store.Config();
        r.breakIt(wire);
        QV_MIRROR_CONFIG out = SampleConfig();
        EXPECT_EQ(qv::ConvertMirrorConfig(wire, out), QV_STATUS_RPC_FAILED);
        EXPECT_EQ(out.Primary.name, nullptr);
        EXPECT_EQ(out.Text1, nullptr);
        EXPECT_EQ(out.Limit, 0u);
    }
}

}  // namespace
