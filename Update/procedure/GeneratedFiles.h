// The feature's settings files (patchjob.ini, PatchSvc.ini) and the command
// files that the update writes into the feature folder. Each is replaced
// whole through the file layer: a failed write leaves the file as it was.
// The new file has the attributes of a new file, whatever the old one had
// (a read-only one is replaced too), so that an interrupted update and one
// that was not end with the same files. The file names are the plan's
// (Plan.h).
#pragma once

#include <stddef.h>

// Size of every value read from a settings file (259 bytes and the NUL).
constexpr size_t kProfileValueSize = 260;

// Reads [SUS] TLX_SHARE / SUS_SHARE of patchjob.ini into value (at least
// kProfileValueSize bytes). A missing file, section or key reads as empty.
// False when the value is longer than the buffer takes: value then holds
// its cut beginning, which is no value to use.
bool ReadTlxShare(const char* patchJobIni, char* value);
bool ReadSusShare(const char* patchJobIni, char* value);

// The values of the keys that the rewrite sets, as they are before it.
struct PatchJobValues {
    char susShare[kProfileValueSize];
    char tlxShare[kProfileValueSize];
    char wuCmd[kProfileValueSize];
};
void ReadPatchJobValues(const char* patchJobIni, PatchJobValues& values);

// Points patchjob.ini at the share: [SUS] SUS_SHARE = sharePath, [WU] WU_CMD
// = "patchcliXP.bat", and [SUS] TLX_SHARE = sharePath only when it is empty.
// Every other section, key and line stays. True when every key reads back as
// written and the file was replaced; false otherwise, with the file
// unchanged and the reason in GetLastError.
bool RewritePatchJobIni(const char* patchJobIni, const char* sharePath);

// The client service settings: [WSUS] Server = serverName, Port = "8530";
// other keys stay. As RewritePatchJobIni.
bool WritePatchSvcIni(const char* patchSvcIni, const char* serverName);

// The client's command file: one line that runs the server's patchcliXP.bat
// from its share. True when the file was written whole, false when it could
// not be (the old file then stays, the reason in GetLastError).
bool WritePatchRunBat(const char* path, const char* serverName);

// Whether a value can go between the double quotes of a command file's line
// and reach the command interpreter as written: false for a control
// character, a '"' (it would end the quotes) and a '!', which an interpreter
// with delayed expansion on (a machine's setting) expands or drops. A '%'
// goes, written doubled; '&', '^', '|', '<', '>' are plain between quotes.
bool CommandFileCarries(const char* value);

// The server's command file, seven lines: cfgpull.exe from the share, a CD
// into the feature folder (its '%' doubled, so that the interpreter reads
// it as written), and the patch job around the three PatchHub.exe runs. As
// WritePatchRunBat; a folder that CommandFileCarries refuses is not written
// (ERROR_INVALID_NAME).
bool WritePatchCliXpBat(const char* path, const char* serverName, const char* featureFolder);
