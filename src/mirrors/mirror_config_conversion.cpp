#include "mirrors/mirror_config_conversion.h"

#include <cstring>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "platform/alloc.h"
#include "snapshots/snapshot_schedule.h"

namespace qv {
namespace {

constexpr const char16_t* kNoMemory = u"__FillRpcMirrorConfig, no memory for allocation";
constexpr const char16_t* kNoMemoryForMirror =
    u"__FillRpcMirrorConfig, no enought momory for allocation";

// A received text with elements is copied (an empty one as an empty
// string); one without elements reads back as null.
bool CopyPresentText(const RpcWString& in, const QV_WCHAR*& out) noexcept {
    char16_t* copy = nullptr;
    if (!CopyOptionalWString(in, copy)) return false;
    out = copy;
    return true;
}

uint32_t FailFill(RpcMirrorConfig& wire, const char16_t* line) noexcept {
    LogMessage(kLogError, line);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_RpcMirrorConfig), reinterpret_cast<char*>(&wire));
    std::memset(static_cast<void*>(&wire), 0, sizeof wire);
    return QV_STATUS_NO_MEMORY;
}

void FreeText(const QV_WCHAR*& text) noexcept {
    Free(const_cast<QV_WCHAR*>(text));
    text = nullptr;
}

}  // namespace

uint32_t FillRpcMirrorConfig(RpcMirrorConfig& wire, const QV_MIRROR_CONFIG& config,
                             MirrorText4 text4) noexcept {
    wire.MirrorKind = ReduceMirrorKind(config.MirrorKind);
    wire.ScheduleMode = ReduceScheduleMode(config.Schedule.Mode);
    wire.Setting7 = config.Setting7;

    if (!FillSingleObject(wire.Primaries.Primaries_len, wire.Primaries.Primaries_val,
                          config.Primary)) {
        return FailFill(wire, kNoMemory);
    }
    if (!FillSingleObject(wire.Mirrors.Mirrors_len, wire.Mirrors.Mirrors_val, config.Mirror)) {
        return FailFill(wire, kNoMemoryForMirror);
    }
    if (!FillOptionalWString(wire.Text2, config.Text2) ||
        !FillOptionalWString(wire.Text3, config.Text3) ||
        !FillOptionalWString(wire.Text1, config.Text1)) {
        return FailFill(wire, kNoMemory);
    }

    wire.Setting1 = config.Setting1;
    wire.Setting2 = config.Setting2;
    wire.Setting3 = config.Setting3;
    wire.Setting4 = config.Setting4;
    wire.Setting5 = config.Setting5;
    wire.Setting6 = config.Setting6;
    wire.Setting8 = config.Setting8;
    wire.Setting9 = config.Setting9;
    wire.Limit = config.Limit;
    wire.Setting10 = config.Setting10;
    wire.Setting11 = config.Setting11;
    wire.Setting12 = config.Setting12;
    wire.Setting13 = config.Setting13;
    wire.Setting14 = config.Setting14;
    wire.Switch1 = WireSwitch(config.Switch1);
    wire.Switch2 = WireSwitch(config.Switch2);

    if (!FillSchedules(wire.Schedules.Schedules_len, wire.Schedules.Schedules_val,
                       ToRpcSnapshotSchedule(config.Schedule))) {
        return FailFill(wire, kNoMemory);
    }

    if (text4 == MirrorText4::kSend && !FillOptionalWString(wire.Text4, config.Text4)) {
        return FailFill(wire, kNoMemory);
    }
    return 0;
}

bool IsCompleteMirrorConfig(const RpcMirrorConfig& wire) noexcept {
    return wire.Primaries.Primaries_len != 0 && wire.Primaries.Primaries_val != nullptr &&
           wire.Mirrors.Mirrors_len != 0 && wire.Mirrors.Mirrors_val != nullptr &&
           wire.Schedules.Schedules_len != 0 && wire.Schedules.Schedules_val != nullptr;
}

uint32_t ConvertMirrorConfig(const RpcMirrorConfig& wire, QV_MIRROR_CONFIG& out) noexcept {
    out = QV_MIRROR_CONFIG{};
    if (!IsCompleteMirrorConfig(wire)) return QV_STATUS_RPC_FAILED;

    const RpcObjectRef& primary = wire.Primaries.Primaries_val[0];
    const RpcObjectRef& mirror = wire.Mirrors.Mirrors_val[0];
    out.Primary.name = CopyWString(primary.name);
    out.Primary.number = primary.number;
    out.Mirror.name = CopyWString(mirror.name);
    out.Mirror.number = mirror.number;
    if (out.Primary.name == nullptr || out.Mirror.name == nullptr ||
        !CopyPresentText(wire.Text2, out.Text2) || !CopyPresentText(wire.Text3, out.Text3) ||
        !CopyPresentText(wire.Text1, out.Text1) || !CopyPresentText(wire.Text4, out.Text4)) {
        ReleaseMirrorConfigStrings(out);
        out = QV_MIRROR_CONFIG{};
        return QV_STATUS_NO_MEMORY;
    }

    out.MirrorKind = ReduceMirrorKind(wire.MirrorKind);
    out.Setting1 = wire.Setting1;
    out.Setting2 = wire.Setting2;
    out.Setting3 = wire.Setting3;
    out.Setting4 = wire.Setting4;
    out.Setting5 = wire.Setting5;
    out.Setting6 = wire.Setting6;
    out.Setting7 = wire.Setting7;
    out.Setting8 = wire.Setting8;
    out.Setting9 = wire.Setting9;
    out.Setting10 = wire.Setting10;
    out.Setting11 = wire.Setting11;
    out.Setting12 = wire.Setting12;
    out.Setting13 = wire.Setting13;
    out.Setting14 = wire.Setting14;
    out.Switch1 = wire.Switch1;
    out.Switch2 = wire.Switch2;
    out.Limit = wire.Limit;
    out.LimitOn = wire.Limit != 0 ? 1 : 0;
    out.Schedule =
        FromRpcSnapshotSchedule(wire.Schedules.Schedules_val[0], ScheduleModeReadBack::kReduced);
    return 0;
}

void ReleaseMirrorConfigStrings(QV_MIRROR_CONFIG& config) noexcept {
    FreeText(config.Primary.name);
    FreeText(config.Mirror.name);
    FreeText(config.Text1);
    FreeText(config.Text2);
    FreeText(config.Text3);
    FreeText(config.Text4);
}

}  // namespace qv
