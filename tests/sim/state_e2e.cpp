// Starting the daemon: the sample inventory, refusals to start, and the
// state file that carries protections and settings across a restart.
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "fixture.h"

namespace simtest {
namespace {

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class SimState : public SimTest {
  protected:
    std::filesystem::path state_file() const { return dir_.path() / "state.json"; }
    void StartWithState() { Start({"--rate", "1000000", "--state-file", state_file().string()}); }
};

TEST_F(SimState, ProtectionsAndSettingsSurviveARestart) {
    StartWithState();
    RpcMirrorConfig c = EnableRequest({u"Disk1", 1, u"Disk3", 2});
    c.Text1 = arena_.Text(u"kept");
    c.Text3 = arena_.Text(u"");
    c.Text4 = arena_.Text(u"\u00e9t\u00e9");  // not ASCII: the file is UTF-8
    c.Setting9 = 99;
    c.Schedules.Schedules_val[0].Mode = 2;
    c.Schedules.Schedules_val[0].Param4 = 44;
    ASSERT_EQ(Call<ENABLE_MIRROR>(c)->res.status, 0u);

    // Saved after the change, not only at exit.
    const auto saved = nlohmann::json::parse(ReadFile(state_file()));
    ASSERT_EQ(saved.at("protections").size(), 1u);

    ASSERT_TRUE(WaitForState(u"Disk1", 1, kMirrored));
    ASSERT_EQ(Op<STOP_MIRROR>(u"Disk1", 1), 0u);
    RpcDataTraceConfig trace{};
    trace.token = token_;
    trace.Objects = {1, arena_.Refs(u"Disk1", 1)};
    trace.Option = 4;
    trace.Text = arena_.Text(u"io");
    trace.Count = 9;
    ASSERT_EQ(Call<SET_DATA_TRACE_CONFIG>(trace)->res.status, 0u);
    StopDaemon();

    // Only the state file is left beside the inventory: no temporary files.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"inventory.json", "state.json"}));

    StartWithState();
    auto list = ConfigList();
    ASSERT_EQ(list->res.Count, 1u);
    const RpcMirrorConfig& got = list->res.Configs.Configs_val[0];
    EXPECT_EQ(Text(got.Primaries.Primaries_val[0].name), u"Disk1");
    EXPECT_EQ(Text(got.Mirrors.Mirrors_val[0].name), u"Disk3");
    EXPECT_EQ(got.Mirrors.Mirrors_val[0].number, 2u);
    EXPECT_EQ(Text(got.Text1), u"kept");
    EXPECT_EQ(got.Text2.RpcWString_len, 0u);
    EXPECT_EQ(got.Text3.RpcWString_len, 1u);
    EXPECT_EQ(Text(got.Text4), u"\u00e9t\u00e9");
    EXPECT_EQ(got.Setting9, 99u);
    EXPECT_EQ(got.Schedules.Schedules_val[0].Mode, 2u);
    EXPECT_EQ(got.Schedules.Schedules_val[0].Param4, 44u);
    EXPECT_EQ(State(u"Disk1", 1), kStopped);
    auto stats = OnObject<GET_MIRROR_STATS>(u"Disk1", 1);
    EXPECT_EQ(stats->res.Value4, 1u);  // the synchronisation done before the restart
    auto kept = OnObject<GET_DATA_TRACE_CONFIG>(u"Disk1", 1);
    EXPECT_EQ(kept->res.Option, 4);
    EXPECT_EQ(Text(kept->res.Text), u"io");
    EXPECT_EQ(kept->res.Count, 9u);

    // Disabling is saved too.
    ASSERT_EQ(Op<DISABLE_MIRROR>(u"Disk1", 1), 0u);
    StopDaemon();
    StartWithState();
    EXPECT_EQ(ConfigList()->res.Count, 0u);
}

TEST_F(SimState, ARunningSynchronisationGoesOnAfterARestart) {
    Start({"--rate", "1", "--state-file", state_file().string()});
    ASSERT_EQ(Enable({u"Disk1", 1, u"Disk3", 2}), 0u);
    StopDaemon();
    StartWithState();  // now fast: the copy resumes and finishes
    ASSERT_TRUE(WaitForState(u"Disk1", 1, kMirrored));
    EXPECT_EQ(OnObject<GET_MIRROR_STATS>(u"Disk1", 1)->res.Value4, 1u);
}

TEST_F(SimState, TheSampleInventoryIsTheDefault) {
    daemon_.emplace(std::vector<std::string>{});  // no --inventory
    Connect();
    auto all = DiskList(255);
    EXPECT_EQ(all->res.status, 0u);
    ASSERT_GT(all->res.DiskCount, 0u);
    bool system = false;
    bool dynamic = false;
    for (u_int i = 0; i < all->res.Disks.Disks_len; ++i) {
        const RpcDiskRecord& d = all->res.Disks.Disks_val[i];
        system = system || (d.Flags & 0x80000000u) != 0;
        for (u_int j = 0; j < d.Partitions.Partitions_len; ++j) {
            dynamic = dynamic || d.Partitions.Partitions_val[j].Type == 0x42;
        }
    }
    EXPECT_TRUE(system);
    EXPECT_TRUE(dynamic);
}

TEST_F(SimState, BadFilesStopTheDaemonFromStarting) {
    const auto good = dir_.Write("good.json", TestInventory());
    struct Case {
        const char* what;
        std::string inventory;
        std::string state;
    };
    const Case cases[] = {
        {"inventory not JSON", "{ disks", ""},
        {"inventory with an unknown key", R"({"disks": [], "extra": 1})", ""},
        {"partition number 0", R"({"disks": [{"number": 0, "name": "A", "size_mib": 10,
           "partitions": [{"number": 0, "size_mib": 1}]}]})",
         ""},
        {"partition beyond its disk", R"({"disks": [{"number": 0, "name": "A", "size_mib": 10,
           "partitions": [{"number": 1, "size_mib": 11}]}]})",
         ""},
        {"disk name twice", R"({"disks": [{"number": 0, "name": "A", "size_mib": 10},
           {"number": 1, "name": "a", "size_mib": 10}]})",
         ""},
        {"state not JSON", "", "{"},
        {"state of another format", "", R"({"format": 99, "protections": [], "data_trace": []})"},
        {"state with an unknown protection state", "",
         R"({"format": 1, "data_trace": [], "protections": [{"primary": {"disk": "Disk1",
           "number": 1}, "mirror": {"disk": "Disk3", "number": 2}, "size_mib": 1000,
           "state": "dancing"}]})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"--port", "0"};
        args.push_back("--inventory");
        args.push_back(c.inventory.empty() ? good.string()
                                           : dir_.Write("bad.json", c.inventory).string());
        if (!c.state.empty()) {
            args.push_back("--state-file");
            args.push_back(dir_.Write("state.json", c.state).string());
        }
        const int status = RunToExit(args);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
    }
}

}  // namespace
}  // namespace simtest
