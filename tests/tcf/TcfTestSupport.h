// Shared helpers of the update-file tests: files in a private temporary
// directory, a log captured in a temporary stream, and small file builders.
#pragma once

#include <string>
#include <vector>

#include "tcf/TcfWriter.h"
#include "tests/support/TestUtil.h"

namespace tcftest {

using Bytes = std::vector<unsigned char>;

using testsupport::CapturedLog;
using testsupport::TempDir;

// A well-formed file for module 84 with no images and no segments.
Bytes MinimalFile(int module = 84);
// Builds content with BuildFile; fails the test when the writer refuses.
Bytes Build(const tcf::FileContent& content);
// Recomputes the header CRC (byte 255) after a header has been changed.
void SealHeader(Bytes& file);
// Recomputes the CRC of the segment header at `offset`.
void SealSegmentHeader(Bytes& file, size_t offset);
// A 32-byte PEX 8111 EEPROM image the bridge takes (signature, four register
// loads, two bytes of shared memory), the last load's value being `tag`.
Bytes BridgeEeprom(unsigned char tag = 0x80);
// Firmware segment of `length` bytes of a counting pattern that never ends
// in 0xFF, at block address `address`.
tcf::SegmentData PatternSegment(uint16_t address, size_t length, unsigned seed = 1);

}  // namespace tcftest
