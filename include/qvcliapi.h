/*
 * qvcliapi: the client library of the Quarvane service.
 *
 * Every function below (but qvWriteTrace and qvFreeMemory) returns a 32-bit
 * status: 0 for success, one of the QV_STATUS_... codes the library produces
 * itself, or the service's own status word passed through unchanged.
 * qvFormatErrMessage turns any status into text.
 *
 * Ownership: everything the library hands out comes from the C heap and is
 * given back through the matching qvFree... function (or qvFreeMemory for a
 * plain block). Release functions accept null.
 *
 * Threads: handles are independent; use each handle from one thread at a
 * time. The library starts no threads and takes no locks.
 *
 * Compiles as C11 and as C++17.
 */
#ifndef QVCLIAPI_H
#define QVCLIAPI_H

#include <stdint.h>

#ifdef __cplusplus
#define QV_EXTERN_C extern "C"
#else
#include <uchar.h>
#define QV_EXTERN_C
#endif

#if defined(QV_BUILDING_LIBRARY)
#define QV_API QV_EXTERN_C __attribute__((visibility("default")))
#else
#define QV_API QV_EXTERN_C
#endif

#if defined(__GNUC__)
#define QV_PRINTF_LIKE __attribute__((nonnull(2)))
#else
#define QV_PRINTF_LIKE
#endif

/* One UTF-16 code unit. All text at the interface is zero-terminated UTF-16. */
typedef char16_t QV_WCHAR;

/* The package version, the same as the build's project version (a
   configure-time check keeps the two in step). */
#define QV_VERSION_MAJOR 1
#define QV_VERSION_MINOR 0
#define QV_VERSION_PATCH 0
#define QV_VERSION_STRING "1.0.0"

/* Status code: 0 is success. */
typedef uint32_t QV_STATUS;

/* ---- Status codes the library produces itself ---------------------------- */
#define QV_STATUS_SUCCESS 0x00000000u
/* The client handle is null or has no RPC client. */
#define QV_STATUS_NO_HANDLE 0x6FFC8000u
/* The RPC client could not be created at connect time (nothing listening). */
#define QV_STATUS_CLIENT_CREATE 0x6FFC8001u
/* The host name could not be converted or resolved. */
#define QV_STATUS_HOST_UNRESOLVED 0x6FFC8002u
/* A call timed out. */
#define QV_STATUS_RPC_TIMEOUT 0x6FFC8003u
/* A call was not sent or its reply not received (connection lost). */
#define QV_STATUS_RPC_CHANNEL 0x6FFC8004u
/* Any other failure of a call (for example a reply that cannot be decoded). */
#define QV_STATUS_RPC_FAILED 0x6FFC8005u
/* A local step failed (service control, probe file). */
#define QV_STATUS_LOCAL_FAILURE 0xEFFC0000u
/* The library could not allocate memory it needs. */
#define QV_STATUS_NO_MEMORY 0xEFFC0001u
/* Service codes that the library also returns itself in a few refusals. */
#define QV_STATUS_INVALID_PARAMETER 0x6FFC0300u
#define QV_STATUS_SNAPSHOT_NOT_FOUND 0x6FFC0400u

/* ---- Connection ---------------------------------------------------------- */

/* Opaque client handle. */
typedef struct QV_CLIENT_HANDLE* QV_HANDLE;

/* Connect parameters, read by qvConnect and not kept. */
typedef struct QV_CONNECT_PARAM {
    const QV_WCHAR* host;   /* host name or dotted IPv4 address */
    uint32_t port;          /* 0 means 11580; otherwise the low 16 bits */
    const QV_WCHAR* login1; /* passed to the service unchanged */
    const QV_WCHAR* login2; /* passed to the service unchanged */
} QV_CONNECT_PARAM;

/* A disk, partition or protected object: name and number (0 = whole disk). */
typedef struct QV_OBJECT_ID {
    const QV_WCHAR* name;
    uint32_t number;
} QV_OBJECT_ID;

/* Resolves the host, connects, logs in. On success *handle is the new handle. */
QV_API QV_STATUS qvConnect(const QV_CONNECT_PARAM* param, QV_HANDLE* handle);
/* Logs out and releases the handle; *handle becomes null. On failure the
   handle stays usable. */
QV_API QV_STATUS qvDisconnect(QV_HANDLE* handle);
/* Releases the handle record without logging out. Always 0. */
QV_API QV_STATUS qvFreeHandle(QV_HANDLE* handle);
/* Gives back a plain block handed out by the library. Null is ignored. */
QV_API void qvFreeMemory(void* block);

/* ---- Trace output and messages ------------------------------------------ */

/* Writes one time-stamped line to the trace file when the level is 0, 1 or 2.
   The format is printf-like; %s takes a UTF-16 string. */
QV_API void qvWriteTrace(uint32_t level, const QV_WCHAR* format, ...) QV_PRINTF_LIKE;
/* Gives the message text of a status in *text (release with
   qvFreeErrMessage). The first parameter is not used. Always 0. */
QV_API QV_STATUS qvFormatErrMessage(QV_HANDLE unused, QV_STATUS status, QV_WCHAR** text);
/* Releases a text from qvFormatErrMessage and sets *text to null. Always 0. */
QV_API QV_STATUS qvFreeErrMessage(QV_WCHAR** text);

/* ---- Service control ------------------------------------------------------ */

/* The local Quarvane service, the systemd unit quarvane.service, reached over
   the system bus (DBUS_SYSTEM_BUS_ADDRESS when set). None needs a handle.
   Starts the service and waits while it starts: 0 once it runs,
   QV_STATUS_LOCAL_FAILURE when it is already running or starting, cannot be
   reached or does not come up (a start that shows no progress for 30
   seconds is given up). */
QV_API QV_STATUS qvStartService(void);
/* Stops the service and waits while it stops: 0 when it is stopped at the
   end (a stopped service included), else QV_STATUS_LOCAL_FAILURE. */
QV_API QV_STATUS qvStopService(void);
/* 1 when the service runs; 0 when it is starting, stopping, stopped, not
   installed or cannot be asked. Logs nothing. */
QV_API uint32_t qvIsServiceRunning(void);

/* ---- Disks: inventory -------------------------------------------------- */

/* Which disks and partitions qvGetDiskList asks for. */
typedef struct QV_DISK_FILTER {
    /* List kind: 1 disks and partitions the service does not exclude;
       3, 4, 255 every disk, each followed by its partitions; 5, 6 disks only;
       7 about Object: partitions only when its number is nonzero, disks only
       when it is 0; 8 about Object: the one partition its number names, or
       the first disk when it is 0. The partitions of a dynamic disk are never
       listed. Any other kind gives an empty list. */
    uint32_t Kind;
    uint32_t Options;           /* passed to the service */
    uint32_t Refresh;           /* nonzero: the service rescans its disks first */
    const QV_OBJECT_ID* Object; /* null, or the disk or partition; kinds 7, 8 need it */
} QV_DISK_FILTER;

/* The first property record of a disk. */
typedef struct QV_DISK_PROPERTIES {
    uint32_t Value0;
    uint32_t Value1;
    uint32_t Value2;
    uint32_t Value3;
    uint32_t Value4;
    uint32_t Value5;
    uint32_t Mode;   /* 1, 2 or 3; 0 when the service gives none */
    QV_WCHAR* Text1; /* null when the service sends no text */
    QV_WCHAR* Text2; /* null likewise */
} QV_DISK_PROPERTIES;

/* The first descriptor record of a disk. Texts are null when not sent. */
typedef struct QV_DISK_DESCRIPTOR {
    QV_WCHAR* Text1;
    QV_WCHAR* Text2;
    QV_WCHAR* Text3;
    QV_WCHAR* Text4;
    uint32_t Value;
    int64_t Value64;
} QV_DISK_DESCRIPTOR;

/* One entry of a disk list: a whole disk (PartitionNumber 0) or one of its
   partitions. DiskName and PartitionNumber name the object in the other
   calls. */
typedef struct QV_DISK_INFO {
    QV_WCHAR* DiskName;
    uint32_t PartitionNumber;
    uint32_t DiskNumber;
    uint32_t DiskMarked;   /* disk entry: 1 when the service counts partitions on it */
    QV_WCHAR* DisplayName; /* "Disk 0", "Disk 0 Partition 1 - System (C:)" */
    int32_t Attribute;
    int32_t DiskAttribute1;
    int32_t DiskAttribute2;
    uint32_t HighFlag;           /* 0 or 1 */
    int32_t DiskAttribute3;      /* disk entry only */
    uint32_t PartitionAttribute; /* partition entry only */
    uint32_t PartitionType;      /* disk entry: 0x42 for a dynamic disk, whose partitions
                                    are not listed */
    QV_WCHAR* DiskText1;
    QV_WCHAR* DiskText2;
    QV_WCHAR* Letters; /* disk entry: the letters of all its partitions */
    QV_WCHAR* Label;   /* disk entry: empty; partition entry: null when none */
    uint64_t Size;
    uint64_t UsedSize; /* disk entry: the sum over its partitions */
    uint32_t Measure;
    uint32_t DiskAttribute4;
    QV_DISK_PROPERTIES Properties;
    QV_DISK_DESCRIPTOR Descriptor;
} QV_DISK_INFO;

/* A list header supplied by the caller. Entries is null when Count is 0. */
typedef struct QV_DISK_LIST {
    uint32_t Count;
    QV_DISK_INFO* Entries;
} QV_DISK_LIST;

/* Lists disks and partitions as the filter asks. The list is emptied first
   and filled on success; release it with qvFreeDiskList. An invalid handle,
   a null filter or list, or kind 7 or 8 without an Object leave the list as
   it was (QV_STATUS_NO_HANDLE, QV_STATUS_INVALID_PARAMETER). A reply that
   contradicts itself gives QV_STATUS_RPC_FAILED, a failed allocation
   QV_STATUS_NO_MEMORY; after any other failure the list is empty.
   Each partition entry holds its own copies of its disk's texts, so the
   list can outgrow the reply by texts times partitions. A reply whose list
   would take more than 100 times the reply's size on the wire is refused
   with QV_STATUS_RPC_FAILED before anything is allocated. No disk of up to
   199 partitions comes near that, whatever the length of its texts; a disk
   of 128 partitions whose every text is 512 characters long takes about 51
   times its reply, and with such texts only a disk of some 377 partitions
   would be refused. */
QV_API QV_STATUS qvGetDiskList(QV_HANDLE handle, const QV_DISK_FILTER* filter, QV_DISK_LIST* list);
/* Releases the entries of *list and, when keepHeader is 0, the header
   itself (which must then come from the C heap), setting *list to null.
   With keepHeader nonzero the header is left as it is. Always 0. */
QV_API QV_STATUS qvFreeDiskList(QV_DISK_LIST** list, uint32_t keepHeader);
/* Asks the service to rescan its disks. */
QV_API QV_STATUS qvRefreshDiskList(QV_HANDLE handle);

/* ---- Snapshot schedule record ------------------------------------------- */

/* A snapshot schedule as a mirror or a group configuration carries it. The
   parameters pass between caller and service unchanged; their meaning for
   each mode is the service's. */
typedef struct QV_SNAPSHOT_SCHEDULE {
    uint32_t Mode; /* 1, 2 or 3; any other value is sent as 0 */
    uint32_t Param1;
    uint32_t Param2;
    uint32_t Param3;
    uint32_t Param4;
    uint32_t Param5;
    uint32_t Param6;
} QV_SNAPSHOT_SCHEDULE;

/* ---- Mirrors: configuration --------------------------------------------- */

/* One protection: a primary disk or partition and its mirror. Booleans are
   32-bit, 0 or nonzero. In a listed configuration every string is a separate
   block of the library's, given back through qvFreeMirConfigList. */
typedef struct QV_MIRROR_CONFIG {
    QV_OBJECT_ID Primary;
    QV_OBJECT_ID Mirror;
    uint32_t MirrorKind; /* 1 or 2; any other value is sent and read back as 0 */
    QV_SNAPSHOT_SCHEDULE Schedule;
    int32_t Setting1;
    int32_t Setting2; /* 1 while a snapshot schedule is in force */
    int32_t Setting3; /* set and cleared together with Setting2 */
    uint32_t Setting4;
    uint32_t Switch1; /* boolean: sent as 0 or 1, read back as the service holds it */
    uint32_t Setting5;
    uint32_t Setting6;
    const QV_WCHAR* Text1; /* null is sent as no text and read back as null */
    const QV_WCHAR* Text2;
    const QV_WCHAR* Text3;
    uint32_t Setting7;
    uint32_t Setting8;
    uint32_t Switch2; /* boolean: sent as 0 or 1, read back as the service holds it */
    uint32_t Setting9;
    const QV_WCHAR* Text4; /* sent by qvEnableMirror only */
    uint32_t LimitOn;      /* not sent: Limit must be nonzero when set; listed: Limit != 0 */
    uint32_t Limit;
    uint32_t Setting10;
    uint32_t Setting11;
    uint32_t Setting12;
    uint32_t Setting13;
    uint32_t Setting14;
    uint32_t Reserved1; /* not sent; 0 when listed */
    uint32_t Reserved2; /* not sent; 0 when listed */
} QV_MIRROR_CONFIG;

/* Argument of qvEnableMirror: the new protection and four booleans. */
typedef struct QV_MIRROR_ENABLE {
    QV_MIRROR_CONFIG Config;
    uint32_t EnableOption1;
    uint32_t EnableOption2;
    uint32_t EnableOption3;
    uint32_t EnableOption4;
} QV_MIRROR_ENABLE;

/* Selection of a configuration list. The mirror list sends Object only
   with Kind 1, refuses Kinds 2, 3 and 255 with QV_STATUS_INVALID_PARAMETER
   and does not read GroupName. */
typedef struct QV_CONFIG_FILTER {
    uint32_t Kind;
    const QV_WCHAR* GroupName;
    QV_OBJECT_ID Object;
} QV_CONFIG_FILTER;

/* Caller-supplied header of a mirror configuration list. */
typedef struct QV_MIRROR_CONFIG_LIST {
    uint32_t Count;
    QV_MIRROR_CONFIG* Entries;
} QV_MIRROR_CONFIG_LIST;

/* Protects enable->Config.Primary by enable->Config.Mirror. LimitOn set with
   Limit 0 is refused with QV_STATUS_INVALID_PARAMETER before anything is
   sent; so is a null enable. */
QV_API QV_STATUS qvEnableMirror(QV_HANDLE handle, const QV_MIRROR_ENABLE* enable);
/* Changes a protection as enable does, without Text4 and the enable options. */
QV_API QV_STATUS qvChangeMirrorConfig(QV_HANDLE handle, const QV_MIRROR_CONFIG* config);
/* Lists the configurations the service holds: *list is emptied first and
   filled on success (release it with qvFreeMirConfigList); it stays empty
   on every failure. A null filter or list gives QV_STATUS_INVALID_PARAMETER,
   a reply that contradicts itself QV_STATUS_RPC_FAILED, a failed allocation
   QV_STATUS_NO_MEMORY. */
QV_API QV_STATUS qvGetMirConfigList(QV_HANDLE handle, const QV_CONFIG_FILTER* filter,
                                    QV_MIRROR_CONFIG_LIST* list);
/* Releases the strings and the entries of *list and, when keepHeader is 0,
   the header itself (which must then come from the C heap), setting *list
   to null. With keepHeader nonzero the header is left as it stands: its
   Entries no longer point to anything and must not be released again.
   Always 0; a null *list is ignored. */
QV_API QV_STATUS qvFreeMirConfigList(QV_MIRROR_CONFIG_LIST** list, uint32_t keepHeader);

/* ---- Mirrors: state operations ------------------------------------------ */

/* Each names a protection by its primary (the disk list's name and partition
   number, 0 for a whole disk) and moves it to another state; the service's
   refusal is returned as its status word. */
QV_API QV_STATUS qvDisableMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);
QV_API QV_STATUS qvSuspendMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);
QV_API QV_STATUS qvResumeMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);
QV_API QV_STATUS qvStopMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);
/* Starts a synchronisation of the mirror with its primary. */
QV_API QV_STATUS qvSyncMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);
QV_API QV_STATUS qvCancelSyncMirror(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);

/* ---- Mirrors: statistics and progress ----------------------------------- */

/* Progress of a restore of the primary, a rollback or a snapshot. State is
   the operation's state (restore and snapshot 1 to 4, rollback 1 to 5), 0
   when the service reports one outside that range. */
typedef struct QV_PROGRESS {
    uint32_t State;
    uint32_t Result;
    uint32_t DirtyData;
    uint32_t TotalDone;
} QV_PROGRESS;

/* Progress of a verify. State is 1 running, 2 completed, 3 ended before it
   completed (cancelled, or stopped by the service; the trace file records it
   as an error), else 0. Amounts are in KiB, cut to their low 32 bits. */
typedef struct QV_VERIFY_PROGRESS {
    uint32_t State;
    uint32_t Result; /* not filled from the service's reply */
    uint32_t Amount1KiB;
    uint32_t Amount2KiB;
    uint32_t Value1;
    uint32_t Value2;
    uint32_t Value5;
    uint32_t Value4;
    uint32_t Value3;
    uint32_t Value6KiB;
    uint32_t Amount3KiB;
    uint64_t Count;
} QV_VERIFY_PROGRESS;

/* One block of input/output counters: amounts in KiB (low 32 bits) and the
   rates derived from them. */
typedef struct QV_IO_COUNTERS {
    uint32_t KiB1;
    uint32_t KiB2;
    uint32_t Rate1;
    uint32_t Rate2;
    uint64_t Count1;
    uint64_t Count2;
    uint64_t Count3;
} QV_IO_COUNTERS;

/* Which long operation a statistics record carries the progress of. */
#define QV_PROGRESS_KIND_NONE 0u
#define QV_PROGRESS_KIND_VERIFY 1u
#define QV_PROGRESS_KIND_RESTORE 2u
#define QV_PROGRESS_KIND_ROLLBACK 3u
#define QV_PROGRESS_KIND_SNAPSHOT 4u

/* The progress inside a statistics record: Verify when the kind is
   QV_PROGRESS_KIND_VERIFY, Operation otherwise. */
typedef union QV_STAT_PROGRESS {
    QV_VERIFY_PROGRESS Verify;
    QV_PROGRESS Operation;
} QV_STAT_PROGRESS;

/* The condition of one protection. State is 1 to 14 (0 for anything else);
   while it is 9 (restore), 10 (verify), 11 (rollback) or 12 (snapshot) the
   record carries that operation's progress. */
typedef struct QV_MIRROR_STAT {
    uint32_t State;
    uint32_t Condition;
    uint32_t Value1;
    uint32_t Value2;
    uint32_t Value3;
    uint32_t Value4;
    uint32_t Value5;
    uint32_t Amount2KiB;
    uint32_t Amount1KiB;
    uint32_t Value6;
    uint32_t ProgressKind; /* QV_PROGRESS_KIND_... */
    QV_STAT_PROGRESS Progress;
    QV_IO_COUNTERS Io1;
    QV_IO_COUNTERS Io2;
    QV_IO_COUNTERS Io3;
    QV_IO_COUNTERS Io4;
} QV_MIRROR_STAT;

/* Fills the caller's *stat with the statistics of the protection whose
   primary is (name, number). On failure *stat is all zero (it is left alone
   for an invalid handle). A null stat is refused with
   QV_STATUS_INVALID_PARAMETER before anything is sent. */
QV_API QV_STATUS qvGetMirrorStat(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                 QV_MIRROR_STAT* stat);
/* Gives back a heap block holding a QV_MIRROR_STAT and sets *stat to null;
   with keep nonzero it does nothing. Always 0. */
QV_API QV_STATUS qvFreeMirrorStat(QV_MIRROR_STAT** stat, uint32_t keep);

/* ---- Mirrors: verify and restore ---------------------------------------- */

/* Starts a verify of the mirror against its primary. */
typedef struct QV_VERIFY_REQUEST {
    QV_OBJECT_ID Object; /* the protection, named by its primary */
    uint32_t Mode;
    int32_t Option1; /* any nonzero value is sent as 1 */
    int32_t Option2; /* any nonzero value is sent as 1 */
} QV_VERIFY_REQUEST;

/* Starts a restore of the primary from the mirror. */
typedef struct QV_RESTORE_REQUEST {
    QV_OBJECT_ID Primary; /* the protection, named by its primary */
    int32_t Mode;
    QV_OBJECT_ID Counterpart; /* the second disk or partition of the restore */
    uint32_t Option1;
    uint32_t Option2;
    int32_t Option3;
} QV_RESTORE_REQUEST;

/* The six below start, follow and cancel a verify or a restore that the
   service runs. A null request or progress is refused with
   QV_STATUS_INVALID_PARAMETER before anything is sent. */
QV_API QV_STATUS qvVerifyData(QV_HANDLE handle, const QV_VERIFY_REQUEST* request);
/* Fills *progress on success (its Result is left as it was); on failure
   *progress is left alone. */
QV_API QV_STATUS qvGetVerifyProgress(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                     QV_VERIFY_PROGRESS* progress);
QV_API QV_STATUS qvCancelVeridyData(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);
QV_API QV_STATUS qvRestorePrimary(QV_HANDLE handle, const QV_RESTORE_REQUEST* request);
/* Fills *progress on success; on failure *progress is left alone. */
QV_API QV_STATUS qvGetRestorePrimaryProgress(QV_HANDLE handle, const QV_WCHAR* name,
                                             uint32_t number, QV_PROGRESS* progress);
QV_API QV_STATUS qvCancelRestorePrimary(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);

/* ---- Mirrors: data trace configuration ---------------------------------- */

/* How the service traces the data input/output of a disk or partition. */
typedef struct QV_DATA_TRACE_CONFIG {
    int32_t Option;
    QV_WCHAR* Text; /* may be null */
    uint32_t Count; /* when setting, 0 means 5 */
} QV_DATA_TRACE_CONFIG;

QV_API QV_STATUS qvSetDataTraceConfig(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                      const QV_DATA_TRACE_CONFIG* config);
/* Fills the caller's *config; its Text is the library's (give it back with
   qvFreeDataTraceConfig). On failure *config is zero with Text null. A null
   config, here or when setting, is refused with QV_STATUS_INVALID_PARAMETER
   before anything is sent. */
QV_API QV_STATUS qvGetDataTraceConfig(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                      QV_DATA_TRACE_CONFIG* config);
/* Gives back the Text of **config (Text becomes null) and, when keep is 0,
   the structure itself (a heap block), setting *config to null. Always 0. */
QV_API QV_STATUS qvFreeDataTraceConfig(QV_DATA_TRACE_CONFIG** config, uint32_t keep);

/* ---- Snapshots ---------------------------------------------------------- */

/* A protection group named by its first field; nothing else is read. A
   group configuration entry, which begins with the group name, serves. */
typedef struct QV_GROUP_REF {
    const QV_WCHAR* Name;
} QV_GROUP_REF;

/* Argument of qvTakeSnapshot. */
typedef struct QV_SNAPSHOT_REQUEST {
    const void* Owner; /* the QV_OBJECT_ID of the protected disk or partition */
    uint32_t Option;   /* 1 is sent as 1, any other value as 0 */
} QV_SNAPSHOT_REQUEST;

/* Which snapshots qvGetSnapshotList lists and qvDeleteSnapshots deletes. */
#define QV_SNAPSHOTS_OF_OBJECT 1u /* Target: a QV_OBJECT_ID */
#define QV_SNAPSHOTS_OF_GROUP 2u  /* Target: a QV_GROUP_REF */
#define QV_SNAPSHOT_OF_OBJECT 3u  /* Target: a QV_SNAPSHOT_KEY owned by a QV_OBJECT_ID */
#define QV_SNAPSHOT_OF_GROUP 4u   /* Target: a QV_SNAPSHOT_KEY owned by a QV_GROUP_REF */

typedef struct QV_SNAPSHOT_SELECTOR {
    uint32_t Kind; /* QV_SNAPSHOTS_OF_... / QV_SNAPSHOT_OF_... */
    const void* Target;
    uint32_t Param1; /* passed to the service by the list, not by the delete */
    uint32_t Param2;
    uint32_t Param3;
} QV_SNAPSHOT_SELECTOR;

/* One snapshot of an object or a group. Laid out as the first three fields
   of QV_SNAPSHOT_INFO, so a list entry serves as a key. */
typedef struct QV_SNAPSHOT_KEY {
    uint32_t OwnerKind; /* not read */
    const void* Owner;  /* a QV_OBJECT_ID, or a QV_GROUP_REF for a group */
    uint32_t SnapshotId;
} QV_SNAPSHOT_KEY;

/* The mounted view of a snapshot. */
typedef struct QV_SNAPSHOT_VIEW {
    uint32_t OwnerKind;  /* 0 */
    void* Owner;         /* null */
    uint32_t SnapshotId; /* 0 */
    QV_WCHAR* ViewName;  /* the view's text as the service holds it */
    QV_WCHAR* Text3;     /* empty */
    int64_t Value64;     /* 0 */
} QV_SNAPSHOT_VIEW;

/* One listed snapshot. Every string and block is the library's, given back
   through qvFreeSnapshotList. */
typedef struct QV_SNAPSHOT_INFO {
    uint32_t OwnerKind; /* 0: Owner is a QV_OBJECT_ID; 1: Owner is the group's name */
    void* Owner;        /* from the selector; null only when it could not be allocated */
    uint32_t SnapshotId;
    QV_WCHAR* ViewName; /* always an empty string in a list entry */
    QV_WCHAR* Text3;    /* null when the service sends none */
    int64_t Value64;
    QV_WCHAR* Text1;
    QV_SNAPSHOT_VIEW* View; /* null unless the snapshot is mounted as a view */
} QV_SNAPSHOT_INFO;

/* A list header supplied by the caller. */
typedef struct QV_SNAPSHOT_LIST {
    uint32_t Count;
    QV_SNAPSHOT_INFO* Entries;
} QV_SNAPSHOT_LIST;

/* Asks the service to snapshot a protected disk or partition; the snapshot
   is followed with qvGetSnapshotProgress. */
QV_API QV_STATUS qvTakeSnapshot(QV_HANDLE handle, const QV_SNAPSHOT_REQUEST* request);
/* Fills *progress on success (State 1 to 4, else 0); on failure *progress is
   left alone. */
QV_API QV_STATUS qvGetSnapshotProgress(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                       QV_PROGRESS* progress);
QV_API QV_STATUS qvCancelSnapshot(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);
/* Lists the snapshots the selector names (release with qvFreeSnapshotList).
   Kinds 3 and 4 give the one snapshot of the key's SnapshotId, or
   QV_STATUS_SNAPSHOT_NOT_FOUND with an empty list. Any other kind, a null
   selector, target or owner, or a null list is refused with
   QV_STATUS_INVALID_PARAMETER before anything is sent, the list untouched;
   after any other failure the list is empty. */
QV_API QV_STATUS qvGetSnapshotList(QV_HANDLE handle, const QV_SNAPSHOT_SELECTOR* selector,
                                   QV_SNAPSHOT_LIST* list);
/* Releases the entries of *list and, when keepHeader is 0, the header itself
   (a heap block), setting *list to null; with keepHeader nonzero the header
   is left as it stands. Always 0; a null *list is ignored. */
QV_API QV_STATUS qvFreeSnapshotList(QV_SNAPSHOT_LIST** list, uint32_t keepHeader);
/* Deletes the snapshots the selector names; Param1 to Param3 are not sent. */
QV_API QV_STATUS qvDeleteSnapshots(QV_HANDLE handle, const QV_SNAPSHOT_SELECTOR* selector);

/* ---- Snapshots: rollback ------------------------------------------------ */

/* Starts rolling the object back to snapshot snapshotId; the first three
   parameters after the handle take the first three fields of an object's
   QV_SNAPSHOT_INFO (ownerKind is not read). */
QV_API QV_STATUS qvRollback(QV_HANDLE handle, uint32_t ownerKind, const QV_OBJECT_ID* object,
                            uint32_t snapshotId, int32_t option);
/* Fills *progress on success (State 1 to 5, else 0); on failure *progress is
   left alone. */
QV_API QV_STATUS qvGetRollbackProgress(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                       QV_PROGRESS* progress);
QV_API QV_STATUS qvCancelRollback(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);

/* ---- Snapshots: views --------------------------------------------------- */

/* What qvMountBacklook reads: the first four fields of an object's
   QV_SNAPSHOT_INFO, ViewName set by the caller. */
typedef struct QV_BACKLOOK_MOUNT {
    uint32_t OwnerKind; /* not read */
    const void* Owner;  /* the QV_OBJECT_ID of the protected object */
    uint32_t SnapshotId;
    const QV_WCHAR* ViewName; /* null: no name is sent */
} QV_BACKLOOK_MOUNT;

/* Mounts a snapshot as a view disk of the service. */
QV_API QV_STATUS qvMountBacklook(QV_HANDLE handle, const QV_BACKLOOK_MOUNT* mount);
QV_API QV_STATUS qvUnmountBacklook(QV_HANDLE handle, uint32_t ownerKind, const QV_OBJECT_ID* object,
                                   uint32_t snapshotId);
/* Lists the disk of a mounted view and its partitions into the caller's
   list (release with qvFreeDiskList); the list is empty after any failure
   and untouched for an invalid handle or a null key, owner or list. */
QV_API QV_STATUS qvGetBacklookDisk(QV_HANDLE handle, const QV_SNAPSHOT_KEY* key, QV_DISK_LIST* list,
                                   uint32_t param);

/* ---- Snapshots: partition operations ------------------------------------ */

typedef struct QV_PARTITION_REQUEST {
    QV_OBJECT_ID Object;
    uint32_t Param1; /* the four parameters go to the service unchanged */
    uint32_t Param2;
    uint32_t Param3;
    uint32_t Param4;
} QV_PARTITION_REQUEST;

QV_API QV_STATUS qvAllocPartitionForDisk(QV_HANDLE handle, const QV_PARTITION_REQUEST* request);
/* Expansion and relocation are started by the call and run in the service. */
QV_API QV_STATUS qvExpandDisk(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                              uint32_t value);
QV_API QV_STATUS qvRelocatePartition(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                     uint32_t value);
/* Reports nothing: reads none of its parameters and returns 0. */
QV_API QV_STATUS qvGetRelocatePartitionProgress(QV_HANDLE handle, const QV_WCHAR* name,
                                                uint32_t number, QV_PROGRESS* progress);

/* ---- Snapshots: notifications ------------------------------------------- */

typedef struct QV_NOTIFICATION {
    uint32_t Value1;
    uint32_t Value2;
    uint32_t Value3;
    QV_WCHAR* Text;
} QV_NOTIFICATION;

/* Supplied by the caller; Entries is null when Count is 0. */
typedef struct QV_NOTIFICATION_LIST {
    uint32_t FirstValue3; /* Value3 of the first notification; 0 when none */
    uint32_t Count;
    QV_NOTIFICATION* Entries;
} QV_NOTIFICATION_LIST;

/* Fetches the service's notifications that match the three values. On
   failure the list keeps what it held. */
QV_API QV_STATUS qvGetNotifications(QV_HANDLE handle, uint32_t param1, uint32_t param2,
                                    uint32_t param3, QV_NOTIFICATION_LIST* list);
/* Gives back the texts and the entries; the list's own fields are left as
   they were. Always 0. */
QV_API QV_STATUS qvFreeNotifications(QV_NOTIFICATION_LIST* list);

/* ---- Snapshots: schedule operations ------------------------------------- */

/* Sets the snapshot schedule of a protection (Mode and Param1 to Param4 are
   read; Param5 and Param6 keep what the service holds). Every other setting
   of the protection goes back as the service holds it. */
QV_API QV_STATUS qvScheduleSnapshot(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                    const QV_SNAPSHOT_SCHEDULE* schedule);
/* Takes the schedule out of force; the stored schedule itself is kept. */
QV_API QV_STATUS qvRemoveSnapshotSchedule(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);

/* ---- Disks: maintenance ------------------------------------------------- */

typedef struct QV_CONFLICT_QUERY {
    uint32_t Flag; /* sent as 0 or 1 */
    QV_OBJECT_ID First;
    QV_OBJECT_ID Second;
    const QV_WCHAR* Text; /* may be null */
} QV_CONFLICT_QUERY;

/* A disk or partition a restore would conflict with. */
typedef struct QV_CONFLICT {
    QV_WCHAR* Name;
    uint32_t Number;
    uint32_t Value;
} QV_CONFLICT;

typedef struct QV_CONFLICT_LIST {
    uint32_t Count;
    QV_CONFLICT* Entries;
} QV_CONFLICT_LIST;

QV_API QV_STATUS qvBenchMarkDisk(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number);
QV_API QV_STATUS qvRefreshDiskFileSystem(QV_HANDLE handle, uint32_t parameter);
/* Fills the caller's list on success (release with qvFreeConflictList); on
   failure the list is not written. */
QV_API QV_STATUS qvCheckRestoreConflict(QV_HANDLE handle, const QV_CONFLICT_QUERY* query,
                                        QV_CONFLICT_LIST* list);
/* Gives back the names and the entries (Entries becomes null, Count stays)
   and, when keep is 0, the header itself (a heap block), setting *list to
   null. Always 0. */
QV_API QV_STATUS qvFreeConflictList(QV_CONFLICT_LIST** list, uint32_t keep);
/* *throughput is written on success only. */
QV_API QV_STATUS qvTestDiskThroughput(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                      uint32_t* throughput);
/* 1 when the disk still carries snapshots of its own, or when the question
   fails; 0 when it carries none; QV_STATUS_NO_HANDLE for an invalid handle. */
QV_API uint32_t qvIsOriginalDiskHasSnapshots(QV_HANDLE handle, const QV_WCHAR* name,
                                             uint32_t number);
QV_API QV_STATUS qvClearOriginalDiskSnapshots(QV_HANDLE handle, const QV_WCHAR* name,
                                              uint32_t number);
/* Rolls the object back to snapshot snapshotId; reserved is not read. */
QV_API QV_STATUS qvRollbackToSnapshot(QV_HANDLE handle, uint32_t reserved,
                                      const QV_OBJECT_ID* object, uint32_t snapshotId);
/* *finished is 0 first, and 1 on success when the rollback has ended. */
QV_API QV_STATUS qvIsRollbackFinished(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                      uint32_t* finished);

/* ---- Groups: configuration ---------------------------------------------- */

/* A protection group: a named set of protections handled together. Setting2,
   Setting3, Setting4, Setting7, Setting8 and Switch2 are the group-wide
   values of the member settings of the same names. A listed group's strings
   and Members are the library's, given back through qvFreeGroupConfigList. */
typedef struct QV_GROUP_CONFIG {
    const QV_WCHAR* Name; /* first, so that the record serves as a QV_GROUP_REF */
    const QV_WCHAR* Text; /* null is sent as no text and read back as null */
    uint32_t MirrorKind;  /* 1 or 2, any other value is sent as 0; read back as held */
    QV_SNAPSHOT_SCHEDULE Schedule; /* Mode read back as held */
    int32_t Setting2;
    int32_t Setting3;
    uint32_t Switch2; /* boolean: sent as 0 or 1, read back as held */
    uint32_t GroupSetting1;
    uint32_t Setting4;
    uint32_t Setting7;    /* not sent */
    uint32_t Setting8;
    uint32_t MemberCount; /* not sent */
    QV_MIRROR_CONFIG* Members; /* not sent; null when the group has none */
} QV_GROUP_CONFIG;

/* Caller-supplied header of a group configuration list. */
typedef struct QV_GROUP_CONFIG_LIST {
    uint32_t Count;
    QV_GROUP_CONFIG* Entries;
} QV_GROUP_CONFIG_LIST;

/* Create and change send the group's own fields; MirrorKind also goes
   unreduced with the schedule. A null config is refused with
   QV_STATUS_INVALID_PARAMETER before anything is sent. */
QV_API QV_STATUS qvCreateGroup(QV_HANDLE handle, const QV_GROUP_CONFIG* config);
QV_API QV_STATUS qvChangeGroupConfig(QV_HANDLE handle, const QV_GROUP_CONFIG* config);
QV_API QV_STATUS qvDeleteGroup(QV_HANDLE handle, const QV_WCHAR* group);
/* The member is a protection, named by its primary. */
QV_API QV_STATUS qvAddGroupMember(QV_HANDLE handle, const QV_WCHAR* group, const QV_WCHAR* name,
                                  uint32_t number);
QV_API QV_STATUS qvRemoveGroupMember(QV_HANDLE handle, const QV_WCHAR* group,
                                     const QV_WCHAR* name, uint32_t number);
/* Adds count protections at once; members holds count pointers, none of
   them null (QV_STATUS_INVALID_PARAMETER). A count of 0 sends an empty set. */
QV_API QV_STATUS qvAddGroupMembers(QV_HANDLE handle, const QV_WCHAR* group, uint32_t count,
                                   const QV_OBJECT_ID* const* members);
/* Lists the groups with their members: *list is emptied first and filled on
   success (release it with qvFreeGroupConfigList); it stays empty on every
   failure. The filter's Kind 1 and 4 are refused with
   QV_STATUS_INVALID_PARAMETER; Kind 2 sends Object; a GroupName that is
   not null selects that group. Each member carries its group's Setting2,
   Setting3, Setting4, Setting7, Setting8 and Switch2. A reply that
   contradicts itself gives QV_STATUS_RPC_FAILED, a failed allocation
   QV_STATUS_NO_MEMORY. */
QV_API QV_STATUS qvGetGroupConfigList(QV_HANDLE handle, const QV_CONFIG_FILTER* filter,
                                      QV_GROUP_CONFIG_LIST* list);
/* Releases the entries of *list with their members and leaves the header
   empty (Count 0, Entries null); when keepHeader is 0 it also releases the
   header (a heap block) and sets *list to null. Always 0. */
QV_API QV_STATUS qvFreeGroupConfigList(QV_GROUP_CONFIG_LIST** list, uint32_t keepHeader);

/* ---- Groups: operations and progress ------------------------------------ */

/* Each acts on every member of the named group. */
QV_API QV_STATUS qvSuspendGroup(QV_HANDLE handle, const QV_WCHAR* group);
QV_API QV_STATUS qvResumeGroup(QV_HANDLE handle, const QV_WCHAR* group);
QV_API QV_STATUS qvStopGroup(QV_HANDLE handle, const QV_WCHAR* group);
QV_API QV_STATUS qvSyncGroup(QV_HANDLE handle, const QV_WCHAR* group);
QV_API QV_STATUS qvCancelSyncGroup(QV_HANDLE handle, const QV_WCHAR* group);
/* request->Owner is a QV_GROUP_REF; Option is sent as it stands. */
QV_API QV_STATUS qvTakeGroupSnapshot(QV_HANDLE handle, const QV_SNAPSHOT_REQUEST* request);
QV_API QV_STATUS qvCancelGroupSnapshot(QV_HANDLE handle, const QV_WCHAR* group);
/* Starts rolling every member back to the group's snapshot snapshotId; the
   parameters after the handle follow a snapshot entry's first three fields.
   An ownerKind of 0 is refused with QV_STATUS_INVALID_PARAMETER; any other
   value is not sent. */
QV_API QV_STATUS qvRollbackGroup(QV_HANDLE handle, uint32_t ownerKind, const QV_GROUP_REF* group,
                                 uint32_t snapshotId);
QV_API QV_STATUS qvCancelGroupRollback(QV_HANDLE handle, const QV_WCHAR* group);
/* Fill *progress on success (snapshot State 1 to 4, rollback 1 to 5, else
   0); on failure *progress is left alone. */
QV_API QV_STATUS qvGetGroupSnapshotProgress(QV_HANDLE handle, const QV_WCHAR* group,
                                            QV_PROGRESS* progress);
QV_API QV_STATUS qvGetGroupRollbackProgress(QV_HANDLE handle, const QV_WCHAR* group,
                                            QV_PROGRESS* progress);

/* ---- Groups: statistics ------------------------------------------------- */

/* One member of a group with its full statistics. */
typedef struct QV_GROUP_MEMBER_STAT {
    QV_WCHAR* Name; /* the member's primary */
    uint32_t Number;
    QV_MIRROR_STAT Stat;
} QV_GROUP_MEMBER_STAT;

/* The condition of a group. State is on the scale of QV_MIRROR_STAT's;
   Condition is that of the first member whose Condition is not 0, 1 or 3.
   The progress of a group-wide operation is summed over the members
   (32-bit, wrapping); a verify sums only the three amounts. */
typedef struct QV_GROUP_STAT {
    uint32_t State;
    uint32_t Condition;
    uint32_t Value1;
    uint32_t Value2;
    uint32_t Value3;
    uint32_t Value4;
    uint32_t ProgressKind; /* QV_PROGRESS_KIND_... */
    QV_STAT_PROGRESS Progress;
    uint32_t MemberCount;
    QV_GROUP_MEMBER_STAT* Members; /* null when the group has none */
} QV_GROUP_STAT;

/* Fills *stat with the statistics of the group filter->GroupName (required);
   Kind 2 also sends filter->Object. On failure *stat is all zero (left
   alone for an invalid handle, a null filter or a null name). Release the
   members with qvFreeGroupStat. */
QV_API QV_STATUS qvGetGroupStat(QV_HANDLE handle, const QV_CONFIG_FILTER* filter,
                                QV_GROUP_STAT* stat);
/* Releases the members' names and the member block; MemberCount and Members
   are left as they stand (pointing to nothing). When keepHeader is 0 it also
   releases *stat (a heap block) and sets it to null. Always 0. */
QV_API QV_STATUS qvFreeGroupStat(QV_GROUP_STAT** stat, uint32_t keepHeader);

/* ---- Cluster ------------------------------------------------------------ */

/* Sizes, in UTF-16 units with the terminator, of the texts that cluster
   records hold inline. A longer text from the service is cut to fit and
   always terminated; it never reaches the next field. */
#define QV_CLUSTER_GROUP_NAME_UNITS 256
#define QV_CLUSTER_GROUP_TAG_UNITS 64
#define QV_CLUSTER_NAME_UNITS 64
#define QV_CLUSTER_DISK_NAME_UNITS 128
#define QV_CLUSTER_DISK_TEXT1_UNITS 80
#define QV_CLUSTER_DISK_TEXT2_UNITS 36

/* The physical disk of a cluster group; one flat block. */
typedef struct QV_CLUSTER_DISK {
    QV_WCHAR diskName[QV_CLUSTER_DISK_NAME_UNITS];
    uint32_t diskId;
    QV_WCHAR diskText1[QV_CLUSTER_DISK_TEXT1_UNITS];
    QV_WCHAR diskText2[QV_CLUSTER_DISK_TEXT2_UNITS];
    int32_t diskValue1;
    int32_t diskValue2;
} QV_CLUSTER_DISK;

/* A cluster group with its physical disk; one flat block. */
typedef struct QV_CLUSTER_GROUP {
    QV_WCHAR groupName[QV_CLUSTER_GROUP_NAME_UNITS];
    QV_WCHAR groupTag[QV_CLUSTER_GROUP_TAG_UNITS];
    int32_t value1;
    int32_t value2;
    int32_t value3;
    int32_t value4;
    QV_CLUSTER_DISK disk;
} QV_CLUSTER_GROUP;

/* The cluster as the service sees it, in a record the caller supplies. */
typedef struct QV_CLUSTER_INFO {
    uint32_t infoWord;
    QV_WCHAR name1[QV_CLUSTER_NAME_UNITS];
    QV_WCHAR name2[QV_CLUSTER_NAME_UNITS];
    QV_WCHAR name3[QV_CLUSTER_NAME_UNITS];
    uint32_t groupCount;
    QV_CLUSTER_GROUP* groups; /* groupCount blocks, the library's; null when none */
} QV_CLUSTER_INFO;

/* The physical disks of one cluster group, in a header the caller supplies. */
typedef struct QV_CLUSTER_DISK_LIST {
    uint32_t count;
    QV_CLUSTER_DISK* disks; /* count blocks, the library's; null when none */
} QV_CLUSTER_DISK_LIST;

/* A block of information text pulled from the service. */
typedef struct QV_PULL_INFO {
    uint32_t length; /* chars received, the terminator included */
    char* text;      /* zero-terminated; give it back with qvFreeMemory */
} QV_PULL_INFO;

/* Fills *info. The record is not emptied first: name1 to name3 and the disk
   texts of each group are written only when the service sends them
   non-empty, every other field always. groups is overwritten without being
   given back. A null info is refused with QV_STATUS_INVALID_PARAMETER. */
QV_API QV_STATUS qvGetClusterInfo(QV_HANDLE handle, QV_CLUSTER_INFO* info);
/* Gives back (*info)->groups (groupCount is left as it was) and, when keep
   is 0, the record itself (a heap block), setting *info to null. Always 0. */
QV_API QV_STATUS qvFreeClusterInfo(QV_CLUSTER_INFO** info, uint32_t keep);
/* The physical disks of the group named by group->groupName and groupTag.
   *list is emptied first (without giving back what it held). */
QV_API QV_STATUS qvGetClusterGroupPhysicalDiskList(QV_HANDLE handle, const QV_CLUSTER_GROUP* group,
                                                   QV_CLUSTER_DISK_LIST* list);
/* Gives back (*list)->disks, count becomes 0, and, when keep is 0, the
   header itself (a heap block), setting *list to null. Always 0. */
QV_API QV_STATUS qvFreePhysicalDiskList(QV_CLUSTER_DISK_LIST** list, uint32_t keep);
/* Records the configuration of a cluster group on its disk. The group's
   value1 to value4 are not sent, the disk's two values go as 0. */
QV_API QV_STATUS qvSetClusterGroupInfo(QV_HANDLE handle, const QV_CLUSTER_GROUP* group);
/* Only groupName and groupTag of the group are read by the three below. */
QV_API QV_STATUS qvRemoveClusterGroupInfo(QV_HANDLE handle, const QV_CLUSTER_GROUP* group);
/* Carries out a failover action on the group; the service gives the action
   codes their meaning. */
QV_API QV_STATUS qvFailoverAction(QV_HANDLE handle, const QV_CLUSTER_GROUP* group,
                                  uint32_t action);
/* Passes a text to the service's cluster communication (null as empty). */
QV_API QV_STATUS qvClusterCommunication(QV_HANDLE handle, const QV_WCHAR* text);
/* Fetches a block of information text of the kind given. On failure *info
   is left as it was; a null info is refused with QV_STATUS_INVALID_PARAMETER. */
QV_API QV_STATUS qvPullInformation(QV_HANDLE handle, uint32_t kind, QV_PULL_INFO* info);

/* ---- Service diagnostics: event log and trace level -------------------- */

/* Event types of qvWriteEventMessage; any other travels as 255. */
#define QV_EVENT_ERROR 1
#define QV_EVENT_WARNING 2
#define QV_EVENT_INFORMATION 4

/* Selectors of QV_EVENT_QUERY, and what subject points to for each. */
#define QV_EVENT_SELECT_NUMBER 16 /* const uint32_t*: the number */
#define QV_EVENT_SELECT_OBJECT 4  /* const QV_OBJECT_ID*: name and number */
#define QV_EVENT_SELECT_NAME 8    /* const QV_WCHAR*: the name */

/* Which events qvGetEventList asks for. subject is read only for the three
   selectors above; the words and items go to the service unchanged. */
typedef struct QV_EVENT_QUERY {
    uint32_t selector;
    uint32_t word1;
    uint32_t word2;
    const void* subject;
    uint32_t item1;
    uint32_t item2;
    uint32_t item3;
    uint32_t word7;
} QV_EVENT_QUERY;

/* One event. subjectName is set for subject kinds 1 and 2, subjectNumber
   for kind 1; text is null when the event has none. */
typedef struct QV_EVENT_ENTRY {
    uint32_t word0;
    uint32_t word2;
    uint32_t word3;
    uint32_t subjectKind;
    QV_WCHAR* subjectName;
    uint32_t subjectNumber;
    uint32_t word1;
    QV_WCHAR* text;
    uint32_t word5;
} QV_EVENT_ENTRY;

/* A list header supplied by the caller. */
typedef struct QV_EVENT_LIST {
    uint32_t count;
    QV_EVENT_ENTRY* events;
} QV_EVENT_LIST;

/* Adds an event to the service's log. type is one of QV_EVENT_...; code 1 to
   9 names a message of the service's table (anything else travels as 0).
   Both texts must be given (QV_STATUS_INVALID_PARAMETER otherwise). */
QV_API QV_STATUS qvWriteEventMessage(QV_HANDLE handle, int32_t type, int32_t code,
                                     const QV_WCHAR* subjectName, uint32_t subjectNumber,
                                     const QV_WCHAR* text);
/* Reads the events the query selects into *list, which is emptied first
   (without giving back what it held). A null query or list, or a null
   subject for a selector that reads one, is refused with
   QV_STATUS_INVALID_PARAMETER. */
QV_API QV_STATUS qvGetEventList(QV_HANDLE handle, const QV_EVENT_QUERY* query,
                                QV_EVENT_LIST* list);
/* Gives back the texts and entries of *list (count 0, events null) and, when
   keep is 0, the header itself (a heap block), setting *list to null.
   Always 0. */
QV_API QV_STATUS qvFreeEventList(QV_EVENT_LIST** list, uint32_t keep);

/* Trace levels: 1 to 5, or QV_TRACE_DETAIL_1 to QV_TRACE_DETAIL_5 of the
   second family. Any other level is sent as 0; reading gives 0 for a mask
   the library does not know. */
#define QV_TRACE_DETAIL_1 0x10000001
#define QV_TRACE_DETAIL_2 0x10000002
#define QV_TRACE_DETAIL_3 0x10000003
#define QV_TRACE_DETAIL_4 0x10000004
#define QV_TRACE_DETAIL_5 0x10000005
QV_API QV_STATUS qvSetTraceLevel(QV_HANDLE handle, int32_t level);
/* *level is written whenever the handle is valid: 0 after a failure. A null
   level is refused with QV_STATUS_INVALID_PARAMETER. */
QV_API QV_STATUS qvGetTraceLevel(QV_HANDLE handle, uint32_t* level);

/* ---- Service diagnostics: system information and probe capture --------- */

/* The machine the service runs on. Texts are the library's, null when the
   service sends none. */
typedef struct QV_SYSTEM_INFO {
    uint32_t sysWord1;
    uint32_t sysWord2;
    uint32_t sysWord3;
    QV_WCHAR* sysText3;
    QV_WCHAR* sysText4;
    uint32_t sysWord6;
    uint32_t sysWord7;
    QV_WCHAR* sysText2;
    uint32_t sysWord4;
    QV_WCHAR* sysText1;
    uint32_t sysWord5;
} QV_SYSTEM_INFO;

/* Room for the path of a probe file, in UTF-16 units with the terminator. */
#define QV_PROBE_PATH_UNITS 4096

/* Argument of qvTakeProbe. The four words are not read. */
typedef struct QV_PROBE_REQUEST {
    uint32_t probeWord1;
    uint32_t probeWord2;
    uint32_t probeWord3;
    uint32_t probeWord4;
    QV_WCHAR probeFile[QV_PROBE_PATH_UNITS];
} QV_PROBE_REQUEST;

/* Empties *info (even for an invalid handle), then fills it. A null info is
   refused with QV_STATUS_INVALID_PARAMETER. */
QV_API QV_STATUS qvGetSystemInfo(QV_HANDLE handle, QV_SYSTEM_INFO* info);
/* Gives back the four texts of **info (each becomes null) and, when keep is
   0, the record itself (a heap block), setting *info to null. Always 0. */
QV_API QV_STATUS qvFreeSystemInfo(QV_SYSTEM_INFO** info, uint32_t keep);
/* Asks the service for a probe capture and writes it, byte for byte, to the
   file request->probeFile (created, or truncated when it exists). The file is
   touched only when the service answered with success; a file that cannot
   be created or written gives QV_STATUS_LOCAL_FAILURE. */
QV_API QV_STATUS qvTakeProbe(QV_HANDLE handle, const QV_PROBE_REQUEST* request);
/* ---- Network boot: adapters and the local PXE boot drivers --------------- */

/* The exported functions take an adapter's hardware address as a pointer to
   its 6 bytes (uint8_t[6]); a null address is refused with
   QV_STATUS_INVALID_PARAMETER before anything is done. */
#define QV_MAC_ADDRESS_BYTES 6
#define QV_NIC_NAME_CHARS 260

/* One network adapter the service considers usable for network boot. The
   three values are the service's, copied unchanged. */
typedef struct QV_NIC_INFO {
    uint8_t macAddress[QV_MAC_ADDRESS_BYTES];
    uint32_t nicWord1;
    uint32_t nicWord2;
    int32_t nicValue;
    QV_WCHAR nicName[QV_NIC_NAME_CHARS]; /* zero-terminated; a longer name is cut */
} QV_NIC_INFO;

/* Supplied by the caller; nics is the library's block of count adapters. */
typedef struct QV_NIC_LIST {
    int32_t count;
    QV_NIC_INFO* nics;
} QV_NIC_LIST;

/* Lists the adapters: list is emptied (count 0, nics null) first and filled
   on success; release nics with qvFreeNICList. A null list is refused with
   QV_STATUS_INVALID_PARAMETER. */
QV_API QV_STATUS qvGetValidNICList(QV_HANDLE handle, QV_NIC_LIST* list);
/* Gives back list->nics; count and nics are left as they were, so do not use
   them again. Null is ignored. Always 0. */
QV_API QV_STATUS qvFreeNICList(QV_NIC_LIST* list);
/* 1 when the service allows PXE boot to be enabled, 0 when it does not or
   cannot be asked; QV_STATUS_NO_HANDLE for an invalid handle (compare with 1). */
QV_API uint32_t qvIsCanEnablePXEBoot(QV_HANDLE handle);

/* The three below first act on this machine through the network-boot module
   libpxecfg.so.1 (installing, re-configuring or removing its drivers), then
   tell the service, whatever the module answered. A failure code of the
   module wins over the service's status and is returned unchanged. A fault
   inside the module leaves a dump in <Path>/log/qvapi.dmp and goes on to the
   process's own handler for it (or ends the process); the call never
   returns. */
/* Installs the drivers for the adapter, or re-configures them for it when
   they are installed already. */
QV_API QV_STATUS qvEnablePXEBoot(QV_HANDLE handle, const uint8_t* macAddress);
/* Removes the drivers. */
QV_API QV_STATUS qvDisablePXEBoot(QV_HANDLE handle);
/* Re-configures the installed drivers for the adapter. */
QV_API QV_STATUS qvReconfigPXEBoot(QV_HANDLE handle, const uint8_t* macAddress);

/* ---- Network boot: the service's own boot properties -------------------- */

#define QV_BOOT_TEXT_CHARS 16
#define QV_BOOT_PATH_CHARS 260

/* The service's network-boot configuration; the values are the service's. */
typedef struct QV_SERVER_BOOT_CONFIG {
    QV_WCHAR bootText[QV_BOOT_TEXT_CHARS]; /* at most 15 characters are sent */
    uint32_t bootWord1;
    uint8_t macAddress[QV_MAC_ADDRESS_BYTES];
    uint32_t bootWord2;
    uint32_t bootWord3;
    uint32_t bootWord4;
    uint32_t bootWord5;
} QV_SERVER_BOOT_CONFIG;

/* The service's network-boot properties. */
typedef struct QV_BOOT_PROPERTIES {
    uint32_t propWord1;
    QV_WCHAR propPath1[QV_BOOT_PATH_CHARS]; /* zero-terminated; a longer path is cut */
    uint32_t propWord2;
    uint32_t propWord3;
    QV_WCHAR propPath2[QV_BOOT_PATH_CHARS];
    uint32_t propWord4;
} QV_BOOT_PROPERTIES;

/* Both refuse a null config with QV_STATUS_INVALID_PARAMETER. */
QV_API QV_STATUS qvEnablePXEBootOnServer(QV_HANDLE handle, const QV_SERVER_BOOT_CONFIG* config);
QV_API QV_STATUS qvSetPXEBootPropertiesOnServer(QV_HANDLE handle,
                                                const QV_SERVER_BOOT_CONFIG* config);
QV_API QV_STATUS qvDisablePXEBootOnServer(QV_HANDLE handle);
/* 1 or 0 (every failure is 0); QV_STATUS_NO_HANDLE for an invalid handle. */
QV_API uint32_t qvIsNetEnvChanged(QV_HANDLE handle);
QV_API uint32_t qvIsPXEBootEnabled(QV_HANDLE handle);
/* The service's answer word unchanged (not only 1), 0 on any failure;
   QV_STATUS_NO_HANDLE for an invalid handle. */
QV_API uint32_t qvIsRemoteBootMode(QV_HANDLE handle);
/* Clears *properties, then fills it on success. A null properties is
   refused with QV_STATUS_INVALID_PARAMETER. */
QV_API QV_STATUS qvGetBootProperties(QV_HANDLE handle, QV_BOOT_PROPERTIES* properties);

#endif /* QVCLIAPI_H */
