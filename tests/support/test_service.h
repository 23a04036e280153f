// A scriptable stand-in for the Quarvane service, run in-process on a
// loopback port.
//
// It speaks ONC RPC over TCP itself (record marking, call header, reply
// header) and uses the generated filters for the records, so what it
// records is exactly what went over the wire. Each procedure answers with a
// reply scripted by the test (a zeroed result record when nothing was
// scripted), or misbehaves on demand: stall, drop the connection, or send a
// reply whose result cannot be decoded.
//
//   qvtest::TestService svc;
//   svc.Answer<DISABLE_MIRROR>({.status = 0x6FFC0040});
//   ... call the library ...
//   auto req = svc.Last<DISABLE_MIRROR>();   // decoded RpcObjectRef
//   EXPECT_EQ(qvtest::Text(req->name), u"Disk1");
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "proc_table.h"
#include "qvcliapi.h"

namespace qvtest {

enum class Fault {
    kNone,
    kStall,    // read the call, answer only when the next call arrives (too late)
    kClose,    // read the call, then drop the connection
    kGarbage,  // answer with an accepted reply whose result cannot be decoded
};

using Bytes = std::vector<uint8_t>;

// Encodes a record with its filter; empty on failure.
Bytes Encode(xdrproc_t filter, const void* record);

bool DecodeInto(xdrproc_t filter, const Bytes& bytes, void* record);

// A record decoded from bytes, released with xdr_free on destruction. Every
// record held this way must decode: one that does not ends the program (a
// test's own decoding failures go through DecodeInto).
template <typename T>
class Decoded {
  public:
    Decoded(xdrproc_t filter, const Bytes& bytes) : filter_(filter) {
        if (!DecodeInto(filter, bytes, &value_)) {
            std::fprintf(stderr, "a record of %zu bytes does not decode\n", bytes.size());
            std::abort();
        }
    }
    ~Decoded() {
        xdr_free(filter_, reinterpret_cast<char*>(&value_));
    }
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;
    const T* operator->() const { return &value_; }
    const T& operator*() const { return value_; }

  private:
    xdrproc_t filter_;
    T value_{};
};

// Text of a decoded wire string (without the terminator).
std::u16string Text(const RpcWString& s);
// Wire strings' count, for asserting on the encoding of empty strings.
inline unsigned Count(const RpcWString& s) { return s.RpcWString_len; }

class TestService {
  public:
    // port 0 picks a free ephemeral port.
    explicit TestService(uint16_t port = 0);
    ~TestService();
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    uint16_t port() const { return port_; }
    // Connect parameters pointing at this service.
    QV_CONNECT_PARAM Params(const char16_t* login1 = u"admin",
                            const char16_t* login2 = u"secret") const;

    // Scripts the reply of procedure P until changed (sticky).
    template <unsigned P>
    void Answer(const typename qv::wire::Proc<P>::Res& res) {
        SetReply(P, Encode(qv::wire::Proc<P>::ResFilter(), &res), Fault::kNone);
    }
    // Scripts the raw bytes that follow the accepted-reply header.
    void AnswerRaw(unsigned proc, Bytes result_bytes);
    void Misbehave(unsigned proc, Fault fault);
    // Back to the zeroed default reply.
    void Reset(unsigned proc);

    // Requests as they arrived, oldest first.
    std::vector<unsigned> CallOrder() const;
    std::size_t TotalCalls() const { return CallOrder().size(); }
    std::size_t Calls(unsigned proc) const { return std::ranges::count(CallOrder(), proc); }
    Bytes LastBytes(unsigned proc) const;
    template <unsigned P>
    Decoded<typename qv::wire::Proc<P>::Arg> Last() const {
        return Decoded<typename qv::wire::Proc<P>::Arg>(qv::wire::Proc<P>::ArgFilter(),
                                                        LastBytes(P));
    }
    void ClearRecord();

    // Drops every open connection (as a restarting service would).
    void DropConnections();

  private:
    struct Script {
        Bytes reply;  // encoded result; empty with kNone means "zeroed default"
        Fault fault = Fault::kNone;
        bool scripted = false;
    };
    struct Request {
        unsigned proc;
        Bytes args;
    };
    struct Connection;

    void SetReply(unsigned proc, Bytes reply, Fault fault);
    void Run();
    // False when the connection is to be dropped.
    bool HandleRecord(Connection& conn, const Bytes& record);
    bool Send(Connection& conn, const Bytes& reply_body);

    int listen_fd_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<Script> scripts_;
    std::vector<Request> requests_;
    bool drop_all_ = false;
    bool stop_ = false;
};

}  // namespace qvtest
