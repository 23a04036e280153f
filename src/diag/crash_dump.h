// The crash guard around the calls into the network-boot module.
//
// The module is code the library does not own; when it faults, the state it
// faulted in is what its maker needs. While a guard lives, SIGSEGV, SIGBUS,
// SIGILL and SIGFPE go first to the library's handler, which writes a dump
// to the path the guard was given (created or truncated; a missing folder
// means no dump and nothing created), puts back the handlers that were in
// place before and lets the fault go on to them: a fault of the processor
// is re-executed under the previous handler, a signal sent by software is
// sent again. The guarded function never resumes after its fault. When the
// guard ends normally the previous handlers come back exactly (handler,
// flags and mask).
//
// The dump is text, written with async-signal-safe calls only: signal,
// code, fault address, process and thread, the registers from the signal's
// context, a backtrace from the faulting instruction (libunwind's local
// unwinding), and /proc/self/maps to place the addresses.
//
// Guards may live in several threads at once; the handlers are installed
// by the first and restored by the last. Of threads that fault at the same
// time, one writes the dump and the others wait for it to be complete
// before their fault goes on.
#pragma once

#include <array>
#include <cstddef>

namespace qv {

inline constexpr std::size_t kDumpPathCapacity = 1024;

class CrashGuard {
  public:
    // `dump_path` is worked out before the guarded call; an empty path
    // means no dump.
    explicit CrashGuard(const std::array<char, kDumpPathCapacity>& dump_path) noexcept;
    ~CrashGuard();
    CrashGuard(const CrashGuard&) = delete;
    CrashGuard& operator=(const CrashGuard&) = delete;

  private:
    std::array<char, kDumpPathCapacity> dump_path_;
};

// <Path>/log/qvapi.dmp, UTF-8; empty when Path cannot be read or the name
// does not fit.
std::array<char, kDumpPathCapacity> DumpPath() noexcept;

}  // namespace qv
