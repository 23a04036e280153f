// Network boot: the adapters of the inventory, this machine's PXE boot
// drivers as the client reports them, the service's own boot configuration
// and the questions about them.
//
// A negative answer to a question is the word for a request that does not
// fit the present state; an address the inventory does not have is an
// invalid parameter. The environment counts as changed once the adapters
// of the inventory change, until PXE boot is enabled or re-configured.
#include <algorithm>
#include <cstring>

#include "families.h"
#include "quarvane.h"
#include "status.h"
#include "wire.h"

namespace qvsim {
namespace {

std::array<uint8_t, 6> Mac(const u_char (&bytes)[6]) {
    std::array<uint8_t, 6> mac{};
    std::copy(std::begin(bytes), std::end(bytes), mac.begin());
    return mac;
}

uint32_t Answer(bool yes) { return yes ? status::kOk : status::kWrongState; }

// ENABLE_PXE_BOOT and RECONFIG_PXE_BOOT: the drivers are (or are not) on
// the client for the adapter named.
uint32_t DriversFor(Service& service, const RpcPxeBootRequest& arg, bool reconfigure) {
    NetbootState& n = service.model().netboot();
    const auto mac = Mac(arg.macAddress);
    if (service.model().inventory().FindAdapter(mac) == nullptr) return status::kInvalidParameter;
    if (reconfigure && !n.adapter) return status::kWrongState;
    n.drivers_installed = arg.driversInstalled != 0;
    n.adapter = n.drivers_installed ? std::optional(mac) : std::nullopt;
    n.env_changed = false;
    service.model().MarkChanged();
    service.Trace("pxe boot on " + MacText(mac) + (n.drivers_installed ? "" : ", no drivers"));
    return status::kOk;
}

void StoreServerConfig(Service& service, const RpcServerBootConfig& arg) {
    ServerBootConfig& c = service.model().netboot().server;
    c.text = wire::Text(arg.bootText);
    c.word1 = arg.bootWord1;
    c.mac = Mac(arg.macAddress);
    c.word2 = arg.bootWord2;
    c.word3 = arg.bootWord3;
    c.word4 = arg.bootWord4;
    c.word5 = arg.bootWord5;
    service.model().MarkChanged();
}

}  // namespace

void RegisterNetboot(Registry& registry, Service& service) {
    registry.On<GET_VALID_NIC_LIST>([&service](const RpcStatus&, RpcNicList& res) {
        const auto& adapters = service.model().inventory().adapters;
        RpcNicInfo* out = wire::Allocate(res.nics.nics_len, res.nics.nics_val, adapters.size());
        for (const Adapter& a : adapters) {
            std::copy(a.mac.begin(), a.mac.end(), out->macAddress);
            out->nicWord1 = a.speed_mbps;
            out->nicWord2 = a.flags;
            out->nicValue = a.index;
            wire::SetText(out->nicName, a.name);
            ++out;
        }
    });
    registry.On<IS_CAN_ENABLE_PXE_BOOT>([&service](const RpcStatus&, RpcStatus& res) {
        res.status = Answer(!service.model().inventory().adapters.empty());
    });
    registry.On<ENABLE_PXE_BOOT>([&service](const RpcPxeBootRequest& arg, RpcStatus& res) {
        res.status = DriversFor(service, arg, false);
    });
    registry.On<RECONFIG_PXE_BOOT>([&service](const RpcPxeBootRequest& arg, RpcStatus& res) {
        res.status = DriversFor(service, arg, true);
    });
    registry.On<DISABLE_PXE_BOOT>([&service](const RpcStatus& arg, RpcStatus& res) {
        NetbootState& n = service.model().netboot();
        // The first word says whether the drivers are gone from the client.
        n.drivers_installed = arg.status == 0;
        n.adapter.reset();
        service.model().MarkChanged();
        res.status = status::kOk;
    });
    registry.On<ENABLE_PXE_BOOT_ON_SERVER>(
        [&service](const RpcServerBootConfig& arg, RpcStatus& res) {
            StoreServerConfig(service, arg);
            service.model().netboot().server_enabled = true;
            res.status = status::kOk;
        });
    registry.On<SET_PXE_BOOT_PROPERTIES_ON_SERVER>(
        [&service](const RpcServerBootConfig& arg, RpcStatus& res) {
            if (!service.model().netboot().server_enabled) {
                res.status = status::kWrongState;
                return;
            }
            StoreServerConfig(service, arg);
            res.status = status::kOk;
        });
    registry.On<DISABLE_PXE_BOOT_ON_SERVER>(
        [&service](const RpcServerBootDisable&, RpcStatus& res) {
            service.model().netboot().server_enabled = false;
            service.model().MarkChanged();
            res.status = status::kOk;
        });
    registry.On<IS_NET_ENV_CHANGED>([&service](const RpcStatus&, RpcStatus& res) {
        res.status = Answer(service.model().netboot().env_changed);
    });
    registry.On<IS_PXE_BOOT_ENABLED>([&service](const RpcStatus&, RpcStatus& res) {
        const NetbootState& n = service.model().netboot();
        res.status = Answer(n.adapter.has_value() || n.server_enabled);
    });
    registry.On<IS_REMOTE_BOOT_MODE>([&service](const RpcStatus&, RpcStatus& res) {
        res.status = status::kOk;
        res.value = service.model().inventory().remote_boot_mode;
    });
    // The properties: the boot file and the image folder the service hands
    // out, as the configuration's words and text set them.
    registry.On<GET_BOOT_PROPERTIES>([&service](const RpcStatus&, RpcBootProperties& res) {
        const NetbootState& n = service.model().netboot();
        if (!n.server_enabled) {
            res.status = status::kWrongState;
            return;
        }
        res.propWord1 = n.server.word1;
        wire::SetText(res.propPath1, u"/srv/tftp/" + n.server.text);
        res.propWord2 = n.server.word2;
        res.propWord3 = n.server.word3;
        wire::SetText(res.propPath2, u"/srv/images");
        res.propWord4 = n.server.word4;
    });
}

}  // namespace qvsim
