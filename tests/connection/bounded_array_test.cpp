// Arrays in replies grow with the elements that actually arrive, whatever
// count precedes them.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "support/test_service.h"

namespace {

qvtest::Bytes Words(std::initializer_list<uint32_t> words) {
    qvtest::Bytes out;
    for (uint32_t w : words) {
        const uint32_t be = htonl(w);
        const auto* p = reinterpret_cast<const uint8_t*>(&be);
        out.insert(out.end(), p, p + 4);
    }
    return out;
}

const xdrproc_t kDiskList = reinterpret_cast<xdrproc_t>(xdr_RpcDiskList);
const xdrproc_t kLogin = reinterpret_cast<xdrproc_t>(xdr_RpcLogin);

TEST(BoundedArray, AbsurdCountsFailWithoutTakingTheirSize) {
    // Counts that would ask for gigabytes up front, followed by almost nothing.
    const uint32_t counts[] = {0x7FFFFFFFu, 0x40000000u, 0x10000001u, 0xFFFFFFFFu};
    for (uint32_t count : counts) {
        SCOPED_TRACE(count);
        RpcLogin login{};
        EXPECT_FALSE(qvtest::DecodeInto(kLogin, Words({count, 'a', 'b'}), &login));
        EXPECT_EQ(login.host.RpcWString_val, nullptr);  // released on failure

        RpcDiskList list{};
        EXPECT_FALSE(qvtest::DecodeInto(kDiskList, Words({0, 5, count, 1, 0}), &list));
        EXPECT_EQ(list.Disks.Disks_val, nullptr);
    }
}

TEST(BoundedArray, LongArraysDecodeWholeAcrossGrowthSteps) {
    // A wide string of 100000 units: many doublings of the first allocation.
    constexpr uint32_t kUnits = 100000;
    qvtest::Bytes bytes = Words({kUnits + 1});
    for (uint32_t i = 0; i < kUnits; ++i) {
        const qvtest::Bytes unit = Words({u'a' + i % 26});
        bytes.insert(bytes.end(), unit.begin(), unit.end());
    }
    const qvtest::Bytes tail = Words({0, 1, 0, 1, 0});  // terminator, then two empty strings
    bytes.insert(bytes.end(), tail.begin(), tail.end());

    qvtest::Decoded<RpcLogin> login(kLogin, bytes);
    ASSERT_EQ(login->host.RpcWString_len, kUnits + 1);
    for (uint32_t i = 0; i < kUnits; ++i) {
        ASSERT_EQ(login->host.RpcWString_val[i], u'a' + i % 26) << i;
    }
    EXPECT_EQ(login->host.RpcWString_val[kUnits], 0u);
    // And it encodes back to the same bytes.
    EXPECT_EQ(qvtest::Encode(kLogin, &*login), bytes);
}

TEST(BoundedArray, CutInsideTheElementsReleasesWhatWasDecoded) {
    // Two disk records announced; the second one ends inside its name.
    RpcDiskRecord disk{};
    u_short name[] = {u'D', u'1', 0};
    disk.Name = RpcWString{3, name};
    RpcDiskList one{};
    one.DiskCount = 2;
    one.Disks.Disks_len = 1;
    one.Disks.Disks_val = &disk;
    qvtest::Bytes bytes = qvtest::Encode(kDiskList, &one);
    ASSERT_FALSE(bytes.empty());
    bytes[11] = 2;  // the array count: 2 records
    const qvtest::Bytes second =
        qvtest::Encode(reinterpret_cast<xdrproc_t>(xdr_RpcDiskRecord), &disk);
    bytes.insert(bytes.end(), second.begin(), second.begin() + 40);

    RpcDiskList list{};
    EXPECT_FALSE(qvtest::DecodeInto(kDiskList, bytes, &list));  // ASan: nothing leaks
    EXPECT_EQ(list.Disks.Disks_val, nullptr);
}

}  // namespace
