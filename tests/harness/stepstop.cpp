// Update.exe for the tests that interrupt an update at a call of the file
// layer (numbered from 1): UPDATE_STOP_AT_CALL=N ends the process just before
// the N-th call, as a kill or a power cut would; UPDATE_FAIL_AT_CALL=N makes
// it fail with "access denied"; UPDATE_FILL_AT_CALL=N fills the feature
// folder's drive just before it and goes on; UPDATE_HOLD_AT_CALL=N holds
// the update just before it, after setting the event UPDATE_HOLD_NAME-held,
// until the event UPDATE_HOLD_NAME-go is set. UPDATE_CALLS_FILE names a file
// that receives the number of calls made, at the end. UPDATE_STOP_STATUS is
// the status a stopped process ends with (97 unless given): some ways of
// ending a process report 0 or 1.
#include "FileLayer.h"
#include "Globals.h"
#include "SystemLibrary.h"
#include "Update.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

// The application object, as Update.exe has it.
static UpdateApp theApp;

namespace {
int g_stopAt = 0;
UINT g_stopStatus = 97;
int g_failAt = 0;
int g_fillAt = 0;
int g_holdAt = 0;
const char* g_holdName = nullptr;
int g_calls = 0;
const char* g_callsFile = nullptr;

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

bool OnCall(void*, DiskCall, const char*, const char*, DWORD) {
    ++g_calls;
    if (g_calls == g_stopAt)
        TerminateProcess(GetCurrentProcess(), g_stopStatus);
    if (g_calls == g_fillAt)
        FillDrive();
    if (g_calls == g_holdAt && g_holdName != nullptr) {
        char name[MAX_PATH];
        snprintf(name, sizeof name, "%s-held", g_holdName);
        HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
        snprintf(name, sizeof name, "%s-go", g_holdName);
        HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, name);
        if (held != nullptr && go != nullptr) {
            SetEvent(held);
            WaitForSingleObject(go, INFINITE);
        }
        if (held != nullptr)
            CloseHandle(held);
        if (go != nullptr)
            CloseHandle(go);
    }
    if (g_calls == g_failAt) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

int Number(const char* name) {
    const char* value = getenv(name);
    return value != nullptr ? atoi(value) : 0;
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    RestrictLibrarySearch();
    g_stopAt = Number("UPDATE_STOP_AT_CALL");
    g_failAt = Number("UPDATE_FAIL_AT_CALL");
    g_fillAt = Number("UPDATE_FILL_AT_CALL");
    g_holdAt = Number("UPDATE_HOLD_AT_CALL");
    g_holdName = getenv("UPDATE_HOLD_NAME");
    g_callsFile = getenv("UPDATE_CALLS_FILE");
    if (getenv("UPDATE_STOP_STATUS") != nullptr)
        g_stopStatus = static_cast<UINT>(Number("UPDATE_STOP_STATUS"));
    SetDiskCallHook(OnCall, nullptr);
    const int status = WinApp::Run(instance);
    if (g_callsFile != nullptr) {
        if (FILE* file = fopen(g_callsFile, "w")) {
            fprintf(file, "%d\n", g_calls);
            fclose(file);
        }
    }
    return status;
}
