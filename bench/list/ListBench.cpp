// `-list` of a full rack: 20 cards (the most the driver adapter addresses),
// ten PCIe and ten PCI, in the typical and in the maximum timing of the
// parts, each twice: in real time and on the virtual clock. Reports both,
// their ratio, and where the real run's extra time went.
#include <cstdio>
#include <string>
#include <vector>

#include "app/VJXFlashDlg.h"
#include "bench/support/BenchClock.h"
#include "bench/support/BenchRack.h"

int main() {
    std::vector<std::string> specs;
    for (int i = 0; i < 10; ++i) {
        specs.push_back("84");
        specs.push_back("93");
    }
    const bench::Body list = [&](bench::BenchRack&, std::string* failure) {
        std::FILE* log = std::tmpfile();
        if (!log) return false;
        CVJXFlashDlg dialog(log);
        const unsigned counted = dialog.CountVjxBoards();
        const int listed = dialog.ListVjxBoards(1);
        // Every card must have answered with its version.
        std::rewind(log);
        size_t versions = 0;
        char line[256];
        while (std::fgets(line, sizeof line, log))
            if (std::string(line).rfind("Firmware version: ", 0) == 0) ++versions;
        std::fclose(log);
        const bool ok = listed && counted == specs.size() && versions == specs.size();
        if (!ok)
            *failure =
                std::to_string(counted) + " cards counted, " + std::to_string(versions) + " versions read";
        return ok;
    };
    std::printf("bench_list: -list of %zu cards, 115200 baud\n", specs.size());
    bench::printSleepOvershoot();
    for (const std::string profile : {"typical", "max"}) {
        const bench::RunResult real = bench::runOnce(specs, profile, false, list);
        const bench::RunResult virt = bench::runOnce(specs, profile, true, list);
        bench::printComparison(profile, real, virt);
    }
    return 0;
}
