#include "diag/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

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
