// Protection groups: named sets of protections that the service handles
// together (groups.cpp). They share the snapshot book, whose snapshots and
// rollbacks a group runs on every member at once.
#pragma once

#include "snapshot_book.h"

namespace qvsim {

void RegisterGroupProcedures(Registry& registry, const BookContext& c);

}  // namespace qvsim
