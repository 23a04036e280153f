// Text at the edges of qvctl: UTF-8 on the command line and the terminal,
// UTF-16 at the interface; objects, statuses and sizes as people write them.
#include <utf8.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <iterator>

#include "qvctl.h"

namespace qvctl {

std::u16string ToUtf16(std::string_view utf8) {
    if (!utf8::is_valid(utf8.begin(), utf8.end())) {
        throw UsageError("argument is not valid UTF-8");
    }
    std::u16string out;
    utf8::utf8to16(utf8.begin(), utf8.end(), std::back_inserter(out));
    return out;
}

std::string ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        uint32_t unit = utf16[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (utf16[i + 1] - 0xDC00u);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        utf8::append(unit, std::back_inserter(out));
    }
    return out;
}

std::optional<std::string> ToUtf8(const QV_WCHAR* utf16) {
    if (utf16 == nullptr) return std::nullopt;
    return ToUtf8(std::u16string_view(utf16));
}

std::string Hex8(QV_STATUS status) {
    std::array<char, 9> text{};
    std::snprintf(text.data(), text.size(), "%08X", static_cast<unsigned>(status));
    return text.data();
}

std::string MessageText(QV_STATUS status) {
    QV_WCHAR* text = nullptr;
    qvFormatErrMessage(nullptr, status, &text);
    std::string out = ToUtf8(text).value_or(Hex8(status));
    qvFreeErrMessage(&text);
    return out;
}

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::optional<uint32_t> ParseNumber(std::string_view text, int base) {
    uint32_t value = 0;
    if (text.empty()) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<QV_STATUS> ParseStatus(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return ParseNumber(text.substr(2), 16);
    }
    bool decimal = !text.empty();
    for (char c : text) {
        if (!IsHexDigit(c)) return std::nullopt;
        decimal = decimal && c >= '0' && c <= '9';
    }
    // Digits alone are decimal; with letters among them, the eight-digit
    // form qvctl prints itself.
    return ParseNumber(text, decimal ? 10 : 16);
}

std::optional<Object> ParseObject(const std::string& text) {
    Object object;
    object.text = text;
    std::string name = text;
    if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        name = text.substr(0, colon);
        const std::string_view digits = std::string_view(text).substr(colon + 1);
        for (char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
        }
        const auto number = ParseNumber(digits, 10);
        if (!number) return std::nullopt;
        object.number = *number;
    }
    if (name.empty() || !utf8::is_valid(name.begin(), name.end())) return std::nullopt;
    object.name = ToUtf16(name);
    return object;
}

std::string ObjectText(const QV_WCHAR* name, uint32_t number) {
    std::string text = ToUtf8(name).value_or("");
    if (number != 0) text += ":" + std::to_string(number);
    return text;
}

CLI::Option* AddObjectArg(CLI::App* app, const std::string& name, std::string& into,
                          const std::string& help) {
    return app->add_option(name, into, help)
        ->type_name("NAME[:PARTITION]")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                if (ParseObject(text)) return {};
                return "'" + text + "' is not a disk or partition: write NAME or NAME:PARTITION";
            },
            ""));
}

Object ObjectArg(const std::string& text) {
    auto object = ParseObject(text);
    if (!object) throw UsageError("'" + text + "' is not a disk or partition");
    return std::move(*object);
}

CLI::Option* AddChoice(CLI::App* app, const std::string& option, std::string& into,
                       std::span<const Choice> choices, const std::string& help) {
    std::string text = help + ":";
    for (const Choice& c : choices) text += std::string("\n  ") + c.name + ": " + c.help;
    text += "\n  raw:N: the wire value N, for experts";
    return app->add_option(option, into, text)
        ->type_name("NAME")
        ->check(CLI::Validator(
            [choices](std::string& value) -> std::string {
                try {
                    ChoiceValue(choices, value);
                    return {};
                } catch (const UsageError& e) {
                    return e.what();
                }
            },
            ""));
}

uint32_t ChoiceValue(std::span<const Choice> choices, const std::string& text) {
    for (const Choice& c : choices) {
        if (text == c.name) return c.value;
    }
    if (text.rfind("raw:", 0) == 0) {
        if (const auto value = ParseNumber(text.substr(4))) return *value;
    }
    std::string names;
    for (const Choice& c : choices) names += std::string(names.empty() ? "" : ", ") + c.name;
    throw UsageError("'" + text + "' is none of " + names + " (or raw:N)");
}

}  // namespace qvctl
