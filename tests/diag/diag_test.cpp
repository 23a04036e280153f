// The library's own diagnostics. The trace file: its form, its levels, where
// it goes (the parameters file's Path), its rotation, alone and under load;
// what each entry point does with a line too long for it; the debug output's
// datagrams. Then the error messages and the formatter behind every line;
// last the crash guard, with a network-boot module that faults for real
// under the library's own calls (each fault in a child process, whose dump
// the parent reads).
#include <gtest/gtest.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "diag/crash_dump.h"
#include "diag/format.h"
#include "diag/log.h"
#include "diag/messages.h"
#include "diag/trace_file.h"
#include "netboot/module_variant.h"
#include "netboot/pxecfg.h"
#include "platform/alloc.h"
#include "platform/debug_output.h"
#include "platform/service_path.h"
#include "qvcliapi.h"
#include "support/memory_client.h"
#include "support/trace_fixture.h"

namespace {

namespace fs = std::filesystem;
using qvtest::TraceFixture;
using namespace std::string_literals;
using qvtest::Utf16Bytes;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::u16string>;

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

    // U+FEFF as UTF-16LE is the mark, FF FE.
    EXPECT_EQ(trace.Bytes(), Utf16Bytes(u"\uFEFF1999-12-31 23:59:58 " + text + u"\r\n" +
                                        u"2000-01-01 00:00:00 two[6FFC8003]\r\n" +
                                        u"2000-01-01 00:00:00 three 3\r\n"));
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
        {"255 characters", "[Parameters]\nPath=" + longest + "\n",
         std::u16string(longest.begin(), longest.end())},
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

// ---- rotation ------------------------------------------------------------------

constexpr std::uint64_t kLimit = qv::kTraceFileLimit;  // 2 MiB
constexpr std::uint64_t kOversized = kLimit + 1;

class TraceRotation : public ::testing::Test {
  protected:
    // The current file, just beyond the limit (a hole: costs no space).
    void OversizeCurrent(std::uint64_t size = kOversized) {
        TraceFixture::MakeSparseFile(trace.TraceFile(), size);
    }
    void MakeFile(const std::string& name, std::string_view content) {
        TraceFixture::WriteFile(trace.LogDir() / name, content);
    }
    std::string Content(const std::string& name) {
        const Bytes bytes = TraceFixture::ReadBytes(trace.LogDir() / name);
        return std::string(bytes.begin(), bytes.end());
    }
    std::uint64_t Size(unsigned n) { return fs::file_size(trace.TraceFile(n)); }
    bool Exists(unsigned n) { return fs::exists(trace.TraceFile(n)); }
    // The entries appended to a file after its first `offset` bytes.
    Lines EntriesAfter(unsigned n, std::uint64_t offset) {
        return TraceFixture::DecodeEntries(trace.Bytes(n), static_cast<std::size_t>(offset));
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(trace.LogDir())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TraceFixture trace;
};

// The oversized file takes the next free number, older files stay, and
// the entry starts a fresh file with its mark.
TEST_F(TraceRotation, OversizedCurrentTakesNextFreeNumber) {
    OversizeCurrent();
    qvWriteTrace(2, u"fresh");
    EXPECT_EQ(Size(1), kOversized);
    EXPECT_EQ(Names(), (std::vector<std::string>{"qvapi.log", "qvapi1.log"}));

    MakeFile("qvapi2.log", "older");
    MakeFile("qvapi3.log", "old");
    OversizeCurrent();
    qvWriteTrace(2, u"fresher");
    EXPECT_EQ(Size(4), kOversized);
    EXPECT_EQ(Size(1), kOversized);
    EXPECT_EQ(Content("qvapi2.log"), "older");
    EXPECT_EQ(Content("qvapi3.log"), "old");
    EXPECT_EQ(trace.Lines(), Lines{u"fresher"});
}

TEST_F(TraceRotation, FileOfExactlyTheLimitIsNotRotated) {
    OversizeCurrent(kLimit);
    qvWriteTrace(2, u"appended");

    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(EntriesAfter(0, kLimit), Lines{u"appended"});
}

// With all ten numbers taken the oldest goes and the rest move down; the
// entry still goes to the oversized current file, and the next entry moves
// that file to the freed top number.
TEST_F(TraceRotation, FullSetShiftsDownThenCurrentTakesTopNumber) {
    for (int n = 1; n <= 10; ++n)
        MakeFile("qvapi" + std::to_string(n) + ".log", "old" + std::to_string(n));
    OversizeCurrent();

    qvWriteTrace(2, u"first");
    for (int n = 1; n <= 9; ++n) {
        EXPECT_EQ(Content("qvapi" + std::to_string(n) + ".log"), "old" + std::to_string(n + 1));
    }
    EXPECT_FALSE(Exists(10));
    EXPECT_EQ(EntriesAfter(0, kOversized), Lines{u"first"});
    const std::uint64_t grown = Size(0);

    qvWriteTrace(2, u"second");
    EXPECT_EQ(Size(10), grown);
    EXPECT_EQ(EntriesAfter(10, kOversized), Lines{u"first"});
    for (int n = 1; n <= 9; ++n) {
        EXPECT_EQ(Content("qvapi" + std::to_string(n) + ".log"), "old" + std::to_string(n + 1));
    }
    EXPECT_EQ(trace.Lines(), Lines{u"second"});
}

// A stray file with a number above 10 sends every rotation down the
// delete-and-shift path: the current file keeps its name and grows.
TEST_F(TraceRotation, StrayHighNumberKeepsCurrentGrowing) {
    MakeFile("qvapi15.log", "stray");
    MakeFile("qvapi2.log", "two");
    OversizeCurrent();

    qvWriteTrace(2, u"first");
    qvWriteTrace(2, u"second");

    EXPECT_EQ(EntriesAfter(0, kOversized), (Lines{u"first", u"second"}));
    EXPECT_EQ(Content("qvapi15.log"), "stray");
    // The first rotation moved qvapi2.log down to qvapi1.log; the second
    // deleted it.
    EXPECT_EQ(Names(), (std::vector<std::string>{"qvapi.log", "qvapi15.log"}));
}

// The number after "qvapi" is read like atoi: blanks skipped, a sign, the
// leading digits, saturated; a negative number counts as a huge unsigned
// one (and -1 plus one wraps to 0).
TEST_F(TraceRotation, NumberInNameIsReadLikeAtoi) {
    const struct {
        const char* stray;
        const char* current_becomes;  // null: delete-and-shift, current kept
    } cases[] = {
        {"qvapiX.log", "qvapi1.log"},      {"qvapi 7.log", "qvapi8.log"},
        {"qvapi+4.log", "qvapi5.log"},     {"qvapi09.log", "qvapi10.log"},
        {"qvapi9junk.log", "qvapi10.log"}, {"qvapi-1.log", "qvapi0.log"},
        {"qvapi10.log", nullptr},          {"qvapi-5.log", nullptr},
        {"qvapi99999999999.log", nullptr}, {"QVAPI7.LOG", "qvapi1.log"},  // not a trace file name
        {"qvapi7.log.bak", "qvapi1.log"}                                  // not a trace file name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stray);
        for (const auto& entry : fs::directory_iterator(trace.LogDir())) fs::remove(entry.path());
        MakeFile(c.stray, "stray");
        OversizeCurrent();
        qvWriteTrace(2, u"entry");

        if (c.current_becomes != nullptr) {
            EXPECT_EQ(fs::file_size(trace.LogDir() / c.current_becomes), kOversized);
            EXPECT_EQ(trace.Lines(), Lines{u"entry"});
        } else {
            EXPECT_EQ(EntriesAfter(0, kOversized), Lines{u"entry"});
        }
    }
}

// A rotation never replaces an existing file: the rename fails, the current
// file is appended to, and rotation is tried again with the next entry.
TEST_F(TraceRotation, RenameOntoExistingFileFails) {
    MakeFile("qvapi-1.log", "wraps to 0");
    MakeFile("qvapi0.log", "in the way");
    OversizeCurrent();

    qvWriteTrace(2, u"first");
    qvWriteTrace(2, u"second");

    EXPECT_EQ(Content("qvapi0.log"), "in the way");
    EXPECT_EQ(EntriesAfter(0, kOversized), (Lines{u"first", u"second"}));
}

// ---- under load ------------------------------------------------------------

// Several processes writing and rotating the trace file at once: no entry
// is lost to a rename, and no file outside qvapi.log, qvapi1.log ..
// qvapi10.log appears.
constexpr int kWriters = 4;
constexpr int kEntriesEach = 150;
// About 8 KiB an entry: 4 x 150 entries make ~4.8 MiB, two or three
// rotations, well short of the ten files kept (so nothing is deleted).
constexpr size_t kPadding = 4000;

TEST(TraceLoad, ConcurrentWritersLoseNoEntryAndKeepTheNames) {
    qvtest::TraceFixture trace;
    const std::u16string padding(kPadding, u'.');

    pid_t children[kWriters];
    for (int w = 0; w < kWriters; ++w) {
        children[w] = fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            for (int i = 0; i < kEntriesEach; ++i) {
                qvWriteTrace(2, u"load %d/%d %s|", w, i, padding.c_str());
            }
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const std::regex scheme(R"(qvapi([1-9]|10)?\.log)");
    std::u16string all;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(trace.LogDir())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::regex_match(name, scheme)) << name;
        const auto bytes = qvtest::TraceFixture::ReadBytes(entry.path());
        all += qvtest::TraceFixture::DecodeUtf16(bytes.data(), bytes.size());
        ++files;
    }
    EXPECT_GE(files, 3);  // it did rotate

    // Every entry's text is one write: each is found exactly once, whole
    // (its padding runs to the bar).
    std::vector<int> seen(kWriters * kEntriesEach);
    const std::u16string tag = u"load ";
    for (size_t at = all.find(tag); at != std::u16string::npos; at = all.find(tag, at + 1)) {
        const size_t slash = all.find(u'/', at);
        const size_t blank = all.find(u' ', slash);
        ASSERT_NE(blank, std::u16string::npos);
        const int w = std::stoi(std::string(all.begin() + at + 5, all.begin() + slash));
        const int i = std::stoi(std::string(all.begin() + slash + 1, all.begin() + blank));
        ASSERT_TRUE(w >= 0 && w < kWriters && i >= 0 && i < kEntriesEach) << w << "/" << i;
        ASSERT_EQ(all.compare(blank + 1, kPadding + 1, padding + u"|"), 0) << w << "/" << i;
        ++seen[w * kEntriesEach + i];
    }
    for (int k = 0; k < kWriters * kEntriesEach; ++k) {
        EXPECT_EQ(seen[k], 1) << k / kEntriesEach << "/" << k % kEntriesEach;
    }
}

// ---- the error messages --------------------------------------------------------

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

// ---- the crash guard -------------------------------------------------------------

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr QV_HW_ADDRESS kGuardedAdapter{{0x00, 0x1b, 0x21, 0xab, 0xcd, 0xef}};

std::string DumpText(const qvtest::TraceFixture& trace) {
    const auto bytes = qvtest::TraceFixture::ReadBytes(trace.LogDir() / "qvapi.dmp");
    return std::string(bytes.begin(), bytes.end());
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// In the child: no core file, and the signals' own default action in place
// of the sanitizers' handlers, so that a fault ends the process.
void PrepareChild() {
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    for (int sig : kFaultSignals) signal(sig, SIG_DFL);
}

void ScriptFault(int sig) {
    QvTestPxeScript script;
    script.fault_signal = sig;
    script.fault_in = "PXEInstallDrivers";
    QvTestPxeSetScript(&script);
}

// The module faults while qvEnablePXEBoot installs the drivers: the call
// never returns, the service never hears of it.
void FaultUnderGuard(int sig) {
    ScriptFault(sig);
    qvtest::MemoryClient client;
    qvEnablePXEBoot(client.handle(), kGuardedAdapter.bytes);
}

void FaultInChild(int sig) {
    PrepareChild();
    FaultUnderGuard(sig);
}

void ExitWithCallersVerdict(int sig, siginfo_t* info, void*) {
    // The caller's handler sees the fault itself, not a copy sent later.
    const bool own = info->si_code > 0 && (sig != SIGSEGV || info->si_addr == nullptr);
    _exit(own ? 100 + sig : 1);
}

class CrashGuardTest : public ::testing::TestWithParam<int> {
  protected:
    qvtest::TraceFixture trace;
};

TEST_P(CrashGuardTest, DumpsAndEndsTheProcess) {
    const int sig = GetParam();
    EXPECT_EXIT(FaultInChild(sig), ::testing::KilledBySignal(sig), "");
    const std::string dump = DumpText(trace);
    EXPECT_NE(dump.find("signal: " + std::to_string(sig) + " SIG" + sigabbrev_np(sig) + "\n"),
              std::string::npos)
        << dump.substr(0, 2000);
    EXPECT_EQ(dump.find("code: -"), std::string::npos);  // the processor's, not software's
    EXPECT_NE(dump.find("fault address: 0x"), std::string::npos);
    if (sig == SIGSEGV) {
        EXPECT_NE(dump.find("fault address: 0x0000000000000000\n"), std::string::npos);
    }
    EXPECT_NE(dump.find("registers:\n  rip 0x"), std::string::npos);
    // The backtrace starts in the module, inside the function that faulted.
    const auto trace_at = dump.find("backtrace:\n  #0 0x");
    ASSERT_NE(trace_at, std::string::npos);
    EXPECT_NE(dump.find("PXEInstallDrivers", trace_at), std::string::npos);
    const auto maps_at = dump.find("memory map:\n");
    ASSERT_NE(maps_at, std::string::npos);
    EXPECT_NE(dump.find("pxecfg-variant/libpxecfg.so.1", maps_at), std::string::npos);
    EXPECT_NE(dump.find("[stack]", maps_at), std::string::npos);
}

TEST_P(CrashGuardTest, TheCallersHandlerGetsTheFault) {
    const int sig = GetParam();
    EXPECT_EXIT(
        {
            PrepareChild();
            struct sigaction callers {};
            callers.sa_sigaction = ExitWithCallersVerdict;
            callers.sa_flags = SA_SIGINFO;
            sigaction(sig, &callers, nullptr);
            FaultUnderGuard(sig);
        },
        ::testing::ExitedWithCode(100 + sig), "");
    EXPECT_NE(DumpText(trace).find(sigabbrev_np(sig)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, CrashGuardTest, ::testing::ValuesIn(kFaultSignals),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST(CrashGuard, ASignalSentBySoftwareIsNotSwallowed) {
    qvtest::TraceFixture trace;
    EXPECT_EXIT(
        {
            PrepareChild();
            FaultUnderGuard(-SIGILL);
            _exit(0);  // the function must not have gone on
        },
        ::testing::KilledBySignal(SIGILL), "");
    EXPECT_NE(DumpText(trace).find("signal: 4 SIGILL"), std::string::npos);
}

TEST(CrashGuard, NoLogFolderNoDumpNothingCreated) {
    qvtest::TraceFixture trace({.log_folder = false});
    EXPECT_EXIT(FaultInChild(SIGSEGV), ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_FALSE(std::filesystem::exists(trace.LogDir()));
}

TEST(CrashGuard, TwoThreadsFaultingLeaveOneWholeDump) {
    qvtest::TraceFixture trace;
    EXPECT_EXIT(
        {
            PrepareChild();
            ScriptFault(SIGSEGV);
            std::atomic<int> ready{0};
            auto fault = [&] {
                const qv::CrashGuard guard(qv::DumpPath());
                ready.fetch_add(1);
                while (ready.load() < 2) {
                }
                PXEInstallDrivers(kGuardedAdapter);
            };
            std::thread first(fault);
            std::thread second(fault);
            first.join();
            second.join();
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    const std::string dump = DumpText(trace);
    EXPECT_EQ(Occurrences(dump, "signal: "), 1u);
    EXPECT_EQ(Occurrences(dump, "memory map:\n"), 1u);
    EXPECT_NE(dump.find("[stack]"), std::string::npos);
}

sigjmp_buf g_back;
constexpr int kFaults[] = {SIGSEGV, SIGFPE};
void JumpBack(int) { siglongjmp(g_back, 1); }

TEST(CrashGuard, ALaterFaultReplacesTheDump) {
    qvtest::TraceFixture trace;
    EXPECT_EXIT(
        {
            PrepareChild();
            // A caller that recovers from faults by jumping out of them.
            for (int sig : kFaults) signal(sig, JumpBack);
            // The index lives in memory: the jump back out of a fault finds
            // it as the loop left it, not as a register held it.
            volatile std::size_t next = 0;
            while (next < std::size(kFaults)) {
                const int sig = kFaults[next];
                next = next + 1;
                if (sigsetjmp(g_back, 1) == 0) FaultUnderGuard(sig);
            }
            _exit(7);
        },
        ::testing::ExitedWithCode(7), "");
    const std::string dump = DumpText(trace);
    EXPECT_NE(dump.find("SIGFPE"), std::string::npos);
    EXPECT_EQ(dump.find("SIGSEGV"), std::string::npos);
}

bool SameAction(const struct sigaction& a, const struct sigaction& b) {
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sigismember(&a.sa_mask, sig) != sigismember(&b.sa_mask, sig)) return false;
    }
    // The C library adds its own signal-return trampoline to every action it
    // installs; that bit is its business, not the caller's.
    constexpr int kLibcRestorer = 0x04000000;
    return a.sa_sigaction == b.sa_sigaction &&
           (a.sa_flags & ~kLibcRestorer) == (b.sa_flags & ~kLibcRestorer);
}

void CallersHandler(int, siginfo_t*, void*) {}

TEST(CrashGuard, PutsBackThePreviousHandlersExactly) {
    struct sigaction before[4], callers{};
    callers.sa_sigaction = CallersHandler;
    callers.sa_flags = SA_SIGINFO | SA_RESTART | SA_NODEFER;
    sigemptyset(&callers.sa_mask);
    sigaddset(&callers.sa_mask, SIGUSR2);
    for (int i = 0; i < 4; ++i) sigaction(kFaultSignals[i], i % 2 ? &callers : nullptr, &before[i]);
    for (int i = 0; i < 4; ++i) sigaction(kFaultSignals[i], nullptr, &before[i]);
    {
        const qv::CrashGuard outer(qv::DumpPath());
        { const qv::CrashGuard inner(qv::DumpPath()); }
        for (int i = 0; i < 4; ++i) {
            struct sigaction during {};
            sigaction(kFaultSignals[i], nullptr, &during);
            EXPECT_FALSE(SameAction(during, before[i])) << "the guard must hold while one lives";
        }
    }
    for (int i = 0; i < 4; ++i) {
        struct sigaction after {};
        sigaction(kFaultSignals[i], nullptr, &after);
        EXPECT_TRUE(SameAction(after, before[i])) << sigabbrev_np(kFaultSignals[i]);
    }
}

}  // namespace
