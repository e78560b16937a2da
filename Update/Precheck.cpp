#include "Precheck.h"

#include "General.h"
#include "FileReplace.h"
#include "GeneratedFiles.h"
#include "Globals.h"
#include "LongPath.h"
#include "Mbcs.h"
#include "Owners.h"
#include "pack/FolderPackReader.h"

#include <stdio.h>
#include <string.h>

namespace {

// How a step treats a file that is there already.
enum class Use {
    kReplace, // replaced; the step clears a read-only bit itself
    kRewrite, // replaced; a read-only file makes the step fail
    kMove,    // given another name
    kRead,    // only read (a library's source)
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Space is taken in clusters; every file may also need a directory entry.
constexpr unsigned long long kCluster = 4096;
constexpr unsigned long long kMargin = 256 * 1024;
// Settings files larger than this are checked on their first bytes only.
constexpr DWORD kTextCheckLimit = 4 * 1024 * 1024;

bool IsWellFormedText(const unsigned char* p, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (MbcsIsLeadByte(p[i])) {
            if (i + 1 >= size || !MbcsIsTrailByte(p[i + 1]))
                return false;
            ++i;
        } else if (p[i] == 0x80 || p[i] == 0xA0 || p[i] >= 0xFD) {
            return false;
        }
    }
    return true;
}

bool IsUtf8(const unsigned char* p, size_t size) {
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
            if (i + k >= size || (p[i + k] & 0xC0) != 0x80)
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
    explicit Checker(CheckResult& result) : result_(result) {}

    bool Fail(CheckProblem problem, const char* path, DWORD error = 0) {
        result_.problem = problem;
        const size_t n = strnlen(path, sizeof result_.path - 1);
        memcpy(result_.path, path, n);
        result_.path[n] = '\0';
        result_.error = error;
        return false;
    }

    // folder + name into path_; false (a failure) when it does not fit.
    bool Join(const char* folder, const char* name) {
        return JoinPath(folder, name, path_, sizeof path_) ||
               Fail(CheckProblem::kPathTooLong, name);
    }
    const char* Path() const { return path_; }

    // True when the file is absent or can be used as the step needs.
    bool Usable(const char* path, Use use) {
        const DWORD attributes = GetFileAttributesLong(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return true;
            return Fail(CheckProblem::kSystemError, path, error);
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return Fail(CheckProblem::kFolder, path);
        const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
        if (use == Use::kRewrite && readOnly)
            return Fail(CheckProblem::kReadOnly, path, ERROR_ACCESS_DENIED);
        DWORD access = GENERIC_WRITE | DELETE;
        if (use == Use::kReplace && readOnly)
            access = DELETE | FILE_WRITE_ATTRIBUTES;
        else if (use == Use::kMove)
            access = DELETE;
        else if (use == Use::kRead)
            access = GENERIC_READ;
        // An open for the access the step needs, with every kind of sharing
        // offered, fails exactly when another handle or a running program
        // keeps that access out.
        UniqueHandle file(
            CreateFileLong(path, access, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file.IsValid())
            return Fail(CheckProblem::kSystemError, path, GetLastError());
        return true;
    }

    bool Named(const char* folder, const char* name, Use use) {
        return Join(folder, name) && Usable(path_, use);
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
            TestFolderPack(reader, g_featureFolder, ChunkCheck::Lengths, VisitMember, this);
        if (result_.problem != CheckProblem::kNone)
            return false;
        if (code != kFpOk)
            return Fail(CheckProblem::kBadArchive, "", static_cast<DWORD>(code));
        return true;
    }

    // Every file the update writes in the feature folder, under its own
    // name and under its work name, fits the byte-string calls, so that no
    // step after the first change can fail for a path.
    bool OwnNamesFit() {
        const char* const names[] = {
            kMarkerAside,     kPatchJobIni,  kPatchJobBackup, kPatchRunBat,   kPatchCliXpBat,
            kPatchCli2000Bat, kPatchSvcIni,  kRetired[0][1],  kRetired[1][1], kLibraries[0],
            kLibraries[1],    kLibraries[2], kLibraries[3],   kLibraries[4],  kLibraries[5],
            kLibraries[6],    kLibraries[7], kLibraries[8],
        };
        for (const char* name : names) {
            char work[64];
            snprintf(work, sizeof work, "%s%s", name, kWorkSuffix);
            if (!JoinPath(g_featureFolder, work, path_, sizeof path_))
                return Fail(CheckProblem::kPathTooLong, name);
        }
        return true;
    }

    // A patchjob.ini that the profile functions would corrupt is refused.
    bool SettingsText(const char* path) {
        UniqueHandle file(
            CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file.IsValid())
            return true;
        HeapBlock text(malloc(kTextCheckLimit));
        DWORD got = 0;
        if (!text.IsValid() || !ReadFile(file.Get(), text.Bytes(), kTextCheckLimit, &got, nullptr))
            return Fail(CheckProblem::kSystemError, path, GetLastError());
        switch (ClassifyText(text.Bytes(), got)) {
        case TextKind::kUtf8:
            return Fail(CheckProblem::kUtf8Text, path);
        case TextKind::kMalformed:
            return Fail(CheckProblem::kMalformedText, path);
        default:
            return true;
        }
    }

    bool Space() {
        char root[kPathBufferSize];
        if (!JoinPath(g_featureFolder, "", root, sizeof root))
            return Fail(CheckProblem::kPathTooLong, g_featureFolder);
        ULARGE_INTEGER available;
        if (!GetDiskFreeSpaceExA(root, &available, nullptr, nullptr))
            return Fail(CheckProblem::kSystemError, g_featureFolder, GetLastError());
        result_.needed = needed_ + kMargin;
        result_.available = available.QuadPart;
        if (result_.available < result_.needed)
            return Fail(CheckProblem::kNoSpace, g_featureFolder);
        return true;
    }

  private:
    // Each file of the archive replaces one in the feature folder; the
    // marker arrives under its aside name. The first problem is kept.
    static void VisitMember(void* context, const RecordSummary& record) {
        Checker& check = *static_cast<Checker*>(context);
        if (record.folder || check.result_.problem != CheckProblem::kNone)
            return;
        const char* name = _stricmp(record.name, kMarkerFile) == 0 ? kMarkerAside : record.name;
        char target[kFpPathBufferSize];
        if (!JoinPath(g_featureFolder, name, target, sizeof target)) {
            check.Fail(CheckProblem::kPathTooLong, name);
            return;
        }
        if (check.Usable(target, Use::kReplace))
            check.Need(record.head.originalSize);
    }

    CheckResult& result_;
    char path_[kPathBufferSize] = "";
    unsigned long long needed_ = 0;
};

} // namespace

TextKind ClassifyText(const char* data, size_t size) {
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
    if (IsUtf8(p, size))
        return TextKind::kUtf8;
    return IsWellFormedText(p, size) ? TextKind::kAnsi : TextKind::kMalformed;
}

CheckResult CheckBeforeUpdate(const void* archive, DWORD archiveSize) {
    CheckResult result;
    Checker check(result);
    if (!check.OwnNamesFit() || !check.Members(archive, archiveSize))
        return result;

    if (!check.Join(g_featureFolder, kPatchJobIni))
        return result;
    char patchJob[kPathBufferSize];
    memcpy(patchJob, check.Path(), sizeof patchJob);
    if (!check.Usable(patchJob, Use::kRewrite) || !check.SettingsText(patchJob))
        return result;
    // The work copy and the backup.
    check.NeedSizeOf(patchJob);
    check.NeedSizeOf(patchJob);

    const char* const serverFiles[] = {kPatchCliXpBat, kPatchCli2000Bat, kPatchSvcIni};
    const char* const clientFiles[] = {kPatchRunBat, kPatchSvcIni};
    const bool server = g_operationMode == kModeServer;
    const char* const* files = server ? serverFiles : clientFiles;
    const size_t fileCount = server ? 3 : 2;
    for (size_t i = 0; i < fileCount; ++i) {
        if (!check.Named(g_featureFolder, files[i], Use::kRewrite))
            return result;
        check.Need(kCluster);
    }

    for (const auto& names : kRetired) {
        if (!check.Join(g_featureFolder, names[1]))
            return result;
        // A file under the new name already keeps the old one where it is.
        if (GetFileAttributesA(check.Path()) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (!check.Named(g_featureFolder, names[0], Use::kMove))
            return result;
    }

    for (const char* library : kLibraries) {
        if (!check.Join(g_installPath, library))
            return result;
        if (GetFileAttributesA(check.Path()) == INVALID_FILE_ATTRIBUTES)
            continue;
        if (!check.Usable(check.Path(), Use::kRead))
            return result;
        check.NeedSizeOf(check.Path());
        if (!check.Named(g_featureFolder, library, Use::kRewrite))
            return result;
    }

    check.Space();
    return result;
}
