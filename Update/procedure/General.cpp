// The update procedure: what an interrupted run left is removed, everything
// the plan touches is checked, what it will change is kept (Keep.h), then
// each step of the plan runs in turn, the marker last. Each kind of step is
// one row of kStepKinds: what it checks before the first change, what of
// the feature folder it changes and so has kept, and what it then does,
// over the same paths.
#include "General.h"

#include "ErrorText.h"
#include "FileLayer.h"
#include "FolderPack.h"
#include "GeneratedFiles.h"
#include "Keep.h"
#include "Log.h"
#include "LogTexts.h"
#include "LongPath.h"
#include "Payload.h"
#include "SystemLibrary.h"

#include <stdio.h>
#include <string.h>
#include <vector>

namespace {

// A step's files, joined to their folders once, for the check and the step.
struct StepPaths {
    const char* tooLong = nullptr; // the name that did not fit after its folder
    char target[kPathBufferSize] = "";
    char source[kPathBufferSize] = "";
    char work[kPathBufferSize] = ""; // the target's work name, where the kind writes one
};

// One update under way: what it works on, and what the check found that
// its steps then use.
struct Run {
    UpdateTarget target;
    HostNameLookup hostName = nullptr;
    Plan plan = {nullptr, 0};
    std::vector<StepPaths> paths; // one per step of the plan
    const void* archive = nullptr;
    DWORD archiveSize = 0;
    PayloadMembers members;
    ShareLookup share;
    Keep keep;                   // what an earlier run kept
    ToKeep toKeep;               // what the steps change
    std::vector<KeptName> added; // of that, what the keep does not hold yet
};

// The records of the share and the server, as the update found them; false
// (after the record that says why) when the update cannot go on.
bool LogShare(const ShareLookup& share) {
    WRITE_LOG(LOG_SHARE, share.tlxShare);
    if (share.noneNamed)
        WRITE_LOG(LOG_NO_SHARE);
    switch (share.outcome) {
    case ShareOutcome::kFound:
        break;
    case ShareOutcome::kNoShare:
        return false;
    case ShareOutcome::kNoHostName: {
        ErrorText reason(static_cast<DWORD>(share.hostError));
        WRITE_LOG(LOG_NO_HOST_NAME, reason.text);
        return false;
    }
    case ShareOutcome::kTooLong:
        WRITE_LOG(LOG_SHARE_TOO_LONG, share.serverName);
        return false;
    case ShareOutcome::kNotAHost: {
        char shown[kPathBufferSize * 4];
        PrintableValue(share.serverName, shown, sizeof shown);
        WRITE_LOG(LOG_BAD_SERVER_NAME, shown);
        return false;
    }
    case ShareOutcome::kCutValue:
        WRITE_LOG(LOG_SETTING_TOO_LONG, share.longKey);
        return false;
    }
    if (share.rescued)
        WRITE_LOG(LOG_SHARE, share.sharePath);
    WRITE_LOG(LOG_SERVER, share.serverName);
    return true;
}

} // namespace

bool LogFailure(const char* path, const char* what) {
    ErrorText reason(GetLastError());
    WRITE_LOG(LOG_FILE_FAILED, path, what, reason.text);
    return false;
}

bool Checked(const CheckResult& check) {
    switch (check.problem) {
    case CheckProblem::kNone:
        return true;
    case CheckProblem::kPathTooLong:
        WRITE_LOG(LOG_PATH_TOO_LONG, check.path);
        break;
    case CheckProblem::kBadArchive:
        WRITE_LOG(LOG_UNPACK_FAILED, static_cast<int>(check.error));
        break;
    case CheckProblem::kNoMarker:
        WRITE_LOG(LOG_UNPACK_FAILED, kFpBadFormat);
        WRITE_LOG(LOG_PAYLOAD_NO_MARKER, kMarkerFile);
        break;
    case CheckProblem::kNoSpace:
        WRITE_LOG(LOG_NO_SPACE, check.path, static_cast<unsigned long>(check.needed / 1024),
                  static_cast<unsigned long>(check.available / 1024));
        break;
    case CheckProblem::kFolder:
        WRITE_LOG(LOG_CANNOT_UPDATE_FOLDER, check.path);
        break;
    case CheckProblem::kUtf8Text:
        WRITE_LOG(LOG_CANNOT_UPDATE_UTF8, check.path);
        break;
    case CheckProblem::kMalformedText:
        WRITE_LOG(LOG_CANNOT_UPDATE_TEXT, check.path);
        break;
    case CheckProblem::kShare:
        LogShare(check.share);
        break;
    case CheckProblem::kCommandText: {
        char shown[kPathBufferSize * 4];
        PrintableValue(check.path, shown, sizeof shown);
        WRITE_LOG(LOG_CANNOT_UPDATE_COMMAND, shown);
        break;
    }
    case CheckProblem::kSystemError: {
        ErrorText reason(check.error);
        WRITE_LOG(LOG_CANNOT_UPDATE, check.path, reason.text);
        break;
    }
    }
    return false;
}

namespace {

// ---- the kinds of step: each one's check, what it changes, what it does ----

// The payload's files, the marker under its aside name.
bool CheckUnpack(Checker& check, Run& run, const PlanStep&, const StepPaths&) {
    return check.Members(run.members);
}

// The marker under its aside name is the update's own.
void KeepMembers(ToKeep& keep, const Run& run, const PlanStep&, const StepPaths&) {
    for (const PayloadMembers::File& file : run.members.files) {
        if (file.name != kMarkerAside)
            keep.Add(file.name.c_str());
    }
}

// Written out and unpacked through one handle; data reaches the disk file
// by file.
bool RunUnpack(Run& run, const PlanStep&, const StepPaths&) {
    char payloadPath[kPathBufferSize];
    UniqueHandle payload;
    const bool written = OpenPayloadFile(run.archive, run.archiveSize, payloadPath, payload);
    const DWORD error = GetLastError();
    WRITE_LOG(LOG_PAYLOAD_FILE, payloadPath);
    WRITE_LOG(LOG_PAYLOAD_WRITTEN, written ? 1 : 0);
    if (!written) {
        SetLastError(error);
        ErrorText reason(error);
        WRITE_LOG(LOG_PAYLOAD_FILE_FAILED, payloadPath, reason.text);
        return false;
    }
    WRITE_LOG(LOG_UNPACK_INTO, run.target.featureFolder);
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
    WRITE_LOG(LOG_UNPACK_FAILED, code);
    if (failed[0] != '\0' && options.failedError != 0) {
        ErrorText reason(options.failedError);
        WRITE_LOG(LOG_UNPACK_FILE_FAILED_BECAUSE, failed, reason.text);
    } else if (failed[0] != '\0') {
        WRITE_LOG(LOG_UNPACK_FILE_FAILED, failed);
    }
    return false;
}

// The share and the server the settings name: looked up once, by the check.
bool CheckReadShare(Checker& check, Run& run, const PlanStep&, const StepPaths& paths) {
    run.share = LookUpShare(paths.target, run.target.mode, run.hostName);
    check.Result().share = run.share;
    return run.share.outcome == ShareOutcome::kFound ||
           check.Fail(CheckProblem::kShare, paths.target);
}

bool RunReadShare(Run& run, const PlanStep&, const StepPaths&) {
    return LogShare(run.share);
}

void KeepNothing(ToKeep&, const Run&, const PlanStep&, const StepPaths&) {}

// patchjob.ini as the customer had it, kept once: a later run finds the
// backup there and leaves it.
bool CheckBackUp(Checker& check, Run&, const PlanStep&, const StepPaths& paths) {
    if (PathExists(paths.target) || !PathExists(paths.source))
        return true;
    check.NeedSizeOf(paths.source);
    return check.Usable(paths.source, ExistingFile::kRead);
}

void KeepBackUp(ToKeep& keep, const Run&, const PlanStep& step, const StepPaths& paths) {
    if (!PathExists(paths.target) && PathExists(paths.source))
        keep.Add(step.target);
}

bool RunBackUp(Run&, const PlanStep&, const StepPaths& paths) {
    if (!PathExists(paths.source) || PathExists(paths.target))
        return true;
    if (!CopyWholeFile(paths.source, paths.target, ExistingTarget::kKeep))
        return LogFailure(paths.target, LOG_WHAT_WRITE);
    WRITE_LOG(LOG_BACKUP, paths.target);
    return true;
}

// Settings keys set in a copy of the file.
bool CheckRewrite(Checker& check, Run&, const PlanStep&, const StepPaths& paths) {
    check.NeedSizeOf(paths.target);
    check.NeedSmallFile();
    return check.Usable(paths.target, ExistingFile::kRead) &&
           check.Usable(paths.target, ExistingFile::kReplaced) && check.SettingsText(paths.target);
}

// The target, whatever stands there.
void KeepTarget(ToKeep& keep, const Run&, const PlanStep& step, const StepPaths&) {
    keep.Add(step.target);
}

bool RunRewrite(Run& run, const PlanStep& step, const StepPaths& paths) {
    const char* target = paths.target;
    if (step.content == PlanContent::kPatchJob) {
        WRITE_LOG(LOG_REWRITE, target);
        PatchJobValues old;
        ReadPatchJobValues(target, old);
        WRITE_LOG(LOG_OLD_VALUES, old.susShare, old.tlxShare, old.wuCmd);
        return RewritePatchJobIni(target, run.share.sharePath) ||
               LogFailure(target, LOG_WHAT_WRITE);
    }
    return WritePatchSvcIni(target, run.share.serverName) || LogFailure(target, LOG_WHAT_WRITE);
}

// A file written whole, or copied from one an earlier step wrote.
bool CheckWrite(Checker& check, Run& run, const PlanStep& step, const StepPaths& paths) {
    if (step.content == PlanContent::kPatchCliXp && !CommandFileCarries(run.target.featureFolder))
        return check.Fail(CheckProblem::kCommandText, run.target.featureFolder);
    check.NeedSmallFile();
    return check.Usable(paths.target, ExistingFile::kReplaced);
}

bool RunWrite(Run& run, const PlanStep& step, const StepPaths& paths) {
    const char* target = paths.target;
    bool written;
    if (step.content == PlanContent::kPatchRun) {
        WRITE_LOG(LOG_REWRITE, target);
        written = WritePatchRunBat(target, run.share.serverName);
    } else {
        WRITE_LOG(LOG_CREATE, target);
        written = WritePatchCliXpBat(target, run.share.serverName, run.target.featureFolder);
    }
    return written || LogFailure(target, LOG_WHAT_CREATE);
}

bool RunCopy(Run&, const PlanStep&, const StepPaths& paths) {
    if (CopyWholeFile(paths.source, paths.target, ExistingTarget::kReplace))
        return true;
    LogFailure(paths.target, LOG_WHAT_COPY);
    WRITE_LOG(LOG_COPY_FAILED);
    return false;
}

// Libraries the install folder lacks are left out.
bool CheckCopyInstalled(Checker& check, Run&, const PlanStep&, const StepPaths& paths) {
    if (!PathExists(paths.source))
        return true;
    check.NeedSizeOf(paths.source);
    return check.Usable(paths.source, ExistingFile::kRead) &&
           check.Usable(paths.target, ExistingFile::kReplaced);
}

void KeepCopyInstalled(ToKeep& keep, const Run&, const PlanStep& step, const StepPaths& paths) {
    if (PathExists(paths.source))
        keep.Add(step.target);
}

bool RunCopyInstalled(Run&, const PlanStep&, const StepPaths& paths) {
    if (!PathExists(paths.source))
        return true;
    return CopyWholeFile(paths.source, paths.target, ExistingTarget::kReplace) ||
           LogFailure(paths.target, LOG_WHAT_COPY);
}

// A missing old file, or one whose new name is taken, keeps its name.
bool CheckRetire(Checker& check, Run&, const PlanStep&, const StepPaths& paths) {
    if (PathExists(paths.target) || !PathExists(paths.source))
        return true;
    return check.Usable(paths.source, ExistingFile::kKept);
}

// The old file goes, its new name comes.
void KeepRetire(ToKeep& keep, const Run&, const PlanStep& step, const StepPaths& paths) {
    if (PathExists(paths.target) || !PathExists(paths.source))
        return;
    keep.Add(step.source);
    keep.Add(step.target, step.source);
}

bool RunRetire(Run&, const PlanStep&, const StepPaths& paths) {
    WRITE_LOG(LOG_RENAME_FROM, paths.source);
    WRITE_LOG(LOG_RENAME_TO, paths.target);
    if (!PathExists(paths.source) || PathExists(paths.target))
        return true;
    return DiskMove(paths.source, paths.target, MOVEFILE_WRITE_THROUGH) ||
           LogFailure(paths.source, LOG_WHAT_RENAME);
}

// Looked at with the payload's files, among which it arrives.
bool CheckNothingMore(Checker&, Run&, const PlanStep&, const StepPaths&) {
    return true;
}

bool RunMarker(Run&, const PlanStep&, const StepPaths& paths) {
    return PutInPlace(paths.source, paths.target, ExistingTarget::kReplace) ||
           LogFailure(paths.target, LOG_WHAT_CREATE);
}

struct StepKind {
    // The step writes its target through its work name, which an
    // interrupted run may have left.
    bool usesWorkName;
    // What the check asks for before the first change; false once it found
    // a problem.
    bool (*check)(Checker& check, Run& run, const PlanStep& step, const StepPaths& paths);
    // The names of the feature folder that the step will change, as the
    // check found them; kept before the first change.
    void (*keep)(ToKeep& keep, const Run& run, const PlanStep& step, const StepPaths& paths);
    // The step itself; false (after the record that says why) when the
    // update fails.
    bool (*run)(Run& run, const PlanStep& step, const StepPaths& paths);
};

// In the order of PlanAction.
const StepKind kStepKinds[] = {
    {false, CheckUnpack, KeepMembers, RunUnpack},                    // kUnpack
    {false, CheckReadShare, KeepNothing, RunReadShare},              // kReadShare
    {true, CheckBackUp, KeepBackUp, RunBackUp},                      // kBackUp
    {true, CheckRewrite, KeepTarget, RunRewrite},                    // kRewrite
    {true, CheckWrite, KeepTarget, RunWrite},                        // kWrite
    {true, CheckWrite, KeepTarget, RunCopy},                         // kCopy
    {true, CheckCopyInstalled, KeepCopyInstalled, RunCopyInstalled}, // kCopyInstalled
    {false, CheckRetire, KeepRetire, RunRetire},                     // kRetire
    {false, CheckNothingMore, KeepTarget, RunMarker},                // kMarker
};
static_assert(sizeof kStepKinds / sizeof *kStepKinds ==
                  static_cast<size_t>(PlanAction::kMarker) + 1,
              "one kind for each action");

const StepKind& KindOf(const PlanStep& step) {
    return kStepKinds[static_cast<size_t>(step.action)];
}

// ---- the run ----

StepPaths PathsOf(const Run& run, const PlanStep& step) {
    StepPaths paths;
    const char* folder = run.target.featureFolder;
    if (step.target != nullptr &&
        (!JoinPath(folder, step.target, paths.target, sizeof paths.target) ||
         (KindOf(step).usesWorkName && !MakeWorkPath(paths.target, paths.work, sizeof paths.work))))
        paths.tooLong = step.target;
    const char* sourceFolder =
        step.action == PlanAction::kCopyInstalled ? run.target.installPath : folder;
    if (paths.tooLong == nullptr && step.source != nullptr &&
        !JoinPath(sourceFolder, step.source, paths.source, sizeof paths.source))
        paths.tooLong = step.source;
    return paths;
}

// The plan, its paths, the payload and its files, and what is kept.
void Prepare(Run& run, const UpdateTarget& target, HostNameLookup hostName, const void* archive,
             DWORD archiveSize) {
    run.target = target;
    run.hostName = hostName;
    run.plan = PlanFor(target.mode);
    for (const PlanStep& step : run.plan)
        run.paths.push_back(PathsOf(run, step));
    run.archive = archive;
    run.archiveSize = archiveSize;
    run.members = ReadPayloadMembers(archive, archiveSize, target.featureFolder);
    run.keep = ReadKeep(target.featureFolder);
    for (size_t i = 0; i < run.plan.count; ++i) {
        if (run.paths[i].tooLong == nullptr)
            KindOf(run.plan.steps[i]).keep(run.toKeep, run, run.plan.steps[i], run.paths[i]);
    }
    run.added = NotYetKept(run.keep, run.toKeep);
}

// Nothing is changed until everything that will be can be.
CheckResult Check(Run& run) {
    CheckResult result;
    Checker check(result);
    for (size_t i = 0; i < run.plan.count; ++i) {
        const PlanStep& step = run.plan.steps[i];
        const StepPaths& paths = run.paths[i];
        if (paths.tooLong != nullptr) {
            check.Fail(CheckProblem::kPathTooLong, paths.tooLong);
            return result;
        }
        if (!KindOf(step).check(check, run, step, paths))
            return result;
    }
    if (CheckKeep(check, run.keep, run.added))
        check.Space(run.target.featureFolder);
    return result;
}

// What is to be changed, kept before the first change.
bool KeepBeforeChange(const Run& run) {
    KeepFailure failure;
    if (WriteKeep(run.keep, run.added, failure))
        return true;
    const char* path = failure.path.c_str();
    switch (failure.step) {
    case KeepStep::kMakeFolder:
        return LogFailure(path, LOG_WHAT_CREATE);
    case KeepStep::kCopy:
        return LogFailure(path, LOG_WHAT_COPY);
    case KeepStep::kWriteList:
        break;
    }
    return LogFailure(path, LOG_WHAT_WRITE);
}

// The work names of the plan, the marker under its aside name, and the
// unpacker's new file in each folder that the payload writes to.
bool RemoveLeftovers(const Run& run) {
    for (size_t i = 0; i < run.plan.count; ++i) {
        const PlanStep& step = run.plan.steps[i];
        const StepPaths& paths = run.paths[i];
        if (paths.tooLong != nullptr)
            continue;
        if (step.action == PlanAction::kMarker && !RemoveLeftover(paths.source))
            return false;
        if (KindOf(step).usesWorkName && !RemoveLeftover(paths.work))
            return false;
    }
    for (const std::string& folder : run.members.folders) {
        if (!RemoveLeftover((folder + kFpNewFileName).c_str()))
            return false;
    }
    return RemoveKeepLeftovers(run.keep);
}

// The marker as the unpack left it, under its aside name: removed again when
// the update fails after the unpack, since it says nothing yet.
class AsideMarker {
  public:
    explicit AsideMarker(const char* folder) {
        armed_ = JoinPath(folder, kMarkerAside, path_, sizeof path_);
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

bool Payload(OperationMode mode, const void** archive, DWORD* size) {
    if (FindPayload(mode == OperationMode::kServer ? kPayloadServer : kPayloadClient, archive,
                    size))
        return true;
    *archive = nullptr;
    *size = 0;
    return false;
}

} // namespace

bool RemoveLeftover(const char* path) {
    if (GetFileAttributesLong(path) == INVALID_FILE_ATTRIBUTES)
        return true;
    if (!RemoveFile(path))
        return LogFailure(path, LOG_WHAT_REMOVE);
    WRITE_LOG(LOG_LEFTOVER_REMOVED, path);
    return true;
}

bool RemoveKeepLeftovers(const Keep& keep) {
    for (const std::string& file : KeepLeftovers(keep)) {
        if (!RemoveLeftover(file.c_str()))
            return false;
    }
    const char* folder = keep.folder.c_str();
    const DWORD attributes = GetFileAttributesLong(folder);
    if (!KeepFolderIsLeftover(keep) || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    if (!DiskRemoveFolder(folder))
        return LogFailure(folder, LOG_WHAT_REMOVE);
    WRITE_LOG(LOG_LEFTOVER_REMOVED, folder);
    return true;
}

CheckResult CheckBeforeUpdate(const UpdateTarget& target, const void* archive, DWORD archiveSize,
                              HostNameLookup hostName) {
    Run run;
    Prepare(run, target, hostName, archive, archiveSize);
    return Check(run);
}

bool RunUpdate(const UpdateTarget& target, const UpdateHooks& hooks) {
    if (hooks.started != nullptr)
        hooks.started();
    const void* archive;
    DWORD archiveSize;
    Payload(target.mode, &archive, &archiveSize);
    Run run;
    Prepare(run, target, hooks.hostName != nullptr ? hooks.hostName : LocalHostName, archive,
            archiveSize);
    if (!RemoveLeftovers(run) || !Checked(Check(run)) || !KeepBeforeChange(run))
        return false;
    AsideMarker asideMarker(target.featureFolder);
    for (size_t i = 0; i < run.plan.count; ++i) {
        const PlanStep& step = run.plan.steps[i];
        if (!KindOf(step).run(run, step, run.paths[i]))
            return false;
    }
    asideMarker.Disarm();
    return true;
}

unsigned UpdateWorker(void* param) {
    UpdateWork& work = *static_cast<UpdateWork*>(param);
    const bool succeeded = RunUpdate(work.target, work.hooks);
    if (work.finished != nullptr)
        work.finished(succeeded);
    return 0;
}

int AlwaysOverwrite(const char*) {
    return kFpAnswerYes;
}
