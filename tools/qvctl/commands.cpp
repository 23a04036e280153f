// What every command shares beyond its call: choosing the command,
// confirming destructive ones, succeeding when there is nothing to do.
#include <unistd.h>

#include <iostream>

#include "qvctl.h"

namespace qvctl {

const Commands::Action* Commands::Chosen() const {
    const Action* chosen = nullptr;
    int depth = -1;
    for (const auto& [app, action] : actions_) {
        if (!app->parsed()) continue;
        int d = 0;
        for (const CLI::App* p = app->get_parent(); p != nullptr; p = p->get_parent()) ++d;
        if (d > depth) {
            depth = d;
            chosen = &action;
        }
    }
    return chosen;
}

std::string Fill(const char* pattern, const std::string& object) {
    std::string text = pattern;
    if (const auto at = text.find("{}"); at != std::string::npos) text.replace(at, 2, object);
    return text;
}

void Done(const Globals& globals, const std::string& operation, const std::string& object,
          const std::string& sentence, bool changed) {
    if (globals.json) {
        json out = {{"operation", operation}, {"status", Hex8(QV_STATUS_SUCCESS)}};
        if (!object.empty()) out["object"] = object;
        out["changed"] = changed;
        PrintJson(out);
    } else {
        std::cout << sentence << '\n';
    }
}

bool Terminal(int fd) { return isatty(fd) == 1; }

CLI::Option* AddYes(CLI::App* app, bool& yes) {
    return app->add_flag("-y,--yes", yes,
                         "Do not ask for confirmation (needed without a terminal)");
}

void Confirm(bool yes, const std::string& question) {
    if (yes) return;
    if (!Terminal(STDIN_FILENO) || !Terminal(STDERR_FILENO)) {
        throw UsageError(question + " Nothing done: confirm with --yes (no terminal to ask on).");
    }
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer != "y" && answer != "Y" && answer != "yes") {
        throw Unfinished("not confirmed; nothing done.");
    }
}

void AddObjectCommands(CLI::App& parent, Commands& commands, std::span<const ObjectCommand> table) {
    for (const ObjectCommand& row : table) {
        struct Args {
            std::string object;
            bool yes = false;
        };
        auto args = std::make_shared<Args>();
        CLI::App* sub = parent.add_subcommand(row.name, row.help);
        AddObjectArg(sub, "PRIMARY", args->object, "The protected disk or partition")->required();
        if (row.confirm != nullptr) AddYes(sub, args->yes);
        commands.Add(sub, [args, &row](const Globals& g) {
            const Object o = ObjectArg(args->object);
            if (row.confirm != nullptr) Confirm(args->yes, Fill(row.confirm, o.text));
            Session session(g);
            const QV_STATUS status = row.call(session.handle(), o.name.c_str(), o.number);
            // A refusal because the object already is as asked is success.
            if (status != QV_STATUS_SUCCESS && ExitCodeOf(Failure(status, "")) == kExitRefused &&
                row.is_already != nullptr && row.is_already(session.handle(), o)) {
                Done(g, row.name, o.text, Fill(row.already, o.text), false);
                return;
            }
            Check(status, Fill(row.doing, o.text));
            Done(g, row.name, o.text, Fill(row.done, o.text));
        });
    }
}

}  // namespace qvctl
