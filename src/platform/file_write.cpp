#include "platform/file_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/bounded_utf.h"

namespace qv::file {
namespace {

bool Paired(std::u16string_view text) noexcept {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool WriteWhole(const char16_t* path, std::size_t units, const void* data,
                std::size_t size) noexcept {
    if (path == nullptr || units == 0) return false;
    std::size_t length = 0;
    while (length < units && path[length] != 0) ++length;
    const std::u16string_view text(path, length);
    if (length == 0 || length == units || !Paired(text)) return false;

    // Each UTF-16 unit becomes at most three bytes.
    char name[3 * 4096 + 1];
    if (length * 3 + 1 > sizeof name) return false;
    if (Utf16ToUtf8(text, name) == kConvertFailed) return false;

    const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const auto* bytes = static_cast<const char*>(data);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, bytes + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    const bool closed = close(fd) == 0;
    return written == size && closed;
}

}  // namespace qv::file
