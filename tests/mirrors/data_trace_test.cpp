// Data trace configuration: what the setter sends, what the getter hands
// back, and the release of what the getter allocated.
#include <gtest/gtest.h>

#include "mirror_test_support.h"
#include "platform/alloc.h"

using qvtest::Count;
using qvtest::Fault;
using qvtest::Lines;
using qvtest::Text;

namespace {

using MirrorDataTrace = qvtest::MirrorHandleTest;

// The count the service takes by default fills in for 0; a missing text goes
// as no units, an empty one with its terminator.
TEST_F(MirrorDataTrace, SetSendsTheObjectOptionTextAndCount) {
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
        ASSERT_TRUE(req.ok());
        EXPECT_EQ(std::tuple(req->status, req->token, req->Option, req->Count),
                  std::tuple(0u, qvtest::kMirrorToken, -5, r.sent_count));
        const std::u16string text = r.text == nullptr ? u"" : r.text;
        EXPECT_EQ(Text(req->Text), text);
        EXPECT_EQ(Count(req->Text), r.text == nullptr ? 0 : text.size() + 1);
        ASSERT_EQ(req->Objects.Objects_len, 1u);
        const RpcObjectRef& object = req->Objects.Objects_val[0];
        EXPECT_EQ(std::tuple(object.kind, Text(object.name), object.number, object.token),
                  std::tuple(0u, u"Harddisk2", 4u, 0u));
    }
    EXPECT_EQ(std::u16string(path), u"trace path");  // the caller's text stays
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorDataTrace, SetFailuresAreLogged) {
    QV_WCHAR text[] = u"trace path";
    const QV_DATA_TRACE_CONFIG config{0, text, 0};
    svc.Answer<SET_DATA_TRACE_CONFIG>({.status = 0x6FFC0040, .value = 0, .token = 0});
    EXPECT_EQ(qvSetDataTraceConfig(handle, u"Harddisk2", 4, &config), 0x6FFC0040u);
    svc.Misbehave(SET_DATA_TRACE_CONFIG, Fault::kGarbage);
    EXPECT_EQ(qvSetDataTraceConfig(handle, u"Harddisk2", 4, &config), QV_STATUS_RPC_FAILED);
    // The reference block, its name, the text copy: nothing is sent.
    for (unsigned n = 1; n <= 3; ++n) {
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvSetDataTraceConfig(handle, u"Harddisk2", 4, &config), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
    }
    EXPECT_EQ(svc.Calls(SET_DATA_TRACE_CONFIG), 2u);
    EXPECT_EQ(trace.Lines(),
              (Lines{u"qvSetDataTraceConfig, setting data trace I/O configuration error[6FFC0040]",
                     u"Error, rpc call error, client status[00000002]",
                     u"qvSetDataTraceConfig, setting data trace I/O configuration error[6FFC8005]",
                     u"qvSetDataTraceConfig, no more memory available!",
                     u"qvSetDataTraceConfig, no more memory available!",
                     u"qvSetDataTraceConfig, no more memory available!"}));
}

RpcDataTraceConfig Reply(uint32_t status, std::u16string& units) {
    return {status,
            0,
            {},
            -9,
            {static_cast<u_int>(units.size()), reinterpret_cast<u_short*>(units.data())},
            12};
}

TEST_F(MirrorDataTrace, GetHandsBackACopyOfTheServicesSettings) {
    std::u16string text(u"trace path\0", 11);
    svc.Answer<GET_DATA_TRACE_CONFIG>(Reply(0, text));
    QV_DATA_TRACE_CONFIG config{7, nullptr, 7};
    EXPECT_EQ(qvGetDataTraceConfig(handle, u"Harddisk2", 4, &config), 0u);
    auto req = svc.Last<GET_DATA_TRACE_CONFIG>();
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(std::tuple(req->kind, Text(req->name), req->number, req->token),
              std::tuple(0u, u"Harddisk2", 4u, qvtest::kMirrorToken));
    ASSERT_NE(config.Text, nullptr);
    EXPECT_EQ(std::tuple(config.Option, std::u16string(config.Text), config.Count),
              std::tuple(-9, u"trace path", 12u));
    EXPECT_TRUE(trace.Lines().empty());

    // The caller's own structure: only the text goes back.
    QV_DATA_TRACE_CONFIG* held = &config;
    EXPECT_EQ(qvFreeDataTraceConfig(&held, 1), 0u);
    EXPECT_EQ(std::tuple(held, config.Text, config.Count), std::tuple(&config, nullptr, 12u));
}

// No units reads as no text; a text is read up to its terminator and never
// past the units received.
TEST_F(MirrorDataTrace, GetReadsTheTextWithinTheUnitsReceived) {
    const std::pair<std::u16string, const char16_t*> rows[] = {
        {u"", nullptr},
        {std::u16string(1, u'\0'), u""},
        {u"abc", u"abc"},  // no terminator received
        {std::u16string(u"ab\0cd", 5), u"ab"},
    };
    for (const auto& [sent, expected] : rows) {
        SCOPED_TRACE(sent.size());
        std::u16string units = sent;
        svc.Answer<GET_DATA_TRACE_CONFIG>(Reply(0, units));
        auto* config =
            static_cast<QV_DATA_TRACE_CONFIG*>(qv::AllocZeroed(1, sizeof(QV_DATA_TRACE_CONFIG)));
        EXPECT_EQ(qvGetDataTraceConfig(handle, u"Harddisk2", 4, config), 0u);
        EXPECT_EQ(config->Text == nullptr, expected == nullptr);
        if (expected != nullptr && config->Text != nullptr) {
            EXPECT_EQ(std::u16string(config->Text), expected);
        }
        EXPECT_EQ(qvFreeDataTraceConfig(&config, 0), 0u);
        EXPECT_EQ(config, nullptr);
    }
}

// Refused, undecodable, no memory for the name (nothing sent) or for the
// received text: the structure is zero and the mapped status logged.
TEST_F(MirrorDataTrace, FailedGetLeavesTheStructureZero) {
    std::u16string text(u"trace path\0", 11);
    QV_WCHAR callers[] = u"caller's";
    const uint32_t statuses[] = {0x6FFC0040, QV_STATUS_RPC_FAILED, QV_STATUS_NO_MEMORY,
                                 QV_STATUS_NO_MEMORY};
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        svc.Answer<GET_DATA_TRACE_CONFIG>(Reply(step == 0 ? 0x6FFC0040 : 0, text));
        if (step == 1) svc.Misbehave(GET_DATA_TRACE_CONFIG, Fault::kGarbage);
        if (step >= 2) qv::alloc_fault::FailAt(step - 1);
        QV_DATA_TRACE_CONFIG config{7, callers, 7};
        EXPECT_EQ(qvGetDataTraceConfig(handle, u"Harddisk2", 4, &config), statuses[step]);
        qv::alloc_fault::Reset();
        EXPECT_EQ(std::tuple(config.Option, config.Text, config.Count), std::tuple(0, nullptr, 0u));
    }
    EXPECT_EQ(std::u16string(callers), u"caller's");
    EXPECT_EQ(svc.Calls(GET_DATA_TRACE_CONFIG), 3u);
    const std::u16string line =
        u"qvGetDataTraceConfig, getting data trace I/O configuration error[";
    EXPECT_EQ(trace.Lines(),
              (Lines{line + u"6FFC0040]", u"Error, rpc call error, client status[00000002]",
                     line + u"6FFC8005]", line + u"EFFC0001]", line + u"EFFC0001]"}));
}

}  // namespace
