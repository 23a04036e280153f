// Freezes the wire: the shared forms byte by byte, a handful of family
// records against their committed bytes (decoded back, refused when cut
// anywhere), and the procedure table derived from quarvane.x. The field
// order of every record is frozen by protocol.snapshot.
//
// Expected bytes are written as XDR units: 8 hex digits are one unit, 16 one
// hyper; "text" is a wide string counted with its terminator.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "support/test_service.h"

namespace {

using qvtest::Bytes;

Bytes WireBytes(std::string_view text) {
    Bytes out;
    const auto unit = [&out](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(v >> shift));
    };
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
        } else if (text[i] == '"') {
            const std::size_t end = text.find('"', i + 1);
            unit(static_cast<std::uint32_t>(end - i));  // the units and the terminator
            for (char c : text.substr(i + 1, end - i - 1)) unit(static_cast<uint8_t>(c));
            unit(0);
            i = end + 1;
        } else {
            const std::size_t end = std::min(text.find(' ', i), text.size());
            const std::string digits(text.substr(i, end - i));
            EXPECT_TRUE(digits.size() == 8 || digits.size() == 16) << digits;
            const std::uint64_t v = std::stoull(digits, nullptr, 16);
            if (digits.size() == 16) unit(static_cast<std::uint32_t>(v >> 32));
            unit(static_cast<std::uint32_t>(v));
            i = end;
        }
    }
    return out;
}

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
Bytes Encode(bool_t (*filter)(XDR*, T*), const T& record) {
    return qvtest::Encode(reinterpret_cast<xdrproc_t>(filter), &record);
}

// Strings and one-element arrays of records under construction.
class Arena {
  public:
    RpcWString Str(std::u16string_view s, bool terminated = true) {
        std::vector<RpcWChar>& units = texts_.emplace_back(s.begin(), s.end());
        if (terminated) units.push_back(0);
        return {static_cast<u_int>(units.size()), units.data()};
    }
    RpcObjectRef Ref(std::u16string_view name, u_int number, RpcToken token = 0) {
        return {0, Str(name), number, token};
    }
    template <class T>
    T* One(const T& element) {
        auto kept = std::make_shared<T>(element);
        kept_.push_back(kept);
        return kept.get();
    }

  private:
    std::deque<std::vector<RpcWChar>> texts_;
    std::deque<std::shared_ptr<void>> kept_;
};

constexpr RpcToken kToken = 0x1234;

TEST(Wire, WideStringCountsItsTerminator) {
    Arena a;
    EXPECT_EQ(Encode(xdr_RpcWString, a.Str(u"ab")),
              (Bytes{0, 0, 0, 3, 0, 0, 0, 0x61, 0, 0, 0, 0x62, 0, 0, 0, 0}));
    EXPECT_EQ(Encode(xdr_RpcWString, a.Str(u"")), (Bytes{0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(Encode(xdr_RpcWString, RpcWString{}), (Bytes{0, 0, 0, 0}));  // omitted text
    EXPECT_EQ(Hex(Encode(xdr_RpcWString, a.Str(u"\u00E9\uFFFF"))),
              "00000003 000000E9 0000FFFF 00000000");
}

TEST(Wire, ObjectRefAndLoginAreByteExact) {
    Arena a;
    EXPECT_EQ(Hex(Encode(xdr_RpcObjectRef, a.Ref(u"", 0, 0x0A0B0C0D))),
              "00000000 00000001 00000000 00000000 0A0B0C0D");
    const RpcLogin login{a.Str(u"h"), a.Str(u""), a.Str(u"x")};
    EXPECT_EQ(Hex(Encode(xdr_RpcLogin, login)),
              "00000002 00000068 00000000 00000001 00000000 00000002 00000078 00000000");
}

TEST(Wire, HardwareAddressIsSixWidenedBytes) {
    RpcPxeBootRequest req{kToken, 1, {0x00, 0x1B, 0x21, 0xAB, 0xCD, 0xEF}};
    EXPECT_EQ(Hex(Encode(xdr_RpcPxeBootRequest, req)),
              "00001234 00000001 00000000 0000001B 00000021 000000AB 000000CD 000000EF");
}

TEST(Wire, ByteArrayTakesOneUnitPerByte) {
    unsigned char data[] = {0xF8, 0x01, 0x7F};
    const std::pair<u_int, const char*> rows[] = {
        {0, "00000007 00000000"},
        {1, "00000007 00000001 000000F8"},
        {3, "00000007 00000003 000000F8 00000001 0000007F"},
    };
    for (const auto& [n, expected] : rows) {
        EXPECT_EQ(Hex(Encode(xdr_RpcProbeData, RpcProbeData{7, {n, data}})), expected);
    }
}

TEST(Wire, HyperIsEightBytesBigEndianSigned) {
    const RpcIoCounters io{0x0102030405060708, -2, INT64_MIN, INT64_MAX, 0x100000000};
    const Bytes wire = Encode(xdr_RpcIoCounters, io);
    EXPECT_EQ(Hex(wire),
              "01020304 05060708 FFFFFFFF FFFFFFFE 80000000 00000000 7FFFFFFF FFFFFFFF "
              "00000001 00000000");
    RpcIoCounters back{};
    ASSERT_TRUE(qvtest::DecodeInto(reinterpret_cast<xdrproc_t>(xdr_RpcIoCounters), wire, &back));
    EXPECT_EQ(back.Bytes2, -2);
    EXPECT_EQ(back.Count1, INT64_MIN);
}

// ---------------------------------------------------------------------------
// One sample record per family shape: requests with nested references,
// nested arrays, hypers, a text without its terminator.

struct Sample {
    const char* record;
    xdrproc_t filter;
    std::size_t size;
    std::function<Bytes()> encode;
    const char* wire;
};

void PrintTo(const Sample& s, std::ostream* os) { *os << s.record; }

template <class T>
Sample Make(const char* record, bool_t (*filter)(XDR*, T*), void (*fill)(T&, Arena&),
            const char* wire) {
    return {record, reinterpret_cast<xdrproc_t>(filter), sizeof(T),
            [filter, fill] {
                Arena a;
                T rec{};
                fill(rec, a);
                return Encode(filter, rec);
            },
            wire};
}

// Decodes into zeroed storage of the record's size and encodes again.
struct Decoded {
    bool ok;
    Bytes again;
};
Decoded DecodeAndEncode(const Sample& s, const Bytes& wire) {
    std::vector<std::uint64_t> storage(s.size / 8 + 1);  // zeroed, aligned for hypers
    if (!qvtest::DecodeInto(s.filter, wire, storage.data())) return {false, {}};
    Decoded d{true, qvtest::Encode(s.filter, storage.data())};
    xdr_free(s.filter, reinterpret_cast<char*>(storage.data()));
    return d;
}

const Sample kSamples[] = {
    Make<RpcDiskListRequest>(
        "RpcDiskListRequest", xdr_RpcDiskListRequest,
        [](RpcDiskListRequest& r, Arena& a) {
            r = {6, a.Ref(u"D", 3), 0x800000FF, kToken};
        },
        "00000006 00000000 \"D\" 00000003 00000000 800000FF 00001234"),
    Make<RpcDiskList>(
        "RpcDiskList", xdr_RpcDiskList,
        [](RpcDiskList& r, Arena& a) {
            RpcDiskRecord d{};
            d.Number = 2;
            d.Flags = 0x80000000;
            d.Attribute = -1;
            d.Name = a.Str(u"D2");
            d.Size = 0x1000;
            RpcPartitionRecord p{};
            p.Number = 1;
            p.Type = 0x42;
            p.Letters = a.Str(u"C:");
            p.Label = a.Str(u"");
            p.UsedSize = 0x400;
            d.Partitions = {1, a.One(p)};
            d.Text1 = a.Str(u"t");
            RpcDiskProperties pr{};
            pr.P0 = 0x30;
            pr.P6 = 0x36;
            pr.Text1 = a.Str(u"p");
            d.Properties = {1, a.One(pr)};
            RpcDiskDescriptor de{};
            de.Value64 = 0x100000002;
            d.Descriptors = {1, a.One(de)};
            r = {0, 1, {1, a.One(d)}};
        },
        "00000000 00000001 00000001 "
        "00000002 80000000 00000000 FFFFFFFF 00000000 00000000 00000000 \"D2\" "
        "00000000 00000000 00001000 00000000 00000000 "
        "00000001 00000001 00000000 00000000 00000042 \"C:\" \"\" 00000000 00000000 "
        "00000000 00000000 00000400 00000000 "
        "00000000 \"t\" 00000000 "
        "00000001 00000030 00000000 00000000 00000000 00000000 00000000 00000036 \"p\" 00000000 "
        "00000001 00000000 00000000 00000000 00000000 00000000 0000000100000002"),
    Make<RpcVerifyProgress>(
        "RpcVerifyProgress", xdr_RpcVerifyProgress,
        [](RpcVerifyProgress& r, Arena&) {
            r = {0x6FFC0010, 2,    -1,   0x100000000, 0x800, 0x1000, 7,
                 0x61,       0x62, 0x63, 0x64,        0x65,  0x66};
        },
        "6FFC0010 00000002 FFFFFFFFFFFFFFFF 0000000100000000 0000000000000800 "
        "0000000000001000 0000000000000007 00000061 00000062 00000063 00000064 "
        "00000065 00000066"),
    Make<RpcDataTraceConfig>(
        "RpcDataTraceConfig", xdr_RpcDataTraceConfig,
        [](RpcDataTraceConfig& r, Arena& a) {
            r = {0, kToken, {1, a.One(a.Ref(u"D", 1))}, -1, a.Str(u"t"), 5};
        },
        "00000000 00001234 00000001 00000000 \"D\" 00000001 00000000 FFFFFFFF \"t\" 00000005"),
    Make<RpcEventMessage>(
        "RpcEventMessage", xdr_RpcEventMessage,
        [](RpcEventMessage& r, Arena& a) {
            r = {kToken, 4, 0x400003E8, a.Str(u"D"), 1, a.Str(u"hi", false)};
        },
        "00001234 00000004 400003E8 \"D\" 00000001 00000002 00000068 00000069"),
};

class WireRecord : public ::testing::TestWithParam<Sample> {};

TEST_P(WireRecord, EncodesByteExactAndDecodesBack) {
    const Bytes wire = WireBytes(GetParam().wire);
    EXPECT_EQ(Hex(GetParam().encode()), Hex(wire));
    const Decoded d = DecodeAndEncode(GetParam(), wire);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(Hex(d.again), Hex(wire));
}

// Cut anywhere, a record fails to decode and gives back whatever the
// decoder had allocated (the sanitizer checks).
TEST_P(WireRecord, EveryCutFailsCleanly) {
    const Bytes wire = WireBytes(GetParam().wire);
    for (std::size_t cut = 0; cut < wire.size(); ++cut) {
        EXPECT_FALSE(DecodeAndEncode(GetParam(), Bytes(wire.begin(), wire.begin() + cut)).ok)
            << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, WireRecord, ::testing::ValuesIn(kSamples),
                         [](const auto& info) { return std::string(info.param.record); });

// ---------------------------------------------------------------------------
// The procedure table derived from the declaration.

static_assert(qv::wire::kProcCount == 115);
static_assert(std::is_same_v<qv::wire::Proc<1>::Arg, RpcLogin>);
static_assert(std::is_same_v<qv::wire::Proc<34>::Arg, qv::wire::NoRecord>);

TEST(Wire, ProcTableIsIndexedByProcedureNumber) {
    for (unsigned n = 0; n < qv::wire::kProcCount; ++n) {
        const qv::wire::ProcInfo& p = qv::wire::ProcTable(n);
        EXPECT_EQ(p.number, n);
        ASSERT_NE(p.name, nullptr);
        EXPECT_NE(p.arg_filter, nullptr) << p.name;
        EXPECT_NE(p.res_filter, nullptr) << p.name;
    }
    const struct {
        unsigned number;
        const char *name, *arg, *res;
    } rows[] = {
        {0, "NULLPROC", "void", "void"},
        {1, "LOGIN", "RpcLogin", "RpcTokenRecord"},
        {3, "GET_DISK_LIST", "RpcDiskListRequest", "RpcDiskList"},
        {34, "GET_TRACE_LEVEL", "void", "RpcStatus"},
        {44, "CANCEL_VERIDY_DATA", "RpcObjectRef", "RpcStatus"},
        {114, "ALLOC_PARTITION_FOR_DISK", "RpcPartitionAlloc", "RpcStatus"},
    };
    for (const auto& r : rows) {
        const qv::wire::ProcInfo& p = qv::wire::ProcTable(r.number);
        EXPECT_STREQ(p.name, r.name);
        EXPECT_STREQ(p.arg_name, r.arg) << r.name;
        EXPECT_STREQ(p.res_name, r.res) << r.name;
    }
    EXPECT_EQ(qv::wire::ProcTable(1).res_filter, reinterpret_cast<xdrproc_t>(xdr_RpcTokenRecord));
    EXPECT_EQ(qv::wire::ProcTable(1).arg_size, sizeof(RpcLogin));
}

}  // namespace
