// The card microcontroller's boot loader (ISP) and the application's
// service commands, over the FPGA's communication port. Boot-loader records
// are Intel HEX lines: ":" length, address, type, data, checksum.
#pragma once

#include <cstdint>

namespace isp {

// ---- Characters --------------------------------------------------------------------
constexpr char PROBE = 'U';          // answered "U" while the boot loader is idle
constexpr char RESYNC_STOP = 'X';    // ends a resynchronisation
constexpr char ANSWER_OK = '.';      // a record was accepted
constexpr char APP_VERSION = 'R';    // application: answered with five version bytes
constexpr char APP_CLEAR_BSB = 'S';  // application: clear the BSB, restart into the boot loader

// ---- Record types ------------------------------------------------------------------
constexpr uint8_t REC_DATA = 0x00;     // program data at the record's address
constexpr uint8_t REC_COMMAND = 0x03;  // write / erase / start commands
constexpr uint8_t REC_DISPLAY = 0x04;  // blank check of an address range
constexpr uint8_t REC_READ = 0x05;     // read identification bytes

constexpr unsigned kMaxRecordData = 128;  // data bytes of one programming record

// ---- Commands (first data bytes of a record) ----------------------------------------
// REC_COMMAND
constexpr uint8_t CMD_ERASE_CHIP = 0x07;
constexpr uint8_t CMD_WRITE_BOOT = 0x06;  // followed by which value, then the value
constexpr uint8_t WRITE_BOOT_BSB = 0x00;
constexpr uint8_t CMD_WRITE_FUSE = 0x0A;  // followed by which bit, then the value
constexpr uint8_t WRITE_FUSE_BLJB = 0x04;
constexpr uint8_t CMD_ERASE_BOOT = 0x04;  // followed by which value
constexpr uint8_t ERASE_BOOT_BSB = 0x00;
constexpr uint8_t CMD_START = 0x03;  // followed by START_APPLICATION and the address 0x0000
constexpr uint8_t START_APPLICATION = 0x01;
// REC_READ: a group, then the byte of the group.
constexpr uint8_t READ_SIGNATURE = 0x00;  // byte 0: manufacturer, bytes 1..3: device
constexpr uint8_t SIGNATURE_MANUFACTURER = 0x00;
constexpr uint8_t READ_BOOT_VERSION = 0x0F;  // byte 0: boot-loader version
// REC_DISPLAY: start, end and this kind.
constexpr uint8_t DISPLAY_BLANK_CHECK = 0x01;

// Identification of the microcontroller the cards carry.
constexpr unsigned long kManufacturer = 0x58;
constexpr unsigned long kDevice = 0xD7ECEF;

}  // namespace isp
