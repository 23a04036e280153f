// The service's view of itself: GET_EVENT_LIST, WRITE_EVENT_MESSAGE,
// SET_TRACE_LEVEL, GET_TRACE_LEVEL, GET_SYSTEM_INFO and TAKE_PROBE.
//
// GET_EVENT_LIST reads the query as follows:
//   word1        the lowest event number wanted (0: from the oldest kept)
//   word2        at most this many events, the newest ones (0: all)
//   selector 16  events about an object whose number is selNumber
//   selector 4   events about the object selName:selNameNumber
//   selector 8   events about anything named selName
//   other        no subject condition
//   item1        event types wanted, or'ed (1 error, 2 warning, 4 information; 0 all)
//   item2        one message code (0: every code)
//   item3, word7 not used
// Each event answers with word0 its number, word1 the time written (seconds
// since 1970, UTC), word2 its type, word3 its message code, word5 who wrote
// it (1 the service, 2 a caller); `reserved` holds the newest number written.
//
// WRITE_EVENT_MESSAGE takes event types 1, 2 and 4 and any non-zero message
// code; a subject name makes the event about that object (name and number).
//
// GET_SYSTEM_INFO answers from the inventory's "system": sysWord1 processors,
// sysWord2 memory in MiB, sysWord3 and sysWord4 the system's major and minor
// version, sysWord5 its build, sysText1 the computer's name, sysText2 the
// system's name, sysText3 the service's version, sysText4 its installation
// directory, sysWord6 the disks seen, sysWord7 the protections.
//
// TAKE_PROBE answers with a tar archive of the model (probe.cpp).
#include "families.h"
#include "probe.h"
#include "quarvane.h"
#include "status.h"
#include "text.h"
#include "wire.h"

#ifndef QV_PACKAGE_VERSION
#define QV_PACKAGE_VERSION "0"
#endif

namespace qvsim {
namespace {

bool KnownType(uint32_t type) {
    return type == kEventError || type == kEventWarning || type == kEventInformation;
}

void SetEvent(RpcEventRecord& out, const Event& e) {
    out.word0 = e.number;
    out.word1 = e.time;
    out.word2 = e.type;
    out.word3 = e.code;
    out.subjectKind = e.subject_kind;
    out.word5 = e.source;
    wire::SetText(out.subjectName, e.subject_name);
    out.subjectNumber = e.subject_number;
    wire::SetText(out.text, e.text);
}

EventQuery Query(const RpcEventQuery& arg) {
    EventQuery q;
    q.selector = arg.selector;
    q.first = arg.word1;
    q.limit = arg.word2;
    q.number = arg.selector == kSelectObject ? arg.selNameNumber : arg.selNumber;
    q.name = wire::Text(arg.selName);
    if (const RpcEventFilterItem* f = wire::First(arg.filters.filters_len, arg.filters.filters_val)) {
        q.type_mask = f->item1;
        q.code = f->item2;
    }
    return q;
}

}  // namespace

void RegisterServiceDiag(Registry& registry, Service& service) {
    Model& model = service.model();

    registry.On<GET_EVENT_LIST>([&model](const RpcEventQuery& arg, RpcEventList& res) {
        const auto selected = model.events().Select(Query(arg));
        RpcEventRecord* out =
            wire::Allocate(res.events.events_len, res.events.events_val, selected.size());
        for (const Event* e : selected) SetEvent(*out++, *e);
        res.count = static_cast<uint32_t>(selected.size());
        res.reserved = model.events().last();
    });

    registry.On<WRITE_EVENT_MESSAGE>([&model](const RpcEventMessage& arg, RpcStatus& res) {
        if (!KnownType(arg.eventType) || arg.messageCode == 0) {
            res.status = status::kInvalidParameter;
            return;
        }
        Event e;
        e.type = arg.eventType;
        e.code = arg.messageCode;
        e.source = kFromCaller;
        e.subject_name = wire::Text(arg.subjectName);
        if (!e.subject_name.empty()) {
            e.subject_kind = kSubjectObject;
            e.subject_number = arg.subjectNumber;
        }
        e.text = wire::Text(arg.text);
        model.events().Write(std::move(e));
        model.MarkChanged();
    });

    registry.On<SET_TRACE_LEVEL>([&model](const RpcStatus& arg, RpcStatus& res) {
        if (!ValidTraceMask(arg.value)) {
            res.status = status::kInvalidParameter;
            return;
        }
        model.diagnostics().trace_mask = arg.value;
        model.MarkChanged();
    });

    registry.On<GET_TRACE_LEVEL>([&model](const auto&, RpcStatus& res) {
        res.value = model.diagnostics().trace_mask;
    });

    registry.On<GET_SYSTEM_INFO>([&model](const auto&, RpcSystemInfo& res) {
        const SystemInfo& s = model.inventory().system;
        res.sysWord1 = s.processors;
        res.sysWord2 = s.memory_mib;
        res.sysWord3 = s.os_major;
        wire::SetText(res.sysText1, s.computer);
        res.sysWord4 = s.os_minor;
        res.sysWord5 = s.os_build;
        wire::SetText(res.sysText2, s.os);
        wire::SetText(res.sysText3,
                      s.version.empty() ? FromUtf8(QV_PACKAGE_VERSION) : s.version);
        wire::SetText(res.sysText4, s.path);
        res.sysWord6 = static_cast<uint32_t>(model.inventory().disks.size());
        res.sysWord7 = static_cast<uint32_t>(model.protections().size());
    });

    registry.On<TAKE_PROBE>([&model](const RpcProbeRequest&, RpcProbeData& res) {
        const std::string bundle = ProbeBundle(model);
        u_char* out = wire::Allocate(res.data.data_len, res.data.data_val, bundle.size());
        if (out != nullptr) bundle.copy(reinterpret_cast<char*>(out), bundle.size());
    });
}

}  // namespace qvsim
