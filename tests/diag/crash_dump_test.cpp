// The crash guard, with a network-boot module that faults for real under
// the library's own calls. Each fault happens in a child process; the
// parent reads the dump it left.
#include "diag/crash_dump.h"

#include <gtest/gtest.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "netboot/module_variant.h"
#include "netboot/pxecfg.h"
#include "support/memory_client.h"
#include "support/trace_fixture.h"

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr QV_HW_ADDRESS kGuardedAdapter{{0x00, 0x1b, 0x21, 0xab, 0xcd, 0xef}};

std::string DumpText(const qvtest::TraceFixture& trace) {
    const auto bytes = qvtest::TraceFixture::ReadBytes(trace.LogDir() / "qvapi.dmp");
    return std::string(bytes.begin(), bytes.end());
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// In the child: no core file, and the signals' own default action in place
// of the sanitizers' handlers, so that a fault ends the process.
void PrepareChild() {
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    for (int sig : kFaultSignals) signal(sig, SIG_DFL);
}

void ScriptFault(int sig) {
    QvTestPxeScript script;
    script.fault_signal = sig;
    script.fault_in = "PXEInstallDrivers";
    QvTestPxeSetScript(&script);
}

// The module faults while qvEnablePXEBoot installs the drivers: the call
// never returns, the service never hears of it.
void FaultUnderGuard(int sig) {
    ScriptFault(sig);
    qvtest::MemoryClient client;
    qvEnablePXEBoot(client.handle(), kGuardedAdapter.bytes);
}

void FaultInChild(int sig) {
    PrepareChild();
    FaultUnderGuard(sig);
}

void ExitWithCallersVerdict(int sig, siginfo_t* info, void*) {
    // The caller's handler sees the fault itself, not a copy sent later.
    const bool own = info->si_code > 0 && (sig != SIGSEGV || info->si_addr == nullptr);
    _exit(own ? 100 + sig : 1);
}

class CrashGuardTest : public ::testing::TestWithParam<int> {
  protected:
    qvtest::TraceFixture trace;
};

TEST_P(CrashGuardTest, DumpsAndEndsTheProcess) {
    const int sig = GetParam();
    EXPECT_EXIT(FaultInChild(sig), ::testing::KilledBySignal(sig), "");
    const std::string dump = DumpText(trace);
    EXPECT_NE(dump.find("signal: " + std::to_string(sig) + " SIG" + sigabbrev_np(sig) + "\n"),
              std::string::npos)
        << dump.substr(0, 2000);
    EXPECT_EQ(dump.find("code: -"), std::string::npos);  // the processor's, not software's
    EXPECT_NE(dump.find("fault address: 0x"), std::string::npos);
    if (sig == SIGSEGV) {
        EXPECT_NE(dump.find("fault address: 0x0000000000000000\n"), std::string::npos);
    }
    EXPECT_NE(dump.find("registers:\n  rip 0x"), std::string::npos);
    // The backtrace starts in the module, inside the function that faulted.
    const auto trace_at = dump.find("backtrace:\n  #0 0x");
    ASSERT_NE(trace_at, std::string::npos);
    EXPECT_NE(dump.find("PXEInstallDrivers", trace_at), std::string::npos);
    const auto maps_at = dump.find("memory map:\n");
    ASSERT_NE(maps_at, std::string::npos);
    EXPECT_NE(dump.find("pxecfg-variant/libpxecfg.so.1", maps_at), std::string::npos);
    EXPECT_NE(dump.find("[stack]", maps_at), std::string::npos);
}

TEST_P(CrashGuardTest, TheCallersHandlerGetsTheFault) {
    const int sig = GetParam();
    EXPECT_EXIT(
        {
            PrepareChild();
            struct sigaction callers {};
            callers.sa_sigaction = ExitWithCallersVerdict;
            callers.sa_flags = SA_SIGINFO;
            sigaction(sig, &callers, nullptr);
            FaultUnderGuard(sig);
        },
        ::testing::ExitedWithCode(100 + sig), "");
    EXPECT_NE(DumpText(trace).find(sigabbrev_np(sig)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, CrashGuardTest, ::testing::ValuesIn(kFaultSignals),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST(CrashGuard, ASignalSentBySoftwareIsNotSwallowed) {
    qvtest::TraceFixture trace;
    EXPECT_EXIT(
        {
            PrepareChild();
            FaultUnderGuard(-SIGILL);
            _exit(0);  // the function must not have gone on
        },
        ::testing::KilledBySignal(SIGILL), "");
    EXPECT_NE(DumpText(trace).find("signal: 4 SIGILL"), std::string::npos);
}

TEST(CrashGuard, NoLogFolderNoDumpNothingCreated) {
    qvtest::TraceFixture trace({.log_folder = false});
    EXPECT_EXIT(FaultInChild(SIGSEGV), ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_FALSE(std::filesystem::exists(trace.LogDir()));
}

TEST(CrashGuard, TwoThreadsFaultingLeaveOneWholeDump) {
    qvtest::TraceFixture trace;
    EXPECT_EXIT(
        {
            PrepareChild();
            ScriptFault(SIGSEGV);
            std::atomic<int> ready{0};
            auto fault = [&] {
                const qv::CrashGuard guard(qv::DumpPath());
                ready.fetch_add(1);
                while (ready.load() < 2) {
                }
                PXEInstallDrivers(kGuardedAdapter);
            };
            std::thread first(fault);
            std::thread second(fault);
            first.join();
            second.join();
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    const std::string dump = DumpText(trace);
    EXPECT_EQ(Occurrences(dump, "signal: "), 1u);
    EXPECT_EQ(Occurrences(dump, "memory map:\n"), 1u);
    EXPECT_NE(dump.find("[stack]"), std::string::npos);
}

sigjmp_buf g_back;
constexpr int kFaults[] = {SIGSEGV, SIGFPE};
void JumpBack(int) { siglongjmp(g_back, 1); }

TEST(CrashGuard, ALaterFaultReplacesTheDump) {
    qvtest::TraceFixture trace;
    EXPECT_EXIT(
        {
            PrepareChild();
            // A caller that recovers from faults by jumping out of them.
            for (int sig : kFaults) signal(sig, JumpBack);
            // The index lives in memory: the jump back out of a fault finds
            // it as the loop left it, not as a register held it.
            volatile std::size_t next = 0;
            while (next < std::size(kFaults)) {
                const int sig = kFaults[next];
                next = next + 1;
                if (sigsetjmp(g_back, 1) == 0) FaultUnderGuard(sig);
            }
            _exit(7);
        },
        ::testing::ExitedWithCode(7), "");
    const std::string dump = DumpText(trace);
    EXPECT_NE(dump.find("SIGFPE"), std::string::npos);
    EXPECT_EQ(dump.find("SIGSEGV"), std::string::npos);
}

bool SameAction(const struct sigaction& a, const struct sigaction& b) {
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sigismember(&a.sa_mask, sig) != sigismember(&b.sa_mask, sig)) return false;
    }
    // The C library adds its own signal-return trampoline to every action it
    // installs; that bit is its business, not the caller's.
    constexpr int kLibcRestorer = 0x04000000;
    return a.sa_sigaction == b.sa_sigaction &&
           (a.sa_flags & ~kLibcRestorer) == (b.sa_flags & ~kLibcRestorer);
}

void CallersHandler(int, siginfo_t*, void*) {}

TEST(CrashGuard, PutsBackThePreviousHandlersExactly) {
    struct sigaction before[4], callers{};
    callers.sa_sigaction = CallersHandler;
    callers.sa_flags = SA_SIGINFO | SA_RESTART | SA_NODEFER;
    sigemptyset(&callers.sa_mask);
    sigaddset(&callers.sa_mask, SIGUSR2);
    for (int i = 0; i < 4; ++i) sigaction(kFaultSignals[i], i % 2 ? &callers : nullptr, &before[i]);
    for (int i = 0; i < 4; ++i) sigaction(kFaultSignals[i], nullptr, &before[i]);
    {
        const qv::CrashGuard outer(qv::DumpPath());
        { const qv::CrashGuard inner(qv::DumpPath()); }
        for (int i = 0; i < 4; ++i) {
            struct sigaction during {};
            sigaction(kFaultSignals[i], nullptr, &during);
            EXPECT_FALSE(SameAction(during, before[i])) << "the guard must hold while one lives";
        }
    }
    for (int i = 0; i < 4; ++i) {
        struct sigaction after {};
        sigaction(kFaultSignals[i], nullptr, &after);
        EXPECT_TRUE(SameAction(after, before[i])) << sigabbrev_np(kFaultSignals[i]);
    }
}

}  // namespace
