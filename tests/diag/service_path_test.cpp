#include "platform/service_path.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/trace_fixture.h"

namespace {

using qvtest::TraceFixture;

std::optional<std::u16string> Lookup() {
    char16_t buffer[qv::kServicePathCapacity];
    if (!qv::GetServicePath(buffer)) return std::nullopt;
    return std::u16string(buffer);
}

TEST(ServicePath, ReadsPathFromParametersFile) {
    const struct {
        const char* name;
        std::string parameters;
        std::optional<std::u16string> expected;
    } cases[] = {
        {"plain", "[Parameters]\nPath=/opt/quarvane\n", u"/opt/quarvane"},
        {"one trailing slash dropped", "[Parameters]\nPath=/opt/quarvane/\n", u"/opt/quarvane"},
        {"only one slash dropped", "[Parameters]\nPath=/opt/quarvane//\n", u"/opt/quarvane/"},
        {"root", "[Parameters]\nPath=/\n", u""},
        {"blanks around", "[Parameters]\n  Path =  /opt/q  \n", u"/opt/q"},
        {"names in any case", "[PARAMETERS]\npath=/opt/q\n", u"/opt/q"},
        {"among others", "; comment\n[Other]\nPath=/no\n[Parameters]\nA=1\nPath=/yes\nB=2\n",
         u"/yes"},
        {"last one wins", "[Parameters]\nPath=/first\nPath=/second\n", u"/second"},
        {"CR LF and no final line end", "[Parameters]\r\nPath=/opt/q", u"/opt/q"},
        {"UTF-8", "[Parameters]\nPath=/opt/\xCE\xA9/\xF0\x9F\x98\x80\n", u"/opt/\u03A9/\U0001F600"},
        {"no key", "[Parameters]\nOther=/opt/q\n", std::nullopt},
        {"no section", "Path=/opt/q\n", std::nullopt},
        {"not UTF-8", "[Parameters]\nPath=/opt/\xFF\n", std::nullopt},
        {"empty file", "", std::nullopt},
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

// The parser's line buffer takes lines of up to 199 characters; a longer
// Path line must be refused, never read as a shorter directory.
TEST(ServicePath, LongLineIsRefusedNotCut) {
    for (std::size_t length : {194u, 195u, 250u, 600u}) {
        SCOPED_TRACE(length);
        TraceFixture trace;
        const std::string value = "/" + std::string(length - 1, 'd');
        trace.WriteParameters("[Parameters]\nPath=" + value + "\nOther=x\n");
        if (length <= 194) {
            EXPECT_EQ(Lookup(), std::u16string(value.begin(), value.end()));
        } else {
            EXPECT_EQ(Lookup(), std::nullopt);
        }
    }
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

}  // namespace
