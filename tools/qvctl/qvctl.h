// qvctl: the pieces every subcommand shares. The tool talks to the service
// through the public interface of libqvcliapi only.
#pragma once

#include <qvcliapi.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvctl {

using json = nlohmann::ordered_json;

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // a status from the library or the service
inline constexpr int kExitUsage = 2;    // the command line was wrong

// The options every subcommand accepts.
struct Globals {
    std::string host = "127.0.0.1";
    uint16_t port = 11580;
    std::string user;
    std::string password;
    bool json = false;
};

// A call returned a nonzero status. `what` says what was being done.
class Failure : public std::runtime_error {
  public:
    Failure(QV_STATUS status, const std::string& what)
        : std::runtime_error(what), status_(status) {}
    QV_STATUS status() const noexcept { return status_; }

  private:
    QV_STATUS status_;
};

// The command line asks for something that cannot be done as written.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An operation that the service ran did not end as asked (a verify that met
// an error, a synchronisation that was cancelled). The service gave no
// status for it; the message says what happened.
class Unfinished : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Throws Failure when `status` is nonzero.
void Check(QV_STATUS status, const std::string& what);

// ---- Text --------------------------------------------------------------

// UTF-8 from the command line to the interface's UTF-16; UsageError when
// the argument is not valid UTF-8.
std::u16string ToUtf16(std::string_view utf8);
// UTF-16 from the interface to UTF-8; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view utf16);
// A text the library handed out, or nullopt for a null pointer.
std::optional<std::string> ToUtf8(const QV_WCHAR* utf16);
// The same as a JSON value: a string, or null.
json JsonText(const QV_WCHAR* utf16);

// "6FFC0041": a status as eight upper-case hexadecimal digits.
std::string Hex8(QV_STATUS status);
// The message text of a status, as qvFormatErrMessage gives it.
std::string MessageText(QV_STATUS status);
// Parses "0x6FFC0010", "6FFC0010" or a decimal number; nullopt otherwise.
std::optional<QV_STATUS> ParseStatus(std::string_view text);

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

// "8.0 GiB": `units` units of `unit_bytes` bytes each.
std::string SizeText(uint64_t units, uint64_t unit_bytes);

// ---- Output ------------------------------------------------------------

// Writes one JSON document as one line on stdout.
void PrintJson(const json& value);

// A table with a header line, columns padded to their widest cell.
class Table {
  public:
    explicit Table(std::vector<std::string> header) : rows_{std::move(header)} {}
    void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    // Columns whose cells are right-aligned (numbers, sizes).
    void AlignRight(std::size_t column);
    void Print() const;

  private:
    std::vector<std::vector<std::string>> rows_;
    std::vector<bool> right_;
};

// Lines of "Label:  value", labels padded to the longest.
void PrintFields(const std::vector<std::pair<std::string, std::string>>& fields);

// Reports the progress of a long operation while qvctl follows it: a bar
// that redraws itself on a terminal, a line for each new percentage
// otherwise, and with --json one JSON object per line.
class ProgressView {
  public:
    ProgressView(bool json, std::string label);
    ~ProgressView();
    ProgressView(const ProgressView&) = delete;
    ProgressView& operator=(const ProgressView&) = delete;

    // One sample: its percentage (0 to 100), the state in words, and the
    // sample as JSON.
    void Update(unsigned percent, const std::string& state, const json& sample);
    // Ends the bar's line.
    void Finish();

  private:
    bool json_;
    bool terminal_;
    std::string label_;
    std::optional<std::pair<unsigned, std::string>> last_;
    bool bar_open_ = false;
};

// ---- Connection --------------------------------------------------------

// A logged-in connection to the service, logged out when it goes.
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

void AddDiskCommands(CLI::App& app, Commands& commands);
void AddMirrorCommands(CLI::App& mirror, Commands& commands);
void AddMirrorConfigCommands(CLI::App& mirror, Commands& commands);
void AddTraceConfigCommands(CLI::App& app, Commands& commands);
void AddSnapshotCommands(CLI::App& app, Commands& commands);     // snapshots.cpp
void AddMaintenanceCommands(CLI::App& app, Commands& commands);  // maintenance.cpp

// A one-line confirmation of an operation, or its JSON form.
void Done(const Globals& globals, const std::string& operation, const std::string& object,
          const std::string& sentence);

}  // namespace qvctl
