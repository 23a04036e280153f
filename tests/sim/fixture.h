// The end-to-end tests' support: quarvane-sim as a child process on a free
// loopback port, a library handle connected to it, and short forms of the
// calls the tests make through the public interface.
#pragma once

#include <gtest/gtest.h>
#include <qvcliapi.h>

#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "processes.h"

namespace simtest {

// Disk0 10000 MiB, system: 1 C: 4000, 2 D: 2000. Disk1 8000: 1 E: 1000,
// 2 3000. Disk2 8000, no partitions. Disk3 4000: 1 F: 500, 2 G: 2000.
// Disk4 4000, dynamic: 1 (0x42), 2. Disk5 removable. Disk6 offline. This
// machine is the secondary node of a two-node cluster.
inline constexpr const char* kInventory = R"({"cluster": {"name": "CL", "role": "secondary",
  "nodes": ["NODE-A", "NODE-B"], "local_node": "NODE-A",
  "groups": [{"name": "SQL", "owner": "NODE-A", "disks": [{"name": "CD1", "id": 101}]}]},
 "disks": [
 {"number": 0, "name": "Disk0", "size_mib": 10000, "system": true, "vendor": "QVSIM",
  "product": "System", "serial": "S0", "partitions": [
   {"number": 1, "letters": "C:", "label": "System", "size_mib": 4000, "used_mib": 3000},
   {"number": 2, "letters": "D:", "size_mib": 2000, "used_mib": 10}]},
 {"number": 1, "name": "Disk1", "size_mib": 8000, "partitions": [
   {"number": 1, "letters": "E:", "label": "Data", "size_mib": 1000, "used_mib": 600},
   {"number": 2, "label": "Spare", "size_mib": 3000}]},
 {"number": 2, "name": "Disk2", "size_mib": 8000},
 {"number": 3, "name": "Disk3", "size_mib": 4000, "partitions": [
   {"number": 1, "letters": "F:", "label": "Small", "size_mib": 500},
   {"number": 2, "letters": "G:", "label": "Big", "size_mib": 2000}]},
 {"number": 4, "name": "Disk4", "size_mib": 4000, "partitions": [
   {"number": 1, "type": "0x42", "size_mib": 1000}, {"number": 2, "type": 7, "size_mib": 1000}]},
 {"number": 5, "name": "Disk5", "size_mib": 2000, "removable": true, "partitions": [
   {"number": 1, "letters": "U:", "size_mib": 1999, "fs": "fat32"}]},
 {"number": 6, "name": "Disk6", "size_mib": 8000, "offline": true}]})";

using qvtest::Daemon;
using qvtest::Eventually;

// The daemon's status words, and protection states (kGone: State() for none).
enum : uint32_t {
    kDiskNotFound = 0x6FFC0010,
    kPartitionNotFound = 0x6FFC0011,
    kSystemDiskAsMirror = 0x6FFC0016,
    kMirrorTooSmall = 0x6FFC0017,
    kMirrorHasPartitions = 0x6FFC0018,
    kDiskNotSupported = 0x6FFC0019,
    kNotFound = 0x6FFC0040,
    kExists = 0x6FFC0041,
    kDiskOffline = 0x6FFC0070,
    kNotConnected = 0x6FFC0200,
    kInvalid = 0x6FFC0300,
};
enum : uint32_t { kMirrored = 1, kSynchronizing, kSuspended, kStopped, kOutOfSync };
enum : uint32_t { kRestoring = 9, kVerifying, kGone = kNotFound };

// A library text as ASCII, "\u00e9" for anything else; "<null>" for none.
inline std::string Ascii(const QV_WCHAR* text) {
    if (text == nullptr) return "<null>";
    std::string out;
    for (char escaped[8]; *text != 0; ++text) {
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(*text));
        out += *text < 128 ? std::string(1, static_cast<char>(*text)) : escaped;
    }
    return out;
}

// "6FFC0010 Unable to find the specified disk.": a status with the text
// qvFormatErrMessage gives it, so that a failed comparison says what came.
inline std::string Said(uint32_t status) {
    QV_WCHAR* text = nullptr;
    qvFormatErrMessage(nullptr, status, &text);
    char word[12];
    std::snprintf(word, sizeof word, "%08X ", status);
    const std::string out = word + Ascii(text);
    qvFreeErrMessage(&text);
    return out;
}

// A list or record that gives what the library put in it back when it goes
// or is filled again (the library overwrites it without doing so).
template <typename T, QV_STATUS (*Free)(T**, uint32_t)>
struct Owned : T {
    Owned() : T{} {}
    Owned(const Owned&) = delete;
    ~Owned() { Reset(); }
    T* Reset() {
        T* self = this;
        Free(&self, 1);
        *self = T{};
        return self;
    }
};
using DiskList = Owned<QV_DISK_LIST, qvFreeDiskList>;
using ConfigList = Owned<QV_MIRROR_CONFIG_LIST, qvFreeMirConfigList>;

// "Disk0 Disk0:1 Disk2": the entries of a disk list in order.
std::string Summary(const QV_DISK_LIST& list);
// "Disk 0 Partition 1 - System (C:)|C:|System|4000/3000 MiB|1 0 1 7|0/0": the
// texts and sizes of the listed disk or partition, then HighFlag,
// DiskMarked, Properties.Mode, PartitionType, then Attribute/DiskAttribute3.
std::string Describe(const QV_DISK_LIST& list, std::string_view disk, uint32_t number);

class SimE2e : public ::testing::Test {
  protected:
    // Starts the daemon on the test inventory (or another) and connects.
    void Start(std::vector<std::string> args = {}, const std::string& err = "",
               const char* inventory = kInventory) {
        args.insert(args.end(), {"--inventory", dir_.Write("inventory.json", inventory)});
        daemon_.emplace(args, err);
        uint32_t status = 1;
        handle_ = Connect(user_, password_, &status);
        ASSERT_EQ(status, 0u);
    }
    QV_HANDLE Connect(const QV_WCHAR* user, const QV_WCHAR* password, uint32_t* status) {
        const QV_CONNECT_PARAM param{u"127.0.0.1", daemon_->port, user, password};
        QV_HANDLE handle = nullptr;
        *status = qvConnect(&param, &handle);
        return handle;
    }
    // Disconnects, then stops the daemon expecting a clean exit.
    void StopDaemon() {
        if (handle_ != nullptr) {
            EXPECT_EQ(qvDisconnect(&handle_), 0u);
        }
        if (daemon_) {
            EXPECT_EQ(daemon_->Stop(), 0) << "quarvane-sim did not exit cleanly";
        }
        daemon_.reset();
    }
    void TearDown() override { StopDaemon(); }

    uint32_t List(DiskList& list, uint32_t kind, const QV_WCHAR* name = nullptr,
                  uint32_t number = 0, uint32_t refresh = 0) {
        const QV_OBJECT_ID object{name, number};
        const QV_DISK_FILTER filter{kind, 0, refresh, name != nullptr ? &object : nullptr};
        return qvGetDiskList(handle_, &filter, list.Reset());
    }

    // A protection; most tests use Disk1:1 (1000 MiB) on Disk3:2.
    static QV_MIRROR_CONFIG Pair(const QV_WCHAR* primary = u"Disk1", uint32_t primary_number = 1,
                                 const QV_WCHAR* mirror = u"Disk3", uint32_t mirror_number = 2) {
        QV_MIRROR_CONFIG config{};
        config.Primary = {primary, primary_number};
        config.Mirror = {mirror, mirror_number};
        return config;
    }
    uint32_t Enable(const QV_MIRROR_CONFIG& config) {
        const QV_MIRROR_ENABLE enable{config, 0, 0, 0, 0};
        return qvEnableMirror(handle_, &enable);
    }
    // Disk1:1 protected and in sync, its copying capped at 1 MiB/s.
    void Protect() {
        ASSERT_EQ(Enable(Pair()), 0u);
        ASSERT_TRUE(Eventually([&] { return State() == kMirrored; }));
        // At 1 MiB/s an operation on its 1000 MiB runs for longer than any test.
        QV_MIRROR_CONFIG config = Pair();
        std::tie(config.Limit, config.LimitOn) = std::tuple(1, 1);
        ASSERT_EQ(qvChangeMirrorConfig(handle_, &config), 0u);
    }

    // The state of Disk1:1, or the refusal of qvGetMirrorStat.
    uint32_t State() {
        QV_MIRROR_STAT stat{};
        const uint32_t status = qvGetMirrorStat(handle_, u"Disk1", 1, &stat);
        return status == 0 ? stat.State : status;
    }

    const qvtest::TempDir dir_;  // the test's own
    std::optional<Daemon> daemon_;
    QV_HANDLE handle_ = nullptr;
    const QV_WCHAR* user_ = u"admin";
    const QV_WCHAR* password_ = u"secret";
};

}  // namespace simtest
