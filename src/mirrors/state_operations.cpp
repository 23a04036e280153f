// The state operations of a protection: remove, suspend, resume, stop,
// synchronise and cancel a synchronisation. The service does the work; each
// function is a row of procedure and error line.
#include "mirrors/object_operation.h"

using qv::LogOn;
using qv::MakeObjectOperation;
using qv::ObjectOperation;

namespace {

constexpr ObjectOperation kDisableMirror = MakeObjectOperation<DISABLE_MIRROR>(
    u"qvDisableMirror, disable mirror error[%08X]", LogOn::kServiceWord);
constexpr ObjectOperation kSuspendMirror = MakeObjectOperation<SUSPEND_MIRROR>(
    u"qvSuspendMirror, suspend mirror error[%08X]", LogOn::kServiceWord);
constexpr ObjectOperation kResumeMirror = MakeObjectOperation<RESUME_MIRROR>(
    u"qvResumeMirror, resume mirror error[%08X]", LogOn::kServiceWord);
constexpr ObjectOperation kStopMirror =
    MakeObjectOperation<STOP_MIRROR>(u"qvStopMirror, stop mirror error[%08X]", LogOn::kServiceWord);
constexpr ObjectOperation kSyncMirror = MakeObjectOperation<SYNC_MIRROR>(
    u"qvSyncMirror, sync start mirror error[%08X]", LogOn::kServiceWord);
// The line keeps the name the operation was known by when it was added.
constexpr ObjectOperation kCancelSyncMirror = MakeObjectOperation<CANCEL_SYNC_MIRROR>(
    u"qvSyncStopMirror, sync stop mirror error[%08X]", LogOn::kServiceWord);

}  // namespace

extern "C" QV_STATUS qvDisableMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number) {
    return qv::RunObjectOperation(kDisableMirror, handle, name, number);
}

extern "C" QV_STATUS qvSuspendMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number) {
    return qv::RunObjectOperation(kSuspendMirror, handle, name, number);
}

extern "C" QV_STATUS qvResumeMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number) {
    return qv::RunObjectOperation(kResumeMirror, handle, name, number);
}

extern "C" QV_STATUS qvStopMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number) {
    return qv::RunObjectOperation(kStopMirror, handle, name, number);
}

extern "C" QV_STATUS qvSyncMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number) {
    return qv::RunObjectOperation(kSyncMirror, handle, name, number);
}

extern "C" QV_STATUS qvCancelSyncMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number) {
    return qv::RunObjectOperation(kCancelSyncMirror, handle, name, number);
}
