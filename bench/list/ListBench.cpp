// `-list` of a full rack: 20 cards (the most the driver adapter addresses),
// ten PCIe and ten PCI, in the datasheet timing. Reports the wall time per
// card next to what the communication port's 1 ms waits and the link's byte
// times account for.
#include <cstdio>
#include <string>
#include <vector>

#include "app/VJXFlashDlg.h"
#include "bench/support/BenchClock.h"
#include "bench/support/BenchRack.h"
#include "sim/Timing.h"

int main() {
    std::vector<std::string> specs;
    for (int i = 0; i < 10; ++i) {
        specs.push_back("84");
        specs.push_back("93");
    }
    bench::BenchRack rack(specs);
    if (!rack.ok()) {
        std::fprintf(stderr, "bench_list: %s\n", rack.error().c_str());
        return 1;
    }
    std::FILE* log = std::tmpfile();
    if (!log) return 1;
    CVJXFlashDlg dialog(log);

    const uint64_t accesses0 = rack.rack().trace().accesses();
    bench::sleepLog().clear();
    const double cpu0 = bench::cpuSeconds();
    const uint64_t t0 = bench::monotonicUs();
    const unsigned counted = dialog.CountVjxBoards();
    const int listed = dialog.ListVjxBoards(1);
    const uint64_t wallUs = bench::monotonicUs() - t0;
    const double cpu = bench::cpuSeconds() - cpu0;

    // Every card must have answered with its version, or the figures mean
    // nothing.
    std::rewind(log);
    int versions = 0;
    char line[256];
    while (std::fgets(line, sizeof line, log))
        if (std::string(line).rfind("Firmware version: ", 0) == 0) ++versions;
    std::fclose(log);
    if (!listed || counted != specs.size() || versions != static_cast<int>(specs.size())) {
        std::fprintf(stderr, "bench_list: %u cards counted, %d versions read\n", counted, versions);
        return 1;
    }

    const double cards = static_cast<double>(specs.size());
    const bench::SleepLog& sleeps = bench::sleepLog();
    const auto link = rack.linkBytes();
    const double byteUs = static_cast<double>(sim::byteTimeUs(115200));
    const double linkUs = static_cast<double>(link.toMcu + link.toHost) * byteUs;
    const double perCardMs = static_cast<double>(wallUs) / 1000.0 / cards;
    const double sleepMs = static_cast<double>(sleeps.sleptUs) / 1000.0 / cards;
    const double linkMs = linkUs / 1000.0 / cards;

    std::printf("bench_list: -list of %u cards, datasheet timing, 115200 baud\n", counted);
    std::printf("  wall time           %9.1f ms  (%.2f ms per card)\n", static_cast<double>(wallUs) / 1000.0,
                perCardMs);
    std::printf("  host CPU time       %9.1f ms\n", cpu * 1000.0);
    std::printf("  per card:\n");
    std::printf("    port waits (1 ms sleeps, %llu in all)  %6.2f ms  %5.1f%%\n",
                static_cast<unsigned long long>(sleeps.callsByMs.count(1) ? sleeps.callsByMs.at(1) : 0),
                sleepMs, 100.0 * sleepMs / perCardMs);
    std::printf("    link byte times (%llu bytes in all)    %6.2f ms  %5.1f%%\n",
                static_cast<unsigned long long>(link.toMcu + link.toHost), linkMs,
                100.0 * linkMs / perCardMs);
    std::printf("    register accesses                      %6.0f\n",
                static_cast<double>(rack.rack().trace().accesses() - accesses0) / cards);
    std::printf("  (the link time lies inside the waits: the port sleeps while bytes are on the wire)\n");
    rack.printAccesses();
    return 0;
}
