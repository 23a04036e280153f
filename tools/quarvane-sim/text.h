// Text as the daemon holds it: UTF-16 as on the wire, UTF-8 in files and on
// the console.
#pragma once

#include <string>
#include <string_view>

namespace qvsim {

// UTF-8 from a file into UTF-16; throws std::runtime_error on invalid UTF-8.
std::u16string FromUtf8(std::string_view utf8);

// UTF-16 from a client into UTF-8. Clients may send lone surrogates; each is
// written as U+FFFD rather than refused, so a hostile name can still be
// logged and stored.
std::string ToUtf8(std::u16string_view utf16);

// Disk names compare as the service's platform compares device names:
// ignoring the case of ASCII letters.
bool SameName(std::u16string_view a, std::u16string_view b) noexcept;

}  // namespace qvsim
