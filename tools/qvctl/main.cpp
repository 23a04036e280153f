// qvctl: the command-line tool of the Quarvane service.
//
//   qvctl [--host H] [--port P] [--user U] [-j|-H|-p|-o FIELDS] COMMAND ...
//
// The exit status tells a script what happened; the table is kHelpFooter.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli_docs.h"
#include "qvctl.h"

namespace {

using namespace qvctl;

constexpr const char* kHelpFooter =
    R"(Login: without --user, a loopback host (127.0.0.1, localhost) gets
quarvane-sim's sample login, admin with password secret. Otherwise set
QVCTL_USER and QVCTL_PASSWORD, or pass --user and --password-file FILE;
on a terminal qvctl asks for a password it is not given.

Exit status:
  0    success, also when the object already was as asked
  1    the operation failed: a long operation did not complete, a
       confirmation was declined, the output could not be written
  2    usage: the command line was wrong, or a destructive command
       needs --yes because there is no terminal to ask on
  3    the service is unreachable: unknown host, nothing listening,
       timed out, connection lost; for service status, the local
       service does not run (as systemctl is-active answers)
  4    the service refused the login
  5    the service refused the request
  130  interrupted (Ctrl-C); an operation being followed keeps running)";

void AddMessageCommand(CLI::App& app, Commands& commands) {
    auto status = std::make_shared<std::string>();
    CLI::App* m = app.add_subcommand("message", "Show what a status means");
    m->add_option("STATUS", *status, "The status: 0x6FFC0010, 6FFC0010 or decimal")
        ->required()
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return ParseStatus(text) ? "" : "'" + text + "' is not a status";
            },
            "STATUS"));
    commands.Add(m, [status](const Globals& g) {
        const QV_STATUS s = ParseStatus(*status).value_or(0);
        // The library's message, or qvctl's words where it has none.
        std::string text = MessageText(s);
        if (text == Hex8(s)) text = StatusWords(s);
        if (text == Hex8(s)) text = "no message for this status";
        if (g.json) {
            PrintJson({{"status", Hex8(s)}, {"message", text}});
        } else {
            std::cout << text << '\n';
        }
    });
}

std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

const CLI::Option* FindOption(const CLI::App* app, const std::string& name) {
    for (; app != nullptr; app = app->get_parent()) {
        if (const CLI::Option* o = app->get_option_no_throw(name)) return o;
    }
    return nullptr;
}

// The first word that should name a subcommand and does not, with the
// nearest name as a suggestion.
std::optional<std::string> UnknownCommand(const CLI::App& app, int argc, char** argv) {
    const CLI::App* at = &app;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") return std::nullopt;
        if (arg.size() > 1 && arg[0] == '-') {
            const CLI::Option* o = FindOption(at, arg.substr(0, arg.find('=')));
            if (o != nullptr && o->get_expected_min() > 0 && arg.find('=') == std::string::npos)
                ++i;
            continue;
        }
        const auto subs = at->get_subcommands([](const CLI::App*) { return true; });
        const auto next = std::find_if(subs.begin(), subs.end(),
                                       [&](const CLI::App* s) { return s->get_name() == arg; });
        if (next != subs.end()) {
            at = *next;
            continue;
        }
        if (subs.empty() ||
            !at->get_options([](const CLI::Option* o) { return o->get_positional(); }).empty()) {
            return std::nullopt;
        }
        std::string where = at->get_name();
        for (const CLI::App* p = at->get_parent(); p != nullptr; p = p->get_parent()) {
            where = p->get_name() + " " + where;
        }
        std::string message = "unknown command '" + arg + "' for '" + where + "'";
        const CLI::App* best = nullptr;
        std::size_t best_distance = 3;
        for (const CLI::App* s : subs) {
            const std::string& name = s->get_name();
            const std::size_t d =
                name.rfind(arg, 0) == 0 || arg.rfind(name, 0) == 0 ? 1 : Distance(arg, name);
            if (d < best_distance) {
                best = s;
                best_distance = d;
            }
        }
        if (best != nullptr) message += ", did you mean '" + best->get_name() + "'?";
        return message + "\nRun '" + where + " --help' for its commands.";
    }
    return std::nullopt;
}

// stdout must have reached its file: a full disk is a failure, not a success.
int Finish(int code) {
    std::cout.flush();
    const bool failed = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    if (!failed) return code;
    const int error = errno;
    std::cerr << "qvctl: cannot write the output: " << std::strerror(error != 0 ? error : EIO)
              << '\n';
    return code == kExitOk ? kExitFailed : code;
}

}  // namespace

int main(int argc, char** argv) {
    Globals globals;
    Commands commands;

    CLI::App app{"qvctl: manage the disks and protections of a Quarvane service", "qvctl"};
    // Global options may also follow the subcommand.
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("qvctl ") + QV_VERSION_STRING,
                         "Print the version and exit");
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "qvctl: " + std::string(e.what()) + "\nRun with --help for more information.\n";
    });
    // A later --host wins over an earlier one, as in most tools.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
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
    CLI::Option* password =
        app.add_option("--password", globals.password,
                       "Password to log in with (others can read a command line: prefer "
                       "QVCTL_PASSWORD or --password-file)")
            ->envname("QVCTL_PASSWORD")
            ->group(connection);
    app.add_option("--password-file", globals.password_file,
                   "Read the password from the first line of FILE")
        ->type_name("FILE")
        ->group(connection);
    const std::string output = "Output";
    app.add_flag("-j,--json", globals.json,
                 "JSON: one document per line; sizes in bytes, times in seconds")
        ->group(output);
    app.add_flag("-H", globals.scripted, "Scripted: no header, fields separated by one tab")
        ->group(output);
    app.add_flag("-p", globals.exact, "Exact numbers: bytes, bytes per second, seconds")
        ->group(output);
    app.add_option("-o", globals.columns, "Only these fields, in this order; -o help lists them")
        ->type_name("FIELD,...")
        ->delimiter(',')
        ->allow_extra_args(false)
        ->group(output);

    AddStatusCommand(app, commands);
    AddDiskCommands(app, commands);
    CLI::App* mirror = app.add_subcommand("mirror", "Protect disks and partitions by mirrors");
    mirror->require_subcommand(1);
    AddMirrorConfigCommands(*mirror, commands);
    AddMirrorCommands(*mirror, commands);
    AddTraceConfigCommands(app, commands);
    AddLogCommand(app, commands);
    AddClusterCommands(app, commands);
    AddDiagnosticsCommands(app, commands);
    AddSnapshotCommands(app, commands);
    AddMaintenanceCommands(app, commands);
    AddGroupCommands(app, commands);
    AddLocalMachineCommands(app, commands);
    AddMessageCommand(app, commands);
    app.footer(kHelpFooter);  // after the subcommands, which would inherit it
    // The build's requests for the manual page and the bash completion; the
    // page also names the files the library reads, which --help need not.
    constexpr const char* kManualFiles = R"(Files:
  /etc/quarvane/parameters.ini  the parameters file; QUARVANE_PARAMETERS names another
  PATH/log/qvapi.log  the trace file, written when its log folder exists; PATH is the Path
     of the parameters file's [Parameters] section; qvctl log prints it

Environment:
  QUARVANE_PARAMETERS  the parameters file to read instead of /etc/quarvane/parameters.ini)";
    if (const auto status = qvdocs::HandleGenerateRequest(app, argc, argv, kManualFiles)) {
        return *status;
    }

    // `qvctl help [COMMAND ...]` is `qvctl [COMMAND ...] --help`.
    std::vector<char*> args(argv, argv + argc);
    std::string help_flag = "--help";
    if (args.size() > 1 && std::string(args[1]) == "help") {
        args.erase(args.begin() + 1);
        args.push_back(help_flag.data());
    }
    if (const auto unknown = UnknownCommand(app, static_cast<int>(args.size()), args.data())) {
        std::cerr << "qvctl: " << *unknown << '\n';
        return kExitUsage;
    }
    try {
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return Finish(code == 0 ? kExitOk : kExitUsage);
    }
    globals.password_given = password->count() > 0;

    const Commands::Action* action = commands.Chosen();
    if (action == nullptr) {
        std::cerr << app.help();
        return kExitUsage;
    }
    try {
        (*action)(globals);
    } catch (const Failure& f) {
        std::cerr << "qvctl: " << FailureText(f, globals) << '\n';
        return Finish(ExitCodeOf(f));
    } catch (const Unfinished& u) {
        std::cerr << "qvctl: " << u.what() << '\n';
        return Finish(kExitFailed);
    } catch (const Inactive&) {
        return Finish(kExitInactive);
    } catch (const Interrupted& i) {
        std::cerr << "qvctl: " << i.what() << '\n';
        return Finish(kExitInterrupted);
    } catch (const UsageError& u) {
        std::cerr << "qvctl: " << u.what() << "\nRun with --help for more information.\n";
        return Finish(kExitUsage);
    } catch (const std::exception& e) {
        std::cerr << "qvctl: " << e.what() << '\n';
        return Finish(kExitFailed);
    }
    return Finish(kExitOk);
}
