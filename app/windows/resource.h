// Resource and control identifiers of the Windows program, shared by the
// resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_VJXFLASH_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_LOG 1000
#define IDC_FILENAME 1001
#define IDC_BROWSE 1002
#define IDC_FLASH 1003
#define IDC_CARDLIST 1004
#define IDC_CONFIGURE 1005
#define IDC_FLASHALL 1006
#define IDC_SEND 1007
#define IDC_SENDTEXT 1008
#define IDC_VERSION 1009
#define IDC_PROGRAM_ROM 1010
#define IDC_PROGRAM_FPGA 1011

// System-menu command of the about box.
#define IDM_ABOUTBOX 0x0010
