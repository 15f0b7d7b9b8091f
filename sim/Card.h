// One simulated VJX card: the PLX chip's PCI function, the PEX 8111 in front
// of a PCIe card, and the parts on the board (configuration EEPROM, PEX 8111
// EEPROM, FPGA with its configuration device, microcontroller with its flash
// and the mailbox between them). The non-volatile parts live in files of the
// card's directory; the runtime state that a machine keeps while powered
// (identity loaded at power-up, FPGA configuration, microcontroller mode,
// bridge registers) is saved beside them whenever it changes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "BoardWiring.h"
#include "CardSpec.h"
#include "NvRegion.h"
#include "Pex8111Function.h"
#include "PlxFunction.h"
#include "Rules.h"
#include "Timing.h"
#include "devices/FpgaBlock.h"
#include "devices/Microcontroller.h"
#include "devices/MicrowireEeprom.h"
#include "devices/Pex8111Eeprom.h"
#include "devices/SpiEeprom25.h"

namespace sim {

// Where the card's functions sit on the bus and in the memory map.
struct Placement {
    PciAddress card;
    PciAddress bridge;  // used when the card has its PEX 8111
    uint32_t cardMemory0 = 0, cardIo1 = 0, cardMemory2 = 0, bridgeMemory0 = 0;
};

class Card : public BoardWiring {
public:
    // A read-only card never saves its runtime state.
    Card(unsigned number, CardSpec spec, const Timing& timing, bool readOnly = false);
    ~Card() override;
    Card(const Card&) = delete;
    Card& operator=(const Card&) = delete;

    // Opens the parts' files in `dir` (blank parts are created as the chips
    // come from the factory: all 0xFF) and builds the models, restoring the
    // saved runtime state when there is one.
    // `restored` tells whether saved runtime state was found (otherwise the
    // caller powers the card up). `clockTag` names the clock the times are
    // taken from (see Rack); busy periods saved on another clock are over.
    bool open(const std::string& dir, const std::string& clockTag, uint64_t nowUs, bool* restored,
              std::string* error);
    void place(const Placement& placement);
    // Writes the content a new card of this spec carries into `parts`.
    bool makeContent(const std::vector<Part>& parts, std::string* error);
    // Power-up: the PLX chip loads its identity from the EEPROM, registers
    // take their reset values, the FPGA loads from its device, the
    // microcontroller resets.
    void powerCycle(uint64_t nowUs);
    // What the PEX 8111's EEPROM answers to the bridge's load at power-up.
    std::vector<uint8_t> bridgeEepromAnswer() const;
    // New options; content options rewrite their parts and power-cycle the
    // card, fault options take effect at once.
    bool setOptions(const std::vector<std::string>& changes, uint64_t nowUs, std::string* error);

    // Around every bus access to one of the card's functions.
    void beforeAccess(uint64_t nowUs);
    void afterAccess(uint64_t nowUs);
    // Lets the card catch up with the clock without a bus access (what its
    // parts did on their own until now); `final` when the process ends,
    // so that a reload the application scheduled is not lost with it.
    void settle(uint64_t nowUs, bool final);
    // Saves the runtime state now (the rack does it when it closes), if this
    // process changed the card: accessed it, powered it or set its options.
    // A card nobody touched keeps what its last user saved, whatever this
    // process loaded before that.
    bool saveState(std::string* error = nullptr);
    bool touched() const { return m_touched; }
    // False once the card's files cannot keep what happens: a write or save
    // failed, or (when `lookAtFiles`) the files were removed. `why` says
    // what. A failed save is never retried.
    bool intact(std::string* why, bool lookAtFiles) const {
        // Looked at after every register access: the common answer inline.
        if (!lookAtFiles && m_fault.empty() && m_eepromMem.intact(nullptr, false) &&
            m_pcieMem.intact(nullptr, false) && m_epcsMem.intact(nullptr, false) &&
            m_flashMem.intact(nullptr, false) && m_bootMem.intact(nullptr, false) &&
            m_busyMem.intact(nullptr, false) && m_flashRegs.intact(nullptr, false))
            return true;
        return intactOrWhy(why, lookAtFiles);
    }

    unsigned number() const { return m_number; }
    const CardSpec& spec() const { return m_spec; }
    Chip chip() const { return m_spec.chip; }
    bool hasBridge() const { return m_bridgeFn != nullptr; }
    bool openFails() const { return m_spec.parsed.openFails; }
    bool registersDenied() const { return m_spec.parsed.registersDenied; }
    const Placement& placement() const { return m_placement; }
    const Identity& identity() const { return m_identity; }
    PlxFunction& cardFunction() { return *m_cardFn; }
    Pex8111Function* bridgeFunction() { return m_bridgeFn.get(); }

    // PCIe-core cards: the function answers on the bus only while the FPGA
    // runs a configuration (not while it loads, not without one), and
    // decodes its BARs only once the system has assigned them: at power-up,
    // and after an FPGA reload only through a re-enumeration.
    bool pcieCore() const { return m_spec.pcieCore(); }
    bool answers(uint64_t nowUs);
    bool decodes(uint64_t nowUs);
    bool barsAssigned() const { return m_barsAssigned; }
    // The system re-enumerates the devices: a PCIe-core function that answers
    // and lacks its BARs gets them back.
    void reenumerate(uint64_t nowUs);

    // Where the card's parts report the rules they see broken.
    Rules& rules() { return m_rules; }

    FpgaBlock& fpga() { return *m_fpga; }
    Microcontroller& mcu() { return *m_mcu; }
    Mailbox& mailbox() { return *m_mailbox; }
    MicrowireEeprom& eeprom() { return *m_eeprom; }
    SpiEeprom25* spiEeprom() { return m_spi.get(); }  // PCIe cards only
    const NvRegion& eepromBytes() const { return m_eepromMem; }
    const NvRegion& pcieEepromBytes() const { return m_pcieMem; }
    const NvRegion& epcsBytes() const { return m_epcsMem; }
    const NvRegion& mcuFlashBytes() const { return m_flashMem; }
    const NvRegion& mcuBootBytes() const { return m_bootMem; }

    // BoardWiring
    void pinsChanged(uint64_t nowUs) override;
    bool lineLevel(int line, uint64_t nowUs) override;

private:
    bool openParts(std::string* error);
    void build(uint64_t nowUs);
    bool wantsImage(Part part) const;
    void applyFaults();
    FpgaBlockOptions fpgaOptions() const;
    bool loadState(uint64_t nowUs, std::string* error);
    void noteState();
    void noteConfiguration(uint64_t nowUs);
    void noteBusy();
    void restoreBusy();
    void takeReload();
    void assignBars(bool assigned);
    std::string path(const char* file) const { return m_dir + "/" + file; }
    const char* deviceFile() const;  // the configuration device's file

    unsigned m_number;
    CardSpec m_spec;
    const Timing& m_timing;
    std::string m_dir;
    Placement m_placement;
    Rules m_rules;

    bool intactOrWhy(std::string* why, bool lookAtFiles) const;

    NvRegion m_eepromMem, m_pcieMem, m_epcsMem, m_flashMem, m_bootMem;
    NvRegion m_busyMem;    // busy.bin: when the parts' busy periods end
    NvRegion m_flashRegs;  // PCIe-core cards: the serial flash's non-volatile registers
    std::string m_clockTag;
    uint64_t m_busySaved[5] = {};  // the times busy.bin holds
    bool m_busyWritten = false;    // by this process (with its clock's tag)
    std::unique_ptr<MicrowireEeprom> m_eeprom;
    std::unique_ptr<SpiEeprom25> m_spi;
    std::unique_ptr<Pex8111Eectl> m_eectl;
    std::unique_ptr<FpgaBlock> m_fpga;
    std::unique_ptr<Microcontroller> m_mcu;
    std::unique_ptr<Mailbox> m_mailbox;
    std::unique_ptr<PlxFunction> m_cardFn;
    std::unique_ptr<Pex8111Function> m_bridgeFn;

    Identity m_identity;
    bool m_configured = false;   // the FPGA at the last access
    bool m_barsAssigned = true;  // PCIe-core cards: the system assigned the function's BARs
    bool m_barsChanged = false;  // since the state was last saved
    bool m_readOnly = false;
    bool m_touched = false;
    std::string m_fault;
    uint64_t m_sessions = 0;  // how often the rack was opened since the card was made
    uint64_t m_savedFpgaChanges = ~0ull;
    uint64_t m_savedMcuChanges = ~0ull;
};

}  // namespace sim
