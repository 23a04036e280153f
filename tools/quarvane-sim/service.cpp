#include "service.h"

#include <chrono>
#include <cstdio>
#include <ctime>
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

bool Service::SaveState() {
    if (options_.state_file.empty()) return true;
    try {
        WriteFileAtomically(options_.state_file, model_.SaveState().dump(2) + "\n");
        return true;
    } catch (const std::exception& e) {
        Warn("cannot save the state to " + options_.state_file.string() + ": " + e.what());
        return false;
    }
}

void Service::Trace(const std::string& line) const {
    if (!options_.verbose) return;
    // "2024-05-01T09:30:00.125Z": UTC to the millisecond.
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03dZ", static_cast<int>(millis.count()));
    std::fprintf(stderr, "%s %s\n", stamp, line.c_str());
}

void Service::Warn(const std::string& line) {
    std::fprintf(stderr, "quarvane-sim: %s\n", line.c_str());
}

}  // namespace qvsim
