#include "module_variant.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "netboot/pxecfg.h"

#define VARIANT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_mutex;
QvTestPxeScript g_script;
std::string g_calls;

void Record(const char* name, const QV_HW_ADDRESS* address) {
    std::lock_guard lock(g_mutex);
    if (!g_calls.empty()) g_calls += "; ";
    g_calls += name;
    if (address != nullptr) {
        char text[24];
        std::snprintf(text, sizeof text, " %02x-%02x-%02x-%02x-%02x-%02x", address->bytes[0],
                      address->bytes[1], address->bytes[2], address->bytes[3], address->bytes[4],
                      address->bytes[5]);
        g_calls += text;
    }
}

// Each fault is the processor's own, not a signal sent by software.
[[gnu::noinline]] void Fault(int sig) {
    switch (sig) {
        case SIGSEGV:
            *static_cast<volatile int*>(nullptr) = 1;
            break;
        case SIGILL:
            __builtin_trap();
        case SIGFPE: {
            volatile int zero = 0;
            volatile int one = 1;
            one = one / zero;
            break;
        }
        case SIGBUS: {
            // A page of a file that has no bytes behind it.
            FILE* empty = std::tmpfile();
            void* page = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fileno(empty), 0);
            (void)*static_cast<volatile char*>(page);
            break;
        }
        default:
            if (sig < 0) raise(-sig);
            break;
    }
}

std::uint32_t Run(const char* name, const QV_HW_ADDRESS* address, std::uint32_t result,
                  std::uint32_t installed_after) {
    Record(name, address);
    if (g_script.fault_signal != 0 && g_script.fault_in != nullptr &&
        std::strcmp(g_script.fault_in, name) == 0) {
        Fault(g_script.fault_signal);
    }
    if (result == 0 && installed_after != 2) g_script.installed = installed_after;
    return result;
}

}  // namespace

VARIANT_EXPORT void QvTestPxeSetScript(const QvTestPxeScript* script) {
    std::lock_guard lock(g_mutex);
    g_script = *script;
    g_calls.clear();
}

VARIANT_EXPORT const char* QvTestPxeCalls() { return g_calls.c_str(); }

VARIANT_EXPORT std::uint32_t PXEIsDriversInstalled(void) {
    Run("PXEIsDriversInstalled", nullptr, 0, 2);
    return g_script.installed;
}

VARIANT_EXPORT std::uint32_t PXEInstallDrivers(QV_HW_ADDRESS address) {
    return Run("PXEInstallDrivers", &address, g_script.install_result, 1);
}

VARIANT_EXPORT std::uint32_t PXEReConfigPXEEnv(QV_HW_ADDRESS address) {
    return Run("PXEReConfigPXEEnv", &address, g_script.reconfig_result, 2);
}

VARIANT_EXPORT std::uint32_t PXEUninstallDrivers(void) {
    return Run("PXEUninstallDrivers", nullptr, g_script.uninstall_result, 0);
}
