#include "GeneratedFiles.h"

#include "FileLayer.h"
#include "Mbcs.h"
#include "PathHelpers.h"
#include "Plan.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

namespace {
const char kSusSection[] = "SUS";
const char kWuSection[] = "WU";
const char kWsusSection[] = "WSUS";
const char kTlxShareKey[] = "TLX_SHARE";
const char kSusShareKey[] = "SUS_SHARE";
const char kWuCmdKey[] = "WU_CMD";
const char kServerKey[] = "Server";
const char kPortKey[] = "Port";
const char kWsusPort[] = "8530";

// False when the value was cut to fit: the profile functions then return
// the buffer's size less one (as for a value of just 259 bytes, which goes
// with them: no share path is that long).
bool ReadProfileValue(const char* file, const char* section, const char* key, char* value) {
    return GetPrivateProfileStringA(section, key, "", value, kProfileValueSize, file) <
           kProfileValueSize - 1;
}

// Makes the profile functions read the file from the disk again: some
// platforms keep a copy of recently used profile files.
void ForgetCachedProfile(const char* file) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
}

struct ProfileKey {
    const char* section;
    const char* key;
    const char* value;
};

// Sets the keys in a work copy of the file (its current content, or nothing
// when there is no file yet), reads each one back from the disk, and only
// then puts the copy in place of the file.
bool EditProfile(const char* file, const ProfileKey* keys, size_t count) {
    char work[MAX_PATH];
    if (!MakeWorkPath(file, work, sizeof work)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    NewFile copy;
    if (GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES) {
        if (!copy.Create(work, ExistingTarget::kReplace) ||
            !copy.Finish(nullptr, nullptr, Durability::kAsWritten, kNewFileAttributes))
            return false;
    } else if (!CopyIntoNewFile(file, copy, work)) {
        return false;
    }
    ForgetCachedProfile(work);
    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i)
        ok = DiskWriteProfile(work, keys[i].section, keys[i].key, keys[i].value);
    DWORD error = GetLastError();
    ForgetCachedProfile(work);
    SetLastError(error);
    for (size_t i = 0; ok && i < count; ++i) {
        char value[1024];
        GetPrivateProfileStringA(keys[i].section, keys[i].key, "\x01", value, sizeof value, work);
        if (strcmp(value, keys[i].value) != 0) {
            SetLastError(ERROR_WRITE_FAULT);
            ok = false;
        }
    }
    ok = ok && FlushFile(work) && copy.PlaceAs(file, ExistingTarget::kReplace);
    error = GetLastError();
    ForgetCachedProfile(file);
    SetLastError(error);
    return ok;
}

bool Fits(int n, size_t capacity) {
    return n >= 0 && static_cast<size_t>(n) < capacity;
}

bool WriteText(const char* path, const char* text) {
    return WriteWholeFile(path, text, strlen(text), kNewFileAttributes);
}

// The value as a batch file must hold it: each '%' doubled. False when it
// does not fit.
bool DoublePercents(const char* value, char* out, size_t capacity) {
    size_t used = 0;
    for (const char* c = value; *c != '\0'; ++c) {
        const size_t n = *c == '%' ? 2 : 1;
        if (used + n >= capacity)
            return false;
        out[used++] = *c;
        if (n == 2)
            out[used++] = '%';
    }
    out[used] = '\0';
    return true;
}
} // namespace

bool CommandFileCarries(const char* value) {
    const size_t length = strlen(value);
    for (size_t i = 0; i < length;) {
        const size_t n = MbcsCharLength(value, length, i);
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (n == 1 && (c < 0x20 || c == 0x7F || c == '"' || c == '!'))
            return false;
        i += n;
    }
    return true;
}

bool ReadTlxShare(const char* patchJobIni, char* value) {
    return ReadProfileValue(patchJobIni, kSusSection, kTlxShareKey, value);
}

bool ReadSusShare(const char* patchJobIni, char* value) {
    return ReadProfileValue(patchJobIni, kSusSection, kSusShareKey, value);
}

void ReadPatchJobValues(const char* patchJobIni, PatchJobValues& values) {
    ReadProfileValue(patchJobIni, kSusSection, kSusShareKey, values.susShare);
    ReadProfileValue(patchJobIni, kSusSection, kTlxShareKey, values.tlxShare);
    ReadProfileValue(patchJobIni, kWuSection, kWuCmdKey, values.wuCmd);
}

bool RewritePatchJobIni(const char* patchJobIni, const char* sharePath) {
    // A share that the feature already names for TLX stays as it is.
    char tlxShare[kProfileValueSize];
    ReadTlxShare(patchJobIni, tlxShare);
    const ProfileKey keys[] = {
        {kSusSection, kSusShareKey, sharePath},
        {kWuSection, kWuCmdKey, kPatchCliXpBat},
        {kSusSection, kTlxShareKey, sharePath},
    };
    return EditProfile(patchJobIni, keys, tlxShare[0] == '\0' ? 3 : 2);
}

bool WritePatchSvcIni(const char* patchSvcIni, const char* serverName) {
    const ProfileKey keys[] = {
        {kWsusSection, kServerKey, serverName},
        {kWsusSection, kPortKey, kWsusPort},
    };
    return EditProfile(patchSvcIni, keys, 2);
}

bool WritePatchRunBat(const char* path, const char* serverName) {
    char text[1024];
    if (!Fits(snprintf(text, sizeof text, "CMD /C \\\\%s\\TALMEROWU$\\patchcliXP.bat\r\n",
                       serverName),
              sizeof text)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return WriteText(path, text);
}

bool WritePatchCliXpBat(const char* path, const char* serverName, const char* featureFolder) {
    if (!CommandFileCarries(featureFolder)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    char folder[2 * kPathBufferSize];
    char text[2048];
    if (!DoublePercents(featureFolder, folder, sizeof folder) ||
        !Fits(snprintf(text, sizeof text,
                       "\\\\%s\\TALMEROWU$\\cfgpull.exe\r\n"
                       "CD \"%s\"\r\n"
                       "patchrun.vbe START\r\n"
                       "PatchHub.exe /HubReach\r\n"
                       "PatchHub.exe /HubNowUpdate\r\n"
                       "PatchHub.exe /HubInst\r\n"
                       "patchrun.vbe END\r\n",
                       serverName, folder),
              sizeof text)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return WriteText(path, text);
}
