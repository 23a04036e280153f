// The progress records of the long operations, shared by their own progress
// procedures and by the statistics that embed them.
//
// Units: RpcProgress counts MiB (DirtyData what is left, TotalDone what is
// done); RpcVerifyProgress counts bytes in its amounts and bytes per second
// in Value6, as the client turns those into KiB.
#pragma once

#include "protection.h"
#include "quarvane.h"

namespace qvsim {

// Verify and restore copy in blocks of this size; counts of blocks and of
// I/O requests are derived from byte amounts with it.
inline constexpr double kBlockBytes = 64.0 * 1024.0;

void FillProgress(const Operation& op, RpcProgress& out);
void FillVerifyProgress(const Protection& p, const Rates& rates, RpcVerifyProgress& out);

}  // namespace qvsim
