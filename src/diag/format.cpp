#include "diag/format.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>

namespace qv {
namespace {

// Collects the output: writes what fits (keeping one place for the
// terminator) and counts everything, so that the caller learns the size the
// whole text needs.
class Output {
  public:
    explicit Output(std::span<char16_t> out) noexcept
        : out_(out), limit_(out.empty() ? 0 : out.size() - 1) {}

    void Put(char16_t c) noexcept {
        if (length_ < limit_) out_[length_] = c;
        ++length_;
    }

    void PutRepeated(char16_t c, std::size_t count) noexcept {
        const std::size_t n = std::min(count, Room());
        if (n > 0) std::fill_n(out_.subspan(length_).begin(), n, c);
        length_ += count;
    }

    void PutText(std::u16string_view text) noexcept {
        const std::size_t n = std::min(text.size(), Room());
        if (n > 0) std::copy_n(text.begin(), n, out_.subspan(length_).begin());
        length_ += text.size();
    }

    std::size_t Finish() noexcept {
        if (!out_.empty()) out_[std::min(length_, limit_)] = u'\0';
        return length_;
    }

  private:
    std::size_t Room() const noexcept { return length_ < limit_ ? limit_ - length_ : 0; }

    std::span<char16_t> out_;
    std::size_t limit_;
    std::size_t length_ = 0;
};

enum class Length { kDefault, kShort, kLong, kLongLong };

// One parsed directive. Width and precision given as '*' are only noted
// here: their arguments are taken once the directive is known to be valid,
// so that a directive copied through literally takes no argument.
struct Directive {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool blank = false;
    bool alternate = false;
    bool width_from_arg = false;
    bool precision_from_arg = false;
    bool has_precision = false;
    std::size_t width = 0;
    std::size_t precision = 0;
    Length length = Length::kDefault;
    char16_t conversion = u'\0';
};

constexpr std::size_t kMaxField = INT_MAX;

bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }

std::size_t ReadNumber(const char16_t*& p) noexcept {
    std::size_t value = 0;
    for (; IsDigit(*p); ++p) {
        value = std::min(kMaxField, value * 10 + static_cast<std::size_t>(*p - u'0'));
    }
    return value;
}

bool IsConversion(char16_t c) noexcept {
    return std::u16string_view(u"sciduxX%").find(c) != std::u16string_view::npos;
}

// Parses the directive that starts after a '%'. Returns false when it is
// incomplete or names no known conversion; p then points past what was read.
bool ParseDirective(const char16_t*& p, Directive& d) noexcept {
    for (;; ++p) {
        if (*p == u'-') {
            d.left = true;
        } else if (*p == u'0') {
            d.zero = true;
        } else if (*p == u'+') {
            d.plus = true;
        } else if (*p == u' ') {
            d.blank = true;
        } else if (*p == u'#') {
            d.alternate = true;
        } else {
            break;
        }
    }
    if (*p == u'*') {
        d.width_from_arg = true;
        ++p;
    } else {
        d.width = ReadNumber(p);
    }
    if (*p == u'.') {
        ++p;
        d.has_precision = true;
        if (*p == u'*') {
            d.precision_from_arg = true;
            ++p;
        } else {
            d.precision = ReadNumber(p);
        }
    }
    if (*p == u'h') {
        d.length = Length::kShort;
        ++p;
    } else if (*p == u'l') {
        ++p;
        d.length = Length::kLong;
        if (*p == u'l') {
            d.length = Length::kLongLong;
            ++p;
        }
    }
    if (*p == u'\0' || !IsConversion(*p)) return false;
    d.conversion = *p++;
    return true;
}

void Pad(Output& out, std::size_t width, std::size_t used) noexcept {
    if (width > used) out.PutRepeated(u' ', width - used);
}

void PutString(Output& out, const Directive& d, std::u16string_view text) noexcept {
    if (!d.left) Pad(out, d.width, text.size());
    out.PutText(text);
    if (d.left) Pad(out, d.width, text.size());
}

void PutInteger(Output& out, const Directive& d, std::uint64_t magnitude, bool negative) noexcept {
    const bool hex = d.conversion == u'x' || d.conversion == u'X';
    const bool is_signed = d.conversion == u'd' || d.conversion == u'i';
    const char16_t* digit_set = d.conversion == u'X' ? u"0123456789ABCDEF" : u"0123456789abcdef";
    const unsigned base = hex ? 16 : 10;

    char16_t reversed[24];
    std::size_t count = 0;
    // An explicit precision of 0 prints nothing for the value 0.
    if (magnitude != 0 || !d.has_precision || d.precision != 0) {
        do {
            reversed[count++] = digit_set[magnitude % base];
            magnitude /= base;
        } while (magnitude != 0);
    }

    std::u16string_view sign;
    if (is_signed) {
        if (negative) {
            sign = u"-";
        } else if (d.plus) {
            sign = u"+";
        } else if (d.blank) {
            sign = u" ";
        }
    }
    std::u16string_view prefix;
    if (hex && d.alternate && count > 0 && !(count == 1 && reversed[0] == u'0')) {
        prefix = d.conversion == u'X' ? u"0X" : u"0x";
    }

    std::size_t zeros = d.has_precision && d.precision > count ? d.precision - count : 0;
    std::size_t used = sign.size() + prefix.size() + zeros + count;
    if (!d.left && d.zero && !d.has_precision && d.width > used) {
        zeros += d.width - used;
        used = d.width;
    }

    if (!d.left) Pad(out, d.width, used);
    out.PutText(sign);
    out.PutText(prefix);
    out.PutRepeated(u'0', zeros);
    while (count > 0) out.Put(reversed[--count]);
    if (d.left) Pad(out, d.width, used);
}

void PutSigned(Output& out, const Directive& d, va_list& args) noexcept {
    long long value = 0;
    switch (d.length) {
        case Length::kShort:
            value = static_cast<short>(va_arg(args, int));
            break;
        case Length::kLong:
            value = va_arg(args, long);
            break;
        case Length::kLongLong:
            value = va_arg(args, long long);
            break;
        case Length::kDefault:
            value = va_arg(args, int);
            break;
    }
    const bool negative = value < 0;
    const auto magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                    : static_cast<std::uint64_t>(value);
    PutInteger(out, d, magnitude, negative);
}

void PutUnsigned(Output& out, const Directive& d, va_list& args) noexcept {
    std::uint64_t value = 0;
    switch (d.length) {
        case Length::kShort:
            value = static_cast<unsigned short>(va_arg(args, unsigned));
            break;
        case Length::kLong:
            value = va_arg(args, unsigned long);
            break;
        case Length::kLongLong:
            value = va_arg(args, unsigned long long);
            break;
        case Length::kDefault:
            value = va_arg(args, unsigned);
            break;
    }
    PutInteger(out, d, value, false);
}

std::size_t Run(Output& out, const char16_t* format, va_list& args) noexcept {
    if (format == nullptr) return out.Finish();
    const char16_t* p = format;
    while (*p != u'\0') {
        if (*p != u'%') {
            out.Put(*p++);
            continue;
        }
        const char16_t* start = p++;
        Directive d;
        if (!ParseDirective(p, d)) {
            // Not a directive we know: copy it through as it stands.
            out.PutText(std::u16string_view(start, static_cast<std::size_t>(p - start)));
            continue;
        }
        if (d.width_from_arg) {
            const int width = va_arg(args, int);
            if (width < 0) d.left = true;
            d.width = std::min(kMaxField, static_cast<std::size_t>(
                                              width < 0 ? -static_cast<long long>(width) : width));
        }
        if (d.precision_from_arg) {
            const int precision = va_arg(args, int);
            d.has_precision = precision >= 0;
            d.precision = precision >= 0 ? static_cast<std::size_t>(precision) : 0;
        }
        switch (d.conversion) {
            case u'%':
                out.Put(u'%');
                break;
            case u'c': {
                const char16_t c = static_cast<char16_t>(va_arg(args, int));
                PutString(out, d, std::u16string_view(&c, 1));
                break;
            }
            case u's': {
                const char16_t* text = va_arg(args, const char16_t*);
                if (text == nullptr) text = u"(null)";
                std::size_t length = 0;
                // With a precision the argument need not be terminated.
                while ((!d.has_precision || length < d.precision) && text[length] != u'\0') {
                    ++length;
                }
                PutString(out, d, std::u16string_view(text, length));
                break;
            }
            case u'd':
            case u'i':
                PutSigned(out, d, args);
                break;
            default:
                PutUnsigned(out, d, args);
                break;
        }
    }
    return out.Finish();
}

}  // namespace

std::size_t FormatV(std::span<char16_t> out, const char16_t* format, va_list args) noexcept {
    Output output(out);
    va_list copy;
    va_copy(copy, args);
    const std::size_t length = Run(output, format, copy);
    va_end(copy);
    return length;
}

std::size_t Format(std::span<char16_t> out, const char16_t* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    const std::size_t length = FormatV(out, format, args);
    va_end(args);
    return length;
}

}  // namespace qv
