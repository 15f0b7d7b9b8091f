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

namespace {

// Opens the rack for a change while no program uses it; the change is made
// by `change` and saved, or the error is reported.
template <typename Change>
int changeRack(const std::string& dir, Change change) {
    std::string err;
    std::unique_ptr<sim::Rack> probe = openRack(dir, &err, true);  // a rack at all?
    if (!probe) return error(err);
    probe.reset();
    RackHold hold(dir);
    if (!hold.take(&err)) return error(err);
    std::unique_ptr<sim::Rack> rack = openRack(dir, &err);
    if (!rack) return error(err);
    if (!change(*rack, &err) || !rack->saveState(&err)) return error(err);
    return 0;
}

}  // namespace

int cmdSet(const std::string& dir, unsigned card, const std::vector<std::string>& options) {
    return changeRack(dir,
                      [&](sim::Rack& rack, std::string* err) { return rack.setOptions(card, options, err); });
}

int cmdPowerCycle(const std::string& dir, unsigned card) {
    return changeRack(dir, [&](sim::Rack& rack, std::string* err) {
        if (card != 0) return rack.powerCycle(card, err);
        rack.powerCycle();
        return true;
    });
}

}  // namespace vjxsim
