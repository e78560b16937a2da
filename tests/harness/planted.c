/* A library planted where a program might look for a system library of the
   same name: when loaded it leaves a file <name>.loaded in the folder that
   PLANT_MARKERS names, and does nothing else. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH], folder[MAX_PATH], marker[2 * MAX_PATH];
        if (GetModuleFileNameA(self, path, sizeof path) == 0 ||
            GetEnvironmentVariableA("PLANT_MARKERS", folder, sizeof folder) == 0)
            return TRUE;
        const char* name = strrchr(path, '\\');
        snprintf(marker, sizeof marker, "%s\\%s.loaded", folder, name != NULL ? name + 1 : path);
        HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return TRUE;
}
