// The update procedure: payload, unpack, settings and command files, the two
// old files moved aside, the libraries, and one completion message.
#include "General.h"

#include "Framework.h"
#include "GeneratedFiles.h"
#include "Globals.h"
#include "Log.h"
#include "Owners.h"
#include "PathHelpers.h"
#include "Payload.h"
#include "pack/FolderPack.h"

#include <winsock2.h>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>

HostNameLookup g_hostNameLookup = gethostname;

namespace {
// In-house libraries copied from the install folder, in this order.
const char* const kLibraries[] = {
    "UserGate.dll", "Octlapi.dll", "blkio.dll",    "KeyRoute.dll", "NETLK16.DLL",
    "netlk32.dll",  "ctlapi.dll",  "CfgStore.dll", "HostBind.dll",
};

// Old files taken out of use: moved to these names inside the feature folder.
const char* const kRetired[][2] = {
    {"patchjob.vbe", "patchjob.vb_"},
    {"AlertKey.exe", "AlertKey.ex_"},
};

const char kMarkerFile[] = "WSUS.txt";

// Copies text into a 260-byte buffer; false (buffer empty) when it does not fit.
bool CopyText(char* out, const char* text) {
    int n = snprintf(out, kPathBufferSize, "%s", text);
    if (n >= 0 && static_cast<size_t>(n) < kPathBufferSize)
        return true;
    out[0] = '\0';
    return false;
}

// folder + "\" + name; a path that does not fit fails the update.
bool MakePath(const char* folder, const char* name, char* out) {
    if (JoinPath(folder, name, out, kPathBufferSize))
        return true;
    WRITE_LOG("パス生成失敗 %s .", name);
    return false;
}

// "\\server\TALMEROWU$"; a server name too long for it fails the update.
bool MakeSharePath(const char* server, char* out) {
    int n = snprintf(out, kPathBufferSize, "\\\\%s\\%s", server, kShareName);
    if (n >= 0 && static_cast<size_t>(n) < kPathBufferSize)
        return true;
    out[0] = '\0';
    WRITE_LOG("共有パス生成失敗 %s .", server);
    return false;
}

// The marker that the unpack brings along. When a run fails, a marker that
// this run put there is removed again, so that the next start can retry
// instead of refusing as already updated.
class MarkerGuard {
  public:
    // Called just before the unpack: remembers whether the marker was absent.
    void Arm() {
        armed_ = JoinPath(g_featureFolder, kMarkerFile, path_, sizeof path_) &&
                 GetFileAttributesA(path_) == INVALID_FILE_ATTRIBUTES;
    }
    void RemoveAdded() {
        if (!armed_)
            return;
        DWORD attributes = GetFileAttributesA(path_);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return;
        SetFileAttributesA(path_, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        if (DeleteFileA(path_)) {
            WRITE_LOG("%s を削除.", path_);
        } else {
            WRITE_LOG("%s 削除失敗.", path_);
        }
    }

  private:
    bool armed_ = false;
    char path_[kPathBufferSize] = {};
};

// Share path and server name from patchjob.ini, with the rescue measures
// when it names no share. False when the update cannot go on.
bool FindShare(const char* settings, char* sharePath, char* serverName) {
    sharePath[0] = '\0';
    serverName[0] = '\0';
    ReadTlxShare(settings, sharePath);
    WRITE_LOG("TLX共有フォルダ %s .", sharePath);
    if (sharePath[0] != '\0') {
        CopyText(serverName, GetUncServerName(sharePath));
    } else {
        ReadSusShare(settings, sharePath);
        if (sharePath[0] == '\0') {
            WRITE_LOG("救済措置失敗.");
            if (g_operationMode != kModeServer)
                return false;
            // A server serves its own share.
            char hostName[kPathBufferSize];
            memset(hostName, 0, sizeof hostName);
            if (g_hostNameLookup(hostName, static_cast<int>(sizeof hostName)) != 0) {
                // Command files that name no server would not work.
                WRITE_LOG("サーバ救済措置失敗.");
                return false;
            }
            hostName[sizeof hostName - 1] = '\0';
            if (!MakeSharePath(hostName, sharePath))
                return false;
        }
        CopyText(serverName, GetUncServerName(sharePath));
        if (!MakeSharePath(serverName, sharePath))
            return false;
        WRITE_LOG("TLX共有フォルダ %s .", sharePath);
    }
    WRITE_LOG("サーバ %s .", serverName);
    return true;
}

// The steps of the update in order; false as soon as one fails (the failure
// is logged by then).
bool RunUpdate(MarkerGuard& marker) {
    char payloadPath[kPathBufferSize];
    CopyText(payloadPath, GetPayloadTempPath());
    WRITE_LOG("テンポラリ %s 生成.", payloadPath);

    WORD resourceId = g_operationMode == kModeServer ? kPayloadServer : kPayloadClient;
    int written = WritePayloadFile(resourceId, payloadPath, 1);
    WRITE_LOG("出力結果 %d .", written);
    if (written == 0) {
        WRITE_LOG("ファイル生成失敗.");
        return false;
    }

    WRITE_LOG("展開先フォルダ %s .", g_featureFolder);
    marker.Arm();
    int code = ExtractFolderPack(g_featureFolder, payloadPath, AlwaysOverwrite, nullptr);
    if (code < 0) {
        WRITE_LOG("展開に失敗 %d .", code);
        return false;
    }

    char settings[kPathBufferSize];
    if (!MakePath(g_featureFolder, kPatchJobIni, settings))
        return false;
    char sharePath[kPathBufferSize];
    char serverName[kPathBufferSize];
    if (!FindShare(settings, sharePath, serverName))
        return false;

    WRITE_LOG("%s の書き換え.", settings);
    RewritePatchJobIni(settings, sharePath);

    if (g_operationMode == kModeClient) {
        char runBat[kPathBufferSize];
        if (!MakePath(g_featureFolder, kPatchRunBat, runBat))
            return false;
        WRITE_LOG("%s の書き換え.", runBat);
        if (!WritePatchRunBat(runBat, serverName)) {
            WRITE_LOG("%s 生成失敗.", runBat);
            return false;
        }
    }

    if (g_operationMode == kModeServer) {
        char xpBat[kPathBufferSize];
        if (!MakePath(g_featureFolder, kPatchCliXpBat, xpBat))
            return false;
        WRITE_LOG("%s の生成.", xpBat);
        if (!WritePatchCliXpBat(xpBat, serverName, g_featureFolder)) {
            WRITE_LOG("%s 生成失敗.", xpBat);
            return false;
        }
        char bat2000[kPathBufferSize];
        if (!MakePath(g_featureFolder, kPatchCli2000Bat, bat2000))
            return false;
        if (!ShellCopyFile(xpBat, bat2000, GetAppMainWindow())) {
            WRITE_LOG("ファイルコピー失敗.");
            return false;
        }
    }

    char serviceSettings[kPathBufferSize];
    if (!MakePath(g_featureFolder, kPatchSvcIni, serviceSettings))
        return false;
    WritePatchSvcIni(serviceSettings, serverName);

    // A missing old file, or one whose new name is taken, keeps its name.
    for (const auto& names : kRetired) {
        char oldPath[kPathBufferSize];
        char newPath[kPathBufferSize];
        if (!MakePath(g_featureFolder, names[0], oldPath) ||
            !MakePath(g_featureFolder, names[1], newPath))
            return false;
        WRITE_LOG("旧 %s .", oldPath);
        WRITE_LOG("新 %s .", newPath);
        rename(oldPath, newPath);
    }

    // Libraries the install folder lacks are skipped; a failed copy is no
    // reason to stop.
    for (const char* library : kLibraries) {
        char source[kPathBufferSize];
        char target[kPathBufferSize];
        if (!MakePath(g_installPath, library, source) ||
            !MakePath(g_featureFolder, library, target))
            return false;
        if (GetFileAttributesA(source) != INVALID_FILE_ATTRIBUTES)
            ShellCopyFile(source, target, g_mainWindow);
    }
    return true;
}
} // namespace

unsigned UpdateWorker(void*) {
    MarkerGuard marker;
    WPARAM result = RunUpdate(marker) ? 1 : 0;
    if (result == 0)
        marker.RemoveAdded();
    PostMessageA(g_mainWindow, WM_UPDATE_FINISHED, result, 0);
    return 0;
}

int AlwaysOverwrite(const char*) {
    return IDYES;
}

bool ShellCopyFile(const char* source, const char* destination, HWND owner) {
    // The shell takes lists of paths, each list ended by two NULs.
    size_t sourceLen = strlen(source);
    size_t destinationLen = strlen(destination);
    HeapBlock from = HeapBlock::Zeroed(sourceLen + 2);
    HeapBlock to = HeapBlock::Zeroed(destinationLen + 2);
    if (!from.IsValid() || !to.IsValid())
        return false;
    memcpy(from.Bytes(), source, sourceLen);
    memcpy(to.Bytes(), destination, destinationLen);

    SHFILEOPSTRUCTA op;
    memset(&op, 0, sizeof op);
    op.hwnd = owner;
    op.wFunc = FO_COPY;
    op.pFrom = from.Bytes();
    op.pTo = to.Bytes();
    op.fFlags = FOF_MULTIDESTFILES | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
    return SHFileOperationA(&op) == 0;
}
