// A disk of the model as the service describes it in a disk record, for
// the families that answer with one outside the disk list.
#pragma once

#include "model.h"
#include "quarvane.h"

namespace qvsim {

// Every partition of `disk`, with the fields GET_DISK_LIST gives them.
void FillDiskRecord(const Model& model, const Disk& disk, RpcDiskRecord& out);

}  // namespace qvsim
