#include "GeneratedFiles.h"

#include "Framework.h"

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

void ReadProfileValue(const char* file, const char* section, const char* key, char* value) {
    GetPrivateProfileStringA(section, key, "", value, kProfileValueSize, file);
}

// One command file line with its CR LF. The buffer is larger than any line
// that paths and server names from 260-byte buffers make, so a line is never
// cut; one that would not fit is refused all the same.
struct Line {
    char text[1024];
    bool ok;
};

bool Fits(int n, size_t capacity) {
    return n >= 0 && static_cast<size_t>(n) < capacity;
}

bool WriteText(File& file, const char* text) {
    return file.Write(text, static_cast<unsigned long>(strlen(text)));
}
} // namespace

void ReadTlxShare(const char* patchJobIni, char* value) {
    ReadProfileValue(patchJobIni, kSusSection, kTlxShareKey, value);
}

void ReadSusShare(const char* patchJobIni, char* value) {
    ReadProfileValue(patchJobIni, kSusSection, kSusShareKey, value);
}

void RewritePatchJobIni(const char* patchJobIni, const char* sharePath) {
    WritePrivateProfileStringA(kSusSection, kSusShareKey, sharePath, patchJobIni);
    WritePrivateProfileStringA(kWuSection, kWuCmdKey, kPatchCliXpBat, patchJobIni);
    // A share that the feature already names for TLX stays as it is.
    char tlxShare[kProfileValueSize];
    ReadTlxShare(patchJobIni, tlxShare);
    if (tlxShare[0] == '\0')
        WritePrivateProfileStringA(kSusSection, kTlxShareKey, sharePath, patchJobIni);
}

void WritePatchSvcIni(const char* patchSvcIni, const char* serverName) {
    WritePrivateProfileStringA(kWsusSection, kServerKey, serverName, patchSvcIni);
    WritePrivateProfileStringA(kWsusSection, kPortKey, kWsusPort, patchSvcIni);
}

int WritePatchRunBat(const char* path, const char* serverName) {
    Line line;
    line.ok = Fits(snprintf(line.text, sizeof line.text,
                            "CMD /C \\\\%s\\TALMEROWU$\\patchcliXP.bat\r\n", serverName),
                   sizeof line.text);
    if (!line.ok)
        return 0;
    File file;
    if (!file.Open(path, File::modeCreate | File::modeWrite))
        return 0;
    bool ok = WriteText(file, line.text);
    // A file that could not be flushed on close was not produced either.
    return file.Close() && ok ? 1 : 0;
}

int WritePatchCliXpBat(const char* path, const char* serverName, const char* featureFolder) {
    static const char* const kFixedLines[] = {
        "patchrun.vbe START\r\n",    "PatchHub.exe /HubReach\r\n", "PatchHub.exe /HubNowUpdate\r\n",
        "PatchHub.exe /HubInst\r\n", "patchrun.vbe END\r\n",
    };
    Line pull;
    pull.ok = Fits(
        snprintf(pull.text, sizeof pull.text, "\\\\%s\\TALMEROWU$\\cfgpull.exe\r\n", serverName),
        sizeof pull.text);
    Line cd;
    cd.ok = Fits(snprintf(cd.text, sizeof cd.text, "CD \"%s\"\r\n", featureFolder), sizeof cd.text);
    if (!pull.ok || !cd.ok)
        return 0;
    File file;
    if (!file.Open(path, File::modeCreate | File::modeWrite))
        return 0;
    bool ok = WriteText(file, pull.text) && WriteText(file, cd.text);
    for (const char* fixed : kFixedLines)
        ok = ok && WriteText(file, fixed);
    return file.Close() && ok ? 1 : 0;
}
