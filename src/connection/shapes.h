// The call shapes: roads that many exported functions share, as whole
// templates. A function of one of these shapes is its row in
// src/exports.def and, for a reader, its conversion; nothing else differs.
//
//   RunOperation<P>(row, handle, args...)   the request record is the whole
//       argument, built from args by FillRequest (an object reference from a
//       name and number, a group name record from a name, the status record
//       from nothing but the token); the reply is a status.
//   ReadByObject<P>(row, handle, name, number, out, convert)   sends the
//       object reference and converts the reply into the caller's record.
//   ReadRecord<P>(row, handle, out, convert)   the same with the status
//       record carrying only the token.
//   ReadByGroup<P>(row, handle, group, out, convert)   the same with the
//       group name record.
// The token field of every request is filled from the row's token column.
#pragma once

#include <cstdint>
#include <type_traits>

#include "connection/rpc_call.h"

namespace qv {

// The records that are the whole argument of their procedure, each filled
// from what the exported function takes and the handle's login token. False
// when the heap says no; whatever was taken goes back with the record.

// An object reference: kind 0, the name (empty or missing as the lone
// terminator) and number.
inline bool FillRequest(RpcObjectRef& arg, const char16_t* name, uint32_t number) noexcept {
    arg.kind = 0;
    return FillObjectRef(arg, name, number);
}

// A group name record: Reserved 0, a copy of the name.
inline bool FillRequest(RpcGroupName& arg, const char16_t* group) noexcept {
    arg.Reserved = 0;
    return FillWString(arg.GroupName, group);
}

// The status record of the calls that carry nothing but the token.
inline bool FillRequest(RpcStatus& arg) noexcept {
    arg.status = 0;
    arg.value = 0;
    return true;
}

// A procedure without an argument.
inline bool FillRequest(wire::NoRecord&) noexcept { return true; }

// Fills the request from args and the row's token, calls, maps and writes
// the row's line. The reply stays in `call` for reading.
template <unsigned P, typename... Args>
uint32_t CallWith(RemoteCall<P>& call, const Row& row, QV_HANDLE handle, Args... args) noexcept {
    if constexpr (requires { call.arg.token; }) call.arg.token = RequestToken(row, handle);
    if (!FillRequest(call.arg, args...)) return NoMemory(row);
    call.Invoke();
    return call.Finish(row);
}

// Returns what the row's answer column says: the status, a truth answer
// or the reply's value word.
template <unsigned P, typename... Args>
uint32_t RunOperation(const Row& row, QV_HANDLE handle, Args... args) noexcept {
    static_assert(std::is_same_v<typename wire::Proc<P>::Res, RpcStatus>,
                  "an operation reads a status");
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<P> call(handle);
    const uint32_t status = CallWith(call, row, handle, args...);
    return Answered(row, status, call.res.value);
}

// A null output is refused before anything is sent. When the row says the
// output is cleared it is all zero after any failure; otherwise a failure
// leaves it as it was, and `convert` (reply, output) -> status must not touch
// it when it fails. A failed conversion is logged like a failed call, but
// where the row keeps what a conversion short of memory had converted, that
// stays in the output and no line is written.
// `args` fill the request (nothing but the token when there are none).
template <unsigned P, typename Out, typename Convert, typename... Args>
uint32_t ReadRecord(const Row& row, QV_HANDLE handle, Out* out, Convert&& convert,
                    Args... args) noexcept {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (out == nullptr) return QV_STATUS_INVALID_PARAMETER;
    const bool kept = row.output == Output::kKeptOnConversion;
    const bool cleared = row.output == Output::kCleared || kept;
    if (cleared) Clear(*out);

    RemoteCall<P> call(handle);
    uint32_t status = CallWith(call, row, handle, args...);
    if (status != 0) return status;
    status = convert(static_cast<const typename wire::Proc<P>::Res&>(call.res), *out);
    if (status == QV_STATUS_NO_MEMORY && kept) return status;
    if (status != 0) {
        if (cleared) Clear(*out);
        LogFailure(row, 0, status);
    }
    return status;
}

template <unsigned P, typename Out, typename Convert>
uint32_t ReadByObject(const Row& row, QV_HANDLE handle, const char16_t* name, uint32_t number,
                      Out* out, Convert&& convert) noexcept {
    static_assert(std::is_same_v<typename wire::Proc<P>::Arg, RpcObjectRef>,
                  "a reader by object sends an object reference");
    return ReadRecord<P>(row, handle, out, convert, name, number);
}

template <unsigned P, typename Out, typename Convert>
uint32_t ReadByGroup(const Row& row, QV_HANDLE handle, const char16_t* group, Out* out,
                     Convert&& convert) noexcept {
    static_assert(std::is_same_v<typename wire::Proc<P>::Arg, RpcGroupName>,
                  "a reader by group sends the group name record");
    return ReadRecord<P>(row, handle, out, convert, group);
}

}  // namespace qv
