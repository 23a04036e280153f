// qvctl status: every protection in one table, from one list call and one
// statistics call for each protection; --watch repeats it.
#include <unistd.h>

#include <ctime>
#include <iostream>

#include "protection.h"

namespace qvctl {
namespace {

std::vector<StatRecord> ReadAll(QV_HANDLE handle) {
    ConfigList configs;
    ReadConfigs(handle, nullptr, configs);
    const auto groups = GroupsByMember(handle);
    std::vector<StatRecord> records;
    for (const QV_MIRROR_CONFIG& c : configs) {
        const std::string primary = ObjectText(c.Primary.name, c.Primary.number);
        StatRecord r{primary, ObjectText(c.Mirror.name, c.Mirror.number), {}, {}, {}, {}};
        for (const auto& [member, group] : groups) {
            if (member == primary) r.group = group;
        }
        const QV_STATUS status = qvGetMirrorStat(handle, c.Primary.name, c.Primary.number, &r.stat);
        // Removed between the two calls: it is no longer there to show.
        if (status == QV_STATUS_SUCCESS) {
            CountSnapshots(handle, c.Primary.name, c.Primary.number, r);
            records.push_back(std::move(r));
        } else if (ExitCodeOf(Failure(status, "")) != kExitRefused) {
            Check(status, "read the statistics of " + primary);
        }
    }
    return records;
}

void Status(const Globals& g, unsigned watch) {
    Session session(g);
    if (watch == 0) {
        const auto records = ReadAll(session.handle());
        PrintList(g, StatFields(), records.begin(), records.end());
        if (records.empty() && !g.json && !g.scripted) {
            std::cerr << "qvctl: no protections yet; `qvctl disks` lists what there is, "
                         "`qvctl mirror enable PRIMARY MIRROR` protects a partition.\n";
        }
        return;
    }
    // A terminal is redrawn in place; anything else gets one table after
    // the other, a blank line between them.
    const bool redraw = !g.json && Terminal(STDOUT_FILENO);
    const InterruptScope scope;
    for (bool first = true;; first = false) {
        const auto records = ReadAll(session.handle());
        if (redraw) {
            const std::time_t now = std::time(nullptr);
            char stamp[32];
            std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
            std::cout << "\033[H\033[2J"
                      << "Every " << watch << "s: qvctl status    " << stamp << "\n\n";
        } else if (!first && !g.json) {
            std::cout << '\n';
        }
        PrintList(g, StatFields(), records.begin(), records.end());
        std::cout.flush();
        if (!Pause(std::chrono::seconds(watch))) return;
    }
}

}  // namespace

void AddStatusCommand(CLI::App& app, Commands& commands) {
    auto watch = std::make_shared<unsigned>(0);
    CLI::App* status = app.add_subcommand(
        "status",
        "Show every protection: state, condition, sync, rate, time left, snapshots, views and group");
    status
        ->add_option("--watch", *watch,
                     "Show it again every N seconds (2 when not given) until Ctrl-C")
        ->type_name("[N]")
        ->expected(0, 1)
        ->default_str("2")
        ->check(CLI::Range(1u, 86400u));
    commands.Add(status, [watch](const Globals& g) { Status(g, *watch); });
}

}  // namespace qvctl
