// The two commands of tcftool.
#pragma once

#include <string>

namespace tcftool {

// Prints what the file carries and the verdict; 0 when the flash command
// would accept the file, 1 when it would refuse it.
int RunInfo(const std::string& path, bool json);

struct BuildOptions {
    std::string output;
    std::string module;  // decimal, or hexadecimal with 0x
    std::string fpga;
    std::string firmware;  // Intel HEX or raw binary
    std::string eeprom;
    std::string pcieEeprom;
};

// Writes an update file; 0 on success, 1 with a message on stderr.
int RunBuild(const BuildOptions& options);

}  // namespace tcftool
