// qvctl: the command-line tool of the Quarvane service.
//
//   qvctl [--host H] [--port P] [--user U] [--password W] [--json] COMMAND ...
//
// Exit status: 0 success, 1 the library or the service gave a failure
// status (printed with its message on stderr), 2 the command line was wrong.
#include <iostream>

#include "cli_docs.h"
#include "qvctl.h"

namespace {

using namespace qvctl;

void AddMessageCommand(CLI::App& app, Commands& commands) {
    auto status = std::make_shared<std::string>();
    CLI::App* m = app.add_subcommand("message", "Show the message text of a status");
    m->add_option("STATUS", *status, "The status: 0x6FFC0010, 6FFC0010 or decimal")
        ->required()
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return ParseStatus(text) ? "" : "'" + text + "' is not a status";
            },
            "STATUS"));
    commands.Add(m, [status](const Globals& g) {
        const QV_STATUS s = ParseStatus(*status).value_or(0);
        const std::string text = MessageText(s);
        if (g.json) {
            PrintJson({{"status", Hex8(s)}, {"message", text}});
        } else {
            std::cout << text << '\n';
        }
    });
}

int Fail(const std::string& message) {
    std::cerr << "qvctl: " << message << '\n';
    return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    Globals globals;
    Commands commands;

    CLI::App app{"qvctl: manage the disks and protections of a Quarvane service", "qvctl"};
    // Global options may also follow the subcommand.
    app.fallthrough();
    app.require_subcommand(1);
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "qvctl: " + std::string(e.what()) + "\nRun with --help for more information.\n";
    });
    const std::string connection = "Connection";
    app.add_option("--host", globals.host, "Host name or IPv4 address of the service")
        ->envname("QVCTL_HOST")
        ->capture_default_str()
        ->group(connection);
    app.add_option("--port", globals.port, "TCP port of the service")
        ->envname("QVCTL_PORT")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str()
        ->group(connection);
    app.add_option("--user", globals.user, "User name to log in with")
        ->envname("QVCTL_USER")
        ->group(connection);
    app.add_option("--password", globals.password, "Password to log in with")
        ->envname("QVCTL_PASSWORD")
        ->group(connection);
    app.add_flag("--json", globals.json, "Machine-readable output: one JSON document per line");

    AddDiskCommands(app, commands);
    CLI::App* mirror = app.add_subcommand("mirror", "Protect disks and partitions by mirrors");
    mirror->require_subcommand(1);
    AddMirrorConfigCommands(*mirror, commands);
    AddMirrorCommands(*mirror, commands);
    AddTraceConfigCommands(app, commands);
    AddSnapshotCommands(app, commands);
    AddMaintenanceCommands(app, commands);
    AddMessageCommand(app, commands);
    // The build's requests for the manual page and the bash completion; the
    // page also names the files the library reads, which --help need not.
    constexpr const char* kManualFiles = R"(Files:
  /etc/quarvane/parameters.ini  the parameters file; QUARVANE_PARAMETERS names another
  PATH/log/qvapi.log  the trace file, written when its log folder exists; PATH is the Path
     of the parameters file's [Parameters] section

Environment:
  QUARVANE_PARAMETERS  the parameters file to read instead of /etc/quarvane/parameters.ini)";
    if (const auto status = qvdocs::HandleGenerateRequest(app, argc, argv, kManualFiles)) {
        return *status;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }

    const Commands::Action* action = commands.Chosen();
    if (action == nullptr) {
        std::cerr << app.help();
        return kExitUsage;
    }
    try {
        (*action)(globals);
    } catch (const Failure& f) {
        std::string message = "cannot " + std::string(f.what()) + ": error " + Hex8(f.status());
        const std::string text = MessageText(f.status());
        if (text != Hex8(f.status())) message += ": " + text;
        return Fail(message);
    } catch (const Unfinished& u) {
        return Fail(u.what());
    } catch (const UsageError& u) {
        std::cerr << "qvctl: " << u.what() << "\nRun with --help for more information.\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return kExitOk;
}
