// Keeps SIGPIPE away from the host process while the library writes to a
// service connection.
//
// The RPC runtime writes with plain write(). When the service has closed
// the connection, that write raises SIGPIPE, whose default action ends the
// process. The guard blocks SIGPIPE in the calling thread for the duration
// of one call; when the call failed, it swallows a SIGPIPE that the call
// itself raised, so the write fails with EPIPE and the call returns a status
// instead. The process's disposition is never touched, so the caller's own
// sockets keep whatever SIGPIPE handling it chose.
//
// A call that succeeded wrote nothing to a closed connection, so the good
// path costs two signal-mask calls and nothing else.
#pragma once

#include <signal.h>

namespace qv {

class SigpipeGuard {
  public:
    SigpipeGuard() noexcept;
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

    // The call failed: a SIGPIPE it raised is pending and must not outlive
    // the guard.
    void CallFailed() noexcept { call_failed_ = true; }

  private:
    bool was_blocked_ = false;
    bool was_pending_ = false;
    bool call_failed_ = false;
};

}  // namespace qv
