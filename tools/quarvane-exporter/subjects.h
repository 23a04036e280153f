// What the parts of the collector share: the failures that end a scrape,
// object names, and the protection families written for one protection or
// summed over several (a group, groups.cpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "collector.h"

namespace qvexp {

// Thrown by Check when the road itself failed (the connection broke, the
// library ran out of memory): the scrape gives up and answers down.
struct Broke {
    QV_STATUS status;
};
void Check(QV_STATUS status);

// `Harddisk1:1`
std::string ObjectText(const QV_WCHAR* name, uint32_t number);

// What the protection families are written for: each protection alone
// (`primary`), or a group of protections (`group`) with its members'
// values summed.
struct Subject {
    std::string_view label;
    std::string_view name;
    std::vector<const ProtectionReading*> members;
};

struct Subjects {
    const char* prefix;  // of the family names
    const char* help;    // added to each family's help text
    std::vector<Subject> list;
};

void WriteSubjects(const Subjects& subjects, Exposition& out);

// Protection groups (groups.cpp).
void ReadGroups(QV_HANDLE handle, Reading& reading);
void WriteGroups(const Reading& reading, Exposition& out);

}  // namespace qvexp
