// Update.exe for the tests that interrupt an update: it ends itself at once
// after the step named by UPDATE_STOP_AFTER_STEP, as a kill or a power cut
// would, or fills the feature folder's drive after the step named by
// UPDATE_FILL_AFTER_STEP and goes on.
#include "Framework.h"
#include "General.h"
#include "Globals.h"

#include <windows.h>
#include <stdlib.h>

namespace {
int g_stopAfter = 0;
int g_fillAfter = 0;

void FillDrive() {
    char path[] = "?:\\~stepfill.bin";
    path[0] = g_featureFolder[0];
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    static char block[64 * 1024];
    DWORD written = 0;
    for (DWORD size = sizeof block; size > 0; size /= 2) {
        while (WriteFile(file, block, size, &written, nullptr) && written == size) {
        }
    }
    CloseHandle(file);
}

void OnStep(int step) {
    if (step == g_stopAfter)
        TerminateProcess(GetCurrentProcess(), 97);
    if (step == g_fillAfter)
        FillDrive();
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (const char* stop = getenv("UPDATE_STOP_AFTER_STEP"))
        g_stopAfter = atoi(stop);
    if (const char* fill = getenv("UPDATE_FILL_AFTER_STEP"))
        g_fillAfter = atoi(fill);
    g_stepHook = OnStep;
    return WinApp::Run(instance);
}
