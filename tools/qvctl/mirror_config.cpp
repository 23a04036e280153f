// qvctl mirror enable | change | list: the configuration of protections.
//
// Each option of enable and change sets one field of the configuration.
// change reads the protection's present configuration first and changes
// only the fields given, so that the others keep their values.
#include <array>
#include <iostream>

#include "qvctl.h"

namespace qvctl {
namespace {

constexpr std::array<int32_t QV_MIRROR_CONFIG::*, 3> kSignedSettings{
    &QV_MIRROR_CONFIG::Setting1, &QV_MIRROR_CONFIG::Setting2, &QV_MIRROR_CONFIG::Setting3};
constexpr std::array<uint32_t QV_MIRROR_CONFIG::*, 11> kSettings{
    &QV_MIRROR_CONFIG::Setting4,  &QV_MIRROR_CONFIG::Setting5,  &QV_MIRROR_CONFIG::Setting6,
    &QV_MIRROR_CONFIG::Setting7,  &QV_MIRROR_CONFIG::Setting8,  &QV_MIRROR_CONFIG::Setting9,
    &QV_MIRROR_CONFIG::Setting10, &QV_MIRROR_CONFIG::Setting11, &QV_MIRROR_CONFIG::Setting12,
    &QV_MIRROR_CONFIG::Setting13, &QV_MIRROR_CONFIG::Setting14};
constexpr std::array<uint32_t QV_MIRROR_CONFIG::*, 2> kSwitches{&QV_MIRROR_CONFIG::Switch1,
                                                                &QV_MIRROR_CONFIG::Switch2};
constexpr std::array<const QV_WCHAR * QV_MIRROR_CONFIG::*, 4> kTexts{
    &QV_MIRROR_CONFIG::Text1, &QV_MIRROR_CONFIG::Text2, &QV_MIRROR_CONFIG::Text3,
    &QV_MIRROR_CONFIG::Text4};
constexpr std::array<uint32_t QV_SNAPSHOT_SCHEDULE::*, 6> kScheduleParams{
    &QV_SNAPSHOT_SCHEDULE::Param1, &QV_SNAPSHOT_SCHEDULE::Param2, &QV_SNAPSHOT_SCHEDULE::Param3,
    &QV_SNAPSHOT_SCHEDULE::Param4, &QV_SNAPSHOT_SCHEDULE::Param5, &QV_SNAPSHOT_SCHEDULE::Param6};
constexpr std::array<uint32_t QV_MIRROR_ENABLE::*, 4> kEnableOptions{
    &QV_MIRROR_ENABLE::EnableOption1, &QV_MIRROR_ENABLE::EnableOption2,
    &QV_MIRROR_ENABLE::EnableOption3, &QV_MIRROR_ENABLE::EnableOption4};

// The configuration fields the command line sets. Each given option adds
// the change it makes; values and texts stay here while the call is made.
struct ConfigOptions {
    uint32_t mirror_kind = 0;
    uint32_t limit = 0;
    uint32_t schedule_mode = 0;
    std::array<uint32_t, 6> schedule_params{};
    std::array<int32_t, 3> signed_settings{};
    std::array<uint32_t, 11> settings{};
    std::array<bool, 2> switches{};
    std::array<std::string, 4> texts;
    std::array<std::u16string, 4> texts16;
    std::array<bool, 4> enable_options{};

    std::vector<std::pair<CLI::Option*, std::function<void(QV_MIRROR_CONFIG&)>>> fields;

    void Field(CLI::Option* option, std::function<void(QV_MIRROR_CONFIG&)> apply) {
        fields.emplace_back(option, std::move(apply));
    }

    // Sets the fields whose options were given.
    void Apply(QV_MIRROR_CONFIG& config) {
        for (std::size_t i = 0; i < texts.size(); ++i) texts16[i] = ToUtf16(texts[i]);
        for (const auto& [option, apply] : fields) {
            if (option->count() > 0) apply(config);
        }
    }
};

void AddConfigOptions(CLI::App* sub, ConfigOptions& o, bool enable) {
    const std::string fields = "Configuration fields";
    auto* kind = sub->add_option("--mirror-kind", o.mirror_kind, "The kind of mirror: 1 or 2")
                     ->check(CLI::IsMember({1, 2}))
                     ->group(fields);
    o.Field(kind, [&o](QV_MIRROR_CONFIG& c) { c.MirrorKind = o.mirror_kind; });
    auto* limit =
        sub->add_option("--limit", o.limit, "The protection's limit; 0 for none")->group(fields);
    o.Field(limit, [&o](QV_MIRROR_CONFIG& c) {
        c.LimitOn = o.limit != 0 ? 1 : 0;
        c.Limit = o.limit;
    });
    auto* mode = sub->add_option("--schedule-mode", o.schedule_mode,
                                 "Snapshot schedule mode: 1, 2 or 3; 0 for none")
                     ->check(CLI::IsMember({0, 1, 2, 3}))
                     ->group(fields);
    o.Field(mode, [&o](QV_MIRROR_CONFIG& c) { c.Schedule.Mode = o.schedule_mode; });
    for (std::size_t i = 0; i < kScheduleParams.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        auto* p = sub->add_option("--schedule-param" + n, o.schedule_params[i],
                                  "Snapshot schedule parameter " + n)
                      ->group(fields);
        o.Field(p, [&o, i](QV_MIRROR_CONFIG& c) {
            c.Schedule.*kScheduleParams[i] = o.schedule_params[i];
        });
    }
    for (std::size_t i = 0; i < kSignedSettings.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        auto* p =
            sub->add_option("--setting" + n, o.signed_settings[i], "Setting " + n)->group(fields);
        o.Field(p, [&o, i](QV_MIRROR_CONFIG& c) { c.*kSignedSettings[i] = o.signed_settings[i]; });
    }
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        const std::string n = std::to_string(i + 4);
        auto* p = sub->add_option("--setting" + n, o.settings[i], "Setting " + n)->group(fields);
        o.Field(p, [&o, i](QV_MIRROR_CONFIG& c) { c.*kSettings[i] = o.settings[i]; });
    }
    for (std::size_t i = 0; i < kSwitches.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        auto* p = sub->add_option("--switch" + n, o.switches[i], "Switch " + n + ": on or off")
                      ->group(fields);
        o.Field(p, [&o, i](QV_MIRROR_CONFIG& c) { c.*kSwitches[i] = o.switches[i] ? 1 : 0; });
    }
    // The fourth text is given when the protection is enabled only.
    const std::size_t texts = enable ? kTexts.size() : kTexts.size() - 1;
    for (std::size_t i = 0; i < texts; ++i) {
        const std::string n = std::to_string(i + 1);
        auto* p = sub->add_option("--text" + n, o.texts[i], "Text " + n)->group(fields);
        o.Field(p, [&o, i](QV_MIRROR_CONFIG& c) { c.*kTexts[i] = o.texts16[i].c_str(); });
    }
    if (enable) {
        for (std::size_t i = 0; i < kEnableOptions.size(); ++i) {
            const std::string n = std::to_string(i + 1);
            sub->add_flag("--enable-option" + n, o.enable_options[i], "Enable option " + n);
        }
    }
}

// A configuration list whose entries are given back when it goes.
struct ConfigList {
    QV_MIRROR_CONFIG_LIST list{};
    ConfigList() = default;
    ~ConfigList() {
        QV_MIRROR_CONFIG_LIST* header = &list;
        qvFreeMirConfigList(&header, 1);
    }
    ConfigList(const ConfigList&) = delete;
    ConfigList& operator=(const ConfigList&) = delete;

    const QV_MIRROR_CONFIG* begin() const { return list.Entries; }
    const QV_MIRROR_CONFIG* end() const {
        return list.Entries == nullptr ? list.Entries : list.Entries + list.Count;
    }
};

// The configurations the service holds: all of them, or those about `object`.
void ReadConfigs(QV_HANDLE handle, const Object* object, ConfigList& out) {
    QV_CONFIG_FILTER filter{};
    if (object != nullptr) {
        filter.Kind = 1;
        filter.Object = QV_OBJECT_ID{object->name.c_str(), object->number};
    }
    Check(qvGetMirConfigList(handle, &filter, &out.list), "list mirror configurations");
}

bool SameName(const QV_WCHAR* a, const std::u16string& b) {
    if (a == nullptr) return false;
    const std::u16string_view x(a);
    if (x.size() != b.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
        if (lower(x[i]) != lower(b[i])) return false;
    }
    return true;
}

json ConfigJson(const QV_MIRROR_CONFIG& c) {
    json schedule = {{"mode", c.Schedule.Mode}};
    for (std::size_t i = 0; i < kScheduleParams.size(); ++i) {
        schedule["param" + std::to_string(i + 1)] = c.Schedule.*kScheduleParams[i];
    }
    json out = {
        {"primary", ObjectText(c.Primary.name, c.Primary.number)},
        {"mirror", ObjectText(c.Mirror.name, c.Mirror.number)},
        {"mirror_kind", c.MirrorKind},
        {"schedule", schedule},
        {"limit_on", c.LimitOn},
        {"limit", c.Limit},
    };
    for (std::size_t i = 0; i < kSignedSettings.size(); ++i) {
        out["setting" + std::to_string(i + 1)] = c.*kSignedSettings[i];
    }
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        out["setting" + std::to_string(i + 4)] = c.*kSettings[i];
    }
    for (std::size_t i = 0; i < kSwitches.size(); ++i) {
        out["switch" + std::to_string(i + 1)] = c.*kSwitches[i];
    }
    for (std::size_t i = 0; i < kTexts.size(); ++i) {
        out["text" + std::to_string(i + 1)] = JsonText(c.*kTexts[i]);
    }
    return out;
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
    args.config.Apply(enable.Config);
    for (std::size_t i = 0; i < kEnableOptions.size(); ++i) {
        enable.*kEnableOptions[i] = args.config.enable_options[i] ? 1 : 0;
    }
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
    Session session(globals);
    ConfigList current;
    ReadConfigs(session.handle(), &primary, current);
    QV_MIRROR_CONFIG config{};
    for (const QV_MIRROR_CONFIG& c : current) {
        if (c.Primary.number == primary.number && SameName(c.Primary.name, primary.name)) {
            config = c;
            break;
        }
    }
    // Not protected: the service says so when asked to change it.
    config.Primary = QV_OBJECT_ID{primary.name.c_str(), primary.number};
    args.config.Apply(config);
    Check(qvChangeMirrorConfig(session.handle(), &config),
          "change the configuration of " + primary.text);
    Done(globals, "change", primary.text, "Configuration of " + primary.text + " changed.");
}

void List(const Globals& globals, const std::string& object_text) {
    std::optional<Object> object;
    if (!object_text.empty()) object = ObjectArg(object_text);
    Session session(globals);
    ConfigList configs;
    ReadConfigs(session.handle(), object ? &*object : nullptr, configs);
    if (globals.json) {
        json out = json::array();
        for (const QV_MIRROR_CONFIG& c : configs) out.push_back(ConfigJson(c));
        PrintJson(out);
        return;
    }
    Table table({"PRIMARY", "MIRROR", "KIND", "LIMIT", "SCHEDULE"});
    table.AlignRight(2);
    table.AlignRight(3);
    for (const QV_MIRROR_CONFIG& c : configs) {
        table.Add({ObjectText(c.Primary.name, c.Primary.number),
                   ObjectText(c.Mirror.name, c.Mirror.number), std::to_string(c.MirrorKind),
                   c.LimitOn != 0 ? std::to_string(c.Limit) : "-",
                   c.Schedule.Mode != 0 ? "mode " + std::to_string(c.Schedule.Mode) : "-"});
    }
    table.Print();
}

}  // namespace

void AddMirrorConfigCommands(CLI::App& mirror, Commands& commands) {
    auto enable = std::make_shared<EnableArgs>();
    CLI::App* e = mirror.add_subcommand("enable", "Protect a disk or partition by a mirror");
    AddObjectArg(e, "PRIMARY", enable->primary, "The disk or partition to protect")->required();
    AddObjectArg(e, "MIRROR", enable->mirror, "The disk or partition that mirrors it")->required();
    AddConfigOptions(e, enable->config, true);
    commands.Add(e, [enable](const Globals& g) { Enable(g, *enable); });

    auto change = std::make_shared<ChangeArgs>();
    CLI::App* c = mirror.add_subcommand(
        "change", "Change the configuration of a protection; fields not given keep their values");
    AddObjectArg(c, "PRIMARY", change->primary, "The protected disk or partition")->required();
    AddConfigOptions(c, change->config, false);
    commands.Add(c, [change](const Globals& g) { Change(g, *change); });

    auto object = std::make_shared<std::string>();
    CLI::App* l = mirror.add_subcommand("list", "List the configurations of protections");
    AddObjectArg(l, "PRIMARY", *object, "Only the protections of this disk or partition");
    commands.Add(l, [object](const Globals& g) { List(g, *object); });
}

}  // namespace qvctl
