// Several processes writing and rotating the trace file at once: no entry
// is lost to a rename, and no file outside qvapi.log, qvapi1.log ..
// qvapi10.log appears.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "qvcliapi.h"
#include "support/trace_fixture.h"

namespace {

namespace fs = std::filesystem;

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
