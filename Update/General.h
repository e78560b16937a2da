// The update procedure, run once on a worker thread.
#pragma once

#include <windows.h>

// Posted once to g_mainWindow at the end of the update: wParam 1 success,
// 0 failure; lParam 0.
constexpr UINT WM_UPDATE_FINISHED = WM_APP + 0x30;

// The thread function of the update; its argument and result carry nothing.
unsigned UpdateWorker(void* param);

// The overwrite callback of the unpack: replaces every existing file.
int AlwaysOverwrite(const char* targetPath);

// Copies one file with the shell; an existing target is replaced without a
// question. True when the shell reports success.
bool ShellCopyFile(const char* source, const char* destination, HWND owner);

// How the update asks for the local host name when the settings name no
// server (gethostname); replaceable so that a failing lookup can be tested.
typedef int(WINAPI* HostNameLookup)(char* name, int length);
extern HostNameLookup g_hostNameLookup;
