// Data trace configuration: what the setter sends, what the getter hands
// back, and the release of what the getter allocated.
#include <gtest/gtest.h>

#include <cstring>

#include "mirror_test_support.h"
#include "platform/alloc.h"

using qvtest::Fault;
using qvtest::Text;

namespace {

using Lines = std::vector<std::u16string>;
using MirrorDataTrace = qvtest::MirrorHandleTest;

TEST_F(MirrorDataTrace, SetSendsTheObjectOptionTextAndCount) {
    QV_WCHAR text[] = u"trace path";
    const QV_DATA_TRACE_CONFIG config{-5, text, 3};
    EXPECT_EQ(qvSetDataTraceConfig(handle, u"Harddisk2", 4, &config), 0u);

    auto req = svc.Last<SET_DATA_TRACE_CONFIG>();
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(req->status, 0u);
    EXPECT_EQ(req->token, qvtest::kMirrorToken);
    ASSERT_EQ(req->Objects.Objects_len, 1u);
    const RpcObjectRef& object = req->Objects.Objects_val[0];
    EXPECT_EQ(object.kind, 0u);
    EXPECT_EQ(Text(object.name), u"Harddisk2");
    EXPECT_EQ(object.number, 4u);
    EXPECT_EQ(object.token, 0u);
    EXPECT_EQ(req->Option, -5);
    EXPECT_EQ(qvtest::Count(req->Text), 11u);
    EXPECT_EQ(Text(req->Text), u"trace path");
    EXPECT_EQ(req->Count, 3u);
    EXPECT_EQ(std::u16string(config.Text), u"trace path");  // the caller's text stays
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorDataTrace, SetFillsInTheDefaultCountAndTheTextsCount) {
    QV_WCHAR empty[] = u"";
    struct Row {
        QV_WCHAR* text;
        uint32_t count;
        unsigned sent_text_units;
        uint32_t sent_count;
    };
    for (const Row r :
         {Row{nullptr, 0, 0, 5}, Row{empty, 1, 1, 1}, Row{nullptr, 0xFFFFFFFF, 0, 0xFFFFFFFF}}) {
        SCOPED_TRACE(r.count);
        const QV_DATA_TRACE_CONFIG config{0, r.text, r.count};
        EXPECT_EQ(qvSetDataTraceConfig(handle, u"", 0, &config), 0u);
        auto req = svc.Last<SET_DATA_TRACE_CONFIG>();
        ASSERT_TRUE(req.ok());
        EXPECT_EQ(qvtest::Count(req->Text), r.sent_text_units);
        EXPECT_EQ(req->Count, r.sent_count);
        ASSERT_EQ(req->Objects.Objects_len, 1u);
        EXPECT_EQ(qvtest::Count(req->Objects.Objects_val[0].name), 1u);  // the lone terminator
    }
}

TEST_F(MirrorDataTrace, SetFailureIsLoggedWithTheMappedStatus) {
    const QV_DATA_TRACE_CONFIG config{0, nullptr, 0};
    svc.Answer<SET_DATA_TRACE_CONFIG>({.status = 0x6FFC0040, .value = 0, .token = 0});
    EXPECT_EQ(qvSetDataTraceConfig(handle, u"Harddisk2", 4, &config), 0x6FFC0040u);
    svc.Misbehave(SET_DATA_TRACE_CONFIG, Fault::kGarbage);
    EXPECT_EQ(qvSetDataTraceConfig(handle, u"Harddisk2", 4, &config), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(
        trace.Lines(),
        (Lines{u"qvSetDataTraceConfig, setting data trace I/O configuration error[6FFC0040]",
               u"Error, rpc call error, client status[00000002]",
               u"qvSetDataTraceConfig, setting data trace I/O configuration error[6FFC8005]"}));
}

// The reference block, its name, the text copy.
TEST_F(MirrorDataTrace, SetWithoutMemorySendsNothing) {
    QV_WCHAR text[] = u"trace path";
    const QV_DATA_TRACE_CONFIG config{0, text, 0};
    for (unsigned n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvSetDataTraceConfig(handle, u"Harddisk2", 4, &config), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_EQ(trace.Lines(), Lines(3, u"qvSetDataTraceConfig, no more memory available!"));
}

RpcDataTraceConfig Reply(uint32_t status, std::u16string& text, u_int units) {
    RpcDataTraceConfig r{};
    r.status = status;
    r.Option = -9;
    r.Text = {units, reinterpret_cast<u_short*>(text.data())};
    r.Count = 12;
    return r;
}

TEST_F(MirrorDataTrace, GetHandsBackACopyOfTheServicesSettings) {
    std::u16string text(u"trace path\0", 11);
    svc.Answer<GET_DATA_TRACE_CONFIG>(Reply(0, text, 11));
    QV_DATA_TRACE_CONFIG config{7, nullptr, 7};
    EXPECT_EQ(qvGetDataTraceConfig(handle, u"Harddisk2", 4, &config), 0u);

    auto req = svc.Last<GET_DATA_TRACE_CONFIG>();
    ASSERT_TRUE(req.ok());
    EXPECT_EQ(req->kind, 0u);
    EXPECT_EQ(Text(req->name), u"Harddisk2");
    EXPECT_EQ(req->number, 4u);
    EXPECT_EQ(req->token, qvtest::kMirrorToken);

    EXPECT_EQ(config.Option, -9);
    ASSERT_NE(config.Text, nullptr);
    EXPECT_EQ(std::u16string(config.Text), u"trace path");
    EXPECT_EQ(config.Count, 12u);
    EXPECT_TRUE(trace.Lines().empty());

    // The caller's own structure: only the text goes back.
    QV_DATA_TRACE_CONFIG* held = &config;
    EXPECT_EQ(qvFreeDataTraceConfig(&held, 1), 0u);
    EXPECT_EQ(held, &config);
    EXPECT_EQ(config.Text, nullptr);
    EXPECT_EQ(config.Count, 12u);
}

// Text as the service sent it: no units reads as no text; a text is read
// up to its terminator and never past the units received.
TEST_F(MirrorDataTrace, GetReadsTheTextWithinTheUnitsReceived) {
    struct Row {
        std::u16string units;
        bool null_text;
        std::u16string text;
    };
    const Row rows[] = {
        {u"", true, u""},
        {std::u16string(1, u'\0'), false, u""},
        {u"abc", false, u"abc"},  // no terminator received
        {std::u16string(u"ab\0cd", 5), false, u"ab"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.units.size());
        std::u16string units = r.units;
        svc.Answer<GET_DATA_TRACE_CONFIG>(Reply(0, units, static_cast<u_int>(units.size())));
        auto* config =
            static_cast<QV_DATA_TRACE_CONFIG*>(qv::AllocZeroed(1, sizeof(QV_DATA_TRACE_CONFIG)));
        ASSERT_NE(config, nullptr);
        EXPECT_EQ(qvGetDataTraceConfig(handle, u"Harddisk2", 4, config), 0u);
        if (r.null_text) {
            EXPECT_EQ(config->Text, nullptr);
        } else {
            ASSERT_NE(config->Text, nullptr);
            EXPECT_EQ(std::u16string(config->Text), r.text);
        }
        EXPECT_EQ(qvFreeDataTraceConfig(&config, 0), 0u);
        EXPECT_EQ(config, nullptr);
    }
}

TEST_F(MirrorDataTrace, FailedGetLeavesTheStructureZero) {
    std::u16string text(u"trace path\0", 11);
    svc.Answer<GET_DATA_TRACE_CONFIG>(Reply(0x6FFC0040, text, 11));
    QV_WCHAR callers[] = u"caller's";
    QV_DATA_TRACE_CONFIG config{7, callers, 7};
    EXPECT_EQ(qvGetDataTraceConfig(handle, u"Harddisk2", 4, &config), 0x6FFC0040u);
    EXPECT_EQ(config.Option, 0);
    EXPECT_EQ(config.Text, nullptr);
    EXPECT_EQ(config.Count, 0u);

    config = {7, callers, 7};
    svc.Misbehave(GET_DATA_TRACE_CONFIG, Fault::kGarbage);
    EXPECT_EQ(qvGetDataTraceConfig(handle, u"Harddisk2", 4, &config), QV_STATUS_RPC_FAILED);
    EXPECT_EQ(config.Option, 0);
    EXPECT_EQ(config.Text, nullptr);
    EXPECT_EQ(config.Count, 0u);
    EXPECT_EQ(std::u16string(callers), u"caller's");

    EXPECT_EQ(
        trace.Lines(),
        (Lines{u"qvGetDataTraceConfig, getting data trace I/O configuration error[6FFC0040]",
               u"Error, rpc call error, client status[00000002]",
               u"qvGetDataTraceConfig, getting data trace I/O configuration error[6FFC8005]"}));
}

// The name copy (nothing sent), then the copy of the received text.
TEST_F(MirrorDataTrace, GetWithoutMemoryLeavesTheStructureZero) {
    std::u16string text(u"trace path\0", 11);
    svc.Answer<GET_DATA_TRACE_CONFIG>(Reply(0, text, 11));
    for (unsigned n : {1u, 2u}) {
        SCOPED_TRACE(n);
        QV_DATA_TRACE_CONFIG config{7, nullptr, 7};
        qv::alloc_fault::FailAt(n);
        EXPECT_EQ(qvGetDataTraceConfig(handle, u"Harddisk2", 4, &config), QV_STATUS_NO_MEMORY);
        qv::alloc_fault::Reset();
        EXPECT_EQ(config.Option, 0);
        EXPECT_EQ(config.Text, nullptr);
        EXPECT_EQ(config.Count, 0u);
    }
    EXPECT_EQ(svc.Calls(GET_DATA_TRACE_CONFIG), 1u);
    EXPECT_EQ(trace.Lines(), Lines(2,
                                   u"qvGetDataTraceConfig, getting data trace I/O configuration "
                                   u"error[EFFC0001]"));
}

}  // namespace
