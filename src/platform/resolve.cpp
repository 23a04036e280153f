#include "platform/resolve.h"

#include <netdb.h>
#include <sys/socket.h>

#include <array>
#include <cstring>

#include "platform/alloc.h"
#include "platform/bounded_utf.h"

namespace qv {

bool ResolveHostIPv4(const char16_t* host, in_addr* addr) noexcept {
    if (host == nullptr) return false;
    // A host name has at most 253 characters: the buffer holds any that can
    // resolve, and a longer text fails the conversion. An unpaired surrogate
    // turns into U+FFFD, which no host name contains.
    std::array<char, 256> narrow{};
    const std::size_t length = Utf16ToUtf8({host, StrLen16(host)}, narrow);
    if (length == kConvertFailed || length == 0) return false;

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
