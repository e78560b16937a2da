// The update procedure: what an interrupted run left is removed, everything
// the plan touches is checked, then each step of the plan runs in turn, the
// marker last.
#include "General.h"

#include "ErrorText.h"
#include "FileLayer.h"
#include "GeneratedFiles.h"
#include "Log.h"
#include "LongPath.h"
#include "Mbcs.h"
#include "PathHelpers.h"
#include "Payload.h"
#include "Plan.h"
#include "Precheck.h"
#include "SystemLibrary.h"
#include "pack/FolderPack.h"
#include "pack/FolderPackReader.h"

#include <stdio.h>
#include <string.h>

namespace {

// One update under way: what it works on and what its steps learn.
struct Run {
    UpdateTarget target;
    HostNameLookup hostName;
    Plan plan;
    const void* archive = nullptr;
    DWORD archiveSize = 0;
    ShareLookup share;
};

// folder + "\" + name; a path that does not fit fails the update.
bool MakePath(const char* folder, const char* name, char* out) {
    if (JoinPath(folder, name, out, kPathBufferSize))
        return true;
    WRITE_LOG("パス生成失敗 %s .", name);
    return false;
}

// "<file> <what> : <the system's text> ." for the last error; false.
bool LogFailure(const char* path, const char* what) {
    ErrorText reason(GetLastError());
    WRITE_LOG("%s %s : %s .", path, what, reason.text);
    return false;
}

// The records of the share and the server, as the update reads them; false
// (after the record that says why) when the update cannot go on.
bool LogShare(const ShareLookup& share) {
    WRITE_LOG("TLX共有フォルダ %s .", share.tlxShare);
    if (share.noneNamed)
        WRITE_LOG("救済措置失敗.");
    switch (share.outcome) {
    case ShareOutcome::kFound:
        break;
    case ShareOutcome::kNoShare:
        return false;
    case ShareOutcome::kNoHostName: {
        ErrorText reason(static_cast<DWORD>(share.hostError));
        WRITE_LOG("サーバ救済措置失敗 : %s .", reason.text);
        return false;
    }
    case ShareOutcome::kTooLong:
        WRITE_LOG("共有パス生成失敗 %s .", share.serverName);
        return false;
    case ShareOutcome::kNotAHost: {
        char shown[kPathBufferSize * 4];
        PrintableValue(share.serverName, shown, sizeof shown);
        WRITE_LOG("サーバ名不正 %s : 英数字と - . _ 以外は使えません .", shown);
        return false;
    }
    }
    if (share.rescued)
        WRITE_LOG("TLX共有フォルダ %s .", share.sharePath);
    WRITE_LOG("サーバ %s .", share.serverName);
    return true;
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
    case CheckProblem::kNoMarker:
        WRITE_LOG("展開に失敗 %d .", kFpBadFormat);
        WRITE_LOG("ペイロードに %s がありません .", kMarkerFile);
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
    case CheckProblem::kShare:
        LogShare(check.share);
        break;
    case CheckProblem::kSystemError: {
        ErrorText reason(check.error);
        WRITE_LOG("更新不可 %s : %s .", check.path, reason.text);
        break;
    }
    }
    return false;
}

// What an interrupted run left, removed before anything else: the work
// names of the plan, the marker under its aside name, and the unpacker's
// new file beside each file of the payload.
bool RemoveLeftover(const char* path) {
    if (GetFileAttributesLong(path) == INVALID_FILE_ATTRIBUTES)
        return true;
    if (!RemoveFile(path))
        return LogFailure(path, "削除失敗");
    WRITE_LOG("中断時の残り %s を削除.", path);
    return true;
}

struct LeftoverWalk {
    bool ok = true;
};

void RemoveNewFileBeside(void* context, const PackRecord& record) {
    LeftoverWalk& walk = *static_cast<LeftoverWalk*>(context);
    if (!walk.ok || record.Folder())
        return;
    const size_t length = strlen(record.target);
    const char* last = MbcsFindLast(record.target, length, '\\');
    char path[kFpPathBufferSize + sizeof kFpNewFileName];
    const size_t folder = static_cast<size_t>(last - record.target) + 1;
    memcpy(path, record.target, folder);
    memcpy(path + folder, kFpNewFileName, sizeof kFpNewFileName);
    walk.ok = RemoveLeftover(path);
}

bool RemoveLeftovers(const Run& run) {
    const char* folder = run.target.featureFolder;
    char path[kPathBufferSize];
    for (const PlanStep& step : run.plan) {
        if (step.action == PlanAction::kMarker) {
            if (!JoinPath(folder, step.source, path, sizeof path) || !RemoveLeftover(path))
                return false;
        }
        char work[kPathBufferSize];
        if (UsesWorkName(step) && JoinPath(folder, step.target, path, sizeof path) &&
            MakeWorkPath(path, work, sizeof work) && !RemoveLeftover(work))
            return false;
    }
    LeftoverWalk walk;
    ArchiveReader reader(static_cast<const char*>(run.archive), run.archiveSize);
    TestFolderPack(reader, folder, ChunkCheck::kLengths, RemoveNewFileBeside, &walk);
    return walk.ok;
}

// The payload, written out and unpacked through one handle; the marker goes
// to its aside name. Data reaches the disk file by file.
bool Unpack(const Run& run) {
    char payloadPath[kPathBufferSize];
    UniqueHandle payload;
    const bool written = OpenPayloadFile(run.archive, run.archiveSize, payloadPath, payload);
    const DWORD error = GetLastError();
    WRITE_LOG("テンポラリ %s 生成.", payloadPath);
    WRITE_LOG("出力結果 %d .", written ? 1 : 0);
    if (!written) {
        SetLastError(error);
        ErrorText reason(error);
        WRITE_LOG("ファイル生成失敗 %s : %s .", payloadPath, reason.text);
        return false;
    }
    WRITE_LOG("展開先フォルダ %s .", run.target.featureFolder);
    char failed[kPathBufferSize];
    UnpackOptions options;
    options.overwrite = [](void*, const char* target) { return AlwaysOverwrite(target); };
    options.divertName = kMarkerFile;
    options.divertTo = kMarkerAside;
    options.durability = Durability::kFlushed;
    options.failedTarget = failed;
    options.failedTargetCapacity = sizeof failed;
    const int code = ExtractFolderPackFrom(run.target.featureFolder, payload.Get(), options);
    if (code >= 0)
        return true;
    WRITE_LOG("展開に失敗 %d .", code);
    if (failed[0] != '\0' && options.failedError != 0) {
        ErrorText reason(options.failedError);
        WRITE_LOG("%s 展開失敗 : %s .", failed, reason.text);
    } else if (failed[0] != '\0') {
        WRITE_LOG("%s 展開失敗.", failed);
    }
    return false;
}

// patchjob.ini as the customer had it, kept once: a later run finds the
// backup there and leaves it.
bool BackUp(const char* target, const char* source) {
    if (GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES)
        return true;
    if (!CopyWholeFile(source, target, ExistingTarget::kKeep))
        return LogFailure(target, "書き込み失敗");
    WRITE_LOG("バックアップ %s .", target);
    return true;
}

bool Rewrite(const Run& run, const PlanStep& step, const char* target) {
    if (step.content == PlanContent::kPatchJob) {
        WRITE_LOG("%s の書き換え.", target);
        PatchJobValues old;
        ReadPatchJobValues(target, old);
        WRITE_LOG("旧値 SUS_SHARE=%s TLX_SHARE=%s WU_CMD=%s .", old.susShare, old.tlxShare,
                  old.wuCmd);
        if (!RewritePatchJobIni(target, run.share.sharePath))
            return LogFailure(target, "書き込み失敗");
        return true;
    }
    if (!WritePatchSvcIni(target, run.share.serverName))
        return LogFailure(target, "書き込み失敗");
    return true;
}

bool Write(const Run& run, const PlanStep& step, const char* target) {
    int written;
    if (step.content == PlanContent::kPatchRun) {
        WRITE_LOG("%s の書き換え.", target);
        written = WritePatchRunBat(target, run.share.serverName);
    } else {
        WRITE_LOG("%s の生成.", target);
        written = WritePatchCliXpBat(target, run.share.serverName, run.target.featureFolder);
    }
    return written != 0 || LogFailure(target, "生成失敗");
}

// A missing old file, or one whose new name is taken, keeps its name.
bool Retire(const char* target, const char* source) {
    WRITE_LOG("旧 %s .", source);
    WRITE_LOG("新 %s .", target);
    if (GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES)
        return true;
    return DiskMove(source, target, MOVEFILE_WRITE_THROUGH) || LogFailure(source, "名前変更失敗");
}

// The marker as the unpack left it, under its aside name: removed again when
// the update fails after the unpack, since it says nothing yet.
class AsideMarker {
  public:
    explicit AsideMarker(const char* folder) {
        armed_ = JoinPath(folder, kMarkerAside, path_, sizeof path_) != 0;
    }
    ~AsideMarker() {
        if (armed_)
            RemoveFile(path_);
    }
    void Disarm() { armed_ = false; }

  private:
    bool armed_ = false;
    char path_[kPathBufferSize] = "";
};

bool RunStep(Run& run, const PlanStep& step) {
    const char* folder = run.target.featureFolder;
    char target[kPathBufferSize] = "";
    char source[kPathBufferSize] = "";
    if (step.target != nullptr && !MakePath(folder, step.target, target))
        return false;
    if (step.source != nullptr &&
        !MakePath(step.action == PlanAction::kCopyInstalled ? run.target.installPath : folder,
                  step.source, source))
        return false;
    switch (step.action) {
    case PlanAction::kUnpack:
        return Unpack(run);
    case PlanAction::kReadShare:
        run.share = LookUpShare(target, run.target.mode, run.hostName);
        return LogShare(run.share);
    case PlanAction::kBackUp:
        return BackUp(target, source);
    case PlanAction::kRewrite:
        return Rewrite(run, step, target);
    case PlanAction::kWrite:
        return Write(run, step, target);
    case PlanAction::kCopy:
        if (CopyWholeFile(source, target, ExistingTarget::kReplace))
            return true;
        LogFailure(target, "コピー失敗");
        WRITE_LOG("ファイルコピー失敗.");
        return false;
    case PlanAction::kCopyInstalled:
        // Libraries the install folder lacks are left out.
        if (GetFileAttributesA(source) == INVALID_FILE_ATTRIBUTES)
            return true;
        return CopyWholeFile(source, target, ExistingTarget::kReplace) ||
               LogFailure(target, "コピー失敗");
    case PlanAction::kRetire:
        return Retire(target, source);
    case PlanAction::kMarker:
        return PutInPlace(source, target, ExistingTarget::kReplace) ||
               LogFailure(target, "生成失敗");
    }
    return false;
}

bool RunSteps(Run& run) {
    if (!FindPayload(run.target.mode == 1 ? kPayloadServer : kPayloadClient, &run.archive,
                     &run.archiveSize)) {
        run.archive = nullptr;
        run.archiveSize = 0;
    }
    if (!RemoveLeftovers(run))
        return false;
    // Nothing is changed until everything that will be can be.
    if (!Checked(
            CheckBeforeUpdate(run.target, run.plan, run.archive, run.archiveSize, run.hostName)))
        return false;
    AsideMarker asideMarker(run.target.featureFolder);
    for (const PlanStep& step : run.plan) {
        if (!RunStep(run, step))
            return false;
    }
    asideMarker.Disarm();
    return true;
}

} // namespace

bool RunUpdate(const UpdateTarget& target, const UpdateHooks& hooks) {
    if (hooks.started != nullptr)
        hooks.started();
    Run run;
    run.target = target;
    run.hostName = hooks.hostName != nullptr ? hooks.hostName : LocalHostName;
    run.plan = PlanFor(target.mode);
    return RunSteps(run);
}

unsigned UpdateWorker(void* param) {
    UpdateWork& work = *static_cast<UpdateWork*>(param);
    const bool succeeded = RunUpdate(work.target, work.hooks);
    if (work.finished != nullptr)
        work.finished(work.context, succeeded);
    return 0;
}

int AlwaysOverwrite(const char*) {
    return IDYES;
}
