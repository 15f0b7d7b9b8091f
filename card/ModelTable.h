// The VJX models by the subsystem key their configuration EEPROM gives the
// card's PCI function (configuration offset 0x2C: subsystem ID in the upper
// half, PLX's vendor ID 0x10B5 in the lower).
#pragma once

#include <cstdint>

#include "../platform/platform.h"

namespace vjx {
namespace models {

// Which PCI revision ID of the card's function a row requires. The Linux
// program never reads the revision and takes the rows for "not 0x80".
enum class Revision { Any, Not80, Is80 };

struct ModelRow {
    uint32_t key;
    Revision revision;
    int model;
    const char* description;
    int moduleCode;   // the code by which update files name the model
    bool takesFiles;  // update files with this module code exist
};

// Cards of this PCI revision ID carry their PCIe core in the FPGA.
constexpr int kRevisionCore = 0x80;

// Looks a key (and the function's revision ID, 0x80 or other) up: the model
// number, or the unknown model, with its description. The Windows program
// describes a known model by the name of its module code (FileModelName), so the
// 5V models, whose codes have no name, are "(Unknown)" there.
int Lookup(uint32_t key, int revision, const char** description);

// The model an update file's module code names in `program`; its unknown
// model for any other code.
int ModelForModuleCode(int code, const platform::Program& program = platform::kThisProgram);

// That model's description, "(Unknown)" for any other code (the 5V models
// among them: no update files are made for them). Never null.
const char* FileModelName(int code, const platform::Program& program = platform::kThisProgram);

// Whether `model` of `program` carries its PCIe core in the FPGA, whose image
// then goes to the configuration flash.
bool ModelHasCoreFpga(int model, const platform::Program& program = platform::kThisProgram);

}  // namespace models
}  // namespace vjx
