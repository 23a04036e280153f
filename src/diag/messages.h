// Status codes to message texts.
//
// The texts live in a string table, each under a numeric identifier; a map
// in a fixed order names the identifier for each known status (several
// statuses share a text). Both are generated at build time from
// resources/messages.txt.
#pragma once

#include <cstdint>
#include <span>

namespace qv {

struct MessageText {
    std::uint32_t id;
    const char16_t* text;
};

struct MessageMapEntry {
    std::uint32_t status;
    std::uint32_t id;
};

struct MessageTable {
    std::span<const MessageMapEntry> map;  // searched from the first entry
    std::span<const MessageText> texts;
};

// The library's own table.
const MessageTable& BuiltInMessages() noexcept;

// What qvFormatErrMessage does, over any table: *text receives a heap copy
// (qv::Alloc) of the status's text, or of the status as eight hexadecimal
// digits when the status has no entry or its text does not load, or null
// when the heap says no. Always returns 0.
std::uint32_t FormatErrMessage(const MessageTable& table, std::uint32_t status,
                               char16_t** text) noexcept;

}  // namespace qv
