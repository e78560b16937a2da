// The update procedure: payload, unpack, settings and command files, the two
// old files moved aside, the libraries, and the marker as the last change.
#include "General.h"

#include "ErrorText.h"
#include "FileReplace.h"
#include "GeneratedFiles.h"
#include "Globals.h"
#include "Log.h"
#include "PathHelpers.h"
#include "Payload.h"
#include "Precheck.h"
#include "pack/FolderPack.h"

#include <winsock2.h>
#include <stdio.h>
#include <string.h>

HostNameLookup g_hostNameLookup = gethostname;
UpdateStepHook g_stepHook = nullptr;

const char* const kLibraries[9] = {
    "UserGate.dll", "Octlapi.dll", "blkio.dll",    "KeyRoute.dll", "NETLK16.DLL",
    "netlk32.dll",  "ctlapi.dll",  "CfgStore.dll", "HostBind.dll",
};

const char* const kRetired[2][2] = {
    {"patchjob.vbe", "patchjob.vb_"},
    {"AlertKey.exe", "AlertKey.ex_"},
};

namespace {

int g_stepsDone = 0;

void StepDone() {
    ++g_stepsDone;
    if (g_stepHook != nullptr)
        g_stepHook(g_stepsDone);
}

// Every record of the unpack that has been written counts as a step.
int UnpackProgress(int32_t item, int32_t, uint64_t, uint64_t) {
    if (item > 0)
        StepDone();
    return 0;
}

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

bool LogWriteFailure(const char* path) {
    ErrorText reason(GetLastError());
    WRITE_LOG("%s 書き込み失敗 : %s .", path, reason.text);
    return false;
}

bool LogCopyFailure(const char* path) {
    ErrorText reason(GetLastError());
    WRITE_LOG("%s コピー失敗 : %s .", path, reason.text);
    return false;
}

// One record for the first problem that the check before the update found.
bool Checked(const CheckResult& check) {
    switch (check.problem) {
    case CheckProblem::kNone:
        return true;
    case CheckProblem::kPathTooLong:
        WRITE_LOG("パス生成失敗 %s .", check.path);
        break;
    case CheckProblem::kBadArchive:
        WRITE_LOG("展開に失敗 %d .", static_cast<int>(check.error));
        break;
    case CheckProblem::kNoSpace:
        WRITE_LOG("空き容量不足 %s : 必要 %lu KB, 空き %lu KB .", check.path,
                  static_cast<unsigned long>(check.needed / 1024),
                  static_cast<unsigned long>(check.available / 1024));
        break;
    case CheckProblem::kFolder:
        WRITE_LOG("更新不可 %s : フォルダです .", check.path);
        break;
    case CheckProblem::kUtf8Text:
        WRITE_LOG("更新不可 %s : UTF-8 の設定ファイルは書き換えられません .", check.path);
        break;
    case CheckProblem::kMalformedText:
        WRITE_LOG("更新不可 %s : 文字コードを判別できません .", check.path);
        break;
    case CheckProblem::kReadOnly:
    case CheckProblem::kSystemError: {
        ErrorText reason(check.error);
        WRITE_LOG("更新不可 %s : %s .", check.path, reason.text);
        break;
    }
    }
    return false;
}

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

// patchjob.ini as the customer had it, kept once: a later run finds the
// backup there and leaves it.
bool BackUpSettings(const char* settings) {
    char backup[kPathBufferSize];
    if (!MakePath(g_featureFolder, kPatchJobBackup, backup))
        return false;
    if (GetFileAttributesA(settings) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA(backup) != INVALID_FILE_ATTRIBUTES)
        return true;
    if (!CopyWholeFile(settings, backup, ExistingTarget::kKeep))
        return LogWriteFailure(backup);
    WRITE_LOG("バックアップ %s .", backup);
    StepDone();
    return true;
}

bool RewriteSettings(const char* settings, const char* sharePath) {
    if (!BackUpSettings(settings))
        return false;
    WRITE_LOG("%s の書き換え.", settings);
    PatchJobValues old;
    ReadPatchJobValues(settings, old);
    WRITE_LOG("旧値 SUS_SHARE=%s TLX_SHARE=%s WU_CMD=%s .", old.susShare, old.tlxShare, old.wuCmd);
    if (!RewritePatchJobIni(settings, sharePath))
        return LogWriteFailure(settings);
    StepDone();
    return true;
}

bool WriteCommandFiles(const char* serverName) {
    if (g_operationMode == kModeClient) {
        char runBat[kPathBufferSize];
        if (!MakePath(g_featureFolder, kPatchRunBat, runBat))
            return false;
        WRITE_LOG("%s の書き換え.", runBat);
        if (!WritePatchRunBat(runBat, serverName)) {
            WRITE_LOG("%s 生成失敗.", runBat);
            return false;
        }
        StepDone();
        return true;
    }
    char xpBat[kPathBufferSize];
    if (!MakePath(g_featureFolder, kPatchCliXpBat, xpBat))
        return false;
    WRITE_LOG("%s の生成.", xpBat);
    if (!WritePatchCliXpBat(xpBat, serverName, g_featureFolder)) {
        WRITE_LOG("%s 生成失敗.", xpBat);
        return false;
    }
    StepDone();
    char bat2000[kPathBufferSize];
    if (!MakePath(g_featureFolder, kPatchCli2000Bat, bat2000))
        return false;
    if (!CopyWholeFile(xpBat, bat2000, ExistingTarget::kReplace)) {
        LogCopyFailure(bat2000);
        WRITE_LOG("ファイルコピー失敗.");
        return false;
    }
    StepDone();
    return true;
}

// Libraries the install folder lacks are skipped; each one there must be
// copied.
bool CopyLibraries() {
    for (const char* library : kLibraries) {
        char source[kPathBufferSize];
        char target[kPathBufferSize];
        if (!MakePath(g_installPath, library, source) ||
            !MakePath(g_featureFolder, library, target))
            return false;
        if (GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES)
            continue;
        if (!CopyWholeFile(source, target, ExistingTarget::kReplace))
            return LogCopyFailure(target);
        StepDone();
    }
    return true;
}

// The marker as the unpack left it, under its aside name: removed again when
// the update fails after the unpack, since it says nothing yet.
class AsideMarker {
  public:
    ~AsideMarker() {
        if (armed_)
            RemoveFile(path_);
    }
    void Arm() { armed_ = JoinPath(g_featureFolder, kMarkerAside, path_, sizeof path_) != 0; }
    void Disarm() { armed_ = false; }

  private:
    bool armed_ = false;
    char path_[kPathBufferSize] = "";
};

bool Unpack(const char* payloadPath) {
    WRITE_LOG("展開先フォルダ %s .", g_featureFolder);
    char failed[kPathBufferSize];
    UnpackOptions options;
    options.overwriteCallback = AlwaysOverwrite;
    options.progressCallback = UnpackProgress;
    options.divertName = kMarkerFile;
    options.divertTo = kMarkerAside;
    options.failedTarget = failed;
    options.failedTargetCapacity = sizeof failed;
    const int code = ExtractFolderPackWith(g_featureFolder, payloadPath, options);
    // The payload file has served its purpose either way.
    RemoveFile(payloadPath);
    if (code < 0) {
        WRITE_LOG("展開に失敗 %d .", code);
        if (failed[0] != '\0')
            WRITE_LOG("%s 展開失敗.", failed);
        return false;
    }
    return true;
}

// The steps of the update in order; false as soon as one fails (the failure
// is logged by then).
bool RunSteps() {
    const WORD resourceId = g_operationMode == kModeServer ? kPayloadServer : kPayloadClient;
    const void* archive = nullptr;
    DWORD archiveSize = 0;
    if (!FindPayload(resourceId, &archive, &archiveSize))
        archiveSize = 0;
    // Nothing is changed until everything that will be can be.
    if (!Checked(CheckBeforeUpdate(archive, archiveSize)))
        return false;

    char payloadPath[kPathBufferSize];
    CopyText(payloadPath, GetPayloadTempPath());
    WRITE_LOG("テンポラリ %s 生成.", payloadPath);
    int written = WritePayloadFile(resourceId, payloadPath, 1);
    WRITE_LOG("出力結果 %d .", written);
    if (written == 0) {
        WRITE_LOG("ファイル生成失敗.");
        if (payloadPath[0] != '\0')
            RemoveFile(payloadPath);
        return false;
    }
    AsideMarker asideMarker;
    asideMarker.Arm();
    if (!Unpack(payloadPath))
        return false;

    char settings[kPathBufferSize];
    if (!MakePath(g_featureFolder, kPatchJobIni, settings))
        return false;
    char sharePath[kPathBufferSize];
    char serverName[kPathBufferSize];
    if (!FindShare(settings, sharePath, serverName) || !RewriteSettings(settings, sharePath) ||
        !WriteCommandFiles(serverName))
        return false;

    char serviceSettings[kPathBufferSize];
    if (!MakePath(g_featureFolder, kPatchSvcIni, serviceSettings))
        return false;
    if (!WritePatchSvcIni(serviceSettings, serverName))
        return LogWriteFailure(serviceSettings);
    StepDone();

    // A missing old file, or one whose new name is taken, keeps its name.
    for (const auto& names : kRetired) {
        char oldPath[kPathBufferSize];
        char newPath[kPathBufferSize];
        if (!MakePath(g_featureFolder, names[0], oldPath) ||
            !MakePath(g_featureFolder, names[1], newPath))
            return false;
        WRITE_LOG("旧 %s .", oldPath);
        WRITE_LOG("新 %s .", newPath);
        if (rename(oldPath, newPath) == 0)
            StepDone();
    }

    if (!CopyLibraries())
        return false;

    char aside[kPathBufferSize];
    char marker[kPathBufferSize];
    if (!MakePath(g_featureFolder, kMarkerAside, aside) ||
        !MakePath(g_featureFolder, kMarkerFile, marker))
        return false;
    if (!PutInPlace(aside, marker, ExistingTarget::kReplace)) {
        WRITE_LOG("%s 生成失敗.", marker);
        return false;
    }
    asideMarker.Disarm();
    StepDone();
    return true;
}

} // namespace

bool RunUpdate() {
    g_stepsDone = 0;
    return RunSteps();
}

unsigned UpdateWorker(void*) {
    WPARAM result = RunUpdate() ? 1 : 0;
    PostMessageA(g_mainWindow, WM_UPDATE_FINISHED, result, 0);
    return 0;
}

int AlwaysOverwrite(const char*) {
    return IDYES;
}
