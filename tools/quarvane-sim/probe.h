// A probe capture: what the service knows about itself, as one archive.
#pragma once

#include <string>

#include "model.h"

namespace qvsim {

// A tar archive (POSIX ustar) holding the directory "quarvane-probe" with
// state.json (the model as the state file has it), events.log (the event
// log, one event a line) and system.txt (the system information). Throws
// std::bad_alloc or std::runtime_error.
std::string ProbeBundle(const Model& model);

}  // namespace qvsim
