/* libmerix32.so.5: access to VJX cards and the PCIe bridges above them.
 *
 * Cards are numbered 0x1001, 0x1002, ... (PLX PCI 9050/9030/9056 functions in
 * bus order); bridges likewise 0x1001, 0x1002, ... (PEX 8111 functions in bus
 * order, numbered on their own). A handle lives from vjxOpen/vjxOpenBridge to
 * vjxClose. Every function answers 0 for success unless noted; the text of
 * the last failure is vjxGetErrorString().
 */
#ifndef MERIX32_H
#define MERIX32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MERIX_EXPORT __attribute__((visibility("default")))

/* Device information record (40 bytes). */
typedef struct {
    uint8_t reserved0[2];
    uint8_t bus;      /* byte 2: PCI bus number */
    uint8_t slot;     /* byte 3: device number on the bus */
    uint8_t function; /* byte 4: function number */
    uint8_t reserved5[11];
    uint64_t space0Length; /* byte 16: length of address space 0 (BAR 0) */
    uint64_t space1Length; /* byte 24: length of address space 1 (BAR 1) */
    uint64_t space2Length; /* byte 32: length of address space 2 (BAR 2) */
} vjxDeviceInfo;

MERIX_EXPORT int vjxOpen(int* handle, unsigned number);
MERIX_EXPORT int vjxOpenBridge(int* handle, unsigned number);
MERIX_EXPORT int vjxClose(int handle);
MERIX_EXPORT int vjxGetDeviceId(int handle, uint16_t* deviceId);
MERIX_EXPORT int vjxGetDeviceInfo(int handle, vjxDeviceInfo* info);
MERIX_EXPORT int vjxConfigDump(int handle, unsigned offset, unsigned count, void* buffer);
MERIX_EXPORT int vjxReadOffset8(int handle, uint8_t space, unsigned offset, uint8_t* value);
MERIX_EXPORT int vjxReadOffset32(int handle, uint8_t space, unsigned offset, uint32_t* value);
MERIX_EXPORT int vjxWriteOffset8(int handle, uint8_t space, unsigned offset, uint8_t value);
MERIX_EXPORT int vjxWriteOffset32(int handle, uint8_t space, unsigned offset, uint32_t value);
/* Number of live processes using the library, the caller included. */
MERIX_EXPORT int vjxGetActiveProcessCount(void);
/* 1 on success, 0 on failure (the opposite sense to the rest). */
MERIX_EXPORT int vjxSetFlashActive(int on);
MERIX_EXPORT const char* vjxGetErrorString(void);

#ifdef __cplusplus
}
#endif

#endif
