// The way back: the feature folder put back as it was before the first
// update, from what the update kept (Keep.h), through the same file layer
// and by the same rules as the update. What an interrupted run left is
// removed first; everything is checked before the first change; the marker
// goes first, so that the folder no longer looks updated from then on; each
// file is put back through its work name, flushed before it takes its name;
// the keep goes last. An undo that fails or is stopped is finished by the
// next one (or, the other way, by an update).
#pragma once

#include "Target.h"

#include <stddef.h>

enum class UndoOutcome {
    kUndone,        // the folder is as it was before the first update
    kNothingToUndo, // never updated, or undone already; nothing was changed
    kNothingKept,   // updated by a version that kept nothing; nothing was changed
    kFailed,        // a record says why; the next undo finishes it
};

// What an undo would do now, for the confirmation; changes nothing and
// writes no record.
struct UndoPreview {
    // kUndone when there is something to undo; kFailed when what was kept
    // cannot be read (the undo then says why).
    UndoOutcome outcome = UndoOutcome::kNothingToUndo;
    size_t restored = 0; // files put back as they were
    size_t removed = 0;  // files the update added, removed
};
UndoPreview LookAtUndo(const UpdateTarget& target);

// The whole undo; every step and every failure is logged.
UndoOutcome RunUndo(const UpdateTarget& target);
