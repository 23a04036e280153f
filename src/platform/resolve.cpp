#include "platform/resolve.h"

#include <netdb.h>
#include <sys/socket.h>
#include <utf8.h>

#include <array>
#include <cstring>
#include <iterator>

#include "platform/alloc.h"

namespace qv {
namespace {

// Output iterator for utfcpp that writes into a fixed buffer and notes an
// overflow instead of writing past it.
struct BoundedSink {
    char* out;
    std::size_t capacity;
    std::size_t used = 0;
    bool overflow = false;

    using iterator_category = std::output_iterator_tag;
    using value_type = void;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = void;

    BoundedSink& operator*() { return *this; }
    BoundedSink& operator++() { return *this; }
    BoundedSink& operator++(int) { return *this; }
    BoundedSink& operator=(char c) {
        if (used < capacity) {
            out[used++] = c;
        } else {
            overflow = true;
        }
        return *this;
    }
};

}  // namespace

bool ResolveHostIPv4(const char16_t* host, in_addr* addr) noexcept {
    if (host == nullptr) return false;
    const std::u16string_view wide(host, StrLen16(host));
    // A host name has at most 253 characters; the buffer leaves room for the
    // terminator and turns anything longer into "not resolvable".
    std::array<char, 256> narrow{};
    BoundedSink sink{narrow.data(), narrow.size() - 1};
    try {
        sink = utf8::utf16to8(wide.begin(), wide.end(), sink);
    } catch (const utf8::exception&) {
        return false;  // unpaired surrogate
    }
    if (sink.overflow || sink.used == 0 || std::memchr(narrow.data(), 0, sink.used) != nullptr) {
        return false;
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(narrow.data(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    bool ok = false;
    for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
            std::memcpy(addr, &reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr,
                        sizeof *addr);
            ok = true;
            break;
        }
    }
    freeaddrinfo(found);
    return ok;
}

}  // namespace qv
