#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "diag/trace_file.h"
#include "qvcliapi.h"
#include "support/trace_fixture.h"

namespace {

namespace fs = std::filesystem;
using qvtest::TraceFixture;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::u16string>;

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

}  // namespace
