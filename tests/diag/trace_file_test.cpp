#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "diag/log.h"
#include "qvcliapi.h"
#include "support/trace_fixture.h"

namespace {

using qvtest::TraceFixture;
using qvtest::Utf16Bytes;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::u16string>;

const Bytes kMark = {0xFF, 0xFE};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The mark once, then per entry the stamp, the text unchanged as UTF-16LE
// and CR LF.
TEST(TraceFile, EntriesAreMarkedOnceStampedAndEndedWithCrLf) {
    TraceFixture trace;
    trace.SetClock(qv::LocalTime{1999, 12, 31, 23, 59, 58});
    const std::u16string text = u"Gr\u00FC\u00DFe \u4E2D \U0001F600 first\nsecond\ttab";
    qvWriteTrace(2, u"%s", text.c_str());
    trace.SetClock(qv::LocalTime{2000, 1, 1, 0, 0, 0});
    qv::LogMessage(2, u"two[%08X]", 0x6FFC8003u);
    qv::LogProgress(u"three %u", 3u);

    EXPECT_EQ(trace.Bytes(), Concat({kMark, Utf16Bytes(u"1999-12-31 23:59:58 " + text + u"\r\n"),
                                     Utf16Bytes(u"2000-01-01 00:00:00 two[6FFC8003]\r\n"),
                                     Utf16Bytes(u"2000-01-01 00:00:00 three 3\r\n")}));
}

// Levels 1 and 2 always pass; the others only with all their bits in the
// trace mask, which is 0: so 0 passes too and everything else is dropped.
TEST(TraceFile, LevelFilterWritesZeroOneAndTwo) {
    {
        TraceFixture trace;
        qvWriteTrace(4, u"not written");
        EXPECT_FALSE(std::filesystem::exists(trace.TraceFile()));
    }
    TraceFixture trace;
    for (std::uint32_t level : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 0x80000000u, 0xFFFFFFFFu}) {
        qvWriteTrace(level, u"trace %u", level);
        qv::LogMessage(level, u"message %u", level);
    }
    EXPECT_EQ(trace.Lines(), (Lines{u"trace 0", u"message 0", u"trace 1", u"message 1", u"trace 2",
                                    u"message 2"}));
}

// Without a configured directory or its log folder nothing is written.
TEST(TraceFile, NowhereToWriteWritesNothing) {
    {
        TraceFixture trace({.parameters_file = false});  // no directory configured
        qvWriteTrace(2, u"lost");
        EXPECT_TRUE(std::filesystem::is_empty(trace.LogDir()));
    }
    TraceFixture trace({.log_folder = false});  // the folder is not made
    qvWriteTrace(2, u"nowhere to go");
    qv::LogMessage(2, u"nowhere to go");
    qv::LogProgress(u"nowhere to go");
    EXPECT_FALSE(std::filesystem::exists(trace.LogDir()));
    EXPECT_TRUE(trace.DebugLines().empty());
}

TEST(TraceFile, DirectoryIsLookedUpForEveryEntry) {
    TraceFixture trace;
    qvWriteTrace(2, u"first");
    const auto moved = trace.InstallDir() / "moved";
    std::filesystem::create_directories(moved / "log");
    trace.WriteParameters("[Parameters]\nPath=" + moved.string() + "\n");
    qvWriteTrace(2, u"second");

    EXPECT_EQ(trace.Lines(), Lines{u"first"});
    EXPECT_EQ(TraceFixture::DecodeEntries(TraceFixture::ReadBytes(moved / "log" / "qvapi.log")),
              Lines{u"second"});
}

TEST(TraceFile, TraceFileThatIsNotAFileIsLeftAlone) {
    TraceFixture trace;
    std::filesystem::create_directory(trace.TraceFile());
    qvWriteTrace(2, u"lost");
    EXPECT_TRUE(std::filesystem::is_directory(trace.TraceFile()));
    EXPECT_TRUE(std::filesystem::is_empty(trace.TraceFile()));
}

}  // namespace
