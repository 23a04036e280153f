// A throwaway Quarvane installation for one test, with eyes on the trace
// file and the debug output.
//
// Construction makes a temporary installation directory (with its log/
// folder unless told otherwise), writes a parameters file whose Path names
// it, points QUARVANE_PARAMETERS at that file and captures the debug lines.
// Destruction puts the environment, the debug output, the clock and the
// allocator's fault injection back and removes the directory.
//
//   qvtest::TraceFixture trace;
//   qvSomething(...);
//   EXPECT_EQ(trace.Lines(), (std::vector<std::u16string>{u"qvSomething, ..."}));
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/local_time.h"
#include "support/temp_dir.h"

namespace qvtest {

class TraceFixture {
  public:
    struct Options {
        bool log_folder = true;        // create <dir>/log
        bool parameters_file = true;   // write the parameters file
    };

    TraceFixture();
    explicit TraceFixture(const Options& options);
    ~TraceFixture();
    TraceFixture(const TraceFixture&) = delete;
    TraceFixture& operator=(const TraceFixture&) = delete;

    const std::filesystem::path& InstallDir() const { return install_dir_.path(); }
    std::filesystem::path LogDir() const { return install_dir_ / "log"; }
    std::filesystem::path ParametersFile() const { return parameters_file_; }
    // qvapi.log for 0, qvapi<n>.log otherwise.
    std::filesystem::path TraceFile(unsigned n = 0) const;

    // Replaces the parameters file with `content`, as it stands.
    void WriteParameters(std::string_view content) const;

    // The raw bytes of the trace file (or of qvapi<n>.log); empty when the
    // file does not exist.
    std::vector<std::uint8_t> Bytes(unsigned n = 0) const;

    // The entries of the trace file written since the test started, each
    // without its time stamp and CR LF. A file that is not a well-formed
    // trace file (byte-order mark, stamps, line ends) fails the test.
    std::vector<std::u16string> Lines() const;
    // Where the trace file ends now, and the entries written past such a
    // mark: what one call wrote, without rereading the whole file.
    std::uintmax_t End() const;
    std::vector<std::u16string> LinesAfter(std::uintmax_t end) const;

    // The debug lines sent since the test started, as sent (with the
    // "qvcliapi, " prefix and the line end).
    const std::vector<std::u16string>& DebugLines() const { return debug_lines_; }

    // Makes every trace entry and debug line carry this time.
    void SetClock(const qv::LocalTime& time);

    // Decodes trace file bytes from `offset` (which must start an entry, or
    // the byte-order mark when 0) into entries without stamps.
    static std::vector<std::u16string> DecodeEntries(const std::vector<std::uint8_t>& bytes,
                                                     std::size_t offset = 0);
    // Decodes UTF-16LE bytes.
    static std::u16string DecodeUtf16(const std::uint8_t* data, std::size_t size);
    // Makes a file of `size` bytes that takes no space (a hole), or extends
    // an existing one to that size.
    static void MakeSparseFile(const std::filesystem::path& path, std::uint64_t size);
    // The bytes of any file; empty when it does not exist.
    static std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
    // Writes `content` to `path`.
    static void WriteFile(const std::filesystem::path& path, std::string_view content);

  private:
    TempDir install_dir_;
    std::filesystem::path parameters_file_;
    std::optional<std::string> saved_parameters_env_;
    std::vector<std::u16string> debug_lines_;
};

// A fixed moment: 5 March 2024, 14:07:09.
inline constexpr qv::LocalTime kSampleTime{2024, 3, 5, 14, 7, 9};

// The bytes of `text` as UTF-16LE.
std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text);

}  // namespace qvtest
