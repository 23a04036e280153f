// Starting, stopping and probing the local service against a mock systemd
// on a private bus. Every poll of the library moves the unit on one step of
// a script, on a fake clock, so half a minute of waiting takes no time.
#include <gtest/gtest.h>

#include <functional>

#include "qvcliapi.h"
#include "support/systemd_mock.h"
#include "support/trace_fixture.h"

namespace {

using Steps = std::vector<std::pair<std::string, std::string>>;
using qvtest::SystemdMock;

// What a row sets up beyond the running mock.
using Setup = std::function<void(SystemdMock&)>;

void NoBus(SystemdMock&) { setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1); }
void NoUnit(SystemdMock&) {}
void Unit(SystemdMock& mock) { mock.AddUnit(); }
Setup UnitIn(const char* active, const char* sub) {
    return [=](SystemdMock& mock) {
        mock.AddUnit();
        mock.SetState(active, sub);
    };
}
Setup StartGoesTo(const char* active, const char* sub) {
    return [=](SystemdMock& mock) {
        mock.AddUnit();
        mock.OnStartOrStop("StartUnit", active, sub);
    };
}
Setup StopGoesTo(const char* active, const char* sub) {
    return [=](SystemdMock& mock) {
        mock.AddUnit();
        mock.SetState("active", "running");
        mock.OnStartOrStop("StopUnit", active, sub);
    };
}
Setup Refused(const char* method, const char* active) {
    return [=](SystemdMock& mock) {
        mock.AddUnit();
        mock.SetState(active, "x");
        mock.OnManager(method, "ss", "o",
                       "raise dbus.exceptions.DBusException('no', "
                       "name='org.freedesktop.DBus.Error.AccessDenied')");
    };
}

struct Row {
    const char* name;
    Setup setup;
    Steps script;  // one state per poll
    QV_STATUS status;
    std::u16string line;  // empty: nothing logged
    std::size_t polls;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class ServiceControl : public ::testing::Test {
  protected:
    qvtest::TraceFixture trace;
    SystemdMock mock;

    void Run(const Row& row, QV_STATUS (*call)()) {
        ASSERT_TRUE(mock.ready());
        row.setup(mock);
        mock.Script(row.script);
        EXPECT_EQ(call(), row.status);
        using Lines = std::vector<std::u16string>;
        EXPECT_EQ(trace.Lines(), row.line.empty() ? Lines{} : Lines{row.line});
        EXPECT_EQ(mock.Sleeps().size(), row.polls);
    }
};

Steps Repeat(const char* active, const char* sub, std::size_t n) { return Steps(n, {active, sub}); }

Steps Concat(Steps a, const Steps& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class StartService : public ServiceControl, public ::testing::WithParamInterface<Row> {};

TEST_P(StartService, AnswersAndLogsAsTheUnitBehaves) { Run(GetParam(), qvStartService); }

const std::u16string kStartError = u"Start Quarvane service error[Err:";
const std::u16string kWaitError = u"Waiting Quarvane service starting error[Err:";

Setup StartDoesNot(const char* python) {
    return [=](SystemdMock& mock) {
        mock.AddUnit();
        mock.OnManager("StartUnit", "ss", "o", python);
    };
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rows, StartService,
    ::testing::Values(
        Row{"NoBus", NoBus, {}, QV_STATUS_LOCAL_FAILURE, u"Open SCManager error[Err:00000002].", 0},
        Row{"NoUnit", NoUnit, {}, QV_STATUS_LOCAL_FAILURE,
            u"Open Quarvane service error[Err:00000005]", 0},
        Row{"AlreadyRunning", UnitIn("active", "running"), {}, QV_STATUS_LOCAL_FAILURE,
            kStartError + u"00000072]", 0},
        Row{"AlreadyStarting", UnitIn("activating", "start"), {}, QV_STATUS_LOCAL_FAILURE,
            kStartError + u"00000072]", 0},
        Row{"StartRefused", Refused("StartUnit", "inactive"), {}, QV_STATUS_LOCAL_FAILURE,
            kStartError + u"0000000D]", 0},
        Row{"StateUnreadable", StartDoesNot("self.RemoveObject(self.units[args[0]])\nret = '/job/1'"),
            {}, QV_STATUS_LOCAL_FAILURE, u"Query Quarvane service status error[Err:00000035]", 0},
        Row{"UpAtOnce", Unit, {}, 0, u"", 0},
        Row{"UpAfterThreePolls", StartGoesTo("activating", "start-pre"),
            {{"activating", "start"}, {"reloading", "reload"}, {"active", "running"}}, 0, u"", 3},
        Row{"StartFailsWhileStarting", StartGoesTo("activating", "start"), {{"failed", "failed"}},
            QV_STATUS_LOCAL_FAILURE, kWaitError + u"00000000]", 1},
        // 30 polls of a second without progress are still waited for; the
        // 31st is more than 30 seconds after the last one.
        Row{"NoProgressFor30Seconds", StartGoesTo("activating", "start"),
            Repeat("activating", "start", 40), QV_STATUS_LOCAL_FAILURE, kWaitError + u"0000006E]", 31},
        Row{"ProgressRestartsTheLimit", StartGoesTo("activating", "start-pre"),
            Concat(Concat(Repeat("activating", "start-pre", 25), Repeat("activating", "start", 25)),
                   {{"active", "running"}}), 0, u"", 51},
        Row{"QueuedJobBeforeTheUnitMoves",
            [](SystemdMock& mock) {
                StartDoesNot("ret = '/org/freedesktop/systemd1/job/7'")(mock);
                mock.SetJob(7);
            },
            {{"activating", "start"}, {"active", "running"}}, 0, u"", 2},
        Row{"LoadedOnDemand",
            [](SystemdMock& mock) {
                mock.AddUnit();
                mock.OnManager("GetUnit", "s", "o", "raise dbus.exceptions.DBusException('not loaded', "
                               "name='org.freedesktop.systemd1.NoSuchUnit')");
                mock.OnManager("LoadUnit", "s", "o", "ret = self.units[args[0]]");
            },
            {}, 0, u"", 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

class StopService : public ServiceControl, public ::testing::WithParamInterface<Row> {};

TEST_P(StopService, AnswersAndLogsAsTheUnitBehaves) { Run(GetParam(), qvStopService); }

const std::u16string kStopError = u"Query stop service status error[Err:";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rows, StopService,
    ::testing::Values(
        Row{"NoBus", NoBus, {}, QV_STATUS_LOCAL_FAILURE, kStopError + u"00000002]", 0},
        Row{"NoUnit", NoUnit, {}, QV_STATUS_LOCAL_FAILURE, kStopError + u"00000005]", 0},
        Row{"AlreadyStopped", Unit, {}, 0, u"", 1},
        Row{"DownAfterStopping", StopGoesTo("deactivating", "stop"),
            {{"deactivating", "stop"}, {"deactivating", "stop-sigterm"}, {"inactive", "dead"}}, 0, u"", 3},
        Row{"FailedCountsAsStopped", StopGoesTo("deactivating", "stop"), {{"failed", "failed"}}, 0, u"", 1},
        Row{"ComesBackUp", StopGoesTo("deactivating", "stop"), {{"active", "running"}},
            QV_STATUS_LOCAL_FAILURE, kStopError + u"00000000]", 1},
        Row{"QueuedJobBeforeTheUnitMoves",
            [](SystemdMock& mock) {
                mock.AddUnit();
                mock.SetState("active", "running");
                mock.SetJob(3);
                mock.OnManager("StopUnit", "ss", "o", "ret = '/org/freedesktop/systemd1/job/3'");
            },
            {{"active", "running"}, {"deactivating", "stop"}, {"inactive", "dead"}}, 0, u"", 3},
        Row{"RefusedWhileRunning", Refused("StopUnit", "active"), {}, QV_STATUS_LOCAL_FAILURE,
            kStopError + u"0000000D]", 0},
        Row{"RefusedWhileStopped", Refused("StopUnit", "inactive"), {}, 0, u"", 0}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(ServiceControl, IsRunningOnlyWhenActiveAndLogsNothing) {
    ASSERT_TRUE(mock.ready());
    EXPECT_EQ(qvIsServiceRunning(), 0u);  // not installed
    mock.AddUnit();
    const std::pair<const char*, uint32_t> kStates[] = {
        {"active", 1},   {"activating", 0}, {"reloading", 0},   {"deactivating", 0},
        {"inactive", 0}, {"failed", 0},     {"maintenance", 0},
    };
    for (const auto& [state, running] : kStates) {
        mock.SetState(state, "x");
        EXPECT_EQ(qvIsServiceRunning(), running) << state;
    }
    // Each call opens its own connection: the bus named now is the one asked.
    mock.SetState("active", "running");
    EXPECT_EQ(qvIsServiceRunning(), 1u);
    NoBus(mock);
    EXPECT_EQ(qvIsServiceRunning(), 0u);
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_TRUE(mock.Sleeps().empty());
}

}  // namespace
