#include "diag/log.h"

#include <algorithm>
#include <span>

#include "diag/format.h"
#include "diag/trace_file.h"
#include "platform/alloc.h"
#include "platform/debug_output.h"
#include "qvcliapi.h"

namespace qv {
namespace {

// Buffer sizes in UTF-16 characters, terminator included.
constexpr std::size_t kTraceBuffer = 16384;        // qvWriteTrace, and LogMessage's start
constexpr std::size_t kLogMessageLimit = 2097152;  // LogMessage's largest buffer
constexpr std::size_t kProgressBuffer = 4096;      // LogProgress, on the stack
constexpr std::size_t kDebugFormatBuffer = 256;    // DebugPrint's prefixed format
constexpr std::size_t kDebugTextBuffer = 1024;     // DebugPrint's text with its "\n"

constexpr const char16_t* kOutOfSpace = u"Memory insufficient!\n";

bool Fits(std::size_t length, std::size_t capacity) noexcept { return length + 1 <= capacity; }

// A heap block of UTF-16 characters from the library's allocator, given
// back when it goes out of scope.
class TextBlock {
  public:
    explicit TextBlock(std::size_t capacity) noexcept
        : data_(static_cast<char16_t*>(Alloc(capacity * sizeof(char16_t)))),
          capacity_(data_ == nullptr ? 0 : capacity) {}
    ~TextBlock() { Free(data_); }
    TextBlock(const TextBlock&) = delete;
    TextBlock& operator=(const TextBlock&) = delete;

    explicit operator bool() const noexcept { return data_ != nullptr; }
    std::span<char16_t> span() const noexcept { return {data_, capacity_}; }
    const char16_t* text() const noexcept { return data_; }

  private:
    char16_t* data_;
    std::size_t capacity_;
};

std::size_t FormatCopy(std::span<char16_t> out, const char16_t* format, va_list args) noexcept {
    va_list copy;
    va_copy(copy, args);
    const std::size_t length = FormatV(out, format, copy);
    va_end(copy);
    return length;
}

void WriteTraceV(std::uint32_t level, const char16_t* format, va_list args) noexcept {
    if (format == nullptr) return;
    TextBlock block(kTraceBuffer);
    if (!block) return;
    // The caller's line is written even when cut to the buffer; the debug
    // output tells that it was.
    if (!Fits(FormatCopy(block.span(), format, args), kTraceBuffer)) DebugPrint(kOutOfSpace);
    WriteTraceEntry(level, block.text());
}

}  // namespace

void LogMessageV(std::uint32_t level, const char16_t* format, va_list args) noexcept {
    if (format == nullptr) return;
    // Try the usual size first and double it while the text does not fit:
    // long lines are rare, and a line is written whole or not at all.
    for (std::size_t capacity = kTraceBuffer;; capacity *= 2) {
        TextBlock block(capacity);
        if (!block) return;
        if (Fits(FormatCopy(block.span(), format, args), capacity)) {
            WriteTraceEntry(level, block.text());
            return;
        }
        if (capacity >= kLogMessageLimit) {
            DebugPrint(kOutOfSpace);
            return;
        }
    }
}

void LogMessage(std::uint32_t level, const char16_t* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    LogMessageV(level, format, args);
    va_end(args);
}

void LogProgressV(const char16_t* format, va_list args) noexcept {
    if (format == nullptr) return;
    char16_t text[kProgressBuffer];
    if (!Fits(FormatCopy(text, format, args), kProgressBuffer)) {
        DebugPrint(kOutOfSpace);
        return;
    }
    WriteTraceEntry(kLogError, text);
}

void LogProgress(const char16_t* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    LogProgressV(format, args);
    va_end(args);
}

void DebugPrintV(const char16_t* format, va_list args) noexcept {
    if (format == nullptr) return;
    // The caller's format is placed behind the prefix and stays a format:
    // its conversions take the arguments in the second step. A format too
    // long for the buffer is cut.
    char16_t prefixed[kDebugFormatBuffer];
    Format(prefixed, u"qvcliapi, %s", format);

    // Keep one place for the line end and one for the terminator.
    char16_t text[kDebugTextBuffer];
    const std::size_t length =
        std::min(FormatCopy(std::span(text).first(kDebugTextBuffer - 1), prefixed, args),
                 kDebugTextBuffer - 2);
    text[length] = u'\n';
    text[length + 1] = u'\0';
    debug_output::Write(std::u16string_view(text, length + 1));
}

void DebugPrint(const char16_t* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    DebugPrintV(format, args);
    va_end(args);
}

}  // namespace qv

extern "C" void qvWriteTrace(uint32_t level, const QV_WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    qv::WriteTraceV(level, format, args);
    va_end(args);
}
