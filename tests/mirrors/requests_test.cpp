// What the requests of the mirror family carry beyond the object and the
// token that the table of functions checks: verify's booleans, restore's
// second object and figures, the data trace configuration both ways. The rules every function shares run over the
// table of functions.
#include <gtest/gtest.h>

#include "mirror_test_support.h"

using qvtest::Count;
using qvtest::kMirrorToken;
using qvtest::Text;

namespace {

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
    EXPECT_TRUE(trace.Lines().empty());
}

TEST_F(MirrorRequests, RestoreCarriesBothObjectsAndTheFiguresUnchanged) {
    EXPECT_EQ(qvRestorePrimary(handle, &kRestore), 0u);
    auto req = svc.Last<RESTORE_PRIMARY>();
    ASSERT_EQ(req->Counterparts.Counterparts_len, 1u);
    EXPECT_EQ(qvtest::Nested(req->Counterparts.Counterparts_val[0]),
              std::tuple(0u, u"Harddisk5", 10u, 0u, 0u));
    EXPECT_EQ(std::tuple(req->Mode, req->Option1, req->Option2, req->Option3, req->token),
              std::tuple(-3, 5u, 0xFFFFFFFFu, -7, kMirrorToken));
    EXPECT_TRUE(trace.Lines().empty());
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
    EXPECT_TRUE(trace.Lines().empty());
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
