// Shared pieces of the engine tests (both engine groups): one simulated card
// opened through the card object, its bus trace parsed, a captured log and
// update files on disk.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "app/LogWindow.h"
#include "card/VjxPci.h"
#include "sim/hw/CardFpga.h"
#include "tcf/TcfWriter.h"
#include "tests/card/BusTrace.h"
#include "tests/support/SimRack.h"
#include "tests/support/TestUtil.h"
#include "tests/support/UpdateFiles.h"

namespace enginetest {

using testsupport::Build;
using testsupport::Bytes;
using testsupport::CapturedLog;
using testsupport::Firmware;
using testsupport::FpgaImage;
using testsupport::Profiles;
using testsupport::UpdateFile;
using testsupport::WithCrc;
// Mailbox registers in the card's space 2, as the simulated card decodes them.
using namespace sim::card_regs;

using bustrace::Access;

// A rack with one card, opened. The rack is built before the card object, so
// the driver layer binds to it. The trace starts empty once the card is open.
struct OneCard {
    explicit OneCard(const std::string& spec, const std::string& timing = testsupport::runProfile());
    ~OneCard() { pci.Close(); }

    std::vector<Access> accesses() { return bustrace::Accesses(rack); }
    // Register accesses of the card's space 2 (the mailbox) and the values
    // written to one of its registers.
    std::vector<Access> mailbox();
    std::vector<uint32_t> writes(uint32_t reg);
    // The bytes handed to the transmitter: the window bytes 1..TBUF of each
    // started transmission, in order.
    std::string sent();
    std::vector<unsigned char> flash();  // the microcontroller's flash ROM
    sim::Card& card() { return rack.rack().card(1); }
    // Loads the file's header and EEPROM images as the flash command does.
    int load(const UpdateFile& file);
    // Runs the update sequence on the file.
    int update(const UpdateFile& file, const char* cardName);
    // Resets the microcontroller into its boot loader and checks it answers.
    void enterBootLoader();

    testsupport::SimRack rack;
    CVjxPci pci;
    CapturedLog log;
};

uint64_t NowUs();
size_t Count(const std::string& text, const std::string& part);
bool Has(const std::string& text, const std::string& part);

// "Card<model>_<profile>" names for parameterised tests over (case, profile).
template <typename Case>
std::string CaseProfileName(const ::testing::TestParamInfo<std::tuple<Case, std::string>>& info) {
    return std::string("Card") + std::get<0>(info.param).model + "_" + std::get<1>(info.param);
}

}  // namespace enginetest
