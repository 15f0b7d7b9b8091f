// vjxsim new, set, power-cycle.
#include <cstdio>
#include <memory>

#include "Commands.h"
#include "RackAccess.h"

namespace vjxsim {

int error(const std::string& text) {
    fprintf(stderr, "vjxsim: %s\n", text.c_str());
    return 1;
}

int cmdNew(const std::string& dir, const std::vector<std::string>& cards) {
    std::string err;
    std::unique_ptr<sim::Rack> rack = sim::Rack::create(dir, cards, toolTiming(), toolClock(), &err);
    if (!rack) return error(err);
    return 0;
}

int cmdSet(const std::string& dir, unsigned card, const std::vector<std::string>& options) {
    std::string err;
    std::unique_ptr<sim::Rack> rack = openRack(dir, &err);
    if (!rack) return error(err);
    if (!rack->setOptions(card, options, &err)) return error(err);
    return 0;
}

int cmdPowerCycle(const std::string& dir, unsigned card) {
    std::string err;
    std::unique_ptr<sim::Rack> rack = openRack(dir, &err);
    if (!rack) return error(err);
    if (card == 0) {
        rack->powerCycle();
        return 0;
    }
    return rack->powerCycle(card, &err) ? 0 : error(err);
}

}  // namespace vjxsim
