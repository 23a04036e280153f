// The network-boot module the tests link in the stand-in's place: the four
// functions answer as a test scripts them, record how they were called and
// can fault for real, with each of the signals a broken module raises.
#pragma once

#include <cstdint>

extern "C" {

struct QvTestPxeScript {
    std::uint32_t installed = 0;  // PXEIsDriversInstalled's answer; installs and uninstalls
                                  // that succeed change it
    std::uint32_t install_result = 0;
    std::uint32_t reconfig_result = 0;
    std::uint32_t uninstall_result = 0;
    int fault_signal = 0;            // SIGSEGV, SIGBUS, SIGILL or SIGFPE; 0: none; a
                                     // negative number: that signal sent by raise()
    const char* fault_in = nullptr;  // the function that faults
};

// Sets the script and forgets the calls recorded so far.
void QvTestPxeSetScript(const QvTestPxeScript* script);
// The calls since the last script, each "Name" or "Name aa-bb-cc-dd-ee-ff",
// separated by "; ".
const char* QvTestPxeCalls();
}
