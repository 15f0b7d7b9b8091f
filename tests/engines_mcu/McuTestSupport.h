// Shared pieces of the microcontroller-link tests: one simulated card opened
// through the card object, the virtual clock, the bus trace reduced to what
// the mailbox saw, a captured log and update files on disk.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/LogWindow.h"
#include "card/VjxPci.h"
#include "sim/hw/CardFpga.h"
#include "tcf/TcfWriter.h"
#include "tests/support/SimRack.h"
#include "tests/support/TestUtil.h"

namespace mcutest {

// Mailbox registers in the card's space 2, as the simulated card decodes them.
using namespace sim::card_regs;

uint64_t nowUs();

using testsupport::Profiles;

struct Access {
    char op = 0;  // 'r' or 'w'
    uint32_t offset = 0;
    uint32_t value = 0;
};

// A rack with one card, opened. The rack is built before the card object, so
// the driver layer binds to it. The trace starts empty once the card is open.
class OneCard {
public:
    explicit OneCard(const std::string& spec, const std::string& timing = testsupport::runProfile());
    ~OneCard();

    // Space-2 register accesses since the last clearTrace.
    std::vector<Access> accesses();
    // Values written to one register, in order.
    std::vector<uint32_t> writes(uint32_t reg);
    // The bytes handed to the transmitter: the window bytes 1..TBUF of each
    // started transmission, in order.
    std::string sent();
    // The microcontroller's flash ROM as it is now.
    std::vector<unsigned char> flash();
    sim::Card& card() { return rack.rack().card(1); }
    // Resets the microcontroller into its boot loader and checks it answers.
    void enterBootLoader();

    testsupport::SimRack rack;
    CVjxPci pci;
};

using testsupport::CapturedLog;

// An update file for a card of `module`: FPGA image of `fpgaVersion` and a
// firmware of `firmwareBytes` answering `firmware` with ISP version `isp`.
std::vector<unsigned char> UpdateBytes(int module, uint8_t fpgaVersion, const std::string& firmware,
                                       uint8_t isp, size_t firmwareBytes,
                                       std::vector<tcf::SegmentData>* segments = nullptr);

// Runs the update sequence from a file on disk holding `bytes`.
int RunUpdate(CVjxPci& pci, const std::vector<unsigned char>& bytes, CLogWindow& log, const char* cardName);

size_t countOf(const std::string& text, const std::string& part);

// The records in a stream sent to the boot loader: each from its ':' up to
// the next ':' or a 'U'.
std::vector<std::string> records(const std::string& sent);

}  // namespace mcutest
