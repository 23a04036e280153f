// The fuzz targets of the one fuzzer program: every remote function of the
// table of exported functions (its name), "session" (the LOGIN and LOGOUT
// replies through qvConnect and qvDisconnect) and "disk_kinds"
// (qvGetDiskList in every list kind). Each takes the reply bytes and runs
// the whole road on a client that decodes them from memory.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "support/test_service.h"

namespace qvfuzz {

struct Target {
    std::string name;
    void (*run)(std::size_t index, std::span<const uint8_t> reply);
    std::vector<qvtest::Bytes> (*seeds)(std::size_t index);
};

// In a fixed order: an input's first byte picks the target by its place.
const std::vector<Target>& Targets();

// Writes seeds/<target>/sample-<n> for every target (each seed begins with
// the target's selector byte) and targets.txt, the names one a line, into
// `directory`. False when a target has no seed or a file cannot be written.
bool WriteSeeds(const std::string& directory);

}  // namespace qvfuzz
