/*
 * The network-boot module, libpxecfg.so.1: installs, re-configures and
 * removes the drivers that let this machine boot over the network through
 * one of its adapters. The library links it by name and finds it through
 * its run path, so a machine's own module, or a test's, takes the place of
 * the stand-in the project ships when LD_LIBRARY_PATH names its folder.
 *
 * Every function answers 0 for success or a failure code of the module's
 * own, except PXEIsDriversInstalled, which answers nonzero when the drivers
 * are installed.
 */
#ifndef QV_PXECFG_H
#define QV_PXECFG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An adapter's 6-byte Ethernet hardware address, passed by value. */
typedef struct QV_HW_ADDRESS {
    uint8_t bytes[6];
} QV_HW_ADDRESS;

uint32_t PXEIsDriversInstalled(void);
uint32_t PXEInstallDrivers(QV_HW_ADDRESS address);
uint32_t PXEReConfigPXEEnv(QV_HW_ADDRESS address);
uint32_t PXEUninstallDrivers(void);

#ifdef __cplusplus
}
#endif

#endif
