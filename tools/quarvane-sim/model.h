// The daemon's whole world: the inventory it sees, the protections created
// on it and the data trace configurations. Families read and change it
// through here; the server saves it after every change.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <list>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics.h"
#include "inventory.h"
#include "protection.h"

namespace qvsim {

using Clock = std::chrono::steady_clock;

// A disk, or a partition of it, found in the inventory.
struct Target {
    const Disk* disk = nullptr;
    const Partition* partition = nullptr;  // null for the whole disk

    uint64_t SizeMiB() const noexcept;
    ObjectId Id() const;  // spelled as the inventory spells it
};

// Do the two objects share any part of a disk?
bool Overlap(const ObjectId& a, const ObjectId& b) noexcept;
bool Same(const ObjectId& a, const ObjectId& b) noexcept;

struct DataTraceConfig {
    ObjectId object;
    int32_t option = 0;
    std::optional<std::u16string> text;
    uint32_t count = 5;
};

// What the service holds about network boot.
struct ServerBootConfig {
    std::u16string text;
    uint32_t word1 = 0;
    std::array<uint8_t, 6> mac{};
    uint32_t word2 = 0;
    uint32_t word3 = 0;
    uint32_t word4 = 0;
    uint32_t word5 = 0;
};

struct NetbootState {
    // This machine's drivers as the client last reported them, and the
    // adapter PXE boot was enabled on.
    bool drivers_installed = false;
    std::optional<std::array<uint8_t, 6>> adapter;
    // The service's own boot configuration and whether it serves PXE boot.
    bool server_enabled = false;
    ServerBootConfig server;
    // Set when the adapters change; cleared when PXE boot is enabled or
    // re-configured for the new environment.
    bool env_changed = false;
};

// A snapshot of a protection, named by its primary, and the view it is
// mounted as while it is.
struct Snapshot {
    uint32_t id = 0;
    ObjectId owner;
    int64_t taken_at = 0;  // seconds since the epoch
    std::u16string name;
    std::optional<std::u16string> view;  // the mounted view's name
    uint32_t view_disk = 0;              // the view disk's number while mounted
};

// The snapshots the service holds and the numbers the next snapshot and the
// next view disk get. How they are taken and rolled back to over time is
// the snapshot book's (snapshot_book.h); what they are is kept with the
// rest of the state.
struct SnapshotStore {
    std::vector<Snapshot> snapshots;
    uint32_t next_id = 1;
    uint32_t next_view_disk = 100;
};

class Model {
  public:
    Model(Inventory inventory, Rates rates, Clock::time_point start);

    const Inventory& inventory() const noexcept { return inventory_; }
    void ReplaceInventory(Inventory inventory);
    const Rates& rates() const noexcept { return rates_; }

    // Brings every protection up to `now`. Called before each request, so
    // that every answer sees the present.
    void Advance(Clock::time_point now);

    // The primaries whose verifies meet a disk error halfway and fail.
    void FailVerifiesOf(std::vector<ObjectId> primaries) {
        failing_verifies_ = std::move(primaries);
    }

    // 0 and the target, or the word for the disk or the partition not found.
    uint32_t Locate(const ObjectId& id, Target& out) const;

    // Protections, oldest first. Pointers stay valid until the protection
    // is removed.
    std::list<Protection>& protections() noexcept { return protections_; }
    const std::list<Protection>& protections() const noexcept { return protections_; }
    Protection* FindProtection(const ObjectId& primary);
    Protection& AddProtection(Protection protection);
    void RemoveProtection(const Protection* protection);
    // The protection whose primary or mirror shares a part of `id`'s disk
    // extent, if any.
    const Protection* UserOf(const ObjectId& id) const;

    NetbootState& netboot() noexcept { return netboot_; }
    SnapshotStore& snapshot_store() noexcept { return snapshots_; }

    DataTraceConfig* FindTrace(const ObjectId& object);
    void SetTrace(DataTraceConfig config);

    // The event log, the trace level and the cluster's configured picture.
    // A change to them is marked like any other.
    Diagnostics& diagnostics() noexcept { return diagnostics_; }
    const Diagnostics& diagnostics() const noexcept { return diagnostics_; }
    EventLog& events() noexcept { return diagnostics_.events; }

    // Structural changes (not the counters that move on their own) mark the
    // model for saving.
    void MarkChanged() noexcept { changed_ = true; }
    bool TakeChanged() noexcept { return std::exchange(changed_, false); }

    // The persistent part as JSON, and back. LoadState throws
    // std::runtime_error on a malformed document; protections whose objects
    // the inventory no longer has are dropped with a warning in `warnings`,
    // and so are the snapshots of protections that are gone.
    nlohmann::json SaveState() const;
    void LoadState(const nlohmann::json& state, std::vector<std::string>& warnings);

  private:
    Inventory inventory_;
    Rates rates_;
    Clock::time_point now_;
    std::list<Protection> protections_;
    std::vector<DataTraceConfig> traces_;
    Diagnostics diagnostics_;
    NetbootState netboot_;
    SnapshotStore snapshots_;
    std::vector<ObjectId> failing_verifies_;
    bool changed_ = false;
};

}  // namespace qvsim
