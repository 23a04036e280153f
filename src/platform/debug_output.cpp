#include "platform/debug_output.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/bounded_utf.h"

namespace qv::debug_output {
namespace {

constexpr const char* kSyslogSocket = "/dev/log";
constexpr const char* kIdent = "qvcliapi";
// User messages at debug priority, the facility a program gets from
// syslog() unless it chose another.
constexpr int kPriority = LOG_USER | LOG_DEBUG;

// Large enough for the longest debug line (1024 UTF-16 code units, at most
// three bytes each) with its header.
constexpr std::size_t kDatagramCapacity = 4096;

#ifdef QV_TEST_HOOKS
struct SinkSlot {
    std::atomic<Sink> sink{nullptr};
    std::atomic<void*> context{nullptr};
};

SinkSlot g_sink;
#endif

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::size_t BuildDatagram(std::u16string_view line, const LocalTime& when,
                          std::span<char> out) noexcept {
    if (out.empty()) return 0;
    const int month = (when.month >= 1 && when.month <= 12) ? when.month - 1 : 0;
    // The month name stays English whatever the host's locale: the syslog
    // header has a fixed form.
    const int header =
        std::snprintf(out.data(), out.size(), "<%d>%s %2d %02d:%02d:%02d %s: ", kPriority,
                      kMonths[month], when.day, when.hour, when.minute, when.second, kIdent);
    if (header < 0 || static_cast<std::size_t>(header) >= out.size()) return 0;
    const auto rest = out.subspan(static_cast<std::size_t>(header));
    // A line too long for the datagram is cut after its last whole
    // character that fits.
    return static_cast<std::size_t>(header) + Utf16ToUtf8Prefix(line, rest);
}

void SendDatagram(const char* socket_path, std::u16string_view line) noexcept {
    char datagram[kDatagramCapacity];
    const std::size_t size = BuildDatagram(line, GetLocalTime(), datagram);
    if (size == 0) return;

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(socket_path) >= sizeof(address.sun_path)) return;
    std::strcpy(address.sun_path, socket_path);

    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    (void)sendto(fd, datagram, size, MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    close(fd);
}

void Write(std::u16string_view line) noexcept {
#ifdef QV_TEST_HOOKS
    if (Sink sink = g_sink.sink.load(std::memory_order_acquire)) {
        sink(line, g_sink.context.load(std::memory_order_acquire));
        return;
    }
#endif
    SendDatagram(kSyslogSocket, line);
}

#ifdef QV_TEST_HOOKS
void SetSinkForTesting(Sink sink, void* context) noexcept {
    g_sink.context.store(context, std::memory_order_release);
    g_sink.sink.store(sink, std::memory_order_release);
}
#endif

}  // namespace qv::debug_output
