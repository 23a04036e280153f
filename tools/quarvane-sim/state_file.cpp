#include "state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
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
    int Release() noexcept { return std::exchange(fd_, -1); }
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

StateFileLock::StateFileLock(const std::filesystem::path& state_file)
    : path_(state_file.string() + ".lock") {
    for (;;) {
        Fd fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (fd.get() < 0) Throw("cannot create " + path_.string());
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd.get(), F_SETLK, &lock) != 0) {
            if (errno != EACCES && errno != EAGAIN) Throw("cannot lock " + path_.string());
            std::string holder = "another process";
            if (::fcntl(fd.get(), F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK &&
                lock.l_pid > 0) {
                holder = "the daemon with pid " + std::to_string(lock.l_pid);
            }
            throw std::runtime_error(state_file.string() + " is in use by " + holder +
                                     " (it holds the lock on " + path_.string() + ")");
        }
        // A daemon that stopped between our open and our lock has removed
        // the file we hold: lock the one now at the path instead.
        struct stat held {};
        struct stat named {};
        if (::fstat(fd.get(), &held) != 0 || ::stat(path_.c_str(), &named) != 0 ||
            held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            continue;
        }
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd.get(), 0) != 0 ||
            ::pwrite(fd.get(), pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
            Throw("cannot write " + path_.string());
        }
        fd_ = fd.Release();
        return;
    }
}

StateFileLock::~StateFileLock() {
    // Removed while still held, so that no other daemon can hold it by then.
    ::unlink(path_.c_str());
    ::close(fd_);
}

}  // namespace qvsim
