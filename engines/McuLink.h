// The host's side of the link to the card's microcontroller: buffer sizes,
// timeouts and retry bounds of the port and the boot-loader exchanges. The
// mailbox registers are in chips/VjxFpga.h, the boot loader's characters,
// record types and commands in chips/IspBootLoader.h. Shared by the port, the
// boot-loader protocol, the flash-ROM engine and the firmware version query.
#pragma once

#include "../chips/IspBootLoader.h"
#include "../chips/VjxFpga.h"

class CVjxPci;

namespace mcu {

// ---- Port --------------------------------------------------------------
constexpr unsigned kBufferSize = 1000;  // host-side receive buffer
constexpr int kDefaultTimeoutMs = 50;   // silence tolerated by a wait after opening
constexpr unsigned kPollEvery = 16;     // drain the ring every 16 transmit bytes

// ---- Application -----------------------------------------------------------
constexpr int kVersionBytes = 5;  // answer to isp::APP_VERSION

// Timeouts of the boot-loader exchanges, milliseconds.
constexpr int kEchoSilenceMs = 50;
constexpr int kEchoExtraMs = 100;  // a body of n characters is given n + 100 ms
constexpr int kEraseChipMs = 20000;
constexpr int kBootConfigMs = 10000;
constexpr int kRecordAnswerMs = 1000;
constexpr int kClearBsbMs = 100;

// Retry bounds.
constexpr int kDetectTries = 100;
constexpr int kBodyAttempts = 10;
constexpr int kRecordResends = 10;
constexpr int kResyncTries = 10;
// A drain stops after this many discarded bytes even if the card keeps
// talking, so that a babbling link cannot hold the program forever.
constexpr int kDrainLimit = 10000;

// The boot loader's short status answer to a programming or blank-check
// record: "." when it agrees, otherwise "X" and three characters; CR LF
// follows either. *positive is set as soon as the first character is in.
enum class StatusAnswer { Timeout, BadEnd, Complete };
StatusAnswer readStatusAnswer(CVjxPci& card, int* positive);

}  // namespace mcu
