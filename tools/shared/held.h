// For the user programs of the library (qvctl, quarvane-exporter): a record
// or list header the library fills, given back through its release function
// (keep flag 1) when it goes.
#pragma once

#include <qvcliapi.h>

namespace qvtools {

template <class T, QV_STATUS (*Release)(T**, uint32_t)>
struct Held {
    T value{};
    Held() = default;
    ~Held() {
        T* held = &value;
        Release(&held, 1);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

}  // namespace qvtools
