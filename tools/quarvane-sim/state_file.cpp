#include "state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace qvsim {
namespace {

class Fd {
  public:
    explicit Fd(int fd) noexcept : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const noexcept { return fd_; }
    // Closes now, reporting the error that close() may be the first to see.
    int Close() noexcept {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

  private:
    int fd_;
};

[[noreturn]] void Throw(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

void WriteFileAtomically(const std::filesystem::path& file, std::string_view content) {
    const std::filesystem::path dir =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    std::string name = (dir / ("." + file.filename().string() + ".XXXXXX")).string();
    std::vector<char> templ(name.begin(), name.end());
    templ.push_back('\0');

    Fd fd(::mkstemp(templ.data()));
    if (fd.get() < 0) Throw("cannot create a temporary file beside " + file.string());
    const std::string temp(templ.data());
    struct Unlink {
        const std::string& path;
        bool armed = true;
        ~Unlink() {
            if (armed) ::unlink(path.c_str());
        }
    } cleanup{temp};

    for (std::size_t done = 0; done < content.size();) {
        const ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            Throw("cannot write " + temp);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd.get(), 0644) != 0) Throw("cannot set the mode of " + temp);
    if (::fsync(fd.get()) != 0) Throw("cannot flush " + temp);
    if (fd.Close() != 0) Throw("cannot close " + temp);
    if (::rename(temp.c_str(), file.c_str()) != 0) Throw("cannot rename " + temp);
    cleanup.armed = false;

    // The rename itself lives in the directory: flush it too.
    Fd dirfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirfd.get() >= 0) ::fsync(dirfd.get());
}

std::optional<std::string> ReadFileIfExists(const std::filesystem::path& file) {
    Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        Throw("cannot open " + file.string());
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            Throw("cannot read " + file.string());
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

}  // namespace qvsim
