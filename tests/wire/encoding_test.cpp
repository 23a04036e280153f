// Freezes the wire: byte-exact encodings of the primitive forms and of a
// sample of every family's records, decode round trips, decoding of cut or
// lying buffers, and the procedure table derived from quarvane.x.
//
// Expected encodings are written as XDR units: 8 hex digits are one 4-byte
// unit, 16 hex digits one hyper; "text" is a wide string counted with its
// terminator (count, then one unit per code unit, then the zero unit). The
// string forms themselves are pinned byte by byte in the first tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "proc_table.h"
#include "quarvane.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class T>
using Filter = bool_t (*)(XDR*, T*);

// The expected encoding, from the unit notation described above.
Bytes WireBytes(std::string_view text) {
    Bytes out;
    auto unit = [&out](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(v >> shift));
    };
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\n') {
            ++i;
        } else if (text[i] == '"') {
            const std::size_t end = text.find('"', i + 1);
            const std::string_view s = text.substr(i + 1, end - i - 1);
            unit(static_cast<std::uint32_t>(s.size() + 1));
            for (char c : s) unit(static_cast<std::uint8_t>(c));
            unit(0);
            i = end + 1;
        } else {
            std::size_t end = text.find_first_of(" \n", i);
            if (end == std::string_view::npos) end = text.size();
            const std::string digits(text.substr(i, end - i));
            if (digits.size() != 8 && digits.size() != 16) {
                ADD_FAILURE() << "bad unit '" << digits << "'";
                return out;
            }
            const std::uint64_t v = std::stoull(digits, nullptr, 16);
            if (digits.size() == 16) unit(static_cast<std::uint32_t>(v >> 32));
            unit(static_cast<std::uint32_t>(v));
            i = end;
        }
    }
    return out;
}

std::string Hex(const Bytes& b) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i != 0 && i % 4 == 0) s += ' ';
        s += kDigits[b[i] >> 4];
        s += kDigits[b[i] & 15];
    }
    return s;
}

template <class T>
Bytes Encode(Filter<T> filter, T& rec) {
    std::vector<char> buf(1 << 16);
    XDR x;
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_ENCODE);
    const bool ok = filter(&x, &rec) != 0;
    const u_int used = xdr_getpos(&x);
    xdr_destroy(&x);
    EXPECT_TRUE(ok) << "encoding failed";
    return Bytes(buf.begin(), buf.begin() + used);
}

// Decodes from a buffer of exactly the given bytes, so that any read past
// them is the sanitizer's business as well as the decoder's.
template <class T>
bool Decode(Filter<T> filter, std::span<const std::uint8_t> in, T& rec, u_int* used) {
    std::vector<char> buf(in.begin(), in.end());
    XDR x;
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_DECODE);
    const bool ok = filter(&x, &rec) != 0;
    *used = xdr_getpos(&x);
    xdr_destroy(&x);
    return ok;
}

template <class T>
void Release(Filter<T> filter, T& rec) {
    xdr_free(reinterpret_cast<xdrproc_t>(filter), &rec);
}

// Keeps the strings and arrays of a record under construction alive until
// it has been encoded.
class Arena {
  public:
    // A string counted with its terminating zero, as strings travel.
    RpcWString Str(std::u16string_view s) { return Units(s, true); }
    // A string counted without the terminator (the two event-log texts).
    RpcWString Bare(std::u16string_view s) { return Units(s, false); }

    RpcObjectRef Ref(std::u16string_view name, u_int number, RpcToken token = 0) {
        RpcObjectRef r{};
        r.name = Str(name);
        r.number = number;
        r.token = token;
        return r;
    }

    // Gives a variable-length array field n zeroed elements and returns them.
    template <class A>
    auto Array(A& arr, std::size_t n) {
        auto& [len, val] = arr;
        using T = std::remove_pointer_t<std::remove_reference_t<decltype(val)>>;
        auto store = std::make_shared<std::vector<T>>(n);
        kept_.push_back(store);
        len = static_cast<u_int>(n);
        val = store->data();
        return val;
    }

  private:
    RpcWString Units(std::u16string_view s, bool terminated) {
        auto store = std::make_shared<std::vector<RpcWChar>>(s.begin(), s.end());
        if (terminated) store->push_back(0);
        kept_.push_back(store);
        return RpcWString{static_cast<u_int>(store->size()), store->data()};
    }

    std::vector<std::shared_ptr<void>> kept_;
};

template <class A>
auto Elements(const A& arr) {
    const auto& [len, val] = arr;
    return std::span(val, len);
}

std::u16string Text(const RpcWString& s) {
    std::u16string out;
    for (RpcWChar c : Elements(s)) out += static_cast<char16_t>(c);
    return out;
}

const unsigned char kMac[6] = {0x00, 0x1B, 0x21, 0xAB, 0xCD, 0xEF};
constexpr RpcToken kToken = 0x1234;

// ---------------------------------------------------------------------------
// Primitive forms, byte by byte.

TEST(Wire, WideStringCountsItsTerminator) {
    Arena a;
    RpcWString ab = a.Str(u"ab");
    const Bytes expected = {0, 0, 0, 3, 0, 0, 0, 0x61, 0, 0, 0, 0x62, 0, 0, 0, 0};
    EXPECT_EQ(Encode(xdr_RpcWString, ab), expected);

    RpcWString empty = a.Str(u"");
    EXPECT_EQ(Encode(xdr_RpcWString, empty), (Bytes{0, 0, 0, 1, 0, 0, 0, 0}));

    RpcWString none{};  // an optional text left out: count 0, no units
    EXPECT_EQ(Encode(xdr_RpcWString, none), (Bytes{0, 0, 0, 0}));

    RpcWString wide = a.Str(u"\u00E9\uFFFF");  // units are 16 bits, zero-extended
    EXPECT_EQ(Hex(Encode(xdr_RpcWString, wide)), "00000003 000000E9 0000FFFF 00000000");
}

TEST(Wire, ObjectRefAndLoginAreByteExact) {
    Arena a;
    RpcObjectRef ref = a.Ref(u"", 0, 0x0A0B0C0D);
    const Bytes expected = {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0x0B, 0x0C, 0x0D};
    EXPECT_EQ(Encode(xdr_RpcObjectRef, ref), expected);

    RpcLogin login{};
    login.host = a.Str(u"h");
    login.login1 = a.Str(u"");
    login.login2 = a.Str(u"x");
    const Bytes login_bytes = {0, 0, 0, 2, 0, 0, 0, 0x68, 0, 0, 0, 0,    0, 0, 0, 1,
                               0, 0, 0, 0, 0, 0, 0, 2,    0, 0, 0, 0x78, 0, 0, 0, 0};
    EXPECT_EQ(Encode(xdr_RpcLogin, login), login_bytes);
}

TEST(Wire, HardwareAddressIsSixWidenedBytes) {
    RpcPxeBootRequest req{};
    req.token = kToken;
    req.driversInstalled = 1;
    std::memcpy(req.macAddress, kMac, sizeof kMac);
    const Bytes bytes = Encode(xdr_RpcPxeBootRequest, req);
    ASSERT_EQ(bytes.size(), 8u + 24u);
    const Bytes address(bytes.begin() + 8, bytes.end());
    EXPECT_EQ(address, (Bytes{0, 0, 0, 0x00, 0, 0, 0, 0x1B, 0, 0, 0, 0x21,
                              0, 0, 0, 0xAB, 0, 0, 0, 0xCD, 0, 0, 0, 0xEF}));
}

TEST(Wire, ByteArrayTakesOneUnitPerByte) {
    for (std::size_t n : {0u, 1u, 3u, 8u}) {
        SCOPED_TRACE(n);
        Arena a;
        RpcProbeData data{};
        unsigned char* bytes = a.Array(data.data, n);
        for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(0xF8 + i);
        const Bytes wire = Encode(xdr_RpcProbeData, data);
        ASSERT_EQ(wire.size(), 4u + 4u + 4u * n);  // status, count, n units
        EXPECT_EQ(wire[7], n);
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(wire[8 + 4 * i], 0);
            EXPECT_EQ(wire[8 + 4 * i + 3], static_cast<unsigned char>(0xF8 + i));
        }
    }
}

TEST(Wire, HyperIsEightBytesBigEndianSigned) {
    RpcIoCounters io{};
    io.Bytes1 = 0x0102030405060708;
    io.Bytes2 = -2;
    io.Count1 = INT64_MIN;
    io.Count2 = INT64_MAX;
    io.Count3 = 0x100000000;
    const Bytes wire = Encode(xdr_RpcIoCounters, io);
    EXPECT_EQ(Hex(wire),
              "01020304 05060708 FFFFFFFF FFFFFFFE 80000000 00000000 7FFFFFFF FFFFFFFF "
              "00000001 00000000");

    RpcIoCounters back{};
    u_int used = 0;
    ASSERT_TRUE(Decode(xdr_RpcIoCounters, std::span(wire), back, &used));
    EXPECT_EQ(back.Bytes2, -2);
    EXPECT_EQ(back.Count1, INT64_MIN);
}

// ---------------------------------------------------------------------------
// One sample per record family, built field by field by name.

struct DecodeResult {
    bool ok = false;
    std::size_t used = 0;
    Bytes again;  // the decoded record encoded once more
};

struct Sample {
    std::string record;
    std::string wire;
    std::function<Bytes()> encode;
    std::function<DecodeResult(std::span<const std::uint8_t>)> decode;
};

// Names the record in test output instead of dumping the closure bytes.
void PrintTo(const Sample& s, std::ostream* os) { *os << s.record; }

template <class T, class Fill>
Sample Make(const char* record, Filter<T> filter, Fill fill, const char* wire) {
    Sample s;
    s.record = record;
    s.wire = wire;
    s.encode = [filter, fill] {
        Arena a;
        T rec{};
        fill(rec, a);
        return Encode(filter, rec);
    };
    s.decode = [filter](std::span<const std::uint8_t> in) {
        DecodeResult r;
        T rec{};
        u_int used = 0;
        r.ok = Decode(filter, in, rec, &used);
        r.used = used;
        if (r.ok) r.again = Encode(filter, rec);
        Release(filter, rec);
        return r;
    };
    return s;
}

std::vector<Sample> Samples() {
    std::vector<Sample> s;

    // Shared records.
    s.push_back(Make(
        "RpcObjectRef", xdr_RpcObjectRef,
        [](RpcObjectRef& r, Arena& a) { r = a.Ref(u"D1", 2, 0x0A0B0C0D); },
        "00000000 \"D1\" 00000002 0A0B0C0D"));
    s.push_back(Make(
        "RpcStatus", xdr_RpcStatus,
        [](RpcStatus& r, Arena&) {
            r.status = 0x6FFC0010;
            r.value = 7;
            r.token = kToken;
        },
        "6FFC0010 00000007 00001234"));
    s.push_back(Make(
        "RpcTokenRecord", xdr_RpcTokenRecord,
        [](RpcTokenRecord& r, Arena&) {
            r.status = 5;
            r.token = kToken;
        },
        "00000005 00001234"));
    s.push_back(Make(
        "RpcLogin", xdr_RpcLogin,
        [](RpcLogin& r, Arena& a) {
            r.host = a.Str(u"h1");
            r.login1 = a.Str(u"a");
            r.login2 = a.Str(u"");
        },
        "\"h1\" \"a\" \"\""));

    // Disks.
    s.push_back(Make(
        "RpcDiskListRequest", xdr_RpcDiskListRequest,
        [](RpcDiskListRequest& r, Arena& a) {
            r.ListCode = 6;
            r.Object = a.Ref(u"D", 3);
            r.Options = 0x800000FF;
            r.token = kToken;
        },
        "00000006 00000000 \"D\" 00000003 00000000 800000FF 00001234"));
    s.push_back(Make(
        "RpcDiskList", xdr_RpcDiskList,
        [](RpcDiskList& r, Arena& a) {
            r.DiskCount = 1;
            RpcDiskRecord& d = a.Array(r.Disks, 1)[0];
            d.Number = 2;
            d.Flags = 0x80000000;
            d.Excluded = 0x0E;
            d.Attribute = -1;
            d.Attribute1 = 0x11;
            d.Attribute2 = 0x12;
            d.Attribute3 = 0x13;
            d.Name = a.Str(u"D2");
            d.Marker = 1;
            d.DiskEntryExcluded = 0x0F;
            d.Size = 0x1000;
            d.Measure = 0x200;
            d.Attribute4 = 0x14;
            RpcPartitionRecord& p = a.Array(d.Partitions, 1)[0];
            p.Number = 1;
            p.Excluded = 0x2E;
            p.Attribute = 0x21;
            p.Type = 0x42;
            p.Letters = a.Str(u"C:");
            p.Label = a.Str(u"");
            p.Extra1 = 0x22;
            p.Size = 0x800;
            p.Measure = 0x200;
            p.Extra2 = 0x23;
            p.UsedSize = 0x400;
            p.Attribute2 = 0x24;
            d.Text1 = a.Str(u"t");
            d.Text2 = a.Str(u"");
            RpcDiskProperties& pr = a.Array(d.Properties, 1)[0];
            pr.P0 = 0x30;
            pr.P1 = 0x31;
            pr.P2 = 0x32;
            pr.P3 = 0x33;
            pr.P4 = 0x34;
            pr.P5 = 0x35;
            pr.P6 = 0x36;
            pr.Text1 = a.Str(u"p");
            RpcDiskDescriptor& de = a.Array(d.Descriptors, 1)[0];
            de.Text1 = a.Str(u"a");
            de.Text4 = a.Str(u"");
            de.Value = 0x40;
            de.Value64 = 0x100000002;
        },
        "00000000 00000001 00000001 "
        "00000002 80000000 0000000E FFFFFFFF 00000011 00000012 00000013 \"D2\" "
        "00000001 0000000F 00001000 00000200 00000014 "
        "00000001 00000001 0000002E 00000021 00000042 \"C:\" \"\" 00000022 00000800 "
        "00000200 00000023 00000400 00000024 "
        "00000000 \"t\" \"\" "
        "00000001 00000030 00000031 00000032 00000033 00000034 00000035 00000036 \"p\" 00000000 "
        "00000001 \"a\" 00000000 00000000 \"\" 00000040 0000000100000002"));

    // Disk maintenance.
    s.push_back(Make(
        "RpcDiskMaintenance", xdr_RpcDiskMaintenance,
        [](RpcDiskMaintenance& r, Arena& a) {
            r.token = kToken;
            a.Array(r.Objects, 1)[0] = a.Ref(u"D", 1);
            r.Operation = 2;
            r.Parameter = 0x50;
            r.Value3 = 0x53;
        },
        "00001234 00000001 00000000 \"D\" 00000001 00000000 00000002 00000050 "
        "00000053 00000000 00000000"));
    s.push_back(Make(
        "RpcConflictQuery", xdr_RpcConflictQuery,
        [](RpcConflictQuery& r, Arena& a) {
            r.token = kToken;
            r.Flag = 1;
            r.First = a.Ref(u"A", 1);
            r.Second = a.Ref(u"B", 0);
        },
        "00001234 00000001 00000000 \"A\" 00000001 00000000 "
        "00000000 \"B\" 00000000 00000000 00000000"));
    s.push_back(Make(
        "RpcConflictList", xdr_RpcConflictList,
        [](RpcConflictList& r, Arena& a) {
            RpcConflict& c = a.Array(r.Conflicts, 1)[0];
            c.Object = a.Ref(u"A", 4);
            c.Value = 9;
            c.Text = a.Str(u"z");
        },
        "00000000 00000001 00000000 \"A\" 00000004 00000000 00000009 \"z\""));

    // Mirrors.
    s.push_back(Make(
        "RpcMirrorConfig", xdr_RpcMirrorConfig,
        [](RpcMirrorConfig& r, Arena& a) {
            a.Array(r.Primaries, 1)[0] = a.Ref(u"P", 1);
            a.Array(r.Mirrors, 1)[0] = a.Ref(u"M", 2);
            r.Setting1 = -2;
            r.Setting2 = 0x302;
            r.Setting3 = 0x303;
            r.MirrorKind = 2;
            r.ScheduleMode = 3;
            r.Text1 = a.Str(u"x");
            r.Text3 = a.Str(u"");
            RpcSnapshotSchedule& sc = a.Array(r.Schedules, 1)[0];
            sc.Spare1 = 0xE1;
            sc.GroupParam = 0x77;
            sc.Mode = 3;
            sc.Param1 = 0x101;
            sc.Spare2 = 0xE2;
            sc.Spare3 = 0xE3;
            sc.Spare4 = -4;
            sc.Param2 = 0x102;
            sc.Param3 = 0x103;
            sc.Param4 = 0x104;
            sc.Param5 = 0x105;
            sc.Param6 = 0x106;
            r.EnableOption1 = 0x201;
            r.EnableOption2 = 0x202;
            r.EnableOption3 = 0x203;
            r.EnableOption4 = 0x204;
            r.token = kToken;
            r.Setting4 = 0x304;
            r.Setting5 = 0x305;
            r.Setting6 = 0x306;
            r.Setting7 = 0x307;
            r.Setting8 = 0x308;
            r.Setting9 = 0x309;
            r.Setting10 = 0x30A;
            r.Setting11 = 0x30B;
            r.Setting12 = 0x30C;
            r.Setting13 = 0x30D;
            r.Setting14 = 0x30E;
            r.Switch1 = 0x501;
            r.Switch2 = 0x502;
            r.Limit = 0x400;
            r.Spare1 = 0xF1;
            r.Spare2 = 0xF2;
            r.Text4 = a.Str(u"y");
        },
        "00000000 00000001 00000000 \"P\" 00000001 00000000 00000001 00000000 \"M\" 00000002 "
        "00000000 FFFFFFFE 00000302 00000303 00000002 00000003 \"x\" 00000000 \"\" "
        "00000001 000000E1 00000077 00000003 00000101 000000E2 000000E3 FFFFFFFC 00000102 "
        "00000103 00000104 00000105 00000106 "
        "00000202 00000201 00000203 00001234 00000307 0000030C 00000308 00000502 00000304 "
        "00000204 00000501 00000305 00000306 00000400 0000030A 0000030B 000000F1 0000030D "
        "0000030E 000000F2 00000309 \"y\""));
    s.push_back(Make(
        "RpcConfigListQuery", xdr_RpcConfigListQuery,
        [](RpcConfigListQuery& r, Arena& a) {
            r.Kind = 1;
            r.token = kToken;
            a.Array(r.Objects, 1)[0] = a.Ref(u"P", 1);
            r.Name = a.Str(u"g");
        },
        "00000001 00001234 00000001 00000000 \"P\" 00000001 00000000 \"g\""));
    s.push_back(Make(
        "RpcVerifyRequest", xdr_RpcVerifyRequest,
        [](RpcVerifyRequest& r, Arena& a) {
            a.Array(r.Objects, 1)[0] = a.Ref(u"P", 1);
            r.Mode = 7;
            r.Option1 = 1;
            r.Option2 = -1;
            r.token = kToken;
        },
        "00000001 00000000 \"P\" 00000001 00000000 00000007 00000001 FFFFFFFF "
        "00001234"));
    s.push_back(Make(
        "RpcRestoreRequest", xdr_RpcRestoreRequest,
        [](RpcRestoreRequest& r, Arena& a) {
            r.Mode = -1;
            a.Array(r.Primaries, 1)[0] = a.Ref(u"P", 1);
            a.Array(r.Counterparts, 1)[0] = a.Ref(u"C", 2);
            r.Option1 = 0x11;
            r.Option2 = 0x12;
            r.token = kToken;
            r.Option3 = -3;
        },
        "FFFFFFFF 00000001 00000000 \"P\" 00000001 00000000 00000001 00000000 \"C\" "
        "00000002 00000000 00000011 00000012 00001234 FFFFFFFD"));
    s.push_back(Make(
        "RpcMirrorStats", xdr_RpcMirrorStats,
        [](RpcMirrorStats& r, Arena& a) {
            r.State = 5;
            r.Unread1 = 0xE1;
            r.Condition = 4;
            r.Amount1 = 0x200000000;
            r.Amount2 = 0x400;
            r.Unread2 = 0xE2;
            RpcIoCounters& io = a.Array(r.Io2, 1)[0];
            io.Bytes1 = 1;
            io.Bytes2 = 2;
            io.Count1 = 3;
            io.Count2 = 4;
            io.Count3 = 5;
            r.Value1 = 0x11;
            r.Value2 = 0x22;
            r.Value3 = 0x33;
            r.Value4 = 0x44;
            r.Value5 = 0x55;
            r.Value6 = 0x66;
            r.Divisor1 = 0xD1;
            r.Divisor2 = 0xD2;
            r.Unread3 = 0xE3;
            r.Unread4 = 0xE4;
            r.Unread5 = 0xE5;
            RpcProgress& p = a.Array(r.RollbackProgress, 1)[0];
            p.State = 2;
            p.Result = 1;
            p.DirtyData = 0x10;
            p.TotalDone = 0x20;
        },
        "00000000 00000005 000000E1 00000004 0000000200000000 0000000000000400 000000E2 "
        "00000000 00000001 0000000000000001 0000000000000002 0000000000000003 "
        "0000000000000004 0000000000000005 00000000 00000000 "
        "00000044 00000033 000000D2 00000055 000000E3 00000066 000000E4 000000D1 00000022 "
        "00000011 000000E5 "
        "00000000 00000000 00000001 00000000 00000002 00000001 00000010 00000020 00000000"));
    s.push_back(Make(
        "RpcVerifyProgress", xdr_RpcVerifyProgress,
        [](RpcVerifyProgress& r, Arena&) {
            r.status = 0x6FFC0010;
            r.State = 2;
            r.Amount0 = -1;
            r.Amount1 = 0x100000000;
            r.Amount2 = 0x800;
            r.Amount3 = 0x1000;
            r.Count = 7;
            r.Value1 = 0x61;
            r.Value2 = 0x62;
            r.Value3 = 0x63;
            r.Value4 = 0x64;
            r.Value5 = 0x65;
            r.Value6 = 0x66;
        },
        "6FFC0010 00000002 FFFFFFFFFFFFFFFF 0000000100000000 0000000000000800 "
        "0000000000001000 0000000000000007 00000061 00000062 00000063 00000064 "
        "00000065 00000066"));
    s.push_back(Make(
        "RpcDataTraceConfig", xdr_RpcDataTraceConfig,
        [](RpcDataTraceConfig& r, Arena& a) {
            r.token = kToken;
            a.Array(r.Objects, 1)[0] = a.Ref(u"D", 1);
            r.Option = -1;
            r.Text = a.Str(u"t");
            r.Count = 5;
        },
        "00000000 00001234 00000001 00000000 \"D\" 00000001 00000000 FFFFFFFF \"t\" "
        "00000005"));

    // Snapshots, Backlook views, partitions, notifications.
    s.push_back(Make(
        "RpcTakeSnapshot", xdr_RpcTakeSnapshot,
        [](RpcTakeSnapshot& r, Arena& a) {
            a.Array(r.Objects, 1)[0] = a.Ref(u"P", 0);
            r.Option = 3;
            r.Text = a.Str(u"");
            r.token = kToken;
        },
        "00000001 00000000 \"P\" 00000000 00000000 00000000 00000003 \"\" 00001234"));
    s.push_back(Make(
        "RpcSnapshotQuery", xdr_RpcSnapshotQuery,
        [](RpcSnapshotQuery& r, Arena& a) {
            r.GroupName = a.Str(u"G");
            r.SnapshotId = 9;
            r.Kind = 4;
            r.Param1 = 0x11;
            r.Param2 = 0x12;
            r.Param3 = 0x13;
            r.token = kToken;
        },
        "00000000 \"G\" 00000009 00000004 00000011 00000012 00000013 00001234"));
    s.push_back(Make(
        "RpcSnapshotList", xdr_RpcSnapshotList,
        [](RpcSnapshotList& r, Arena& a) {
            r.Count = 1;
            RpcSnapshotRecord& x = a.Array(r.Records, 1)[0];
            a.Array(x.Objects, 1)[0] = a.Ref(u"P", 1);
            x.SnapshotId = 9;
            x.HasView = 1;
            x.Value64 = -5;
            x.Text1 = a.Str(u"a");
            x.Text2 = a.Str(u"v");
            x.token = 0x77;
            x.Option = 2;
        },
        "00000000 00000001 00000001 00000001 00000000 \"P\" 00000001 00000000 "
        "00000009 00000001 FFFFFFFFFFFFFFFB \"a\" \"v\" 00000000 00000077 "
        "00000002"));
    s.push_back(Make(
        "RpcBacklookRequest", xdr_RpcBacklookRequest,
        [](RpcBacklookRequest& r, Arena& a) {
            a.Array(r.Objects, 1)[0] = a.Ref(u"P", 1);
            r.SnapshotId = 9;
            r.ViewName = a.Str(u"V:");
            r.token = kToken;
        },
        "00000001 00000000 \"P\" 00000001 00000000 00000009 \"V:\" 00001234"));
    s.push_back(Make(
        "RpcBacklookDiskQuery", xdr_RpcBacklookDiskQuery,
        [](RpcBacklookDiskQuery& r, Arena& a) {
            r.token = kToken;
            r.Name = a.Str(u"P");
            r.Number = 1;
            r.SnapshotId = 9;
            r.Param = 0x77;
        },
        "00001234 \"P\" 00000001 00000009 00000077"));
    s.push_back(Make(
        "RpcPartitionAlloc", xdr_RpcPartitionAlloc,
        [](RpcPartitionAlloc& r, Arena& a) {
            r.token = kToken;
            r.Object = a.Ref(u"D", 0);
            r.Param1 = 0x11;
            r.Param2 = 0x12;
            r.Param3 = 0x13;
            r.Param4 = 0x14;
        },
        "00001234 00000000 \"D\" 00000000 00000000 00000011 00000012 00000013 "
        "00000014"));
    s.push_back(Make(
        "RpcExpandDisk", xdr_RpcExpandDisk,
        [](RpcExpandDisk& r, Arena& a) {
            r.Object = a.Ref(u"D", 1);
            r.Value = 0x99;
            r.token = kToken;
        },
        "00000000 \"D\" 00000001 00000000 00000099 00001234"));
    s.push_back(Make(
        "RpcNotificationQuery", xdr_RpcNotificationQuery,
        [](RpcNotificationQuery& r, Arena&) {
            r.token = kToken;
            r.Param1 = 0x11;
            r.Param2 = 0x22;
            r.Param3 = 0x33;
        },
        "00001234 00000022 00000033 00000011"));
    s.push_back(Make(
        "RpcNotificationList", xdr_RpcNotificationList,
        [](RpcNotificationList& r, Arena& a) {
            RpcNotification& n = a.Array(r.Notifications, 1)[0];
            n.Value1 = 1;
            n.Value2 = 2;
            n.Value3 = 3;
            n.Text = a.Str(u"n");
        },
        "00000000 00000001 00000001 00000002 00000003 \"n\""));

    // Groups.
    s.push_back(Make(
        "RpcGroupConfig", xdr_RpcGroupConfig,
        [](RpcGroupConfig& r, Arena& a) {
            r.token = kToken;
            r.GroupName = a.Str(u"G");
            r.Setting2 = 0x302;
            r.Setting3 = 0x303;
            r.MirrorKind = 1;
            r.Setting7 = 0x307;
            r.Spare1 = 0xE1;
            r.Setting8 = 0x308;
            r.Setting4 = 0x304;
            r.Switch2 = 0x502;
            r.Spare2 = 0xE2;
            r.GroupSetting1 = 0x601;
            r.Text = a.Str(u"t");
            RpcSnapshotSchedule& sc = a.Array(r.Schedules, 1)[0];
            sc.GroupParam = 0x77;
            sc.Mode = 1;
            sc.Param1 = 0x101;
            sc.Param6 = 0x106;
            RpcMirrorConfigList& m = a.Array(r.Members, 1)[0];
            m.Count = 0x99;
        },
        "00001234 00000000 \"G\" 00000000 00000302 00000303 00000001 00000307 "
        "000000E1 00000308 00000304 00000502 000000E2 00000601 \"t\" "
        "00000001 00000000 00000077 00000001 00000101 00000000 00000000 00000000 "
        "00000000 00000000 00000000 00000000 00000106 "
        "00000001 00000000 00000099 00000000"));
    s.push_back(Make(
        "RpcGroupName", xdr_RpcGroupName,
        [](RpcGroupName& r, Arena& a) {
            r.token = kToken;
            r.GroupName = a.Str(u"G");
        },
        "00001234 00000000 \"G\""));
    s.push_back(Make(
        "RpcGroupMembers", xdr_RpcGroupMembers,
        [](RpcGroupMembers& r, Arena& a) {
            r.token = kToken;
            r.GroupName = a.Str(u"G");
            RpcObjectSet& set = a.Array(r.MemberSets, 1)[0];
            set.Count = 1;
            a.Array(set.Objects, 1)[0] = a.Ref(u"P", 1);
        },
        "00001234 00000000 \"G\" 00000001 00000000 00000001 00000001 00000000 "
        "\"P\" 00000001 00000000"));
    s.push_back(Make(
        "RpcGroupSnapshot", xdr_RpcGroupSnapshot,
        [](RpcGroupSnapshot& r, Arena& a) {
            r.token = kToken;
            r.GroupName = a.Str(u"G");
            r.SnapshotId = 9;
        },
        "00001234 00000000 \"G\" 00000009"));
    s.push_back(Make(
        "RpcGroupStatQuery", xdr_RpcGroupStatQuery,
        [](RpcGroupStatQuery& r, Arena& a) {
            r.Kind = 2;
            r.GroupName = a.Str(u"G");
            a.Array(r.Objects, 1)[0] = a.Ref(u"P", 1);
            r.token = kToken;
        },
        "00000002 \"G\" 00000001 00000000 \"P\" 00000001 00000000 00001234"));
    s.push_back(Make(
        "RpcGroupStat", xdr_RpcGroupStat,
        [](RpcGroupStat& r, Arena& a) {
            r.State = 3;
            r.ProgressState = 4;
            r.DirtyData = 0x10;
            r.TotalDone = 0x20;
            r.Value1 = 0x11;
            r.Value2 = 0x22;
            r.Value3 = 0x33;
            r.Value4 = 0x44;
            r.Count = 1;
            RpcGroupMemberStat& m = a.Array(r.Members, 1)[0];
            a.Array(m.Objects, 1)[0] = a.Ref(u"P", 1);
        },
        "00000000 00000003 00000004 00000010 00000020 00000011 00000033 00000022 "
        "00000044 00000001 00000001 00000001 00000000 \"P\" 00000001 00000000 "
        "00000000"));

    // Cluster.
    s.push_back(Make(
        "RpcClusterInfo", xdr_RpcClusterInfo,
        [](RpcClusterInfo& r, Arena& a) {
            r.infoWord = 7;
            r.name1 = a.Str(u"a");
            r.name2 = a.Str(u"");
            RpcClusterGroup& g = a.Array(r.groups, 1)[0];
            g.key.groupName = a.Str(u"g");
            g.key.groupTag = a.Str(u"t");
            g.value1 = 1;
            g.value2 = -1;
            g.value3 = 3;
            g.value4 = 4;
            g.disk.diskName = a.Str(u"d");
            g.disk.diskId = 5;
            g.disk.diskText1 = a.Str(u"x");
            g.disk.diskValue1 = -2;
            g.disk.diskValue2 = 6;
        },
        "00000000 00000007 \"a\" \"\" 00000000 00000001 \"g\" \"t\" 00000001 "
        "FFFFFFFF 00000003 00000004 \"d\" 00000005 \"x\" 00000000 FFFFFFFE "
        "00000006"));
    s.push_back(Make(
        "RpcFailoverRequest", xdr_RpcFailoverRequest,
        [](RpcFailoverRequest& r, Arena& a) {
            r.token = kToken;
            r.key.groupName = a.Str(u"g");
            r.key.groupTag = a.Str(u"t");
            r.action = 3;
        },
        "00001234 \"g\" \"t\" 00000003"));
    s.push_back(Make(
        "RpcPullReply", xdr_RpcPullReply,
        [](RpcPullReply& r, Arena& a) {
            char* text = a.Array(r.data, 3);
            text[0] = 'o';
            text[1] = 'k';
        },
        "00000000 00000003 0000006F 0000006B 00000000"));

    // Network boot.
    s.push_back(Make(
        "RpcNicList", xdr_RpcNicList,
        [](RpcNicList& r, Arena& a) {
            RpcNicInfo& n = a.Array(r.nics, 1)[0];
            std::memcpy(n.macAddress, kMac, sizeof kMac);
            n.nicWord1 = 1;
            n.nicWord2 = 2;
            n.nicValue = -1;
            n.nicName = a.Str(u"eth0");
        },
        "00000000 00000001 00000000 0000001B 00000021 000000AB 000000CD 000000EF "
        "00000001 00000002 FFFFFFFF \"eth0\""));
    s.push_back(Make(
        "RpcServerBootConfig", xdr_RpcServerBootConfig,
        [](RpcServerBootConfig& r, Arena& a) {
            r.bootText = a.Str(u"b");
            r.bootWord1 = 0x11;
            std::memcpy(r.macAddress, kMac, sizeof kMac);
            r.bootWord2 = 0x12;
            r.bootWord3 = 0x13;
            r.bootWord4 = 0x14;
            r.bootWord5 = 0x15;
        },
        "00000000 00000000 \"b\" 00000011 00000000 0000001B 00000021 000000AB "
        "000000CD 000000EF 00000012 00000013 00000014 00000015"));
    s.push_back(Make(
        "RpcBootProperties", xdr_RpcBootProperties,
        [](RpcBootProperties& r, Arena& a) {
            r.propWord1 = 1;
            r.propPath1 = a.Str(u"p");
            r.propWord2 = 2;
            r.propWord3 = 3;
            r.propPath2 = a.Str(u"");
            r.propWord4 = 4;
        },
        "00000000 00000001 \"p\" 00000002 00000003 \"\" 00000004"));

    // Service diagnostics.
    s.push_back(Make(
        "RpcEventMessage", xdr_RpcEventMessage,
        [](RpcEventMessage& r, Arena& a) {
            r.token = kToken;
            r.eventType = 4;
            r.messageCode = 0x400003E8;
            r.subjectName = a.Str(u"D");
            r.subjectNumber = 1;
            r.text = a.Bare(u"hi");
        },
        "00001234 00000004 400003E8 \"D\" 00000001 00000002 00000068 00000069"));
    s.push_back(Make(
        "RpcEventQuery", xdr_RpcEventQuery,
        [](RpcEventQuery& r, Arena& a) {
            r.selector = 4;
            r.word1 = 0x11;
            r.word2 = 0x12;
            r.selName = a.Bare(u"D");
            r.selNameNumber = 1;
            r.word7 = 0x17;
            RpcEventFilterItem& f = a.Array(r.filters, 1)[0];
            f.item1 = 0x21;
            f.item2 = 0x22;
            f.item3 = 0x23;
            r.token = kToken;
        },
        "00000004 00000011 00000012 00000000 00000001 00000044 00000001 00000017 "
        "00000001 00000021 00000022 00000023 00001234"));
    s.push_back(Make(
        "RpcEventList", xdr_RpcEventList,
        [](RpcEventList& r, Arena& a) {
            r.reserved = 0xEE;
            r.count = 1;
            RpcEventRecord& e = a.Array(r.events, 1)[0];
            e.word0 = 1;
            e.word1 = 2;
            e.word2 = 3;
            e.word3 = 4;
            e.subjectKind = 1;
            e.word5 = 6;
            e.subjectName = a.Str(u"D");
            e.subjectNumber = 7;
            e.text = a.Str(u"e");
        },
        "00000000 000000EE 00000001 00000001 00000001 00000002 00000003 00000004 "
        "00000001 00000006 \"D\" 00000007 \"e\""));
    s.push_back(Make(
        "RpcSystemInfo", xdr_RpcSystemInfo,
        [](RpcSystemInfo& r, Arena& a) {
            r.sysWord1 = 1;
            r.sysWord2 = 2;
            r.sysWord3 = 3;
            r.sysText1 = a.Str(u"a");
            r.sysWord4 = 4;
            r.sysWord5 = 5;
            r.sysText2 = a.Str(u"b");
            r.sysText3 = a.Str(u"");
            r.sysWord6 = 6;
            r.sysWord7 = 7;
        },
        "00000000 00000001 00000002 00000003 \"a\" 00000004 00000005 \"b\" \"\" "
        "00000000 00000006 00000007"));
    s.push_back(Make(
        "RpcProbeRequest", xdr_RpcProbeRequest,
        [](RpcProbeRequest& r, Arena& a) {
            r.token = kToken;
            r.probeText = a.Str(u"");
        },
        "00001234 00000000 00000000 00000000 00000000 \"\""));

    // Records of procedures the library does not call.
    s.push_back(Make(
        "RpcNamedSet", xdr_RpcNamedSet,
        [](RpcNamedSet& r, Arena& a) {
            r.Name = a.Str(u"s");
            r.Value1 = -1;
            r.Value2 = 2;
            r.Value3 = 3;
            RpcNamedSetMember& m = a.Array(r.Members, 1)[0];
            m.Value1 = 1;
            m.Value2 = 2;
            m.Value3 = 3;
            m.Text1 = a.Str(u"a");
            m.Text2 = a.Str(u"");
            m.Value4 = -4;
            r.token = kToken;
        },
        "\"s\" FFFFFFFF 00000002 00000003 00000001 00000001 00000002 00000003 \"a\" "
        "\"\" 00000000 FFFFFFFC 00000000 00001234"));
    s.push_back(Make(
        "RpcShortProgress", xdr_RpcShortProgress,
        [](RpcShortProgress& r, Arena&) {
            r.status = 1;
            r.Value1 = 2;
            r.Value2 = 3;
        },
        "00000001 00000002 00000003"));
    return s;
}

class WireRecord : public ::testing::TestWithParam<Sample> {};

TEST_P(WireRecord, EncodesByteExact) {
    const Sample& s = GetParam();
    EXPECT_EQ(Hex(s.encode()), Hex(WireBytes(s.wire)));
}

TEST_P(WireRecord, DecodesAndEncodesBackTheSameBytes) {
    const Sample& s = GetParam();
    const Bytes wire = WireBytes(s.wire);
    const DecodeResult r = s.decode(wire);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.used, wire.size());
    EXPECT_EQ(Hex(r.again), Hex(wire));
}

// A reply cut anywhere must fail to decode, and xdr_free must give back
// whatever the decoder allocated before it stopped (the sanitizer checks).
TEST_P(WireRecord, CutBufferFailsCleanly) {
    const Sample& s = GetParam();
    const Bytes wire = WireBytes(s.wire);
    for (std::size_t cut = 0; cut < wire.size(); ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_FALSE(s.decode(std::span(wire).first(cut)).ok);
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, WireRecord, ::testing::ValuesIn(Samples()),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                             return info.param.record;
                         });

// ---------------------------------------------------------------------------
// Decoding what a broken or hostile service might send.

TEST(Wire, ArrayCountBeyondTheDataFailsCleanly) {
    // One notification sent, a thousand announced: the decoder allocates for
    // the count, fails at the second element, and everything goes back.
    Bytes wire = WireBytes("00000000 000003E8 00000001 00000002 00000003 \"n\"");
    RpcNotificationList list{};
    u_int used = 0;
    EXPECT_FALSE(Decode(xdr_RpcNotificationList, std::span(wire), list, &used));
    Release(xdr_RpcNotificationList, list);

    // A count that cannot be allocated is refused before any allocation.
    wire = WireBytes("00000000 FFFFFFFF 00000001");
    RpcNotificationList huge{};
    EXPECT_FALSE(Decode(xdr_RpcNotificationList, std::span(wire), huge, &used));
    EXPECT_EQ(huge.Notifications.Notifications_val, nullptr);
    Release(xdr_RpcNotificationList, huge);
}

TEST(Wire, NestedArraysCutInsideAStringAreReleased) {
    // A disk list cut inside the second partition's label: the disk array,
    // the first partition's strings and the partial second partition are
    // all allocated when decoding stops.
    const Bytes wire = WireBytes(
        "00000000 00000001 00000001 00000002 00000000 00000000 00000000 00000000 00000000 "
        "00000000 \"D2\" 00000002 00000000 00000000 00000000 00000000 "
        "00000002 00000001 00000000 00000000 00000007 \"C:\" \"sys\" 00000000 00000000 "
        "00000000 00000000 00000000 00000000 "
        "00000002 00000000 00000000 00000007 \"D:\" 00000009 00000064");
    RpcDiskList list{};
    u_int used = 0;
    EXPECT_FALSE(Decode(xdr_RpcDiskList, std::span(wire), list, &used));
    ASSERT_EQ(list.Disks.Disks_len, 1u);
    const RpcDiskRecord& disk = list.Disks.Disks_val[0];
    EXPECT_EQ(Text(disk.Name), std::u16string(u"D2\0", 3));
    ASSERT_EQ(disk.Partitions.Partitions_len, 2u);
    EXPECT_EQ(Text(disk.Partitions.Partitions_val[0].Label), std::u16string(u"sys\0", 4));
    Release(xdr_RpcDiskList, list);
    EXPECT_EQ(list.Disks.Disks_val, nullptr);
}

// ---------------------------------------------------------------------------
// The procedure table derived from the declaration.

static_assert(qv::wire::kProcCount == 115);
static_assert(std::is_same_v<qv::wire::Proc<1>::Arg, RpcLogin>);
static_assert(std::is_same_v<qv::wire::Proc<1>::Res, RpcTokenRecord>);
static_assert(std::is_same_v<qv::wire::Proc<34>::Arg, qv::wire::NoRecord>);
static_assert(std::is_same_v<qv::wire::Proc<86>::Res, RpcClusterInfo>);

TEST(Wire, ProcTableIsIndexedByProcedureNumber) {
    for (unsigned n = 0; n < qv::wire::kProcCount; ++n) {
        const qv::wire::ProcInfo& p = qv::wire::ProcTable(n);
        EXPECT_EQ(p.number, n);
        ASSERT_NE(p.name, nullptr);
        EXPECT_NE(p.arg_filter, nullptr) << p.name;
        EXPECT_NE(p.res_filter, nullptr) << p.name;
    }
}

TEST(Wire, ProcTableRowsNameTheirRecords) {
    struct Row {
        unsigned number;
        const char* name;
        const char* arg;
        const char* res;
    };
    const Row rows[] = {
        {0, "NULLPROC", "void", "void"},
        {1, "LOGIN", "RpcLogin", "RpcTokenRecord"},
        {2, "LOGOUT", "RpcTokenRecord", "RpcStatus"},
        {3, "GET_DISK_LIST", "RpcDiskListRequest", "RpcDiskList"},
        {20, "ROLLBACK", "RpcSnapshotRecord", "RpcStatus"},
        {34, "GET_TRACE_LEVEL", "void", "RpcStatus"},
        {44, "CANCEL_VERIDY_DATA", "RpcObjectRef", "RpcStatus"},
        {49, "GET_PROGRESS_49", "RpcObjectRef", "RpcShortProgress"},
        {53, "GET_SYSTEM_INFO", "void", "RpcSystemInfo"},
        {72, "TAKE_GROUP_SNAPSHOT", "RpcTakeSnapshot", "RpcStatus"},
        {84, "DISK_MAINTENANCE", "RpcDiskMaintenance", "RpcDiskMaintenanceResult"},
        {91, "CLUSTER_COMMUNICATION", "RpcClusterMessage", "RpcClusterReply"},
        {99, "GET_VALID_NIC_LIST", "RpcStatus", "RpcNicList"},
        {114, "ALLOC_PARTITION_FOR_DISK", "RpcPartitionAlloc", "RpcStatus"},
    };
    for (const Row& r : rows) {
        const qv::wire::ProcInfo& p = qv::wire::ProcTable(r.number);
        EXPECT_STREQ(p.name, r.name);
        EXPECT_STREQ(p.arg_name, r.arg) << r.name;
        EXPECT_STREQ(p.res_name, r.res) << r.name;
    }
    const qv::wire::ProcInfo& login = qv::wire::ProcTable(1);
    EXPECT_EQ(login.arg_filter, reinterpret_cast<xdrproc_t>(xdr_RpcLogin));
    EXPECT_EQ(login.res_filter, reinterpret_cast<xdrproc_t>(xdr_RpcTokenRecord));
    EXPECT_EQ(login.arg_size, sizeof(RpcLogin));
}

}  // namespace
