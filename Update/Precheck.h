// What the update is about to change, checked before its first change: every
// file it will replace can be replaced now, the drive has room, and the
// feature's settings are text that the profile functions keep intact.
#pragma once

#include "PathHelpers.h"

#include <windows.h>

enum class CheckProblem {
    kNone,
    kPathTooLong,   // path: the name that does not fit after its folder
    kSystemError,   // path cannot be opened as the step needs; error says why
    kFolder,        // path is a folder where a file has to go
    kReadOnly,      // path is read-only and the step would fail on it
    kNoSpace,       // path: the folder; needed and available in bytes
    kUtf8Text,      // path is UTF-8 text, which the profile functions corrupt
    kMalformedText, // path is neither code page 932 text nor UTF-16
    kBadArchive,    // the payload cannot be read; error is its result code
};

struct CheckResult {
    CheckProblem problem = CheckProblem::kNone;
    char path[kPathBufferSize] = "";
    DWORD error = 0;
    unsigned long long needed = 0;
    unsigned long long available = 0;
};

// Checks the feature folder and the install folder of the running mode
// (g_featureFolder, g_installPath, g_operationMode) against the payload
// archive and the update's own files. Changes nothing.
CheckResult CheckBeforeUpdate(const void* archive, DWORD archiveSize);

// How the bytes of a settings file are encoded, as far as the profile
// functions care.
enum class TextKind { kAnsi, kUtf16, kUtf8, kMalformed };
TextKind ClassifyText(const char* data, size_t size);
