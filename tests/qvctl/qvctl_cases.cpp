// qvctl against a real quarvane-sim, from tables of cases. Each row is one
// qvctl command line with what it must exit with, what its JSON output
// (the last line of stdout) must hold, and what stdout or stderr must say.
// The rows of a table run in order against one daemon, so a table is a
// scenario.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "harness.h"

namespace qvctltest {
namespace {

using nlohmann::json;

struct Case {
    std::vector<std::string> args;
    int exit_code = 0;
    // JSON pointer into the last line of stdout, and the value it must hold.
    std::vector<std::pair<std::string, json>> expect = {};
    std::string out_has = {};  // text stdout must contain
    std::string err_has = {};  // text stderr must contain
};

// The daemon's disks: a system disk, a disk with two partitions and a free
// disk; names and labels beyond ASCII travel through UTF-16 both ways.
constexpr const char* kInventory = R"({
  "disks": [
    { "number": 0, "name": "Disk0", "size_mib": 10000, "system": true,
      "partitions": [ { "number": 1, "letters": "C:", "label": "System", "size_mib": 4000,
                        "used_mib": 3000 } ] },
    { "number": 1, "name": "Disk1", "size_mib": 8000,
      "partitions": [ { "number": 1, "letters": "E:", "label": "Data", "size_mib": 1000,
                        "used_mib": 600 },
                      { "number": 2, "letters": "F:", "label": "Données", "size_mib": 3000 } ] },
    { "number": 2, "name": "Диск2", "size_mib": 8000 }
  ]
})";

class Qvctl : public ::testing::Test {
  protected:
    // Starts the daemon: slow enough that --wait sees an operation run, quick
    // enough that each one ends within a second or two.
    void StartDaemon() {
        const auto inventory = dir_.Write("inventory.json", kInventory);
        daemon_ = std::make_unique<Daemon>(
            std::vector<std::string>{"--inventory", inventory.string(), "--state-file",
                                     (dir_.path() / "state.json").string(), "--user", "operator",
                                     "--password", "pässword", "--rate", "1000"});
        env_["QVCTL_PORT"] = std::to_string(daemon_->port());
    }

    void RunTable(const std::vector<Case>& table) {
        for (const Case& c : table) Run(c);
    }

    void Run(const Case& c) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        SCOPED_TRACE("qvctl " + line);
        const RunResult r = RunQvctl(c.args, env_);
        ASSERT_EQ(r.exit_code, c.exit_code) << "stdout:\n" << r.out << "stderr:\n" << r.err;
        EXPECT_NE(r.out.find(c.out_has), std::string::npos) << "no \"" << c.out_has << "\" in:\n"
                                                            << r.out;
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << "no \"" << c.err_has << "\" in:\n"
                                                            << r.err;
        // 3 is an answer (service status), not a failure.
        if (c.exit_code == 1 || c.exit_code == 2) {
            EXPECT_EQ(r.out, "") << "a failure writes nothing on stdout";
        }
        if (c.expect.empty()) return;

        // Every line is a JSON document; the last one is checked.
        json last;
        std::istringstream lines(r.out);
        for (std::string l; std::getline(lines, l);) {
            last = json::parse(l, nullptr, false);
            ASSERT_FALSE(last.is_discarded()) << "not JSON: " << l;
        }
        for (const auto& [pointer, value] : c.expect) {
            const json::json_pointer p(pointer);
            ASSERT_TRUE(last.contains(p)) << pointer << " missing in " << last.dump();
            EXPECT_EQ(last.at(p), value) << pointer << " in " << last.dump();
        }
    }

    TempDir dir_;
    std::unique_ptr<Daemon> daemon_;
    std::map<std::string, std::string> env_ = {
        {"QVCTL_HOST", "127.0.0.1"},
        {"QVCTL_USER", "operator"},
        {"QVCTL_PASSWORD", "pässword"},
        // The library's trace file stays out of the machine's directories.
        {"QUARVANE_PARAMETERS", "/nonexistent/qvctl-test.ini"},
    };
};

const std::string kOk = "00000000";

TEST_F(Qvctl, Walkthrough) {
    StartDaemon();
    RunTable({
        {{"disks", "--json"},
         0,
         {{"/0/object", "Disk0"},
          {"/1/object", "Disk0:1"},
          {"/1/display_name", "Disk 0 Partition 1 - System (C:)"},
          {"/1/size", 4000},
          {"/1/measure", 1048576},
          {"/4/display_name", "Disk 1 Partition 2 - Données (F:)"},
          {"/5/object", "Диск2"}}},
        {{"disks"}, 0, {}, "Disk 1 Partition 2 - Données (F:)"},
        {{"mirror", "enable", "Disk1:1", "Диск2", "--limit", "1000", "--text1", "nota bene",
          "--json"},
         0,
         {{"/operation", "enable"}, {"/object", "Disk1:1"}, {"/status", kOk}}},
        {{"mirror", "list", "--json"},
         0,
         {{"/0/primary", "Disk1:1"},
          {"/0/mirror", "Диск2"},
          {"/0/limit_on", 1},
          {"/0/limit", 1000},
          {"/0/text1", "nota bene"},
          {"/0/text2", nullptr}}},
        // A new protection starts with its first synchronisation: follow it.
        {{"mirror", "sync", "Disk1:1", "--progress", "--wait", "--json"},
         0,
         {{"/operation", "sync"}, {"/state_name", "mirrored"}, {"/percent", 100}}},
        {{"mirror", "sync", "Disk1:1", "--wait", "--json"},
         0,
         {{"/state", 1}, {"/running", false}, {"/percent", 100}}},
        {{"mirror", "stat", "Disk1:1", "--json"},
         0,
         {{"/state_name", "mirrored"},
          {"/condition_name", "normal"},
          {"/amount1_kib", 1024000},
          {"/amount2_kib", 0},
          {"/progress", nullptr}}},
        {{"mirror", "verify", "Disk1:1", "--wait", "--json"},
         0,
         {{"/operation", "verify"}, {"/state_name", "completed"}, {"/percent", 100}}},
        {{"mirror", "verify", "Disk1:1", "--progress", "--json"}, 0, {{"/state", 2}}},
        {{"mirror", "restore", "Disk1:1", "--wait", "--json"},
         0,
         {{"/operation", "restore"}, {"/state_name", "completed"}, {"/total_done", 1000}}},
        // change keeps the fields it is not given.
        {{"mirror", "change", "Disk1:1", "--setting1", "-5", "--switch1", "on", "--json"},
         0,
         {{"/status", kOk}}},
        {{"mirror", "list", "Disk1:1", "--json"},
         0,
         {{"/0/setting1", -5}, {"/0/switch1", 1}, {"/0/limit", 1000}, {"/0/text1", "nota bene"}}},
        {{"trace-config", "set", "Disk1:1", "--text", "journal ✓", "--count", "3", "--json"},
         0,
         {{"/status", kOk}}},
        {{"trace-config", "set", "Disk1:1", "--option", "7", "--json"}, 0, {{"/status", kOk}}},
        {{"trace-config", "get", "Disk1:1", "--json"},
         0,
         {{"/option", 7}, {"/text", "journal ✓"}, {"/count", 3}}},
        {{"mirror", "suspend", "Disk1:1", "--json"}, 0, {{"/status", kOk}}},
        {{"mirror", "stat", "Disk1:1", "--json"}, 0, {{"/state_name", "suspended"}}},
        {{"mirror", "resume", "Disk1:1"}, 0, {}, "Protection of Disk1:1 resumed."},
        {{"mirror", "disable", "Disk1:1", "--json"}, 0, {{"/status", kOk}}},
        {{"mirror", "list", "--json"}, 0, {{"", json::array()}}},
    });
}

TEST_F(Qvctl, ServiceRefusalsPrintStatusAndText) {
    StartDaemon();
    RunTable({
        {{"mirror", "enable", "Disk1:1", "Диск2"}, 0, {}, "enabled"},
        {{"mirror", "enable", "Disk1:1", "Диск2", "--json"},
         1,
         {},
         {},
         "error 6FFC0041: The specified protected disk already exists."},
        {{"mirror", "enable", "Disk1:2", "Disk0"},
         1,
         {},
         {},
         "error 6FFC0016: You cannot use the system disk as a mirror disk."},
        {{"mirror", "stat", "Disk1:2"},
         1,
         {},
         {},
         "error 6FFC0040: Unable to find the specified protected disk."},
        {{"mirror", "change", "Disk1:2", "--limit", "5"}, 1, {}, {}, "error 6FFC0040"},
        {{"mirror", "restore", "Disk1:1", "--progress"},
         1,
         {},
         {},
         "error 6FFC0067: No task is running."},
        {{"disks", "--kind", "8", "--object", "Disk1:9"},
         1,
         {},
         {},
         "error 6FFC0011: Unable to find the specified partition."},
    });
}

TEST_F(Qvctl, ConnectionFailures) {
    StartDaemon();
    const ClosedPort closed;
    RunTable({
        {{"--password", "wrong", "disks"}, 1, {}, {}, "error 6FFC0300"},
        {{"disks", "--user", "nobody"}, 1, {}, {}, "error 6FFC0300"},
        {{"--port", std::to_string(closed.port()), "mirror", "list"},
         1,
         {},
         {},
         "error 6FFC8001: There is no connection to the Quarvane service."},
    });
}

TEST_F(Qvctl, MessagesNeedNoConnection) {
    env_["QVCTL_PORT"] = std::to_string(ClosedPort().port());
    RunTable({
        {{"message", "0x6FFC0010"}, 0, {}, "Unable to find the specified disk.\n"},
        {{"message", "0x6FFC0010", "--json"},
         0,
         {{"/status", "6FFC0010"}, {"/message", "Unable to find the specified disk."}}},
        {{"message", "6ffc0041", "--json"}, 0, {{"/status", "6FFC0041"}}},
        {{"message", "1878786064", "--json"}, 0, {{"/status", "6FFC0010"}}},
        {{"message", "0x6FFC8004", "--json"}, 0, {{"/message", "6FFC8004"}}},
    });
}

TEST_F(Qvctl, UsageErrorsExitTwo) {
    env_["QVCTL_PORT"] = std::to_string(ClosedPort().port());
    RunTable({
        {{}, 2, {}, {}, "A subcommand is required"},
        {{"mirror"}, 2, {}, {}, "A subcommand is required"},
        {{"mirror", "stat", "Disk1:x"}, 2, {}, {}, "is not a disk or partition"},
        {{"mirror", "stat", ":1"}, 2, {}, {}, "is not a disk or partition"},
        {{"mirror", "enable", "Disk1:1"}, 2, {}, {}, "MIRROR is required"},
        {{"mirror", "verify", "Disk1:1", "--cancel", "--wait"}, 2, {}, {}, "excludes"},
        {{"mirror", "enable", "Disk1:1", "Disk2", "--mirror-kind", "3"}, 2, {}, {}, "not in"},
        {{"mirror", "change", "Disk1:1", "--text4", "x"}, 2, {}, {}, "not expected"},
        {{"disks", "--kind", "7"}, 2, {}, {}, "--kind 7 needs --object"},
        {{"disks", "--kind", "2"}, 2, {}, {}, "not in"},
        {{"--port", "0", "disks"}, 2, {}, {}, "not in range"},
        {{"message", "0xZZ"}, 2, {}, {}, "is not a status"},
        {{"message", "4294967296"}, 2, {}, {}, "is not a status"},
        {{"mirror", "--help"}, 0, {}, "cancel-sync"},
    });
}


// Network boot end to end: the adapters of the inventory, this machine's
// drivers through the network-boot module (its state under the parameters
// file's Path), the service's own settings, and the environment that
// changes with the adapters.
TEST_F(Qvctl, NetworkBoot) {
    const std::string adapters = R"(,
  "adapters": [
    { "mac": "00-1b-21-ab-cd-ef", "name": "eth0", "speed_mbps": 1000, "flags": 1, "index": 2 }
  ])";
    std::string inventory = kInventory;
    inventory.insert(inventory.rfind('}'), adapters);
    dir_.Write("parameters.ini", "[Parameters]\nPath=" + dir_.path().string() + "\n");
    std::filesystem::create_directory(dir_.path() / "log");
    env_["QUARVANE_PARAMETERS"] = (dir_.path() / "parameters.ini").string();
    const auto file = dir_.Write("inventory.json", inventory);
    daemon_ = std::make_unique<Daemon>(std::vector<std::string>{
        "--inventory", file.string(), "--user", "operator", "--password", "pässword"});
    env_["QVCTL_PORT"] = std::to_string(daemon_->port());
    RunTable({
        {{"netboot", "adapters", "--json"},
         0,
         {{"/0/macAddress", "00-1b-21-ab-cd-ef"}, {"/0/name", "eth0"}, {"/0/nicWord1", 1000}}},
        {{"netboot", "status", "--json"}, 0, {{"/canEnable", true}, {"/enabled", false}}},
        {{"netboot", "enable", "00:1B:21:AB:CD:EF", "--json"}, 0, {{"/status", kOk}}},
        {{"netboot", "status", "--json"}, 0, {{"/enabled", true}, {"/netEnvChanged", false}}},
        {{"netboot", "enable", "00-00-00-00-00-01"}, 1, {}, {}, "error 6FFC0300"},
        {{"netboot", "reconfig", "00-1b-21-ab-cd-ef"}, 0, {}, "re-configured"},
        {{"netboot", "disable"}, 2, {}, {}, "Give --yes to confirm"},
        {{"netboot", "disable", "--yes", "--json"}, 0, {{"/status", kOk}}},
        {{"netboot", "reconfig", "00-1b-21-ab-cd-ef"}, 1, {}, {}, "error E0D00003"},
        {{"netboot", "enable", "00-1b-21-ab-cd-zz"}, 2, {}, {}, "not a hardware address"},
        {{"boot-server", "properties"}, 1, {}, {}, "error 6FFC0042"},
        {{"boot-server", "enable", "--text", "pxelinux.0", "--word1", "5"}, 0, {}, "enabled"},
        {{"boot-server", "config", "--text", "grub", "--word4", "9"}, 0, {}, "set"},
        {{"boot-server", "properties", "--json"},
         0,
         {{"/propPath1", "/srv/tftp/grub"}, {"/propWord4", 9}, {"/propWord1", 0}}},
        {{"boot-server", "config", "--text", "sixteen-letters!"}, 2, {}, {}, "longer than 15"},
        {{"boot-server", "disable", "-y"}, 0, {}, "disabled"},
        {{"netboot", "status", "--json"}, 0, {{"/enabled", false}, {"/remoteBootMode", 0}}},
    });
    // The drivers the module installed are gone again.
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "pxe" / "drivers"));

    // Another adapter appears: once the service has rescanned, the network
    // environment has changed, until network boot is set up for it again.
    inventory.insert(inventory.rfind(']'),
                     R"(, { "mac": "00-1b-21-ab-cd-f0", "name": "eth1", "index": 3 })");
    dir_.Write("inventory.json", inventory);
    RunTable({
        {{"disks", "refresh"}, 0},
        {{"netboot", "status", "--json"}, 0, {{"/netEnvChanged", true}}},
        {{"netboot", "enable", "00-1b-21-ab-cd-f0"}, 0},
        {{"netboot", "status", "--json"}, 0, {{"/netEnvChanged", false}, {"/enabled", true}}},
    });
}

// The local service through systemd: with no system bus to reach, it is
// not active (3, as systemctl is-active says) and cannot be started.
TEST_F(Qvctl, ServiceWithoutASystemBus) {
    env_["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=/nonexistent/system_bus_socket";
    RunTable({
        {{"service", "status"}, 3, {}, "inactive\n"},
        {{"service", "status", "--json"}, 3, {{"/active", false}}},
        {{"service", "start"}, 1, {}, {}, "error EFFC0000"},
        {{"service", "stop"}, 1, {}, {}, "error EFFC0000"},
    });
}

}  // namespace
}  // namespace qvctltest
