// Host name resolution: the UTF-16 host name as UTF-8, first IPv4 address.
#pragma once

#include <netinet/in.h>

namespace qv {

// Fills addr->sin_addr with the first IPv4 address of host. False when the
// name is null, not valid UTF-16, or does not resolve to an IPv4 address.
bool ResolveHostIPv4(const char16_t* host, in_addr* addr) noexcept;

}  // namespace qv
