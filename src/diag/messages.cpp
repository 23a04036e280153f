#include "diag/messages.h"

#include <algorithm>
#include <string_view>

#include "diag/format.h"
#include "diag/log.h"
#include "platform/alloc.h"
#include "qvcliapi.h"

namespace qv {
namespace {

#include "message_table.inc"

constexpr MessageTable kBuiltIn{kMessageMap, kMessageTexts};

// Texts are loaded into a buffer of this many characters, terminator
// included: a longer text would be cut.
constexpr std::size_t kLoadBuffer = 512;

const MessageMapEntry* FindEntry(const MessageTable& table, std::uint32_t status) noexcept {
    const auto it = std::find_if(table.map.begin(), table.map.end(),
                                 [status](const MessageMapEntry& e) { return e.status == status; });
    return it == table.map.end() ? nullptr : &*it;
}

// Copies the text with identifier `id` into `buffer`, cut to fit with its
// terminator. Returns its length; 0 means it did not load (no such text, or
// an empty one).
std::size_t LoadText(const MessageTable& table, std::uint32_t id,
                     std::span<char16_t> buffer) noexcept {
    const auto it = std::find_if(table.texts.begin(), table.texts.end(),
                                 [id](const MessageText& t) { return t.id == id; });
    if (it == table.texts.end() || it->text == nullptr) return 0;
    const std::u16string_view text(it->text);
    const std::size_t length = std::min(text.size(), buffer.size() - 1);
    std::copy_n(text.begin(), length, buffer.begin());
    buffer[length] = u'\0';
    return length;
}

}  // namespace

const MessageTable& BuiltInMessages() noexcept { return kBuiltIn; }

std::uint32_t FormatErrMessage(const MessageTable& table, std::uint32_t status,
                               char16_t** text) noexcept {
    if (text == nullptr) return QV_STATUS_SUCCESS;

    char16_t buffer[kLoadBuffer];
    std::size_t length = 0;
    if (const MessageMapEntry* entry = FindEntry(table, status)) {
        length = LoadText(table, entry->id, buffer);
        if (length == 0) {
            LogMessage(kLogError, u"Failed to load string resource for code %08X", status);
        }
    } else {
        // The trace file does not take this level.
        LogMessage(kLogDetail, u"No message mapped to code %08X", status);
    }
    if (length == 0) length = Format(buffer, u"%08X", status);

    *text = DupString(std::u16string_view(buffer, length));
    return QV_STATUS_SUCCESS;
}

}  // namespace qv

extern "C" QV_STATUS qvFormatErrMessage(QV_HANDLE /*unused*/, QV_STATUS status, QV_WCHAR** text) {
    return qv::FormatErrMessage(qv::BuiltInMessages(), status, text);
}

extern "C" QV_STATUS qvFreeErrMessage(QV_WCHAR** text) {
    if (text != nullptr && *text != nullptr) {
        qv::Free(*text);
        *text = nullptr;
    }
    return QV_STATUS_SUCCESS;
}
