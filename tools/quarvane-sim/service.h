// What the procedure families work on: the daemon's options, its model and
// the open login sessions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "model.h"
#include "sessions.h"

namespace qvsim {

struct Options {
    std::string listen = "127.0.0.1";
    uint16_t port = 11580;
    std::filesystem::path inventory;
    std::filesystem::path state_file;  // empty: nothing is saved
    Credentials credentials;
    Rates rates;
    std::vector<ObjectId> failing_verifies;  // --fail-verify
    bool verbose = false;
};

class Service {
  public:
    Service(Options options, Model model);

    const Options& options() const noexcept { return options_; }
    Model& model() noexcept { return model_; }
    Sessions& sessions() noexcept { return sessions_; }

    // Reads the inventory file again. On failure the old inventory stays and
    // the word to answer is returned.
    uint32_t Rescan();

    // Writes the model to the state file, if there is one. A failure is
    // reported on stderr and does not stop the daemon; false then.
    bool SaveState();

    // A line on stderr after a time stamp, when --verbose is given.
    void Trace(const std::string& line) const;
    // A line on stderr always.
    static void Warn(const std::string& line);

  private:
    Options options_;
    Model model_;
    Sessions sessions_;
};

}  // namespace qvsim
