// Helpers of the mirror tests: a caller's configuration with a distinct
// value in every field, and the fields it shares with the wire record.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/connected_test.h"

namespace qvtest {

using MirrorHandleTest = ConnectedTest;
inline constexpr uint32_t kMirrorToken = ConnectedTest::kToken;
using Lines = std::vector<std::u16string>;
// The filter that lists every configuration.
inline const QV_CONFIG_FILTER kAll{0, nullptr, {nullptr, 0}};

// A reference nested in a record: kind, name, its element count, number,
// token.
inline auto Nested(const RpcObjectRef& ref) {
    return std::tuple(ref.kind, Text(ref.name), Count(ref.name), ref.number, ref.token);
}

// The fields a caller's configuration and the wire record share by name.
template <typename Config>
auto SharedFields(const Config& c) {
    return std::tuple(c.MirrorKind, c.Setting1, c.Setting2, c.Setting3, c.Setting4, c.Setting5,
                      c.Setting6, c.Setting7, c.Setting8, c.Setting9, c.Setting10, c.Setting11,
                      c.Setting12, c.Setting13, c.Setting14, c.Switch1, c.Switch2, c.Limit);
}
template <typename Schedule>
auto ScheduleFields(const Schedule& s) {
    return std::tuple(s.Mode, s.Param1, s.Param2, s.Param3, s.Param4, s.Param5, s.Param6);
}

// A caller's configuration with every field distinct (in the order of
// QV_MIRROR_CONFIG), so that a field carried under another's name shows.
inline QV_MIRROR_CONFIG SampleConfig() {
    // clang-format off
    return {{u"Harddisk1", 2}, {u"Harddisk3", 4}, 2, {3, 301, 302, 303, 304, 305, 306},
            -1001, 1002, -1003, 1004, 1, 1005, 1006, u"first", u"second", u"third",
            1007, 1008, 0, 1009, u"fourth", 1, 1015,
            1010, 1011, 1012, 1013, 1014, 0xAAAA, 0xBBBB};
    // clang-format on
}

}  // namespace qvtest
