#include "diag/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/alloc.h"
#include "qvcliapi.h"
#include "support/trace_fixture.h"

namespace {

using qvtest::TraceFixture;
using Lines = std::vector<std::u16string>;

const std::u16string kNotice = u"qvcliapi, Memory insufficient!\n\n";

std::u16string Text(std::size_t length) {
    std::u16string text(length, u'x');
    // Mark the ends so a cut or a shift shows.
    if (length > 0) text.front() = u'<';
    if (length > 1) text.back() = u'>';
    return text;
}

// LogMessage starts at 16384 characters and doubles up to 2097152: a text
// that fits with its terminator is written whole, a longer one not at all.
TEST(Log, MessageGrowsItsBufferUpToTwoMebicharacters) {
    const struct {
        std::size_t length;
        bool written;
        unsigned blocks;  // heap blocks taken: one per capacity tried
    } cases[] = {
        {16383, true, 1},
        {20000, true, 2},
        {2097151, true, 8},
        {2097152, false, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        TraceFixture trace;
        const std::u16string text = Text(c.length);
        qv::alloc_fault::Reset();
        qv::LogMessage(2, u"%s", text.c_str());
        EXPECT_EQ(qv::alloc_fault::Count(), c.blocks);

        if (c.written) {
            EXPECT_EQ(trace.Lines(), Lines{text});
            EXPECT_TRUE(trace.DebugLines().empty());
        } else {
            EXPECT_TRUE(trace.Bytes().empty());
            EXPECT_EQ(trace.DebugLines(), Lines{kNotice});
        }
    }
}

TEST(Log, ProgressDropsTextsOf4096OrMore) {
    for (std::size_t length : {4095u, 4096u, 10000u}) {
        SCOPED_TRACE(length);
        TraceFixture trace;
        const std::u16string text = Text(length);
        qv::alloc_fault::Reset();
        qv::LogProgress(u"%s", text.c_str());
        EXPECT_EQ(qv::alloc_fault::Count(), 0u) << "a progress line takes no heap block";

        if (length < 4096) {
            EXPECT_EQ(trace.Lines(), Lines{text});
            EXPECT_TRUE(trace.DebugLines().empty());
        } else {
            EXPECT_TRUE(trace.Bytes().empty());
            EXPECT_EQ(trace.DebugLines(), Lines{kNotice});
        }
    }
}

TEST(Log, WriteTraceCutsToItsBufferAndWarns) {
    for (std::size_t length : {16383u, 16384u, 20000u}) {
        SCOPED_TRACE(length);
        TraceFixture trace;
        const std::u16string text = Text(length);
        qv::alloc_fault::Reset();
        qvWriteTrace(1, u"%s", text.c_str());
        EXPECT_EQ(qv::alloc_fault::Count(), 1u);

        EXPECT_EQ(trace.Lines(), Lines{text.substr(0, 16383)});
        EXPECT_EQ(trace.DebugLines(), length < 16384 ? Lines{} : Lines{kNotice});
    }
}

// When the heap says no, the entry is dropped without a word.
TEST(Log, AllocationFailureDropsEntrySilently) {
    const std::u16string longer = Text(20000);
    const struct {
        const char* name;
        unsigned fail_at;
        void (*log)(const std::u16string&);
    } cases[] = {
        {"LogMessage", 1, [](const std::u16string&) { qv::LogMessage(2, u"short"); }},
        {"LogMessage, second block", 2,
         [](const std::u16string& t) { qv::LogMessage(2, u"%s", t.c_str()); }},
        {"qvWriteTrace", 1, [](const std::u16string&) { qvWriteTrace(2, u"short"); }},
        {"qvWriteTrace, long", 1,
         [](const std::u16string& t) { qvWriteTrace(2, u"%s", t.c_str()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TraceFixture trace;
        qv::alloc_fault::FailAt(c.fail_at);
        c.log(longer);
        qv::alloc_fault::Reset();
        EXPECT_TRUE(trace.Bytes().empty());
        EXPECT_TRUE(trace.DebugLines().empty());
    }
}

TEST(Log, WideStringArgumentOnEveryEntryPoint) {
    TraceFixture trace;
    const char16_t* host = u"h\u00F6st-\U0001F600";
    qv::LogMessage(2, u"qvConnect, Getting hostname[%s]'s IP address failure", host);
    qv::LogProgress(u"Restore Disk, %s:%u", host, 2u);
    qvWriteTrace(2, u"[%s]", host);
    qv::DebugPrint(u"[%s]", host);

    EXPECT_EQ(trace.Lines(),
              (Lines{u"qvConnect, Getting hostname[h\u00F6st-\U0001F600]'s IP address failure",
                     u"Restore Disk, h\u00F6st-\U0001F600:2", u"[h\u00F6st-\U0001F600]"}));
    EXPECT_EQ(trace.DebugLines(), Lines{u"qvcliapi, [h\u00F6st-\U0001F600]\n"});
}

// The caller's format goes behind the prefix and keeps its conversions.
TEST(Log, DebugPrintPrefixesTheFormatAndEndsTheLine) {
    TraceFixture trace;
    qv::DebugPrint(u"Memory insufficient!\n");
    qv::DebugPrint(u"%s[%08X] 100%%", u"call", 5u);
    EXPECT_EQ(trace.DebugLines(), (Lines{kNotice, u"qvcliapi, call[00000005] 100%\n"}));
    EXPECT_FALSE(std::filesystem::exists(trace.TraceFile()));
}

TEST(Log, DebugPrintCutsTextToItsBuffer) {
    TraceFixture trace;
    const std::u16string text = Text(2000);
    qv::DebugPrint(u"%s", text.c_str());
    // 1024 characters: 1022 of text, the line end and the terminator.
    ASSERT_EQ(trace.DebugLines().size(), 1u);
    EXPECT_EQ(trace.DebugLines()[0], u"qvcliapi, " + text.substr(0, 1012) + u"\n");
}

TEST(Log, DebugPrintCutsAFormatTooLongForItsBuffer) {
    TraceFixture trace;
    const std::u16string format = Text(300);
    qv::DebugPrint(format.c_str());
    // The prefixed format holds 255 characters.
    ASSERT_EQ(trace.DebugLines().size(), 1u);
    EXPECT_EQ(trace.DebugLines()[0], u"qvcliapi, " + format.substr(0, 245) + u"\n");
}

TEST(Log, NullFormatWritesNothing) {
    TraceFixture trace;
    qv::LogMessage(2, nullptr);
    qv::LogProgress(nullptr);
    qv::DebugPrint(nullptr);
    EXPECT_TRUE(trace.Bytes().empty());
    EXPECT_TRUE(trace.DebugLines().empty());
}

}  // namespace
