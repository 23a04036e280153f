// One scrape of one service: connect, read what the metrics need through
// the public interface, disconnect, and write the readings as metric
// families.
#pragma once

#include <qvcliapi.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exposition.h"

namespace qvexp {

struct Target {
    std::string host;
    uint16_t port = 0;
};

// HOST:PORT, the port 1 to 65535 (0 too with any_port); nullopt for
// anything else.
std::optional<Target> ParseTarget(const std::string& text, bool any_port = false);

struct Login {
    std::u16string user;
    std::u16string password;
};

std::string ToUtf8(const QV_WCHAR* text);

// A protection, named by its primary (`Harddisk1:1`).
struct ProtectionReading {
    std::string primary;
    std::string mirror;
    QV_MIRROR_STAT stat{};
    bool snapshots_read = false;  // false when the service refused the list
    uint32_t snapshots = 0;
    uint32_t views = 0;
    int64_t newest_snapshot = 0;  // seconds since 1970; 0 without snapshots
    uint64_t verify_failures = 0;
};

struct ClusterGroupReading {
    std::string name;
    int32_t node = 0;  // 1 or 2, as the cluster lists its nodes
    bool here = false;
    int32_t failovers = 0;
};

struct ClusterReading {
    uint32_t role = 0;  // 1 primary, 2 secondary
    std::string name;
    std::string local_node;
    std::string partner_node;
    std::vector<ClusterGroupReading> groups;
};

// A protection group, its members named by their primaries.
struct GroupReading {
    std::string name;
    std::vector<std::string> members;
};

// Everything one scrape read. `up` is false when the service could not be
// reached, refused the login, or the connection broke on the way; the
// rest is then empty.
struct Reading {
    bool up = false;
    QV_STATUS status = QV_STATUS_SUCCESS;  // what broke the reading when not up
    std::vector<ProtectionReading> protections;
    std::vector<GroupReading> groups;
    std::optional<ClusterReading> cluster;  // without a cluster: none
    std::optional<uint32_t> newest_event;   // none while the log is empty
};

Reading Read(const Target& target, const Login& login);

// The families of a reading, scrape_seconds being how long it took.
void Write(const Reading& reading, double scrape_seconds, Exposition& out);

// What a scrape answers when there was no reading in time.
void WriteDown(double scrape_seconds, Exposition& out);

// A line on stderr about a scrape of `target`.
void Log(const Target& target, const std::string& what);

// Read and Write together, timed; a failed reading is logged.
std::string Scrape(const Target& target, const Login& login);

}  // namespace qvexp
