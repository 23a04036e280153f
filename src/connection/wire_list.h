// Lists from the service into the caller's list headers, and back to the
// heap.
//
// Every list function follows the same rules, kept here once:
//   - what a reply holds is what was decoded: Received() never reaches past
//     an array's decoded elements, whatever count a record states;
//   - a count the reply states is checked against the received elements
//     before anything is allocated (Walk());
//   - the entries are filled into one zeroed block that gives back every
//     string it holds, and itself, unless it is handed to the caller
//     (EntryBlock), so every failure path releases all of it;
//   - the release functions take the caller's pointer to the header and a
//     keep flag (ReleaseList).
//
//   const auto walked = qv::Walk(qv::Received(reply.Configs), reply.Count);
//   if (!walked) return QV_STATUS_RPC_FAILED;
//   return qv::ConvertEntries<ReleaseConfig>(*walked, ConvertConfig, list.Entries, list.Count);
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "platform/alloc.h"
#include "qvcliapi.h"

namespace qv {

// The elements a decoded array field ({count, pointer}, as the generated
// records lay them out) holds.
template <typename Field>
auto Received(const Field& field) noexcept {
    const auto& [count, values] = field;
    using T = std::remove_pointer_t<std::remove_cvref_t<decltype(values)>>;
    return values == nullptr ? std::span<const T>{} : std::span<const T>(values, count);
}

// The first `count` of the received elements; nothing when the count asks
// for more than arrived.
template <typename T>
std::optional<std::span<const T>> Walk(std::span<const T> received, std::uint64_t count) noexcept {
    if (count > received.size()) return std::nullopt;
    return received.first(static_cast<std::size_t>(count));
}

// A zeroed block of entries that gives back each entry's contents (through
// Release, which must accept an entry filled only in part) and itself when
// it goes out of scope, unless it was handed over with MoveTo.
template <typename Entry, void (*Release)(Entry&)>
class EntryBlock {
  public:
    explicit EntryBlock(std::size_t count) noexcept
        : entries_(count == 0 ? nullptr : static_cast<Entry*>(AllocZeroed(count, sizeof(Entry)))),
          count_(entries_ == nullptr ? 0 : count) {}
    ~EntryBlock() {
        for (Entry& entry : span()) Release(entry);
        Free(entries_);
    }
    EntryBlock(const EntryBlock&) = delete;
    EntryBlock& operator=(const EntryBlock&) = delete;

    // False when a block of entries was wanted and the heap said no.
    explicit operator bool() const noexcept { return entries_ != nullptr; }
    std::span<Entry> span() const noexcept { return {entries_, count_}; }

    // Hands the block to the caller's header.
    template <typename Count>
    void MoveTo(Entry*& entries, Count& count) noexcept {
        entries = entries_;
        count = static_cast<Count>(count_);
        entries_ = nullptr;
        count_ = 0;
    }

  private:
    Entry* entries_;
    std::size_t count_;
};

// Converts `from` element by element into a fresh block, all or nothing:
// `convert` (wire element, zeroed entry) returns 0 or the status the list
// fails with. On success the caller's entries and count hold the block (null
// and 0 for no elements); on failure they are left as they were and nothing
// stays allocated. Returns 0, QV_STATUS_NO_MEMORY or convert's status.
template <auto Release, typename Wire, typename Entry, typename Count, typename Convert>
uint32_t ConvertEntries(std::span<const Wire> from, Convert&& convert, Entry*& entries,
                        Count& count) noexcept {
    if (from.size() > static_cast<std::size_t>(std::numeric_limits<Count>::max())) {
        return QV_STATUS_NO_MEMORY;
    }
    EntryBlock<Entry, Release> block(from.size());
    if (!from.empty() && !block) return QV_STATUS_NO_MEMORY;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const uint32_t status = convert(from[i], block.span()[i]);
        if (status != 0) return status;
    }
    block.MoveTo(entries, count);
    return 0;
}

// Gives back the entries of a caller's list header (each through
// release_entry, then the block) and leaves the header's fields as they
// were.
template <auto kCount, auto kEntries, typename Header, typename Release>
void ReleaseEntries(Header& header, Release&& release_entry) noexcept {
    auto* entries = header.*kEntries;
    if (entries == nullptr) return;
    for (auto& entry : std::span(entries, static_cast<std::size_t>(header.*kCount))) {
        release_entry(entry);
    }
    Free(entries);
}

// The release functions of lists: the entries, and the header too (which
// then came from the C heap) unless `keep` is nonzero, setting the caller's
// pointer to null. A null pointer, or one to null, is accepted.
template <auto kCount, auto kEntries, typename Header, typename Release>
QV_STATUS ReleaseList(Header** list, uint32_t keep, Release&& release_entry) noexcept {
    if (list == nullptr || *list == nullptr) return 0;
    ReleaseEntries<kCount, kEntries>(**list, release_entry);
    if (keep == 0) {
        Free(*list);
        *list = nullptr;
    }
    return 0;
}

}  // namespace qv
