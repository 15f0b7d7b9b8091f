// The FPGA mailbox and the serial line: ring, window, transmitter, timing,
// port switch and link noise.
#include <gtest/gtest.h>

#include <algorithm>

#include "McuBench.h"

using namespace mcutest;

namespace {

// A card whose application answers "R" with five bytes: a convenient source
// of traffic towards the host.
void runApplication(Bench& b) {
    b.loadApplication("9.14", 0x07);
    b.mcu->powerCycle(b.now);
    b.tick(kMs);
    b.openPort();
}

}  // namespace

TEST(MailboxRing, WrapsAndOverwritesWhatTheHostDidNotFetch) {
    Bench b;
    runApplication(b);
    const unsigned start = b.get(kRptr);
    // 13 answers of 5 bytes: 65 bytes into a 64-byte ring, nothing fetched.
    for (int i = 0; i < 13; ++i) {
        b.startChunk("R");
        b.tick(kMs);
    }
    EXPECT_EQ((start + 65) % 64, b.get(kRptr));
    // The ring holds the last 64 bytes; the oldest position was overwritten
    // by byte 65, which is the first byte of an answer again.
    for (unsigned k = 0; k < 64; ++k) {
        const unsigned pos = (start + 1 + k) % 64;  // oldest surviving byte first
        b.set(kRama, uint8_t(pos));
        EXPECT_EQ(uint8_t(kAnswer914[(k + 1) % 5]), b.get(kRamd)) << "position " << pos;
    }
}

// Window reads come from the ring, writes go to the transmitter; only the
// bytes at addresses 1 to TBUF are sent: "T" must not reach the application,
// "R" must.
TEST(MailboxWindow, ReadsComeFromTheRingAndWritesFromOneToTbufAreSent) {
    Bench b;
    runApplication(b);
    b.startChunk("R");
    b.tick(kMs);
    const unsigned first = (b.get(kRptr) + 64 - 5) % 64;
    b.set(kRama, uint8_t((first + 1) % 64));
    b.set(kRamd, 0xAA);
    EXPECT_EQ(0x34, b.get(kRamd)) << "a transmit byte leaves the ring as it was";
    b.set(kRama, uint8_t(first + 64));
    EXPECT_EQ(0x09, b.get(kRamd)) << "window addresses wrap at 64";

    b.take();
    b.set(kRama, 0);
    b.set(kRamd, 'T');
    b.set(kRama, 1);
    b.set(kRamd, 'R');
    b.set(kRama, 2);
    b.set(kRamd, 'T');
    b.set(kTbuf, 1);
    b.set(kTstart, 0);
    EXPECT_EQ(kAnswer914, b.drain());
    EXPECT_FALSE(b.mcu->takeReloadRequest());
    b.set(kTbuf, 0);  // a zero count starts nothing
    b.set(kTstart, 0);
    EXPECT_EQ(0, b.get(kIrqf));
    EXPECT_EQ("", b.drain());
}

// The transmitter busy (IRQF bit 0) for its bytes' time on the wire, and the
// answer to "R" in the ring byte by byte: byte k (1..5) after 1 + k byte
// times, not a microsecond earlier. Without wire time nothing is ever busy.
struct LineCase {
    unsigned baud;
    bool wireTime;
    uint64_t byteUs;  // 10 bits at the baud rate
};

class MailboxTiming : public ::testing::TestWithParam<LineCase> {};

TEST_P(MailboxTiming, TransmitterBusyAndAnswerByteByByte) {
    const LineCase& c = GetParam();
    sim::LinkOptions link;
    link.baud = c.baud;
    Bench b(c.wireTime ? wireTiming() : sim::Timing{}, {}, link);
    runApplication(b);
    if (c.wireTime) {
        ASSERT_EQ(c.byteUs, sim::byteTimeUs(c.baud));
    }
    const uint64_t t0 = b.now;
    b.startChunk(std::string(10, 'x'));
    EXPECT_EQ(c.byteUs ? 1 : 0, b.get(kIrqf));
    b.now = t0 + 10 * c.byteUs - (c.byteUs ? 1 : 0);
    EXPECT_EQ(c.byteUs ? 1 : 0, b.get(kIrqf) & 1);
    b.now = t0 + 10 * c.byteUs;
    EXPECT_EQ(0, b.get(kIrqf) & 1);

    const uint64_t t1 = b.now;
    const unsigned start = b.get(kRptr);
    b.startChunk("R");
    if (!c.byteUs) {
        EXPECT_EQ((start + 5) % 64, b.get(kRptr));
    }
    for (unsigned k = 1; k <= 5 && c.byteUs; ++k) {
        b.now = t1 + (1 + k) * c.byteUs - 1;
        EXPECT_EQ((start + k - 1) % 64, b.get(kRptr)) << "byte " << k;
        b.now = t1 + (1 + k) * c.byteUs;
        EXPECT_EQ((start + k) % 64, b.get(kRptr)) << "byte " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, MailboxTiming,
                         ::testing::Values(LineCase{115200, true, 87}, LineCase{9600, true, 1042},
                                           LineCase{115200, false, 0}));

TEST(MailboxWindow, BytesInTheWindowAreTakenWhenTheShifterReachesThem) {
    Bench b(wireTiming());
    runApplication(b);
    const uint64_t byteUs = sim::byteTimeUs(115200);
    const uint64_t t0 = b.now;
    b.set(kRama, 1);
    b.set(kRamd, 'x');
    b.set(kRama, 2);
    b.set(kRamd, 'x');
    b.set(kTbuf, 2);
    b.set(kTstart, 0);
    // While byte 1 is on the wire the host replaces byte 2: the new value goes.
    b.now = t0 + byteUs / 2;
    b.set(kRama, 2);
    b.set(kRamd, 'R');
    // Changing byte 1 now is too late: it is on the wire already.
    b.set(kRama, 1);
    b.set(kRamd, 'R');
    EXPECT_EQ(kAnswer914, b.drain());
}

TEST(MailboxPort, NothingIsReceivedOrSentWhileThePortIsOff) {
    Bench b(wireTiming());
    runApplication(b);
    b.startChunk("R");
    b.set(kCfg, 0x00);  // port off while "R" is still on the wire
    b.tick(10 * kMs);
    EXPECT_EQ(0, b.get(kIrqf));
    b.startChunk("R");  // kTstart with the port off
    b.tick(10 * kMs);
    b.openPort();
    EXPECT_EQ("", b.drain());

    // An answer under way when the port goes off is lost in the ring.
    b.startChunk("R");
    b.tick(2 * sim::byteTimeUs(115200));  // the request is in, the answer starts
    b.set(kCfg, 0x00);
    b.tick(10 * kMs);
    b.openPort();
    EXPECT_EQ("", b.drain());
    EXPECT_EQ(kAnswer914, b.exchange("R"));
}

namespace {

// What a noisy line delivers for `requests` version requests, one answer
// (possibly damaged) per request.
std::vector<std::string> noisyTraffic(double noise, uint64_t seed, int requests) {
    sim::LinkOptions link;
    link.noise = noise;
    link.seed = seed;
    Bench b({}, {}, link);
    runApplication(b);
    std::vector<std::string> got;
    for (int i = 0; i < requests; ++i) got.push_back(b.exchange("R", 5 * kMs));
    return got;
}

}  // namespace

TEST(MailboxNoise, ReproducibleFromTheSeedAndCorruptsAsWellAsDrops) {
    const auto a = noisyTraffic(0.05, 42, 400);
    EXPECT_EQ(a, noisyTraffic(0.05, 42, 400));
    EXPECT_NE(a, noisyTraffic(0.05, 43, 400));
    EXPECT_EQ(std::vector<std::string>(400, kAnswer914), noisyTraffic(0.0, 42, 400));

    // Six bytes cross the line per request: about 0.95^6 = 73.5 % of the
    // exchanges come through whole.
    const auto whole = std::count(a.begin(), a.end(), kAnswer914);
    EXPECT_GT(whole, 260);
    EXPECT_LT(whole, 330);

    size_t shorter = 0, changed = 0;
    for (const std::string& got : noisyTraffic(0.3, 7, 100)) {
        if (got.size() < 5) ++shorter;
        if (got.size() == 5 && got != kAnswer914) ++changed;
    }
    EXPECT_GT(shorter, 0u);
    EXPECT_GT(changed, 0u);
}
