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
    EXPECT_EQ(t.bulkEraseUs(0x10), t.epcsBulkEraseEpcs1Us);
    EXPECT_EQ(t.bulkEraseUs(0x12), t.epcsBulkEraseEpcs4Us);

    using T = sim::Timing;
    int k = 0;
    for (uint64_t T::*field : {&T::readPciNs,         &T::readPcieNs,           &T::writeNs,
                               &T::configNs,          &T::eectlByteUs,          &T::eepromWriteUs,
                               &T::eepromWriteAllUs,  &T::spiEepromWriteUs,     &T::epcsPageUs,
                               &T::epcsSectorEraseUs, &T::epcsBulkEraseEpcs1Us, &T::epcsBulkEraseEpcs4Us,
                               &T::mcuChipEraseUs,    &T::mcuRecordUs,          &T::mcuBootConfigUs,
                               &T::mcuTurnaroundUs,   &T::mcuResetUs,           &T::flashPageUs,
                               &T::flashBlockEraseUs, &T::flashChipEraseUs,     &T::flashRegisterWriteUs}) {
        SCOPED_TRACE(k++);
        EXPECT_GT(t.*field, 0u);
        EXPECT_GE(m.*field, t.*field);
    }
    EXPECT_LT(m.fpgaClockHz, t.fpgaClockHz) << "the slowest clock loads longest";
    EXPECT_EQ(i.fpgaLoadUs(400 * 1024), 0u);
    EXPECT_FALSE(i.wireTime);
}

}  // namespace
