// Host waits against the parts' data-sheet maxima: the FPGA reads its image
// at the active-serial clock, 10 MHz at the slowest, so 160 KiB take 131 ms,
// longer than the 100 ms the FPGA's own start-up is given. The host's wait
// must allow for the load itself, on both bridge types (configuration done
// on the PCI 9030, VERSION on the PCIe card). The whole update at the
// maxima is in UpdateSequenceTest (UpdateOnSlowestParts).
#include <gtest/gtest.h>

#include "EngineSupport.h"

namespace {

using namespace enginetest;

constexpr size_t kLargeImage = 160 * 1024;

int ReleaseAndWait(const std::string& spec) {
    testsupport::SimRack rack({spec + ",fpga-size=" + std::to_string(kLargeImage)}, "max");
    rack.setTracing(false);
    EXPECT_GT(rack.rack().timing().fpgaLoadUs(kLargeImage), 100000u);
    CVjxPci pci;
    OpenCard(pci, 0);
    int configured = -1;
    pci.getFpgaConfig(&configured);
    return configured;
}

TEST(HostBudget, FpgaLoadOfALargeImageAtTheSlowestClockIsWaitedFor) {
    EXPECT_EQ(ReleaseAndWait("80"), 1) << "PCI card: configuration done";
    EXPECT_EQ(ReleaseAndWait("84"), 1) << "PCIe card: VERSION";
}

}  // namespace
