// Re-enumeration through the configuration manager and restart through the
// shutdown calls, both reached through the seam below the program.
#include "../SystemControl.h"

#include <cstdint>

#include "KernelPort.h"

namespace {

// Configuration manager.
constexpr uint32_t kCrSuccess = 0;
constexpr uint32_t kLocateNormal = 0;            // a present node only
constexpr uint32_t kReenumerateSynchronous = 3;  // synchronous, retrying installations

// Shutdown.
constexpr const char* kShutdownPrivilege = "SeShutdownPrivilege";
constexpr uint32_t kTokenAdjustAndQuery = 0x28;  // adjust privileges, query
constexpr uint32_t kPrivilegeEnabled = 2;        // enabled
constexpr uint32_t kExitReboot = 2;              // restart
// Planned restart for hardware maintenance (planned flag, major reason
// hardware, minor reason maintenance).
constexpr uint32_t kReasonPlannedReconfiguration = 0x80010001;

}  // namespace

bool ReenumerateAllDevices() {
    uint32_t root = 0;
    if (windrv::LocateDevNode(&root, nullptr, kLocateNormal) != kCrSuccess) return false;
    return windrv::ReenumerateDevNode(root, kReenumerateSynchronous) == kCrSuccess;
}

bool RebootSystem() {
    uint64_t luid = 0;
    if (!windrv::LookupPrivilege(nullptr, kShutdownPrivilege, &luid)) return false;
    windrv::TokenHandle token = nullptr;
    if (!windrv::OpenProcessToken(kTokenAdjustAndQuery, &token)) return false;
    const bool privileged = windrv::AdjustTokenPrivilege(token, luid, kPrivilegeEnabled);
    windrv::CloseToken(token);
    if (!privileged) return false;
    return windrv::RequestExitWindows(kExitReboot, kReasonPlannedReconfiguration);
}
