// Card object: construction, counting, opening and identification.
#include "VjxPci.h"

#include "../app/platform.h"

const char* const CVjxPci::kSlowModeRefused =
    "The card's PCIe bridge is reachable only through configuration cycles, which this driver cannot "
    "write; the card can't be updated in slow mode.";

CVjxPci::CVjxPci() : m_model(vjx::platform::kUnknownModel), m_modelDesc("(Unknown)") {}
CVjxPci::~CVjxPci() {}
uint32_t CVjxPci::Count() { return 0; }
int CVjxPci::Open(unsigned int) { return 0; }
void CVjxPci::Close() {}
void CVjxPci::GetPciSlot(WD_PCI_SLOT* slot) {
    if (slot) *slot = WD_PCI_SLOT{};
}
uint32_t CVjxPci::ReadID() { return 0; }
uint32_t CVjxPci::ReadSUBID() { return 0; }
uint8_t CVjxPci::ReadRevision() { return 0; }
CVjxPci::TModel CVjxPci::GetModel(int, int, const char**) { return vjx::platform::kUnknownModel; }
bool CVjxPci::KnownModel() const { return m_model != vjx::platform::kUnknownModel; }
bool CVjxPci::HasFlashUpdate() const { return false; }
CVjxPci::TModel CVjxPci::GetModelIndex(int) const { return vjx::platform::kUnknownModel; }
bool CVjxPci::MigrationPossible(int) const { return false; }
bool CVjxPci::SlowFpgaMode() { return false; }
const char* CVjxPci::getErrorString() { return ""; }
const char* CVjxPci::GetLibInitResultStr() { return ""; }
bool CVjxPci::BridgeWritable() { return true; }
