// What a PCIe-core card needs from the system once its FPGA, and with it
// the card's PCIe interface, was loaded anew: the device tree enumerated
// again, or, when the system cannot do that, a restart, which the user is
// offered.
#pragma once

#include "../app/LogWindow.h"

// Asks for the re-enumeration; when it fails, asks the user whether to
// restart now and, on Yes, restarts the system (reporting when that is
// refused). True when the system enumerated the devices again.
bool ReenumerateOrOfferRestart(CLogWindow& log);
