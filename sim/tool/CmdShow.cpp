// vjxsim show, dump.
#include <cstdio>

#include "Commands.h"
#include "RackAccess.h"
#include "sim/CardReport.h"

namespace vjxsim {

int cmdShow(const std::string& dir, bool json) {
    std::string err;
    std::unique_ptr<sim::Rack> rack = openRack(dir, &err, true);
    if (!rack) return error(err);
    std::vector<sim::CardReport> reports;
    uint64_t now = rack->clock().nowUs();
    for (unsigned n = 1; n <= rack->cardCount(); ++n) reports.push_back(sim::reportCard(rack->card(n), now));
    if (json) {
        fputs(sim::reportJson(reports).c_str(), stdout);
        return 0;
    }
    if (reports.empty()) printf("No cards in %s\n", dir.c_str());
    for (const auto& r : reports) fputs(sim::reportText(r).c_str(), stdout);
    return 0;
}

int cmdDump(const std::string& dir, unsigned card, const std::string& part) {
    std::string err;
    std::unique_ptr<sim::Rack> rack = openRack(dir, &err, true);
    if (!rack) return error(err);
    if (card < 1 || card > rack->cardCount())
        return error("no card " + std::to_string(card) + " in the rack");
    std::vector<uint8_t> bytes;
    if (!sim::dumpPart(rack->card(card), part, &bytes))
        return error("card " + std::to_string(card) + " has no " + part);
    if (fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || fflush(stdout) != 0)
        return error("cannot write to standard output");
    return 0;
}

}  // namespace vjxsim
