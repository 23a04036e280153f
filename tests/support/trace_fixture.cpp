#include "support/trace_fixture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/alloc.h"
#include "platform/debug_output.h"

namespace qvtest {
namespace {

constexpr std::size_t kStampLength = 20;  // "2024-03-05 14:07:09 "

qv::LocalTime g_fixed_time;

qv::LocalTime FixedClock() { return g_fixed_time; }

void CaptureDebugLine(std::u16string_view line, void* context) {
    static_cast<std::vector<std::u16string>*>(context)->emplace_back(line);
}

bool IsStamp(std::u16string_view s) {
    if (s.size() < kStampLength) return false;
    static constexpr std::u16string_view kShape = u"dddd-dd-dd dd:dd:dd ";
    for (std::size_t i = 0; i < kStampLength; ++i) {
        const bool ok = kShape[i] == u'd' ? (s[i] >= u'0' && s[i] <= u'9') : s[i] == kShape[i];
        if (!ok) return false;
    }
    return true;
}

}  // namespace

TraceFixture::TraceFixture() : TraceFixture(Options{}) {}

TraceFixture::TraceFixture(const Options& options) {
    parameters_file_ = InstallDir() / "parameters.ini";
    if (options.log_folder) std::filesystem::create_directory(LogDir());
    if (options.parameters_file) {
        WriteParameters("[Parameters]\nPath=" + InstallDir().string() + "\n");
    }
    if (const char* old = std::getenv("QUARVANE_PARAMETERS")) saved_parameters_env_ = old;
    setenv("QUARVANE_PARAMETERS", parameters_file_.c_str(), 1);
    qv::debug_output::SetSinkForTesting(CaptureDebugLine, &debug_lines_);
}

TraceFixture::~TraceFixture() {
    qv::debug_output::SetSinkForTesting(nullptr, nullptr);
    qv::local_time::SetClockForTesting(nullptr);
    qv::alloc_fault::Reset();
    if (saved_parameters_env_) {
        setenv("QUARVANE_PARAMETERS", saved_parameters_env_->c_str(), 1);
    } else {
        unsetenv("QUARVANE_PARAMETERS");
    }
}

std::filesystem::path TraceFixture::TraceFile(unsigned n) const {
    return LogDir() / (n == 0 ? std::string("qvapi.log") : "qvapi" + std::to_string(n) + ".log");
}

void TraceFixture::WriteParameters(std::string_view content) const {
    WriteFile(parameters_file_, content);
}

std::vector<std::uint8_t> TraceFixture::Bytes(unsigned n) const { return ReadBytes(TraceFile(n)); }

std::vector<std::uint8_t> TraceFixture::ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) ADD_FAILURE() << "cannot read " << path;
    return bytes;
}

std::vector<std::u16string> TraceFixture::Lines() const {
    const auto bytes = Bytes();
    if (bytes.empty()) return {};
    return DecodeEntries(bytes, 0);
}

std::uintmax_t TraceFixture::End() const {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(TraceFile(), error);
    return error ? 0 : size;
}

std::vector<std::u16string> TraceFixture::LinesAfter(std::uintmax_t end) const {
    if (end == 0) return Lines();
    std::ifstream in(TraceFile(), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(end));
    // The tail decodes as a file of its own behind the byte-order mark.
    std::vector<std::uint8_t> bytes{0xFF, 0xFE};
    bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return bytes.size() == 2 ? std::vector<std::u16string>{} : DecodeEntries(bytes, 0);
}

void TraceFixture::SetClock(const qv::LocalTime& time) {
    g_fixed_time = time;
    qv::local_time::SetClockForTesting(FixedClock);
}

std::u16string TraceFixture::DecodeUtf16(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    text.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    return text;
}

std::vector<std::u16string> TraceFixture::DecodeEntries(const std::vector<std::uint8_t>& bytes,
                                                        std::size_t offset) {
    std::vector<std::u16string> entries;
    if (offset == 0) {
        if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
            ADD_FAILURE() << "trace file does not begin with the byte-order mark FF FE";
            return entries;
        }
        offset = 2;
    }
    if (offset > bytes.size() || (bytes.size() - offset) % 2 != 0) {
        ADD_FAILURE() << "trace file text is not whole UTF-16 code units";
        return entries;
    }
    const std::u16string text = DecodeUtf16(bytes.data() + offset, bytes.size() - offset);
    std::u16string_view rest(text);
    while (!rest.empty()) {
        const std::size_t end = rest.find(u"\r\n");
        if (end == std::u16string_view::npos) {
            ADD_FAILURE() << "trace file ends inside an entry (no CR LF)";
            break;
        }
        const std::u16string_view entry = rest.substr(0, end);
        if (!IsStamp(entry)) {
            ADD_FAILURE() << "trace entry " << entries.size() + 1 << " has no time stamp";
            entries.emplace_back(entry);
        } else {
            entries.emplace_back(entry.substr(kStampLength));
        }
        rest.remove_prefix(end + 2);
    }
    return entries;
}

void TraceFixture::MakeSparseFile(const std::filesystem::path& path, std::uint64_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << "cannot create " << path;
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0) << "cannot size " << path;
    close(fd);
}

void TraceFixture::WriteFile(const std::filesystem::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

}  // namespace qvtest
