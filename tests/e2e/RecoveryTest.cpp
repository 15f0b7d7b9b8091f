// An update interrupted at chosen moments (vjxsim run --at), on the virtual
// clock: held signals and a closed output let it finish, a SIGKILL leaves a
// card that the retry started at once repairs.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <filesystem>

#include "Process.h"

using e2e::TempDir;

namespace {

struct Update {
    std::string rack;  // the card before the update, copied for every run
    std::string file;
};

// A card of `card` and a small update for `module` (FPGA version 9, firmware
// "3.10"), made in `tmp`.
Update makeUpdate(const TempDir& tmp, const std::string& name, const std::string& card,
                  const std::string& module) {
    const std::string rack = tmp.path(name + "-rack");
    return Update{rack, e2e::newRackAndUpdate(rack, card, 16384, module, 8192)};
}

std::string copyRack(const TempDir& tmp, const Update& u, const std::string& name) {
    const std::string copy = tmp.path(name);
    std::filesystem::remove_all(copy);
    std::filesystem::copy(u.rack, copy, std::filesystem::copy_options::recursive);
    return copy;
}

// vjxflash -flash 1 on the virtual clock, in a process group of its own,
// with the events `at` (vjxsim run --at).
e2e::Result flashAt(const TempDir& tmp, const std::string& rack, const std::string& file,
                    const std::string& timing, const std::string& at = "") {
    std::vector<std::string> argv{VJXSIM_BIN, "run",  rack,      "--strict",
                                  "--timing", timing, "--clock", "virtual"};
    if (!at.empty()) argv.insert(argv.end(), {"--at", at});
    argv.insert(argv.end(), {"--", VJXFLASH_BIN, "-flash", "1", file});
    e2e::Started p = e2e::start(argv, tmp.path("out"), tmp.path("err"));
    return {e2e::finish(p, 120), e2e::readText(tmp.path("out")), e2e::readText(tmp.path("err"))};
}

std::string digests(const std::string& rack) {
    const std::string show = e2e::vjxsim({"show", rack}).out;
    const size_t at = show.find("digests:");
    return at == std::string::npos ? show : show.substr(at, show.find('\n', at) - at);
}

const char kHeldLine[] = "the update finishes first";

// The stages of an update, by the log line that starts each, in order.
const char* const kStages[] = {"Write EEPROM...",      "Write PCIe EEPROM...", "Comparing FPGA...",
                               "Write enable FPGA...", "Bulk erase FPGA...",   "Programming FPGA",
                               "Programming flash ROM"};
constexpr int kStageCount = sizeof kStages / sizeof kStages[0];

std::string lastLine(const std::string& out) {
    const size_t end = out.size() > 1 ? out.size() - 2 : 0;
    const size_t at = out.rfind('\n', end);
    return at == std::string::npos ? out : out.substr(at + 1);
}

int stageOf(const std::string& line) {
    for (int s = kStageCount - 1; s >= 0; --s)
        if (line.compare(0, strlen(kStages[s]), kStages[s]) == 0) return s;
    return -1;
}

// Where each stage of the update starts, in bus accesses (0: the update has
// no such stage), and the accesses of the whole update. Found by looking at
// the log of runs whose output closes at a given access (and which are
// killed at the next one, so that early moments cost little).
struct Stages {
    unsigned long start[kStageCount] = {};
    unsigned long total = 0;
};

Stages findStages(const TempDir& tmp, const Update& u, const std::string& timing) {
    Stages found;
    const std::string stats = tmp.path("stats.json");
    const std::string whole = copyRack(tmp, u, "probe");
    EXPECT_EQ(e2e::vjxflashOn(whole, {"-flash", "1", u.file},
                              {"--timing", timing, "--clock", "virtual", "--stats", stats})
                  .status,
              0);
    const std::string counts = e2e::readText(stats);
    found.total = std::stoul(counts.substr(counts.find(':') + 1));
    auto stageAt = [&](unsigned long access) {
        const std::string rack = copyRack(tmp, u, "probe");
        const std::string at =
            std::to_string(access) + ":stdout-closed," + std::to_string(access + 1) + ":SIGKILL";
        return stageOf(lastLine(flashAt(tmp, rack, u.file, timing, at).out));
    };
    // Bisection for the first access of each stage, to within 1/256 of its
    // place (a probe costs as much as the accesses before it); the access
    // counts of two runs differ by a little, so the start kept is the first
    // access seen inside the stage.
    unsigned long from = 1;
    for (int s = 0; s < kStageCount; ++s) {
        unsigned long lo = from, hi = found.total, seen = 0;
        while (lo < hi && (hi - lo) * 256 > lo) {
            const unsigned long mid = lo + (hi - lo) / 2;
            const int stage = stageAt(mid);
            if (stage == s && (seen == 0 || mid < seen)) seen = mid;
            if (stage >= s)
                hi = mid;
            else
                lo = mid + 1;
        }
        if (seen == 0 && stageAt(hi) == s) seen = hi;
        if (seen) found.start[s] = from = seen;
    }
    return found;
}

// Moments in the middle of every stage the update has.
std::vector<unsigned long> stageMiddles(const Stages& stages) {
    std::vector<unsigned long> middles;
    for (int s = 0; s < kStageCount; ++s) {
        if (!stages.start[s]) continue;
        unsigned long end = stages.total;
        for (int n = s + 1; n < kStageCount; ++n)
            if (stages.start[n]) {
                end = stages.start[n];
                break;
            }
        middles.push_back(stages.start[s] + (end - stages.start[s]) / 2);
    }
    return middles;
}

// SIGINT, SIGTERM and SIGHUP to the process group, and a reader that closes
// the output pipe, in the middle of every stage: the update goes on to the
// same cards a clean update gives.
TEST(Interruption, HeldSignalsAndAClosedOutputLetTheUpdateFinish) {
    TempDir tmp;
    const Update u = makeUpdate(tmp, "k", "84,fw=0.90,isp=5,fpga=5,eeprom=old,pcie-eeprom=old", "84");
    const std::string cleanRack = copyRack(tmp, u, "clean");
    ASSERT_EQ(flashAt(tmp, cleanRack, u.file, "typical").status, 0);
    const std::string clean = digests(cleanRack);
    const Stages stages = findStages(tmp, u, "typical");
    // (A stage of a few accesses, as the write enable before the erase,
    // may not be hit: the clock of a program on virtual time still takes in
    // the real time its work costs, so the counts move a little between runs.)
    for (int s : {0, 1, 2, 4, 5, 6}) EXPECT_NE(stages.start[s], 0u) << kStages[s];

    for (unsigned long access : stageMiddles(stages)) {
        for (const char* event : {"stdout-closed", "SIGINT:group", "SIGTERM:group", "SIGHUP:group"}) {
            SCOPED_TRACE(std::to_string(access) + ":" + event);
            const std::string rack = copyRack(tmp, u, "rack");
            const e2e::Result r = flashAt(tmp, rack, u.file, "typical", std::to_string(access) + ":" + event);
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_EQ(digests(rack), clean);
            if (std::string(event) == "stdout-closed") {
                EXPECT_EQ(r.err, "");
            } else {
                EXPECT_TRUE(r.err.find(kHeldLine) != std::string::npos &&
                            r.err.find(kHeldLine) == r.err.rfind(kHeldLine))
                    << r.err;
                EXPECT_NE(r.out.find("Firmware version: 3.10"), std::string::npos) << r.out;
            }
        }
    }
    // Before the first write (the start-up list) a signal acts as usual.
    const std::string rack = copyRack(tmp, u, "rack");
    const e2e::Result early = flashAt(tmp, rack, u.file, "typical", "40:SIGTERM:group");
    EXPECT_EQ(early.status, 128 + SIGTERM);
    EXPECT_EQ(early.err.find(kHeldLine), std::string::npos);
    EXPECT_EQ(digests(rack), digests(u.rack));
}

// SIGKILL at moments spread over a whole update in the parts' maximum times
// (evenly, and at the start and in the middle of every stage), each followed
// at once by a retry, which must bring the card up: the parts an interrupted
// run left busy (EEPROM write cycle, EPCS erase or page program) are waited
// for.
class KilledUpdate : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(KilledUpdate, TheRetryStartedAtOnceRecovers) {
    TempDir tmp;
    const Update u = makeUpdate(tmp, "u", GetParam().first, GetParam().second);
    const Stages stages = findStages(tmp, u, "max");
    ASSERT_GT(stages.total, 100000u);
    std::vector<unsigned long> moments = stageMiddles(stages);
    for (unsigned long start : stages.start)
        if (start) moments.push_back(start + 1);
    for (int i = 1; i <= 8; ++i) moments.push_back(stages.total * i / 9);
    // (The write enable before the erase, a few accesses long, may be missed.)
    for (int s : {0, 2, 4, 5, 6}) ASSERT_NE(stages.start[s], 0u) << kStages[s];

    for (unsigned long access : moments) {
        SCOPED_TRACE("SIGKILL at access " + std::to_string(access));
        const std::string rack = copyRack(tmp, u, "rack");
        EXPECT_EQ(flashAt(tmp, rack, u.file, "max", std::to_string(access) + ":SIGKILL").status,
                  128 + SIGKILL);
        const e2e::Result retry = flashAt(tmp, rack, u.file, "max");
        EXPECT_EQ(retry.status, 0) << retry.out;
        auto list = e2e::vjxflashOn(rack, {"-list"}, {"--timing", "max", "--clock", "virtual"});
        EXPECT_NE(list.out.find("Firmware version: 3.10"), std::string::npos) << list.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cards, KilledUpdate,
    ::testing::Values(std::make_pair("93,fw=0.90,isp=5,fpga=5,eeprom=old", "93"),
                      std::make_pair("84,fw=0.90,isp=5,fpga=5,eeprom=old,pcie-eeprom=old", "84")));

// The time of day stepped an hour back, then an hour forward, while the
// flash ROM is programmed: the timeouts run on the monotonic clock.
TEST(Interruption, AStepOfTheWallClockGivesNoTimeout) {
    TempDir tmp;
    const Update u = makeUpdate(tmp, "w", "84,fw=0.90,isp=5,fpga=5", "84");
    const e2e::Result r =
        flashAt(tmp, u.rack, u.file, "typical", "300000:wall-clock-3600,320000:wall-clock+3600");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Firmware version: 3.10"), std::string::npos) << r.out;
}

}  // namespace
