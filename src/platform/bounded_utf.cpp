#include "platform/bounded_utf.h"

#include <utf8.h>

#include <cstdint>
#include <iterator>
#include <utility>

namespace qv {
namespace {

// Output iterator over a fixed buffer that remembers running out of room
// instead of writing past the end. Copies share one cursor, the way utfcpp
// uses `*result++ = unit`.
template <typename Unit>
class BoundedWriter {
  public:
    struct Cursor {
        Unit* next;
        Unit* end;
        bool overflow = false;
    };

    using iterator_category = std::output_iterator_tag;
    using value_type = void;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = void;

    explicit BoundedWriter(Cursor& cursor) noexcept : cursor_(&cursor) {}

    template <typename Value>
    BoundedWriter& operator=(Value unit) noexcept {
        if (cursor_->next == cursor_->end) {
            cursor_->overflow = true;
        } else {
            *cursor_->next++ = static_cast<Unit>(unit);
        }
        return *this;
    }
    BoundedWriter& operator*() noexcept { return *this; }
    BoundedWriter& operator++() noexcept { return *this; }
    BoundedWriter operator++(int) noexcept { return *this; }

  private:
    Cursor* cursor_;
};

template <typename Unit>
std::size_t Terminate(typename BoundedWriter<Unit>::Cursor& cursor, std::span<Unit> out) noexcept {
    // The last place of the buffer is kept for the terminator.
    if (cursor.overflow || cursor.next == cursor.end) return kConvertFailed;
    *cursor.next = Unit{};
    return static_cast<std::size_t>(cursor.next - out.data());
}

bool IsLeadSurrogate(char16_t c) noexcept { return c >= 0xD800 && c <= 0xDBFF; }
bool IsTrailSurrogate(char16_t c) noexcept { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::size_t Utf8ToUtf16(std::string_view in, std::span<char16_t> out) noexcept {
    if (out.empty()) return kConvertFailed;
    BoundedWriter<char16_t>::Cursor cursor{out.data(), out.data() + out.size()};
    try {
        utf8::utf8to16(in.begin(), in.end(), BoundedWriter<char16_t>(cursor));
    } catch (const utf8::exception&) {
        return kConvertFailed;
    }
    return Terminate(cursor, out);
}

namespace {

// Converts code point by code point; stops before the first one that does
// not fit with the terminator. Returns the bytes written and whether all of
// the input was converted.
std::pair<std::size_t, bool> ConvertToUtf8(std::u16string_view in, std::span<char> out) noexcept {
    if (out.empty()) return {0, in.empty()};
    BoundedWriter<char>::Cursor cursor{out.data(), out.data() + out.size() - 1};
    BoundedWriter<char> writer(cursor);
    std::size_t i = 0;
    while (i < in.size()) {
        std::uint32_t code_point = in[i];
        std::size_t units = 1;
        if (IsLeadSurrogate(in[i]) && i + 1 < in.size() && IsTrailSurrogate(in[i + 1])) {
            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (in[i + 1] - 0xDC00u);
            units = 2;
        } else if (IsLeadSurrogate(in[i]) || IsTrailSurrogate(in[i])) {
            code_point = 0xFFFD;
        }
        const std::size_t bytes = code_point < 0x80      ? 1
                                  : code_point < 0x800   ? 2
                                  : code_point < 0x10000 ? 3
                                                         : 4;
        if (static_cast<std::size_t>(cursor.end - cursor.next) < bytes) break;
        // Every code point here is a valid scalar value, so no check is needed.
        utf8::unchecked::append(code_point, writer);
        i += units;
    }
    *cursor.next = '\0';
    return {static_cast<std::size_t>(cursor.next - out.data()), i == in.size()};
}

}  // namespace

std::size_t Utf16ToUtf8(std::u16string_view in, std::span<char> out) noexcept {
    const auto [length, whole] = ConvertToUtf8(in, out);
    return whole && !out.empty() ? length : kConvertFailed;
}

std::size_t Utf16ToUtf8Prefix(std::u16string_view in, std::span<char> out) noexcept {
    return ConvertToUtf8(in, out).first;
}

}  // namespace qv
