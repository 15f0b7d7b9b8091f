// A host that follows the documented record exchange gets every record
// through a noisy line, and what the boot loader writes persists.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "McuBench.h"

using namespace mcutest;

namespace {

// The host's record exchange as a driver does it: the body and its echo; a
// wrong echo is followed by "UU", a silent one by 'U' probes until "X"; the
// checksum and its echo, and the whole record again when that is wrong.
class HostLink {
public:
    explicit HostLink(Bench& bench) : b(bench) {}

    bool sendRecord(const std::string& body, const std::string& checksum) {
        const uint64_t echoSilence = (body.size() + 100) * kMs;
        for (int whole = 0; whole < 10; ++whole) {
            bool echoed = false;
            for (int attempt = 0; attempt < 10 && !echoed; ++attempt) {
                b.send(body);
                const std::string echo = b.read(body.size(), echoSilence);
                if (echo == body) {
                    echoed = true;
                    break;
                }
                if (echo.size() == body.size()) {
                    b.send("UU");
                } else {
                    b.drain();
                    for (int i = 0; i < 10; ++i) {
                        b.send("U");
                        const std::string r = b.read(1);
                        if (r.empty() || r == "X") break;
                    }
                    b.drain();
                }
                b.drain();
                ++retries;
            }
            if (!echoed) return false;
            b.send(checksum);
            if (b.read(2, echoSilence) == checksum) return true;
            ++wholeResends;
        }
        return false;
    }

    // One programming record; false unless ".\r\n" came back.
    bool program(unsigned address, const std::vector<uint8_t>& data) {
        std::string checksum;
        const std::string body = record(0x00, address, data, &checksum);
        if (!sendRecord(body, checksum)) return false;
        return b.read(3, 1000 * kMs) == ".\r\n";
    }

    Bench& b;
    int retries = 0;
    int wholeResends = 0;
};

struct Outcome {
    bool complete;
    int retries, wholeResends, answerFailures;
    std::vector<uint8_t> flash;
};

Outcome programThroughNoise(double noise, uint64_t seed) {
    sim::LinkOptions link;
    link.noise = noise;
    link.seed = seed;
    Bench b({}, {}, link);
    b.reset(true);
    HostLink host(b);
    Outcome out{true, 0, 0, 0, {}};
    std::vector<uint8_t> expected(0x10000, 0xFF);
    for (unsigned address = 0; address < 0x2000; address += 128) {
        std::vector<uint8_t> data(128);
        for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(address / 128 * 31 + i * 7);
        std::copy(data.begin(), data.end(), expected.begin() + address);
        int tries = 0;
        while (!host.program(address, data)) {
            ++out.answerFailures;
            b.drain();
            if (++tries == 5) {
                out.complete = false;
                break;
            }
        }
    }
    out.retries = host.retries;
    out.wholeResends = host.wholeResends;
    out.flash.assign(b.flash.data(), b.flash.data() + b.flash.size());
    out.complete = out.complete && out.flash == expected;
    return out;
}

}  // namespace

TEST(BootLoaderRecovery, DocumentedHostRecoveryConvergesOnANoisyLine) {
    const Outcome clean = programThroughNoise(0.0, 1);
    ASSERT_TRUE(clean.complete);
    EXPECT_EQ(0, clean.retries + clean.wholeResends + clean.answerFailures);

    int wholeResends = 0;
    for (uint64_t seed : {1u, 2u, 3u, 4u}) {
        const Outcome noisy = programThroughNoise(0.0015, seed);
        wholeResends += noisy.wholeResends;
        EXPECT_TRUE(noisy.complete) << "seed " << seed;
        EXPECT_GT(noisy.retries + noisy.wholeResends, 0) << "seed " << seed;
        EXPECT_EQ(clean.flash, noisy.flash) << "seed " << seed;
    }
    EXPECT_GT(wholeResends, 0);  // a lost checksum echo happened and was mended too
    // The same seed gives the same run.
    const Outcome a = programThroughNoise(0.0015, 2), b = programThroughNoise(0.0015, 2);
    EXPECT_EQ(a.retries, b.retries);
    EXPECT_EQ(a.wholeResends, b.wholeResends);
    EXPECT_EQ(a.answerFailures, b.answerFailures);
}

TEST(BootLoaderPersistence, FlashAndBootBytesSurviveInTheirFiles) {
    char dir[] = "/tmp/mcu-persist-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string flashPath = std::string(dir) + "/mcu-flash";
    const std::string bootPath = std::string(dir) + "/mcu-boot";
    {
        sim::Timing timing;
        sim::NvRegion flash, boot;
        ASSERT_TRUE(flash.open(flashPath, 0x10000, 0xFF));
        ASSERT_TRUE(boot.open(bootPath, 2, 0x00));
        sim::Microcontroller mcu(flash, boot, timing, {});
        sim::Mailbox box(mcu, timing, {});
        uint64_t now = 1000;
        // Enter the boot loader, then write a record, BSB and BLJB.
        box.write(kCfg, 0x05, now);
        box.write(kCfg, 0x04, now += 50000);
        box.write(kCfg, 0x08, now += 2000);
        box.write(kTrcon, 0x15, now);
        const std::string lines = "U" + record(0x00, 0x4000, {0x01, 0x02, 0x03}) +
                                  record(0x03, 0, {0x06, 0x00, 0x33}) + record(0x03, 0, {0x0A, 0x04, 0x44});
        ASSERT_LT(lines.size(), 64u);
        for (size_t i = 0; i < lines.size(); ++i) {
            box.write(kRama, uint8_t(i + 1), now);
            box.write(kRamd, uint8_t(lines[i]), now);
        }
        box.write(kTbuf, uint8_t(lines.size()), now);
        box.write(kTstart, 0, now);
        box.advance(now + 1);
    }
    sim::NvRegion flash, boot;
    ASSERT_TRUE(flash.open(flashPath, 0x10000, 0xFF));
    ASSERT_TRUE(boot.open(bootPath, 2, 0x00));
    EXPECT_EQ(0x01, flash.at(0x4000));
    EXPECT_EQ(0x03, flash.at(0x4002));
    EXPECT_EQ(0xFF, flash.at(0x4003));
    EXPECT_EQ(0x33, boot.at(0));
    EXPECT_EQ(0x44, boot.at(1));
    unlink(flashPath.c_str());
    unlink(bootPath.c_str());
    rmdir(dir);
}
