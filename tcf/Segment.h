// One step of the walk along an update file's segment chain, shared by the
// validation pass and by tools that list the segments.
#pragma once

#include "Tcf.h"

namespace tcf {

enum class SegmentResult {
    kOk,
    kNoHeader,      // the 16 header bytes could not be read
    kBadHeaderCrc,  // header CRC-8 wrong
    kTooLong,       // data length above the block size
    kNoData,        // the data could not be read (length 0 included)
    kBadBlockCrc,   // block CRC-8 over the padded block wrong
};

// What one segment header says, and how far its checks came.
struct SegmentInfo {
    unsigned number = 0;        // header byte 6
    unsigned address = 0;       // block address in the flash ROM
    unsigned length = 0;        // data bytes behind the header
    unsigned continuation = 0;  // non-zero: another segment follows
    bool headerCrcGood = false;
    bool blockChecked = false;  // false when the walk stopped before the block check
    bool blockCrcGood = false;
};

// Reads the segment at the file's position: its header into
// record->segHeader, its data into record->block (padded with 0xFF to the
// block size). Nothing is read into the block area before the length has been
// found to fit it. `info` (may be null) receives the fields read so far.
SegmentResult ReadSegment(CFile& file, TTcfSmall* record, SegmentInfo* info);

// The text the flash command reports for a failed step; null for kOk.
const char* SegmentResultText(SegmentResult result);

}  // namespace tcf
