#include "Undo.h"

#include "FileLayer.h"
#include "FolderPack.h"
#include "General.h"
#include "Keep.h"
#include "Log.h"
#include "LogTexts.h"
#include "LongPath.h"
#include "Mbcs.h"
#include "Plan.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The order in which the undo puts names back: the marker first; a file
// renamed back before its old name is written (no start finds both names,
// or neither); a file kept before one the update added is removed (a start
// never finds patchjob.ini.bak gone while patchjob.ini is not yet back).
enum class Pass { kMarker, kRenamedBack, kKept, kAdded };

Pass PassOf(const KeptName& kept) {
    if (kept.name == kMarkerFile)
        return Pass::kMarker;
    if (kept.existed)
        return Pass::kKept;
    return kept.from.empty() ? Pass::kAdded : Pass::kRenamedBack;
}

std::string MarkerOf(const Keep& keep) {
    KeptName marker;
    marker.name = kMarkerFile;
    return keep.PathOf(marker);
}

// The unpacker's new file in each folder of the kept names, and the keep's
// own (among them the work names of the kept files; the marker's is its
// aside name).
bool RemoveLeftovers(const Keep& keep) {
    std::vector<std::string> folders;
    for (const KeptName& kept : keep.names) {
        const std::string path = keep.PathOf(kept);
        const char* last = MbcsFindLast(path.c_str(), path.size(), '\\');
        const std::string folder(path.c_str(), last != nullptr ? last + 1 : path.c_str());
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    for (const std::string& folder : folders) {
        if (!RemoveLeftover((folder + kFpNewFileName).c_str()))
            return false;
    }
    return RemoveKeepLeftovers(keep);
}

// Every file to put back or remove can be, every copy is there as it was
// kept, and the drive has room for each file written beside its target.
CheckResult Check(const Keep& keep) {
    CheckResult result;
    Checker check(result);
    if (keep.state == KeepState::kUnreadable) {
        check.Fail(CheckProblem::kSystemError, keep.list.c_str(), keep.error);
        return result;
    }
    for (const KeptName& kept : keep.names) {
        const std::string path = keep.PathOf(kept);
        if (path.size() + sizeof kWorkSuffix > MAX_PATH) {
            check.Fail(CheckProblem::kPathTooLong, kept.name.c_str());
            return result;
        }
        if (!check.Usable(path.c_str(), ExistingFile::kReplaced))
            return result;
        if (!kept.existed)
            continue;
        const std::string copy = keep.CopyOf(kept);
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(copy.c_str(), GetFileExInfoStandard, &data)) {
            check.Fail(CheckProblem::kSystemError, copy.c_str(), GetLastError());
            return result;
        }
        if (((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) !=
            kept.size) {
            check.Fail(CheckProblem::kSystemError, copy.c_str(), ERROR_FILE_CORRUPT);
            return result;
        }
        if (!check.Usable(copy.c_str(), ExistingFile::kRead))
            return result;
        check.Need(kept.size);
    }
    check.Space(keep.feature.c_str());
    return result;
}

// A file the update added, removed. A read-only one takes its work name
// first: a stop between clearing its read-only bit and removing it then
// leaves a leftover, never the file without its bit, which an update would
// keep as it found it (patchjob.ini.bak).
bool RemoveAdded(const std::string& path) {
    const DWORD attributes = GetFileAttributesLong(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return RemoveFile(path.c_str()) || LogFailure(path.c_str(), LOG_WHAT_REMOVE);
    const std::string work = path + kWorkSuffix;
    if (!DiskMove(path.c_str(), work.c_str(), MOVEFILE_WRITE_THROUGH))
        return LogFailure(path.c_str(), LOG_WHAT_RENAME);
    return RemoveFile(work.c_str()) || LogFailure(work.c_str(), LOG_WHAT_REMOVE);
}

// One name as it was: its copy put back (content, attributes, last-write
// time), or the file the update added removed.
bool PutBack(const Keep& keep, const KeptName& kept) {
    const std::string path = keep.PathOf(kept);
    if (!kept.from.empty() && PathExists(path.c_str())) {
        KeptName old;
        old.name = kept.from;
        const std::string from = keep.PathOf(old);
        if (!PathExists(from.c_str())) {
            WRITE_LOG(LOG_RESTORE, from.c_str());
            return DiskMove(path.c_str(), from.c_str(), MOVEFILE_WRITE_THROUGH) ||
                   LogFailure(path.c_str(), LOG_WHAT_RENAME);
        }
    }
    if (!kept.existed) {
        if (!PathExists(path.c_str()))
            return true;
        WRITE_LOG(LOG_REMOVE, path.c_str());
        return RemoveAdded(path);
    }
    WRITE_LOG(LOG_RESTORE, path.c_str());
    return CopyWholeFile(keep.CopyOf(kept).c_str(), path.c_str(), ExistingTarget::kReplace) ||
           LogFailure(path.c_str(), LOG_WHAT_RESTORE);
}

// The list takes its undone name first: a keep stopped on its way out is no
// longer one to restore from, and the next run removes the rest of it.
bool RemoveKeep(const Keep& keep) {
    WRITE_LOG(LOG_REMOVE, keep.folder.c_str());
    if (!DiskMove(keep.list.c_str(), keep.undone.c_str(), MOVEFILE_WRITE_THROUGH))
        return LogFailure(keep.list.c_str(), LOG_WHAT_RENAME);
    for (const std::string& file : FilesIn(keep.folder)) {
        if (_stricmp(file.c_str(), keep.undone.c_str()) != 0 && !RemoveFile(file.c_str()))
            return LogFailure(file.c_str(), LOG_WHAT_REMOVE);
    }
    if (!RemoveFile(keep.undone.c_str()))
        return LogFailure(keep.undone.c_str(), LOG_WHAT_REMOVE);
    return DiskRemoveFolder(keep.folder.c_str()) ||
           LogFailure(keep.folder.c_str(), LOG_WHAT_REMOVE);
}

} // namespace

UndoPreview LookAtUndo(const UpdateTarget& target) {
    const Keep keep = ReadKeep(target.featureFolder);
    UndoPreview preview;
    switch (keep.state) {
    case KeepState::kUnreadable:
        preview.outcome = UndoOutcome::kFailed;
        break;
    case KeepState::kComplete:
        preview.outcome = UndoOutcome::kUndone;
        for (const KeptName& kept : keep.names) {
            if (kept.existed)
                ++preview.restored;
            else if (kept.from.empty() && PathExists(keep.PathOf(kept).c_str()))
                ++preview.removed;
        }
        break;
    case KeepState::kNone:
    case KeepState::kIncomplete:
    case KeepState::kUndone:
        if (PathExists(MarkerOf(keep).c_str()))
            preview.outcome = UndoOutcome::kNothingKept;
        else if (keep.state != KeepState::kNone)
            preview.outcome = UndoOutcome::kUndone;
        break;
    }
    return preview;
}

UndoOutcome RunUndo(const UpdateTarget& target) {
    const Keep keep = ReadKeep(target.featureFolder);
    if (keep.state != KeepState::kComplete && keep.state != KeepState::kUnreadable) {
        // No keep, or what a run stopped on its way in or out left of one.
        if (PathExists(MarkerOf(keep).c_str())) {
            WRITE_LOG(LOG_NOTHING_KEPT, keep.folder.c_str());
            return UndoOutcome::kNothingKept;
        }
        if (keep.state == KeepState::kNone) {
            WRITE_LOG(LOG_NOTHING_TO_UNDO);
            return UndoOutcome::kNothingToUndo;
        }
        return RemoveKeepLeftovers(keep) ? UndoOutcome::kUndone : UndoOutcome::kFailed;
    }
    if (!RemoveLeftovers(keep) || !Checked(Check(keep)))
        return UndoOutcome::kFailed;
    // The marker first: from here on a start sees a folder to update.
    for (const Pass pass : {Pass::kMarker, Pass::kRenamedBack, Pass::kKept, Pass::kAdded}) {
        for (const KeptName& kept : keep.names) {
            if (PassOf(kept) == pass && !PutBack(keep, kept))
                return UndoOutcome::kFailed;
        }
    }
    return RemoveKeep(keep) ? UndoOutcome::kUndone : UndoOutcome::kFailed;
}
