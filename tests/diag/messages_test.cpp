#include "diag/messages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/alloc.h"
#include "qvcliapi.h"
#include "support/trace_fixture.h"

namespace {

using qvtest::TraceFixture;
using Lines = std::vector<std::u16string>;

struct Listed {
    std::uint32_t status;
    std::u16string text;
};

// tests/data/messages.expected: `XXXXXXXX "text"` per line, \n for a line
// feed, in map order.
std::vector<Listed> ReadListing() {
    std::ifstream in(std::string(QV_TEST_DATA_DIR) + "/messages.expected");
    EXPECT_TRUE(in) << "cannot open messages.expected";
    std::vector<Listed> listing;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line.size() < 11 || line[8] != ' ' || line[9] != '"' || line.back() != '"') {
            ADD_FAILURE() << "malformed listing line: " << line;
            continue;
        }
        Listed entry{static_cast<std::uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16)), {}};
        const std::string quoted = line.substr(10, line.size() - 11);
        for (std::size_t i = 0; i < quoted.size(); ++i) {
            if (quoted[i] == '\\' && i + 1 < quoted.size() && quoted[i + 1] == 'n') {
                entry.text.push_back(u'\n');
                ++i;
            } else {
                entry.text.push_back(static_cast<unsigned char>(quoted[i]));
            }
        }
        listing.push_back(std::move(entry));
    }
    return listing;
}

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

TEST(Messages, EveryMappedStatusYieldsItsListedText) {
    TraceFixture trace;
    const std::vector<Listed> listing = ReadListing();
    const auto map = qv::BuiltInMessages().map;
    ASSERT_EQ(listing.size(), 93u);
    ASSERT_EQ(map.size(), listing.size());
    for (std::size_t i = 0; i < listing.size(); ++i) {
        SCOPED_TRACE(testing::Message() << std::hex << listing[i].status);
        EXPECT_EQ(map[i].status, listing[i].status) << "map order differs at entry " << i;
        EXPECT_EQ(Message(listing[i].status), listing[i].text);
    }
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
    EXPECT_EQ(qvFreeErrMessage(nullptr), 0u);
    QV_WCHAR* none = nullptr;
    EXPECT_EQ(qvFreeErrMessage(&none), 0u);
}

}  // namespace
