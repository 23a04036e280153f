// quarvane-sim: a stand-in Quarvane service for development, demos and the
// end-to-end tests. It serves the real wire protocol on 127.0.0.1:11580 from
// an in-memory model of disks and protections.
//
// When it is ready it prints "listening on ADDRESS:PORT" on stdout; with
// --port 0 that line is how a script learns the port. SIGTERM and SIGINT
// stop it cleanly, saving the state file if one is given. A daemon that
// cannot keep its state file refuses to start rather than lose changes.
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>

#include "cli_docs.h"
#include "families.h"
#include "model.h"
#include "registry.h"
#include "server.h"
#include "service.h"
#include "state_file.h"
#include "text.h"

#if defined(__SANITIZE_ADDRESS__)
#define QVSIM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QVSIM_ASAN 1
#endif
#endif

// A request may claim an array of billions of elements, and an XDR decoder
// may allocate room for all of them before it finds the request too short.
// The daemon's own needs are a few megabytes: its heap is capped, so that
// such a claim becomes an allocation failure, which the decoder reports as
// undecodable arguments, rather than gigabytes taken from the machine.
#ifdef QVSIM_ASAN
// AddressSanitizer keeps its own heap: cap each allocation there, and have
// it say no rather than end the daemon.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=64";
}
#endif

namespace {

namespace fs = std::filesystem;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The manual page's description, beyond what --help says.
constexpr const char* kManual =
    R"(quarvane-sim serves the Quarvane wire protocol from an in-memory model
of disks, partitions and protections, for development, demonstrations and
tests. When it is ready it prints "listening on ADDRESS:PORT" on stdout;
SIGTERM or SIGINT stop it.

With --state-file, every change is saved before it is answered and read
again at the next start. The daemon refuses to start when it cannot write
the file or another daemon holds it.)";

void CapHeap() {
#ifndef QVSIM_ASAN
    constexpr rlim_t kHeapCap = rlim_t{256} << 20;
    rlimit limit{};
    if (getrlimit(RLIMIT_DATA, &limit) == 0 && limit.rlim_cur > kHeapCap) {
        limit.rlim_cur = kHeapCap;
        setrlimit(RLIMIT_DATA, &limit);
    }
#endif
}

// The sample inventory: the installed copy (share/quarvane-sim beside the
// bin directory), else the one in the source tree the executable was built
// from.
fs::path DefaultInventory() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path installed =
            exe.parent_path() / ".." / "share" / "quarvane-sim" / "inventory.json";
        if (fs::exists(installed, ec)) return installed.lexically_normal();
    }
    return fs::path(QV_SIM_SOURCE_INVENTORY);
}

class SignalFd {
  public:
    SignalFd() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        // Blocked, the two arrive through the descriptor, between requests.
        sigprocmask(SIG_BLOCK, &set, nullptr);
        fd_ = signalfd(-1, &set, SFD_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("signalfd failed");
    }
    ~SignalFd() { close(fd_); }
    SignalFd(const SignalFd&) = delete;
    SignalFd& operator=(const SignalFd&) = delete;
    int fd() const noexcept { return fd_; }

  private:
    int fd_ = -1;
};

// "Harddisk1:2" names a partition, "Harddisk1" the whole disk.
std::optional<qvsim::ObjectId> ParseObject(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (text.empty() || colon == 0) return std::nullopt;
    if (colon == std::string::npos) return qvsim::ObjectId{qvsim::FromUtf8(text), 0};
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return qvsim::ObjectId{qvsim::FromUtf8(text.substr(0, colon)),
                           static_cast<uint32_t>(std::stoul(digits))};
}

int Serve(qvsim::Options options) {
    // A client that disconnects before its reply is written must not take
    // the daemon with it.
    std::signal(SIGPIPE, SIG_IGN);
    SignalFd stop;
    CapHeap();

    qvsim::Model model(qvsim::LoadInventory(options.inventory), options.rates, qvsim::Clock::now());
    model.FailVerifiesOf(options.failing_verifies);
    std::optional<qvsim::StateFileLock> lock;
    if (!options.state_file.empty()) {
        try {
            lock.emplace(options.state_file);
        } catch (const std::system_error& e) {
            throw std::runtime_error("cannot keep the state in " + options.state_file.string() +
                                     ": " + e.what());
        }
        if (const auto text = qvsim::ReadFileIfExists(options.state_file)) {
            std::vector<std::string> warnings;
            try {
                model.LoadState(nlohmann::json::parse(*text), warnings);
            } catch (const std::exception& e) {
                throw std::runtime_error(options.state_file.string() + ": " + e.what());
            }
            for (const auto& w : warnings) qvsim::Service::Warn(w);
        }
    }

    qvsim::Service service(std::move(options), std::move(model));
    // A state file that cannot be written is found now, not at the first
    // change a client makes.
    if (!service.SaveState()) return kExitFailure;
    qvsim::Registry registry;
    qvsim::RegisterAll(registry, service);
    qvsim::Server server(service, registry);
    const std::string where = server.Listen(service.options().listen, service.options().port);
    std::printf("listening on %s\n", where.c_str());
    std::fflush(stdout);

    server.Run(stop.fd());

    service.model().Advance(qvsim::Clock::now());
    // The exit status tells whether the state file holds the final state.
    const bool saved = service.SaveState();
    service.Trace("stopped");
    return saved ? 0 : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    qvsim::Options options;
    std::string user = "admin";
    std::string password = "secret";
    std::string inventory;
    std::string state_file;
    std::vector<std::string> failing_verifies;

    CLI::App app{"quarvane-sim: a stand-in Quarvane service with an in-memory model",
                 "quarvane-sim"};
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "quarvane-sim: " + std::string(e.what()) +
               "\nRun with --help for more information.\n";
    });
    app.add_option("--listen", options.listen, "IPv4 address to listen on")
        ->type_name("ADDRESS")
        ->capture_default_str();
    app.add_option("--port", options.port, "TCP port; 0 picks a free one")
        ->type_name("PORT")
        ->capture_default_str();
    app.add_option("--inventory", inventory, "JSON inventory of disks and partitions")
        ->type_name("FILE")
        ->check(CLI::ExistingFile);
    app.add_option("--state-file", state_file,
                   "keep protections, settings and snapshots in this file across restarts")
        ->type_name("FILE");
    app.add_option("--user", user, "the user name a login must give")
        ->type_name("NAME")
        ->capture_default_str();
    app.add_option("--password", password, "the password a login must give")->capture_default_str();
    app.add_option("--rate", options.rates.copy_mib_s,
                   "MiB/s of synchronisation, verify and restore")
        ->check(CLI::Range(1.0, 1.0e9))
        ->capture_default_str();
    app.add_option("--io-rate", options.rates.write_mib_s,
                   "MiB/s each primary is written by its applications (reads are 3 times that)")
        ->check(CLI::Range(0.0, 1.0e6))
        ->capture_default_str();
    app.add_option("--fail-verify", failing_verifies,
                   "a verify of the protection of this primary (NAME:NUMBER, or NAME for a whole "
                   "disk) meets a disk error halfway and fails; may be given more than once")
        ->type_name("OBJECT")
        ->check(CLI::Validator(
            [](const std::string& text) {
                const std::string refused = "expected NAME:NUMBER or NAME in UTF-8";
                try {
                    return ParseObject(text) ? std::string() : refused;
                } catch (const std::exception&) {
                    return refused;
                }
            },
            ""));
    app.add_flag("--verbose", options.verbose,
                 "trace every request on stderr: time, procedure, object and answer");
    app.set_version_flag("--version", std::string("quarvane-sim ") + QV_PACKAGE_VERSION,
                         "print the version and exit");
    app.footer(R"(Exit status:
  0  stopped by SIGTERM or SIGINT, the state file (if any) saved
  1  it did not start (a bad inventory or state file, a state file in use or
     not writable, the port taken) or could not save its state when it stopped
  2  the command line was wrong

Files:
  STATE.lock  beside the state file STATE: locked while the daemon runs, holds its pid
  ../share/quarvane-sim/inventory.json  the sample inventory, from the bin directory

Environment:
  quarvane-sim reads no environment variables.)");
    if (const auto status = qvdocs::HandleGenerateRequest(app, argc, argv, kManual)) return *status;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kExitUsage;
    }

    try {
        options.rates.read_mib_s = 3 * options.rates.write_mib_s;
        options.credentials.user = qvsim::FromUtf8(user);
        options.credentials.password = qvsim::FromUtf8(password);
        options.inventory = inventory.empty() ? DefaultInventory() : fs::path(inventory);
        options.state_file = state_file;
        for (const std::string& text : failing_verifies) {
            options.failing_verifies.push_back(*ParseObject(text));
        }
        return Serve(std::move(options));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quarvane-sim: %s\n", e.what());
        return kExitFailure;
    }
}
