// Model table of the VJX cards.
#include "ModelTable.h"

#include "../platform/platform.h"

namespace vjx {
namespace models {

namespace {

using platform::kHasBridgeType4;
using platform::kUnknownModel;

constexpr ModelRow kModels[] = {
    {0x222110B5, Revision::Any, 0, "VJX PCI M (5V)", 88, false},
    {0x243110B5, Revision::Any, 1, "VJX PCI R (5V)", 89, false},
    {0x286210B5, Revision::Any, 2, "VJX PCI M", 90, true},
    {0x290510B5, Revision::Any, 3, "PCI Q (5V)", 91, false},
    {0x290610B5, Revision::Any, 4, "PCI Q", 92, true},
    {0x294010B5, Revision::Any, 5, "VJX PCI R", 93, true},
    {0x306810B5, Revision::Any, 6, "VJX PCI S", 80, true},
    {0x302510B5, Revision::Any, 7, "VJX PCI K", 94, true},
    {0x335210B5, Revision::Any, 8, "VJX PCIe S", 81, true},
    {0x335310B5, Revision::Any, 9, "VJX PCIe R", 82, true},
    {0x335410B5, Revision::Not80, 10, "VJX PCIe M", 83, true},
    {0x335510B5, Revision::Not80, 11, "VJX PCIe K", 84, true},
    {0x341510B5, Revision::Not80, 12, "PCIe Q", 85, true},
    {0x346310B5, Revision::Any, 13, "VJX PCI R (v2)", 86, true},
    {0x349310B5, Revision::Not80, 14, "VJX PCIe Z", 87, true},
    {0x359110B5, Revision::Any, 15, "VJX PCI K (v2)", 95, true},
    // Cards of revision 0x80 carry their PCIe core in the FPGA; only the
    // Windows program knows them.
    {0x335410B5, Revision::Is80, 16, "VJX PCIe M (v2)", 96, true},
    {0x335510B5, Revision::Is80, 17, "VJX PCIe K (v2)", 97, true},
    {0x341510B5, Revision::Is80, 18, "VJX PCIe Q (v2)", 98, true},
    {0x349310B5, Revision::Is80, 19, "VJX PCIe Z (v2)", 99, true},
};

// Keys of cards whose configuration EEPROM gives the chip nothing: the
// bridge chips' own IDs, or 0.
struct UnprogrammedKey {
    uint32_t key;
    const char* description;
};
constexpr UnprogrammedKey kUnprogrammed[] = {
    {0x00000000, "Unprogrammed card"},
    {0x903010B5, "Unprogrammed PCI 3V card"},
    {0x905010B5, "Unprogrammed PCI 5V card"},
    {0x905610B5, "Unprogrammed PCIe card"},
};

constexpr const char* kUnknownDescription = "(Unknown)";

bool RowInProgram(const ModelRow& row, const platform::Program& program) {
    return program.hasBridgeType4 || row.revision != Revision::Is80;
}

bool RowInThisProgram(const ModelRow& row) {
    return RowInProgram(row, platform::kThisProgram);
}

bool RevisionMatches(Revision wanted, int revision) {
    const bool core = kHasBridgeType4 && revision == kRevisionCore;
    switch (wanted) {
        case Revision::Any:
            return true;
        case Revision::Not80:
            return !core;
        case Revision::Is80:
            return core;
    }
    return false;
}

}  // namespace

int Lookup(uint32_t key, int revision, const char** description) {
    for (const ModelRow& row : kModels) {
        if (row.key == key && RowInThisProgram(row) && RevisionMatches(row.revision, revision)) {
            if (description)
                *description =
                    platform::kDescribeByCardName ? FileModelName(row.moduleCode) : row.description;
            return row.model;
        }
    }
    const char* text = kUnknownDescription;
    for (const UnprogrammedKey& entry : kUnprogrammed)
        if (entry.key == key) text = entry.description;
    if (description) *description = text;
    return kUnknownModel;
}

namespace {

const ModelRow* RowForModuleCode(int code, const platform::Program& program) {
    for (const ModelRow& row : kModels)
        if (row.moduleCode == code && row.takesFiles && RowInProgram(row, program)) return &row;
    return nullptr;
}

}  // namespace

int ModelForModuleCode(int code, const platform::Program& program) {
    const ModelRow* row = RowForModuleCode(code, program);
    return row ? row->model : program.unknownModel;
}

const char* FileModelName(int code, const platform::Program& program) {
    const ModelRow* row = RowForModuleCode(code, program);
    return row ? row->description : kUnknownDescription;
}

bool ModelHasCoreFpga(int model, const platform::Program& program) {
    for (const ModelRow& row : kModels)
        if (row.model == model && RowInProgram(row, program)) return row.revision == Revision::Is80;
    return false;
}

}  // namespace models
}  // namespace vjx
