// The table of exported functions (src/exports.def) as the tests and the
// fuzzers use it: each remote function's row with a way to call it with
// ordinary arguments.
//
// The call is made from the function's own signature: a name and number
// become the sample object, a request or filter its ordinary value (one per
// record type, in function_table.cpp), an output a slot of the call's own
// that is filled with a pattern first and given back through the row's
// release function afterwards. A function of an existing shape therefore
// needs nothing here beyond its row.
#pragma once

#include <ostream>
#include <span>
#include <string_view>

#include "connection/exports.h"
#include "qvcliapi.h"

namespace qvtest {

// The object every ordinary call names, as name and number.
inline constexpr const char16_t* kSampleObject = u"Harddisk1";
inline constexpr uint32_t kSampleNumber = 1;

// What a call left in its outputs.
enum class Outputs {
    kNone,       // the function has no output
    kUnchanged,  // every byte is still the fill
    kZero,       // every byte is zero
    kWritten,    // anything else
};

struct CallOptions {
    int null_at = -1;           // the pointer parameter passed as null (-1: none)
    unsigned char fill = 0xA5;  // every output byte before the call
    // The outputs are heap blocks given back whole through the release
    // function (its keep flag 0) instead of the call's own records (kept).
    bool heap_outputs = false;
};

struct CallResult {
    QV_STATUS status;
    Outputs outputs;
    // Heap outputs: the release function took them and nulled the pointer,
    // or gave back the entries of a list header.
    bool released = false;
};

struct RemoteFunction {
    const qv::Row* row;
    const char* family;
    // Pointer parameters a caller must not pass as null (the object's name
    // may be null).
    int pointers;
    // Whether the ordinary call names the sample object, which then goes
    // over the wire as an object reference (name, then number).
    bool names_object;
    // Whether the row names a release function for the output.
    bool releases;
    // Calls with ordinary arguments and gives back whatever the function
    // handed out.
    CallResult (*call)(QV_HANDLE handle, const CallOptions& options);

    const char* name() const { return row->name; }
    QV_STATUS operator()(QV_HANDLE handle) const { return call(handle, {}).status; }
};

inline void PrintTo(const RemoteFunction& f, std::ostream* os) { *os << f.name(); }

// A text into a caller's fixed array of zeros, cut to leave its terminator.
template <std::size_t N>
constexpr void Put(QV_WCHAR (&array)[N], std::u16string_view text) {
    text.copy(array, N - 1);
}

struct ReleaseFunction {
    const char* name;
    // Calls it with a null pointer and with a pointer to null; false when it
    // did not return 0 or changed what it was given.
    bool (*accepts_null)();
};

// Every function that takes the handle first and calls a procedure.
std::span<const RemoteFunction> RemoteFunctions();

std::span<const ReleaseFunction> ReleaseFunctions();

// Every procedure the library calls, with whether quarvane-sim models it
// (in table order, a procedure once).
struct CalledProcedure {
    unsigned procedure;
    qv::Sim sim;
};
std::span<const CalledProcedure> CalledProcedures();

// Every function of the table, by name.
std::span<const std::string_view> ExportedNames();

}  // namespace qvtest
