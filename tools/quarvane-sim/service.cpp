#include "service.h"

#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>

#include "state_file.h"
#include "status.h"

namespace qvsim {

Service::Service(Options options, Model model)
    : options_(std::move(options)), model_(std::move(model)) {}

uint32_t Service::Rescan() {
    try {
        model_.ReplaceInventory(LoadInventory(options_.inventory));
        Trace("rescan: inventory read again from " + options_.inventory.string());
        return status::kOk;
    } catch (const std::exception& e) {
        Warn(std::string("rescan failed, keeping the old inventory: ") + e.what());
        return status::kDiskError;
    }
}

void Service::SaveState() {
    if (options_.state_file.empty()) return;
    try {
        WriteFileAtomically(options_.state_file, model_.SaveState().dump(2) + "\n");
    } catch (const std::exception& e) {
        Warn("cannot save the state to " + options_.state_file.string() + ": " + e.what());
    }
}

void Service::Trace(const std::string& line) const {
    if (options_.verbose) std::fprintf(stderr, "quarvane-sim: %s\n", line.c_str());
}

void Service::Warn(const std::string& line) {
    std::fprintf(stderr, "quarvane-sim: %s\n", line.c_str());
}

}  // namespace qvsim
