// Built-in EEPROM images, used when an update file carries none of its own.
#include <array>
#include <cstddef>
#include <cstdint>

#include "../platform/platform.h"
#include "Tcf.h"

namespace tcf {
namespace {

using Tail = std::array<unsigned char, 4>;

constexpr Tail kTailEarly = {0x49, 0x92, 0x24, 0x02};  // first PCI 9030 boards
constexpr Tail kTailLate = {0x00, 0x00, 0x00, 0x06};   // later PCI 9030 boards

// Where each bridge chip loads its subsystem key (configuration offset 0x2C:
// subsystem ID in the upper half, vendor ID in the lower) from: the 32-bit
// register load at this image offset.
constexpr unsigned k9030KeyAt = 12;
constexpr unsigned k9056KeyAt = 68;

// PCI 9030 register loads (34 values): the subsystem device ID goes to bytes
// 14 and 15, the board's local-bus tail to bytes 124 to 127.
constexpr std::array<unsigned char, 136> Make9030(uint16_t subsystem, Tail tail) {
    std::array<unsigned char, 136> b{};
    constexpr unsigned char head[48] = {
        0xB5, 0x10, 0x30, 0x90, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x80, 0x04, 0xB5, 0x10, 0x00, 0x00,
        0x40, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x48, 0x01, 0x48, 0x00, 0x00, 0x00, 0x00,
        0x06, 0x4C, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00};
    for (size_t i = 0; i < sizeof head; ++i) b[i] = head[i];
    b[k9030KeyAt + 2] = static_cast<unsigned char>(subsystem);
    b[k9030KeyAt + 3] = static_cast<unsigned char>(subsystem >> 8);
    b[60] = 0x01;
    b[80] = 0x20;
    b[100] = 0x81;
    constexpr unsigned char row112[12] = {0x00, 0x00, 0x00, 0x00, 0x43, 0x01,
                                          0x30, 0x00, 0x00, 0x50, 0x78, 0x00};
    for (size_t i = 0; i < sizeof row112; ++i) b[112 + i] = row112[i];
    for (size_t i = 0; i < tail.size(); ++i) b[124 + i] = tail[i];
    return b;
}

// PCI 9056 register loads (25 values): the subsystem device ID goes to bytes
// 70 and 71.
constexpr std::array<unsigned char, 100> Make9056(uint16_t subsystem) {
    std::array<unsigned char, 100> b{};
    constexpr unsigned char head[48] = {
        0xB5, 0x10, 0x56, 0x90, 0xBA, 0x00, 0x80, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x01,
        0x00, 0x04, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x03, 0x07, 0x42};
    for (size_t i = 0; i < sizeof head; ++i) b[i] = head[i];
    b[k9056KeyAt] = 0xB5;
    b[k9056KeyAt + 1] = 0x10;
    b[k9056KeyAt + 2] = static_cast<unsigned char>(subsystem);
    b[k9056KeyAt + 3] = static_cast<unsigned char>(subsystem >> 8);
    constexpr unsigned char row80[20] = {0x43, 0x00, 0x00, 0x00, 0x06, 0x4C, 0x00, 0x00, 0x00, 0x00,
                                         0x00, 0x00, 0x01, 0x48, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
    for (size_t i = 0; i < sizeof row80; ++i) b[80 + i] = row80[i];
    return b;
}

constexpr auto kPciM = Make9030(0x2862, kTailEarly);   // model 2
constexpr auto kPciQ = Make9030(0x2906, kTailEarly);   // model 4
constexpr auto kPciR = Make9030(0x2940, kTailEarly);   // model 5
constexpr auto kPciS = Make9030(0x3068, kTailLate);    // model 6
constexpr auto kPciK = Make9030(0x3025, kTailEarly);   // model 7
constexpr auto kPciRv2 = Make9030(0x3463, kTailLate);  // model 13
constexpr auto kPciKv2 = Make9030(0x3591, kTailLate);  // model 15
constexpr auto kPcieS = Make9056(0x3352);              // model 8
constexpr auto kPcieR = Make9056(0x3353);              // model 9
constexpr auto kPcieM = Make9056(0x3354);              // model 10
constexpr auto kPcieK = Make9056(0x3355);              // model 11
constexpr auto kPcieQ = Make9056(0x3415);              // model 12
constexpr auto kPcieZ = Make9056(0x3493);              // model 14

// PEX 8111 EEPROM content of the PCIe models. The Windows program loads one
// register more than the Linux program (the 32-byte form).
constexpr unsigned char kPcieEeprom32[32] = {0x5A, 0x03, 0x18, 0x00, 0x34, 0x00, 0x50, 0x00, 0x00, 0x00, 0x48,
                                             0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x10, 0x33, 0x00, 0x00, 0x00,
                                             0x20, 0x10, 0x80, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
constexpr unsigned char kPcieEeprom26[26] = {0x5A, 0x03, 0x12, 0x00, 0x34, 0x00, 0x50, 0x00, 0x00,
                                             0x00, 0x48, 0x00, 0x02, 0x00, 0x00, 0x00, 0x20, 0x10,
                                             0x80, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};

template <size_t N>
constexpr Preset Of(const std::array<unsigned char, N>& a, unsigned keyAt) {
    return Preset{a.data(), static_cast<unsigned>(N), keyAt};
}
template <size_t N>
constexpr Preset Of9030(const std::array<unsigned char, N>& a) {
    return Of(a, k9030KeyAt);
}
template <size_t N>
constexpr Preset Of9056(const std::array<unsigned char, N>& a) {
    return Of(a, k9056KeyAt);
}

constexpr Preset kNone{nullptr, 0, 0};

}  // namespace

Preset ConfigEepromPreset(int model) {
    switch (model) {
        case 2:
            return Of9030(kPciM);
        case 4:
            return Of9030(kPciQ);
        case 5:
            return Of9030(kPciR);
        case 6:
            return Of9030(kPciS);
        case 7:
            return Of9030(kPciK);
        case 8:
            return Of9056(kPcieS);
        case 9:
            return Of9056(kPcieR);
        case 10:
            return Of9056(kPcieM);
        case 11:
            return Of9056(kPcieK);
        case 12:
            return Of9056(kPcieQ);
        case 13:
            return Of9030(kPciRv2);
        case 14:
            return Of9056(kPcieZ);
        case 15:
            return Of9030(kPciKv2);
        default:
            return kNone;
    }
}

Preset PcieEepromPreset(int model, const vjx::platform::Program& program) {
    switch (model) {
        case 8:
        case 9:
        case 10:
        case 11:
        case 12:
        case 14:
            if (program.longPcieEepromPreset) return Preset{kPcieEeprom32, sizeof kPcieEeprom32, 0};
            return Preset{kPcieEeprom26, sizeof kPcieEeprom26, 0};
        default:
            return kNone;
    }
}

}  // namespace tcf
