// The rules the parts impose on whoever drives them: minimum pulse widths,
// settle and hold times, commands a busy part does not take, lines two
// drivers fight over. A part that sees one broken does what the real part
// would (ignores the pulse, fails the load, answers nothing) and says so
// here; the card turns that into a trace line naming the rule, and a strict
// run ends at the first one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace sim {

class Rules {
public:
    using Sink = std::function<void(uint64_t nowUs, const char* rule, const std::string& detail)>;
    void setSink(Sink sink) { m_sink = std::move(sink); }
    void broken(uint64_t nowUs, const char* rule, const std::string& detail) const {
        if (m_sink) m_sink(nowUs, rule, detail);
    }

private:
    Sink m_sink;
};

// Rule names as the trace gives them, one per rule, part by part.
namespace rule {
// The FPGA and its configuration device.
constexpr const char* kFpgaHoldPulse = "fpga-hold-pulse";    // hold shorter than the FPGA's reset minimum
constexpr const char* kFpgaHoldSettle = "fpga-hold-settle";  // device driven before the FPGA let go of it
constexpr const char* kFpgaDeviceContention = "epcs-contention";  // host and FPGA drive the device's lines
constexpr const char* kEpcsBusy = "epcs-busy";  // command other than RDSR during a program or erase
// The microcontroller.
constexpr const char* kMcuResetPulse = "mcu-reset-pulse";      // reset pulse shorter than two machine cycles
constexpr const char* kMcuBootHold = "mcu-boot-request-hold";  // boot request not held over the reset's end
constexpr const char* kMcuStartup = "mcu-startup";             // bytes sent before the part has started
// The mailbox.
constexpr const char* kMailboxOff = "mailbox-off";  // link used while CFG and TRCON leave it switched off
// The 25-series EEPROM behind the PEX 8111.
constexpr const char* kEepromBusy = "eeprom25-busy";  // command other than RDSR during the write cycle
// The boot loader.
constexpr const char* kIspPage = "isp-page-boundary";  // programming record across a flash page
}  // namespace rule

}  // namespace sim
