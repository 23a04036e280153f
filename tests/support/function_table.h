// Every exported function, one row each.
//
// The rules that hold for all remote functions (the handle check, the
// transport faults, allocation failure, what a hostile reply can do) are
// tested once over this table instead of once per family, and the fuzzers
// take their targets from it. A family adds its functions here with a row;
// a test compares the table with the committed export list, so a function
// cannot be exported without being covered.
#pragma once

#include <span>
#include <string_view>

#include "qvcliapi.h"

namespace qvtest {

struct RemoteFunction {
    const char* name;
    unsigned proc;  // the procedure it calls
    // Calls the function with ordinary arguments and releases whatever it
    // handed out; returns its status.
    QV_STATUS (*call)(QV_HANDLE handle);
    // Whether it writes a line of its own when the service refuses, and
    // whether its request carries the login token (a procedure without an
    // argument carries nothing).
    bool logs = true;
    bool sends_token = true;
};

// Functions that take a handle and make one remote call.
std::span<const RemoteFunction> RemoteFunctions();

// Exported functions that are not in RemoteFunctions(): connection, local
// helpers, release functions.
std::span<const std::string_view> OtherExports();

const RemoteFunction* FindRemoteFunction(std::string_view name);

}  // namespace qvtest
