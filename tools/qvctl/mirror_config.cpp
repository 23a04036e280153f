// qvctl mirror enable | change | list: the configuration of protections.
//
// Fields with a known meaning have named options (--copy-limit, ...). The
// others mean what the service makes of them; they keep their record names
// (setting1, text2, ...), show in the detail view and JSON, and are set
// with --raw NAME=VALUE. change reads the present configuration and changes
// only what is given, so the other fields keep their values.
#include <deque>

#include "protection.h"

namespace qvctl {
namespace {

using C = QV_MIRROR_CONFIG;

// One field set or shown under its record name.
struct RawField {
    std::string name;
    Unit unit;
    std::function<Value(const C&)> get;  // null: not part of a listed configuration
    // Parses `text` into the request; texts are kept in `store` for the call.
    std::function<void(QV_MIRROR_ENABLE&, const std::string& text,
                       std::deque<std::u16string>& store)>
        set;
    bool enable_only = false;
};

int64_t ParseSigned(const std::string& text) {
    const bool negative = !text.empty() && text[0] == '-';
    const auto magnitude = ParseNumber(negative ? text.substr(1) : text);
    if (!magnitude || *magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu)) {
        throw UsageError("'" + text + "' is not a 32-bit number");
    }
    return negative ? -static_cast<int64_t>(*magnitude) : static_cast<int64_t>(*magnitude);
}

uint32_t ParseUnsigned(const std::string& text) {
    const auto value = ParseNumber(text);
    if (!value) throw UsageError("'" + text + "' is not an unsigned 32-bit number");
    return *value;
}

uint32_t ParseSwitch(const std::string& text) {
    if (text == "on" || text == "1" || text == "yes") return 1;
    if (text == "off" || text == "0" || text == "no") return 0;
    throw UsageError("'" + text + "' is not on or off");
}

std::vector<RawField> MakeRawFields() {
    std::vector<RawField> f;
    auto signed_setting = [&](int n, int32_t C::*m) {
        f.push_back({"setting" + std::to_string(n), Unit::kCount,
                     [m](const C& c) -> Value { return int64_t{c.*m}; },
                     [m](QV_MIRROR_ENABLE& e, const std::string& t, auto&) {
                         e.Config.*m = static_cast<int32_t>(ParseSigned(t));
                     }});
    };
    auto setting = [&](int n, uint32_t C::*m) {
        f.push_back({"setting" + std::to_string(n), Unit::kCount,
                     [m](const C& c) -> Value { return uint64_t{c.*m}; },
                     [m](QV_MIRROR_ENABLE& e, const std::string& t, auto&) {
                         e.Config.*m = ParseUnsigned(t);
                     }});
    };
    signed_setting(1, &C::Setting1);
    signed_setting(2, &C::Setting2);
    signed_setting(3, &C::Setting3);
    const std::array<uint32_t C::*, 11> unsigned_settings{
        &C::Setting4,  &C::Setting5,  &C::Setting6,  &C::Setting7,  &C::Setting8, &C::Setting9,
        &C::Setting10, &C::Setting11, &C::Setting12, &C::Setting13, &C::Setting14};
    for (std::size_t i = 0; i < unsigned_settings.size(); ++i) {
        setting(static_cast<int>(i + 4), unsigned_settings[i]);
    }
    for (const auto& [n, m] : {std::pair{1, &C::Switch1}, std::pair{2, &C::Switch2}}) {
        f.push_back({"switch" + std::to_string(n), Unit::kFlag,
                     [m = m](const C& c) -> Value { return c.*m != 0; },
                     [m = m](QV_MIRROR_ENABLE& e, const std::string& t, auto&) {
                         e.Config.*m = ParseSwitch(t);
                     }});
    }
    const std::array<const QV_WCHAR * C::*, 4> texts{&C::Text1, &C::Text2, &C::Text3, &C::Text4};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto m = texts[i];
        f.push_back({"text" + std::to_string(i + 1), Unit::kText,
                     [m](const C& c) { return Text(c.*m); },
                     [m](QV_MIRROR_ENABLE& e, const std::string& t, auto& store) {
                         e.Config.*m = store.emplace_back(ToUtf16(t)).c_str();
                     },
                     i == 3});  // the fourth text is given when the protection is enabled only
    }
    const std::array<uint32_t QV_SNAPSHOT_SCHEDULE::*, 6> params{
        &QV_SNAPSHOT_SCHEDULE::Param1, &QV_SNAPSHOT_SCHEDULE::Param2,
        &QV_SNAPSHOT_SCHEDULE::Param3, &QV_SNAPSHOT_SCHEDULE::Param4,
        &QV_SNAPSHOT_SCHEDULE::Param5, &QV_SNAPSHOT_SCHEDULE::Param6};
    for (std::size_t i = 0; i < params.size(); ++i) {
        const auto m = params[i];
        f.push_back({"schedule_param" + std::to_string(i + 1), Unit::kCount,
                     [m](const C& c) -> Value { return uint64_t{c.Schedule.*m}; },
                     [m](QV_MIRROR_ENABLE& e, const std::string& t, auto&) {
                         e.Config.Schedule.*m = ParseUnsigned(t);
                     }});
    }
    const std::array<uint32_t QV_MIRROR_ENABLE::*, 4> options{
        &QV_MIRROR_ENABLE::EnableOption1, &QV_MIRROR_ENABLE::EnableOption2,
        &QV_MIRROR_ENABLE::EnableOption3, &QV_MIRROR_ENABLE::EnableOption4};
    for (std::size_t i = 0; i < options.size(); ++i) {
        const auto m = options[i];
        f.push_back(
            {"enable_option" + std::to_string(i + 1), Unit::kFlag, nullptr,
             [m](QV_MIRROR_ENABLE& e, const std::string& t, auto&) { e.*m = ParseSwitch(t); },
             true});
    }
    return f;
}

const std::vector<RawField>& RawFields() {
    static const std::vector<RawField> fields = MakeRawFields();
    return fields;
}

// "schedule_param1" as a header: "SCHEDULE PARAM1".
std::string Header(std::string name) {
    for (char& ch : name)
        ch = ch == '_' ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return name;
}

const Fields<C>& ConfigFields() {
    static const Fields<C> fields = [] {
        Fields<C> f = {
            {"primary", "PRIMARY", Unit::kText,
             [](const C& c) -> Value { return ObjectText(c.Primary.name, c.Primary.number); }},
            {"mirror", "MIRROR", Unit::kText,
             [](const C& c) -> Value { return ObjectText(c.Mirror.name, c.Mirror.number); }},
            {"kind", "KIND", Unit::kCount,
             [](const C& c) -> Value { return uint64_t{c.MirrorKind}; }},
            {"copy_limit", "COPY LIMIT", Unit::kRate,
             [](const C& c) -> Value {
                 if (c.LimitOn == 0) return {};
                 return c.Limit * kMiB;
             }},
            {"schedule", "SCHEDULE", Unit::kText,
             [](const C& c) -> Value {
                 if (c.Schedule.Mode == 0) return {};
                 return "mode " + std::to_string(c.Schedule.Mode);
             }},
            // Set with Setting3 while a snapshot schedule is in force.
            {"schedule_active", "SCHEDULE ACTIVE", Unit::kFlag,
             [](const C& c) -> Value { return c.Setting2 != 0; }, kDetail},
        };
        for (const RawField& r : RawFields()) {
            if (r.get) f.push_back({r.name, Header(r.name), r.unit, r.get, kDetail});
        }
        return f;
    }();
    return fields;
}

// The named fields and --raw of enable and change. Each given option sets
// its field; values and texts stay here while the call is made.
struct ConfigOptions {
    uint32_t mirror_kind = 0;
    uint32_t copy_limit = 0;
    uint32_t schedule_mode = 0;
    std::vector<std::string> raw;
    std::vector<std::pair<CLI::Option*, std::function<void(C&)>>> named;
    std::deque<std::u16string> texts;

    // Sets the fields given; false when none was.
    bool Apply(QV_MIRROR_ENABLE& e, bool enable) {
        bool any = !raw.empty();
        for (const auto& [option, apply] : named) {
            if (option->count() > 0) {
                apply(e.Config);
                any = true;
            }
        }
        for (const std::string& item : raw) {
            const auto eq = item.find('=');
            const std::string name = item.substr(0, eq);
            const auto* field = [&]() -> const RawField* {
                for (const RawField& r : RawFields()) {
                    if (r.name == name) return &r;
                }
                return nullptr;
            }();
            if (eq == std::string::npos || field == nullptr) {
                throw UsageError("--raw '" + item +
                                 "': write NAME=VALUE with NAME one of setting1.."
                                 "setting14, switch1, switch2, text1..text4, schedule_param1..6, "
                                 "enable_option1..4");
            }
            if (field->enable_only && !enable) {
                throw UsageError("--raw " + name + " is given when a protection is enabled only");
            }
            field->set(e, item.substr(eq + 1), texts);
        }
        return any;
    }
};

void AddConfigOptions(CLI::App* sub, ConfigOptions& o) {
    const std::string fields = "Configuration";
    auto* kind =
        sub->add_option("--mirror-kind", o.mirror_kind, "The service's kind of mirror: 1 or 2")
            ->check(CLI::IsMember({1, 2}))
            ->group(fields);
    o.named.emplace_back(kind, [&o](C& c) { c.MirrorKind = o.mirror_kind; });
    auto* limit = sub->add_option("--copy-limit", o.copy_limit,
                                  "Cap on the protection's copying in MiB/s; 0 for none")
                      ->type_name("MIB/S")
                      ->group(fields);
    o.named.emplace_back(limit, [&o](C& c) {
        c.LimitOn = o.copy_limit != 0 ? 1 : 0;
        c.Limit = o.copy_limit;
    });
    auto* mode = sub->add_option("--schedule-mode", o.schedule_mode,
                                 "Snapshot schedule mode: 1, 2 or 3; 0 for none")
                     ->check(CLI::IsMember({0, 1, 2, 3}))
                     ->group(fields);
    o.named.emplace_back(mode, [&o](C& c) { c.Schedule.Mode = o.schedule_mode; });
    sub->add_option("--raw", o.raw,
                    "Set a field by its record name, for experts: setting1..14, switch1..2 "
                    "(on/off), text1..4, schedule_param1..6, enable_option1..4 (on/off)")
        ->type_name("NAME=VALUE")
        ->group(fields);
}

struct EnableArgs {
    std::string primary;
    std::string mirror;
    ConfigOptions config;
};

void Enable(const Globals& globals, EnableArgs& args) {
    const Object primary = ObjectArg(args.primary);
    const Object mirror = ObjectArg(args.mirror);
    QV_MIRROR_ENABLE enable{};
    enable.Config.Primary = QV_OBJECT_ID{primary.name.c_str(), primary.number};
    enable.Config.Mirror = QV_OBJECT_ID{mirror.name.c_str(), mirror.number};
    args.config.Apply(enable, true);
    Session session(globals);
    Check(qvEnableMirror(session.handle(), &enable),
          "enable the protection of " + primary.text + " by " + mirror.text);
    Done(globals, "enable", primary.text,
         "Protection of " + primary.text + " by " + mirror.text + " enabled.");
}

struct ChangeArgs {
    std::string primary;
    ConfigOptions config;
};

void Change(const Globals& globals, ChangeArgs& args) {
    const Object primary = ObjectArg(args.primary);
    QV_MIRROR_ENABLE change{};
    if (!args.config.Apply(change, false)) {
        throw UsageError("nothing to change: give at least one field (see mirror change --help)");
    }
    Session session(globals);
    ConfigList current;
    ReadConfigs(session.handle(), &primary, current);
    // Not protected: the service says so when asked to change it.
    if (const C* c = FindConfig(current, primary)) change.Config = *c;
    change.Config.Primary = QV_OBJECT_ID{primary.name.c_str(), primary.number};
    args.config.texts.clear();
    args.config.Apply(change, false);
    Check(qvChangeMirrorConfig(session.handle(), &change.Config),
          "change the configuration of " + primary.text);
    Done(globals, "change", primary.text, "Configuration of " + primary.text + " changed.");
}

void List(const Globals& globals, const std::string& object_text) {
    std::optional<Object> object;
    if (!object_text.empty()) object = ObjectArg(object_text);
    Session session(globals);
    ConfigList configs;
    ReadConfigs(session.handle(), object ? &*object : nullptr, configs);
    PrintList(globals, ConfigFields(), configs.begin(), configs.end());
}

}  // namespace

void AddMirrorConfigCommands(CLI::App& mirror, Commands& commands) {
    auto enable = std::make_shared<EnableArgs>();
    CLI::App* e = mirror.add_subcommand("enable", "Protect a disk or partition by a mirror");
    AddObjectArg(e, "PRIMARY", enable->primary, "The disk or partition to protect")->required();
    AddObjectArg(e, "MIRROR", enable->mirror, "The disk or partition that mirrors it")->required();
    AddConfigOptions(e, enable->config);
    commands.Add(e, [enable](const Globals& g) { Enable(g, *enable); });

    auto change = std::make_shared<ChangeArgs>();
    CLI::App* c = mirror.add_subcommand(
        "change", "Change the configuration of a protection; fields not given keep their values");
    AddObjectArg(c, "PRIMARY", change->primary, "The protected disk or partition")->required();
    AddConfigOptions(c, change->config);
    commands.Add(c, [change](const Globals& g) { Change(g, *change); });

    auto object = std::make_shared<std::string>();
    CLI::App* l = mirror.add_subcommand("list", "List the configurations of protections");
    AddObjectArg(l, "PRIMARY", *object, "Only the protections of this disk or partition");
    commands.Add(l, [object](const Globals& g) { List(g, *object); });
}

}  // namespace qvctl
