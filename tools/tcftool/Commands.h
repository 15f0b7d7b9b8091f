// The commands of tcftool.
#pragma once

#include <string>

namespace tcftool {

// Prints what the file carries and each program's verdict; 0 when a
// program of ours would accept the file, 1 when every one would refuse it.
int RunInfo(const std::string& path, bool json);

struct BuildOptions {
    std::string output;
    std::string module;  // decimal, or hexadecimal with 0x
    std::string fpga;
    std::string firmware;
    std::string firmwareFormat = "auto";  // ihex, bin or auto
    std::string eeprom;
    std::string pcieEeprom;
    bool strict = false;  // warnings refuse the build
    bool json = false;
};

// Writes an update file; 0 on success, 1 with a message on stderr.
int RunBuild(const BuildOptions& options);

struct ExtractOptions {
    std::string input;
    std::string firmware;
    std::string firmwareFormat = "auto";  // ihex, bin, or auto: by the name's extension
    std::string fpga;
    std::string eeprom;
    std::string pcieEeprom;
};

// Writes the images an update file carries; 0 on success, 1 with a message
// on stderr. Each output is written whole or not at all.
int RunExtract(const ExtractOptions& options);

}  // namespace tcftool
