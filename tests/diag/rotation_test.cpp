#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

}  // namespace
