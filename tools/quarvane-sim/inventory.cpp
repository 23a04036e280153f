#include "inventory.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

#include "text.h"

namespace qvsim {
namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error(where + ": " + what);
}

void CheckKeys(const json& object, const std::set<std::string>& known, const std::string& where) {
    if (!object.is_object()) Fail(where, "expected an object");
    for (const auto& [key, value] : object.items()) {
        if (known.count(key) == 0) Fail(where, "unknown key \"" + key + "\"");
    }
}

uint64_t Unsigned(const json& object, const char* key, const std::string& where,
                  std::optional<uint64_t> fallback, uint64_t max) {
    const auto it = object.find(key);
    if (it == object.end()) {
        if (!fallback) Fail(where, std::string("missing \"") + key + "\"");
        return *fallback;
    }
    if (!it->is_number_unsigned())
        Fail(where, std::string("\"") + key + "\" must be a number >= 0");
    const auto value = it->get<uint64_t>();
    if (value > max) Fail(where, std::string("\"") + key + "\" is too large");
    return value;
}

bool Flag(const json& object, const char* key, const std::string& where) {
    const auto it = object.find(key);
    if (it == object.end()) return false;
    if (!it->is_boolean()) Fail(where, std::string("\"") + key + "\" must be true or false");
    return it->get<bool>();
}

std::u16string Text(const json& object, const char* key, const std::string& where,
                    bool required = false) {
    const auto it = object.find(key);
    if (it == object.end()) {
        if (required) Fail(where, std::string("missing \"") + key + "\"");
        return {};
    }
    if (!it->is_string()) Fail(where, std::string("\"") + key + "\" must be a string");
    try {
        return FromUtf8(it->get<std::string>());
    } catch (const std::runtime_error& e) {
        Fail(where, std::string("\"") + key + "\": " + e.what());
    }
}

// Partition types are usually written in hexadecimal ("0x42"); a plain
// number is accepted as well.
uint8_t PartitionType(const json& object, const std::string& where) {
    const auto it = object.find("type");
    if (it == object.end()) return 0x07;
    uint64_t value = 0;
    if (it->is_number_unsigned()) {
        value = it->get<uint64_t>();
    } else if (it->is_string()) {
        const std::string text = it->get<std::string>();
        std::size_t used = 0;
        try {
            value = std::stoull(text, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != text.size()) Fail(where, "\"type\" is not a number: " + text);
    } else {
        Fail(where, "\"type\" must be a number or a string such as \"0x07\"");
    }
    if (value > 0xFF) Fail(where, "\"type\" must fit in one byte");
    return static_cast<uint8_t>(value);
}

uint32_t FileSystem(const json& object, const std::string& where) {
    const auto it = object.find("fs");
    if (it == object.end()) return 1;
    if (!it->is_string()) Fail(where, "\"fs\" must be a string");
    const std::string fs = it->get<std::string>();
    if (fs == "raw") return 0;
    if (fs == "ntfs") return 1;
    if (fs == "fat32") return 2;
    if (fs == "refs") return 3;
    Fail(where, "\"fs\" must be one of raw, ntfs, fat32, refs");
}

constexpr uint64_t kMaxU32 = std::numeric_limits<uint32_t>::max();

Partition ReadPartition(const json& j, const std::string& where, uint64_t next_offset) {
    CheckKeys(j, {"number", "type", "letters", "label", "offset_mib", "size_mib", "used_mib", "fs"},
              where);
    Partition p;
    p.number = static_cast<uint32_t>(Unsigned(j, "number", where, std::nullopt, kMaxU32));
    if (p.number == 0) Fail(where, "partition number 0 names the whole disk; start at 1");
    p.type = PartitionType(j, where);
    p.letters = Text(j, "letters", where);
    p.label = Text(j, "label", where);
    p.offset_mib = Unsigned(j, "offset_mib", where, next_offset, kMaxU32);
    p.size_mib = Unsigned(j, "size_mib", where, std::nullopt, kMaxU32);
    if (p.size_mib == 0) Fail(where, "\"size_mib\" must not be 0");
    p.used_mib = Unsigned(j, "used_mib", where, 0, kMaxU32);
    if (p.used_mib > p.size_mib) Fail(where, "\"used_mib\" exceeds \"size_mib\"");
    p.file_system = FileSystem(j, where);
    return p;
}

Disk ReadDisk(const json& j, const std::string& where) {
    CheckKeys(j,
              {"number", "name", "size_mib", "system", "removable", "offline", "bus", "style",
               "bytes_per_sector", "vendor", "product", "revision", "serial", "location", "adapter",
               "partitions"},
              where);
    Disk d;
    d.number = static_cast<uint32_t>(Unsigned(j, "number", where, std::nullopt, 0x7FFFFFFF));
    d.name = Text(j, "name", where, true);
    if (d.name.empty()) Fail(where, "\"name\" must not be empty");
    d.size_mib = Unsigned(j, "size_mib", where, std::nullopt, kMaxU32);
    if (d.size_mib == 0) Fail(where, "\"size_mib\" must not be 0");
    d.system = Flag(j, "system", where);
    d.removable = Flag(j, "removable", where);
    d.offline = Flag(j, "offline", where);
    d.bus = static_cast<uint32_t>(Unsigned(j, "bus", where, 3, kMaxU32));
    if (const auto it = j.find("style"); it != j.end()) {
        if (*it == "gpt") {
            d.gpt = true;
        } else if (*it == "mbr") {
            d.gpt = false;
        } else {
            Fail(where, "\"style\" must be \"gpt\" or \"mbr\"");
        }
    }
    d.bytes_per_sector = static_cast<uint32_t>(Unsigned(j, "bytes_per_sector", where, 512, 65536));
    d.vendor = Text(j, "vendor", where);
    d.product = Text(j, "product", where);
    d.revision = Text(j, "revision", where);
    d.serial = Text(j, "serial", where);
    d.location = Text(j, "location", where);
    d.adapter = Text(j, "adapter", where);

    if (const auto it = j.find("partitions"); it != j.end()) {
        if (!it->is_array()) Fail(where, "\"partitions\" must be an array");
        std::set<uint32_t> numbers;
        uint64_t next_offset = 1;  // the first MiB holds the partition table
        for (std::size_t i = 0; i < it->size(); ++i) {
            const std::string at = where + ".partitions[" + std::to_string(i) + "]";
            Partition p = ReadPartition((*it)[i], at, next_offset);
            if (!numbers.insert(p.number).second) Fail(at, "partition number used twice");
            if (p.offset_mib + p.size_mib > d.size_mib) Fail(at, "partition ends beyond its disk");
            next_offset = p.offset_mib + p.size_mib;
            d.partitions.push_back(std::move(p));
        }
    }
    return d;
}

ClusterDisk ReadClusterDisk(const json& j, const std::string& where) {
    CheckKeys(j, {"name", "id", "text1", "text2"}, where);
    ClusterDisk d;
    d.name = Text(j, "name", where, true);
    if (d.name.empty()) Fail(where, "\"name\" must not be empty");
    d.id = static_cast<uint32_t>(Unsigned(j, "id", where, std::nullopt, kMaxU32));
    d.text1 = Text(j, "text1", where);
    d.text2 = Text(j, "text2", where);
    return d;
}

// A node named by the cluster's own node names: its index there.
uint32_t NodeIndex(const Cluster& c, const json& j, const char* key, const std::string& where) {
    const std::u16string name = Text(j, key, where, true);
    for (uint32_t i = 0; i < 2; ++i) {
        if (SameName(c.nodes[i], name)) return i;
    }
    Fail(where, std::string("\"") + key + "\" names no node of the cluster");
}

ClusterGroup ReadClusterGroup(const Cluster& c, const json& j, const std::string& where) {
    CheckKeys(j, {"name", "tag", "owner", "disks"}, where);
    ClusterGroup g;
    g.name = Text(j, "name", where, true);
    if (g.name.empty()) Fail(where, "\"name\" must not be empty");
    g.tag = Text(j, "tag", where);
    g.owner = NodeIndex(c, j, "owner", where);
    const auto it = j.find("disks");
    if (it == j.end() || !it->is_array() || it->empty())
        Fail(where, "\"disks\" must be an array of at least one physical disk");
    for (std::size_t i = 0; i < it->size(); ++i) {
        g.disks.push_back(ReadClusterDisk((*it)[i], where + ".disks[" + std::to_string(i) + "]"));
    }
    return g;
}

Cluster ReadCluster(const json& j, const std::string& where) {
    CheckKeys(j, {"name", "nodes", "local_node", "role", "partner_running", "groups"}, where);
    Cluster c;
    c.name = Text(j, "name", where, true);
    const auto nodes = j.find("nodes");
    if (nodes == j.end() || !nodes->is_array() || nodes->size() != 2)
        Fail(where, "\"nodes\" must name exactly two nodes");
    for (uint32_t i = 0; i < 2; ++i) {
        if (!(*nodes)[i].is_string()) Fail(where, "\"nodes\" must hold names");
        c.nodes[i] = FromUtf8((*nodes)[i].get<std::string>());
        if (c.nodes[i].empty()) Fail(where, "a node name must not be empty");
    }
    if (SameName(c.nodes[0], c.nodes[1])) Fail(where, "the two nodes must have different names");
    c.local = NodeIndex(c, j, "local_node", where);
    const std::u16string role = Text(j, "role", where);
    if (role.empty() || role == u"primary") {
        c.primary = true;
    } else if (role == u"secondary") {
        c.primary = false;
    } else {
        Fail(where, "\"role\" must be \"primary\" or \"secondary\"");
    }
    if (j.contains("partner_running")) c.partner_running = Flag(j, "partner_running", where);
    if (const auto it = j.find("groups"); it != j.end()) {
        if (!it->is_array()) Fail(where, "\"groups\" must be an array");
        for (std::size_t i = 0; i < it->size(); ++i) {
            const std::string at = where + ".groups[" + std::to_string(i) + "]";
            ClusterGroup g = ReadClusterGroup(c, (*it)[i], at);
            if (c.FindGroup(g.name) != nullptr) Fail(at, "group name used twice");
            c.groups.push_back(std::move(g));
        }
    }
    return c;
}

SystemInfo ReadSystem(const json& j, const std::string& where) {
    CheckKeys(j,
              {"computer", "os", "version", "path", "processors", "memory_mib", "os_major",
               "os_minor", "os_build"},
              where);
    SystemInfo s;
    const auto text = [&](const char* key, std::u16string& out) {
        if (j.contains(key)) out = Text(j, key, where);
    };
    text("computer", s.computer);
    text("os", s.os);
    text("version", s.version);
    text("path", s.path);
    s.processors = static_cast<uint32_t>(Unsigned(j, "processors", where, s.processors, kMaxU32));
    s.memory_mib = static_cast<uint32_t>(Unsigned(j, "memory_mib", where, s.memory_mib, kMaxU32));
    s.os_major = static_cast<uint32_t>(Unsigned(j, "os_major", where, s.os_major, kMaxU32));
    s.os_minor = static_cast<uint32_t>(Unsigned(j, "os_minor", where, s.os_minor, kMaxU32));
    s.os_build = static_cast<uint32_t>(Unsigned(j, "os_build", where, s.os_build, kMaxU32));
    return s;
}

}  // namespace

const ClusterGroup* Cluster::FindGroup(std::u16string_view name) const noexcept {
    for (const auto& g : groups) {
        if (SameName(g.name, name)) return &g;
    }
    return nullptr;
}

bool Disk::Dynamic() const noexcept {
    for (const auto& p : partitions) {
        if (p.type == kDynamicPartitionType) return true;
    }
    return false;
}

const Partition* Disk::FindPartition(uint32_t number) const noexcept {
    for (const auto& p : partitions) {
        if (p.number == number) return &p;
    }
    return nullptr;
}

const Disk* Inventory::FindDisk(std::u16string_view name) const noexcept {
    for (const auto& d : disks) {
        if (SameName(d.name, name)) return &d;
    }
    return nullptr;
}

const Adapter* Inventory::FindAdapter(const std::array<uint8_t, 6>& mac) const noexcept {
    for (const auto& a : adapters) {
        if (a.mac == mac) return &a;
    }
    return nullptr;
}

std::string MacText(const std::array<uint8_t, 6>& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

bool ParseMac(const std::string& text, std::array<uint8_t, 6>& mac) {
    if (text.size() != 17) return false;
    for (std::size_t i = 0; i < 6; ++i) {
        if (i > 0 && text[i * 3 - 1] != '-' && text[i * 3 - 1] != ':') return false;
        unsigned value = 0;
        for (std::size_t k = 0; k < 2; ++k) {
            const char c =
                static_cast<char>(std::tolower(static_cast<unsigned char>(text[i * 3 + k])));
            const char* digits = "0123456789abcdef";
            const char* at = std::strchr(digits, c);
            if (c == '\0' || at == nullptr) return false;
            value = value * 16 + static_cast<unsigned>(at - digits);
        }
        mac[i] = static_cast<uint8_t>(value);
    }
    return true;
}

namespace {

Adapter ReadAdapter(const json& j, const std::string& where) {
    CheckKeys(j, {"mac", "name", "speed_mbps", "flags", "index"}, where);
    Adapter a;
    const auto mac = j.find("mac");
    if (mac == j.end() || !mac->is_string() || !ParseMac(mac->get<std::string>(), a.mac)) {
        Fail(where, "\"mac\" must be six hexadecimal bytes such as \"00-1b-21-ab-cd-ef\"");
    }
    a.name = Text(j, "name", where, true);
    a.speed_mbps = static_cast<uint32_t>(Unsigned(j, "speed_mbps", where, 1000, kMaxU32));
    a.flags = static_cast<uint32_t>(Unsigned(j, "flags", where, 0, kMaxU32));
    a.index = static_cast<int32_t>(Unsigned(j, "index", where, 0, 0x7FFFFFFF));
    return a;
}

}  // namespace

Inventory LoadInventory(const std::filesystem::path& file) {
    const std::string where = file.string();
    std::ifstream in(file);
    if (!in) Fail(where, "cannot be opened");
    json root;
    try {
        root = json::parse(in);
    } catch (const json::exception& e) {
        Fail(where, std::string("not valid JSON: ") + e.what());
    }
    CheckKeys(root, {"disks", "cluster", "system", "adapters", "remote_boot_mode"}, where);
    const auto it = root.find("disks");
    if (it == root.end() || !it->is_array()) Fail(where, "\"disks\" must be an array");

    Inventory inventory;
    std::set<uint32_t> numbers;
    for (std::size_t i = 0; i < it->size(); ++i) {
        const std::string at = where + ": disks[" + std::to_string(i) + "]";
        Disk d = ReadDisk((*it)[i], at);
        if (!numbers.insert(d.number).second) Fail(at, "disk number used twice");
        if (inventory.FindDisk(d.name) != nullptr) Fail(at, "disk name used twice");
        inventory.disks.push_back(std::move(d));
    }
    if (const auto c = root.find("cluster"); c != root.end()) {
        inventory.cluster = ReadCluster(*c, where + ": cluster");
    }
    if (const auto s = root.find("system"); s != root.end()) {
        inventory.system = ReadSystem(*s, where + ": system");
    }
    if (const auto adapters = root.find("adapters"); adapters != root.end()) {
        if (!adapters->is_array()) Fail(where, "\"adapters\" must be an array");
        for (std::size_t i = 0; i < adapters->size(); ++i) {
            const std::string at = where + ": adapters[" + std::to_string(i) + "]";
            Adapter a = ReadAdapter((*adapters)[i], at);
            if (inventory.FindAdapter(a.mac) != nullptr) Fail(at, "address used twice");
            inventory.adapters.push_back(std::move(a));
        }
    }
    inventory.remote_boot_mode =
        static_cast<uint32_t>(Unsigned(root, "remote_boot_mode", where, 0, kMaxU32));
    return inventory;
}

}  // namespace qvsim
