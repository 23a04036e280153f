// The procedure families the daemon models. Each lives in its own file and
// registers its procedures; a new family adds a file and a line to
// RegisterAll.
#pragma once

#include "registry.h"
#include "service.h"

namespace qvsim {

void RegisterSession(Registry& registry, Service& service);        // session.cpp
void RegisterDisks(Registry& registry, Service& service);          // disks.cpp
void RegisterMirrorConfig(Registry& registry, Service& service);   // mirror_config.cpp
void RegisterMirrorState(Registry& registry, Service& service);    // mirror_state.cpp
void RegisterVerifyRestore(Registry& registry, Service& service);  // verify_restore.cpp
void RegisterStatistics(Registry& registry, Service& service);     // statistics.cpp
void RegisterDataTrace(Registry& registry, Service& service);      // data_trace.cpp
void RegisterCluster(Registry& registry, Service& service);        // cluster.cpp
void RegisterServiceDiag(Registry& registry, Service& service);    // service_diag.cpp
// snapshots.cpp, disk_maintenance.cpp
void RegisterSnapshots(Registry& registry, Service& service);
void RegisterNetboot(Registry& registry, Service& service);        // netboot.cpp

inline void RegisterAll(Registry& registry, Service& service) {
    RegisterSession(registry, service);
    RegisterDisks(registry, service);
    RegisterMirrorConfig(registry, service);
    RegisterMirrorState(registry, service);
    RegisterVerifyRestore(registry, service);
    RegisterStatistics(registry, service);
    RegisterDataTrace(registry, service);
    RegisterCluster(registry, service);
    RegisterServiceDiag(registry, service);
    RegisterSnapshots(registry, service);
    RegisterNetboot(registry, service);
}

}  // namespace qvsim
