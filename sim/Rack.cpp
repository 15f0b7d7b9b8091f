#include "Rack.h"

#include <sys/stat.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "FileUtil.h"
#include "Platform.h"

namespace sim {

std::string functionName(PciFunction::Kind kind, unsigned number) {
    return (kind == PciFunction::Kind::Bridge ? "bridge" : "card") + std::to_string(number);
}

Rack::Rack(std::string dir, const Timing& timing, Clock& clock)
    : m_dir(std::move(dir)), m_timing(new Timing(timing)), m_clock(&clock) {}

Rack::~Rack() {
    const uint64_t now = m_clock->nowUs();
    for (auto& c : m_cards) c->settle(now, true);
    saveState();
    m_trace.flush();
}

std::string Rack::clockTag(Clock& clock) {
    if (dynamic_cast<VirtualClock*>(&clock)) return "virtual";
    return "monotonic " + sys::bootId();
}

std::unique_ptr<Rack> Rack::create(const std::string& dir, const std::vector<std::string>& cardSpecs,
                                   const Timing& timing, Clock& clock, std::string* error) {
    if (cardSpecs.size() > kMaxCards) {
        if (error) *error = "a rack holds at most " + std::to_string(kMaxCards) + " cards";
        return nullptr;
    }
    std::vector<CardSpec> specs;
    for (const auto& text : cardSpecs) {
        CardSpec spec;
        if (!CardSpec::parse(text, &spec, error)) return nullptr;
        specs.push_back(spec);
    }
    if (isDirectory(dir) && !directoryIsEmpty(dir)) {
        if (error) *error = dir + ": exists and is not empty";
        return nullptr;
    }
    if (!makeDirectory(dir, error) || !makeDirectory(dir + "/runtime", error)) return nullptr;
    std::unique_ptr<Rack> rack(new Rack(dir, timing, clock));
    uint64_t now = clock.nowUs();
    const std::string tag = clockTag(clock);
    for (size_t i = 0; i < specs.size(); ++i) {
        unsigned number = static_cast<unsigned>(i + 1);
        std::unique_ptr<Card> card(new Card(number, specs[i], *rack->m_timing));
        bool restored = false;
        if (!card->open(dir + "/card" + std::to_string(number), tag, now, &restored, error) ||
            !card->makeContent({Part::Eeprom, Part::PcieEeprom, Part::Epcs, Part::McuFlash}, error))
            return nullptr;
        rack->watchRules(*card);
        rack->m_cards.push_back(std::move(card));
    }
    rack->layout();
    for (auto& card : rack->m_cards) card->powerCycle(now);
    if (!rack->saveDescription(error)) return nullptr;
    return rack;
}

std::unique_ptr<Rack> Rack::open(const std::string& dir, const Timing& timing, Clock& clock,
                                 std::string* error, bool readOnly) {
    std::unique_ptr<Rack> rack(new Rack(dir, timing, clock));
    if (!rack->load(readOnly, error)) return nullptr;
    return rack;
}

bool Rack::load(bool readOnly, std::string* error) {
    std::string text;
    if (!readFile(m_dir + "/rack.json", &text, nullptr)) {
        if (error) *error = m_dir + ": not a rack (no rack.json; make one with 'vjxsim new')";
        return false;
    }
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    std::vector<std::pair<std::string, std::vector<std::string>>> described;
    try {
        if (j.is_discarded()) throw std::runtime_error("not JSON");
        for (const auto& c : j.at("cards"))
            described.emplace_back(c.at("model").get<std::string>(),
                                   c.at("options").get<std::vector<std::string>>());
    } catch (const std::exception& e) {
        if (error) *error = m_dir + "/rack.json: " + e.what();
        return false;
    }
    if (described.size() > kMaxCards) {
        if (error) *error = m_dir + "/rack.json: more than " + std::to_string(kMaxCards) + " cards";
        return false;
    }
    if (!makeDirectory(runtimeDir(), error)) return false;
    uint64_t now = m_clock->nowUs();
    m_lastCheckUs = now;
    const std::string tag = clockTag(*m_clock);
    std::vector<Card*> unpowered;
    for (size_t i = 0; i < described.size(); ++i) {
        CardSpec spec;
        if (!CardSpec::make(described[i].first, described[i].second, &spec, error)) {
            if (error) *error = m_dir + "/rack.json: card " + std::to_string(i + 1) + ": " + *error;
            return false;
        }
        unsigned number = static_cast<unsigned>(i + 1);
        std::unique_ptr<Card> card(new Card(number, spec, *m_timing, readOnly));
        bool restored = false;
        if (!card->open(m_dir + "/card" + std::to_string(number), tag, now, &restored, error)) return false;
        if (!restored) unpowered.push_back(card.get());
        watchRules(*card);
        m_cards.push_back(std::move(card));
    }
    layout();
    for (Card* card : unpowered) card->powerCycle(now);
    return true;
}

bool Rack::saveDescription(std::string* error) const {
    nlohmann::json cards = nlohmann::json::array();
    for (const auto& c : m_cards)
        cards.push_back({{"model", c->spec().model}, {"options", c->spec().options}});
    nlohmann::json j = {{"format", 1}, {"cards", cards}};
    return writeFileAtomic(m_dir + "/rack.json", j.dump(2) + "\n", error);
}

void Rack::layout() {
    unsigned bus = 1;
    unsigned nextSlot = 0;
    m_slots.clear();
    for (size_t i = 0; i < m_cards.size(); ++i) {
        Card& card = *m_cards[i];
        uint32_t window = static_cast<uint32_t>(i) * 0x100000u;
        Placement p;
        p.cardMemory0 = 0xF0000000u + window;
        p.cardMemory2 = 0xF0000000u + window + 0x10000u;
        p.cardIo1 = 0x1000u + static_cast<uint32_t>(i) * 0x100u;
        p.bridgeMemory0 = 0xE0000000u + window;
        if (card.pcieCore()) {
            // The FPGA's PCIe endpoint, alone on the bus behind its port.
            if (nextSlot > 0) {
                ++bus;
                nextSlot = 0;
            }
            p.card = {static_cast<uint8_t>(bus), 0, 0};
            bus += 1;
        } else if (isPcie(card.chip())) {
            if (nextSlot > 0) {
                ++bus;  // the PCI cards so far filled the bus before
                nextSlot = 0;
            }
            p.bridge = {static_cast<uint8_t>(bus), 0, 0};
            p.card = {static_cast<uint8_t>(bus + 1), 0, 0};
            bus += 2;
        } else {
            p.card = {static_cast<uint8_t>(bus), static_cast<uint8_t>(nextSlot++), 0};
        }
        card.place(p);
    }
    struct Found {
        PciAddress at;
        Kind kind;
        Card* card;
    };
    std::vector<Found> found;
    for (auto& c : m_cards) {
        found.push_back({c->placement().card, Kind::Card, c.get()});
        if (c->hasBridge()) found.push_back({c->placement().bridge, Kind::Bridge, c.get()});
    }
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.at.bus != b.at.bus) return a.at.bus < b.at.bus;
        if (a.at.slot != b.at.slot) return a.at.slot < b.at.slot;
        return a.at.function < b.at.function;
    });
    unsigned cards = 0, bridges = 0;
    for (const auto& f : found)
        m_slots.push_back({f.kind, f.kind == Kind::Card ? ++cards : ++bridges, f.card});
}

unsigned Rack::functionCount(Kind kind) const {
    unsigned n = 0;
    for (const auto& s : m_slots) n += s.kind == kind;
    return n;
}

const Rack::Slot* Rack::slot(Kind kind, unsigned number) const {
    for (const auto& s : m_slots)
        if (s.kind == kind && s.number == number) return &s;
    return nullptr;
}

Card* Rack::cardOf(Kind kind, unsigned number) const {
    const Slot* s = slot(kind, number);
    return s ? s->card : nullptr;
}

PciFunction* Rack::functionOf(const Slot& s) const {
    if (s.kind == Kind::Card) return &s.card->cardFunction();
    return s.card->bridgeFunction();
}

PciFunction* Rack::function(Kind kind, unsigned number) const {
    const Slot* s = slot(kind, number);
    return s ? functionOf(*s) : nullptr;
}

bool Rack::checkConfig(const Slot* s, Kind kind, unsigned number, unsigned offset, unsigned count,
                       std::string* error) const {
    if (!s) {
        if (error) *error = "no " + functionName(kind, number) + " on the bus";
        return false;
    }
    if (offset >= ConfigSpace::kSize || count > ConfigSpace::kSize - offset) {
        if (error) *error = functionName(kind, number) + ": configuration access outside the 256-byte header";
        return false;
    }
    return true;
}

bool Rack::checkRegister(const Slot* s, Kind kind, unsigned number, unsigned space, unsigned offset,
                         unsigned width, std::string* error) const {
    // Every access passes here: the function's name is made only for an
    // error, not for the millions of accesses of an update.
    if (!s) {
        if (error) *error = "no " + functionName(kind, number) + " on the bus";
        return false;
    }
    uint64_t length = space < 6 ? functionOf(*s)->spaceLength(space) : 0;
    if (length == 0) {
        if (error) *error = functionName(kind, number) + ": no address space " + std::to_string(space);
        return false;
    }
    unsigned bytes = width / 8;
    if (offset % bytes != 0 || offset + static_cast<uint64_t>(bytes) > length) {
        if (error)
            *error = functionName(kind, number) + ": offset 0x" +
                     [&] {
                         char b[16];
                         snprintf(b, sizeof b, "%x", offset);
                         return std::string(b);
                     }() +
                     " not a " + std::to_string(width) + "-bit register of address space " +
                     std::to_string(space);
        return false;
    }
    return true;
}

void Rack::configAccess(const Slot& s, bool write, unsigned offset, unsigned count, uint8_t* bytes) {
    PciFunction* fn = functionOf(s);
    unsigned done = 0;
    while (done < count) {
        unsigned at = offset + done;
        unsigned width = (at % 4 == 0 && count - done >= 4) ? 32 : 8;
        unsigned n = width / 8;
        uint64_t now = m_clock->nowUs();
        s.card->beforeAccess(now);
        uint32_t value = 0;
        // A function that does not answer: the read completes with all ones
        // (master abort), the write is lost.
        const bool answers = s.kind == Kind::Bridge || s.card->answers(now);
        if (write) {
            for (unsigned i = 0; i < n; ++i) value |= static_cast<uint32_t>(bytes[done + i]) << (8 * i);
            if (answers) fn->configWrite(at, width, value, now);
        } else {
            value = answers ? fn->configRead(at, width, now) : (width == 32 ? 0xFFFFFFFFu : 0xFFu);
            for (unsigned i = 0; i < n; ++i) bytes[done + i] = static_cast<uint8_t>(value >> (8 * i));
        }
        s.card->afterAccess(now);
        watch(*s.card, now);
        m_trace.record(now, s.kind == Kind::Bridge, s.number,
                       write ? AccessOp::ConfigWrite : AccessOp::ConfigRead, 0, at, width, value);
        m_clock->spendNs(m_timing->configNs);
        done += n;
    }
}

bool Rack::configRead(Kind kind, unsigned number, unsigned offset, unsigned count, uint8_t* out,
                      std::string* error) {
    const Slot* s = slot(kind, number);
    if (!checkConfig(s, kind, number, offset, count, error)) return false;
    configAccess(*s, false, offset, count, out);
    return true;
}

bool Rack::configWrite(Kind kind, unsigned number, unsigned offset, unsigned count, const uint8_t* in,
                       std::string* error) {
    const Slot* s = slot(kind, number);
    if (!checkConfig(s, kind, number, offset, count, error)) return false;
    std::vector<uint8_t> bytes(in, in + count);
    configAccess(*s, true, offset, count, bytes.data());
    return true;
}

bool Rack::read(Kind kind, unsigned number, unsigned space, unsigned offset, unsigned width, uint32_t* value,
                std::string* error) {
    const Slot* s = slot(kind, number);
    if (!checkRegister(s, kind, number, space, offset, width, error)) return false;
    uint64_t now = m_clock->nowUs();
    s->card->beforeAccess(now);
    // An address no function decodes: all ones.
    const bool decodes = kind == Kind::Bridge || s->card->decodes(now);
    *value = decodes ? functionOf(*s)->read(space, offset, width, now) : (width == 32 ? 0xFFFFFFFFu : 0xFFu);
    s->card->afterAccess(now);
    watch(*s->card, now);
    m_trace.record(now, kind == Kind::Bridge, number, AccessOp::Read, space, offset, width, *value);
    m_clock->spendNs(isPcie(s->card->chip()) ? m_timing->readPcieNs : m_timing->readPciNs);
    return true;
}

bool Rack::write(Kind kind, unsigned number, unsigned space, unsigned offset, unsigned width, uint32_t value,
                 std::string* error) {
    const Slot* s = slot(kind, number);
    if (!checkRegister(s, kind, number, space, offset, width, error)) return false;
    if (width == 8) value &= 0xFF;
    uint64_t now = m_clock->nowUs();
    s->card->beforeAccess(now);
    if (kind == Kind::Bridge || s->card->decodes(now))
        functionOf(*s)->write(space, offset, width, value, now);
    s->card->afterAccess(now);
    watch(*s->card, now);
    m_trace.record(now, kind == Kind::Bridge, number, AccessOp::Write, space, offset, width, value);
    m_clock->spendNs(m_timing->writeNs);
    return true;
}

bool Rack::reenumerate() {
    for (auto& c : m_cards)
        if (c->spec().parsed.reenumerateFails) return false;
    const uint64_t now = m_clock->nowUs();
    for (auto& c : m_cards) {
        c->settle(now, false);  // a reload due by now has happened
        c->reenumerate(now);
    }
    layout();  // every function is given its place again
    return true;
}

void Rack::powerCycle() {
    uint64_t now = m_clock->nowUs();
    for (auto& c : m_cards) c->powerCycle(now);
    layout();
}

bool Rack::powerCycle(unsigned number, std::string* error) {
    if (number < 1 || number > m_cards.size()) {
        if (error) *error = "no card " + std::to_string(number) + " in the rack";
        return false;
    }
    m_cards[number - 1]->powerCycle(m_clock->nowUs());
    layout();
    return true;
}

bool Rack::setOptions(unsigned number, const std::vector<std::string>& changes, std::string* error) {
    if (number < 1 || number > m_cards.size()) {
        if (error) *error = "no card " + std::to_string(number) + " in the rack";
        return false;
    }
    if (!m_cards[number - 1]->setOptions(changes, m_clock->nowUs(), error)) return false;
    layout();
    return saveDescription(error);
}

bool Rack::saveState(std::string* error) {
    bool ok = true;
    for (auto& c : m_cards) {
        std::string why;
        if ((!c->intact(&why, false) || !c->saveState(&why)) && ok) {
            ok = false;
            if (error) *error = why;
        }
    }
    return ok;
}

bool Rack::touched() const {
    for (const auto& c : m_cards)
        if (c->touched()) return true;
    return false;
}

// A failed write of the card just accessed shows at once; a rack removed
// from under the process shows at the next check, whichever card is used.
void Rack::watch(Card& card, uint64_t nowUs) {
    if (!m_fault.empty()) return;
    std::string why;
    if (!card.intact(&why, false)) {
        m_fault = why;
        return;
    }
    if (nowUs >= m_lastCheckUs && nowUs - m_lastCheckUs < kCheckIntervalUs) return;
    m_lastCheckUs = nowUs;
    struct stat st {};
    if (stat((m_dir + "/rack.json").c_str(), &st) != 0) {
        m_fault = m_dir + ": the rack was removed while in use";
        return;
    }
    for (const auto& c : m_cards)
        if (!c->intact(&why, true)) {
            m_fault = why;
            return;
        }
}

void Rack::watchRules(Card& card) {
    const std::string name = functionName(Kind::Card, card.number());
    card.rules().setSink([this, name](uint64_t nowUs, const char* rule, const std::string& detail) {
        m_trace.breach(nowUs, name, rule, detail);
    });
}

bool Rack::ruleBroken(std::string* what) const {
    if (!m_strict || m_trace.breaches().empty()) return false;
    if (what) *what = m_trace.breaches().front();
    return true;
}

bool Rack::intact(std::string* why) const {
    if (m_fault.empty()) return true;
    if (why) *why = m_fault;
    return false;
}

}  // namespace sim
