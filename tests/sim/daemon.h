// Support for the end-to-end tests of quarvane-sim: a temporary directory,
// the daemon as a child process, and an RPC client speaking to it through
// the generated stubs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "proc_table.h"
#include "quarvane.h"

namespace simtest {

// Status words the daemon answers with.
inline constexpr uint32_t kDiskNotFound = 0x6FFC0010;
inline constexpr uint32_t kPartitionNotFound = 0x6FFC0011;
inline constexpr uint32_t kSystemDiskAsMirror = 0x6FFC0016;
inline constexpr uint32_t kMirrorTooSmall = 0x6FFC0017;
inline constexpr uint32_t kMirrorHasPartitions = 0x6FFC0018;
inline constexpr uint32_t kDiskNotSupported = 0x6FFC0019;
inline constexpr uint32_t kProtectionNotFound = 0x6FFC0040;
inline constexpr uint32_t kProtectionExists = 0x6FFC0041;
inline constexpr uint32_t kWrongState = 0x6FFC0042;
inline constexpr uint32_t kProtectionStopped = 0x6FFC0043;
inline constexpr uint32_t kOtherOperationRunning = 0x6FFC0060;
inline constexpr uint32_t kAlreadyInProgress = 0x6FFC0061;
inline constexpr uint32_t kCancelled = 0x6FFC0065;
inline constexpr uint32_t kNoTaskRunning = 0x6FFC0067;
inline constexpr uint32_t kAlreadyStopped = 0x6FFC0069;
inline constexpr uint32_t kDiskOffline = 0x6FFC0070;
inline constexpr uint32_t kNotConnected = 0x6FFC0200;
inline constexpr uint32_t kInvalidParameter = 0x6FFC0300;
inline constexpr uint32_t kDiskError = 0xEFFC0031;

// A directory under the system's temporary directory, removed with
// everything in it on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path Write(const std::string& name, const std::string& content) const;

  private:
    std::filesystem::path path_;
};

// The small inventory most tests use:
//   Disk0  10000 MiB, system: 1 C: System 4000, 2 D: 2000
//   Disk1   8000 MiB:         1 E: Data 1000, 2 Spare 3000
//   Disk2   8000 MiB, no partitions
//   Disk3   4000 MiB:         1 F: Small 500, 2 G: Big 2000
//   Disk4   4000 MiB, dynamic: 1 (0x42) 1000, 2 1000
//   Disk5   2000 MiB, removable: 1 U: 1999
//   Disk6   8000 MiB, offline
std::string TestInventory();

// quarvane-sim started on 127.0.0.1 with --port 0 and the given arguments.
// The destructor stops it with SIGTERM and reaps it, killing it if it does
// not go.
class Daemon {
  public:
    explicit Daemon(const std::vector<std::string>& args);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    uint16_t port() const { return port_; }
    // Stops the daemon; returns its wait status. Further calls return the same.
    int Stop();
    bool running() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
    uint16_t port_ = 0;
    int wait_status_ = 0;
};

// Runs quarvane-sim to completion (for arguments that make it refuse to
// start); returns its wait status, or -1 when it started after all.
int RunToExit(const std::vector<std::string>& args);

// Owns the wire strings and object references of the requests a test
// builds, so that request records can simply point into it.
class Arena {
  public:
    RpcWString Text(std::u16string_view text);
    RpcWString NoText() { return RpcWString{0, nullptr}; }
    RpcObjectRef Ref(std::u16string_view name, uint32_t number, uint32_t token = 0);
    // A one-element array of references, as the records with Objects<> hold.
    RpcObjectRef* Refs(std::u16string_view name, uint32_t number);

  private:
    std::deque<std::vector<RpcWChar>> texts_;
    std::deque<RpcObjectRef> refs_;
};

// The received text of a wire string.
std::u16string Text(const RpcWString& s);

// A decoded reply, released with xdr_free when it goes.
template <unsigned P>
struct Reply {
    using Res = typename qv::wire::Proc<P>::Res;
    Res res{};
    enum clnt_stat rpc = RPC_SUCCESS;

    Reply() = default;
    ~Reply() { xdr_free(qv::wire::Proc<P>::ResFilter(), reinterpret_cast<char*>(&res)); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    const Res* operator->() const { return &res; }
};

// An ONC RPC client connected to the daemon.
class Client {
  public:
    explicit Client(uint16_t port);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    template <unsigned P>
    void Call(typename qv::wire::Proc<P>::Arg& arg, Reply<P>& reply) {
        reply.rpc = qv::wire::Proc<P>::Stub(&arg, &reply.res, client_);
    }

    // LOGIN with the given strings; the token, or 0 with the word in `status`.
    uint32_t Login(std::u16string_view user = u"admin", std::u16string_view password = u"secret",
                   uint32_t* status = nullptr);

  private:
    CLIENT* client_ = nullptr;
};

// A raw TCP connection, for what a well-behaved client never sends.
class RawConnection {
  public:
    explicit RawConnection(uint16_t port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    void Send(const std::vector<uint8_t>& bytes);
    // One whole record (all fragments); empty when the daemon closed.
    std::vector<uint8_t> ReadRecord();
    // Closes with a reset rather than an orderly shutdown.
    void Abort();

  private:
    int fd_ = -1;
};

// Big-endian 32-bit words, as XDR writes them.
void PutWord(std::vector<uint8_t>& out, uint32_t word);
uint32_t GetWord(const std::vector<uint8_t>& in, std::size_t index);

// A record-marked call message: header for the procedure, then `args`.
std::vector<uint8_t> CallRecord(uint32_t xid, uint32_t proc, const std::vector<uint8_t>& args,
                                uint32_t version = QUARVANE_VERS);

// Encodes a record with its filter.
std::vector<uint8_t> Encode(xdrproc_t filter, void* record);

// Polls `done` until it holds, for at most a generous while; false if it
// never does. Only for things that progress with the daemon's clock.
bool Eventually(const std::function<bool()>& done);

}  // namespace simtest
