// The network-boot module the project ships: it keeps the drivers' state
// as files under <Path>/pxe/, Path being the Quarvane installation
// directory of the parameters file. The file `drivers` there stands for
// installed drivers and holds the adapter they serve, "aa-bb-cc-dd-ee-ff"
// and a line end. A machine with real network-boot drivers has a module
// of its own in place of this one.
//
// Failure codes:
//   0xE0D00001  the installation directory is unknown
//   0xE0D00002  the state could not be written
//   0xE0D00003  no drivers are installed (re-configuration)
//   0xE0D00004  the address is all zero, which names no adapter
#include "netboot/pxecfg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/bounded_utf.h"
#include "platform/service_path.h"

#define PXE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr std::uint32_t kNoDirectory = 0xE0D00001u;
constexpr std::uint32_t kNotWritten = 0xE0D00002u;
constexpr std::uint32_t kNotInstalled = 0xE0D00003u;
constexpr std::uint32_t kNoAdapter = 0xE0D00004u;

// <Path>/pxe, or empty when the installation directory is unknown.
std::string StateDirectory() {
    char16_t wide[qv::kServicePathCapacity];
    if (!qv::GetServicePath(wide)) return {};
    std::array<char, qv::kServicePathCapacity * 3> narrow{};
    if (qv::Utf16ToUtf8(wide, narrow) == qv::kConvertFailed) return {};
    return std::string(narrow.data()) + "/pxe";
}

bool IsAdapter(const QV_HW_ADDRESS& address) {
    for (std::uint8_t byte : address.bytes) {
        if (byte != 0) return true;
    }
    return false;
}

// Writes the drivers file anew, through a temporary file and a rename, so
// that a reader never sees half of it.
std::uint32_t WriteDrivers(const std::string& directory, const QV_HW_ADDRESS& address) {
    if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) return kNotWritten;
    char line[32];
    const int length = std::snprintf(line, sizeof line, "%02x-%02x-%02x-%02x-%02x-%02x\n",
                                     address.bytes[0], address.bytes[1], address.bytes[2],
                                     address.bytes[3], address.bytes[4], address.bytes[5]);
    const std::string temporary = directory + "/drivers.new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return kNotWritten;
    const bool written = write(fd, line, static_cast<std::size_t>(length)) == length;
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temporary.c_str(), (directory + "/drivers").c_str()) != 0) {
        unlink(temporary.c_str());
        return kNotWritten;
    }
    return 0;
}

bool Installed(const std::string& directory) {
    return !directory.empty() && access((directory + "/drivers").c_str(), F_OK) == 0;
}

}  // namespace

PXE_EXPORT std::uint32_t PXEIsDriversInstalled(void) { return Installed(StateDirectory()) ? 1 : 0; }

PXE_EXPORT std::uint32_t PXEInstallDrivers(QV_HW_ADDRESS address) {
    const std::string directory = StateDirectory();
    if (directory.empty()) return kNoDirectory;
    if (!IsAdapter(address)) return kNoAdapter;
    return WriteDrivers(directory, address);
}

PXE_EXPORT std::uint32_t PXEReConfigPXEEnv(QV_HW_ADDRESS address) {
    const std::string directory = StateDirectory();
    if (directory.empty()) return kNoDirectory;
    if (!IsAdapter(address)) return kNoAdapter;
    if (!Installed(directory)) return kNotInstalled;
    return WriteDrivers(directory, address);
}

PXE_EXPORT std::uint32_t PXEUninstallDrivers(void) {
    const std::string directory = StateDirectory();
    if (directory.empty()) return kNoDirectory;
    if (unlink((directory + "/drivers").c_str()) != 0 && errno != ENOENT) return kNotWritten;
    return 0;
}
