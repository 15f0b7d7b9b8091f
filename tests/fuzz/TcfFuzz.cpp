// libFuzzer target: the update-file header reader and the segment chain over
// arbitrary bytes. Byte 23 of the header is not interpreted by the reader;
// here its low bits ask for the CRCs to be made good first, so that the
// fuzzer gets past the CRC checks to the image loading and the chain walk.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

#include "card/VjxPci.h"
#include "tcf/Crc.h"
#include "tcf/Segment.h"
#include "tcf/Tcf.h"

namespace {

constexpr unsigned kOpenRead = CFile::modeRead | CFile::typeBinary;
constexpr unsigned kControlByte = 23;
constexpr unsigned char kSealHeader = 0x01;
constexpr unsigned char kSealSegments = 0x02;

// Gives every segment header and block along the chain a good CRC.
void SealChain(std::vector<unsigned char>& b) {
    size_t at = tcf::kHeaderSize;
    while (at + tcf::kSegHeaderSize <= b.size()) {
        unsigned char* seg = b.data() + at;
        const size_t n = tcf::getBE16(seg + tcf::kSegOffLength);
        const size_t data = at + tcf::kSegHeaderSize;
        if (n <= tcf::kBlockSize && data + n <= b.size()) {
            uint8_t reg = 0xFF;
            for (size_t i = 0; i < tcf::kBlockSize; ++i) reg = CCrc8::Update(reg, i < n ? b[data + i] : 0xFF);
            seg[tcf::kSegOffBlockCrc] = reg;
        }
        CCrc8::Calc(seg, tcf::kSegHeaderSize);
        if (tcf::getBE16(seg + tcf::kSegOffContinue) == 0) break;
        at = data + n;
    }
}

// The file the reader opens, made at the first input and removed at exit.
const char* FilePath() {
    static char name[] = "/tmp/tcf_fuzz.XXXXXX";
    static const bool made = [] {
        const int fd = mkstemp(name);
        if (fd < 0) std::abort();
        close(fd);
        std::atexit([] { unlink(name); });
        return true;
    }();
    (void)made;
    return name;
}

void WriteFile(const std::vector<unsigned char>& bytes) {
    std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CVjxPci* card = new CVjxPci();
    static std::FILE* sink = std::fopen("/dev/null", "w");
    static CLogWindow* log = new CLogWindow(sink ? sink : stderr);

    std::vector<unsigned char> bytes(data, data + size);
    if (bytes.size() >= tcf::kHeaderSize) {
        if (bytes[kControlByte] & kSealSegments) SealChain(bytes);
        if (bytes[kControlByte] & kSealHeader) CCrc8::Calc(bytes.data(), tcf::kHeaderSize);
    }
    WriteFile(bytes);

    // The record is allocated at its exact size, so that any write past it
    // is caught by the address sanitizer.
    auto record = std::make_unique<TTcfSmall>();
    CFile file;
    if (!file.Open(FilePath(), kOpenRead)) std::abort();
    if (card->ReadFileHeader(file, log, record.get())) {
        if (card->EepromImageSize() > tcf::kMaxConfigEepromImage) std::abort();
        if (card->PcieEepromImageSize() > tcf::kMaxPcieEepromImage) std::abort();
    }
    file.Close();

    // The chain is walked whatever the header said, as the update sequence
    // would after an accepted header.
    CFile chain;
    if (!chain.Open(FilePath(), kOpenRead)) std::abort();
    chain.Seek(tcf::kHeaderSize, 0);
    int count = 0;
    if (tcf::ValidateSegments(chain, log, record.get(), &count) && count < 1) std::abort();
    chain.Close();

    return 0;
}
