// qvctl log: the library's trace file as UTF-8 with LF.
//
// The library appends to <Path>/log/qvapi.log in UTF-16LE with CR LF, Path
// being the [Parameters] Path of the parameters file (QUARVANE_PARAMETERS,
// else /etc/quarvane/parameters.ini); qvctl finds it with the library's own
// reader. Past 2 MiB the file becomes qvapiN.log (a higher N is newer) and a
// new qvapi.log begins, so the files are printed by ascending N, then
// qvapi.log; -f keeps reading the current file across such renames.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "platform/service_path.h"
#include "qvctl.h"

namespace qvctl {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// "2024-03-05 14:07:09": the time stamp every entry begins with.
constexpr std::size_t kStampLength = 19;

bool IsStamp(std::string_view text) {
    static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
    if (text.size() < kStampLength) return false;
    for (std::size_t i = 0; i < kStampLength; ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
    }
    return true;
}

std::string Stamp(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &tm);
    return text.data();
}

// --since as a time stamp to compare with: a date and time, a date, a time
// of today, or an age such as 10m, 2h, 3d.
std::string SinceStamp(std::string text) {
    if (text.empty()) return {};
    std::replace(text.begin(), text.end(), 'T', ' ');
    static constexpr std::array<std::pair<char, int>, 4> kAges{
        {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}}};
    for (const auto& [unit, seconds] : kAges) {
        if (text.size() > 1 && text.back() == unit) {
            if (const auto n = ParseNumber(std::string_view(text).substr(0, text.size() - 1))) {
                return Stamp(std::time(nullptr) - static_cast<std::time_t>(*n) * seconds);
            }
        }
    }
    if (text.size() == 5 || text.size() == 8) text = Stamp(std::time(nullptr)).substr(0, 11) + text;
    if (text.size() == 10) text += " 00:00:00";
    if (text.size() == 16) text += ":00";
    if (text.size() != kStampLength || !IsStamp(text)) {
        throw UsageError("--since '" + text +
                         "': write YYYY-MM-DD [HH:MM[:SS]], HH:MM[:SS] or an age such as 10m");
    }
    return text;
}

// Turns the bytes of one trace file into lines of UTF-8, keeping those at
// or after `since` (lines without a time stamp go with the entry before).
class Decoder {
  public:
    explicit Decoder(std::string since) : since_(std::move(since)) {}

    void Reset() {
        carry_.clear();
        line_.clear();
        start_ = true;
    }

    void Feed(std::string_view bytes, std::string& out) {
        carry_.append(bytes);
        std::size_t i = 0;
        for (; i + 1 < carry_.size(); i += 2) {
            const auto unit = static_cast<char16_t>(static_cast<unsigned char>(carry_[i]) |
                                                    static_cast<unsigned char>(carry_[i + 1]) << 8);
            if (start_ && unit == 0xFEFF) {
                start_ = false;
                continue;
            }
            start_ = false;
            if (unit == u'\n') {
                if (!line_.empty() && line_.back() == u'\r') line_.pop_back();
                Emit(out);
            } else {
                line_.push_back(unit);
            }
        }
        carry_.erase(0, i);
    }

    // The last line, when the file does not end with a line end.
    void Flush(std::string& out) {
        if (!line_.empty()) Emit(out);
    }

  private:
    void Emit(std::string& out) {
        const std::string line = ToUtf8(line_);
        line_.clear();
        if (!since_.empty() && IsStamp(line)) keep_ = line.compare(0, kStampLength, since_) >= 0;
        if (keep_) out += line + '\n';
    }

    std::string since_;
    std::string carry_;
    std::u16string line_;
    bool start_ = true;
    bool keep_ = true;
};

fs::path TraceFolder(const std::string& dir) {
    if (!dir.empty()) return dir;
    std::array<char16_t, qv::kServicePathCapacity> path{};
    if (!qv::GetServicePath(path)) {
        const char* file = std::getenv("QUARVANE_PARAMETERS");
        throw Unfinished(
            std::string("cannot find the trace folder: no [Parameters] Path in ") +
            (file != nullptr && *file != '\0' ? file : "/etc/quarvane/parameters.ini") +
            " (set QUARVANE_PARAMETERS, or pass --dir)");
    }
    return fs::path(ToUtf8(std::u16string_view(path.data()))) / "log";
}

// qvapi1.log, qvapi2.log, ... by number: oldest first.
std::vector<fs::path> RotatedFiles(const fs::path& folder) {
    std::vector<std::pair<uint32_t, fs::path>> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= 9 || name.rfind("qvapi", 0) != 0 || !name.ends_with(".log")) continue;
        if (const auto n = ParseNumber(std::string_view(name).substr(5, name.size() - 9))) {
            found.emplace_back(*n, entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> files;
    for (auto& [n, path] : found) files.push_back(std::move(path));
    return files;
}

// Reads what `fd` holds from where it stands.
void Drain(int fd, Decoder& decoder, std::string& out) {
    std::array<char, 65536> buffer{};
    ssize_t n = 0;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0) {
        decoder.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)), out);
    }
}

void Print(std::string& out) {
    std::cout << out;
    std::cout.flush();
    out.clear();
}

struct LogArgs {
    bool follow = false;
    std::string since;
    std::string dir;
};

void Log(const LogArgs& args) {
    Decoder decoder(SinceStamp(args.since));
    const fs::path folder = TraceFolder(args.dir);
    if (!fs::is_directory(folder)) {
        throw Unfinished("the trace is off: " + folder.string() +
                         " does not exist (the library writes its trace only into that folder)");
    }
    std::string out;
    for (const fs::path& file : RotatedFiles(folder)) {
        const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        decoder.Reset();
        Drain(fd, decoder, out);
        decoder.Flush(out);
        close(fd);
        Print(out);
    }
    const fs::path current = folder / "qvapi.log";
    int fd = open(current.c_str(), O_RDONLY | O_CLOEXEC);
    decoder.Reset();
    if (fd >= 0) Drain(fd, decoder, out);
    if (!args.follow) {
        decoder.Flush(out);
        Print(out);
        if (fd >= 0) close(fd);
        return;
    }
    // Following: complete lines only; a rename of the current file is seen
    // by its inode changing under the name.
    const InterruptScope scope;
    Print(out);
    while (Pause(250ms)) {
        struct stat named {};
        struct stat opened {};
        const bool exists = stat(current.c_str(), &named) == 0;
        if (fd >= 0 && fstat(fd, &opened) == 0 && exists &&
            (named.st_ino != opened.st_ino || named.st_dev != opened.st_dev ||
             lseek(fd, 0, SEEK_CUR) > named.st_size)) {
            if (named.st_ino == opened.st_ino) {
                lseek(fd, 0, SEEK_SET);  // cut short: read it again
            } else {
                Drain(fd, decoder, out);
                decoder.Flush(out);
                close(fd);
                fd = -1;
            }
            decoder.Reset();
        }
        if (fd < 0 && exists) fd = open(current.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) Drain(fd, decoder, out);
        Print(out);
    }
    if (fd >= 0) close(fd);
}

}  // namespace

void AddLogCommand(CLI::App& app, Commands& commands) {
    auto args = std::make_shared<LogArgs>();
    CLI::App* log = app.add_subcommand(
        "log", "Print the library's trace file (and the older ones before it) as UTF-8");
    log->add_flag("-f,--follow", args->follow, "Keep printing new entries until Ctrl-C");
    log->add_option("--since", args->since,
                    "Only entries from then on: YYYY-MM-DD [HH:MM[:SS]], HH:MM[:SS] (today), "
                    "or an age: 30s, 10m, 2h, 3d");
    log->add_option("--dir", args->dir,
                    "The trace folder; default: the log folder under the [Parameters] Path of "
                    "$QUARVANE_PARAMETERS or /etc/quarvane/parameters.ini");
    commands.Add(log, [args](const Globals&) { Log(*args); });
}

}  // namespace qvctl
