#include "Precheck.h"

#include "FileLayer.h"
#include "GeneratedFiles.h"
#include "LongPath.h"
#include "Mbcs.h"
#include "Owners.h"
#include "pack/FolderPackReader.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Space is taken in clusters; every file may also need a directory entry.
constexpr unsigned long long kCluster = 4096;
constexpr unsigned long long kMargin = 256 * 1024;
// Settings files larger than this are checked on their first bytes only.
constexpr DWORD kTextCheckLimit = 4 * 1024 * 1024;

// A sample of the first bytes may end in the lead byte of a character that
// goes on after it.
bool IsWellFormedText(const unsigned char* p, size_t size, Sample sample) {
    for (size_t i = 0; i < size; ++i) {
        if (MbcsIsLeadByte(p[i])) {
            if (i + 1 >= size)
                return sample == Sample::kFirstBytes;
            if (!MbcsIsTrailByte(p[i + 1]))
                return false;
            ++i;
        } else if (p[i] == 0x80 || p[i] == 0xA0 || p[i] >= 0xFD) {
            return false;
        }
    }
    return true;
}

bool IsUtf8(const unsigned char* p, size_t size, Sample sample) {
    for (size_t i = 0; i < size;) {
        const unsigned char c = p[i];
        size_t follow;
        if (c < 0x80)
            follow = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            follow = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            follow = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            follow = 3;
        else
            return false;
        for (size_t k = 1; k <= follow; ++k) {
            if (i + k >= size)
                return sample == Sample::kFirstBytes;
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += follow + 1;
    }
    return true;
}

unsigned long long RoundUp(unsigned long long bytes) {
    return (bytes + kCluster - 1) / kCluster * kCluster;
}

class Checker {
  public:
    Checker(const UpdateTarget& target, CheckResult& result) : target_(target), result_(result) {}

    bool Fail(CheckProblem problem, const char* path, DWORD error = 0) {
        result_.problem = problem;
        const size_t n = CutToWholeCharacters(path, sizeof result_.path - 1);
        memcpy(result_.path, path, n);
        result_.path[n] = '\0';
        result_.error = error;
        return false;
    }
    bool Failed() const { return result_.problem != CheckProblem::kNone; }

    // folder + name into out; false (a failure) when it or, when the step
    // writes through it, its work name does not fit the byte-string calls.
    bool Join(const char* folder, const char* name, char* out, bool workName = false) {
        char work[kPathBufferSize];
        if (!JoinPath(folder, name, out, kPathBufferSize) ||
            (workName && !MakeWorkPath(out, work, sizeof work)))
            return Fail(CheckProblem::kPathTooLong, name);
        return true;
    }

    // True when the file is absent or can be used as the step needs; the
    // opens ask for the access the step's own calls will, with every kind of
    // sharing offered, so that one fails exactly when another handle (or a
    // running program) keeps that access out.
    bool Usable(const char* path, ExistingFile use) {
        const DWORD attributes = GetFileAttributesLong(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return true;
            return Fail(CheckProblem::kSystemError, path, error);
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return Fail(CheckProblem::kFolder, path);
        if (use == ExistingFile::kRead) {
            // Read as the copy reads it: only reading shared.
            UniqueHandle file(CreateFileLong(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
            return file.IsValid() || Fail(CheckProblem::kSystemError, path, GetLastError());
        }
        // Replaced or renamed: the name must be free to go. A read-only file
        // is made writable only by the step itself, so only its name is asked
        // for; any other file is asked for writing too, which a running
        // program refuses.
        DWORD access = DELETE;
        if (use == ExistingFile::kReplaced && !(attributes & FILE_ATTRIBUTE_READONLY))
            access |= GENERIC_WRITE;
        UniqueHandle file(DiskOpen(path, access, kShareAll, OPEN_EXISTING, 0));
        return file.IsValid() || Fail(CheckProblem::kSystemError, path, GetLastError());
    }

    // Space for a file of this size written beside the one it replaces.
    void Need(unsigned long long bytes) { needed_ += RoundUp(bytes) + kCluster; }
    void NeedSizeOf(const char* path) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(path, GetFileExInfoStandard, &data))
            Need((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    }

    bool Members(const void* archive, DWORD size) {
        ArchiveReader reader(static_cast<const char*>(archive), size);
        const int code =
            TestFolderPack(reader, target_.featureFolder, ChunkCheck::kLengths, VisitMember, this);
        if (Failed())
            return false;
        if (code != kFpOk)
            return Fail(CheckProblem::kBadArchive, "", static_cast<DWORD>(code));
        return marker_ || Fail(CheckProblem::kNoMarker, kMarkerFile);
    }

    // A settings file that the profile functions would corrupt is refused.
    bool SettingsText(const char* path) {
        UniqueHandle file(
            CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file.IsValid())
            return true;
        HeapBlock text(malloc(kTextCheckLimit));
        DWORD got = 0;
        if (!text.IsValid() || !ReadFile(file.Get(), text.Bytes(), kTextCheckLimit, &got, nullptr))
            return Fail(CheckProblem::kSystemError, path, GetLastError());
        LARGE_INTEGER size = {};
        GetFileSizeEx(file.Get(), &size);
        const Sample sample = static_cast<unsigned long long>(size.QuadPart) > got
                                  ? Sample::kFirstBytes
                                  : Sample::kWhole;
        switch (ClassifyText(text.Bytes(), got, sample)) {
        case TextKind::kUtf8:
            return Fail(CheckProblem::kUtf8Text, path);
        case TextKind::kMalformed:
            return Fail(CheckProblem::kMalformedText, path);
        default:
            return true;
        }
    }

    bool Share(const char* patchJobIni, HostNameLookup hostName) {
        result_.share = LookUpShare(patchJobIni, target_.mode, hostName);
        return result_.share.outcome == ShareOutcome::kFound ||
               Fail(CheckProblem::kShare, patchJobIni);
    }

    bool Step(const PlanStep& step, HostNameLookup hostName);

    bool Space() {
        char root[kPathBufferSize];
        if (!JoinPath(target_.featureFolder, "", root, sizeof root))
            return Fail(CheckProblem::kPathTooLong, target_.featureFolder);
        ULARGE_INTEGER available;
        if (!GetDiskFreeSpaceExA(root, &available, nullptr, nullptr))
            return Fail(CheckProblem::kSystemError, target_.featureFolder, GetLastError());
        result_.needed = needed_ + kMargin;
        result_.available = available.QuadPart;
        if (result_.available < result_.needed)
            return Fail(CheckProblem::kNoSpace, target_.featureFolder);
        return true;
    }

  private:
    // Each file of the archive replaces one in the feature folder; the
    // marker arrives under its aside name. The first problem is kept.
    static void VisitMember(void* context, const PackRecord& record) {
        Checker& check = *static_cast<Checker*>(context);
        if (record.Folder() || check.Failed())
            return;
        const bool marker = _stricmp(record.name, kMarkerFile) == 0;
        check.marker_ = check.marker_ || marker;
        const char* name = marker ? kMarkerAside : record.name;
        char target[kFpPathBufferSize];
        if (!JoinPath(check.target_.featureFolder, name, target, sizeof target)) {
            check.Fail(CheckProblem::kPathTooLong, name);
            return;
        }
        if (check.Usable(target, ExistingFile::kReplaced))
            check.Need(record.head.originalSize);
    }

    const UpdateTarget& target_;
    CheckResult& result_;
    unsigned long long needed_ = 0;
    bool marker_ = false;
};

bool Exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool Checker::Step(const PlanStep& step, HostNameLookup hostName) {
    const char* feature = target_.featureFolder;
    char target[kPathBufferSize] = "";
    char source[kPathBufferSize] = "";
    if (step.target != nullptr && !Join(feature, step.target, target, UsesWorkName(step)))
        return false;
    if (step.source != nullptr &&
        !Join(step.action == PlanAction::kCopyInstalled ? target_.installPath : feature,
              step.source, source))
        return false;
    switch (step.action) {
    case PlanAction::kUnpack:
    case PlanAction::kMarker:
        // The payload's members, the marker's aside name among them.
        return true;
    case PlanAction::kReadShare:
        return Share(target, hostName);
    case PlanAction::kBackUp:
        // Made once, from the file as it is now.
        if (Exists(target) || !Exists(source))
            return true;
        NeedSizeOf(source);
        return Usable(source, ExistingFile::kRead);
    case PlanAction::kRewrite:
        NeedSizeOf(target);
        Need(kCluster);
        return Usable(target, ExistingFile::kRead) && Usable(target, ExistingFile::kReplaced) &&
               SettingsText(target);
    case PlanAction::kWrite:
    case PlanAction::kCopy:
        Need(kCluster);
        return Usable(target, ExistingFile::kReplaced);
    case PlanAction::kCopyInstalled:
        if (!Exists(source))
            return true;
        NeedSizeOf(source);
        return Usable(source, ExistingFile::kRead) && Usable(target, ExistingFile::kReplaced);
    case PlanAction::kRetire:
        // A file under the new name already keeps the old one where it is.
        if (Exists(target) || !Exists(source))
            return true;
        return Usable(source, ExistingFile::kKept);
    }
    return true;
}

} // namespace

TextKind ClassifyText(const char* data, size_t size, Sample sample) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    if (size >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF)))
        return TextKind::kUtf16;
    if (size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        return TextKind::kUtf8;
    bool ascii = true;
    for (size_t i = 0; ascii && i < size; ++i)
        ascii = p[i] < 0x80;
    if (ascii)
        return TextKind::kAnsi;
    // Japanese in code page 932 is hardly ever valid UTF-8, and the reverse.
    if (IsUtf8(p, size, sample))
        return TextKind::kUtf8;
    return IsWellFormedText(p, size, sample) ? TextKind::kAnsi : TextKind::kMalformed;
}

CheckResult CheckBeforeUpdate(const UpdateTarget& target, const Plan& plan, const void* archive,
                              DWORD archiveSize, HostNameLookup hostName) {
    CheckResult result;
    Checker check(target, result);
    if (!check.Members(archive, archiveSize))
        return result;
    for (const PlanStep& step : plan) {
        if (!check.Step(step, hostName))
            return result;
    }
    check.Space();
    return result;
}
