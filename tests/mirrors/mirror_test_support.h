// Helpers of the mirror tests: a configuration with a distinct value in
// every field, and wire records for scripted replies.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <tuple>
#include <vector>

#include "support/connected_test.h"

namespace qvtest {

using MirrorHandleTest = ConnectedTest;
inline constexpr uint32_t kMirrorToken = ConnectedTest::kToken;
using Lines = std::vector<std::u16string>;

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

// Storage behind scripted wire records; addresses stay put while it lives.
class WireStore {
  public:
    RpcWString Str(std::u16string_view text) {
        std::u16string& s = texts_.emplace_back(text);
        s.push_back(u'\0');
        return RpcWString{static_cast<u_int>(s.size()), reinterpret_cast<u_short*>(s.data())};
    }
    RpcObjectRef* Ref(std::u16string_view name, uint32_t number) {
        return &refs_.emplace_back(RpcObjectRef{0, Str(name), number, 0});
    }

    // A configuration as the service would list it, every field distinct (in
    // wire order), with spares, enable options and schedule spares set, for
    // they are never read. The schedule's own Mode differs from ScheduleMode.
    RpcMirrorConfig Config(std::u16string_view primary = u"Harddisk1", uint32_t number = 2) {
        RpcSnapshotSchedule* schedule = &schedules_.emplace_back(
            RpcSnapshotSchedule{901, 902, 2, 401, 903, 904, -905, 402, 403, 404, 405, 406});
        // clang-format off
        return {0, {1, Ref(primary, number)}, {1, Ref(u"Harddisk3", 4)}, -2001, 2002, -2003,
                1, 3, Str(u"first"), Str(u"second"), Str(u"third"), {1, schedule},
                1, 1, 1, 0x55, 2007, 2012, 2008, 9, 2004, 1, 7, 2005, 2006, 2015, 2010, 2011,
                2098, 2013, 2014, 2099, 2009, Str(u"fourth")};
        // clang-format on
    }

  private:
    std::deque<std::u16string> texts_;
    std::deque<RpcObjectRef> refs_;
    std::deque<RpcSnapshotSchedule> schedules_;
};

// A list reply carrying `count` configurations, its Count telling the truth.
inline RpcMirrorConfigList ListOf(RpcMirrorConfig* configs, u_int count) {
    return RpcMirrorConfigList{0, count, {count, configs}};
}

}  // namespace qvtest
