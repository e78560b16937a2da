// Placeholder until the update procedure lands: reports failure at once.
#include "General.h"

#include "Globals.h"

unsigned UpdateWorker(void*) {
    PostMessageA(g_mainWindow, WM_UPDATE_FINISHED, 0, 0);
    return 0;
}

int AlwaysOverwrite(const char*) { return 6; }

bool ShellCopyFile(const char*, const char*, HWND) { return false; }
