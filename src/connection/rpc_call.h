// The road every remote operation takes.
//
// A function checks the handle, fills `call.arg`, invokes, logs its own
// line from the service word or the mapped status, maps, converts
// `call.res` on success, and returns. RemoteCall owns both records: the
// request's copies and the decoded reply are released with xdr_free when it
// goes out of scope, on every path, so a function never frees by hand. The
// shapes many functions share are whole templates in connection/shapes.h.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "connection/exports.h"
#include "connection/handle.h"
#include "platform/sigpipe_guard.h"
#include "proc_table.h"
#include "qvcliapi.h"

namespace qv {

// Turns the outcome of one call into the library's status. A non-zero
// client status wins over the service's word and writes the rpc-call-error
// line; otherwise the service's word passes through unchanged.
uint32_t MapRpcStatus(enum clnt_stat client_status, uint32_t service_status) noexcept;

// The one way a function gives up for lack of memory: writes `line` (none
// when null) and returns 0xEFFC0001 through MapRpcStatus, so no
// rpc-call-error line.
uint32_t NoMemory(const char16_t* line = nullptr) noexcept;
// The same with the no-memory line of the function's row.
uint32_t NoMemory(const Row& row) noexcept;

// Writes the row's error line for a call that ended with the reply's status
// word `service_word` and the status `status`, as the row's LogOn says.
void LogFailure(const Row& row, uint32_t service_word, uint32_t status) noexcept;

// What the request's token field carries, as the row says.
inline uint32_t RequestToken(const Row& row, QV_HANDLE handle) noexcept {
    return row.token == Token::kZeroToken ? 0 : GetLoginToken(handle);
}

// A caller's output record, every byte zero: what a function leaves after
// a failure when its row says the output is cleared.
template <typename T>
void Clear(T& out) noexcept {
    static_assert(std::is_trivially_copyable_v<T>);
    std::memset(static_cast<void*>(&out), 0, sizeof out);
}

// Heap copy of text into a wire string, count = length + 1; null or empty
// text goes as count 1 with the single zero unit. False when the heap says no.
bool FillWString(RpcWString& out, const char16_t* text) noexcept;

// The optional texts of some records: a null text travels as count 0 with no
// units; any other text (the empty one included) as FillWString sends it.
bool FillOptionalWString(RpcWString& out, const char16_t* text) noexcept;

// Name and number of an object reference; kind and token are the caller's.
bool FillObjectRef(RpcObjectRef& ref, const char16_t* name, uint32_t number) noexcept;
inline bool FillObjectRef(RpcObjectRef& ref, const QV_OBJECT_ID& id) noexcept {
    return FillObjectRef(ref, id.name, id.number);
}
void ReleaseObjectRef(RpcObjectRef& ref) noexcept;

// Makes a record's object array hold one reference to (name, number), kind
// and token 0, as records with a token of their own carry it. The element
// is counted as soon as it exists, so the record's xdr_free gives back
// whatever was allocated when a later step fails. False when the heap says
// no.
bool FillSingleObject(u_int& count, RpcObjectRef*& elements, const char16_t* name,
                      uint32_t number) noexcept;
inline bool FillSingleObject(u_int& count, RpcObjectRef*& elements,
                             const QV_OBJECT_ID& object) noexcept {
    return FillSingleObject(count, elements, object.name, object.number);
}

// The received text of a wire string, up to its first zero unit and never
// past the units actually decoded.
std::u16string_view WireText(const RpcWString& s) noexcept;

// Caller-owned copy of a received wire string (see WireText); null when the
// heap says no.
char16_t* CopyWString(const RpcWString& s) noexcept;

// The reading side of an optional text: one received with no units reads
// back as null, any other as its copy. False only when the heap says no.
bool CopyOptionalWString(const RpcWString& s, char16_t*& out) noexcept;

template <unsigned P>
class RemoteCall {
  public:
    using Proc = wire::Proc<P>;
    using Arg = typename Proc::Arg;
    using Res = typename Proc::Res;
    static_assert(std::is_trivially_copyable_v<Arg> && std::is_trivially_copyable_v<Res>);

    explicit RemoteCall(QV_HANDLE handle) noexcept : handle_(handle) {
        std::memset(static_cast<void*>(&arg), 0, sizeof arg);
        std::memset(static_cast<void*>(&res), 0, sizeof res);
    }
    ~RemoteCall() {
        ReleaseArg();
        xdr_free(Proc::ResFilter(), reinterpret_cast<char*>(&res));
    }
    RemoteCall(const RemoteCall&) = delete;
    RemoteCall& operator=(const RemoteCall&) = delete;

    // One clnt_call through the handle's client; returns the client status.
    enum clnt_stat Invoke() noexcept {
        SigpipeGuard guard;
        client_status_ = Proc::Stub(&arg, &res, GetRpcClient(handle_));
        if (client_status_ != RPC_SUCCESS) guard.CallFailed();
        return client_status_;
    }

    enum clnt_stat ClientStatus() const noexcept { return client_status_; }

    // The service's status word of the reply (0 when the result has none, or
    // when the call did not complete).
    uint32_t ServiceStatus() const noexcept {
        if constexpr (requires { res.status; }) {
            return client_status_ == RPC_SUCCESS ? static_cast<uint32_t>(res.status) : 0;
        } else {
            return 0;
        }
    }

    // Gives the request's copies back (also done on destruction) and maps the
    // outcome.
    uint32_t Map() noexcept {
        ReleaseArg();
        return MapRpcStatus(client_status_, ServiceStatus());
    }

    // Maps the outcome and writes the row's error line as its LogOn says.
    uint32_t Finish(const Row& row) noexcept {
        const uint32_t status = Map();
        LogFailure(row, ServiceStatus(), status);
        return status;
    }

    void ReleaseArg() noexcept {
        if (!arg_released_) {
            xdr_free(Proc::ArgFilter(), reinterpret_cast<char*>(&arg));
            arg_released_ = true;
        }
    }

    Arg arg;
    Res res;

  private:
    QV_HANDLE handle_;
    enum clnt_stat client_status_ = RPC_FAILED;
    bool arg_released_ = false;
};

}  // namespace qv
