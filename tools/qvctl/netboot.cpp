// qvctl service | netboot | boot-server: the local Quarvane service, this
// machine's PXE boot drivers and the service's own boot settings.
//
// `service status` answers as `systemctl is-active` does: "active" and 0
// when the service runs, "inactive" and 3 otherwise. Disabling network boot
// asks for confirmation on a terminal; elsewhere it needs --yes.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "qvctl.h"

namespace qvctl {
namespace {

constexpr int kExitNotActive = 3;

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

// Disabling takes network boot away from the machine: asked on a terminal,
// refused without --yes anywhere else.
void Confirm(bool yes, const std::string& question) {
    if (yes) return;
    if (isatty(STDIN_FILENO) != 1) throw UsageError(question + " Give --yes to confirm.");
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer != "y" && answer != "Y" && answer != "yes") throw UsageError("not confirmed");
}

// ---- service ------------------------------------------------------------

void AddServiceCommands(CLI::App& app, Commands& commands) {
    CLI::App* service =
        app.add_subcommand("service", "Start, stop or ask about the local Quarvane service");
    service->require_subcommand(1);
    commands.Add(service->add_subcommand("start", "Start the service and wait until it runs"),
                 [](const Globals& globals) {
                     Check(qvStartService(), "start the Quarvane service");
                     Done(globals, "service start", "", "The Quarvane service runs.");
                 });
    commands.Add(service->add_subcommand("stop", "Stop the service and wait until it stopped"),
                 [](const Globals& globals) {
                     Check(qvStopService(), "stop the Quarvane service");
                     Done(globals, "service stop", "", "The Quarvane service is stopped.");
                 });
    commands.Add(
        service->add_subcommand("status", "Say whether the service runs (exit 0) or not (3)"),
        [](const Globals& globals) {
            const bool running = qvIsServiceRunning() == 1;
            const char* word = running ? "active" : "inactive";
            if (globals.json) {
                PrintJson({{"service", "quarvane"}, {"active", running}, {"state", word}});
            } else {
                std::cout << word << '\n';
            }
            if (!running) {
                // As systemctl is-active: the answer is also the exit code.
                std::cout.flush();
                std::exit(kExitNotActive);
            }
        });
}

// ---- netboot --------------------------------------------------------------

void Adapters(const Globals& globals) {
    Session session(globals);
    QV_NIC_LIST list{};
    Check(qvGetValidNICList(session.handle(), &list), "list the network adapters");
    json out = json::array();
    Table table({"ADDRESS", "NAME", "WORD1", "WORD2", "VALUE"});
    for (int32_t i = 0; i < list.count; ++i) {
        const QV_NIC_INFO& n = list.nics[i];
        out.push_back({{"macAddress", MacText(n.macAddress)},
                       {"name", ToUtf8(std::u16string_view(n.nicName))},
                       {"nicWord1", n.nicWord1},
                       {"nicWord2", n.nicWord2},
                       {"nicValue", n.nicValue}});
        table.Add({MacText(n.macAddress), ToUtf8(std::u16string_view(n.nicName)),
                   std::to_string(n.nicWord1), std::to_string(n.nicWord2),
                   std::to_string(n.nicValue)});
    }
    qvFreeNICList(&list);
    if (globals.json) {
        PrintJson(out);
        return;
    }
    table.AlignRight(2);
    table.AlignRight(3);
    table.AlignRight(4);
    table.Print();
}

void NetbootStatus(const Globals& globals) {
    Session session(globals);
    const QV_HANDLE h = session.handle();
    const bool can_enable = qvIsCanEnablePXEBoot(h) == 1;
    const bool enabled = qvIsPXEBootEnabled(h) == 1;
    const bool changed = qvIsNetEnvChanged(h) == 1;
    const uint32_t remote = qvIsRemoteBootMode(h);
    if (globals.json) {
        PrintJson({{"canEnable", can_enable},
                   {"enabled", enabled},
                   {"netEnvChanged", changed},
                   {"remoteBootMode", remote}});
        return;
    }
    auto yes_no = [](bool b) { return std::string(b ? "yes" : "no"); };
    PrintFields({{"May be enabled", yes_no(can_enable)},
                 {"Enabled", yes_no(enabled)},
                 {"Network changed", yes_no(changed)},
                 {"Remote boot mode", std::to_string(remote)}});
}

void AddNetbootCommands(CLI::App& app, Commands& commands) {
    CLI::App* netboot =
        app.add_subcommand("netboot", "Network (PXE) boot of this machine through an adapter");
    netboot->require_subcommand(1);
    commands.Add(netboot->add_subcommand("adapters", "List the adapters the service offers"),
                 Adapters);
    commands.Add(netboot->add_subcommand("status", "Show what the service says of network boot"),
                 NetbootStatus);

    using Call = QV_STATUS (*)(QV_HANDLE, const uint8_t*);
    struct ByAdapter {
        const char* name;
        const char* help;
        Call call;
        const char* doing;
        const char* done;
    };
    static constexpr ByAdapter kByAdapter[] = {
        {"enable",
         "Install the boot drivers for the adapter (or re-configure them) and tell the "
         "service",
         qvEnablePXEBoot, "enable network boot on ", "Network boot enabled on "},
        {"reconfig", "Re-configure the installed boot drivers for the adapter", qvReconfigPXEBoot,
         "re-configure network boot for ", "Network boot re-configured for "},
    };
    for (const ByAdapter& row : kByAdapter) {
        auto address = std::make_shared<std::string>();
        CLI::App* sub = netboot->add_subcommand(row.name, row.help);
        sub->add_option("ADDRESS", *address, "The adapter's hardware address, 00-1b-21-ab-cd-ef")
            ->required();
        commands.Add(sub, [address, &row](const Globals& globals) {
            const Mac mac = ParseMac(*address);
            Session session(globals);
            Check(row.call(session.handle(), mac.data()), row.doing + MacText(mac.data()));
            Done(globals, std::string("netboot ") + row.name, MacText(mac.data()),
                 row.done + MacText(mac.data()) + ".");
        });
    }

    auto yes = std::make_shared<bool>(false);
    CLI::App* disable = netboot->add_subcommand("disable", "Remove the boot drivers");
    disable->add_flag("--yes,-y", *yes, "Do not ask for confirmation");
    commands.Add(disable, [yes](const Globals& globals) {
        Confirm(*yes, "Remove the network boot drivers of this machine?");
        Session session(globals);
        Check(qvDisablePXEBoot(session.handle()), "disable network boot");
        Done(globals, "netboot disable", "", "Network boot disabled.");
    });
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

void Properties(const Globals& globals) {
    Session session(globals);
    QV_BOOT_PROPERTIES p;
    Check(qvGetBootProperties(session.handle(), &p), "read the boot properties");
    if (globals.json) {
        PrintJson({{"propWord1", p.propWord1},
                   {"propPath1", ToUtf8(std::u16string_view(p.propPath1))},
                   {"propWord2", p.propWord2},
                   {"propWord3", p.propWord3},
                   {"propPath2", ToUtf8(std::u16string_view(p.propPath2))},
                   {"propWord4", p.propWord4}});
        return;
    }
    PrintFields({{"Word 1", std::to_string(p.propWord1)},
                 {"Path 1", ToUtf8(std::u16string_view(p.propPath1))},
                 {"Word 2", std::to_string(p.propWord2)},
                 {"Word 3", std::to_string(p.propWord3)},
                 {"Path 2", ToUtf8(std::u16string_view(p.propPath2))},
                 {"Word 4", std::to_string(p.propWord4)}});
}

void AddBootServerCommands(CLI::App& app, Commands& commands) {
    CLI::App* server = app.add_subcommand("boot-server", "The service's own network boot settings");
    server->require_subcommand(1);

    using Call = QV_STATUS (*)(QV_HANDLE, const QV_SERVER_BOOT_CONFIG*);
    struct Row {
        const char* name;
        const char* help;
        Call call;
        const char* doing;
        const char* done;
    };
    static constexpr Row kRows[] = {
        {"enable", "Let the service serve network boot with this configuration",
         qvEnablePXEBootOnServer, "enable network boot on the service",
         "Network boot enabled on the service."},
        {"config", "Change the service's network boot configuration",
         qvSetPXEBootPropertiesOnServer, "configure network boot on the service",
         "Network boot configuration of the service set."},
    };
    for (const Row& row : kRows) {
        auto args = std::make_shared<ServerArgs>();
        CLI::App* sub = server->add_subcommand(row.name, row.help);
        AddServerOptions(sub, *args);
        commands.Add(sub, [args, &row](const Globals& globals) {
            const QV_SERVER_BOOT_CONFIG config = ServerConfig(*args);
            Session session(globals);
            Check(row.call(session.handle(), &config), row.doing);
            Done(globals, std::string("boot-server ") + row.name, "", row.done);
        });
    }

    auto yes = std::make_shared<bool>(false);
    CLI::App* disable = server->add_subcommand("disable", "Stop the service serving network boot");
    disable->add_flag("--yes,-y", *yes, "Do not ask for confirmation");
    commands.Add(disable, [yes](const Globals& globals) {
        Confirm(*yes, "Stop the service serving network boot?");
        Session session(globals);
        Check(qvDisablePXEBootOnServer(session.handle()), "disable network boot on the service");
        Done(globals, "boot-server disable", "", "Network boot disabled on the service.");
    });
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
