// quarvane-exporter: the service's protections as Prometheus metrics.
//
//   GET /metrics               the default target (--target)
//   GET /probe?target=HOST:PORT any service, so that one exporter serves many
//
// Every scrape connects, reads and disconnects; scrapes are served by a
// bounded pool of threads.
#include <httplib.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "cli_docs.h"
#include "collector.h"
#include "platform/bounded_utf.h"
#include "scraper.h"

#ifndef QV_PACKAGE_VERSION
#define QV_PACKAGE_VERSION "0"
#endif

namespace qvexp {
namespace {

constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";
constexpr const char* kIndex =
    "quarvane-exporter: Prometheus metrics of the Quarvane service.\n"
    "  /metrics                   the default target\n"
    "  /probe?target=HOST:PORT    any service\n";

constexpr const char* kManual =
    R"(quarvane-exporter serves the Quarvane service's protections, groups,
snapshots, cluster and event log as Prometheus metrics: /metrics for the
default target, /probe?target=HOST:PORT for any other. Each scrape logs in,
reads and logs out; a service that cannot be reached, refuses the login or
does not answer within the scrape's timeout (Prometheus's
X-Prometheus-Scrape-Timeout-Seconds, else --timeout) gives quarvane_up 0.
When it is ready it prints "listening on ADDRESS:PORT" on stdout.

--threads connections are served at once and up to 256 more wait for a
thread; the others wait in the listening socket's backlog, so that a crowd
costs neither threads nor memory without bound. Each connection carries one
request. A client has 2 seconds to start its request and 2 seconds for each
part of it, 5 seconds to take each part of the response; a client that
stalls or stops reading holds its thread no longer. Requests larger than
64 KiB are refused (413), malformed ones answered 400.)";

// Connections accepted but not yet served, past which no more are accepted.
constexpr std::size_t kMaxWaiting = 256;

// The server's threads, with a bound on the connections waiting for one:
// past it the accepting thread waits too, and further connections wait in
// the listening socket's backlog, which costs this process nothing.
class BoundedPool : public httplib::ThreadPool {
  public:
    explicit BoundedPool(std::size_t threads) : ThreadPool(threads) {}
    void enqueue(std::function<void()> serve) override {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [this] { return waiting_ < kMaxWaiting; });
        ++waiting_;
        lock.unlock();
        ThreadPool::enqueue([this, serve = std::move(serve)] {
            {
                const std::lock_guard taken(mutex_);
                --waiting_;
            }
            room_.notify_one();
            serve();
        });
    }

  private:
    std::mutex mutex_;
    std::condition_variable room_;
    std::size_t waiting_ = 0;
};

struct Options {
    std::string listen = "127.0.0.1:9755";
    std::string target = "127.0.0.1:11580";
    std::string credentials;
    unsigned threads = 16;
    double timeout = 10;
};

struct StartError {
    std::string message;
};

std::u16string Widen(const std::string& utf8) {
    std::u16string out(utf8.size() + 1, u'\0');
    const std::size_t n = qv::Utf8ToUtf16(utf8, out);
    if (n == qv::kConvertFailed) throw StartError{"the credentials are not valid UTF-8"};
    out.resize(n);
    return out;
}

// Lines `user=...` and `password=...`; blank lines and lines beginning
// with # are skipped. A file others may read is refused: it holds a
// password.
Login ReadCredentials(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw StartError{"cannot read " + path};
    if ((st.st_mode & (S_IROTH | S_IWOTH)) != 0) {
        throw StartError{path + " may be read by others; chmod o-rw " + path};
    }
    std::ifstream in(path);
    if (!in) throw StartError{"cannot read " + path};
    Login login;
    std::string line;
    for (unsigned number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const auto eq = line.find('=');
        const std::string key = line.substr(0, eq);
        if (eq == std::string::npos || (key != "user" && key != "password")) {
            throw StartError{path + ":" + std::to_string(number) +
                             ": expected user=... or password=..."};
        }
        (key == "user" ? login.user : login.password) = Widen(line.substr(eq + 1));
    }
    return login;
}

CLI::Validator Endpoint(bool any_port) {
    return CLI::Validator(
        [any_port](std::string& text) -> std::string {
            return ParseTarget(text, any_port) ? "" : "expected HOST:PORT, not " + text;
        },
        "");
}

void Serve(const Options& options, const Target& listen, const Target& target, Login login) {
    Scraper scraper(std::move(login), options.threads * 4);
    const std::chrono::duration<double> limit{options.timeout};
    httplib::Server server;
    const unsigned threads = options.threads;
    server.new_task_queue = [threads] { return new BoundedPool(threads); };
    // One request a connection: a scrape comes seconds apart, and a
    // kept-alive connection would hold its thread idle meanwhile.
    server.set_keep_alive_max_count(1);
    server.set_keep_alive_timeout(2);
    server.set_tcp_nodelay(true);
    server.set_read_timeout(2);
    server.set_write_timeout(5);
    server.set_payload_max_length(64 * 1024);
    int listener = -1;
    server.set_socket_options([&listener](socket_t sock) {
        httplib::default_socket_options(sock);
        listener = sock;
    });
    const auto scrape = [&](const httplib::Request& req, httplib::Response& res,
                            const Target& which) {
        const auto timeout =
            ScrapeTimeout(req.get_header_value("X-Prometheus-Scrape-Timeout-Seconds"), limit);
        res.set_content(scraper.Run(which, timeout), kContentType);
    };
    server.Get("/metrics", [&](const httplib::Request& req, httplib::Response& res) {
        scrape(req, res, target);
    });
    server.Get("/probe", [&](const httplib::Request& req, httplib::Response& res) {
        const auto which = ParseTarget(req.get_param_value("target"));
        if (!which) {
            res.status = 400;
            res.set_content("target must be HOST:PORT\n", "text/plain");
            return;
        }
        scrape(req, res, *which);
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kIndex, "text/plain");
    });

    const int port = listen.port == 0
                         ? server.bind_to_any_port(listen.host)
                         : (server.bind_to_port(listen.host, listen.port) ? listen.port : -1);
    if (port <= 0) throw StartError{"cannot listen on " + options.listen};
    // The server listens with a backlog of 5; a crowd connecting at once
    // would see its connections dropped and retried a second later.
    ::listen(listener, SOMAXCONN);
    std::cout << "listening on " << listen.host << ":" << port << std::endl;

    // SIGTERM and SIGINT stop the server; the signals are taken by a
    // thread of their own, blocked everywhere else.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    std::thread([&server, stops] {
        int signal = 0;
        sigwait(&stops, &signal);
        server.stop();
    }).detach();
    server.listen_after_bind();
    // A scrape still waiting on a silent service must not hold the exit.
    if (scraper.running() != 0) std::_Exit(0);
}

}  // namespace
}  // namespace qvexp

int main(int argc, char** argv) {
    using namespace qvexp;
    Options options;
    CLI::App app{"the Quarvane service's protections as Prometheus metrics", "quarvane-exporter"};
    app.set_version_flag("--version", std::string("quarvane-exporter ") + QV_PACKAGE_VERSION);
    app.add_option("--listen", options.listen, "Address and port to serve on (port 0: any)")
        ->type_name("ADDRESS:PORT")
        ->check(Endpoint(true))
        ->capture_default_str();
    app.add_option("--target", options.target, "The service /metrics reads")
        ->type_name("HOST:PORT")
        ->check(Endpoint(false))
        ->capture_default_str();
    app.add_option("--credentials", options.credentials,
                   "File with the login: lines user=... and password=...; others may not read it")
        ->type_name("FILE");
    app.add_option("--threads", options.threads, "Connections served at once")
        ->type_name("N")
        ->capture_default_str()
        ->check(CLI::Range(1u, 256u));
    app.add_option("--timeout", options.timeout,
                   "Longest scrape in seconds, when Prometheus does not say")
        ->type_name("SECONDS")
        ->capture_default_str()
        ->check(CLI::Range(0.1, 600.0));
    app.footer(R"(Exit status:
  0  stopped by SIGTERM or SIGINT
  1  it did not start: a credentials file unreadable, malformed or open to others; the address taken
  2  the command line was wrong

Files:
  ../share/quarvane-exporter/quarvane.rules.yml  alerting rules for Prometheus, from the bin directory
  ../lib/systemd/system/quarvane-exporter.service  the systemd unit, not enabled by the install

Environment:
  QUARVANE_PARAMETERS  the parameters file naming the folder of the library's trace file)");
    if (const auto status = qvdocs::HandleGenerateRequest(app, argc, argv, kManual)) return *status;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }

    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        Login login = options.credentials.empty() ? Login{} : ReadCredentials(options.credentials);
        Serve(options, *ParseTarget(options.listen, true), *ParseTarget(options.target),
              std::move(login));
    } catch (const StartError& e) {
        std::cerr << "quarvane-exporter: " << e.message << "\n";
        return 1;
    }
    return 0;
}
