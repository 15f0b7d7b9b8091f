// Card object: construction, counting, opening, closing and identification.
#include "VjxPci.h"

#include <cstring>

#include "../Source/pci_lib.h"
#include "../chips/ConfigFlash.h"
#include "../chips/Epcs.h"
#include "../chips/PciConfig.h"
#include "../chips/PlxPci90xx.h"
#include "../driver/wdc_lib.h"
#include "../platform/platform.h"
#include "ModelTable.h"

namespace {

using vjx::platform::kHasBridgeType4;
using vjx::platform::kUnknownModel;

constexpr DWORD kPlxVendor = plx::kVendorId;
constexpr DWORD kDevice9050 = plx::kDevicePci9050;
constexpr DWORD kDevice9030 = plx::kDevicePci9030;
constexpr DWORD kDevice9056 = plx::kDevicePci9056;
using vjx::models::kRevisionCore;

}  // namespace

const char* const CVjxPci::kSlowModeRefused =
    "The card's PCIe bridge is reachable only through configuration cycles, which this driver "
    "cannot write; the card can't be updated in slow mode.";

CVjxPci::CVjxPci() : m_model(kUnknownModel), m_modelDesc("(Unknown)") {
    m_libInitStatus = VJX_PCI_LibInit();
}

// A card still open is closed here, so that no driver handle outlives the
// object.
CVjxPci::~CVjxPci() {
    if (m_pci) Close();
    m_eeImage.clear();
    m_eeImage.shrink_to_fit();
    m_eeImageSize = 0;
    // A library that did not start here (the driver was already open) is
    // not this object's to stop.
    if (m_libInitStatus == 0) VJX_PCI_LibUninit();
}

uint32_t CVjxPci::Count() {
    m_count9050 = VJX_PCI_CountCards(kPlxVendor, kDevice9050);
    m_count9030 = VJX_PCI_CountCards(kPlxVendor, kDevice9030);
    m_count9056 = VJX_PCI_CountCards(kPlxVendor, kDevice9056);
    return m_count9050 + m_count9030 + m_count9056;
}

int CVjxPci::Open(unsigned int index) {
    if (m_pci) Close();  // one card at a time; never lose an open handle
    m_model = kUnknownModel;

    DWORD device = 0;
    DWORD local = index;
    if (local < m_count9050) {
        device = kDevice9050;
        m_bridgeType = BRIDGE_9050;
    } else if ((local -= m_count9050) < m_count9030) {
        device = kDevice9030;
        m_bridgeType = BRIDGE_9030;
    } else if ((local -= m_count9030) < m_count9056) {
        device = kDevice9056;
        m_bridgeType = BRIDGE_9056;
    } else {
        m_bridgeType = BRIDGE_NONE;
        return 0;
    }

    if (!VJX_PCI_Open(&m_pci, kPlxVendor, device, local)) {
        m_pci = nullptr;
        m_bridgeType = BRIDGE_NONE;
        return 0;
    }
    const uint32_t key = ReadSUBID();
    const int revision = kHasBridgeType4 ? ReadRevision() : 0;
    m_model = GetModel(static_cast<int>(key), revision, &m_modelDesc);
    if (kHasBridgeType4 && m_bridgeType == BRIDGE_9056 && revision == kRevisionCore)
        m_bridgeType = BRIDGE_9056_CORE;
    if (m_bridgeType != BRIDGE_9056) return 1;

    WD_PCI_SLOT slot;
    GetPciSlot(&slot);
    if (m_bridge.Open(kPlxVendor, vjx::platform::kBridgeSearchDevice, &slot)) return 1;

    VJX_PCI_Close(m_pci);
    m_pci = nullptr;
    m_bridgeType = BRIDGE_NONE;
    m_model = kUnknownModel;
    return 0;
}

void CVjxPci::Close() {
    if (m_bridgeType == BRIDGE_9056 || m_bridge.IsOpen()) m_bridge.Close();
    m_bridgeType = BRIDGE_NONE;
    m_model = kUnknownModel;
    m_pcieImage.clear();
    m_pcieImage.shrink_to_fit();
    m_pcieImageSize = 0;
    VJX_PCI_Close(m_pci);
    m_pci = nullptr;
}

void CVjxPci::GetPciSlot(WD_PCI_SLOT* slot) {
    VJX_PCI_GetPciSlot(m_pci, slot);
}

namespace {

// Configuration bytes of the open card; 0 when the driver or the card is
// not open.
uint32_t ReadConfig(VJX_PCI_STRUCT* pci, DWORD offset, DWORD count) {
    WD_HANDLE driver = nullptr;
    if (!pci || !PCI_Get_WD_handle(&driver)) return 0;
    WD_PCI_SLOT slot;
    VJX_PCI_GetPciSlot(pci, &slot);
    return PCI_ReadBytes(driver, slot, offset, count);
}

}  // namespace

uint32_t CVjxPci::ReadID() {
    return ReadConfig(m_pci, pcicfg::ID, 4);
}

uint32_t CVjxPci::ReadSUBID() {
    return ReadConfig(m_pci, pcicfg::SUBSYSTEM, 4);
}

uint8_t CVjxPci::ReadRevision() {
    return static_cast<uint8_t>(ReadConfig(m_pci, pcicfg::REVISION, 1));
}

CVjxPci::TModel CVjxPci::GetModel(int key, int revision, const char** description) {
    return vjx::models::Lookup(static_cast<uint32_t>(key), revision, description);
}

bool CVjxPci::KnownModel() const {
    return m_model != kUnknownModel;
}

CVjxPci::TModel CVjxPci::GetModelIndex(int code) const {
    return vjx::models::ModelForModuleCode(code, *m_program);
}

// The PCIe M and K cards and the PCIe Q card share their hardware, so an
// update file of one may be put on the other.
bool CVjxPci::MigrationPossible(int code) const {
    const TModel target = GetModelIndex(code);
    if ((m_model == 10 || m_model == 11) && target == 12) return true;
    if (m_model == 12 && (target == 10 || target == 11)) return true;
    return false;
}

bool CVjxPci::SlowFpgaMode() {
    return m_bridgeType == BRIDGE_9056 && m_bridge.IsOpen() && m_bridge.SlowFpgaMode();
}

uint32_t CVjxPci::FpgaDeviceBytes() const {
    return m_bridgeType == BRIDGE_9056_CORE ? cfgflash::kCapacity : epc::largestCapacity();
}

bool CVjxPci::BridgeWritable() {
    return vjx::platform::kDriverWritesConfigSpace || !SlowFpgaMode();
}

const char* CVjxPci::getErrorString() {
    const size_t length = std::strlen(VJX_PCI_ErrorString);
    if (length > 0 && VJX_PCI_ErrorString[length - 1] == '\n') VJX_PCI_ErrorString[length - 1] = '\0';
    return VJX_PCI_ErrorString;
}

const char* CVjxPci::TakeAccessRefusal() {
    return WdcTakeAccessRefusal();
}

const char* CVjxPci::GetLibInitResultStr() {
    return VJX_PCI6_GetLastErr();
}
