// Moving values between the daemon's model and the generated wire records.
//
// Everything put into a reply is taken from the C heap, because the server
// gives each reply back with xdr_free after sending it. Allocation failures
// throw std::bad_alloc; the server turns that into the out-of-memory word.
// Nothing here trusts a count it received: strings are read only up to the
// units actually decoded.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>

#include "inventory.h"
#include "quarvane.h"

namespace qvsim::wire {

// A received string, up to its first zero unit.
std::u16string Text(const RpcWString& s);
// Absent when the string came with no units at all.
std::optional<std::u16string> OptionalText(const RpcWString& s);

// Fills a reply string: count = length + 1, terminator included.
void SetText(RpcWString& out, std::u16string_view text);
// Absent text goes with no units.
void SetOptionalText(RpcWString& out, const std::optional<std::u16string>& text);

ObjectId Object(const RpcObjectRef& ref);
void SetObject(RpcObjectRef& out, const ObjectId& id);

// Zeroed heap block of n elements for a reply array; sets its count. Zero
// elements leave the array empty.
template <typename T>
T* Allocate(u_int& len, T*& val, std::size_t n) {
    len = 0;
    val = nullptr;
    if (n == 0) return nullptr;
    void* block = std::calloc(n, sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    val = static_cast<T*>(block);
    len = static_cast<u_int>(n);
    return val;
}

// The first element of a received array, or null when it came empty.
template <typename T>
const T* First(u_int len, T* val) noexcept {
    return (len != 0 && val != nullptr) ? val : nullptr;
}

}  // namespace qvsim::wire
