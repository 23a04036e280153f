// The one allocator of the library.
//
// Every block the library takes, whether it ends up with the caller, inside
// a request record or in a scratch buffer, comes from here. The blocks are
// plain C heap blocks: the RPC runtime frees request copies with free() in
// xdr_free, and callers give results back through qvFree..., so nothing
// here may wrap or tag a block.
//
// A test build (QV_TEST_HOOKS, never the shipped library) can make the n-th
// allocation from now on fail, to walk every out-of-memory path.
#pragma once

#include <cstddef>
#include <string_view>

namespace qv {

void* Alloc(std::size_t bytes) noexcept;
void* AllocZeroed(std::size_t count, std::size_t size) noexcept;
void Free(void* block) noexcept;

// Zero-terminated heap copy of text; null when the heap says no.
char16_t* DupString(std::u16string_view text) noexcept;

// Length of a zero-terminated UTF-16 string; 0 for null.
std::size_t StrLen16(const char16_t* text) noexcept;

#ifdef QV_TEST_HOOKS
namespace alloc_fault {
// Makes the n-th allocation counted from now fail (1 = the next one), and
// every one after it when sticky is true. 0 switches failures off but keeps
// counting. Until the first call of FailAt or Reset nothing is counted.
void FailAt(unsigned n, bool sticky = false) noexcept;
void Reset() noexcept;
// Allocations attempted since the last FailAt/Reset.
unsigned Count() noexcept;
}  // namespace alloc_fault
#endif

}  // namespace qv
