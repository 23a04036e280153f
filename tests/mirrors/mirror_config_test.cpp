// Mirror configuration: what enable and change send, the list and its
// release, refusals, broken replies and running out of memory.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "mirrors/mirror_test_support.h"
#include "platform/alloc.h"

using qvtest::Count;
using qvtest::Fault;
using qvtest::kMirrorToken;
using qvtest::Lines;
using qvtest::ListOf;
using qvtest::SampleConfig;
using qvtest::Text;
using qvtest::WireStore;

namespace {

using MirrorConfig = qvtest::MirrorHandleTest;

// Enable and change side by side: both send an RpcMirrorConfig.
struct Sender {
    const char* name;
    unsigned proc;
    QV_STATUS (*send)(QV_HANDLE, const QV_MIRROR_ENABLE&);
    qvtest::Decoded<RpcMirrorConfig> (*last)(const qvtest::TestService&);
    const char16_t* refusal_line;  // for the service word 0x6FFC0010
};

const Sender kSenders[] = {
    {"qvEnableMirror", ENABLE_MIRROR,
     [](QV_HANDLE h, const QV_MIRROR_ENABLE& e) { return qvEnableMirror(h, &e); },
     [](const qvtest::TestService& svc) { return svc.Last<ENABLE_MIRROR>(); },
     u"qvEnableMirror, enable mirror error[6FFC0010]"},
    {"qvChangeMirrorConfig", CHANGE_MIRROR_CONFIG,
     [](QV_HANDLE h, const QV_MIRROR_ENABLE& e) { return qvChangeMirrorConfig(h, &e.Config); },
     [](const qvtest::TestService& svc) { return svc.Last<CHANGE_MIRROR_CONFIG>(); },
     u"qvChangeMirrorConfig, change mirror config error[6FFC0010]"},
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
    EXPECT_EQ(std::tuple(ref.kind, Text(ref.name), ref.number, ref.token),
              std::tuple(0u, name, id.number, 0u));
    ASSERT_EQ(Count(ref.name), name.size() + 1);
    EXPECT_EQ(ref.name.RpcWString_val[name.size()], 0u);
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
            ASSERT_TRUE(req.ok());
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

// The service's refusal is logged with the function's line; a transport
// failure only with the road's.
TEST_F(MirrorConfig, FailuresAreLoggedByWhatFailed) {
    for (const Sender& s : kSenders) {
        SCOPED_TRACE(s.name);
        const QV_MIRROR_ENABLE e{SampleConfig(), 0, 0, 0, 0};
        const std::size_t before = trace.Lines().size();
        svc.Answer<ENABLE_MIRROR>({.status = 0x6FFC0010, .value = 0, .token = 0});
        svc.Answer<CHANGE_MIRROR_CONFIG>({.status = 0x6FFC0010, .value = 0, .token = 0});
        EXPECT_EQ(s.send(handle, e), 0x6FFC0010u);
        svc.Misbehave(s.proc, Fault::kGarbage);
        EXPECT_EQ(s.send(handle, e), QV_STATUS_RPC_FAILED);
        EXPECT_EQ(LinesSince(before),
                  (Lines{s.refusal_line, u"Error, rpc call error, client status[00000002]"}));
    }
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
            const std::size_t before = trace.Lines().size();
            qv::alloc_fault::FailAt(n);
            EXPECT_EQ(s.send(handle, e), QV_STATUS_NO_MEMORY);
            qv::alloc_fault::Reset();
            EXPECT_EQ(svc.Calls(s.proc), calls);
            EXPECT_EQ(
                LinesSince(before),
                Lines{n == 3 || n == 4 ? u"__FillRpcMirrorConfig, no enought momory for allocation"
                                       : u"__FillRpcMirrorConfig, no memory for allocation"});
        }
    }
}

// ---- the list ----------------------------------------------------------------

TEST_F(MirrorConfig, MissingArgumentsAndUnservedKindsAreRefused) {
    EXPECT_EQ(qvEnableMirror(handle, nullptr), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(qvChangeMirrorConfig(handle, nullptr), QV_STATUS_INVALID_PARAMETER);
    const QV_CONFIG_FILTER any{0, nullptr, {nullptr, 0}};
    EXPECT_EQ(qvGetMirConfigList(handle, &any, nullptr), QV_STATUS_INVALID_PARAMETER);
    QV_MIRROR_CONFIG sentinel{};
    for (uint32_t kind : {2u, 3u, 255u, 0u}) {
        SCOPED_TRACE(kind);
        const QV_CONFIG_FILTER filter{kind, nullptr, {u"Harddisk5", 6}};
        QV_MIRROR_CONFIG_LIST list{4, &sentinel};
        EXPECT_EQ(qvGetMirConfigList(handle, kind == 0 ? nullptr : &filter, &list),
                  QV_STATUS_INVALID_PARAMETER);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorConfig, ListSendsTheObjectForKindOneOnly) {
    for (uint32_t kind : {0u, 1u, 4u, 254u}) {
        SCOPED_TRACE(kind);
        const QV_CONFIG_FILTER filter{kind, u"NotRead", {u"Harddisk5", 6}};
        QV_MIRROR_CONFIG_LIST list{};
        ASSERT_EQ(qvGetMirConfigList(handle, &filter, &list), 0u);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        auto req = svc.Last<GET_MIR_CONFIG_LIST>();
        ASSERT_TRUE(req.ok());
        EXPECT_EQ(std::tuple(req->Kind, req->token, Count(req->Name)),
                  std::tuple(kind, kMirrorToken, 0u));
        ASSERT_EQ(req->Objects.Objects_len, kind == 1 ? 1u : 0u);
        if (kind == 1) ExpectRef(req->Objects.Objects_val[0], filter.Object);
    }
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorConfig, ListConvertsEveryFieldUnderItsName) {
    WireStore store;
    RpcMirrorConfig configs[2] = {store.Config(u"Harddisk1", 2), store.Config(u"Harddisk5", 6)};
    // The second: a kind outside the accepted set, no Limit, texts absent or
    // empty.
    configs[1].MirrorKind = 7;
    configs[1].Limit = 0;
    configs[1].Text1 = {};
    configs[1].Text2 = store.Str(u"");
    configs[1].Text4 = {};
    svc.Answer<GET_MIR_CONFIG_LIST>(ListOf(configs, 2));

    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
    auto* list =
        static_cast<QV_MIRROR_CONFIG_LIST*>(qv::AllocZeroed(1, sizeof(QV_MIRROR_CONFIG_LIST)));
    ASSERT_EQ(qvGetMirConfigList(handle, &filter, list), 0u);
    ASSERT_EQ(list->Count, 2u);

    const auto text = [](const QV_WCHAR* t) {
        return t == nullptr ? u"<null>" : std::u16string(t);
    };
    const auto texts = [&](const QV_MIRROR_CONFIG& c) {
        return Lines{text(c.Primary.name), text(c.Mirror.name), text(c.Text1),
                     text(c.Text2),        text(c.Text3),       text(c.Text4)};
    };
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const QV_MIRROR_CONFIG& got = list->Entries[i];
        // Switches read back as the service holds them; the schedule's own
        // Mode, not ScheduleMode, gives the mode.
        EXPECT_EQ(
            qvtest::SharedFields(got),
            std::tuple(i == 0 ? 1u : 0u, -2001, 2002, -2003, 2004u, 2005u, 2006u, 2007u, 2008u,
                       2009u, 2010u, 2011u, 2012u, 2013u, 2014u, 7u, 9u, i == 0 ? 2015u : 0u));
        EXPECT_EQ(qvtest::ScheduleFields(got.Schedule),
                  std::tuple(2u, 401u, 402u, 403u, 404u, 405u, 406u));
        EXPECT_EQ(std::tuple(got.Primary.number, got.Mirror.number, got.LimitOn, got.Reserved1,
                             got.Reserved2),
                  std::tuple(i == 0 ? 2u : 6u, 4u, i == 0 ? 1u : 0u, 0u, 0u));
    }
    EXPECT_EQ(texts(list->Entries[0]),
              (Lines{u"Harddisk1", u"Harddisk3", u"first", u"second", u"third", u"fourth"}));
    EXPECT_EQ(texts(list->Entries[1]),
              (Lines{u"Harddisk5", u"Harddisk3", u"<null>", u"", u"third", u"<null>"}));

    EXPECT_EQ(qvFreeMirConfigList(&list, 0), 0u);
    EXPECT_EQ(list, nullptr);
    EXPECT_TRUE(trace.Lines().empty());
}

// Count decides how many configurations are walked; the walked ones are
// checked, before anything is allocated, against what was decoded.
TEST_F(MirrorConfig, ListChecksItsCountAndRecords) {
    const struct {
        const char* what;
        std::function<void(RpcMirrorConfigList&)> change;
        uint32_t listed;  // ~0u: refused
    } rows[] = {
        {"broken record beyond Count",
         [](RpcMirrorConfigList& l) {
             l.Count = 1;
             l.Configs.Configs_val[1].Primaries = {};
         },
         1},
        {"Count 0", [](RpcMirrorConfigList& l) { l.Count = 0; }, 0},
        {"count beyond the array", [](RpcMirrorConfigList& l) { l.Count = 3; }, ~0u},
        {"count without an array", [](RpcMirrorConfigList& l) { l.Configs = {}; }, ~0u},
        {"no primary", [](RpcMirrorConfigList& l) { l.Configs.Configs_val[1].Primaries = {}; },
         ~0u},
        {"no mirror", [](RpcMirrorConfigList& l) { l.Configs.Configs_val[1].Mirrors = {}; }, ~0u},
        {"no schedule", [](RpcMirrorConfigList& l) { l.Configs.Configs_val[1].Schedules = {}; },
         ~0u},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        WireStore store;
        RpcMirrorConfig configs[2] = {store.Config(), store.Config(u"Harddisk5", 6)};
        RpcMirrorConfigList reply = ListOf(configs, 2);
        r.change(reply);
        svc.Answer<GET_MIR_CONFIG_LIST>(reply);
        const std::size_t before = trace.Lines().size();
        const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
        QV_MIRROR_CONFIG_LIST list{};
        const bool refused = r.listed == ~0u;
        EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), refused ? QV_STATUS_RPC_FAILED : 0u);
        EXPECT_EQ(list.Count, refused ? 0u : r.listed);
        EXPECT_EQ(list.Entries == nullptr, list.Count == 0);
        EXPECT_EQ(LinesSince(before),
                  refused
                      ? Lines{u"qvGetMirConfigList, invalid mirror configuration list[6FFC8005]"}
                      : Lines{});
        QV_MIRROR_CONFIG_LIST* ref = &list;
        qvFreeMirConfigList(&ref, 1);
    }
}

TEST_F(MirrorConfig, ListFailureIsLoggedWithTheMappedStatus) {
    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
    QV_MIRROR_CONFIG_LIST list{};
    svc.Answer<GET_MIR_CONFIG_LIST>({.status = 0x6FFC0010, .Count = 0, .Configs = {}});
    EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), 0x6FFC0010u);
    svc.Misbehave(GET_MIR_CONFIG_LIST, Fault::kGarbage);
    EXPECT_EQ(qvGetMirConfigList(handle, &filter, &list), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(trace.Lines(),
              (Lines{u"qvGetMirConfigList, getting mirror configuration list error[6FFC0010]",
                     u"Error, rpc call error, client status[00000002]",
                     u"qvGetMirConfigList, getting mirror configuration list error[6FFC8005]"}));
}

// The request's object reference and its name; then the entry block and per
// configuration two names and four texts. Nothing is kept, the list stays
// empty; only the request's reference has a line of its own.
TEST_F(MirrorConfig, ListOutOfMemoryLeavesTheListEmpty) {
    WireStore store;
    RpcMirrorConfig configs[2] = {store.Config(), store.Config(u"Harddisk5", 6)};
    svc.Answer<GET_MIR_CONFIG_LIST>(ListOf(configs, 2));
    const QV_CONFIG_FILTER filter{1, nullptr, {u"Harddisk5", 6}};
    constexpr unsigned kAllocations = 2 + 1 + 2 * 6;
    for (unsigned n = 1; n <= kAllocations + 1; ++n) {
        SCOPED_TRACE(n);
        const std::size_t calls = svc.Calls(GET_MIR_CONFIG_LIST);
        const std::size_t before = trace.Lines().size();
        QV_MIRROR_CONFIG_LIST list{};
        qv::alloc_fault::FailAt(n);
        const QV_STATUS status = qvGetMirConfigList(handle, &filter, &list);
        qv::alloc_fault::Reset();
        EXPECT_EQ(svc.Calls(GET_MIR_CONFIG_LIST), calls + (n <= 2 ? 0 : 1));
        if (n > kAllocations) {  // one more than the walk counted fails nothing
            EXPECT_EQ(status, 0u);
            EXPECT_EQ(list.Count, 2u);
            QV_MIRROR_CONFIG_LIST* ref = &list;
            qvFreeMirConfigList(&ref, 1);
            break;
        }
        EXPECT_EQ(status, QV_STATUS_NO_MEMORY);
        EXPECT_EQ(list.Count, 0u);
        EXPECT_EQ(list.Entries, nullptr);
        EXPECT_EQ(
            LinesSince(before),
            n <= 2 ? Lines{u"qvGetMirConfigList, no more memory for memory allocation"} : Lines{});
    }
}

TEST_F(MirrorConfig, FreeReleasesEntriesAndTheHeaderUnlessKept) {
    WireStore store;
    RpcMirrorConfig configs[2] = {store.Config(), store.Config(u"Harddisk5", 6)};
    configs[1].Text1 = {};
    svc.Answer<GET_MIR_CONFIG_LIST>(ListOf(configs, 2));
    const QV_CONFIG_FILTER filter{0, nullptr, {nullptr, 0}};
    for (uint32_t keep : {0u, 5u}) {
        SCOPED_TRACE(keep);
        auto* header =
            static_cast<QV_MIRROR_CONFIG_LIST*>(qv::AllocZeroed(1, sizeof(QV_MIRROR_CONFIG_LIST)));
        ASSERT_EQ(qvGetMirConfigList(handle, &filter, header), 0u);
        QV_MIRROR_CONFIG* const entries = header->Entries;
        QV_MIRROR_CONFIG_LIST* ref = header;
        EXPECT_EQ(qvFreeMirConfigList(&ref, keep), 0u);
        if (keep == 0) {
            EXPECT_EQ(ref, nullptr);  // the sanitizer sees whether the header went
        } else {
            // The header stays as it stood; only the blocks it named are gone.
            EXPECT_EQ(std::tuple(ref, header->Count, header->Entries),
                      std::tuple(header, 2u, entries));
            qv::Free(header);
        }
    }
    QV_MIRROR_CONFIG_LIST* none = nullptr;
    EXPECT_EQ(qvFreeMirConfigList(&none, 0), 0u);
    EXPECT_EQ(qvFreeMirConfigList(nullptr, 0), 0u);
}

}  // namespace
