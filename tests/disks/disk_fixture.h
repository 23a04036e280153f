// Shared pieces of the disk inventory tests: a builder for the service's
// disk list reply and an open handle against the test service.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "connection/handle.h"
#include "disks/disk_conversion.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

namespace disktest {

// Builds an RpcDiskList whose texts and arrays it owns. References returned
// by the Add... functions stay valid while the builder lives; Record() lays
// the arrays out and is valid until the next Record().
class DiskReply {
  public:
    // A text as the service sends it: its units and the terminator.
    RpcWString Str(std::u16string_view text) {
        std::vector<u_short>& units = texts_.emplace_back(text.begin(), text.end());
        units.push_back(0);
        return {static_cast<u_int>(units.size()), units.data()};
    }
    // Exactly these units, no terminator added.
    RpcWString Units(std::u16string_view units_in) {
        std::vector<u_short>& units = texts_.emplace_back(units_in.begin(), units_in.end());
        return {static_cast<u_int>(units.size()), units.data()};
    }
    // A text with no elements.
    static RpcWString None() { return {0, nullptr}; }

    static std::u16string Digits(uint32_t number) {
        std::u16string digits;
        do {
            digits.insert(digits.begin(), static_cast<char16_t>(u'0' + number % 10));
            number /= 10;
        } while (number != 0);
        return digits;
    }

    RpcDiskRecord& AddDisk(uint32_t number, std::u16string_view name = u"") {
        RpcDiskRecord& d = disks_.emplace_back();
        d.Number = number;
        d.Name = Str(name.empty() ? u"Harddisk" + Digits(number) : std::u16string(name));
        d.Text1 = Str(u"");
        d.Text2 = Str(u"");
        return d;
    }
    RpcPartitionRecord& AddPartition(const RpcDiskRecord& disk, uint32_t number,
                                     std::u16string_view letters = u"",
                                     std::u16string_view label = u"") {
        RpcPartitionRecord& p = partitions_[&disk].emplace_back();
        p.Number = number;
        p.Letters = Str(letters);
        p.Label = Str(label);
        return p;
    }
    RpcDiskProperties& AddProperties(const RpcDiskRecord& disk) {
        RpcDiskProperties& p = properties_[&disk].emplace_back();
        p.Text1 = None();
        p.Text2 = None();
        return p;
    }
    RpcDiskDescriptor& AddDescriptor(const RpcDiskRecord& disk) {
        return descriptors_[&disk].emplace_back();
    }

    // DiskCount is the number of disks added unless given.
    const RpcDiskList& Record(uint32_t status = 0) {
        laid_out_.assign(disks_.begin(), disks_.end());
        part_arrays_.clear();
        prop_arrays_.clear();
        desc_arrays_.clear();
        for (std::size_t i = 0; i < disks_.size(); ++i) {
            const RpcDiskRecord* key = &disks_[i];
            RpcDiskRecord& d = laid_out_[i];
            auto& parts =
                part_arrays_.emplace_back(partitions_[key].begin(), partitions_[key].end());
            d.Partitions = {static_cast<u_int>(parts.size()), parts.data()};
            auto& props =
                prop_arrays_.emplace_back(properties_[key].begin(), properties_[key].end());
            d.Properties = {static_cast<u_int>(props.size()), props.data()};
            auto& descs =
                desc_arrays_.emplace_back(descriptors_[key].begin(), descriptors_[key].end());
            d.Descriptors = {static_cast<u_int>(descs.size()), descs.data()};
        }
        list_.status = status;
        list_.DiskCount = static_cast<u_int>(laid_out_.size());
        list_.Disks = {static_cast<u_int>(laid_out_.size()), laid_out_.data()};
        return list_;
    }
    RpcDiskList& Mutable() { return list_; }

  private:
    std::deque<std::vector<u_short>> texts_;
    std::deque<RpcDiskRecord> disks_;
    std::map<const RpcDiskRecord*, std::deque<RpcPartitionRecord>> partitions_;
    std::map<const RpcDiskRecord*, std::deque<RpcDiskProperties>> properties_;
    std::map<const RpcDiskRecord*, std::deque<RpcDiskDescriptor>> descriptors_;
    std::vector<RpcDiskRecord> laid_out_;
    std::deque<std::vector<RpcPartitionRecord>> part_arrays_;
    std::deque<std::vector<RpcDiskProperties>> prop_arrays_;
    std::deque<std::vector<RpcDiskDescriptor>> desc_arrays_;
    RpcDiskList list_{};
};

// Text of a caller-visible string; "<null>" for a null pointer.
inline std::u16string Str(const QV_WCHAR* text) { return text == nullptr ? u"<null>" : text; }

inline std::vector<std::u16string> DisplayNames(const QV_DISK_LIST& list) {
    std::vector<std::u16string> names;
    for (uint32_t i = 0; i < list.Count; ++i) names.push_back(Str(list.Entries[i].DisplayName));
    return names;
}

// Every byte of a record is zero (padding included, as in a zeroed block).
template <typename T>
bool AllZero(const T& record) {
    const auto bytes = std::as_bytes(std::span(&record, 1));
    return std::ranges::all_of(bytes, [](std::byte b) { return b == std::byte{0}; });
}

inline const QV_DISK_INFO* Sentinel() { return reinterpret_cast<const QV_DISK_INFO*>(0x10); }

using Lines = std::vector<std::u16string>;

// An open handle (login token 0x77) against the test service, a trace
// file, and a list that is given back after each test.
class DiskTest : public ::testing::Test {
  protected:
    static constexpr uint32_t kToken = 0x77;

    qvtest::TestService svc;
    qvtest::TraceFixture trace;
    QV_HANDLE handle = nullptr;
    QV_DISK_LIST list{};

    void SetUp() override {
        svc.Answer<LOGIN>({.status = 0, .token = kToken});
        const QV_CONNECT_PARAM p = svc.Params();
        ASSERT_EQ(qvConnect(&p, &handle), 0u);
        // Stalls cost a fraction of a second instead of the connect timeout.
        timeval shortened{0, 300000};
        clnt_control(qv::GetRpcClient(handle), CLSET_TIMEOUT, reinterpret_cast<char*>(&shortened));
    }
    void TearDown() override {
        FreeList();
        if (handle == nullptr) return;
        svc.Reset(LOGOUT);
        if (qvDisconnect(&handle) != 0) {
            clnt_destroy(qv::GetRpcClient(handle));
            qvFreeHandle(&handle);
        }
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
