// A second process for the log tests:
//   logpeer hold SECONDS        owns the log mutex for that long, or until
//                               the event logpeer_release is set
//   logpeer pulse MS SECONDS    the same, but lets the mutex go for a moment
//                               every MS milliseconds and takes it again
//   logpeer write LOG COUNT TAG appends COUNT records "TAG n." to LOG once
//                               the event logpeer_go is set, after setting
//                               logpeer_ready_TAG
#include "Log.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    const bool pulse = argc == 4 && strcmp(argv[1], "pulse") == 0;
    if ((argc == 3 && strcmp(argv[1], "hold") == 0) || pulse) {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, kLogMutexName);
        if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS)
            return 2;
        // Tell the test that the mutex is ours now.
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "logpeer_holding");
        SetEvent(ready);
        HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "logpeer_release");
        const DWORD seconds = static_cast<DWORD>(atoi(argv[pulse ? 3 : 2]));
        const DWORD start = GetTickCount();
        while (WaitForSingleObject(release, pulse ? static_cast<DWORD>(atoi(argv[2]))
                                                  : seconds * 1000) == WAIT_TIMEOUT &&
               GetTickCount() - start < seconds * 1000) {
            ReleaseMutex(mutex);
            Sleep(1);
            WaitForSingleObject(mutex, INFINITE);
        }
        ReleaseMutex(mutex);
        CloseHandle(release);
        CloseHandle(ready);
        CloseHandle(mutex);
        return 0;
    }
    if (argc == 5 && strcmp(argv[1], "write") == 0) {
        int count = atoi(argv[3]);
        // Both writers start together, so that their records interleave.
        HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "logpeer_go");
        char readyName[64];
        snprintf(readyName, sizeof readyName, "logpeer_ready_%s", argv[4]);
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, readyName);
        SetEvent(ready);
        // A test that died leaves no writer behind for long.
        WaitForSingleObject(go, 180000);
        CloseHandle(ready);
        for (int i = 0; i < count; ++i)
            LogWriter(argv[2], __FILE__, __LINE__).WriteLog("%s %d.", argv[4], i);
        CloseHandle(go);
        return 0;
    }
    fprintf(stderr, "usage: logpeer hold SECONDS | pulse MS SECONDS | write LOG COUNT TAG\n");
    return 64;
}
