// Boot-loader exchanges that need exact bytes from the card: echoes that
// never match, resynchronisation, wrong probe answers.
// One PCI 9030 card on the fake access library (tests/driver/FakeMerix) whose
// mailbox answers from a script: every transmission the host starts is handed
// to a responder, and what it returns lands in the receive ring at once, as
// a real boot loader would not answer on demand.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "card/VjxPci.h"
#include "sim/hw/CardFpga.h"
#include "tests/driver/FakeMerix.h"

namespace scripted {

using namespace sim::card_regs;

struct Card {
    // Chunk sent -> bytes the card answers.
    std::function<std::string(const std::string&)> respond;
    // Every transmission, in order.
    std::vector<std::string> chunks;
};

Card& card() {
    static Card c;
    return c;
}

constexpr uint32_t Reg(unsigned offset) {
    return 2u << 24 | offset;
}

uint8_t g_ring[kRingSize];
uint8_t g_window[kRingSize];

// The mailbox as the host sees it: RAMA selects the byte RAMD reads from the
// receive ring and writes into the transmit window; TSTART sends TBUF bytes
// of the window from position 1, and the answer fills the ring behind RPTR.
void mailbox(fakemerix::Function& f, uint32_t reg, uint32_t value) {
    auto& r = f.registers;
    const unsigned rama = r[Reg(kRama)] % kRingSize;
    if (reg == Reg(kRamd)) g_window[rama] = static_cast<uint8_t>(value);
    if (reg == Reg(kTstart)) {
        std::string chunk;
        for (unsigned i = 1; i <= r[Reg(kTbuf)]; ++i) chunk += static_cast<char>(g_window[i % kRingSize]);
        card().chunks.push_back(chunk);
        for (char b : card().respond ? card().respond(chunk) : std::string()) {
            g_ring[r[Reg(kRptr)]] = static_cast<uint8_t>(b);
            r[Reg(kRptr)] = (r[Reg(kRptr)] + 1) % kRingSize;
        }
    }
    r[Reg(kRamd)] = g_ring[rama];
}

// A rack of this one card, with an empty script.
void reset() {
    card() = Card();
    for (unsigned i = 0; i < kRingSize; ++i) g_ring[i] = g_window[i] = 0;
    fakemerix::reset();
    fakemerix::Function f = fakemerix::MakeCard(0x9030, 1, 0x306810B5);  // a "VJX PCI S"
    f.registers[Reg(kVersion)] = 3;
    f.onWrite = mailbox;
    fakemerix::state().cards = {f};
}

}  // namespace scripted

namespace {

using Chunks = std::vector<std::string>;

class Scripted : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::reset();
        ASSERT_EQ(pci.Count(), 1u);
        ASSERT_EQ(pci.Open(0), 1);
        ASSERT_EQ(pci.Com_open(), 1);
    }
    void TearDown() override { pci.Close(); }

    int SendMan() {
        unsigned char data[] = {0x00, 0x00};
        return pci.sendIspRecord(2, 0, 0x05, data);
    }
    const Chunks& chunks() { return scripted::card().chunks; }

    CVjxPci pci;
};

const std::string kManBody = ":020000050000";

Chunks Times(int n, const Chunks& attempt) {
    Chunks out;
    for (int i = 0; i < n; ++i) out.insert(out.end(), attempt.begin(), attempt.end());
    return out;
}

// How the record ":020000050000" + checksum "F9" goes when its echoes come
// back wrong: `respond` answers a chunk during the n-th attempt at the body.
struct EchoCase {
    const char* name;
    std::string (*respond)(const std::string& chunk, int attempt);
    int result;
    Chunks chunks;
};

class ScriptedEcho : public Scripted, public ::testing::WithParamInterface<EchoCase> {};

TEST_P(ScriptedEcho, RecordIsSentAgainOrGivenUp) {
    int attempt = 0;
    scripted::card().respond = [&](const std::string& c) {
        attempt += c[0] == ':';
        return GetParam().respond(c, attempt);
    };
    EXPECT_EQ(SendMan(), GetParam().result);
    EXPECT_EQ(chunks(), GetParam().chunks);
    if (GetParam().result == 0) {
        EXPECT_STREQ(pci.getLastError(), "Wrong echo in sendIspRecord()");
    }
    EXPECT_EQ(pci.Com_setTimeout(50), 50);
}

INSTANTIATE_TEST_SUITE_P(
    Echoes, ScriptedEcho,
    ::testing::Values(
        // A checksum echo that never matches ends after ten whole records.
        EchoCase{"ChecksumNeverMatches",
                 [](const std::string& c, int) { return c[0] == ':' ? c : std::string("00"); }, 0,
                 Times(10, {kManBody, "F9"})},
        EchoCase{"ChecksumWrongOnce",
                 [](const std::string& c, int n) { return c[0] == ':' || n > 1 ? c : std::string("F8"); }, 1,
                 Times(2, {kManBody, "F9"})},
        // A wrong body echo is answered with two probes.
        EchoCase{"BodyWrongOnce",
                 [](const std::string& c, int n) {
                     return c[0] == ':' && n == 1 ? std::string(":020000050001X") : c;
                 },
                 1,
                 {kManBody, "UU", kManBody, "F9"}},
        // A silent echo is probed until the boot loader says "X": the first
        // probe draws "U", the second the "X" queued behind it.
        EchoCase{"BodySilentOnce",
                 [](const std::string& c, int n) {
                     if (c[0] == ':') return n == 1 ? std::string() : c;
                     return c == "U" ? std::string("UX") : c;
                 },
                 1,
                 {kManBody, "U", "U", kManBody, "F9"}},
        EchoCase{"BodySilentWithoutX", [](const std::string& c, int) { return c == "U" ? c : std::string(); },
                 0,
                 Times(10,
                       [] {
                           Chunks attempt(11, "U");  // the body, then ten probes
                           attempt[0] = kManBody;
                           return attempt;
                       }())}),
    [](const ::testing::TestParamInfo<EchoCase>& info) { return std::string(info.param.name); });

TEST_F(Scripted, DetectionTriesAHundredTimesWhenAnsweredWithOtherBytes) {
    scripted::card().respond = [](const std::string&) { return std::string("Z"); };
    EXPECT_EQ(pci.doIspDetect(), 0);
    EXPECT_EQ(chunks(), Chunks(100, "U"));

    scripted::card().chunks.clear();
    int probes = 0;
    scripted::card().respond = [&](const std::string&) { return std::string(++probes < 5 ? "Z" : "U"); };
    EXPECT_EQ(pci.doIspDetect(), 1);
    EXPECT_EQ(chunks().size(), 5u);
}

}  // namespace
