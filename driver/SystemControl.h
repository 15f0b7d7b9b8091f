// Two machine-wide actions a card update may need once it is done: asking
// the system to look at its devices again (a card whose bridge was
// reprogrammed comes back with new resources), and restarting the computer
// (the new configuration of some cards only takes effect after a power
// cycle of the bus). The Windows program has both; the Linux program has
// neither and answers false.
#pragma once

// Re-enumerates the whole device tree, from its root down. True when the
// system took the request.
bool ReenumerateAllDevices();

// Asks the system to restart, after taking the shutdown privilege for the
// process. True when the restart was requested; false when the privilege
// or the request was refused.
bool RebootSystem();
