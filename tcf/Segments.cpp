// The segment chain behind the file header: every segment header and every
// padded block must carry a good CRC-8 before anything reaches the card.
#include <cstddef>
#include <cstring>
#include <vector>

#include "Crc.h"
#include "Segment.h"

namespace tcf {

SegmentResult ReadSegment(CFile& file, TTcfSmall* record, SegmentInfo* info) {
    SegmentInfo local;
    SegmentInfo& s = info ? *info : local;
    s = SegmentInfo{};

    unsigned char* seg = record->segHeader;
    if (file.Read(seg, kSegHeaderSize) == 0) return SegmentResult::kNoHeader;
    s.number = seg[kSegOffNumber];
    s.address = getBE16(seg + kSegOffAddress);
    s.length = getBE16(seg + kSegOffLength);
    s.continuation = getBE16(seg + kSegOffContinue);
    s.headerCrcGood = CCrc8::Check(seg, kSegHeaderSize) != 0;
    if (!s.headerCrcGood) return SegmentResult::kBadHeaderCrc;

    // The length field can name up to 65535 bytes; the block area holds
    // 16368, so a longer segment is refused before anything is read into it.
    if (s.length > kBlockSize) return SegmentResult::kTooLong;
    if (s.length == 0 || file.Read(record->block, s.length) == 0) return SegmentResult::kNoData;
    std::memset(record->block + s.length, 0xFF, kBlockSize - s.length);

    // The block CRC sits in the first byte of the segment header, which lies
    // directly behind the block area: one check over both covers the padded
    // block and its CRC.
    const unsigned char* run = reinterpret_cast<const unsigned char*>(record) + offsetof(TTcfSmall, block);
    s.blockChecked = true;
    s.blockCrcGood = CCrc8::Check(run, kBlockSize + 1) != 0;
    return s.blockCrcGood ? SegmentResult::kOk : SegmentResult::kBadBlockCrc;
}

const char* SegmentResultText(SegmentResult result) {
    switch (result) {
        case SegmentResult::kOk:
            return nullptr;
        case SegmentResult::kNoHeader:
            return "Can't read flash update segment header";
        case SegmentResult::kBadHeaderCrc:
            return "Checksum in flash update segment header is wrong";
        case SegmentResult::kTooLong:
            return "Flash update segment is larger than a flash-ROM block";
        case SegmentResult::kNoData:
            return "Can't read flash update data";
        case SegmentResult::kBadBlockCrc:
            return "Checksum in flash update segment is wrong";
    }
    return "Flash update segment is damaged";
}

namespace {

constexpr unsigned kFlashBlock = kBlockSize + kSegHeaderSize;  // 16 KiB

// Bytes of the flash ROM one segment writes: its data at the block address,
// its header as the block's trailer in the last 16 bytes of the block.
struct FlashBytes {
    unsigned number;
    unsigned dataStart, dataEnd;        // [start, end)
    unsigned trailerStart, trailerEnd;  // [start, end)
};

bool Overlap(unsigned aStart, unsigned aEnd, unsigned bStart, unsigned bEnd) {
    return aStart < bEnd && bStart < aEnd;
}

// A block that runs past the end of the flash ROM would wrap round to its
// start; two segments on the same bytes would program bytes twice without
// an erase between. Each fails the flash ROM half-way, after it was
// erased, so such a chain is refused with the other checks. This also bounds
// the chain: no more than 64 KiB / 17 bytes of segments fit side by side.
bool PlaceSegment(const SegmentInfo& info, std::vector<FlashBytes>& placed, CString& text) {
    // A segment is one block: its data from the block's first byte, its
    // header in the block's last 16. Anywhere else, data and trailer would
    // land in two blocks.
    if (info.address % kFlashBlock != 0) {
        text.Format("Flash update segment %u (block 0x%04X) does not start on a 16 KiB block boundary",
                    info.number, info.address);
        return false;
    }
    const FlashBytes b{info.number, info.address, info.address + info.length, info.address + kBlockSize,
                       info.address + kBlockSize + kSegHeaderSize};
    if (b.trailerEnd > kFlashRomSize) {
        text.Format("Flash update segment %u (block 0x%04X) runs past the end of the flash ROM", b.number,
                    info.address);
        return false;
    }
    for (const FlashBytes& p : placed) {
        if (Overlap(b.dataStart, b.dataEnd, p.dataStart, p.dataEnd) ||
            Overlap(b.dataStart, b.dataEnd, p.trailerStart, p.trailerEnd) ||
            Overlap(b.trailerStart, b.trailerEnd, p.dataStart, p.dataEnd) ||
            Overlap(b.trailerStart, b.trailerEnd, p.trailerStart, p.trailerEnd)) {
            text.Format("Flash update segments %u and %u overlap in the flash ROM", p.number, b.number);
            return false;
        }
    }
    placed.push_back(b);
    return true;
}

}  // namespace

int ValidateSegments(CFile& file, CLogWindow* log, TTcfSmall* record, int* count) {
    if (count) *count = 0;
    if (record == nullptr) {
        if (log) log->MessageBox("Can't allocate memory for struct TTcfSmall", 0x10, 0);
        return 0;
    }
    int segments = 0;
    SegmentInfo info;
    std::vector<FlashBytes> placed;
    for (;;) {
        SegmentResult result = ReadSegment(file, record, &info);
        if (result != SegmentResult::kOk) {
            if (log) log->MessageBox(SegmentResultText(result), 0x10, 0);
            return 0;
        }
        CString text;
        if (!PlaceSegment(info, placed, text)) {
            if (log) log->MessageBox(text, 0x10, 0);
            return 0;
        }
        ++segments;
        if (info.continuation == 0) break;
    }
    if (count) *count = segments;
    return 1;
}

}  // namespace tcf
