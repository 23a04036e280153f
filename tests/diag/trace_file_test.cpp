// The trace file: its form, its levels, where it goes (the parameters file's
// Path); what each entry point does with a line too long for it; the debug
// output's datagrams.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "diag/log.h"
#include "platform/alloc.h"
#include "platform/debug_output.h"
#include "platform/service_path.h"
#include "qvcliapi.h"
#include "support/trace_fixture.h"

namespace {

using qvtest::TraceFixture;
using namespace std::string_literals;
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

// ---- the entry points -------------------------------------------------------

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

// ---- the debug output ------------------------------------------------------

std::string Datagram(std::u16string_view line, const qv::LocalTime& when, std::size_t capacity) {
    std::string out(capacity, '#');
    const std::size_t size =
        qv::debug_output::BuildDatagram(line, when, std::span<char>(out.data(), capacity));
    EXPECT_LE(size, capacity);
    return out.substr(0, size);
}

TEST(DebugOutput, DatagramHasTheSyslogForm) {
    // User facility, debug priority: <15>; the day is padded with a blank.
    EXPECT_EQ(Datagram(u"qvcliapi, Memory insufficient!\n\n", qvtest::kSampleTime, 4096),
              "<15>Mar  5 14:07:09 qvcliapi: qvcliapi, Memory insufficient!\n\n");
    EXPECT_EQ(Datagram(u"x", qv::LocalTime{2024, 12, 31, 23, 59, 58}, 4096),
              "<15>Dec 31 23:59:58 qvcliapi: x");
}

TEST(DebugOutput, TextIsUtf8WithUnpairedSurrogatesReplaced) {
    const char16_t line[] = {u'a', 0x00E9, 0xD83D, 0xDE00, u'b', 0xD800, u'c', 0xDC00};
    EXPECT_EQ(Datagram(std::u16string_view(line, std::size(line)), qvtest::kSampleTime, 4096),
              "<15>Mar  5 14:07:09 qvcliapi: a\xC3\xA9\xF0\x9F\x98\x80"
              "b\xEF\xBF\xBD"
              "c\xEF\xBF\xBD");
}

TEST(DebugOutput, TextTooLongForTheDatagramIsCut) {
    const std::string header = "<15>Mar  5 14:07:09 qvcliapi: ";
    const std::u16string line(100, u'z');
    const std::string datagram = Datagram(line, qvtest::kSampleTime, header.size() + 11);
    // Ten characters and the place of the terminator.
    EXPECT_EQ(datagram, header + std::string(10, 'z'));
    EXPECT_EQ(Datagram(line, qvtest::kSampleTime, 10), "");
}

TEST(DebugOutput, SendsOneDatagramPerLine) {
    TraceFixture trace;
    trace.SetClock(qvtest::kSampleTime);
    const std::string path = (trace.InstallDir() / "syslog.sock").string();
    const int listener = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);

    qv::debug_output::SendDatagram(path.c_str(), u"qvcliapi, first\n");
    qv::debug_output::SendDatagram(path.c_str(), u"qvcliapi, second\n");

    char buffer[256];
    ssize_t size = recv(listener, buffer, sizeof(buffer), MSG_DONTWAIT);
    EXPECT_EQ(std::string(buffer, size > 0 ? size : 0),
              "<15>Mar  5 14:07:09 qvcliapi: qvcliapi, first\n");
    size = recv(listener, buffer, sizeof(buffer), MSG_DONTWAIT);
    EXPECT_EQ(std::string(buffer, size > 0 ? size : 0),
              "<15>Mar  5 14:07:09 qvcliapi: qvcliapi, second\n");
    close(listener);
}

// ---- where the trace file goes: the parameters file's Path -------------------


std::optional<std::u16string> Lookup() {
    char16_t buffer[qv::kServicePathCapacity];
    if (!qv::GetServicePath(buffer)) return std::nullopt;
    return std::u16string(buffer);
}

std::u16string Ascii(const std::string& text) { return {text.begin(), text.end()}; }

TEST(ServicePath, ReadsPathFromParametersFile) {
    // 255 characters fill the buffer with its terminator; 256 do not.
    const std::string longest = "/" + std::string(254, 'd');
    const std::string wide_comment(5000, ';');
    const struct {
        const char* name;
        std::string parameters;
        std::optional<std::u16string> expected;
    } cases[] = {
        {"plain", "[Parameters]\nPath=/opt/quarvane\n", u"/opt/quarvane"},
        {"one trailing slash dropped", "[Parameters]\nPath=/opt/quarvane/\n", u"/opt/quarvane"},
        {"only one slash dropped", "[Parameters]\nPath=/opt/quarvane//\n", u"/opt/quarvane/"},
        {"root", "[Parameters]\nPath=/\n", u""},
        {"blanks around", "[ Parameters ]\t\n  Path \t=  /opt/q \t \n", u"/opt/q"},
        {"names in any case", "[PARAMETERS]\npath=/opt/q\n", u"/opt/q"},
        {"255 characters", "[Parameters]\nPath=" + longest + "\n", Ascii(longest)},
        {"256 characters", "[Parameters]\nPath=" + longest + "e\n", std::nullopt},
        {"256 with the slash that goes", "[Parameters]\nPath=" + longest + "/\n", std::nullopt},
        {"what a directory name holds", "[Parameters]\nPath=/opt/a ;b #c=d  e;f\n",
         u"/opt/a ;b #c=d  e;f"},
        {"CR LF", "[Parameters]\r\nPath=/opt/q \r\nA=1\r\n", u"/opt/q"},
        {"byte-order mark, no final line end", "\xEF\xBB\xBF[Parameters]\nPath=/opt/q", u"/opt/q"},
        {"long lines around it",
         wide_comment + "\n[Parameters]\nOther=" + wide_comment + "\nPath=/opt/q" +
             std::string(3000, ' ') + "\n" + wide_comment,
         u"/opt/q"},
        {"among others",
         "; comment\n# comment\n\n[Other]\nPath=/no\n[Parameters]\nA=1\nPath=/yes\nB=2\n"
         "[Later]\nPath=/no\n",
         u"/yes"},
        {"last one wins", "[Parameters]\nPath=/first\n[Parameters]\nPath=/second\n", u"/second"},
        {"last one too long", "[Parameters]\nPath=/first\nPath=" + longest + "e\n", std::nullopt},
        {"UTF-8", "[Parameters]\nPath=/opt/\xCE\xA9/\xF0\x9F\x98\x80\n", u"/opt/\u03A9/\U0001F600"},
        {"not UTF-8", "[Parameters]\nPath=/opt/\xFF\n", std::nullopt},
        {"no key", "[Parameters]\nOther=/opt/q\n", std::nullopt},
        {"no section", "Path=/opt/q\n", std::nullopt},
        {"empty file", "", std::nullopt},
        // A damaged file is refused whole rather than read around.
        {"unclosed section", "[Other\n[Parameters]\nPath=/opt/q\n", std::nullopt},
        {"text after a section", "[Parameters] x\nPath=/opt/q\n", std::nullopt},
        {"line without =", "[Parameters]\nPath=/opt/q\nstray\n", std::nullopt},
        {"empty key", "[Parameters]\nPath=/opt/q\n =x\n", std::nullopt},
        {"zero byte", "[Parameters]\nPath=/opt/q\0x\n"s, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TraceFixture trace;
        trace.WriteParameters(c.parameters);
        EXPECT_EQ(Lookup(), c.expected);
    }
    TraceFixture trace({.parameters_file = false});
    EXPECT_EQ(Lookup(), std::nullopt);
}

TEST(ServicePath, ValueMustFitTheCallersBuffer) {
    TraceFixture trace;
    trace.WriteParameters("[Parameters]\nPath=/opt/quarvane\n");
    char16_t fits[14];
    ASSERT_TRUE(qv::GetServicePath(fits));
    EXPECT_EQ(std::u16string(fits), u"/opt/quarvane");
    char16_t too_small[13];
    EXPECT_FALSE(qv::GetServicePath(too_small));
}

// A long directory with separators of other file formats in its name still
// gets its trace file.
TEST(ServicePath, TraceReachesALongDirectoryWithAnyName) {
    TraceFixture trace;
    const std::filesystem::path dir = trace.InstallDir() / "a ;b #c=d [e]";
    // The directory, '/', its last name and "/log/qvapi10.log" fill the buffer.
    const std::size_t used = dir.string().size() + 1 + std::string("/log/qvapi10.log").size();
    const std::filesystem::path install =
        dir / std::string(qv::kServicePathCapacity - 1 - used, 'x');
    std::filesystem::create_directories(install / "log");
    ASSERT_GT(install.string().size(), 200u);
    trace.WriteParameters("[Parameters]\nPath=" + install.string() + "\n");
    qvWriteTrace(2, u"into %s", u"the long one");
    const auto bytes = TraceFixture::ReadBytes(install / "log" / "qvapi.log");
    EXPECT_EQ(TraceFixture::DecodeEntries(bytes),
              std::vector<std::u16string>{u"into the long one"});
}

}  // namespace
