#include "EngineSupport.h"

#include "sim/Clock.h"
#include "sim/devices/Microcontroller.h"
#include "tcf/Tcf.h"

namespace enginetest {

OneCard::OneCard(const std::string& spec, const std::string& timing) : rack({spec}, timing) {
    if (pci.Count() < 1 || pci.Open(0) != 1) ADD_FAILURE() << "card " << spec << " did not open";
    rack.clearTrace();
}

std::vector<Access> OneCard::mailbox() {
    std::vector<Access> out;
    for (const Access& a : accesses())
        if ((a.op == "r" || a.op == "w") && a.space == "2") out.push_back(a);
    return out;
}

std::vector<uint32_t> OneCard::writes(uint32_t reg) {
    std::vector<uint32_t> out;
    for (const Access& a : mailbox())
        if (a.op == "w" && a.offset == reg) out.push_back(a.value);
    return out;
}

std::string OneCard::sent() {
    std::string out;
    unsigned char window[256] = {};
    unsigned address = 0;
    unsigned count = 0;
    for (const Access& a : mailbox()) {
        if (a.op != "w") continue;
        if (a.offset == kRama) address = a.value & 0xFF;
        if (a.offset == kRamd) window[address] = static_cast<unsigned char>(a.value);
        if (a.offset == kTbuf) count = a.value & 0xFF;
        if (a.offset == kTstart)
            for (unsigned i = 1; i <= count; ++i) out += static_cast<char>(window[i]);
    }
    return out;
}

std::vector<unsigned char> OneCard::flash() {
    const sim::NvRegion& region = card().mcuFlashBytes();
    return std::vector<unsigned char>(region.data(), region.data() + region.size());
}

int OneCard::load(const UpdateFile& file) {
    CFile f;
    if (!f.Open(file.path().c_str(), CFile::modeRead | CFile::typeBinary)) return 0;
    TTcfSmall record;
    const int ok = pci.ReadFileHeader(f, &log.log(), &record);
    f.Close();
    return ok;
}

int OneCard::update(const UpdateFile& file, const char* cardName) {
    CFile f;
    if (!f.Open(file.path().c_str(), CFile::modeRead | CFile::typeBinary)) return 0;
    const int ok = pci.doFlash(f, log.log(), cardName);
    f.Close();
    return ok;
}

void OneCard::enterBootLoader() {
    ASSERT_EQ(pci.doIspReset(1), 1);
    ASSERT_EQ(pci.doIspDetect(), 1);
    rack.clearTrace();
}

uint64_t NowUs() {
    return sim::virtualClock().nowUs();
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace enginetest
