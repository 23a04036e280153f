#include "platform/service_path.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/bounded_utf.h"

namespace qv {
namespace {

constexpr const char* kDefaultParametersFile = "/etc/quarvane/parameters.ini";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The longest UTF-8 form of a value that can fit the caller's buffer: at
// most three bytes per UTF-16 code unit.
constexpr std::size_t kMaxValueBytes = kServicePathCapacity * 3;
// Longer section and key names than this are not the ones looked for.
constexpr std::size_t kMaxNameBytes = 16;

constexpr bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r'; }

// Text collected one byte at a time without its leading and trailing
// blanks, in a fixed buffer. Blanks inside are kept; trailing ones are held
// back until a later byte shows they are inside, so a line may carry any
// number of them. A text that does not fit is marked, never cut.
template <std::size_t N>
class TrimmedText {
  public:
    void Add(char c) noexcept {
        if (IsBlank(c)) {
            if (length_ == 0) return;  // leading
            if (held_ < N) {
                text_[held_++] = c;
            } else {
                blanks_spilled_ = true;
            }
            return;
        }
        if (blanks_spilled_ || held_ == N) {
            too_long_ = true;
            return;
        }
        text_[held_++] = c;
        length_ = held_;
    }
    std::string_view Text() const noexcept { return {text_.data(), length_}; }
    bool TooLong() const noexcept { return too_long_; }
    bool Is(const char* name) const noexcept {
        return !too_long_ && strncasecmp(text_.data(), name, length_) == 0 && name[length_] == '\0';
    }

  private:
    std::array<char, N> text_{};
    std::size_t held_ = 0;    // bytes kept, trailing blanks included
    std::size_t length_ = 0;  // up to the last byte that is not a blank
    bool blanks_spilled_ = false;
    bool too_long_ = false;
};

// Feeds the file through byte by byte and keeps the last Path of
// [Parameters]. Lines of any length pass through fixed buffers.
class ParametersReader {
  public:
    // False once the file has broken the grammar.
    bool Feed(char c) noexcept {
        if (c == '\0') return false;
        if (c == '\n') return EndLine();
        switch (part_) {
            case Part::kStart:
                if (IsBlank(c)) return true;
                if (c == ';' || c == '#') {
                    part_ = Part::kComment;
                } else if (c == '[') {
                    part_ = Part::kSection;
                    section_ = {};
                } else {
                    part_ = Part::kKey;
                    key_ = {};
                    return Feed(c);
                }
                return true;
            case Part::kComment:
                return true;
            case Part::kSection:
                if (c == ']') {
                    part_ = Part::kAfterSection;
                } else {
                    section_.Add(c);
                }
                return true;
            case Part::kAfterSection:
                return IsBlank(c);
            case Part::kKey:
                if (c == '=') {
                    if (key_.Text().empty()) return false;
                    part_ = Part::kValue;
                    value_ = {};
                } else {
                    key_.Add(c);
                }
                return true;
            case Part::kValue:
                value_.Add(c);
                return true;
        }
        return true;
    }

    // The end of the file ends its last line too.
    bool EndLine() noexcept {
        const Part part = part_;
        part_ = Part::kStart;
        switch (part) {
            case Part::kStart:
            case Part::kComment:
                return true;
            case Part::kSection:
            case Part::kKey:
                return false;
            case Part::kAfterSection:
                in_parameters_ = section_.Is("Parameters");
                return true;
            case Part::kValue:
                if (in_parameters_ && key_.Is("Path")) path_ = value_;
                return true;
        }
        return true;
    }

    // The Path found, when there is one that fits.
    bool Found(std::string_view& path) const noexcept {
        if (!path_ || path_->TooLong()) return false;
        path = path_->Text();
        return true;
    }

  private:
    enum class Part { kStart, kComment, kSection, kAfterSection, kKey, kValue };

    Part part_ = Part::kStart;
    bool in_parameters_ = false;
    TrimmedText<kMaxNameBytes> section_;
    TrimmedText<kMaxNameBytes> key_;
    TrimmedText<kMaxValueBytes> value_;
    std::optional<TrimmedText<kMaxValueBytes>> path_;
};

// Reads the file through `reader`; false when it cannot be read to its end
// or breaks the grammar.
bool ReadParameters(int fd, ParametersReader& reader) noexcept {
    std::array<char, 512> chunk;
    bool at_start = true;
    std::size_t skip = 0;
    for (;;) {
        const ssize_t got = read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return reader.EndLine();
        std::string_view bytes(chunk.data(), static_cast<std::size_t>(got));
        if (at_start) {
            // The mark may come split over reads only on a pipe; a file
            // gives it whole.
            at_start = false;
            if (bytes.starts_with(kByteOrderMark)) skip = kByteOrderMark.size();
        }
        for (const char c : bytes.substr(skip)) {
            if (!reader.Feed(c)) return false;
        }
        skip = 0;
    }
}

}  // namespace

bool GetServicePath(std::span<char16_t> buffer) noexcept {
    const char* file_name = std::getenv("QUARVANE_PARAMETERS");
    if (file_name == nullptr || *file_name == '\0') file_name = kDefaultParametersFile;

    const int fd = open(file_name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ParametersReader reader;
    const bool read = ReadParameters(fd, reader);
    close(fd);
    std::string_view value;
    if (!read || !reader.Found(value)) return false;

    std::size_t length = Utf8ToUtf16(value, buffer);
    if (length == kConvertFailed) return false;
    if (length > 0 && buffer[length - 1] == u'/') buffer[--length] = u'\0';
    return true;
}

}  // namespace qv
