// The plan of an update: everything it touches in the feature folder, in the
// order of its steps, one table per mode. What each kind of step checks
// before the first change and what it then does sit side by side in one
// table of the update (General.cpp), so that a file that is written is a
// file that was checked.
#pragma once

#include "Target.h"

#include <stddef.h>

// What a step does.
enum class PlanAction {
    kUnpack,        // the payload's files, the marker under its aside name
    kReadShare,     // target read for the share and the server it names
    kBackUp,        // target: a copy of source, made once
    kRewrite,       // target: settings keys set in a copy of it (new when missing)
    kWrite,         // target: written whole
    kCopy,          // target: a copy of source, which an earlier step wrote
    kCopyInstalled, // target: a copy of source in the install folder, when there
    kRetire,        // source renamed to target, unless it is missing or target is there
    kMarker,        // target takes the marker's aside name: the last change
};

// What stands at a target before the update, and what happens to it.
enum class ExistingFile {
    kReplaced, // replaced, read-only or not; absent is as good
    kKept,     // kept as it is, and the step left out
    kRead,     // only read
    kAbsent,   // must not be there (the marker: its presence ends a start)
};

// Which text a rewritten or written file gets.
enum class PlanContent { kNone, kPatchJob, kPatchSvc, kPatchRun, kPatchCliXp };

struct PlanStep {
    PlanAction action;
    const char* target; // in the feature folder; none for the unpack
    const char* source; // in the feature folder, or the install folder (kCopyInstalled)
    ExistingFile existing;
    PlanContent content;
};

struct Plan {
    const PlanStep* steps;
    size_t count;
    const PlanStep* begin() const { return steps; }
    const PlanStep* end() const { return steps + count; }
};

// The plan of an operation mode; empty for an unknown one.
Plan PlanFor(OperationMode mode);

// Names the update gives files in the feature folder.
constexpr char kMarkerFile[] = "WSUS.txt";
// The marker arrives with the payload under this name and takes its own only
// as the last change of a complete update, so that an interrupted update is
// run again by the next start.
constexpr char kMarkerAside[] = "WSUS.txt.upd~";
constexpr char kPatchJobIni[] = "patchjob.ini";
constexpr char kPatchJobBackup[] = "patchjob.ini.bak";
constexpr char kPatchSvcIni[] = "PatchSvc.ini";
constexpr char kPatchRunBat[] = "patchrun.bat";
constexpr char kPatchCliXpBat[] = "patchcliXP.bat";
constexpr char kPatchCli2000Bat[] = "patchcli2000.bat";
