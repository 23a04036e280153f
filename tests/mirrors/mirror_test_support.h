// Helpers shared by the mirror configuration and the snapshot schedule
// tests: an open handle on the test service, a configuration with a
// distinct value in every field, and wire records for scripted replies.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <string_view>

#include "connection/handle.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

namespace qvtest {

inline constexpr uint32_t kMirrorToken = 0x77;

// An open handle on a fresh test service, with eyes on the trace file.
class MirrorHandleTest : public ::testing::Test {
  protected:
    TestService svc;
    TraceFixture trace;
    QV_HANDLE handle = nullptr;

    void SetUp() override {
        svc.Answer<LOGIN>({.status = 0, .token = kMirrorToken});
        const QV_CONNECT_PARAM p = svc.Params();
        ASSERT_EQ(qvConnect(&p, &handle), 0u);
        svc.ClearRecord();
    }
    void TearDown() override {
        if (handle == nullptr) return;
        if (qvDisconnect(&handle) != 0) {
            clnt_destroy(qv::GetRpcClient(handle));
            qvFreeHandle(&handle);
        }
    }
};

// A caller's configuration with every field distinct, so that a field
// carried under another's name shows.
inline QV_MIRROR_CONFIG SampleConfig() {
    QV_MIRROR_CONFIG c{};
    c.Primary = {u"Harddisk1", 2};
    c.Mirror = {u"Harddisk3", 4};
    c.MirrorKind = 2;
    c.Schedule = {3, 301, 302, 303, 304, 305, 306};
    c.Setting1 = -1001;
    c.Setting2 = 1002;
    c.Setting3 = -1003;
    c.Setting4 = 1004;
    c.Switch1 = 1;
    c.Setting5 = 1005;
    c.Setting6 = 1006;
    c.Text1 = u"first";
    c.Text2 = u"second";
    c.Text3 = u"third";
    c.Setting7 = 1007;
    c.Setting8 = 1008;
    c.Switch2 = 0;
    c.Setting9 = 1009;
    c.Text4 = u"fourth";
    c.LimitOn = 1;
    c.Limit = 1015;
    c.Setting10 = 1010;
    c.Setting11 = 1011;
    c.Setting12 = 1012;
    c.Setting13 = 1013;
    c.Setting14 = 1014;
    c.Reserved1 = 0xAAAA;
    c.Reserved2 = 0xBBBB;
    return c;
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
    RpcSnapshotSchedule* Schedule(const RpcSnapshotSchedule& s) {
        return &schedules_.emplace_back(s);
    }

    // A configuration as the service would list it, every field distinct.
    RpcMirrorConfig Config(std::u16string_view primary = u"Harddisk1", uint32_t number = 2) {
        RpcMirrorConfig w{};
        w.Primaries = {1, Ref(primary, number)};
        w.Mirrors = {1, Ref(u"Harddisk3", 4)};
        w.Setting1 = -2001;
        w.Setting2 = 2002;
        w.Setting3 = -2003;
        w.MirrorKind = 1;
        w.ScheduleMode = 2;
        w.Text1 = Str(u"first");
        w.Text2 = Str(u"second");
        w.Text3 = Str(u"third");
        w.Schedules = {1, Schedule({.Spare1 = 901,
                                    .GroupParam = 902,
                                    .Mode = 2,
                                    .Param1 = 401,
                                    .Spare2 = 903,
                                    .Spare3 = 904,
                                    .Spare4 = -905,
                                    .Param2 = 402,
                                    .Param3 = 403,
                                    .Param4 = 404,
                                    .Param5 = 405,
                                    .Param6 = 406})};
        w.EnableOption2 = 1;
        w.EnableOption1 = 1;
        w.EnableOption3 = 1;
        w.token = 0x55;
        w.Setting7 = 2007;
        w.Setting12 = 2012;
        w.Setting8 = 2008;
        w.Switch2 = 9;
        w.Setting4 = 2004;
        w.EnableOption4 = 1;
        w.Switch1 = 7;
        w.Setting5 = 2005;
        w.Setting6 = 2006;
        w.Limit = 2015;
        w.Setting10 = 2010;
        w.Setting11 = 2011;
        w.Spare1 = 2098;
        w.Setting13 = 2013;
        w.Setting14 = 2014;
        w.Spare2 = 2099;
        w.Setting9 = 2009;
        w.Text4 = Str(u"fourth");
        return w;
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
