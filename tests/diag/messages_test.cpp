#include "diag/messages.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "diag/format.h"
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

// ---- the formatter behind every line and message ---------------------------

// Formats into a generous buffer and checks that the returned length is the
// length of what was written.
std::u16string F(const char16_t* format, ...) {
    char16_t buffer[256];
    va_list args;
    va_start(args, format);
    const std::size_t length = qv::FormatV(buffer, format, args);
    va_end(args);
    EXPECT_EQ(length, std::char_traits<char16_t>::length(buffer));
    return buffer;
}

TEST(Format, ConversionsFlagsWidthsAndLengths) {
    // What the library's own lines use.
    EXPECT_EQ(F(u"error[%08X] %08X", 0x6FFC8004u, 5u), u"error[6FFC8004] 00000005");
    EXPECT_EQ(F(u"%04d-%02d-%02d %02d:%02d:%02d", 2024, 3, 5, 14, 7, 9), u"2024-03-05 14:07:09");
    EXPECT_EQ(F(u"%u|%d|%d", 4294967295u, -1, INT_MIN), u"4294967295|-1|-2147483648");
    EXPECT_EQ(F(u"%x %X %c%c 100%%", 0xabcdefu, 0xabcdefu, u'Q', u'\u00E9'),
              u"abcdef ABCDEF Q\u00E9 100%");
    // Wide strings.
    EXPECT_EQ(F(u"[%s][%s]", u"\u00C4 \U0001F600", static_cast<const char16_t*>(nullptr)),
              u"[\u00C4 \U0001F600][(null)]");
    EXPECT_EQ(F(u"[%6s][%-6s][%.3s][%.*s]", u"ab", u"ab", u"abcdef", 1, u"abc"),
              u"[    ab][ab    ][abc][a]");
    const char16_t unterminated[] = {u'x', u'y'};  // with a precision, no terminator needed
    EXPECT_EQ(F(u"[%.2s]", unterminated), u"[xy]");
    // Flags, widths and precisions.
    EXPECT_EQ(F(u"[%5d][%-5d][%05d][%05d]", 42, 42, 42, -42), u"[   42][42   ][00042][-0042]");
    EXPECT_EQ(F(u"[%+d][% d][%.5d][%8.5d][%-05d]", 42, 42, 42, -42, 42),
              u"[+42][ 42][00042][  -00042][42   ]");
    EXPECT_EQ(F(u"[%.0d][%.0u][%2d]", 0, 0u, 12345), u"[][][12345]");
    EXPECT_EQ(F(u"[%#x][%#X][%#x]", 255u, 255u, 0u), u"[0xff][0XFF][0]");
    EXPECT_EQ(F(u"[%*d][%-*d][%*d]", 4, 7, 4, 7, -4, 7), u"[   7][7   ][7   ]");
    // Length modifiers.
    EXPECT_EQ(F(u"%hd %hu %hx %hd", 70000, 70000u, 0x12345, 0xFFFF), u"4464 4464 2345 -1");
    EXPECT_EQ(F(u"%ld %lu", LONG_MIN, ULONG_MAX), u"-9223372036854775808 18446744073709551615");
    EXPECT_EQ(F(u"%lld %llX", -5LL, 0x1122334455667788ULL), u"-5 1122334455667788");
}

TEST(Format, DirectivesNotUnderstoodAreCopiedAndTakeNoArgument) {
    EXPECT_EQ(F(u"%q %d", 7), u"%q 7");
    EXPECT_EQ(F(u"%*q %d", 7), u"%*q 7");
    EXPECT_EQ(F(u"%08|%ll|50%"), u"%08|%ll|50%");
    char16_t buffer[4] = {u'a', u'b', u'c', u'd'};
    EXPECT_EQ(qv::Format(buffer, nullptr), 0u);  // a null format gives an empty text
    EXPECT_EQ(buffer[0], u'\0');
}

// The text is cut to capacity - 1 and terminated; the result is always the
// length the whole text needs (padding included); nothing beyond the
// capacity is touched.
TEST(Format, CutsToCapacityAndReportsFullLength) {
    const std::u16string whole = u"hello world!";
    for (std::size_t capacity : {0u, 1u, 5u, 12u, 13u, 20u}) {
        SCOPED_TRACE(capacity);
        std::u16string buffer(32, u'#');
        EXPECT_EQ(qv::Format(std::span<char16_t>(buffer.data(), capacity), u"%s", whole.c_str()),
                  whole.size());
        const std::size_t kept = capacity == 0 ? 0 : std::min(whole.size(), capacity - 1);
        EXPECT_EQ(buffer.substr(0, kept), whole.substr(0, kept));
        if (capacity > 0) {
            EXPECT_EQ(buffer[kept], u'\0');
        }
        EXPECT_EQ(buffer.substr(capacity), std::u16string(32 - capacity, u'#'));
    }
    char16_t small[4];
    EXPECT_EQ(qv::Format(small, u"%20d|%-20s|%.30d", 1, u"x", 2), 20u + 1 + 20 + 1 + 30);
    EXPECT_EQ(std::u16string(small), u"   ");
    EXPECT_EQ(qv::Format(small, u"%999999999d", 1), 999999999u);  // counted, not written
}

}  // namespace
