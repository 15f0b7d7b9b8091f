// PCI configuration-space header offsets this program reads.
#pragma once

#include <cstdint>

namespace pcicfg {

constexpr uint32_t ID = 0x00;           // vendor ID (low half), device ID (high half)
constexpr uint32_t REVISION = 0x08;     // revision ID
constexpr uint32_t CLASS = 0x0B;        // base class code
constexpr uint32_t SUBSYSTEM = 0x2C;    // subsystem vendor ID (low half), subsystem ID (high half)
constexpr uint32_t PRIMARY_BUS = 0x18;  // type 1 (bridge) header
constexpr uint32_t SECONDARY_BUS = 0x19;

constexpr uint32_t CLASS_BRIDGE = 0x06;

}  // namespace pcicfg
