// qvctl trace-config get | set: how the service traces the data
// input/output of a protected disk or partition.
#include <iostream>

#include "qvctl.h"

namespace qvctl {
namespace {

// A configuration read from the service, its text given back when it goes.
using TraceConfig = Held<QV_DATA_TRACE_CONFIG, qvFreeDataTraceConfig>;

void Read(QV_HANDLE handle, const Object& object, TraceConfig& out) {
    Check(qvGetDataTraceConfig(handle, object.name.c_str(), object.number, &out.value),
          "read the data trace configuration of " + object.text);
}

struct TraceRecord {
    std::string object;
    const QV_DATA_TRACE_CONFIG* config;
};

// The service's option word, text and count, under their record names.
const Fields<TraceRecord>& TraceFields() {
    using R = TraceRecord;
    static const Fields<R> fields = {
        {"object", "OBJECT", Unit::kText, [](const R& r) -> Value { return r.object; }},
        {"option", "OPTION", Unit::kCount,
         [](const R& r) -> Value { return int64_t{r.config->Option}; }},
        {"text", "TEXT", Unit::kText, [](const R& r) { return Text(r.config->Text); }},
        {"count", "COUNT", Unit::kCount,
         [](const R& r) -> Value { return uint64_t{r.config->Count}; }},
    };
    return fields;
}

void Get(const Globals& globals, const Object& object) {
    Session session(globals);
    TraceConfig trace;
    Read(session.handle(), object, trace);
    PrintOne(globals, TraceFields(), TraceRecord{object.text, &trace.value});
}

struct SetArgs {
    std::string object;
    int32_t option = 0;
    std::string text;
    uint32_t count = 0;
    CLI::Option* option_given = nullptr;
    CLI::Option* text_given = nullptr;
    CLI::Option* count_given = nullptr;
};

// Reads the present configuration and changes only what was given.
void Set(const Globals& globals, const SetArgs& args) {
    const Object object = ObjectArg(args.object);
    const std::u16string text = ToUtf16(args.text);
    if (args.option_given->count() + args.text_given->count() + args.count_given->count() == 0) {
        throw UsageError("nothing to change: give --option, --text or --count");
    }
    Session session(globals);
    TraceConfig current;
    Read(session.handle(), object, current);
    QV_DATA_TRACE_CONFIG config = current.value;
    if (args.option_given->count() > 0) config.Option = args.option;
    if (args.count_given->count() > 0) config.Count = args.count;
    // The setter reads the text and keeps none of it.
    if (args.text_given->count() > 0) config.Text = const_cast<QV_WCHAR*>(text.c_str());
    Check(qvSetDataTraceConfig(session.handle(), object.name.c_str(), object.number, &config),
          "set the data trace configuration of " + object.text);
    Done(globals, "trace-config set", object.text,
         "Data trace configuration of " + object.text + " set.");
}

}  // namespace

void AddTraceConfigCommands(CLI::App& app, Commands& commands) {
    CLI::App* trace = app.add_subcommand(
        "trace-config", "Show or change how the service traces the data I/O of a protection");
    trace->require_subcommand(1);

    auto get = std::make_shared<std::string>();
    CLI::App* g = trace->add_subcommand("get", "Show the data trace configuration");
    AddObjectArg(g, "OBJECT", *get, "The protected disk or partition")->required();
    commands.Add(g, [get](const Globals& globals) { Get(globals, ObjectArg(*get)); });

    auto set = std::make_shared<SetArgs>();
    CLI::App* s = trace->add_subcommand(
        "set", "Change the data trace configuration; fields not given keep their values");
    AddObjectArg(s, "OBJECT", set->object, "The protected disk or partition")->required();
    set->option_given = s->add_option("--option", set->option, "The option word");
    set->text_given = s->add_option("--text", set->text, "The text");
    set->count_given = s->add_option("--count", set->count, "The count; 0 means 5");
    commands.Add(s, [set](const Globals& globals) { Set(globals, *set); });
}

}  // namespace qvctl
