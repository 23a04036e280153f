// qvctl events list | write, service trace-level get | set, sysinfo, probe:
// what the service tells about itself.
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>

#include "qvctl.h"

namespace qvctl {
namespace {

using EventList = Held<QV_EVENT_LIST, qvFreeEventList>;

constexpr Choice kEventTypes[] = {
    {"error", QV_EVENT_ERROR, "an error"},
    {"warning", QV_EVENT_WARNING, "a warning"},
    {"information", QV_EVENT_INFORMATION, "for information"},
};

std::string TypeName(uint32_t type) {
    for (const Choice& c : kEventTypes) {
        if (c.value == type) return c.name;
    }
    return "raw:" + std::to_string(type);
}

// "2024-05-01T09:30:00Z" from seconds since 1970.
std::string Utc(uint32_t seconds) {
    const std::time_t t = seconds;
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The service numbers its events (word0), stamps them (word1), and keeps
// type (word2), message code (word3) and who wrote them (word5).
const Fields<QV_EVENT_ENTRY>& EventFields() {
    using R = QV_EVENT_ENTRY;
    static const Fields<R> fields = {
        {"number", "NUMBER", Unit::kCount, [](const R& e) -> Value { return uint64_t{e.word0}; }},
        {"time", "TIME", Unit::kText, [](const R& e) -> Value { return Utc(e.word1); }},
        {"type", "TYPE", Unit::kText, [](const R& e) -> Value { return TypeName(e.word2); }},
        {"code", "CODE", Unit::kStatus, [](const R& e) -> Value { return uint64_t{e.word3}; }},
        {"subject", "SUBJECT", Unit::kText,
         [](const R& e) -> Value {
             if (e.subjectKind == 1) return ObjectText(e.subjectName, e.subjectNumber);
             if (e.subjectKind == 2) return Text(e.subjectName);
             return std::monostate{};
         }},
        {"text", "TEXT", Unit::kText, [](const R& e) { return Text(e.text); }},
        {"source", "SOURCE", Unit::kCount, [](const R& e) -> Value { return uint64_t{e.word5}; },
         kDetail},
    };
    return fields;
}

struct ListArgs {
    uint32_t since = 0;
    uint32_t last = 0;
    std::string object;
    std::string name;
    uint32_t number = 0;
    CLI::Option* number_given = nullptr;
    std::vector<std::string> types;
    bool follow = false;
    double interval = 1;
};

// The query the options ask for; `subject` holds what the selector points to.
struct Query {
    QV_EVENT_QUERY query{};
    Object object;
    QV_OBJECT_ID id{};
    std::u16string name;
    uint32_t number = 0;
};

void Build(const ListArgs& args, Query& q) {
    q.query.word1 = args.since;
    q.query.word2 = args.last;
    for (const std::string& t : args.types) q.query.item1 |= ChoiceValue(kEventTypes, t);
    const int subjects = (args.object.empty() ? 0 : 1) + (args.name.empty() ? 0 : 1) +
                         (args.number_given->count() > 0 ? 1 : 0);
    if (subjects > 1) throw UsageError("give one of --object, --name and --number");
    if (!args.object.empty()) {
        q.object = ObjectArg(args.object);
        q.query.selector = QV_EVENT_SELECT_OBJECT;
        q.id = {q.object.name.c_str(), q.object.number};
        q.query.subject = &q.id;
    } else if (!args.name.empty()) {
        q.name = ToUtf16(args.name);
        q.query.selector = QV_EVENT_SELECT_NAME;
        q.query.subject = q.name.c_str();
    } else if (args.number_given->count() > 0) {
        q.number = args.number;
        q.query.selector = QV_EVENT_SELECT_NUMBER;
        q.query.subject = &q.number;
    }
}

void List(const Globals& globals, const ListArgs& args) {
    Query q;
    Build(args, q);
    Session session(globals);
    EventList events;
    Check(qvGetEventList(session.handle(), &q.query, &events.value), "read the event log");
    PrintList(globals, EventFields(), events.value.events, events.value.events + events.value.count);
    if (!args.follow) return;
    std::cout.flush();  // a reader at the other end of a pipe sees each batch as it comes

    // New events as they come, until Ctrl-C: each poll asks for the numbers
    // after the last one seen.
    uint32_t next = args.since;
    for (uint32_t i = 0; i < events.value.count; ++i) {
        next = std::max(next, events.value.events[i].word0 + 1);
    }
    InterruptScope interrupt;
    const auto pause = std::chrono::milliseconds(static_cast<int64_t>(args.interval * 1000));
    while (Pause(pause)) {
        q.query.word1 = next;
        q.query.word2 = 0;
        EventList fresh;
        Check(qvGetEventList(session.handle(), &q.query, &fresh.value), "read the event log");
        if (fresh.value.count == 0) continue;
        for (uint32_t i = 0; i < fresh.value.count; ++i) {
            next = std::max(next, fresh.value.events[i].word0 + 1);
        }
        if (globals.json) {
            for (uint32_t i = 0; i < fresh.value.count; ++i) {
                PrintJson(JsonOf(globals, EventFields(), fresh.value.events[i]));
            }
        } else {
            Globals rows = globals;
            rows.scripted = true;  // no header again: the table goes on
            PrintList(rows, EventFields(), fresh.value.events, fresh.value.events + fresh.value.count);
            std::cout.flush();
        }
    }
}

struct WriteArgs {
    std::string type = "information";
    int32_t message = 1;
    std::string object;
    std::string text;
};

void Write(const Globals& globals, const WriteArgs& args) {
    Object object;
    if (!args.object.empty()) object = ObjectArg(args.object);
    const std::u16string text = ToUtf16(args.text);
    Session session(globals);
    Check(qvWriteEventMessage(session.handle(),
                              static_cast<int32_t>(ChoiceValue(kEventTypes, args.type)),
                              args.message, object.name.c_str(), object.number, text.c_str()),
          "write the event");
    Done(globals, "events write", object.text, "Event written.");
}

constexpr Choice kTraceLevels[] = {
    {"1", 1, "least"},
    {"2", 2, ""},
    {"3", 3, ""},
    {"4", 4, ""},
    {"5", 5, "most"},
    {"detail-1", QV_TRACE_DETAIL_1, "the detailed family, least"},
    {"detail-2", QV_TRACE_DETAIL_2, ""},
    {"detail-3", QV_TRACE_DETAIL_3, ""},
    {"detail-4", QV_TRACE_DETAIL_4, ""},
    {"detail-5", QV_TRACE_DETAIL_5, "the detailed family, most"},
};

std::string LevelName(uint32_t level) {
    for (const Choice& c : kTraceLevels) {
        if (c.value == level) return c.name;
    }
    return level == 0 ? "unknown" : "raw:" + std::to_string(level);
}

// The words and texts of system information, under the service's names.
const Fields<QV_SYSTEM_INFO>& SystemFields() {
    using R = QV_SYSTEM_INFO;
    static const Fields<R> fields = {
        {"computer", "COMPUTER", Unit::kText, [](const R& s) { return Text(s.sysText1); }},
        {"system", "SYSTEM", Unit::kText, [](const R& s) { return Text(s.sysText2); }},
        {"version", "VERSION", Unit::kText, [](const R& s) { return Text(s.sysText3); }},
        {"path", "PATH", Unit::kText, [](const R& s) { return Text(s.sysText4); }},
        {"processors", "PROCESSORS", Unit::kCount,
         [](const R& s) -> Value { return uint64_t{s.sysWord1}; }},
        {"memory", "MEMORY", Unit::kBytes,
         [](const R& s) -> Value { return uint64_t{s.sysWord2} << 20; }},
        {"system_version", "SYSTEM VERSION", Unit::kText,
         [](const R& s) -> Value {
             return std::to_string(s.sysWord3) + "." + std::to_string(s.sysWord4) + "." +
                    std::to_string(s.sysWord5);
         }},
        {"disks", "DISKS", Unit::kCount, [](const R& s) -> Value { return uint64_t{s.sysWord6}; }},
        {"protections", "PROTECTIONS", Unit::kCount,
         [](const R& s) -> Value { return uint64_t{s.sysWord7}; }},
    };
    return fields;
}

void Probe(const Globals& globals, const std::string& file) {
    QV_PROBE_REQUEST request{};
    const std::u16string path = ToUtf16(file);
    if (path.empty() || path.size() >= QV_PROBE_PATH_UNITS) {
        throw UsageError("the probe file's path must hold 1 to " +
                         std::to_string(QV_PROBE_PATH_UNITS - 1) + " UTF-16 units");
    }
    path.copy(request.probeFile, path.size());
    Session session(globals);
    // The service assembles the capture before it answers: a person at a
    // terminal is told what is going on while it does.
    const bool progress = Terminal(STDERR_FILENO);
    if (progress) {
        std::cerr << "Taking a probe capture from " << globals.Endpoint() << "..." << std::flush;
    }
    const QV_STATUS status = qvTakeProbe(session.handle(), &request);
    if (progress) std::cerr << (status == 0 ? " done.\n" : " failed.\n") << std::flush;
    Check(status, "take a probe capture into " + file);
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    Done(globals, "probe", file,
         "Probe capture written to " + file + " (" + (ec ? "?" : BytesText(size)) + ").");
}

}  // namespace

void AddDiagnosticsCommands(CLI::App& app, Commands& commands) {
    CLI::App* events = app.add_subcommand("events", "The service's event log");
    events->require_subcommand(1);

    auto list = std::make_shared<ListArgs>();
    CLI::App* l = events->add_subcommand("list", "List events, oldest first");
    l->add_option("--since", list->since, "From this event number on");
    l->add_option("--last", list->last, "Only the newest N");
    AddObjectArg(l, "--object", list->object, "Events about this disk or partition");
    l->add_option("--name", list->name, "Events about anything of this name");
    list->number_given = l->add_option("--number", list->number, "Events about this number");
    l->add_option("--type", list->types, "Only these types (error, warning, information)")
        ->check(CLI::IsMember({"error", "warning", "information"}))
        ->delimiter(',');
    l->add_flag("-f,--follow", list->follow, "Keep listing new events until Ctrl-C");
    l->add_option("--interval", list->interval, "Seconds between polls with --follow")
        ->check(CLI::Range(0.05, 3600.0))
        ->capture_default_str();
    commands.Add(l, [list](const Globals& globals) { List(globals, *list); });

    auto write = std::make_shared<WriteArgs>();
    CLI::App* w = events->add_subcommand("write", "Add an event to the service's log");
    AddChoice(w, "--type", write->type, kEventTypes, "The event's type")->capture_default_str();
    w->add_option("--message", write->message, "The message of the service's table, 1 to 9")
        ->check(CLI::Range(1, 9))
        ->capture_default_str();
    AddObjectArg(w, "--object", write->object, "The disk or partition the event is about");
    w->add_option("TEXT", write->text, "The event's text")->required();
    commands.Add(w, [write](const Globals& globals) { Write(globals, *write); });

    CLI::App* service = ServiceSubcommand(app);
    CLI::App* trace = service->add_subcommand("trace-level", "How much the service traces");
    trace->require_subcommand(1);
    CLI::App* get = trace->add_subcommand("get", "Show the trace level");
    commands.Add(get, [](const Globals& globals) {
        Session session(globals);
        uint32_t level = 0;
        Check(qvGetTraceLevel(session.handle(), &level), "read the trace level");
        if (globals.json) {
            PrintJson({{"level", LevelName(level)}});
        } else {
            std::cout << LevelName(level) << '\n';
        }
    });
    auto level = std::make_shared<std::string>();
    CLI::App* set = trace->add_subcommand("set", "Change the trace level");
    AddChoice(set, "LEVEL", *level, kTraceLevels, "The new level")->required();
    commands.Add(set, [level](const Globals& globals) {
        Session session(globals);
        Check(qvSetTraceLevel(session.handle(),
                              static_cast<int32_t>(ChoiceValue(kTraceLevels, *level))),
              "set the trace level");
        Done(globals, "service trace-level set", "", "Trace level set to " + *level + ".");
    });

    CLI::App* sysinfo = app.add_subcommand("sysinfo", "Describe the machine the service runs on");
    commands.Add(sysinfo, [](const Globals& globals) {
        Session session(globals);
        Held<QV_SYSTEM_INFO, qvFreeSystemInfo> info;
        Check(qvGetSystemInfo(session.handle(), &info.value), "read the system information");
        PrintOne(globals, SystemFields(), info.value);
    });

    auto file = std::make_shared<std::string>();
    CLI::App* probe = app.add_subcommand("probe", "Take a probe capture into a file");
    probe->add_option("FILE", *file, "The file to write (replaced when it exists)")->required();
    commands.Add(probe, [file](const Globals& globals) { Probe(globals, *file); });
}

}  // namespace qvctl
