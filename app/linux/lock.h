// The cross-process flash lock of the Linux program, taken before any card
// is touched and released after the command.
#pragma once

// 1 when the lock was taken; 0 when not, with the reason on standard error.
int lockFlash();
void unlockFlash();
