// Process-wide values, fixed on the main thread at start-up (and the main
// window when the dialog initialises), read-only afterwards. The log's path
// is the log's own (Log.h).
#pragma once

#include "Target.h"

#include <windows.h>

extern OperationMode g_operationMode;
extern char g_installPath[260];
extern char g_featureFolder[260];
extern HWND g_mainWindow;

// Process exit status.
enum : int {
    kExitUpdated = 0,
    kExitUpdateFailed = 1,
    kExitNotRecognised = 2,
    kExitAlreadyUpdated = 3,
    kExitCancelled = 4,
    kExitAnotherRunning = 5,
    kExitUsage = 64,
    // The same statuses, as /undo tells its outcome.
    kExitUndone = 0,
    kExitUndoFailed = 1,
    kExitNothingToUndo = 3,
};
