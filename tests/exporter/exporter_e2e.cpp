// quarvane-exporter between quarvane-sim and the real Prometheus tools,
// every one a process on a free loopback port.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <qvcliapi.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "processes.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using qvtest::Daemon;
using qvtest::Eventually;
using qvtest::LoopbackSocket;
using qvtest::TempDir;

std::string Address(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

struct Exporter : Daemon {
    explicit Exporter(uint16_t target, const std::vector<std::string>& more = {},
                      const std::string& err = "")
        : Daemon(QV_EXPORTER_EXE, Args(target, more), err) {}
    static std::vector<std::string> Args(uint16_t target, const std::vector<std::string>& more) {
        std::vector<std::string> args{"--listen", "127.0.0.1:0", "--target", Address(target)};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    httplib::Result Get(const std::string& path, const httplib::Headers& headers = {}) const {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(30s);
        return client.Get(path.c_str(), headers);
    }
};

// --credentials with quarvane-sim's sample login, in a file of `dir`.
std::vector<std::string> SampleLogin(const TempDir& dir) {
    const std::string file = dir.Write("login", "user=admin\npassword=secret\n");
    chmod(file.c_str(), 0600);
    return {"--credentials", file};
}

// Protects partition 1 of `primary` (and, when `group` is given, makes it
// the group's member).
void EnableMirror(uint16_t port, const std::u16string& primary, const std::u16string& mirror,
                  const std::u16string& group = u"") {
    const QV_CONNECT_PARAM param{u"127.0.0.1", port, u"admin", u"secret"};
    QV_HANDLE handle = nullptr;
    ASSERT_EQ(qvConnect(&param, &handle), QV_STATUS_SUCCESS);
    QV_MIRROR_ENABLE enable{};
    enable.Config.Primary = {primary.c_str(), 1};
    enable.Config.Mirror = {mirror.c_str(), primary == u"Harddisk1" ? 2u : 1u};
    EXPECT_EQ(qvEnableMirror(handle, &enable), QV_STATUS_SUCCESS);
    if (!group.empty()) {
        QV_GROUP_CONFIG config{};
        config.Name = group.c_str();
        EXPECT_EQ(qvCreateGroup(handle, &config), QV_STATUS_SUCCESS);
        EXPECT_EQ(qvAddGroupMember(handle, group.c_str(), primary.c_str(), 1), QV_STATUS_SUCCESS);
    }
    qvDisconnect(&handle);
}

bool Down(const httplib::Result& r) {
    return r && r->body.find("\nquarvane_up 0\n") != std::string::npos;
}

// Names come from the service and may hold any character; the escaped
// label values must still parse.
constexpr const char* kOddInventory = R"({"disks": [
  {"number": 1, "name": "Q\"d\\x\ny", "size_mib": 200,
   "partitions": [{"number": 1, "size_mib": 100}]},
  {"number": 2, "name": "Plain", "size_mib": 200,
   "partitions": [{"number": 1, "size_mib": 100}]}]})";

// One scrape holds each of `lines` whole, and promtool accepts it.
void ExpectScrape(const Exporter& exporter, const std::vector<std::string>& lines) {
    const auto r = exporter.Get("/metrics");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    for (const std::string& line : lines) {
        EXPECT_NE(r->body.find("\n" + line + "\n"), std::string::npos) << line;
    }
    const qvtest::RunResult lint =
        qvtest::Run(QV_PROMTOOL, {"check", "metrics"}, {}, {.input = r->body});
    EXPECT_EQ(lint.exit_code, 0) << lint.out << lint.err << r->body;
}

TEST(Exporter, EscapesNamesAndExitsCleanly) {
    const TempDir dir;
    const Daemon sim({"--inventory", dir.Write("inv.json", kOddInventory)});
    EnableMirror(sim.port, u"Q\"d\\x\ny", u"Plain");
    Exporter exporter(sim.port, SampleLogin(dir));
    ExpectScrape(exporter,
                 {R"(quarvane_protection_info{primary="Q\"d\\x\ny:1",mirror="Plain:1"} 1)"});
    EXPECT_EQ(exporter.Stop(), 0);  // SIGTERM: a clean exit
}

TEST(Exporter, AnswersDownWithinTheScrapeTimeoutAndServesOn) {
    const LoopbackSocket nothing(false);
    const LoopbackSocket silent(true);
    const TempDir dir;
    const Daemon sim({});
    const Exporter exporter(sim.port, SampleLogin(dir));
    struct Case {
        std::string path;
        httplib::Headers headers;
        int status;
    };
    const Case cases[] = {
        {"/probe?target=" + Address(nothing.port), {}, 200},
        {"/probe?target=" + Address(silent.port),
         {{"X-Prometheus-Scrape-Timeout-Seconds", "1"}},
         200},
        {"/probe?target=127.0.0.1", {}, 400},
        {"/probe", {}, 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto start = std::chrono::steady_clock::now();
        const auto r = exporter.Get(c.path, c.headers);
        ASSERT_TRUE(r);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        EXPECT_EQ(r->status, c.status);
        if (c.status == 200) {
            EXPECT_TRUE(Down(r)) << r->body;
        }
    }
    // Scrapes of the silent service at once, each answered as down in
    // time; the service that answers is still read meanwhile.
    std::vector<std::thread> scrapes;
    std::atomic<int> answered{0};
    for (int i = 0; i < 12; ++i) {
        scrapes.emplace_back([&] {
            if (Down(exporter.Get("/probe?target=" + Address(silent.port),
                                  {{"X-Prometheus-Scrape-Timeout-Seconds", "2"}}))) {
                ++answered;
            }
        });
    }
    const auto r = exporter.Get("/metrics");
    for (auto& t : scrapes) t.join();
    EXPECT_EQ(answered, 12);
    ASSERT_TRUE(r);
    EXPECT_NE(r->body.find("\nquarvane_up 1\n"), std::string::npos) << r->body;
}

// A connection to `port` on which `request` has been sent.
int Open(uint16_t port, const std::string& request) {
    const int sock = qvtest::ConnectLoopback(port);
    EXPECT_GE(sock, 0);
    EXPECT_EQ(send(sock, request.data(), request.size(), MSG_NOSIGNAL), std::ssize(request));
    return sock;
}

// The status line's start of the answer to `request`, sent whole; empty
// when the connection was closed without one.
std::string Exchange(uint16_t port, const std::string& request) {
    const int sock = Open(port, request);
    shutdown(sock, SHUT_WR);
    std::string reply(12, '\0');
    reply.resize(
        static_cast<std::size_t>(std::max<ssize_t>(recv(sock, reply.data(), 12, MSG_WAITALL), 0)));
    close(sock);
    return reply;
}

TEST(Exporter, ACrowdIsServedByFewThreadsWhileOthersStallOrFloodWithoutGrowth) {
    const TempDir dir;
    const Daemon sim({});
    std::vector<std::string> args = SampleLogin(dir);
    args.insert(args.end(), {"--threads", "4"});
    // Freed blocks are not held back for inspection, so that what the
    // exporter holds is what it uses.
    setenv("ASAN_OPTIONS", "quarantine_size_mb=0:thread_local_quarantine_size_kb=0", 1);
    const Exporter exporter(sim.port, args);
    unsetenv("ASAN_OPTIONS");
    // As many clients as threads send half a request and stall; one sends
    // five requests and reads no response.
    std::vector<int> idle;
    std::string five;
    for (int i = 0; i < 5; ++i) five += "GET /metrics HTTP/1.1\r\n\r\n";
    for (int i = 0; i < 4; ++i)
        idle.push_back(Open(exporter.port, "GET /metrics HTTP/1.1\r\nHost"));
    idle.push_back(Open(exporter.port, five));

    std::atomic<bool> done{false};
    std::atomic<int> served{0}, threads{0};
    std::thread count([&] {
        for (std::string line; !done; std::this_thread::sleep_for(5ms)) {
            std::ifstream status("/proc/" + std::to_string(exporter.pid) + "/status");
            while (std::getline(status, line) && line.rfind("Threads:", 0) != 0) {
            }
            if (!line.empty()) threads = std::max(threads.load(), std::stoi(line.substr(8)));
        }
    });
    std::vector<std::thread> crowd;
    const auto start = std::chrono::steady_clock::now();
    for (int c = 0; c < 200; ++c) {
        crowd.emplace_back([&] {
            const auto r = exporter.Get("/metrics");
            if (r && r->status == 200 && r->body.find("\nquarvane_up ") != std::string::npos)
                ++served;
        });
    }
    for (std::thread& t : crowd) t.join();
    // The stalled ones hold their threads for the 2 s read timeout.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    done = true;
    count.join();
    EXPECT_EQ(served, 200);
    // Four serving, sixteen scraping, the accepting, the signals' and the main thread.
    EXPECT_LE(threads, 23);
    for (const int fd : idle) close(fd);

    const std::string malformed[] = {
        "\x01\x02 garbage\r\n\r\n",
        "GET /nowhere HTTP/1.1\r\nno colon\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n",
        "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n",
    };
    const auto flood = [&](int rounds) {
        for (int i = 0; i < rounds; ++i) {
            for (const std::string& request : malformed) {
                const std::string reply = Exchange(exporter.port, request);
                // Refused or closed: even a lenient reading of the bad
                // header finds no page there, and starts no scrape.
                EXPECT_TRUE(reply.empty() || reply.starts_with("HTTP/1.1 4")) << request << reply;
            }
        }
        return qvtest::ResidentKiB(exporter.pid);
    };
    const long before = flood(200);
    const long after = flood(1500);
    EXPECT_LT(after - before, 1024) << before << " KiB, then " << after << " KiB";
}

TEST(Exporter, LogsInFromACredentialsFileOthersCannotRead) {
    const Daemon sim({});
    struct Case {
        const char* content;
        mode_t mode;
        std::optional<bool> up;  // none: it must not start
        const char* error;
    };
    const Case cases[] = {
        {"# the sample login\n\nuser=admin\npassword=wrong\n", 0600, false, ""},
        {"user=admin\npassword=secret\n", 0604, std::nullopt, "may be read by others"},
        {"user admin\n", 0600, std::nullopt, "login:1: expected user=... or password=..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        const TempDir dir;
        const std::string file = dir.Write("login", c.content);
        chmod(file.c_str(), c.mode);
        const std::vector<std::string> args{"--credentials", file};
        if (!c.up) {
            EXPECT_THROW(Exporter(sim.port, args, (dir / "err").string()), std::runtime_error);
            EXPECT_NE(dir.Read("err").find(c.error), std::string::npos) << dir.Read("err");
            continue;
        }
        const Exporter exporter(sim.port, args);
        const auto r = exporter.Get("/metrics");
        ASSERT_TRUE(r);
        EXPECT_EQ(!Down(r), *c.up) << r->body;
    }
}

// Prometheus itself, scraping the exporter twice a second with the
// shipped rules loaded.
struct Prometheus {
    Prometheus(const TempDir& dir, uint16_t exporter) : port(LoopbackSocket(false).port) {
        const std::string config = dir.Write("prometheus.yml", R"(global:
  scrape_interval: 500ms
  scrape_timeout: 500ms
  evaluation_interval: 500ms
rule_files: [")" + std::string(QV_RULES) + R"("]
scrape_configs:
  - job_name: quarvane
    static_configs: [{targets: [")" + Address(exporter) + R"("]}]
)");
        const int log =
            open((dir / "prometheus.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        pid = qvtest::Spawn(
            QV_PROMETHEUS,
            {"--config.file=" + config, "--storage.tsdb.path=" + (dir / "data").string(),
             "--web.listen-address=" + Address(port), "--log.level=warn"},
            {}, -1, log, log);
        close(log);
    }
    ~Prometheus() {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    json Api(const std::string& path, const httplib::Params& params = {}) const {
        httplib::Client client("127.0.0.1", port);
        const auto r = client.Get(("/api/v1/" + path).c_str(), params, {});
        return r && r->status == 200 ? json::parse(r->body)["data"] : json();
    }
    // The value of an instant query that gives one series, or -1.
    double Value(const std::string& query) const {
        const json data = Api("query", {{"query", query}});
        if (!data.is_object() || data["result"].size() != 1) return -1;
        return std::stod(data["result"][0]["value"][1].get<std::string>());
    }
    uint16_t port;
    pid_t pid;
};

TEST(Exporter, PrometheusSeesASynchronisationFinishAndAFailedVerifyFiresItsRule) {
    const TempDir dir;
    const Daemon sim({"--rate", "2048", "--fail-verify", "Harddisk1:1"});  // 8 GiB in 4 s
    const Exporter exporter(sim.port, SampleLogin(dir));
    const Prometheus prometheus(dir, exporter.port);
    ASSERT_TRUE(Eventually([&] { return prometheus.Value("quarvane_up") == 1; }))
        << dir.Read("prometheus.log");

    // The sample inventory's protection, in a group, and its cluster.
    EnableMirror(sim.port, u"Harddisk1", u"Harddisk3", u"Projects");
    ExpectScrape(
        exporter,
        {"quarvane_up 1",
         R"(quarvane_protection_info{primary="Harddisk1:1",mirror="Harddisk3:2"} 1)",
         R"(quarvane_protection_state{primary="Harddisk1:1",state="synchronizing"} 1)",
         R"(quarvane_protection_state{primary="Harddisk1:1",state="mirrored"} 0)",
         R"(quarvane_protection_condition{primary="Harddisk1:1",condition="synchronizing"} 1)",
         R"(quarvane_protection_size_bytes{primary="Harddisk1:1"} 8589934592)",
         R"(quarvane_protection_copy_rate_bytes_per_second{primary="Harddisk1:1"} 2147483648)",
         R"(quarvane_cluster_node_role{role="primary"} 1)",
         R"(quarvane_cluster_group_running_here{group="SQL Group"} 1)",
         R"(quarvane_cluster_group_running_here{group="File Server"} 0)",
         R"(quarvane_cluster_group_node{group="File Server"} 2)",
         R"(quarvane_group_members{group="Projects"} 1)",
         R"(quarvane_group_state{group="Projects",state="synchronizing"} 1)",
         R"(quarvane_group_size_bytes{group="Projects"} 8589934592)",
         "quarvane_event_last_sequence_number 1"});
    const auto in = [&](const std::string& state) {
        return prometheus.Value(R"(quarvane_protection_state{primary="Harddisk1:1",state=")" +
                                state + R"("})") == 1;
    };
    EXPECT_TRUE(Eventually([&] { return in("synchronizing"); }));
    EXPECT_TRUE(Eventually([&] { return in("mirrored"); }));
    // The copy read the whole primary and wrote the whole mirror; the
    // application's writes reach both sides.
    const auto io = [&](const std::string& what, const std::string& side, bool application) {
        return prometheus.Value(
            "quarvane_protection_io_" + what + R"(_total{primary="Harddisk1:1",)" + "side=\"" +
            side + "\",traffic=\"" + (application ? "application" : "background") + "\"}");
    };
    EXPECT_TRUE(Eventually([&] {
        return std::abs(io("read_bytes", "primary", false) - 8589934592.0) <= 4096 &&
               std::abs(io("written_bytes", "mirror", false) - 8589934592.0) <= 4096 &&
               io("written_bytes", "primary", true) > 0 &&
               io("written_bytes", "mirror", true) > 0 && io("writes", "primary", true) > 0;
    }));

    // A verify that fails: counted, and the rule fires.
    const QV_CONNECT_PARAM param{u"127.0.0.1", sim.port, u"admin", u"secret"};
    QV_HANDLE handle = nullptr;
    ASSERT_EQ(qvConnect(&param, &handle), QV_STATUS_SUCCESS);
    const QV_VERIFY_REQUEST verify{{u"Harddisk1", 1}, 0, 0, 0};
    EXPECT_EQ(qvVerifyData(handle, &verify), QV_STATUS_SUCCESS);
    const std::string firing =
        R"(ALERTS{alertname="QuarvaneVerifyFailed",primary="Harddisk1:1",alertstate="firing"})";
    EXPECT_TRUE(Eventually([&] { return prometheus.Value(firing) == 1; }));

    // Suspended (names are not case sensitive), the application's writes pile
    // up as data the mirror lacks.
    EXPECT_EQ(qvSuspendMirror(handle, u"HARDDISK1", 1), QV_STATUS_SUCCESS);
    qvDisconnect(&handle);
    EXPECT_TRUE(Eventually([&] {
        return prometheus.Value(
                   R"(quarvane_protection_unsynchronized_bytes{primary="Harddisk1:1"})") > 0 &&
               prometheus.Value(
                   R"(quarvane_protection_condition{primary="Harddisk1:1",condition="suspended"})") ==
                   1;
    }));

    // Every rule evaluated without error.
    EXPECT_TRUE(Eventually([&] {
        const json groups = prometheus.Api("rules")["groups"];
        if (groups.size() != 1 || groups[0]["rules"].size() != 6) return false;
        for (const json& rule : groups[0]["rules"]) {
            if (rule["health"] != "ok") return false;
        }
        return true;
    })) << prometheus.Api("rules").dump();
}

}  // namespace
