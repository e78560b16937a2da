// Resource ids of Update.exe, shared by Update.rc and the program.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BANNER 129
#define IDC_MODE_TEXT 1000

// System-menu command of the version box; the system menu keeps the low four
// bits of a command id for itself.
#define IDM_ABOUTBOX 0x0010
