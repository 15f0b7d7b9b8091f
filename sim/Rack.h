// A rack: a simulated machine's PCI bus with VJX cards, living in a
// directory. rack.json describes the cards (model and options); each card
// keeps its non-volatile parts and runtime state in card<N>/; runtime/ holds
// what the access library shares between processes on this machine.
//
// Bus layout: cards in rack order. A PCIe card's PEX 8111 sits on a bus of
// its own with the card on the bus behind it; PCI cards share a bus, one
// slot each. Card functions (PCI 9050/9030/9056) are numbered from 1 in bus
// order, PEX 8111 functions likewise, on their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Card.h"
#include "Clock.h"
#include "PciFunction.h"
#include "Timing.h"
#include "Trace.h"

namespace sim {

class Rack {
public:
    using Kind = PciFunction::Kind;
    // Bus numbers and the machine's address map leave room for this many.
    static constexpr size_t kMaxCards = 100;

    ~Rack();
    Rack(const Rack&) = delete;
    Rack& operator=(const Rack&) = delete;

    // A new rack in `dir` (which must not exist, or be empty) with cards as
    // `vjxsim new --card` takes them; every card is powered up.
    static std::unique_ptr<Rack> create(const std::string& dir, const std::vector<std::string>& cardSpecs,
                                        const Timing& timing, Clock& clock, std::string* error);
    // An existing rack, in the state its last user left it. A read-only rack
    // (for looking at it while another process may be using it) never writes
    // its runtime state back.
    static std::unique_ptr<Rack> open(const std::string& dir, const Timing& timing, Clock& clock,
                                      std::string* error, bool readOnly = false);

    const std::string& dir() const { return m_dir; }
    std::string runtimeDir() const { return m_dir + "/runtime"; }
    Clock& clock() { return *m_clock; }
    const Timing& timing() const { return *m_timing; }
    Trace& trace() { return m_trace; }

    size_t cardCount() const { return m_cards.size(); }
    Card& card(unsigned number) { return *m_cards.at(number - 1); }  // rack position, from 1

    // Functions on the bus, numbered from 1 within their kind in bus order.
    unsigned functionCount(Kind kind) const;
    // The card carrying function `number` of `kind`; null when there is none.
    Card* cardOf(Kind kind, unsigned number) const;
    PciFunction* function(Kind kind, unsigned number) const;

    // Bus accesses, each traced and charged to the clock. False with a
    // message for a function, space or offset that does not exist.
    bool configRead(Kind kind, unsigned number, unsigned offset, unsigned count, uint8_t* out,
                    std::string* error);
    bool configWrite(Kind kind, unsigned number, unsigned offset, unsigned count, const uint8_t* in,
                     std::string* error);
    bool read(Kind kind, unsigned number, unsigned space, unsigned offset, unsigned width, uint32_t* value,
              std::string* error);
    bool write(Kind kind, unsigned number, unsigned space, unsigned offset, unsigned width, uint32_t value,
               std::string* error);

    // The operating system re-enumerates the devices (the configuration
    // manager's re-enumeration of the device tree): functions that answer
    // and lack their BARs get them. False, changing nothing, when a card's
    // `reenumerate=fail` makes the request fail.
    bool reenumerate();
    // Every card, or one, powered down and up again.
    void powerCycle();
    bool powerCycle(unsigned number, std::string* error);
    // Changes a card's options (see Card::setOptions) and records them.
    bool setOptions(unsigned number, const std::vector<std::string>& changes, std::string* error);
    // Saves the runtime state of every card this process changed (also done
    // when the rack closes); false with the first failure, also of a part's
    // write before.
    bool saveState(std::string* error = nullptr);
    // Whether this process changed any card.
    bool touched() const;

    // False once the rack can no longer keep what happens on its cards: a
    // write or save failed, or the rack's files were removed while in use.
    // `why` says what. Checked after every access (a failed write at once,
    // removed files at least every kCheckIntervalUs of the rack's clock).
    bool intact(std::string* why) const;
    static constexpr uint64_t kCheckIntervalUs = 200000;

    // Strict: the first rule a part sees broken (a trace line "! ...")
    // ends the run; the access library checks after every access.
    void setStrict(bool strict) { m_strict = strict; }
    bool strict() const { return m_strict; }
    // In strict mode, whether a rule was broken; `what` gets the first
    // breach's trace line.
    bool ruleBroken(std::string* what) const;

    // Names the clock the rack's times are taken from, as busy periods are
    // kept in the rack: "virtual" for a test's virtual clock, otherwise the
    // machine's monotonic clock, which every process of this boot shares.
    static std::string clockTag(Clock& clock);

private:
    struct Slot {
        Kind kind;
        unsigned number;
        Card* card;
    };
    Rack(std::string dir, const Timing& timing, Clock& clock);
    bool load(bool readOnly, std::string* error);
    bool saveDescription(std::string* error) const;
    void layout();
    const Slot* slot(Kind kind, unsigned number) const;
    PciFunction* functionOf(const Slot& s) const;
    bool checkConfig(const Slot* s, Kind kind, unsigned number, unsigned offset, unsigned count,
                     std::string* error) const;
    bool checkRegister(const Slot* s, Kind kind, unsigned number, unsigned space, unsigned offset,
                       unsigned width, std::string* error) const;
    void configAccess(const Slot& s, bool write, unsigned offset, unsigned count, uint8_t* bytes);
    void watch(Card& card, uint64_t nowUs);
    void watchRules(Card& card);

    std::string m_dir;
    std::unique_ptr<Timing> m_timing;  // the cards' models keep a reference
    Clock* m_clock;
    Trace m_trace;
    std::vector<std::unique_ptr<Card>> m_cards;
    std::vector<Slot> m_slots;  // bus order
    std::string m_fault;
    uint64_t m_lastCheckUs = 0;
    bool m_strict = false;
};

std::string functionName(PciFunction::Kind kind, unsigned number);  // "card1", "bridge2"

}  // namespace sim
