// The disks and partitions that the daemon pretends to see, loaded from a
// JSON inventory file (see inventory.json beside this file for the format).
//
// Sizes are held in MiB: the service reports every disk and partition size
// as a count of `Measure`-byte units, and the daemon's unit is 1 MiB.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qvsim {

inline constexpr uint32_t kBytesPerMiB = 1u << 20;
// The partition type of a dynamic-disk partition: a disk that holds one is
// managed by the platform's volume manager and cannot be protected.
inline constexpr uint8_t kDynamicPartitionType = 0x42;

// A disk or partition as a client names it: the disk's name and the
// partition number, 0 for the whole disk.
struct ObjectId {
    std::u16string disk;
    uint32_t number = 0;
};

struct Partition {
    uint32_t number = 0;
    uint8_t type = 0x07;
    std::u16string letters;
    std::u16string label;
    uint64_t offset_mib = 0;
    uint64_t size_mib = 0;
    uint64_t used_mib = 0;
    uint32_t file_system = 0;  // 0 raw, 1 NTFS, 2 FAT32, 3 ReFS
};

struct Disk {
    uint32_t number = 0;
    std::u16string name;
    uint64_t size_mib = 0;
    bool system = false;     // holds the running system: never a mirror
    bool removable = false;  // never protected nor used as a mirror
    bool offline = false;    // listed only by the full list
    uint32_t bus = 0;        // 1 ATA, 2 SATA, 3 SAS, 4 SCSI, 5 NVMe, 6 USB
    bool gpt = true;
    uint32_t bytes_per_sector = 512;
    std::u16string vendor;
    std::u16string product;
    std::u16string revision;
    std::u16string serial;
    std::u16string location;
    std::u16string adapter;
    std::vector<Partition> partitions;

    bool Dynamic() const noexcept;
    const Partition* FindPartition(uint32_t number) const noexcept;
};

// A physical disk resource of a cluster group, as the cluster names it.
struct ClusterDisk {
    std::u16string name;
    uint32_t id = 0;
    std::u16string text1;  // the disk as the node sees it, e.g. "Harddisk1"
    std::u16string text2;  // its drive letters
};

// A cluster group: the resources that move together from node to node.
struct ClusterGroup {
    std::u16string name;
    std::u16string tag;
    uint32_t owner = 0;  // index into Cluster::nodes of the node that runs it
    std::vector<ClusterDisk> disks;
};

// The two-node cluster this machine is a node of.
struct Cluster {
    std::u16string name;
    std::u16string nodes[2];
    uint32_t local = 0;           // index of this machine in `nodes`
    bool primary = true;          // this node's role in the service's pairing
    bool partner_running = true;  // the service runs on the other node too
    std::vector<ClusterGroup> groups;

    const ClusterGroup* FindGroup(std::u16string_view name) const noexcept;
};

// The machine the service runs on, as system information reports it.
struct SystemInfo {
    std::u16string computer = u"QVSIM";
    std::u16string os = u"Quarvane Simulated Server";
    std::u16string version;  // the service's version text
    std::u16string path = u"/opt/quarvane";
    uint32_t processors = 2;
    uint32_t memory_mib = 4096;
    uint32_t os_major = 10;
    uint32_t os_minor = 0;
    uint32_t os_build = 20348;
};

// A network adapter the machine could boot through.
struct Adapter {
    std::array<uint8_t, 6> mac{};
    std::u16string name;
    uint32_t speed_mbps = 0;  // the adapter's first word
    uint32_t flags = 0;       // its second word
    int32_t index = 0;        // its signed value
};

struct Inventory {
    std::vector<Disk> disks;
    std::optional<Cluster> cluster;  // none: the machine is no cluster node
    SystemInfo system;
    std::vector<Adapter> adapters;
    // The word the service answers when asked whether the machine runs in
    // remote-boot mode (0: it does not).
    uint32_t remote_boot_mode = 0;

    const Disk* FindDisk(std::u16string_view name) const noexcept;
    const Adapter* FindAdapter(const std::array<uint8_t, 6>& mac) const noexcept;
};

// "00-1b-21-ab-cd-ef" (':' also accepted when read).
std::string MacText(const std::array<uint8_t, 6>& mac);
bool ParseMac(const std::string& text, std::array<uint8_t, 6>& mac);

// Reads and checks an inventory file; throws std::runtime_error naming the
// file and the problem.
Inventory LoadInventory(const std::filesystem::path& file);

}  // namespace qvsim
