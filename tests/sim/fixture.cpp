#include "fixture.h"

#include <span>

namespace simtest {

std::string Summary(const QV_DISK_LIST& list) {
    std::string out;
    for (uint32_t i = 0; i < list.Count; ++i) {
        const QV_DISK_INFO& e = list.Entries[i];
        out += (i == 0 ? "" : " ") + Ascii(e.DiskName);
        if (e.PartitionNumber != 0) out += ":" + std::to_string(e.PartitionNumber);
    }
    return out;
}

std::string Describe(const QV_DISK_LIST& list, std::string_view disk, uint32_t number) {
    for (const QV_DISK_INFO& e : std::span(list.Entries, list.Count)) {
        if (Ascii(e.DiskName) != disk || e.PartitionNumber != number) continue;
        char more[96];
        std::snprintf(
            more, sizeof more, "%llu/%llu%s|%u %u %u %u|%d/%d",
            static_cast<unsigned long long>(e.Size), static_cast<unsigned long long>(e.UsedSize),
            e.Measure == 1024 * 1024 ? " MiB" : " of other units", e.HighFlag, e.DiskMarked,
            e.Properties.Mode, e.PartitionType, e.Attribute, e.DiskAttribute3);
        return Ascii(e.DisplayName) + "|" + Ascii(e.Letters) + "|" + Ascii(e.Label) + "|" + more;
    }
    return "<not listed>";
}

}  // namespace simtest
