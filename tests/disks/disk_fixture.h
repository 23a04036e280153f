// The disk inventory tests' pieces: a builder for the service's disk list
// reply and an open handle against the test service.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "support/connected_test.h"

namespace disktest {

using Lines = std::vector<std::u16string>;

// Builds an RpcDiskList whose texts and arrays it owns. References returned
// by the Add... functions stay valid while the builder lives; Record() lays
// the arrays out.
class DiskReply {
  public:
    // A text as the service sends it, with its terminator unless told.
    RpcWString Str(std::u16string_view text, bool terminated = true) {
        std::vector<u_short>& units = texts_.emplace_back(text.begin(), text.end());
        if (terminated) units.push_back(0);
        return {static_cast<u_int>(units.size()), units.data()};
    }
    static RpcWString None() { return {0, nullptr}; }  // a text with no elements

    RpcDiskRecord& AddDisk(uint32_t number) {
        Disk& d = disks_.emplace_back();
        d.record.Number = number;
        const std::string digits = std::to_string(number);
        d.record.Name = Str(u"Harddisk" + std::u16string(digits.begin(), digits.end()));
        d.record.Text1 = d.record.Text2 = Str(u"");
        return d.record;
    }
    RpcPartitionRecord& AddPartition(const RpcDiskRecord& disk, uint32_t number,
                                     std::u16string_view letters = u"",
                                     std::u16string_view label = u"") {
        RpcPartitionRecord& p = Find(disk).partitions.emplace_back();
        p.Number = number;
        p.Letters = Str(letters);
        p.Label = Str(label);
        return p;
    }
    RpcDiskProperties& AddProperties(const RpcDiskRecord& disk) {
        return Find(disk).properties.emplace_back();
    }
    RpcDiskDescriptor& AddDescriptor(const RpcDiskRecord& disk) {
        return Find(disk).descriptors.emplace_back();
    }

    // DiskCount is the number of disks added.
    RpcDiskList& Record(uint32_t status = 0) {
        laid_out_.clear();
        for (Disk& d : disks_) {
            Lay(d.record.Partitions, d.partitions, d.laid_partitions);
            Lay(d.record.Properties, d.properties, d.laid_properties);
            Lay(d.record.Descriptors, d.descriptors, d.laid_descriptors);
            laid_out_.push_back(d.record);
        }
        const auto n = static_cast<u_int>(laid_out_.size());
        list_ = {status, n, {n, laid_out_.data()}};
        return list_;
    }

  private:
    struct Disk {
        RpcDiskRecord record{};
        std::deque<RpcPartitionRecord> partitions;
        std::deque<RpcDiskProperties> properties;
        std::deque<RpcDiskDescriptor> descriptors;
        std::vector<RpcPartitionRecord> laid_partitions;
        std::vector<RpcDiskProperties> laid_properties;
        std::vector<RpcDiskDescriptor> laid_descriptors;
    };
    Disk& Find(const RpcDiskRecord& record) {
        return *std::ranges::find_if(disks_, [&](const Disk& d) { return &d.record == &record; });
    }
    template <typename A, typename T>
    static void Lay(A& field, const std::deque<T>& from, std::vector<T>& to) {
        to.assign(from.begin(), from.end());
        auto& [len, val] = field;
        len = static_cast<u_int>(to.size());
        val = to.data();
    }

    std::deque<std::vector<u_short>> texts_;
    std::deque<Disk> disks_;
    std::vector<RpcDiskRecord> laid_out_;
    RpcDiskList list_{};
};

// Text of a caller-visible string; "<null>" for a null pointer.
inline std::u16string Str(const QV_WCHAR* text) { return text == nullptr ? u"<null>" : text; }

inline Lines DisplayNames(const QV_DISK_LIST& list) {
    Lines names;
    for (uint32_t i = 0; i < list.Count; ++i) names.push_back(Str(list.Entries[i].DisplayName));
    return names;
}

// Every byte of a record is zero (padding included, as in a zeroed block).
template <typename T>
bool AllZero(const T& record) {
    return std::ranges::all_of(std::as_bytes(std::span(&record, 1)),
                               [](std::byte b) { return b == std::byte{0}; });
}

inline QV_DISK_INFO* Sentinel() { return reinterpret_cast<QV_DISK_INFO*>(0x10); }

// An open handle against the test service, a trace file, and a list that
// is given back after each test.
class DiskTest : public qvtest::ConnectedTest {
  protected:
    QV_DISK_LIST list{};

    void TearDown() override {
        FreeList();
        ConnectedTest::TearDown();
    }
    void FreeList() {
        if (list.Entries == Sentinel()) return;
        QV_DISK_LIST* header = &list;
        qvFreeDiskList(&header, 1);
        list = {};
    }
    // Fills `list` afresh with the given filter.
    uint32_t Get(uint32_t kind, const QV_OBJECT_ID* object = nullptr, uint32_t options = 0,
                 uint32_t refresh = 0) {
        FreeList();
        const QV_DISK_FILTER filter{kind, options, refresh, object};
        return qvGetDiskList(handle, &filter, &list);
    }
};

}  // namespace disktest
