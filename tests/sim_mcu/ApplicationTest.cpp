// Reset and start-up of the microcontroller, and its application firmware.
#include <gtest/gtest.h>

#include "McuBench.h"

using namespace mcutest;
using sim::McuMode;

namespace {

struct BootState {
    uint8_t bsb, bljb;
    bool application;
    bool bootRequest;
    McuMode expected;
    bool requestIgnored = false;  // a part whose boot request has no effect
};

}  // namespace

TEST(McuStartUp, FollowsTheBootRequestTheJumpBitAndTheStatusByte) {
    const BootState cases[] = {
        {0x00, 0x00, true, false, McuMode::Application},  // as after an update
        {0x00, 0x00, true, true, McuMode::BootLoader},    // request held when reset falls
        {0xFF, 0x00, true, false, McuMode::BootLoader},   // status byte set, jump bit programmed
        {0x01, 0x00, false, false, McuMode::BootLoader},
        {0xFF, 0xFF, true, false, McuMode::Application},  // jump bit not programmed
        {0x00, 0x00, false, false, McuMode::Off},         // erased flash: nothing runs
        {0xFF, 0xFF, false, true, McuMode::BootLoader},
        {0x00, 0x00, true, true, McuMode::Application, true},
    };
    for (const auto& c : cases) {
        sim::McuOptions options;
        options.bootRequestIgnored = c.requestIgnored;
        Bench b({}, options);
        b.boot.writeByte(0, c.bsb);
        b.boot.writeByte(1, c.bljb);
        if (c.application) b.loadApplication("1.00");
        b.reset(c.bootRequest);
        EXPECT_EQ(c.expected, b.mcu->mode())
            << "BSB " << int(c.bsb) << " BLJB " << int(c.bljb) << (c.application ? " app" : "")
            << (c.bootRequest ? " request" : "");
        // The mode shows in what answers a probe.
        const std::string probe = b.exchange("U");
        EXPECT_EQ(c.expected == McuMode::BootLoader ? "U" : "", probe);
        EXPECT_EQ(c.expected == McuMode::Application ? "1.00" : "", b.mcu->runningVersion());
    }
}

TEST(McuStartUp, RequestMustStillBeHeldWhenResetFalls) {
    Bench b;
    b.loadApplication("1.00");
    b.set(kCfg, 0x05);
    b.tick(50 * kMs);
    b.set(kCfg, 0x01);  // request dropped while reset is still held
    b.tick(kMs);
    b.set(kCfg, 0x00);
    EXPECT_EQ(McuMode::Application, b.mcu->mode());
}

// Held in reset the part is deaf, and what it was about to send is lost.
// (Deaf during the start-up: the rules the parts impose, on the composed
// card.)
TEST(McuStartUp, ResetDiscardsWhatWasAboutToBeSentAndLeavesThePartDeaf) {
    Bench b(wireTiming());
    b.loadApplication("9.14");
    b.mcu->powerCycle(b.now);
    b.openPort();
    b.startChunk("R");
    // Two answer bytes are in the ring, the third has just started.
    b.tick(3 * sim::byteTimeUs(115200));
    b.set(kCfg, 0x09);  // reset held, port on
    b.tick(10 * kMs);
    EXPECT_EQ(kAnswer914.substr(0, 2), b.take());
    EXPECT_EQ(McuMode::Off, b.mcu->mode());
    EXPECT_EQ("", b.exchange("R"));
}

// The version request answered in full, or cut short after N bytes by a
// faulty part; "U" and anything else the application ignores.
TEST(McuApplication, AnswersTheVersionRequestInFullOrCutShort) {
    for (int n = 0; n <= 5; ++n) {
        sim::McuOptions options;
        options.shortAnswer = n < 5 ? n : -1;
        Bench b({}, options);
        b.loadApplication("9.14", 0x07);
        b.reset(false);
        EXPECT_EQ(kAnswer914.substr(0, n), b.exchange("R")) << n;
        EXPECT_EQ("9.14", b.mcu->runningVersion());
        EXPECT_EQ("", b.exchange("Ux0:\r"));
    }
}

// "S" answers, then enters the boot loader. (A silent card and one whose
// application ignores "S": the host's boot-loader entry over such cards.)
TEST(McuApplication, SEntersTheBootLoaderAfterItsAnswer) {
    Bench b(wireTiming(5 * kMs));
    b.loadApplication("1.00");
    b.mcu->powerCycle(b.now);
    b.tick(10 * kMs);
    b.openPort();
    const uint64_t changes = b.mcu->changeCount();
    EXPECT_EQ("S", b.exchange("S"));
    EXPECT_EQ(McuMode::BootLoader, b.mcu->mode());
    EXPECT_GT(b.mcu->changeCount(), changes);
    EXPECT_NE(0, b.mcu->bsb());
    EXPECT_EQ("U", b.exchange("U"));
    // The status byte keeps the boot loader at the next plain reset.
    b.reset(false);
    EXPECT_EQ("U", b.exchange("U"));
}

TEST(McuApplication, TAnswersThenAsksForAReload) {
    Bench b(wireTiming());
    b.loadApplication("1.00");
    b.mcu->powerCycle(b.now);
    b.openPort();
    b.startChunk("T");
    b.tick(sim::byteTimeUs(115200) + 1);  // "T" is in, the answer is on the wire
    EXPECT_EQ("", b.take());
    EXPECT_FALSE(b.mcu->takeReloadRequest());
    // The answer can be fetched before the reload takes the mailbox away.
    b.tick(sim::byteTimeUs(115200));
    EXPECT_EQ("T", b.take());
    EXPECT_FALSE(b.mcu->takeReloadRequest());
    b.tick(10 * kMs);
    b.get(kRptr);
    EXPECT_TRUE(b.mcu->takeReloadRequest());
    EXPECT_FALSE(b.mcu->takeReloadRequest());
}

TEST(McuApplication, ModeSurvivesAnotherProcessThroughRestore) {
    Bench b;
    b.loadApplication("2.50");
    b.reset(true);
    const McuMode saved = b.mcu->mode();
    ASSERT_EQ(McuMode::BootLoader, saved);

    sim::Microcontroller again(b.flash, b.boot, b.timing, {});
    EXPECT_EQ(McuMode::Off, again.mode());
    again.restore(saved);
    EXPECT_EQ(McuMode::BootLoader, again.mode());
    EXPECT_EQ(0u, again.changeCount());
    again.restore(McuMode::Application);
    EXPECT_EQ("2.50", again.runningVersion());

    // A saved application mode over an erased flash runs nothing.
    b.flash.fill(0xFF);
    again.restore(McuMode::Application);
    EXPECT_EQ(McuMode::Off, again.mode());
}
