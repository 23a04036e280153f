#include "platform/sigpipe_guard.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace qv {
namespace {

sigset_t PipeSet() noexcept {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool PipePending() noexcept {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

SigpipeGuard::SigpipeGuard() noexcept {
    const int saved = errno;
    const sigset_t pipe = PipeSet();
    sigset_t old;
    sigemptyset(&old);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    was_blocked_ = sigismember(&old, SIGPIPE) == 1;
    // Only a caller that blocks SIGPIPE itself can have one waiting: that
    // one is theirs, and stays.
    if (was_blocked_) was_pending_ = PipePending();
    errno = saved;
}

SigpipeGuard::~SigpipeGuard() {
    const int saved = errno;
    const sigset_t pipe = PipeSet();
    if (call_failed_ && !was_pending_ && PipePending()) {
        const timespec zero{0, 0};
        while (sigtimedwait(&pipe, nullptr, &zero) == -1 && errno == EINTR) {
        }
    }
    if (!was_blocked_) pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
    errno = saved;
}

}  // namespace qv
