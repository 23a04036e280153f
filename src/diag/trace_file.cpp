#include "diag/trace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <span>
#include <string_view>

#include "diag/format.h"
#include "platform/alloc.h"
#include "platform/bounded_utf.h"
#include "platform/local_time.h"
#include "platform/service_path.h"

namespace qv {
namespace {

// Levels other than 1 and 2 reach the file only when all their bits are
// set here. Nothing in the library sets any, so 0, 1 and 2 are written and
// every other level is dropped.
constinit std::uint32_t g_trace_mask = 0;

// Rotated files are numbered 1 to this; the highest is the newest.
constexpr std::uint32_t kMaxRotated = 10;

// The longest name built in the directory, "/log/qvapi10.log", must fit the
// name buffers of kServicePathCapacity characters with the directory.
constexpr std::size_t kLongestSuffix = std::char_traits<char>::length("/log/qvapi10.log");

// A name in the file system's encoding: the directory (at most three bytes
// per UTF-16 code unit) and the longest suffix.
constexpr std::size_t kNameBytes = kServicePathCapacity * 3 + kLongestSuffix + 1;

constexpr unsigned char kByteOrderMark[] = {0xFF, 0xFE};

bool LevelPasses(std::uint32_t level) noexcept {
    return level == 1 || level == 2 || (level & g_trace_mask) == level;
}

struct Name {
    char text[kNameBytes];
};

// "<directory>/log/qvapi<number>.log", or without a number when `number`
// is null. False when it does not fit.
bool BuildName(Name& name, const char* directory, const char* number) noexcept {
    const int length = std::snprintf(name.text, sizeof(name.text), "%s/log/qvapi%s.log", directory,
                                     number == nullptr ? "" : number);
    return length >= 0 && static_cast<std::size_t>(length) < sizeof(name.text);
}

bool BuildNumberedName(Name& name, const char* directory, std::uint32_t number) noexcept {
    char digits[16];
    std::snprintf(digits, sizeof(digits), "%u", number);
    return BuildName(name, directory, digits);
}

void WriteAll(int fd, const void* data, std::size_t size) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

// Writes text as UTF-16LE, without terminator.
void WriteUtf16(int fd, std::u16string_view text) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        WriteAll(fd, text.data(), text.size() * sizeof(char16_t));
    } else {
        unsigned char chunk[1024];
        while (!text.empty()) {
            const std::size_t units = std::min(text.size(), sizeof(chunk) / 2);
            for (std::size_t i = 0; i < units; ++i) {
                chunk[2 * i] = static_cast<unsigned char>(text[i] & 0xFF);
                chunk[2 * i + 1] = static_cast<unsigned char>(text[i] >> 8);
            }
            WriteAll(fd, chunk, units * 2);
            text.remove_prefix(units);
        }
    }
}

// The size of the file as its low 32 bits, the width the size limit and the
// empty-file test have always been applied to.
bool FileSize32(int fd, std::uint32_t& size) noexcept {
    struct stat status {};
    if (fstat(fd, &status) != 0) return false;
    size = static_cast<std::uint32_t>(static_cast<std::uint64_t>(status.st_size));
    return true;
}

void WriteMarkIfEmpty(int fd) noexcept {
    std::uint32_t size = 0;
    if (FileSize32(fd, size) && size == 0) WriteAll(fd, kByteOrderMark, sizeof(kByteOrderMark));
}

// The number after "qvapi" in a file name, read the way the C runtime's
// atoi reads it: blanks skipped, an optional sign, the leading digits (none
// gives 0), saturated to the int range. A negative number becomes a huge
// unsigned one, which is what the rotation compares.
std::uint32_t ReadFileNumber(const char* text) noexcept {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '-' || *text == '+') negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = std::min(value * 10 + (*text - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative) value = -value;
    const auto clamped = static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
    return static_cast<std::uint32_t>(clamped);
}

// Renames without replacing an existing target: a rotation must never
// overwrite an older trace file.
void MoveFile(const char* from, const char* to) noexcept {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return;
    // A file system that cannot refuse the replacement itself.
    struct stat status {};
    if (lstat(to, &status) == 0 || errno != ENOENT) return;
    (void)rename(from, to);
}

}  // namespace

int OpenTraceFile(const char* name) noexcept {
    // Appending keeps concurrent writers from overwriting each other's
    // pieces; they may still interleave.
    const int fd =
        open(name, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) return -1;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

int RotateTraceFiles(const char* directory) noexcept {
    Name current;
    Name folder;
    if (!BuildName(current, directory, nullptr)) return -1;
    const int folder_length = std::snprintf(folder.text, sizeof(folder.text), "%s/log", directory);
    if (folder_length < 0 || static_cast<std::size_t>(folder_length) >= sizeof(folder.text)) {
        return -1;
    }

    bool found = false;
    std::uint32_t largest = 0;
    if (DIR* scan = opendir(folder.text)) {
        while (const dirent* entry = readdir(scan)) {
            if (fnmatch("qvapi*.log", entry->d_name, 0) != 0) continue;
            found = true;
            largest = std::max(largest, ReadFileNumber(entry->d_name + 5));
        }
        closedir(scan);
    }

    if (found) {
        const std::uint32_t next = largest + 1;
        Name target;
        if (next <= kMaxRotated) {
            if (BuildNumberedName(target, directory, next)) MoveFile(current.text, target.text);
        } else {
            // Numbers are used up (or a stray file claims a higher one):
            // the oldest goes and the others move down one. The current
            // file keeps its name this time; the next entry finds the top
            // number free and moves it there.
            Name source;
            if (BuildNumberedName(target, directory, 1)) (void)unlink(target.text);
            for (std::uint32_t n = 2; n <= kMaxRotated; ++n) {
                if (BuildNumberedName(source, directory, n) &&
                    BuildNumberedName(target, directory, n - 1)) {
                    MoveFile(source.text, target.text);
                }
            }
        }
    }

    const int fd = OpenTraceFile(current.text);
    if (fd >= 0) WriteMarkIfEmpty(fd);
    return fd;
}

void WriteTraceEntry(std::uint32_t level, const char16_t* text) noexcept {
    if (text == nullptr || !LevelPasses(level)) return;

    char16_t wide_directory[kServicePathCapacity];
    if (!GetServicePath(wide_directory)) return;
    const std::u16string_view wide(wide_directory);
    // Every name built in the directory must fit the name buffers; a
    // directory too long for that is not supported and gets no entries.
    if (wide.size() + kLongestSuffix + 1 > kServicePathCapacity) return;
    char directory[kServicePathCapacity * 3 + 1];
    if (Utf16ToUtf8(wide, directory) == kConvertFailed) return;

    Name current;
    if (!BuildName(current, directory, nullptr)) return;
    int fd = OpenTraceFile(current.text);
    if (fd < 0) return;

    std::uint32_t size = 0;
    if (!FileSize32(fd, size)) {
        close(fd);
        return;
    }
    if (size == 0) {
        WriteAll(fd, kByteOrderMark, sizeof(kByteOrderMark));
    } else if (size > kTraceFileLimit) {
        close(fd);
        fd = RotateTraceFiles(directory);
        if (fd < 0) return;
    }

    const LocalTime now = GetLocalTime();
    char16_t stamp[64];
    const std::size_t stamp_length = Format(stamp, u"%04d-%02d-%02d %02d:%02d:%02d ", now.year,
                                            now.month, now.day, now.hour, now.minute, now.second);

    (void)lseek(fd, 0, SEEK_END);
    WriteUtf16(fd, std::u16string_view(stamp, std::min(stamp_length, std::size(stamp) - 1)));
    WriteUtf16(fd, std::u16string_view(text, StrLen16(text)));
    WriteUtf16(fd, u"\r\n");
    close(fd);
}

}  // namespace qv
