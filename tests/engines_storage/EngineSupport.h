// Shared helpers of the engine tests: a card opened on a simulated rack, a
// log captured in a temporary stream, update files built in a temporary
// directory, and the bus trace parsed into accesses.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "app/LogWindow.h"
#include "card/VjxPci.h"
#include "tcf/TcfWriter.h"
#include "tests/support/SimRack.h"
#include "tests/support/TestUtil.h"
#include "tests/support/UpdateFiles.h"

namespace enginetest {

using testsupport::Bytes;

using testsupport::CapturedLog;

using testsupport::Build;
using testsupport::Crc32;
using testsupport::Firmware;
using testsupport::FpgaImage;
using testsupport::UpdateFile;
using testsupport::WithCrc;

// Opens card `index` of the rack (counting first).
void OpenCard(CVjxPci& pci, unsigned index);
// Loads the file's header and EEPROM images into the card object as the
// flash command does; answers ReadFileHeader's result.
int LoadHeader(CVjxPci& pci, const UpdateFile& file, CLogWindow& log);
// Runs the update sequence on the file.
int RunUpdate(CVjxPci& pci, const UpdateFile& file, CLogWindow& log, const char* cardName);

// The bus trace, parsed.
struct Access {
    uint64_t timeUs = 0;
    std::string function;  // card<N> / bridge<N>
    std::string op;        // r, w, cr, cw
    std::string space;     // "0", "2", "-"
    uint32_t offset = 0;
    uint32_t value = 0;
    bool is(const char* o, const char* s, uint32_t off) const {
        return op == o && space == s && offset == off;
    }
};
std::vector<Access> Accesses(testsupport::SimRack& rack);

uint64_t NowUs();

using testsupport::Profiles;
// "ModelProfile" names for parameterised tests over (case, profile).
template <typename Case>
std::string CaseProfileName(const ::testing::TestParamInfo<std::tuple<Case, std::string>>& info) {
    return std::string("Card") + std::get<0>(info.param).model + "_" + std::get<1>(info.param);
}
size_t Count(const std::string& text, const std::string& part);

}  // namespace enginetest
