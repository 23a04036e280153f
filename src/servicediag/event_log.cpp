// The service's event log and the verbosity of its own tracing. The
// caller's small enumerations become the service's codes here: event types,
// message codes, trace levels.
#include <algorithm>
#include <iterator>

#include "connection/rpc_call.h"
#include "platform/alloc.h"

using namespace qv;

namespace {

// The event types the service knows; any other travels as this.
constexpr uint32_t kUnknownEventType = 255;

uint32_t WireEventType(int32_t type) noexcept {
    return (type == QV_EVENT_ERROR || type == QV_EVENT_WARNING || type == QV_EVENT_INFORMATION)
               ? static_cast<uint32_t>(type)
               : kUnknownEventType;
}

// The messages of the service's table that a caller may write, by the
// caller's number 1 to 9: severity in the top two bits, facility in bits 16
// to 27, the message number below.
constexpr uint32_t kMessageCodes[] = {
    0x400003E8, 0x800003E9, 0xC00003EA,  // facility 0: messages 1000 to 1002
    0x40010001, 0x80010002, 0xC0010003,  // facility 1: messages 1 to 3
    0x40020001, 0x80020002, 0xC0020003,  // facility 2: messages 1 to 3
};

uint32_t WireMessageCode(int32_t code) noexcept {
    if (code < 1 || code > static_cast<int32_t>(std::size(kMessageCodes))) return 0;
    return kMessageCodes[code - 1];
}

// A trace level n of either family is the family bit with the n lowest bits.
constexpr uint32_t kTraceFamilies[] = {0x20000000, 0x10000000};
constexpr uint32_t kTraceLevelMask = 0x0FFFFFFF;
constexpr uint32_t kTraceLevels = 5;

uint32_t TraceMask(int32_t level) noexcept {
    const auto value = static_cast<uint32_t>(level);
    // The first family's levels are plain numbers, the second's carry its bit.
    for (const uint32_t family : kTraceFamilies) {
        const uint32_t n = family == kTraceFamilies[0] ? value : value ^ family;
        if (n >= 1 && n <= kTraceLevels) return family | ((1u << n) - 1);
    }
    return 0;
}

uint32_t TraceLevel(uint32_t mask) noexcept {
    for (const uint32_t family : kTraceFamilies) {
        if ((mask & ~kTraceLevelMask) != family) continue;
        for (uint32_t n = 1; n <= kTraceLevels; ++n) {
            if ((mask & kTraceLevelMask) == (1u << n) - 1) {
                return family == kTraceFamilies[0] ? n : (family | n);
            }
        }
    }
    return 0;
}

// The two strings of the protocol counted without their terminator: the
// units alone, none for an empty or missing text.
bool FillUncounted(RpcWString& out, const char16_t* text) noexcept {
    const std::size_t length = StrLen16(text);
    out.RpcWString_len = 0;
    out.RpcWString_val = nullptr;
    if (length == 0) return true;
    auto* units = static_cast<RpcWChar*>(Alloc(length * sizeof(RpcWChar)));
    if (units == nullptr) return false;
    std::copy_n(text, length, units);
    out.RpcWString_val = units;
    out.RpcWString_len = static_cast<u_int>(length);
    return true;
}

// The request's subject as the selector says; false when the subject the
// selector needs is missing (refused) and, through `memory`, when the heap
// says no.
bool FillSubject(RpcEventQuery& arg, const QV_EVENT_QUERY& query, bool& memory) noexcept {
    memory = true;
    switch (query.selector) {
        case QV_EVENT_SELECT_NUMBER:
            if (query.subject == nullptr) return false;
            arg.selNumber = *static_cast<const uint32_t*>(query.subject);
            return true;
        case QV_EVENT_SELECT_OBJECT: {
            if (query.subject == nullptr) return false;
            const auto* object = static_cast<const QV_OBJECT_ID*>(query.subject);
            arg.selNameNumber = object->number;
            memory = FillUncounted(arg.selName, object->name);
            return true;
        }
        case QV_EVENT_SELECT_NAME:
            if (query.subject == nullptr) return false;
            memory = FillUncounted(arg.selName, static_cast<const char16_t*>(query.subject));
            return true;
        default:
            return true;  // nothing more to select by; subject is not read
    }
}

// A received event into a zeroed entry; false when the heap says no (what
// was copied stays in the entry for the caller to give back).
bool ConvertEvent(const RpcEventRecord& in, QV_EVENT_ENTRY& out) noexcept {
    out.word0 = in.word0;
    out.word2 = in.word2;
    out.word3 = in.word3;
    out.subjectKind = in.subjectKind;
    if (in.subjectKind == 1 || in.subjectKind == 2) {
        out.subjectName = CopyWString(in.subjectName);
        if (out.subjectName == nullptr) return false;
    }
    if (in.subjectKind == 1) out.subjectNumber = in.subjectNumber;
    out.word1 = in.word1;
    if (!WireText(in.text).empty()) {
        out.text = CopyWString(in.text);
        if (out.text == nullptr) return false;
    }
    out.word5 = in.word5;
    return true;
}

void ReleaseEntries(QV_EVENT_ENTRY* events, uint32_t count) noexcept {
    for (uint32_t i = 0; events != nullptr && i < count; ++i) {
        Free(events[i].subjectName);
        Free(events[i].text);
    }
    Free(events);
}

}  // namespace

extern "C" QV_STATUS qvWriteEventMessage(QV_HANDLE handle, int32_t type, int32_t code,
                                         const QV_WCHAR* subjectName, uint32_t subjectNumber,
                                         const QV_WCHAR* text) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (subjectName == nullptr || text == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<WRITE_EVENT_MESSAGE> call(handle);
    RpcEventMessage& arg = call.arg;
    arg.token = GetLoginToken(handle);
    arg.eventType = WireEventType(type);
    arg.messageCode = WireMessageCode(code);
    arg.subjectNumber = subjectNumber;
    if (!FillWString(arg.subjectName, subjectName) || !FillUncounted(arg.text, text)) {
        return NoMemory(rows::qvWriteEventMessage);
    }
    call.Invoke();
    return call.Finish(rows::qvWriteEventMessage);
}

extern "C" QV_STATUS qvGetEventList(QV_HANDLE handle, const QV_EVENT_QUERY* query,
                                    QV_EVENT_LIST* list) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (list == nullptr) return QV_STATUS_INVALID_PARAMETER;
    Clear(*list);
    if (query == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<GET_EVENT_LIST> call(handle);
    RpcEventQuery& arg = call.arg;
    arg.selector = query->selector;
    arg.word1 = query->word1;
    arg.word2 = query->word2;
    arg.word7 = query->word7;
    arg.token = GetLoginToken(handle);
    bool memory = true;
    if (!FillSubject(arg, *query, memory)) return QV_STATUS_INVALID_PARAMETER;
    const Row& row = rows::qvGetEventList;
    if (!memory) return NoMemory(row);
    auto* filter = static_cast<RpcEventFilterItem*>(AllocZeroed(1, sizeof(RpcEventFilterItem)));
    if (filter == nullptr) return NoMemory(row);
    *filter = RpcEventFilterItem{query->item1, query->item2, query->item3};
    arg.filters.filters_val = filter;
    arg.filters.filters_len = 1;
    call.Invoke();
    const uint32_t status = call.Finish(row);
    if (status != 0) return status;

    // The reply's count, but never past the events it holds.
    const RpcEventList& res = call.res;
    const u_int held = res.events.events_val != nullptr ? res.events.events_len : 0;
    const uint32_t count = std::min<uint32_t>(res.count, held);
    auto* events = static_cast<QV_EVENT_ENTRY*>(AllocZeroed(count == 0 ? 1 : count,
                                                            sizeof(QV_EVENT_ENTRY)));
    if (events == nullptr) return NoMemory();
    for (uint32_t i = 0; i < count; ++i) {
        if (!ConvertEvent(res.events.events_val[i], events[i])) {
            ReleaseEntries(events, count);
            return NoMemory();
        }
    }
    list->count = count;
    list->events = events;
    return 0;
}

extern "C" QV_STATUS qvFreeEventList(QV_EVENT_LIST** list, uint32_t keep) {
    if (list == nullptr || *list == nullptr) return 0;
    ReleaseEntries((*list)->events, (*list)->count);
    (*list)->events = nullptr;
    (*list)->count = 0;
    if (keep == 0) {
        Free(*list);
        *list = nullptr;
    }
    return 0;
}

extern "C" QV_STATUS qvSetTraceLevel(QV_HANDLE handle, int32_t level) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;

    RemoteCall<SET_TRACE_LEVEL> call(handle);
    call.arg.status = 0;
    call.arg.value = TraceMask(level);
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(rows::qvSetTraceLevel);
}

extern "C" QV_STATUS qvGetTraceLevel(QV_HANDLE handle, uint32_t* level) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (level == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<GET_TRACE_LEVEL> call(handle);
    call.Invoke();
    const uint32_t status = call.Finish(rows::qvGetTraceLevel);
    *level = status == 0 ? TraceLevel(call.res.value) : 0;
    return status;
}
