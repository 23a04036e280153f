#include "text.h"

#include <utf8.h>

#include <iterator>
#include <stdexcept>

namespace qvsim {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

char16_t Fold(char16_t u) { return (u >= u'A' && u <= u'Z') ? static_cast<char16_t>(u + 32) : u; }

}  // namespace

std::u16string FromUtf8(std::string_view utf8) {
    if (!utf8::is_valid(utf8.begin(), utf8.end())) {
        throw std::runtime_error("text is not valid UTF-8");
    }
    std::u16string out;
    utf8::utf8to16(utf8.begin(), utf8.end(), std::back_inserter(out));
    return out;
}

std::string ToUtf8(std::u16string_view utf16) {
    // Pair the surrogates first, so that the converter only ever sees
    // well-formed UTF-16.
    std::u16string clean;
    clean.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t u = utf16[i];
        if (IsHigh(u) && i + 1 < utf16.size() && IsLow(utf16[i + 1])) {
            clean.push_back(u);
            clean.push_back(utf16[++i]);
        } else if (IsHigh(u) || IsLow(u)) {
            clean.push_back(kReplacement);
        } else {
            clean.push_back(u);
        }
    }
    std::string out;
    utf8::utf16to8(clean.begin(), clean.end(), std::back_inserter(out));
    return out;
}

bool SameName(std::u16string_view a, std::u16string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
}

}  // namespace qvsim
