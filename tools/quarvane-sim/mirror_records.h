// The records of one protection as the mirror families answer them, for the
// families that report protections too (a group lists its members'
// configurations and statistics).
#pragma once

#include "model.h"
#include "quarvane.h"

namespace qvsim {

void WriteMirrorConfig(const Protection& p, RpcMirrorConfig& out);  // mirror_config.cpp
void FillMirrorStats(const Model& model, const Protection& p, RpcMirrorStats& out);  // statistics.cpp

}  // namespace qvsim
