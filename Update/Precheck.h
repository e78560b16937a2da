// The check before the first change: everything the plan will touch can be
// touched now. Every file it replaces can be replaced (read-only files too:
// the steps make them writable), the payload unpacks and holds the marker,
// the share and the server are there, the settings are text that the
// profile functions keep intact, and the drive has room.
#pragma once

#include "General.h"
#include "PathHelpers.h"
#include "Plan.h"
#include "Share.h"

#include <windows.h>

enum class CheckProblem {
    kNone,
    kPathTooLong,   // path: the name that does not fit after its folder
    kSystemError,   // path cannot be opened as the step needs; error says why
    kFolder,        // path is a folder where a file has to go
    kNoSpace,       // path: the folder; needed and available in bytes
    kUtf8Text,      // path is UTF-8 text, which the profile functions corrupt
    kMalformedText, // path is neither code page 932 text nor UTF-16
    kBadArchive,    // the payload cannot be read; error is its result code
    kNoMarker,      // the payload holds no marker
    kShare,         // share: what the share and the server came to
};

struct CheckResult {
    CheckProblem problem = CheckProblem::kNone;
    char path[kPathBufferSize] = "";
    DWORD error = 0;
    unsigned long long needed = 0;
    unsigned long long available = 0;
    ShareLookup share;
};

// Checks the feature folder and the install folder against the plan and the
// payload archive. Changes nothing.
CheckResult CheckBeforeUpdate(const UpdateTarget& target, const Plan& plan, const void* archive,
                              DWORD archiveSize, HostNameLookup hostName);

// How the bytes of a settings file are encoded, as far as the profile
// functions care. complete: size is the whole file; otherwise its first
// bytes, which may end inside a double-byte character.
enum class TextKind { kAnsi, kUtf16, kUtf8, kMalformed };
enum class Sample { kWhole, kFirstBytes };
TextKind ClassifyText(const char* data, size_t size, Sample sample = Sample::kWhole);
