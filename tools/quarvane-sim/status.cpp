#include "status.h"

#include <cstdio>
#include <string_view>

#include "text.h"

namespace qvsim::status {
namespace {

// The client's message table, built from the same resources/messages.txt.
struct MessageText {
    uint32_t id;
    const char16_t* text;
};
struct MessageMapEntry {
    uint32_t status;
    uint32_t id;
};
#include "message_table.inc"

const char* Name(uint32_t word) {
#define QVSIM_STATUS_CASE(name, value) \
    case value:                        \
        return #name;
    switch (word) { QVSIM_STATUS_WORDS(QVSIM_STATUS_CASE) }
#undef QVSIM_STATUS_CASE
    return nullptr;
}

const char16_t* Message(uint32_t word) {
    for (const MessageMapEntry& entry : kMessageMap) {
        if (entry.status != word) continue;
        for (const MessageText& text : kMessageTexts) {
            if (text.id == entry.id) return text.text;
        }
    }
    return nullptr;
}

}  // namespace

std::string Describe(uint32_t word) {
    char hex[12];
    std::snprintf(hex, sizeof hex, "%08X", word);
    std::string out = hex;
    if (const char* name = Name(word)) out += std::string(" ") + name;
    if (const char16_t* text = Message(word)) out += " \"" + ToUtf8(text) + "\"";
    return out;
}

}  // namespace qvsim::status
