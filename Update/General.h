// The update procedure: run once, on a worker thread under the dialog or
// directly in quiet mode.
#pragma once

#include <windows.h>

// Posted once to g_mainWindow at the end of the update: wParam 1 success,
// 0 failure; lParam 0.
constexpr UINT WM_UPDATE_FINISHED = WM_APP + 0x30;

// The marker that says the feature is updated. The unpack writes it under
// its aside name; it takes its own name as the last change of a successful
// update, so that an interrupted one is run again by the next start.
constexpr char kMarkerFile[] = "WSUS.txt";
constexpr char kMarkerAside[] = "WSUS.txt.upd~";

// In-house libraries copied from the install folder, in this order.
extern const char* const kLibraries[9];
// Old files taken out of use: moved to the second name in the feature folder.
extern const char* const kRetired[2][2];

// The whole update; true when every step succeeded. Every step and every
// failure is logged.
bool RunUpdate();

// The thread function of the update under the dialog: RunUpdate, then the
// completion message. Its argument and result carry nothing.
unsigned UpdateWorker(void* param);

// The overwrite callback of the unpack: replaces every existing file.
int AlwaysOverwrite(const char* targetPath);

// How the update asks for the local host name when the settings name no
// server (gethostname); replaceable so that a failing lookup can be tested.
typedef int(WINAPI* HostNameLookup)(char* name, int length);
extern HostNameLookup g_hostNameLookup;

// Called after each change that the update makes, numbered from 1; null in
// the program. Tests end the process there to interrupt an update.
typedef void (*UpdateStepHook)(int step);
extern UpdateStepHook g_stepHook;
