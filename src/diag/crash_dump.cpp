#include "diag/crash_dump.h"

#define UNW_LOCAL_ONLY
#include <fcntl.h>
#include <libunwind.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "platform/bounded_utf.h"
#include "platform/service_path.h"

namespace qv {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr const char* kSignalNames[] = {"SIGSEGV", "SIGBUS", "SIGILL", "SIGFPE"};
constexpr std::size_t kSignalCount = std::size(kSignals);
constexpr int kBacktraceDepth = 64;
// How long a thread that faulted second waits for the first one's dump.
constexpr int kDumpWaitMs = 10000;

// Installed by the first guard, restored by the last one or by the
// handler. The handler reads g_previous only while g_installed was true.
std::mutex g_mutex;
int g_depth = 0;
struct sigaction g_previous[kSignalCount];
std::atomic<bool> g_installed{false};
// One dump per fault: the first thread in the handler writes it.
std::atomic<bool> g_dump_claimed{false};
std::atomic<bool> g_dump_done{false};
// The dump path of the guard of this thread; null outside a guarded call.
thread_local const char* t_dump_path = nullptr;

void RestorePrevious() noexcept {
    for (std::size_t i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
}

// Text written with write() from a small buffer: no heap, no locks, no
// stdio, so it may run inside a signal handler.
class DumpWriter {
  public:
    explicit DumpWriter(int fd) noexcept : fd_(fd) {}
    ~DumpWriter() { Flush(); }

    DumpWriter& operator<<(const char* text) noexcept {
        while (*text != '\0') Put(*text++);
        return *this;
    }
    DumpWriter& Hex(std::uint64_t value) noexcept {
        Put('0');
        Put('x');
        for (int shift = 60; shift >= 0; shift -= 4)
            Put("0123456789abcdef"[(value >> shift) & 0xF]);
        return *this;
    }
    DumpWriter& Dec(std::int64_t value) noexcept {
        char digits[24];
        int n = 0;
        std::uint64_t magnitude =
            value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) Put('-');
        while (n > 0) Put(digits[--n]);
        return *this;
    }
    void Flush() noexcept {
        std::size_t done = 0;
        while (done < used_) {
            const ssize_t n = write(fd_, buffer_ + done, used_ - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        used_ = 0;
    }

  private:
    void Put(char c) noexcept {
        if (used_ == sizeof buffer_) Flush();
        buffer_[used_++] = c;
    }

    int fd_;
    char buffer_[512];
    std::size_t used_ = 0;
};

void WriteRegisters(DumpWriter& out, const ucontext_t* uc) noexcept {
    out << "registers:\n";
#if defined(__x86_64__)
    static constexpr struct {
        const char* name;
        int index;
    } kRegisters[] = {
        {"rip", REG_RIP}, {"rsp", REG_RSP},    {"rbp", REG_RBP}, {"rax", REG_RAX},
        {"rbx", REG_RBX}, {"rcx", REG_RCX},    {"rdx", REG_RDX}, {"rsi", REG_RSI},
        {"rdi", REG_RDI}, {"r8", REG_R8},      {"r9", REG_R9},   {"r10", REG_R10},
        {"r11", REG_R11}, {"r12", REG_R12},    {"r13", REG_R13}, {"r14", REG_R14},
        {"r15", REG_R15}, {"eflags", REG_EFL}, {"err", REG_ERR}, {"trapno", REG_TRAPNO},
    };
    for (const auto& reg : kRegisters) {
        out << "  " << reg.name << " ";
        out.Hex(static_cast<std::uint64_t>(uc->uc_mcontext.gregs[reg.index])) << "\n";
    }
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i) {
        out << "  x";
        out.Dec(i) << " ";
        out.Hex(uc->uc_mcontext.regs[i]) << "\n";
    }
    out << "  sp ";
    out.Hex(uc->uc_mcontext.sp) << "\n  pc ";
    out.Hex(uc->uc_mcontext.pc) << "\n  pstate ";
    out.Hex(uc->uc_mcontext.pstate) << "\n";
#else
    (void)uc;
    out << "  (not recorded on this processor)\n";
#endif
}

void WriteBacktrace(DumpWriter& out, ucontext_t* uc) noexcept {
    out << "backtrace:\n";
    unw_cursor_t cursor;
    if (unw_init_local2(&cursor, reinterpret_cast<unw_context_t*>(uc), UNW_INIT_SIGNAL_FRAME) !=
        0) {
        out << "  (not available)\n";
        return;
    }
    for (int frame = 0; frame < kBacktraceDepth; ++frame) {
        unw_word_t ip = 0;
        unw_get_reg(&cursor, UNW_REG_IP, &ip);
        out << "  #";
        out.Dec(frame) << " ";
        out.Hex(ip);
        char name[256];
        unw_word_t offset = 0;
        if (unw_get_proc_name(&cursor, name, sizeof name, &offset) == 0) {
            out << " " << name << "+";
            out.Hex(offset);
        }
        out << "\n";
        if (unw_step(&cursor) <= 0) break;
    }
}

void CopyMaps(DumpWriter& out, int fd) noexcept {
    out << "memory map:\n";
    out.Flush();
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0) return;
    char chunk[4096];
    ssize_t n;
    while ((n = read(maps, chunk, sizeof chunk)) > 0) {
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = write(fd, chunk + done, static_cast<std::size_t>(n - done));
            if (w <= 0) break;
            done += w;
        }
    }
    close(maps);
}

void WriteDump(const char* path, int sig, const siginfo_t* info, ucontext_t* uc) noexcept {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    {
        DumpWriter out(fd);
        const char* name = "?";
        for (std::size_t i = 0; i < kSignalCount; ++i) {
            if (kSignals[i] == sig) name = kSignalNames[i];
        }
        out << "qvcliapi crash dump\nsignal: ";
        out.Dec(sig) << " " << name << "\ncode: ";
        out.Dec(info->si_code) << "\nfault address: ";
        out.Hex(reinterpret_cast<std::uintptr_t>(info->si_addr)) << "\nprocess: ";
        out.Dec(getpid()) << "\nthread: ";
        out.Dec(static_cast<std::int64_t>(syscall(SYS_gettid))) << "\n";
        WriteRegisters(out, uc);
        WriteBacktrace(out, uc);
        CopyMaps(out, fd);
    }
    fsync(fd);
    close(fd);
}

void WaitForDump() noexcept {
    const timespec step{0, 1000 * 1000};
    for (int waited = 0; waited < kDumpWaitMs && !g_dump_done.load(); ++waited) {
        nanosleep(&step, nullptr);
    }
}

void OnFault(int sig, siginfo_t* info, void* context) {
    const int saved_errno = errno;
    // The handlers stay in place until the dump is whole: a second thread
    // that faults meanwhile comes here too and waits, rather than end the
    // process under the previous handler halfway through the dump.
    const char* path = t_dump_path;
    if (path != nullptr && path[0] != '\0' && !g_dump_claimed.exchange(true)) {
        WriteDump(path, sig, info, static_cast<ucontext_t*>(context));
        g_dump_done.store(true);
    } else if (g_dump_claimed.load()) {
        WaitForDump();
    }
    // Now the handlers in place before the guard take over.
    if (g_installed.exchange(false)) RestorePrevious();
    errno = saved_errno;
    // A fault of the processor happens again when the handler returns, now
    // under the previous handler, with its own details. A signal sent by
    // software would not: it is sent again, to be delivered on return.
    if (info->si_code <= 0) raise(sig);
}

}  // namespace

CrashGuard::CrashGuard(const std::array<char, kDumpPathCapacity>& dump_path) noexcept
    : dump_path_(dump_path) {
    {
        std::lock_guard lock(g_mutex);
        // A guard left by a longjmp out of a caller's handler, after the
        // handler had already put everything back, counts no more.
        if (!g_installed.load()) g_depth = 0;
        if (g_depth++ == 0) {
            g_dump_claimed.store(false);
            g_dump_done.store(false);
            struct sigaction ours {};
            ours.sa_sigaction = OnFault;
            ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
            sigemptyset(&ours.sa_mask);
            for (int sig : kSignals) sigaddset(&ours.sa_mask, sig);
            for (std::size_t i = 0; i < kSignalCount; ++i) {
                sigaction(kSignals[i], &ours, &g_previous[i]);
            }
            g_installed.store(true);
        }
    }
    t_dump_path = dump_path_.data();
}

CrashGuard::~CrashGuard() {
    t_dump_path = nullptr;
    std::lock_guard lock(g_mutex);
    if (g_depth > 0 && --g_depth == 0 && g_installed.exchange(false)) RestorePrevious();
}

std::array<char, kDumpPathCapacity> DumpPath() noexcept {
    std::array<char, kDumpPathCapacity> path{};
    char16_t directory[kServicePathCapacity];
    if (!GetServicePath(directory)) return path;
    constexpr std::string_view kName = "/log/qvapi.dmp";
    const std::size_t length =
        Utf16ToUtf8(directory, std::span<char>(path.data(), path.size() - kName.size()));
    if (length == kConvertFailed) {
        path[0] = '\0';
        return path;
    }
    std::memcpy(path.data() + length, kName.data(), kName.size());
    path[length + kName.size()] = '\0';
    return path;
}

}  // namespace qv
