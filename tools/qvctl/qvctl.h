// qvctl: the pieces every subcommand shares. The tool talks to the service
// through the public interface of libqvcliapi only.
#pragma once

#include <qvcliapi.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fields.h"
#include "held.h"

namespace qvctl {

// Exit codes, for scripts to branch on; `qvctl --help` lists them.
enum Exit : int {
    kExitOk = 0,
    kExitFailed = 1,         // the operation failed or was not confirmed; output not written
    kExitUsage = 2,          // the command line was wrong, or --yes is needed
    kExitUnreachable = 3,    // host unknown, nothing listening, timed out, connection lost
    kExitInactive = 3,       // `service status`: the local service does not run
    kExitLoginRefused = 4,   // the service refused the login
    kExitRefused = 5,        // the service refused the request
    kExitInterrupted = 130,  // Ctrl-C while following an operation, which keeps running
};

// The options every subcommand accepts.
struct Globals {
    std::string host = "127.0.0.1";
    uint16_t port = 11580;
    std::string user;
    std::string password;
    std::string password_file;
    bool password_given = false;  // --password or QVCTL_PASSWORD, possibly empty
    bool json = false;
    bool scripted = false;             // -H
    bool exact = false;                // -p
    std::vector<std::string> columns;  // -o

    std::string Endpoint() const {
        const bool v6 = host.find(':') != std::string::npos;
        return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    }
};

// A call returned a nonzero status. `what` says what was being done;
// `login_user` is set when the call was the login.
class Failure : public std::runtime_error {
  public:
    Failure(QV_STATUS status, const std::string& what, std::string login_user = {})
        : std::runtime_error(what), status_(status), user_(std::move(login_user)) {}
    QV_STATUS status() const noexcept { return status_; }
    bool login() const noexcept { return !user_.empty(); }
    const std::string& user() const noexcept { return user_; }

  private:
    QV_STATUS status_;
    std::string user_;
};

// The command line asks for something that cannot be done as written.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An operation did not end as asked: a verify that was cancelled, a restore
// that failed, a confirmation declined. The message says what happened.
class Unfinished : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A question answered "no" by the exit status alone, as `systemctl
// is-active` answers: the answer is on stdout already, stderr stays empty.
class Inactive : public std::exception {
  public:
    const char* what() const noexcept override { return "inactive"; }
};

// Ctrl-C while qvctl followed an operation; the message says how to follow
// it again.
class Interrupted : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Throws Failure when `status` is nonzero.
void Check(QV_STATUS status, const std::string& what);

// qvctl's words for a status: its own for the library's transport
// statuses (naming the endpoint of `at` when given), the message table's
// for the rest.
std::string StatusWords(QV_STATUS status, const Globals* at = nullptr);
// The whole sentence after "cannot WHAT: ", status beside it.
std::string FailureText(const Failure& failure, const Globals& globals);
Exit ExitCodeOf(const Failure& failure);

// ---- Text --------------------------------------------------------------

// UTF-8 from the command line to the interface's UTF-16; UsageError when
// the argument is not valid UTF-8.
std::u16string ToUtf16(std::string_view utf8);
// UTF-16 from the interface to UTF-8; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view utf16);
std::optional<std::string> ToUtf8(const QV_WCHAR* utf16);

// "6FFC0041": a status as eight upper-case hexadecimal digits.
std::string Hex8(QV_STATUS status);
// The message text of a status, as qvFormatErrMessage gives it.
std::string MessageText(QV_STATUS status);
// Parses "0x6FFC0010", "6FFC0010" or a decimal number; nullopt otherwise.
std::optional<QV_STATUS> ParseStatus(std::string_view text);
// The whole of `text` as an unsigned 32-bit number in `base`.
std::optional<uint32_t> ParseNumber(std::string_view text, int base = 10);

// A disk or partition as the command line names it: NAME or NAME:PARTITION.
struct Object {
    std::string text;  // as given, for messages
    std::u16string name;
    uint32_t number = 0;
};
std::optional<Object> ParseObject(const std::string& text);
// "Harddisk1:1", or "Harddisk1" for a whole disk.
std::string ObjectText(const QV_WCHAR* name, uint32_t number);

// Adds an argument (positional, or an option when `name` starts with "--")
// that names a disk or partition, checked as it is parsed.
CLI::Option* AddObjectArg(CLI::App* app, const std::string& name, std::string& into,
                          const std::string& help);
// The object an argument names; the argument has passed AddObjectArg's check.
Object ObjectArg(const std::string& text);

// A choice among names, each standing for a wire value; `raw:N` gives any
// value N. Checked as it is parsed.
struct Choice {
    const char* name;
    uint32_t value;
    const char* help;
};
CLI::Option* AddChoice(CLI::App* app, const std::string& option, std::string& into,
                       std::span<const Choice> choices, const std::string& help);
uint32_t ChoiceValue(std::span<const Choice> choices, const std::string& text);

// ---- Output and the terminal -------------------------------------------

// Writes one JSON document as one line on stdout.
void PrintJson(const json& value);

// A one-line confirmation of an operation, or its JSON form. `changed` is
// false when the object already was as asked.
void Done(const Globals& globals, const std::string& operation, const std::string& object,
          const std::string& sentence, bool changed = true);

bool Terminal(int fd);

// Asks `question` on a terminal (stderr, answer on stdin) unless `yes`;
// without a terminal, a UsageError that says to pass --yes. A "no" is
// Unfinished.
void Confirm(bool yes, const std::string& question);
// Adds --yes to a command that asks before it destroys.
CLI::Option* AddYes(CLI::App* app, bool& yes);

// Ctrl-C: while an InterruptScope lives, SIGINT only sets a flag, which
// Pause and Interrupted() report.
class InterruptScope {
  public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
};
bool InterruptRequested();
// Sleeps for `d`; false when Ctrl-C came.
bool Pause(std::chrono::milliseconds d);

// One reading of a long operation.
struct Sample {
    bool running = false;
    bool completed = false;
    std::string state;  // in words
    unsigned percent = 0;
    uint64_t done = 0;             // bytes
    uint64_t total = 0;            // bytes
    std::optional<uint64_t> rate;  // bytes per second, when the record gives one
    json data;                     // the record as its field table gives it
};

// Seconds until `total` is reached at `rate`.
std::optional<uint64_t> SecondsLeft(uint64_t done, uint64_t total, std::optional<uint64_t> rate);

// Shows a long operation while qvctl follows it: with --json one line on
// stdout per change; otherwise, on a terminal only, a bar on stderr with
// rate and time left (measured when the record gives no rate).
class ProgressView {
  public:
    ProgressView(const Globals& globals, std::string label);
    ~ProgressView();
    ProgressView(const ProgressView&) = delete;
    ProgressView& operator=(const ProgressView&) = delete;
    void Update(const Sample& sample);
    void Finish();

  private:
    bool json_;
    bool terminal_;
    std::string label_;
    std::optional<std::pair<unsigned, std::string>> last_;
    bool bar_open_ = false;
    std::optional<std::pair<std::chrono::steady_clock::time_point, uint64_t>> first_;
};

// ---- Connection --------------------------------------------------------

// A logged-in connection to the service, logged out when it goes. Without
// --user, a loopback host gets quarvane-sim's sample login; a password not
// given is asked for on a terminal.
class Session {
  public:
    explicit Session(const Globals& globals);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    QV_HANDLE handle() const noexcept { return handle_; }

  private:
    QV_HANDLE handle_ = nullptr;
};

// ---- Subcommands -------------------------------------------------------

// The subcommands register here what they do; main runs the one the
// command line chose.
class Commands {
  public:
    using Action = std::function<void(const Globals&)>;
    void Add(CLI::App* app, Action action) { actions_.emplace_back(app, std::move(action)); }
    // The action of the most deeply nested subcommand that was given, or
    // null when none was.
    const Action* Chosen() const;

  private:
    std::vector<std::pair<CLI::App*, Action>> actions_;
};

// A command that acts on one object with one call. Rows of a table: the
// confirmation and the already-done check come with a field, not code.
struct ObjectCommand {
    const char* name;
    const char* help;
    QV_STATUS (*call)(QV_HANDLE, const QV_WCHAR*, uint32_t);
    const char* doing;  // "suspend the protection of {}", for failures
    const char* done;   // "Protection of {} suspended."
    // Destructive: the question asked on a terminal ("Remove ... {}?"), and --yes.
    const char* confirm = nullptr;
    // Idempotent: when the call is refused, true if the object already is
    // as asked; the command then succeeds with `already`.
    bool (*is_already)(QV_HANDLE, const Object&) = nullptr;
    const char* already = nullptr;  // "Protection of {} is already suspended."
};
void AddObjectCommands(CLI::App& parent, Commands& commands, std::span<const ObjectCommand> table);
// `pattern` with "{}" replaced by `object`.
std::string Fill(const char* pattern, const std::string& object);

// The service counts data in MiB; qvctl shows and takes bytes.
inline constexpr uint64_t kMiB = 1024 * 1024;

using qvtools::Held;

// `qvctl service`: the local service's unit and the service's own settings
// share it, whichever family adds its commands first creates it.
inline CLI::App* ServiceSubcommand(CLI::App& app) {
    const auto found =
        app.get_subcommands([](CLI::App* sub) { return sub->get_name() == "service"; });
    if (!found.empty()) return found.front();
    CLI::App* service =
        app.add_subcommand("service", "The Quarvane service: start, stop, status, trace level");
    service->require_subcommand(1);
    return service;
}

void AddDiskCommands(CLI::App& app, Commands& commands);
void AddMirrorCommands(CLI::App& mirror, Commands& commands);
void AddMirrorConfigCommands(CLI::App& mirror, Commands& commands);
void AddTraceConfigCommands(CLI::App& app, Commands& commands);
void AddStatusCommand(CLI::App& app, Commands& commands);
void AddLogCommand(CLI::App& app, Commands& commands);
void AddClusterCommands(CLI::App& app, Commands& commands);
void AddDiagnosticsCommands(CLI::App& app, Commands& commands);
void AddSnapshotCommands(CLI::App& app, Commands& commands);     // snapshots.cpp
void AddMaintenanceCommands(CLI::App& app, Commands& commands);  // maintenance.cpp
void AddGroupCommands(CLI::App& app, Commands& commands);        // groups.cpp

// The field table of a disk list's entries (disks.cpp), also the view disks'.
const Fields<QV_DISK_INFO>& DiskFields();
// service, netboot and boot-server.
void AddLocalMachineCommands(CLI::App& app, Commands& commands);


}  // namespace qvctl
