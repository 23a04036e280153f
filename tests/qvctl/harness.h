// Running qvctl against a real quarvane-sim (tests/sim/processes.h): qvctl
// runs with their exit status and output.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../sim/processes.h"

namespace qvctltest {

using qvtest::Daemon;
using qvtest::TempDir;

// A loopback port that is bound but not listening: connecting is refused.
class ClosedPort {
  public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

struct RunResult {
    int exit_code = -1;  // -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// While qvctl runs: once stdout and stderr together hold `seen`, `then`
// is done with qvctl's process id (Interrupt sends it Ctrl-C).
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

// Runs qvctl with `args` and the environment variables `env` added to (or
// replacing those of) the test's own. Killed after a minute.
RunResult RunQvctl(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env, const RunOptions& options = {});

}  // namespace qvctltest
