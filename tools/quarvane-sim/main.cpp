// quarvane-sim: a stand-in Quarvane service for development, demos and the
// end-to-end tests. It serves the real wire protocol on 127.0.0.1:11580 from
// an in-memory model of disks and protections.
//
// When it is ready it prints "listening on ADDRESS:PORT" on stdout; with
// --port 0 that line is how a script learns the port. SIGTERM and SIGINT
// stop it cleanly, saving the state file if one is given.
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <nlohmann/json.hpp>

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

int Serve(qvsim::Options options) {
    // A client that disconnects before its reply is written must not take
    // the daemon with it.
    std::signal(SIGPIPE, SIG_IGN);
    SignalFd stop;
    CapHeap();

    qvsim::Model model(qvsim::LoadInventory(options.inventory), options.rates, qvsim::Clock::now());
    if (!options.state_file.empty()) {
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
    qvsim::Registry registry;
    qvsim::RegisterAll(registry, service);
    qvsim::Server server(service, registry);
    const std::string where = server.Listen(service.options().listen, service.options().port);
    std::printf("listening on %s\n", where.c_str());
    std::fflush(stdout);

    server.Run(stop.fd());

    service.model().Advance(qvsim::Clock::now());
    service.SaveState();
    service.Trace("stopped");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qvsim::Options options;
    std::string user = "admin";
    std::string password = "secret";
    std::string inventory;
    std::string state_file;

    CLI::App app{"quarvane-sim: a stand-in Quarvane service with an in-memory model"};
    app.add_option("--listen", options.listen, "IPv4 address to listen on")->capture_default_str();
    app.add_option("--port", options.port, "TCP port; 0 picks a free one")->capture_default_str();
    app.add_option("--inventory", inventory, "JSON inventory of disks and partitions")
        ->check(CLI::ExistingFile);
    app.add_option("--state-file", state_file,
                   "keep protections and settings in this file across restarts");
    app.add_option("--user", user, "the user name a login must give")->capture_default_str();
    app.add_option("--password", password, "the password a login must give")->capture_default_str();
    app.add_option("--rate", options.rates.copy_mib_s,
                   "MiB/s of synchronisation, verify and restore")
        ->check(CLI::Range(1.0, 1.0e9))
        ->capture_default_str();
    app.add_option("--io-rate", options.rates.write_mib_s,
                   "MiB/s each primary is written by its applications (reads are 3 times that)")
        ->check(CLI::Range(0.0, 1.0e6))
        ->capture_default_str();
    app.add_flag("--verbose", options.verbose, "trace every request on stderr");
    CLI11_PARSE(app, argc, argv);

    try {
        options.rates.read_mib_s = 3 * options.rates.write_mib_s;
        options.credentials.user = qvsim::FromUtf8(user);
        options.credentials.password = qvsim::FromUtf8(password);
        options.inventory = inventory.empty() ? DefaultInventory() : fs::path(inventory);
        options.state_file = state_file;
        return Serve(std::move(options));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quarvane-sim: %s\n", e.what());
        return 1;
    }
}
