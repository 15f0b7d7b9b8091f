// A scripted stand-in for the card object, linked into the controller tests
// in place of the real one: it answers from a list of cards and records the
// calls the controller makes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

struct Card {
    int model = 0;  // module code - 0x50; kUnknownModel when unprogrammed
    std::string desc;
    bool opens = true;
    bool flashUpdate = true;
    bool slowMode = false;
    const char* firmware = nullptr;  // nullptr: the version query fails
};

struct Script {
    std::vector<Card> cards;
    std::string errorText = "bus scan found nothing";
    int readHeader = 1;
    int programEeprom = 1;           // every later stage succeeds
    std::vector<std::string> calls;  // "Count", "Open 2", "Close", ...
};

extern Script script;

// Model number for a module code, as the real table maps the Linux codes.
int modelOfCode(int code);

}  // namespace fake
