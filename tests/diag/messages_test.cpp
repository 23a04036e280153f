#include "diag/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/alloc.h"
#include "qvcliapi.h"
#include "support/trace_fixture.h"

namespace {

using qvtest::TraceFixture;
using Lines = std::vector<std::u16string>;

std::u16string Message(QV_STATUS status) {
    QV_WCHAR* text = nullptr;
    EXPECT_EQ(qvFormatErrMessage(nullptr, status, &text), 0u);
    if (text == nullptr) {
        ADD_FAILURE() << "no text";
        return {};
    }
    std::u16string copy(text);
    EXPECT_EQ(qvFreeErrMessage(&text), 0u);
    EXPECT_EQ(text, nullptr);
    return copy;
}

// Statuses that share a text, a text with a line feed, one at the end of the
// map: the texts as users read them.
TEST(Messages, MappedStatusesYieldTheirTexts) {
    TraceFixture trace;
    const std::pair<QV_STATUS, std::u16string> rows[] = {
        {0x6FFC8000, u"There is no connection to the Quarvane service."},
        {0x6FFC0200, u"There is no connection to the Quarvane service."},
        {0xEFFC0001, u"The system is currently running low on resources."},
        {0x6FFC0506,
         u"The specified operation cannot be performed because the resource is "
         u"currently in use. \nPlease contact your administrator."},
    };
    for (const auto& [status, text] : rows) EXPECT_EQ(Message(status), text) << std::hex << status;
    EXPECT_EQ(qv::BuiltInMessages().map.size(), 93u);
    EXPECT_TRUE(trace.Bytes().empty());
}

// A status without an entry is shown by its number; the line saying so has
// level 3, which the trace file does not take. The handle is not used.
TEST(Messages, UnmappedStatusIsShownByItsNumber) {
    TraceFixture trace;
    for (auto [status, text] :
         {std::pair{QV_STATUS_RPC_CHANNEL, u"6FFC8004"}, std::pair{0x00000000u, u"00000000"},
          std::pair{0xFFFFFFFFu, u"FFFFFFFF"}, std::pair{0x0000ABCDu, u"0000ABCD"}}) {
        EXPECT_EQ(Message(status), text);
    }
    EXPECT_TRUE(trace.Bytes().empty());
    QV_WCHAR* text = nullptr;
    EXPECT_EQ(qvFormatErrMessage(reinterpret_cast<QV_HANDLE>(0x1234), QV_STATUS_RPC_TIMEOUT, &text),
              0u);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text), u"The operation timed out.");
    qvFreeErrMessage(&text);
}

TEST(Messages, TextThatDoesNotLoadFallsBackAndIsLogged) {
    TraceFixture trace;
    constexpr qv::MessageMapEntry map[] = {{0x6FFC0001, 999}, {0x6FFC0002, 100}};
    constexpr qv::MessageText texts[] = {{100, u"present"}, {999, u""}};
    for (auto [table, status] : {std::pair{qv::MessageTable{map, {}}, 0x6FFC0001u},
                                 std::pair{qv::MessageTable{map, texts}, 0x6FFC0001u}}) {
        char16_t* text = nullptr;
        EXPECT_EQ(qv::FormatErrMessage(table, status, &text), 0u);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::u16string(text), u"6FFC0001");
        qv::Free(text);
    }
    EXPECT_EQ(trace.Lines(), (Lines{u"Failed to load string resource for code 6FFC0001",
                                    u"Failed to load string resource for code 6FFC0001"}));
}

TEST(Messages, TextIsCutToTheLoadBuffer) {
    const std::u16string long_text(600, u'm');
    const qv::MessageMapEntry map[] = {{1, 100}};
    const qv::MessageText texts[] = {{100, long_text.c_str()}};
    char16_t* text = nullptr;
    qv::FormatErrMessage(qv::MessageTable{map, texts}, 1, &text);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text), long_text.substr(0, 511));
    qv::Free(text);
}

TEST(Messages, NoHeapGivesNullAndNullPointersAreAccepted) {
    TraceFixture trace;
    for (QV_STATUS status : {QV_STATUS_RPC_TIMEOUT, QV_STATUS_RPC_CHANNEL}) {
        QV_WCHAR* text = reinterpret_cast<QV_WCHAR*>(0x1);
        qv::alloc_fault::FailAt(1, /*sticky=*/true);
        EXPECT_EQ(qvFormatErrMessage(nullptr, status, &text), 0u);
        qv::alloc_fault::Reset();
        EXPECT_EQ(text, nullptr);
    }
    EXPECT_EQ(qvFormatErrMessage(nullptr, QV_STATUS_RPC_TIMEOUT, nullptr), 0u);
}

}  // namespace
