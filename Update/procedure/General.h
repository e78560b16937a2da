// The update procedure: run once, on a worker thread under the dialog or
// directly in quiet mode. What it touches is the plan's (Plan.h).
#pragma once

#include "Keep.h"
#include "Precheck.h"
#include "Share.h"
#include "Target.h"

#include <windows.h>

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

// The check that the update makes before its first change, over this
// payload archive, without removing any leftovers and without a record.
CheckResult CheckBeforeUpdate(const UpdateTarget& target, const void* archive, DWORD archiveSize,
                              HostNameLookup hostName);

// The update on a worker thread: RunUpdate, then finished with its result,
// once, on that thread.
struct UpdateWork {
    UpdateTarget target;
    UpdateHooks hooks;
    void (*finished)(bool succeeded) = nullptr;
};
// The thread function: work is an UpdateWork that outlives the thread. Its
// result carries nothing.
unsigned UpdateWorker(void* work);

// The overwrite callback of the unpack: replaces every existing file.
int AlwaysOverwrite(const char* targetPath);

// What the undo (Undo.h) shares with the update: its records of a failed
// step and of the check, and its rule for what an interrupted run left.

// "<file> <what> : <the system's text> ." for the last error; false.
bool LogFailure(const char* path, const char* what);
// One record for the first problem that a check found; true when it found
// none.
bool Checked(const CheckResult& check);
// Removes a file that an interrupted run left, with a record; true when it
// is gone or was never there.
bool RemoveLeftover(const char* path);
// The same for the files of the keep folder that are no part of a complete
// keep, and for the folder itself when it holds no complete keep.
bool RemoveKeepLeftovers(const Keep& keep);
