// The encoding rules of the wire, byte by byte: wide strings with their
// terminator, object references, hypers, bytes widened to units. The field
// order of every record is frozen by protocol.snapshot, the procedure
// numbers by the procedure table's static checks below; every reply record
// the library reads is decoded whole and cut anywhere by the table of
// functions' tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <type_traits>
#include <vector>

#include "support/test_service.h"

namespace {

using qvtest::Bytes;

std::string Hex(const Bytes& b) {
    std::string s;
    for (std::size_t i = 0; i < b.size(); ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", b[i]);
        s += (i != 0 && i % 4 == 0 ? " " : "") + std::string(two);
    }
    return s;
}

template <class T>
std::string Encoded(bool_t (*filter)(XDR*, T*), const T& record) {
    return Hex(qvtest::Encode(reinterpret_cast<xdrproc_t>(filter), &record));
}

// Wide strings under construction, terminated unless told.
class Texts {
  public:
    RpcWString operator()(std::u16string_view s) {
        std::vector<RpcWChar>& units = texts_.emplace_back(s.begin(), s.end());
        units.push_back(0);
        return {static_cast<u_int>(units.size()), units.data()};
    }

  private:
    std::deque<std::vector<RpcWChar>> texts_;
};

static_assert(qv::wire::kProcCount == 115);
static_assert(std::is_same_v<qv::wire::Proc<1>::Arg, RpcLogin>);
static_assert(std::is_same_v<qv::wire::Proc<34>::Arg, qv::wire::NoRecord>);
static_assert(std::is_same_v<qv::wire::Proc<GET_DISK_LIST>::Res, RpcDiskList>);
static_assert(qv::wire::Proc<ALLOC_PARTITION_FOR_DISK>::kNumber == 114);

TEST(Wire, WideStringCountsItsTerminator) {
    Texts t;
    EXPECT_EQ(Encoded(xdr_RpcWString, t(u"ab")), "00000003 00000061 00000062 00000000");
    EXPECT_EQ(Encoded(xdr_RpcWString, t(u"")), "00000001 00000000");
    EXPECT_EQ(Encoded(xdr_RpcWString, RpcWString{}), "00000000");  // an omitted text
    EXPECT_EQ(Encoded(xdr_RpcWString, t(u"\u00E9\uFFFF")), "00000003 000000E9 0000FFFF 00000000");
}

TEST(Wire, ObjectRefAndLoginAreByteExact) {
    Texts t;
    EXPECT_EQ(Encoded(xdr_RpcObjectRef, RpcObjectRef{0, t(u""), 0, 0x0A0B0C0D}),
              "00000000 00000001 00000000 00000000 0A0B0C0D");
    EXPECT_EQ(Encoded(xdr_RpcLogin, RpcLogin{t(u"h"), t(u""), t(u"x")}),
              "00000002 00000068 00000000 00000001 00000000 00000002 00000078 00000000");
}

TEST(Wire, HardwareAddressIsSixWidenedBytes) {
    const RpcPxeBootRequest req{0x1234, 1, {0x00, 0x1B, 0x21, 0xAB, 0xCD, 0xEF}};
    EXPECT_EQ(Encoded(xdr_RpcPxeBootRequest, req),
              "00001234 00000001 00000000 0000001B 00000021 000000AB 000000CD 000000EF");
}

TEST(Wire, ByteArrayTakesOneUnitPerByte) {
    unsigned char data[] = {0xF8, 0x01, 0x7F};
    EXPECT_EQ(Encoded(xdr_RpcProbeData, RpcProbeData{7, {0, data}}), "00000007 00000000");
    EXPECT_EQ(Encoded(xdr_RpcProbeData, RpcProbeData{7, {3, data}}),
              "00000007 00000003 000000F8 00000001 0000007F");
}

TEST(Wire, HyperIsEightBytesBigEndianSigned) {
    const RpcIoCounters io{0x0102030405060708, -2, INT64_MIN, INT64_MAX, 0x100000000};
    const Bytes wire = qvtest::Encode(reinterpret_cast<xdrproc_t>(xdr_RpcIoCounters), &io);
    EXPECT_EQ(Hex(wire),
              "01020304 05060708 FFFFFFFF FFFFFFFE 80000000 00000000 7FFFFFFF FFFFFFFF "
              "00000001 00000000");
    RpcIoCounters back{};
    ASSERT_TRUE(qvtest::DecodeInto(reinterpret_cast<xdrproc_t>(xdr_RpcIoCounters), wire, &back));
    EXPECT_EQ(back.Bytes2, -2);
    EXPECT_EQ(back.Count1, INT64_MIN);
}

}  // namespace
