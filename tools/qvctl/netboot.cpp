// qvctl service | netboot | boot-server: the local Quarvane service, this
// machine's PXE boot drivers and the service's own boot settings.
//
// `service status` answers as `systemctl is-active` does: "active" and 0
// when the service runs, "inactive" and 3 otherwise. The commands are rows:
// what they call, what they say, and whether they ask first.
#include <array>
#include <cstdio>
#include <iostream>

#include "qvctl.h"

namespace qvctl {
namespace {

using Mac = std::array<uint8_t, QV_MAC_ADDRESS_BYTES>;

std::string MacText(const uint8_t* mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

// "00-1b-21-ab-cd-ef" or "00:1b:21:ab:cd:ef".
Mac ParseMac(const std::string& text) {
    Mac mac{};
    unsigned bytes[6];
    char sep[5];
    char tail = 0;
    const int n = std::sscanf(text.c_str(), "%2x%c%2x%c%2x%c%2x%c%2x%c%2x%c", &bytes[0], &sep[0],
                              &bytes[1], &sep[1], &bytes[2], &sep[2], &bytes[3], &sep[3], &bytes[4],
                              &sep[4], &bytes[5], &tail);
    bool ok = n == 11 && text.size() == 17;
    for (char c : sep) ok = ok && (c == '-' || c == ':');
    if (!ok) throw UsageError("not a hardware address (such as 00-1b-21-ab-cd-ef): " + text);
    for (std::size_t i = 0; i < mac.size(); ++i) mac[i] = static_cast<uint8_t>(bytes[i]);
    return mac;
}

// ---- records ----------------------------------------------------------------

const Fields<QV_NIC_INFO>& AdapterFields() {
    static const Fields<QV_NIC_INFO> fields = {
        {"address", "ADDRESS", Unit::kText,
         [](const QV_NIC_INFO& n) -> Value { return MacText(n.macAddress); }},
        {"name", "NAME", Unit::kText, [](const QV_NIC_INFO& n) { return Text(n.nicName); }},
        {"word1", "WORD1", Unit::kCount,
         [](const QV_NIC_INFO& n) -> Value { return uint64_t{n.nicWord1}; }},
        {"word2", "WORD2", Unit::kCount,
         [](const QV_NIC_INFO& n) -> Value { return uint64_t{n.nicWord2}; }},
        {"value", "VALUE", Unit::kCount,
         [](const QV_NIC_INFO& n) -> Value { return int64_t{n.nicValue}; }},
    };
    return fields;
}

// What the service says of network boot, from four questions.
struct NetbootState {
    bool can_enable;
    bool enabled;
    bool changed;
    uint32_t remote_boot_mode;
};

const Fields<NetbootState>& NetbootStateFields() {
    static const Fields<NetbootState> fields = {
        {"can_enable", "MAY BE ENABLED", Unit::kFlag,
         [](const NetbootState& s) -> Value { return s.can_enable; }},
        {"enabled", "ENABLED", Unit::kFlag,
         [](const NetbootState& s) -> Value { return s.enabled; }},
        {"net_env_changed", "NETWORK CHANGED", Unit::kFlag,
         [](const NetbootState& s) -> Value { return s.changed; }},
        {"remote_boot_mode", "REMOTE BOOT MODE", Unit::kCount,
         [](const NetbootState& s) -> Value { return uint64_t{s.remote_boot_mode}; }},
    };
    return fields;
}

const Fields<QV_BOOT_PROPERTIES>& PropertyFields() {
    using P = QV_BOOT_PROPERTIES;
    static const Fields<P> fields = {
        {"word1", "WORD 1", Unit::kCount, [](const P& p) -> Value { return uint64_t{p.propWord1}; }},
        {"path1", "PATH 1", Unit::kText, [](const P& p) { return Text(p.propPath1); }},
        {"word2", "WORD 2", Unit::kCount, [](const P& p) -> Value { return uint64_t{p.propWord2}; }},
        {"word3", "WORD 3", Unit::kCount, [](const P& p) -> Value { return uint64_t{p.propWord3}; }},
        {"path2", "PATH 2", Unit::kText, [](const P& p) { return Text(p.propPath2); }},
        {"word4", "WORD 4", Unit::kCount, [](const P& p) -> Value { return uint64_t{p.propWord4}; }},
    };
    return fields;
}

// ---- service ------------------------------------------------------------

// Start and stop: one call each, with no session; a start of a service that
// runs already is success.
struct ServiceCommand {
    const char* name;
    const char* help;
    QV_STATUS (*call)();
    const char* doing;
    const char* done;
    bool (*is_already)() = nullptr;
    const char* already = nullptr;
};

bool Running() { return qvIsServiceRunning() == 1; }

constexpr ServiceCommand kServiceCommands[] = {
    {"start", "Start the service and wait until it runs", qvStartService,
     "start the Quarvane service", "The Quarvane service runs.", Running,
     "The Quarvane service runs already."},
    {"stop", "Stop the service and wait until it stopped", qvStopService,
     "stop the Quarvane service", "The Quarvane service is stopped."},
};

void AddServiceCommands(CLI::App& app, Commands& commands) {
    CLI::App* service = ServiceSubcommand(app);
    for (const ServiceCommand& row : kServiceCommands) {
        commands.Add(service->add_subcommand(row.name, row.help), [&row](const Globals& g) {
            const QV_STATUS status = row.call();
            if (status != QV_STATUS_SUCCESS && row.is_already != nullptr && row.is_already()) {
                Done(g, std::string("service ") + row.name, "", row.already, false);
                return;
            }
            Check(status, row.doing);
            Done(g, std::string("service ") + row.name, "", row.done);
        });
    }
    commands.Add(
        service->add_subcommand("status", "Say whether the service runs (exit 0) or not (3)"),
        [](const Globals& g) {
            const bool running = Running();
            const char* word = running ? "active" : "inactive";
            if (g.json) {
                PrintJson({{"service", "quarvane"}, {"active", running}, {"state", word}});
            } else {
                std::cout << word << '\n';
            }
            if (!running) throw Inactive();
        });
}

// ---- netboot --------------------------------------------------------------

void Adapters(const Globals& g) {
    Session session(g);
    QV_NIC_LIST list{};
    Check(qvGetValidNICList(session.handle(), &list), "list the network adapters");
    const std::vector<QV_NIC_INFO> nics(list.nics, list.nics + list.count);
    qvFreeNICList(&list);
    PrintList(g, AdapterFields(), nics.begin(), nics.end());
}

void NetbootStatus(const Globals& g) {
    Session session(g);
    const QV_HANDLE h = session.handle();
    const NetbootState state{qvIsCanEnablePXEBoot(h) == 1, qvIsPXEBootEnabled(h) == 1,
                             qvIsNetEnvChanged(h) == 1, qvIsRemoteBootMode(h)};
    PrintOne(g, NetbootStateFields(), state);
}

// A command on an adapter, named by its hardware address.
struct AdapterCommand {
    const char* name;
    const char* help;
    QV_STATUS (*call)(QV_HANDLE, const uint8_t*);
    const char* doing;  // "enable network boot on {}"
    const char* done;
};

constexpr AdapterCommand kAdapterCommands[] = {
    {"enable",
     "Install the boot drivers for the adapter (or re-configure them) and tell the service",
     qvEnablePXEBoot, "enable network boot on {}", "Network boot enabled on {}."},
    {"reconfig", "Re-configure the installed boot drivers for the adapter", qvReconfigPXEBoot,
     "re-configure network boot for {}", "Network boot re-configured for {}."},
};

// A command with nothing to name; `confirm` makes it ask first (and take --yes).
struct HandleCommand {
    const char* name;
    const char* help;
    QV_STATUS (*call)(QV_HANDLE);
    const char* doing;
    const char* done;
    const char* confirm = nullptr;
};

void AddHandleCommands(CLI::App& parent, Commands& commands,
                       std::span<const HandleCommand> table) {
    for (const HandleCommand& row : table) {
        auto yes = std::make_shared<bool>(false);
        CLI::App* sub = parent.add_subcommand(row.name, row.help);
        if (row.confirm != nullptr) AddYes(sub, *yes);
        commands.Add(sub, [yes, &row, &parent](const Globals& g) {
            if (row.confirm != nullptr) Confirm(*yes, row.confirm);
            Session session(g);
            Check(row.call(session.handle()), row.doing);
            Done(g, parent.get_name() + " " + row.name, "", row.done);
        });
    }
}

constexpr HandleCommand kNetbootCommands[] = {
    {"disable", "Remove the boot drivers", qvDisablePXEBoot, "disable network boot",
     "Network boot disabled.", "Remove the network boot drivers of this machine?"},
};

void AddNetbootCommands(CLI::App& app, Commands& commands) {
    CLI::App* netboot =
        app.add_subcommand("netboot", "Network (PXE) boot of this machine through an adapter");
    netboot->require_subcommand(1);
    commands.Add(netboot->add_subcommand("adapters", "List the adapters the service offers"),
                 Adapters);
    commands.Add(netboot->add_subcommand("status", "Show what the service says of network boot"),
                 NetbootStatus);
    for (const AdapterCommand& row : kAdapterCommands) {
        auto address = std::make_shared<std::string>();
        CLI::App* sub = netboot->add_subcommand(row.name, row.help);
        sub->add_option("ADDRESS", *address, "The adapter's hardware address, 00-1b-21-ab-cd-ef")
            ->required();
        commands.Add(sub, [address, &row](const Globals& g) {
            const Mac mac = ParseMac(*address);
            const std::string text = MacText(mac.data());
            Session session(g);
            Check(row.call(session.handle(), mac.data()), Fill(row.doing, text));
            Done(g, std::string("netboot ") + row.name, text, Fill(row.done, text));
        });
    }
    AddHandleCommands(*netboot, commands, kNetbootCommands);
}

// ---- boot-server ------------------------------------------------------------

struct ServerArgs {
    std::string text;
    std::string address = "00-00-00-00-00-00";
    std::array<uint32_t, 5> words{};
};

void AddServerOptions(CLI::App* sub, ServerArgs& args) {
    sub->add_option("--text", args.text, "The boot text, at most 15 characters");
    sub->add_option("--address", args.address, "The adapter's hardware address");
    for (std::size_t i = 0; i < args.words.size(); ++i) {
        sub->add_option("--word" + std::to_string(i + 1), args.words[i],
                        "Boot word " + std::to_string(i + 1));
    }
}

QV_SERVER_BOOT_CONFIG ServerConfig(const ServerArgs& args) {
    const std::u16string text = ToUtf16(args.text);
    if (text.size() >= QV_BOOT_TEXT_CHARS) throw UsageError("the boot text is longer than 15");
    QV_SERVER_BOOT_CONFIG c{};
    std::copy(text.begin(), text.end(), c.bootText);
    const Mac mac = ParseMac(args.address);
    std::copy(mac.begin(), mac.end(), c.macAddress);
    c.bootWord1 = args.words[0];
    c.bootWord2 = args.words[1];
    c.bootWord3 = args.words[2];
    c.bootWord4 = args.words[3];
    c.bootWord5 = args.words[4];
    return c;
}

void Properties(const Globals& g) {
    Session session(g);
    QV_BOOT_PROPERTIES p;
    Check(qvGetBootProperties(session.handle(), &p), "read the boot properties");
    PrintOne(g, PropertyFields(), p);
}

struct ConfigCommand {
    const char* name;
    const char* help;
    QV_STATUS (*call)(QV_HANDLE, const QV_SERVER_BOOT_CONFIG*);
    const char* doing;
    const char* done;
};

constexpr ConfigCommand kConfigCommands[] = {
    {"enable", "Let the service serve network boot with this configuration",
     qvEnablePXEBootOnServer, "enable network boot on the service",
     "Network boot enabled on the service."},
    {"config", "Change the service's network boot configuration", qvSetPXEBootPropertiesOnServer,
     "configure network boot on the service", "Network boot configuration of the service set."},
};

constexpr HandleCommand kServerCommands[] = {
    {"disable", "Stop the service serving network boot", qvDisablePXEBootOnServer,
     "disable network boot on the service", "Network boot disabled on the service.",
     "Stop the service serving network boot?"},
};

void AddBootServerCommands(CLI::App& app, Commands& commands) {
    CLI::App* server = app.add_subcommand("boot-server", "The service's own network boot settings");
    server->require_subcommand(1);
    for (const ConfigCommand& row : kConfigCommands) {
        auto args = std::make_shared<ServerArgs>();
        CLI::App* sub = server->add_subcommand(row.name, row.help);
        AddServerOptions(sub, *args);
        commands.Add(sub, [args, &row](const Globals& g) {
            const QV_SERVER_BOOT_CONFIG config = ServerConfig(*args);
            Session session(g);
            Check(row.call(session.handle(), &config), row.doing);
            Done(g, std::string("boot-server ") + row.name, "", row.done);
        });
    }
    AddHandleCommands(*server, commands, kServerCommands);
    commands.Add(server->add_subcommand("properties", "Show the service's boot properties"),
                 Properties);
}

}  // namespace

void AddLocalMachineCommands(CLI::App& app, Commands& commands) {
    AddServiceCommands(app, commands);
    AddNetbootCommands(app, commands);
    AddBootServerCommands(app, commands);
}

}  // namespace qvctl
