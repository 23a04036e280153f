// Keeps SIGPIPE away from the host process while the library writes to a
// service connection.
//
// The RPC runtime writes with plain write(). When the service has closed
// the connection, that write raises SIGPIPE, whose default action ends the
// process. The guard blocks SIGPIPE in the calling thread for the duration
// of one call and swallows a SIGPIPE that the call itself raised, so the
// write fails with EPIPE and the call returns a status instead. The
// process's disposition is never touched, so the caller's own sockets keep
// whatever SIGPIPE handling it chose.
#pragma once

#include <signal.h>

namespace qv {

class SigpipeGuard {
  public:
    SigpipeGuard() noexcept;
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    bool was_blocked_ = false;
    bool was_pending_ = false;
};

}  // namespace qv
