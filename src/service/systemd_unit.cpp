#include "service/systemd_unit.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qv {
namespace {

constexpr const char* kManagerName = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kUnitName = "quarvane.service";

template <std::size_t N>
bool Copy(const char* text, std::array<char, N>* out) noexcept {
    const std::size_t length = std::strlen(text);
    const bool whole = length < N;
    const std::size_t kept = whole ? length : N - 1;
    std::memcpy(out->data(), text, kept);
    (*out)[kept] = '\0';
    return whole;
}

// sd-bus answers negative errno values; the lines print them positive.
int Code(int r) noexcept { return r < 0 ? -r : 0; }

class BusError {
  public:
    ~BusError() { sd_bus_error_free(&error_); }
    sd_bus_error* get() noexcept { return &error_; }
    bool Is(const char* name) const noexcept { return sd_bus_error_has_name(&error_, name); }

  private:
    sd_bus_error error_{nullptr, nullptr, 0};  // SD_BUS_ERROR_NULL, a C compound literal
};

class Reply {
  public:
    ~Reply() { sd_bus_message_unref(message_); }
    sd_bus_message** out() noexcept { return &message_; }
    sd_bus_message* get() noexcept { return message_; }

  private:
    sd_bus_message* message_ = nullptr;
};

}  // namespace

ServiceState MapActiveState(const char* active_state) noexcept {
    struct Row {
        const char* name;
        ServiceState state;
    };
    static constexpr Row kRows[] = {
        {"active", ServiceState::kRunning},         {"activating", ServiceState::kStartPending},
        {"reloading", ServiceState::kStartPending}, {"deactivating", ServiceState::kStopPending},
        {"inactive", ServiceState::kStopped},       {"failed", ServiceState::kStopped},
    };
    if (active_state == nullptr) return ServiceState::kUnknown;
    for (const Row& row : kRows) {
        if (std::strcmp(row.name, active_state) == 0) return row.state;
    }
    return ServiceState::kUnknown;
}

SystemdUnit::~SystemdUnit() { sd_bus_flush_close_unref(bus_); }

int SystemdUnit::Connect() noexcept { return Code(sd_bus_open_system(&bus_)); }

int SystemdUnit::Find() noexcept {
    for (const char* method : {"GetUnit", "LoadUnit"}) {
        BusError error;
        Reply reply;
        const int r = sd_bus_call_method(bus_, kManagerName, kManagerPath, kManagerInterface,
                                         method, error.get(), reply.out(), "s", kUnitName);
        if (r < 0) {
            if (error.Is("org.freedesktop.systemd1.NoSuchUnit")) continue;
            return Code(r);
        }
        const char* path = nullptr;
        const int read = sd_bus_message_read(reply.get(), "o", &path);
        if (read < 0) return Code(read);
        return Copy(path, &path_) ? 0 : ENAMETOOLONG;
    }
    return ENOENT;
}

int SystemdUnit::CallManager(const char* method) noexcept {
    BusError error;
    return Code(sd_bus_call_method(bus_, kManagerName, kManagerPath, kManagerInterface, method,
                                   error.get(), nullptr, "ss", kUnitName, "replace"));
}

int SystemdUnit::Start() noexcept { return CallManager("StartUnit"); }

int SystemdUnit::Stop() noexcept { return CallManager("StopUnit"); }

int SystemdUnit::ReadState(ServiceState* state) noexcept {
    BusError error;
    char* value = nullptr;
    const int r = sd_bus_get_property_string(bus_, kManagerName, path_.data(), kUnitInterface,
                                             "ActiveState", error.get(), &value);
    if (r < 0) return Code(r);
    *state = MapActiveState(value);
    std::free(value);
    return 0;
}

int SystemdUnit::ReadSubState(std::array<char, 32>* sub_state) noexcept {
    BusError error;
    char* value = nullptr;
    const int r = sd_bus_get_property_string(bus_, kManagerName, path_.data(), kUnitInterface,
                                             "SubState", error.get(), &value);
    if (r < 0) return Code(r);
    Copy(value, sub_state);
    std::free(value);
    return 0;
}

bool SystemdUnit::HasQueuedJob() noexcept {
    BusError error;
    Reply reply;
    if (sd_bus_get_property(bus_, kManagerName, path_.data(), kUnitInterface, "Job", error.get(),
                            reply.out(), "(uo)") < 0) {
        return false;
    }
    std::uint32_t id = 0;
    const char* job_path = nullptr;
    return sd_bus_message_read(reply.get(), "(uo)", &id, &job_path) >= 0 && id != 0;
}

}  // namespace qv
