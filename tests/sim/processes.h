// The real programs as child processes, for the tests that run them
// (tests/sim, tests/qvctl, tests/exporter): quarvane-sim on a free loopback
// port, any program with its own stdin, stdout, stderr and environment, and
// loopback ports where nothing answers (the temporary directory for what they
// read and write is the support's TempDir).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../support/temp_dir.h"

namespace qvtest {

// Starts `exe` with `args` as from a shell, whatever the test process has
// set for itself: default signal dispositions, nothing blocked (an ignored
// SIGPIPE would otherwise be inherited and hide the program's own
// handling). The environment is the test's with `env` added or replaced;
// stdin is `in` (-1: /dev/null), stdout `out`, stderr `err` (-1: the
// test's own).
pid_t Spawn(const std::string& exe, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, int in, int out, int err);

// quarvane-sim on 127.0.0.1 with --port 0 and `args`. Its stderr goes to
// the file `err` when one is named. The second form starts any daemon
// that says "listening on 127.0.0.1:PORT" on stdout once ready.
struct Daemon {
    explicit Daemon(const std::vector<std::string>& args, const std::string& err = "");
    Daemon(const std::string& exe, const std::vector<std::string>& args, const std::string& err);
    ~Daemon() { Stop(); }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;
    // Sends `signal` and reaps the daemon (killed if not gone within a
    // minute); returns its wait status, also on later calls.
    int Stop(int signal = SIGTERM);

    pid_t pid = -1;
    uint16_t port = 0;
    int wait_status = 0;
};

// What /proc tells of a process (0: this one): its resident memory in KiB
// and its open descriptors; -1 when it cannot be read.
long ResidentKiB(pid_t pid = 0);
long OpenDescriptors(pid_t pid = 0);

struct RunResult {
    int exit_code = -1;  // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// While a program runs: once stdout and stderr together hold `seen`,
// `then` is done with its process id (Interrupt sends it Ctrl-C).
struct Step {
    std::string seen;
    std::function<void(pid_t)> then;
};
void Interrupt(pid_t pid);

struct RunOptions {
    std::string input = {};    // written to stdin, then closed
    bool terminal = false;     // stdin and stderr on a pseudo-terminal
    bool full_stdout = false;  // stdout is /dev/full
    std::vector<Step> steps = {};
};

// Runs `exe` with `args` and the environment variables `env` added to (or
// replacing those of) the test's own, to its end. Killed after a minute.
RunResult Run(const std::string& exe, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env, const RunOptions& options = {});

// A socket bound to a free loopback port while it lives: listening
// (connections complete in its backlog and are never answered) or not
// (connecting is refused).
struct LoopbackSocket {
    explicit LoopbackSocket(bool listening);
    ~LoopbackSocket();
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;
    int fd = -1;
    uint16_t port = 0;
};

// A TCP connection to `port` on loopback, which the caller closes; -1 when
// it cannot be made.
int ConnectLoopback(uint16_t port);

// Polls `done` until it holds, for `limit` at most. Only for what
// progresses on its own: a daemon's clock, a scraper's interval.
bool Eventually(const std::function<bool()>& done,
                std::chrono::seconds limit = std::chrono::seconds(120));

}  // namespace qvtest
