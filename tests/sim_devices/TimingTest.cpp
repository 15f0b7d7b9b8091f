// The timing profiles: names, and the maximum profile never faster than the
// typical one.
#include <gtest/gtest.h>

#include "sim/Timing.h"

namespace {

TEST(TimingProfiles, NamesDatasheetIsTypicalAndMaximaAreNeverBelowTypical) {
    sim::Timing t, d, m, i;
    ASSERT_TRUE(sim::Timing::byName("typical", t));
    ASSERT_TRUE(sim::Timing::byName("datasheet", d));
    ASSERT_TRUE(sim::Timing::byName("max", m));
    ASSERT_TRUE(sim::Timing::byName("instant", i));
    EXPECT_FALSE(sim::Timing::byName("fast", t));
    EXPECT_EQ(d.epcsBulkEraseEpcs4Us, t.epcsBulkEraseEpcs4Us);
    EXPECT_EQ(d.fpgaClockHz, t.fpgaClockHz);

    // The EPCS figures the host's waits are measured against.
    EXPECT_EQ(t.epcsBulkEraseEpcs1Us, 3000000u);
    EXPECT_EQ(t.epcsBulkEraseEpcs4Us, 5000000u);
    EXPECT_EQ(m.epcsBulkEraseEpcs1Us, 6000000u);
    EXPECT_EQ(m.epcsBulkEraseEpcs4Us, 10000000u);
    EXPECT_EQ(t.epcsPageUs, 1500u);
    EXPECT_EQ(m.epcsPageUs, 5000u);
    EXPECT_EQ(t.bulkEraseUs(0x10), t.epcsBulkEraseEpcs1Us);
    EXPECT_EQ(t.bulkEraseUs(0x12), t.epcsBulkEraseEpcs4Us);

    const uint64_t typical[] = {t.readPciNs,
                                t.readPcieNs,
                                t.writeNs,
                                t.configNs,
                                t.eectlByteUs,
                                t.eepromWriteUs,
                                t.eepromWriteAllUs,
                                t.spiEepromWriteUs,
                                t.epcsPageUs,
                                t.epcsSectorEraseUs,
                                t.mcuChipEraseUs,
                                t.mcuRecordUs,
                                t.mcuBootConfigUs,
                                t.mcuTurnaroundUs,
                                t.mcuResetUs,
                                t.flashPageUs,
                                t.flashBlockEraseUs,
                                t.flashChipEraseUs,
                                t.flashRegisterWriteUs};
    const uint64_t maximum[] = {m.readPciNs,
                                m.readPcieNs,
                                m.writeNs,
                                m.configNs,
                                m.eectlByteUs,
                                m.eepromWriteUs,
                                m.eepromWriteAllUs,
                                m.spiEepromWriteUs,
                                m.epcsPageUs,
                                m.epcsSectorEraseUs,
                                m.mcuChipEraseUs,
                                m.mcuRecordUs,
                                m.mcuBootConfigUs,
                                m.mcuTurnaroundUs,
                                m.mcuResetUs,
                                m.flashPageUs,
                                m.flashBlockEraseUs,
                                m.flashChipEraseUs,
                                m.flashRegisterWriteUs};
    for (size_t k = 0; k < sizeof typical / sizeof typical[0]; ++k) {
        SCOPED_TRACE(k);
        EXPECT_GT(typical[k], 0u);
        EXPECT_GE(maximum[k], typical[k]);
    }
    EXPECT_LT(m.fpgaClockHz, t.fpgaClockHz) << "the slowest clock loads longest";
    EXPECT_EQ(i.fpgaLoadUs(400 * 1024), 0u);
    EXPECT_FALSE(i.wireTime);
}

}  // namespace
