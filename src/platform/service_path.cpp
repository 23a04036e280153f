#include "platform/service_path.h"

#include <ini.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/bounded_utf.h"

namespace qv {
namespace {

constexpr const char* kDefaultParametersFile = "/etc/quarvane/parameters.ini";

// The longest UTF-8 form of a value that can fit the caller's buffer: at
// most three bytes per UTF-16 code unit.
constexpr std::size_t kMaxValueBytes = kServicePathCapacity * 3;

struct Lookup {
    std::FILE* file = nullptr;
    // The parser cuts long lines to its own line buffer; the reader notes
    // that, so that a cut value is refused instead of read as a different
    // directory.
    bool line_cut = false;
    bool found = false;
    bool unusable = false;
    std::size_t length = 0;
    char value[kMaxValueBytes + 1] = {};
};

// fgets-like reader that marks a line longer than the parser's buffer and
// skips its rest, so the parser never sees the tail as a line of its own.
char* ReadLine(char* line, int size, void* stream) {
    auto* lookup = static_cast<Lookup*>(stream);
    if (std::fgets(line, size, lookup->file) == nullptr) return nullptr;
    const std::size_t length = std::strlen(line);
    lookup->line_cut = false;
    if (length > 0 && line[length - 1] != '\n') {
        // No line end: either the line filled the buffer exactly and ends
        // here, or it goes on.
        int c = std::fgetc(lookup->file);
        if (c != EOF && c != '\n') {
            lookup->line_cut = true;
            while ((c = std::fgetc(lookup->file)) != EOF && c != '\n') {
            }
        }
    }
    return line;
}

// Section and key names compare without regard to case, as the service's
// own configuration names do.
int OnValue(void* user, const char* section, const char* name, const char* value) {
    auto* lookup = static_cast<Lookup*>(user);
    if (strcasecmp(section, "Parameters") != 0 || strcasecmp(name, "Path") != 0) return 1;
    // The last Path in the file wins.
    lookup->found = true;
    lookup->length = std::strlen(value);
    lookup->unusable = lookup->line_cut || lookup->length > kMaxValueBytes;
    if (!lookup->unusable) std::memcpy(lookup->value, value, lookup->length + 1);
    return 1;
}

}  // namespace

bool GetServicePath(std::span<char16_t> buffer) noexcept {
    const char* file_name = std::getenv("QUARVANE_PARAMETERS");
    if (file_name == nullptr || *file_name == '\0') file_name = kDefaultParametersFile;

    Lookup lookup;
    lookup.file = std::fopen(file_name, "re");
    if (lookup.file == nullptr) return false;
    ini_parse_stream(ReadLine, &lookup, OnValue, &lookup);
    std::fclose(lookup.file);
    if (!lookup.found || lookup.unusable) return false;

    std::size_t length = Utf8ToUtf16(std::string_view(lookup.value, lookup.length), buffer);
    if (length == kConvertFailed) return false;
    if (length > 0 && buffer[length - 1] == u'/') buffer[--length] = u'\0';
    return true;
}

}  // namespace qv
