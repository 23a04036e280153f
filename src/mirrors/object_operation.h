// Requests that name one disk, partition or protection.
//
// Many procedures take nothing but an object reference and answer with a
// status: the mirror state operations, the cancels of the long operations,
// and more in other families. They differ only in procedure and error line,
// so each is one ObjectOperation row run by the same code:
//
//   constexpr ObjectOperation kStop = MakeObjectOperation<STOP_MIRROR>(
//       u"qvStopMirror, stop mirror error[%08X]", LogOn::kServiceWord);
//   QV_STATUS qvStopMirror(QV_HANDLE h, const QV_WCHAR* name, uint32_t number) {
//       return qv::RunObjectOperation(kStop, h, name, number);
//   }
//
// Records that carry objects as one-element arrays fill them with
// FillSingleObject.
#pragma once

#include <cstdint>
#include <type_traits>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "platform/alloc.h"

namespace qv {

// Which value an operation's error line prints.
enum class LogOn {
    kServiceWord,   // the reply's status word when nonzero; transport failures
                    // leave it 0 and write only the rpc-call-error line
    kMappedStatus,  // the mapped status when nonzero, transport failures and
                    // lack of memory included
    kNothing,       // the operation writes no line of its own
};

// An operation's error line (one %08X) and the value it prints.
struct ErrorLine {
    const char16_t* text;
    LogOn log_on;
};

// Writes `line` for the outcome of `call` whose mapped status is `status`,
// when the value the line prints is nonzero.
template <unsigned P>
void LogOutcome(const ErrorLine& line, const RemoteCall<P>& call, uint32_t status) noexcept {
    if (line.text == nullptr || line.log_on == LogOn::kNothing) return;
    // The service's word is 0 unless the call completed, so the two
    // choices differ only for transport failures and lack of memory.
    const uint32_t logged = line.log_on == LogOn::kServiceWord ? call.ServiceStatus() : status;
    if (logged != 0) LogMessage(2, line.text, logged);
}

struct ObjectOperation;
using ObjectOperationCall = uint32_t (*)(const ObjectOperation& op, QV_HANDLE handle,
                                         const char16_t* name, uint32_t number) noexcept;

struct ObjectOperation {
    ObjectOperationCall call;  // bound to the procedure by MakeObjectOperation
    const char16_t* message;   // error line with one %08X; null: the operation logs nothing
    LogOn log_on;
};

// Sends (name, number) as the whole argument of the call: kind 0 and the
// login token of the handle; an empty or null name goes as the lone
// terminator. Returns the mapped status, QV_STATUS_NO_MEMORY (nothing sent)
// when the name cannot be copied. The reply stays in `call` for reading.
template <unsigned P>
uint32_t CallWithObject(RemoteCall<P>& call, QV_HANDLE handle, const char16_t* name,
                        uint32_t number) noexcept {
    static_assert(std::is_same_v<typename wire::Proc<P>::Arg, RpcObjectRef>,
                  "the procedure takes one RpcObjectRef");
    if (!FillObjectRef(call.arg, name, number)) {
        return MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
    }
    call.arg.kind = 0;
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Map();
}

template <unsigned P>
uint32_t CallObjectOperation(const ObjectOperation& op, QV_HANDLE handle, const char16_t* name,
                             uint32_t number) noexcept {
    static_assert(std::is_same_v<typename wire::Proc<P>::Res, RpcStatus>,
                  "an object operation reads an RpcStatus");
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<P> call(handle);
    const uint32_t status = CallWithObject(call, handle, name, number);
    LogOutcome(ErrorLine{op.message, op.log_on}, call, status);
    return status;
}

template <unsigned P>
constexpr ObjectOperation MakeObjectOperation(const char16_t* message, LogOn log_on) noexcept {
    return ObjectOperation{&CallObjectOperation<P>, message, log_on};
}

inline uint32_t RunObjectOperation(const ObjectOperation& op, QV_HANDLE handle,
                                   const char16_t* name, uint32_t number) noexcept {
    return op.call(op, handle, name, number);
}

// Makes a record's object array hold one reference to (name, number), kind
// and token 0, as the records with their own token field carry it. The
// element is counted as soon as it exists, so the record's xdr_free gives
// back whatever was allocated when a later step fails. False when the heap
// says no.
inline bool FillSingleObject(u_int& count, RpcObjectRef*& elements, const char16_t* name,
                             uint32_t number) noexcept {
    auto* element = static_cast<RpcObjectRef*>(AllocZeroed(1, sizeof(RpcObjectRef)));
    if (element == nullptr) return false;
    elements = element;
    count = 1;
    return FillObjectRef(*element, name, number);
}

inline bool FillSingleObject(u_int& count, RpcObjectRef*& elements,
                             const QV_OBJECT_ID& object) noexcept {
    return FillSingleObject(count, elements, object.name, object.number);
}

}  // namespace qv
