#include "probe.h"

#include <archive.h>
#include <archive_entry.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "text.h"

namespace qvsim {
namespace {

struct ArchiveDeleter {
    void operator()(archive* a) const noexcept { archive_write_free(a); }
};
struct EntryDeleter {
    void operator()(archive_entry* e) const noexcept { archive_entry_free(e); }
};

la_ssize_t Append(archive*, void* data, const void* buffer, size_t length) {
    static_cast<std::string*>(data)->append(static_cast<const char*>(buffer), length);
    return static_cast<la_ssize_t>(length);
}

void Check(archive* a, int result) {
    if (result != ARCHIVE_OK) {
        const char* why = archive_error_string(a);
        throw std::runtime_error(std::string("probe archive: ") + (why != nullptr ? why : "failed"));
    }
}

void AddFile(archive* a, const std::string& name, const std::string& content, time_t when) {
    std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
    if (!entry) throw std::bad_alloc();
    archive_entry_set_pathname(entry.get(), ("quarvane-probe/" + name).c_str());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(content.size()));
    archive_entry_set_mtime(entry.get(), when, 0);
    Check(a, archive_write_header(a, entry.get()));
    if (archive_write_data(a, content.data(), content.size()) !=
        static_cast<la_ssize_t>(content.size())) {
        Check(a, ARCHIVE_FATAL);
    }
}

std::string EventLines(const EventLog& log) {
    std::string out;
    char head[96];
    for (const Event& e : log.events()) {
        std::snprintf(head, sizeof head, "%u %u type %u code %08X ", e.number, e.time, e.type,
                      e.code);
        out += head;
        if (e.subject_kind != kSubjectNone) {
            out += ToUtf8(e.subject_name);
            if (e.subject_kind == kSubjectObject) out += ":" + std::to_string(e.subject_number);
            out += " ";
        }
        out += ToUtf8(e.text) + "\n";
    }
    return out;
}

std::string SystemLines(const Model& model) {
    const SystemInfo& s = model.inventory().system;
    return "computer " + ToUtf8(s.computer) + "\nsystem " + ToUtf8(s.os) + " " +
           std::to_string(s.os_major) + "." + std::to_string(s.os_minor) + "." +
           std::to_string(s.os_build) + "\nprocessors " + std::to_string(s.processors) +
           "\nmemory_mib " + std::to_string(s.memory_mib) + "\ndisks " +
           std::to_string(model.inventory().disks.size()) + "\nprotections " +
           std::to_string(model.protections().size()) + "\n";
}

}  // namespace

std::string ProbeBundle(const Model& model) {
    std::string out;
    std::unique_ptr<archive, ArchiveDeleter> a(archive_write_new());
    if (!a) throw std::bad_alloc();
    Check(a.get(), archive_write_set_format_ustar(a.get()));
    // No padding of the last block beyond what the format needs.
    Check(a.get(), archive_write_set_bytes_in_last_block(a.get(), 1));
    Check(a.get(), archive_write_open(a.get(), &out, nullptr, Append, nullptr));
    const time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    AddFile(a.get(), "state.json", model.SaveState().dump(2) + "\n", now);
    AddFile(a.get(), "events.log", EventLines(model.diagnostics().events), now);
    AddFile(a.get(), "system.txt", SystemLines(model), now);
    Check(a.get(), archive_write_close(a.get()));
    return out;
}

}  // namespace qvsim
