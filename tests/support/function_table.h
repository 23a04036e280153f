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

// Which value a function's error line prints when a call fails.
enum class ErrorLog {
    kServiceWord,   // the reply's word; a transport failure writes only the
                    // rpc-call-error line
    kMappedStatus,  // the mapped status, after the rpc-call-error line on a
                    // transport failure
    kNone,          // no line of its own
};

struct RemoteFunction {
    const char* name;
    unsigned proc;  // the procedure it calls (the first, when it calls two)
    // Calls the function with ordinary arguments and releases whatever it
    // handed out; returns its status.
    QV_STATUS (*call)(QV_HANDLE handle);
    ErrorLog log = ErrorLog::kServiceWord;
    // A truth-valued function answers 1 for every failure but the handle's.
    bool truth_valued = false;
    // The procedure a function calls after `proc` when it calls two (a
    // read, then the write-back), else 0.
    unsigned then = 0;
};

// Functions that take a handle and make one remote call.
std::span<const RemoteFunction> RemoteFunctions();

// Exported functions that are not in RemoteFunctions(): connection, local
// helpers, release functions.
std::span<const std::string_view> OtherExports();

const RemoteFunction* FindRemoteFunction(std::string_view name);

}  // namespace qvtest
