// Constants of the link to the card's microcontroller: the mailbox in the
// FPGA's registers, the control values written to it, and the boot loader's
// command set. Shared by the port, the boot-loader protocol, the flash-ROM
// engine and the firmware version query.
#pragma once

class CVjxPci;

namespace mcu {

// ---- Mailbox -----------------------------------------------------------
constexpr int kRingSize = 64;              // receive ring, window addresses 0x00..0x3F
constexpr unsigned kChunkMax = 63;         // bytes of one transmission, window 0x01..0x3F
constexpr unsigned kBufferSize = 1000;     // host-side receive buffer
constexpr int kDefaultTimeoutMs = 50;      // silence tolerated by a wait after opening
constexpr unsigned kPollEvery = 16;        // drain the ring every 16 transmit bytes
constexpr unsigned char kIrqfBusy = 0x01;  // IRQF: transmission in progress

// CFG values. Bit 0 resets the microcontroller, bit 2 asks for its boot
// loader on the way out of reset, bit 3 switches the port on.
constexpr unsigned char kCfgOff = 0x00;
constexpr unsigned char kCfgReset = 0x01;
constexpr unsigned char kCfgBootRequest = 0x04;
constexpr unsigned char kCfgResetBoot = kCfgReset | kCfgBootRequest;
constexpr unsigned char kCfgPortOn = 0x08;
constexpr unsigned char kTrconOpen = 0x15;

// ---- Application commands ------------------------------------------------
constexpr char kAppVersion = 'R';   // answered with five version bytes
constexpr char kAppClearBsb = 'S';  // clear the BSB and restart into the boot loader
constexpr int kVersionBytes = 5;

// ---- Boot loader -----------------------------------------------------------
constexpr char kIspProbe = 'U';           // answered "U" while the boot loader is idle
constexpr char kIspResyncStop = 'X';      // ends a resynchronisation
constexpr unsigned kMaxRecordData = 128;  // data bytes of one programming record

// Record types.
constexpr unsigned char kRecData = 0x00;
constexpr unsigned char kRecCommand = 0x03;
constexpr unsigned char kRecDisplay = 0x04;
constexpr unsigned char kRecRead = 0x05;

// Identification the program accepts.
constexpr unsigned long kManufacturer = 0x58;
constexpr unsigned long kDevice = 0xD7ECEF;

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
