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

// A text whose ends are marked, so a cut or a shift shows.
std::u16string Text(std::size_t length) {
    std::u16string text(length, u'x');
    text.front() = u'<';
    text.back() = u'>';
    return text;
}

enum class Entry { kMessage, kProgress, kWriteTrace };

void Log(Entry entry, const std::u16string& text) {
    switch (entry) {
        case Entry::kMessage:
            return qv::LogMessage(2, u"%s", text.c_str());
        case Entry::kProgress:
            return qv::LogProgress(u"%s", text.c_str());
        case Entry::kWriteTrace:
            return qvWriteTrace(1, u"%s", text.c_str());
    }
}

// LogMessage starts at 16384 characters and doubles up to 2097152, writing a
// line whole or not at all; LogProgress has 4096 on the stack and drops a
// longer line; qvWriteTrace cuts to its 16384 and warns. What does not fit
// is told on the debug output.
TEST(Log, EachEntryPointHasItsLimit) {
    const struct {
        Entry entry;
        std::size_t length;
        std::size_t written;  // characters of the line written; 0: no line
        bool notice;
        unsigned blocks;  // heap blocks taken
    } rows[] = {
        {Entry::kMessage, 16383, 16383, false, 1},     {Entry::kMessage, 20000, 20000, false, 2},
        {Entry::kMessage, 2097151, 2097151, false, 8}, {Entry::kMessage, 2097152, 0, true, 8},
        {Entry::kProgress, 4095, 4095, false, 0},      {Entry::kProgress, 4096, 0, true, 0},
        {Entry::kWriteTrace, 16383, 16383, false, 1},  {Entry::kWriteTrace, 16384, 16383, true, 1},
        {Entry::kWriteTrace, 20000, 16383, true, 1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(r.entry) << " " << r.length);
        TraceFixture trace;
        const std::u16string text = Text(r.length);
        qv::alloc_fault::Reset();
        Log(r.entry, text);
        EXPECT_EQ(qv::alloc_fault::Count(), r.blocks);
        EXPECT_EQ(trace.Lines(), r.written == 0 ? Lines{} : Lines{text.substr(0, r.written)});
        EXPECT_EQ(trace.DebugLines(), r.notice ? Lines{kNotice} : Lines{});
    }
}

// When the heap says no, the entry is dropped without a word.
TEST(Log, AllocationFailureDropsEntrySilently) {
    const std::u16string longer = Text(20000);
    const std::pair<Entry, unsigned> rows[] = {
        {Entry::kMessage, 1}, {Entry::kMessage, 2}, {Entry::kWriteTrace, 1}};
    for (const auto& [entry, fail_at] : rows) {
        SCOPED_TRACE(fail_at);
        TraceFixture trace;
        qv::alloc_fault::FailAt(fail_at);
        Log(entry, longer);
        qv::alloc_fault::Reset();
        EXPECT_TRUE(trace.Bytes().empty());
        EXPECT_TRUE(trace.DebugLines().empty());
    }
}

// The debug line holds 1024 characters (1022 of text, the line end and the
// terminator); the prefixed format 255.
TEST(Log, DebugPrintCutsTextAndFormatToTheirBuffers) {
    TraceFixture trace;
    const std::u16string text = Text(2000);
    const std::u16string format = Text(300);
    qv::DebugPrint(u"%s", text.c_str());
    qv::DebugPrint(format.c_str());
    EXPECT_EQ(trace.DebugLines(), (Lines{u"qvcliapi, " + text.substr(0, 1012) + u"\n",
                                         u"qvcliapi, " + format.substr(0, 245) + u"\n"}));
    EXPECT_FALSE(std::filesystem::exists(trace.TraceFile()));
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
