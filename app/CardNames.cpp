#include "CardNames.h"

#include "platform.h"

namespace {

constexpr int kFirstModuleCode = 0x50;

// Module codes 0x50 and up, in order.
constexpr const char* kNames[] = {
    "VJX PCI S",        // 0x50
    "VJX PCIe S",       // 0x51
    "VJX PCIe R",       // 0x52
    "VJX PCIe M",       // 0x53
    "VJX PCIe K",       // 0x54
    "PCIe Q",           // 0x55
    "VJX PCI R (v2)",   // 0x56
    "VJX PCIe Z",       // 0x57
    "(Unknown)",        // 0x58
    "(Unknown)",        // 0x59
    "VJX PCI M",        // 0x5A
    "(Unknown)",        // 0x5B
    "PCI Q",            // 0x5C
    "VJX PCI R",        // 0x5D
    "VJX PCI K",        // 0x5E
    "VJX PCI K (v2)",   // 0x5F
    "VJX PCIe M (v2)",  // 0x60
    "VJX PCIe K (v2)",  // 0x61
    "VJX PCIe Q (v2)",  // 0x62
    "VJX PCIe Z (v2)",  // 0x63
};
constexpr int kTableCodes = static_cast<int>(sizeof kNames / sizeof kNames[0]);
static_assert(vjx::platform::kHighestModuleCode < kFirstModuleCode + kTableCodes,
              "every module code the program accepts has a name");

}  // namespace

const char* GetCardName(int code) {
    if (code < kFirstModuleCode || code > vjx::platform::kHighestModuleCode) return "(Unknown)";
    return kNames[code - kFirstModuleCode];
}
