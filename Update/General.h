// The update procedure: run once, on a worker thread under the dialog or
// directly in quiet mode. What it touches is the plan's (Plan.h).
#pragma once

#include "Share.h"

#include <windows.h>

// What an update works on, as start-up found it.
struct UpdateTarget {
    int mode = 0;                   // 1 server, 2 client
    const char* installPath = "";   // as the registry gives it
    const char* featureFolder = ""; // derived from it
};

// Stand-ins that tests may give the update.
struct UpdateHooks {
    HostNameLookup hostName = nullptr; // null: the platform's (LocalHostName)
    // Called on the update's thread before anything else: a test holds the
    // update there while it looks at the dialog.
    void (*started)() = nullptr;
};

// The whole update; true when every step succeeded. Every step and every
// failure is logged.
bool RunUpdate(const UpdateTarget& target, const UpdateHooks& hooks = UpdateHooks());

// The update on a worker thread: RunUpdate, then finished with its result,
// once, on that thread.
struct UpdateWork {
    UpdateTarget target;
    UpdateHooks hooks;
    void (*finished)(void* context, bool succeeded) = nullptr;
    void* context = nullptr;
};
// The thread function: work is an UpdateWork that outlives the thread. Its
// result carries nothing.
unsigned UpdateWorker(void* work);

// The overwrite callback of the unpack: replaces every existing file.
int AlwaysOverwrite(const char* targetPath);
