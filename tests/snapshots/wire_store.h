// Storage behind the wire records the snapshot tests script as replies;
// addresses stay put while it lives.
#pragma once

#include <deque>
#include <string_view>

#include "support/sample_replies.h"

namespace qvtest {

class WireStore : public Arena {
  public:
    RpcObjectRef* Ref(std::u16string_view name, uint32_t number) {
        return &refs_.emplace_back(RpcObjectRef{0, Text(name), number, 0});
    }

    // A configuration as the service would list it, every field distinct (in
    // wire order), spares, enable options and schedule spares set. The
    // schedule's own Mode differs from ScheduleMode.
    RpcMirrorConfig Config(std::u16string_view primary = u"Harddisk1", uint32_t number = 2) {
        RpcSnapshotSchedule* schedule = &schedules_.emplace_back(
            RpcSnapshotSchedule{901, 902, 2, 401, 903, 904, -905, 402, 403, 404, 405, 406});
        // clang-format off
        return {0, {1, Ref(primary, number)}, {1, Ref(u"Harddisk3", 4)}, -2001, 2002, -2003,
                1, 3, Text(u"first"), Text(u"second"), Text(u"third"), {1, schedule},
                1, 1, 1, 0x55, 2007, 2012, 2008, 9, 2004, 1, 7, 2005, 2006, 2015, 2010, 2011,
                2098, 2013, 2014, 2099, 2009, Text(u"fourth")};
        // clang-format on
    }

  private:
    std::deque<RpcObjectRef> refs_;
    std::deque<RpcSnapshotSchedule> schedules_;
};

}  // namespace qvtest
