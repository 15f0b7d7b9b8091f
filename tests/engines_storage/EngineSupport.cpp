#include "EngineSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "sim/Clock.h"
#include "sim/devices/FpgaBlock.h"
#include "sim/devices/Microcontroller.h"
#include "tcf/Tcf.h"

namespace enginetest {

void OpenCard(CVjxPci& pci, unsigned index) {
    ASSERT_GT(pci.Count(), index) << pci.getErrorString();
    ASSERT_EQ(pci.Open(index), 1) << pci.getErrorString();
}

int LoadHeader(CVjxPci& pci, const UpdateFile& file, CLogWindow& log) {
    CFile f;
    if (!f.Open(file.path().c_str(), CFile::modeRead | CFile::typeBinary)) return 0;
    TTcfSmall record;
    int ok = pci.ReadFileHeader(f, &log, &record);
    f.Close();
    return ok;
}

int RunUpdate(CVjxPci& pci, const UpdateFile& file, CLogWindow& log, const char* cardName) {
    CFile f;
    if (!f.Open(file.path().c_str(), CFile::modeRead | CFile::typeBinary)) return 0;
    int ok = pci.doFlash(f, log, cardName);
    f.Close();
    return ok;
}

std::vector<Access> Accesses(testsupport::SimRack& rack) {
    std::vector<Access> out;
    for (const std::string& line : rack.traceLines()) {
        std::istringstream in(line);
        std::string seq, offset, width, value;
        Access a;
        in >> seq >> a.timeUs >> a.function >> a.op >> a.space >> offset >> width >> value;
        a.offset = static_cast<uint32_t>(std::stoul(offset, nullptr, 16));
        a.value = static_cast<uint32_t>(std::stoul(value, nullptr, 16));
        out.push_back(a);
    }
    return out;
}

uint64_t NowUs() {
    return sim::virtualClock().nowUs();
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

}  // namespace enginetest
