// The share on the server that the feature's command files and settings
// name, and the server's name, from patchjob.ini, with the rescue measures
// when it names none.
#pragma once

#include "PathHelpers.h"
#include "Target.h"

#include <windows.h>

// How the update asks for the local host name when the settings name no
// server (gethostname); a test may stand in for it.
typedef int(WINAPI* HostNameLookup)(char* name, int length);

// The share through which clients reach the server's feature folder.
constexpr char kShareName[] = "TALMEROWU$";

enum class ShareOutcome {
    kFound,      // sharePath and serverName hold the values to write
    kNoShare,    // no share named, and no rescue for a client
    kNoHostName, // a server's own name could not be had
    kTooLong,    // "\\server\TALMEROWU$" does not fit 259 bytes
    kNotAHost,   // the server's name is no host name
    kCutValue,   // the value of longKey is longer than a settings value may be
};

struct ShareLookup {
    ShareOutcome outcome = ShareOutcome::kNoShare;
    char tlxShare[kPathBufferSize] = "";   // [SUS] TLX_SHARE as read
    bool rescued = false;                  // it was empty: the share was made
    bool noneNamed = false;                // SUS_SHARE was empty as well
    char sharePath[kPathBufferSize] = "";  // the share to write
    char serverName[kPathBufferSize] = ""; // the server the command files name
    int hostError = 0;                     // of a failed host name lookup
    const char* longKey = "";              // the key of a cut value
};

// Reads the share from patchjob.ini: [SUS] TLX_SHARE as it stands; when it
// is empty, \\server\TALMEROWU$ for the server of [SUS] SUS_SHARE or, on a
// server without either, for its own host name. Reads only.
ShareLookup LookUpShare(const char* patchJobIni, OperationMode mode, HostNameLookup lookup);

// Whether text is a host name that a command file may carry: labels of 1 to
// 63 bytes joined by single dots, 253 bytes at most, each of ASCII letters
// and digits, '-' (never at a label's either end) and '_', and the
// double-byte and half-width characters of a Japanese NetBIOS name. So never
// "." or ".." (the device namespace after "\\"), never a character that the
// command interpreter would take for one of its own.
bool IsHostName(const char* text);

// The value as a log record may show it: control characters as \xNN, cut
// on a character boundary to fit capacity.
void PrintableValue(const char* value, char* out, size_t capacity);
