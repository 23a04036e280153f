#include "platform/service_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "qvcliapi.h"
#include "support/trace_fixture.h"

namespace {

using qvtest::TraceFixture;
using namespace std::string_literals;

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
