// c: a folder's files and subfolders packed into a new archive, which
// replaces the old one only once it is complete.
#include "Commands.h"

#include "FileLayer.h"

#include "Fpack.h"
#include "LongPath.h"
#include "Messages.h"
#include "Owners.h"
#include "PathHelpers.h"
#include "Paths.h"
#include "Progress.h"
#include "Text.h"
#include "FolderPack.h"
#include "FolderPackWriter.h"

#include <algorithm>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

// Attribute bits that a record carries; the rest describe storage.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000ull;
// The new archive is written beside the old one under this suffix.
constexpr char kPartialSuffix[] = ".partial";

uint64_t AsNumber(FILETIME time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME AsFileTime(uint64_t value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

struct Entry {
    std::string name; // relative to the source folder, as the record names it
    std::wstring leaf;
    std::wstring shortLeaf;
    bool folder = false;
    DWORD attributes = 0;
    FILETIME creationTime = {};
    FILETIME lastWriteTime = {};
    uint64_t size = 0;
};

// The source folder and what the walk found in it.
struct Source {
    std::string root;  // absolute
    std::string shown; // as the user spelled it
    std::vector<Entry> entries;
    int skipped = 0;
    int badNames = 0;

    std::string Shown(const std::string& name) const {
        return PrintableName(JoinPath(shown, name));
    }
};

// How the records' times are chosen.
struct TimePolicy {
    enum class Kind { FromFiles, Capped, Fixed } kind = Kind::FromFiles;
    uint64_t time = 0; // the cap or the fixed time

    FILETIME Apply(FILETIME fileTime) const {
        switch (kind) {
        case Kind::Fixed:
            return AsFileTime(time);
        case Kind::Capped:
            return AsNumber(fileTime) > time ? AsFileTime(time) : fileTime;
        default:
            return fileTime;
        }
    }
};

// SOURCE_DATE_EPOCH, when set: the reproducible-builds convention of a
// latest time in seconds since 1970. False when it is set but is no such count.
bool ReadSourceDateEpoch(TimePolicy& policy, std::string& value) {
    char text[64];
    const DWORD n = GetEnvironmentVariableA("SOURCE_DATE_EPOCH", text, sizeof text);
    if (n == 0)
        return true; // not set, or empty: the files' own times
    if (n >= sizeof text) {
        value = "(too long)";
        return false;
    }
    value = text;
    unsigned long long seconds = 0;
    if (!ParseDecimal(text, seconds) ||
        seconds > (~0ull - kUnixEpochAsFileTime) / kFileTimeUnitsPerSecond)
        return false;
    policy.kind = TimePolicy::Kind::Capped;
    policy.time = kUnixEpochAsFileTime + seconds * kFileTimeUnitsPerSecond;
    return true;
}

// Adds the folder's entries in byte order of their names, each folder after
// its own contents, so that unpacking stamps it last. False when a folder
// cannot be read; names that cannot be packed are counted and reported.
bool Collect(Source& source, const std::string& relative) {
    const std::string folder = relative.empty() ? source.root : JoinPath(source.root, relative);
    const std::string shownFolder =
        relative.empty() ? PrintableName(source.shown) : source.Shown(relative);
    std::wstring pattern;
    if (!LongFormWide(JoinPath(folder, "*").c_str(), pattern)) {
        Complain("%s: cannot read the folder: %s", shownFolder.c_str(),
                 SystemReason(ERROR_FILENAME_EXCED_RANGE).c_str());
        return false;
    }
    WIN32_FIND_DATAW found;
    UniqueFindHandle find(FindFirstFileW(pattern.c_str(), &found));
    if (!find.IsValid()) {
        const DWORD error = GetLastError();
        // A drive's root has no "." entry: empty, it has none at all.
        if (error == ERROR_FILE_NOT_FOUND)
            return true;
        Complain("%s: cannot read the folder: %s", shownFolder.c_str(),
                 SystemReason(error).c_str());
        return false;
    }
    std::vector<Entry> here;
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0)
            continue;
        std::string leaf;
        const bool representable =
            FromWide(found.cFileName, wcslen(found.cFileName), leaf, CP_ACP, Conversion::kStrict);
        Entry e;
        e.name = relative.empty() ? leaf : relative + "\\" + leaf;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A link's target is not part of the tree: it may lie outside
            // it, or loop back into it.
            Warn("%s: skipped: a link, junction or other reparse point is not packed",
                 source.Shown(e.name).c_str());
            ++source.skipped;
            continue;
        }
        if (!representable) {
            Complain("%s: the name has characters that the archive's code page cannot hold",
                     source.Shown(e.name).c_str());
            ++source.badNames;
            continue;
        }
        if (e.name.size() > kFpMaxNameLength) {
            Complain("%s: the name is %u bytes long; an archive carries at most %u",
                     source.Shown(e.name).c_str(), static_cast<unsigned>(e.name.size()),
                     static_cast<unsigned>(kFpMaxNameLength));
            ++source.badNames;
            continue;
        }
        if (!IsSafeRecordName(e.name.c_str())) {
            Complain("%s: %s", source.Shown(e.name).c_str(), kRefusedNameMeaning);
            ++source.badNames;
            continue;
        }
        e.leaf = found.cFileName;
        e.shortLeaf = found.cAlternateFileName;
        e.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.attributes = found.dwFileAttributes & kKeptAttributes;
        e.creationTime = found.ftCreationTime;
        e.lastWriteTime = found.ftLastWriteTime;
        e.size =
            e.folder ? 0 : (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        here.push_back(std::move(e));
    } while (FindNextFileW(find.Get(), &found));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        Complain("%s: cannot read the folder: %s", shownFolder.c_str(),
                 SystemReason(error).c_str());
        return false;
    }
    std::sort(here.begin(), here.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (Entry& e : here) {
        if (e.folder && !Collect(source, e.name))
            return false;
        source.entries.push_back(std::move(e));
    }
    return true;
}

std::wstring LeafOf(const std::string& absolute) {
    std::wstring wide;
    if (!LongFormWide(absolute.c_str(), wide))
        return L"";
    return wide.substr(wide.rfind(L'\\') + 1);
}

// Takes out of the entries the file at this path, if the walk found it:
// an archive written into its own source folder does not pack itself, however
// its path was spelled. Only entries of the same name (in any letter case, or
// the short name) are opened to compare.
void LeaveOut(Source& source, const std::string& absolute) {
    FileIdentity identity;
    if (!IdentityOf(absolute, identity))
        return;
    const std::wstring leaf = LeafOf(absolute);
    auto same = [&](const Entry& e) {
        FileIdentity other;
        return !e.folder &&
               (SameNameIgnoringCase(e.leaf, leaf) || SameNameIgnoringCase(e.shortLeaf, leaf)) &&
               IdentityOf(JoinPath(source.root, e.name), other) && other == identity;
    };
    source.entries.erase(std::remove_if(source.entries.begin(), source.entries.end(), same),
                         source.entries.end());
}

// While the writer packs one file it says nothing; the growth of the new
// archive on disk tells roughly how far into the file it is.
class GrowthEstimate {
  public:
    GrowthEstimate(const Progress& progress, const std::string& partial)
        : active_(progress.Showing() && LongFormWide(partial.c_str(), partial_)) {
        InitializeCriticalSection(&lock_);
    }
    ~GrowthEstimate() { DeleteCriticalSection(&lock_); }
    GrowthEstimate(const GrowthEstimate&) = delete;
    GrowthEstimate& operator=(const GrowthEstimate&) = delete;

    void FileStarting(uint64_t size) {
        if (!active_)
            return;
        const uint64_t archive = ArchiveSize();
        EnterCriticalSection(&lock_);
        fileSize_ = size;
        archiveAtStart_ = archive;
        LeaveCriticalSection(&lock_);
    }
    void FileDone(uint64_t contentDone) {
        EnterCriticalSection(&lock_);
        contentDone_ = contentDone;
        fileSize_ = 0;
        LeaveCriticalSection(&lock_);
    }
    // For the ticker's thread.
    static uint64_t Sample(void* self) { return static_cast<GrowthEstimate*>(self)->Done(); }

  private:
    uint64_t Done() {
        const uint64_t archive = ArchiveSize();
        EnterCriticalSection(&lock_);
        const uint64_t grown = archive > archiveAtStart_ ? archive - archiveAtStart_ : 0;
        // Content so far per archive byte so far; 1 until a file is done.
        const double ratio = contentDone_ > 0 && archiveAtStart_ > 0
                                 ? static_cast<double>(contentDone_) / archiveAtStart_
                                 : 1.0;
        uint64_t within = static_cast<uint64_t>(grown * ratio);
        if (within > fileSize_)
            within = fileSize_;
        const uint64_t done = contentDone_ + within;
        LeaveCriticalSection(&lock_);
        return done;
    }
    // The writer holds the file without sharing; its size can still be read.
    uint64_t ArchiveSize() const {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(partial_.c_str(), GetFileExInfoStandard, &data))
            return 0;
        return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }

    std::wstring partial_;
    const bool active_;
    CRITICAL_SECTION lock_;
    uint64_t contentDone_ = 0;
    uint64_t fileSize_ = 0;
    uint64_t archiveAtStart_ = 0;
};

// A file that the writer could not add: its source could not be read, or
// the archive could not be written. The writer leaves the reason in the last
// error; opening the source again tells which side it was.
int ReportAddFailure(const Source& source, const Entry& e, const char* archiveArgument,
                     DWORD writerError) {
    UniqueHandle again(CreateFileLong(JoinPath(source.root, e.name).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!again.IsValid()) {
        Complain("%s: cannot read the file: %s", source.Shown(e.name).c_str(),
                 SystemReason(GetLastError()).c_str());
        return kExitSourceUnreadable;
    }
    LARGE_INTEGER size;
    if (GetFileSizeEx(again.Get(), &size) && static_cast<uint64_t>(size.QuadPart) != e.size) {
        Complain("%s: the file changed while it was being packed", source.Shown(e.name).c_str());
        return kExitSourceUnreadable;
    }
    if (writerError == ERROR_SUCCESS || writerError == ERROR_HANDLE_EOF) {
        Complain("%s: cannot read the file to its end", source.Shown(e.name).c_str());
        return kExitSourceUnreadable;
    }
    Complain("%s: cannot write the archive: %s",
             PrintableName(archiveArgument, strlen(archiveArgument)).c_str(),
             SystemReason(writerError).c_str());
    return kExitArchiveUnwritable;
}

// Writes the entries into the new archive at partial. Returns the exit status.
int WriteArchive(const Source& source, const TimePolicy& times, const std::string& partial,
                 const char* archiveArgument, Verbosity verbosity) {
    const std::string shownArchive = PrintableName(archiveArgument, strlen(archiveArgument));
    FolderPackWriter writer;
    if (!writer.CreateArchiveFile(partial.c_str())) {
        Complain("%s: cannot create the archive: %s", shownArchive.c_str(),
                 SystemReason(GetLastError()).c_str());
        return kExitArchiveUnwritable;
    }
    uint64_t total = 0;
    for (const Entry& e : source.entries)
        total += e.size;
    Progress progress("c", verbosity);
    progress.Start(total);
    GrowthEstimate estimate(progress, partial);
    ProgressTicker ticker(progress, GrowthEstimate::Sample, &estimate);
    uint64_t done = 0;
    for (const Entry& e : source.entries) {
        const FILETIME creation = times.Apply(e.creationTime);
        const FILETIME lastWrite = times.Apply(e.lastWriteTime);
        if (e.folder) {
            if (!writer.AddFolder(e.name.c_str(), e.attributes, creation, lastWrite)) {
                const DWORD error = GetLastError();
                progress.End();
                Complain("%s: cannot write the archive: %s", shownArchive.c_str(),
                         SystemReason(error).c_str());
                return kExitArchiveUnwritable;
            }
            continue;
        }
        estimate.FileStarting(e.size);
        SetLastError(ERROR_SUCCESS);
        if (!writer.AddFileFromPath(e.name.c_str(), e.attributes, creation, lastWrite,
                                    JoinPath(source.root, e.name).c_str())) {
            const DWORD error = GetLastError();
            progress.End();
            return ReportAddFailure(source, e, archiveArgument, error);
        }
        done += e.size;
        estimate.FileDone(done);
        progress.Set(done);
    }
    if (!writer.Finish()) {
        const DWORD error = GetLastError();
        progress.End();
        Complain("%s: cannot write the archive: %s", shownArchive.c_str(),
                 SystemReason(error).c_str());
        return kExitArchiveUnwritable;
    }
    progress.End();
    return kExitOk;
}

} // namespace

int CreateCommand(const Options& options) {
    const char* archiveArgument = options.operands[0];
    const char* sourceArgument = options.operands[1];
    const std::string shownArchive = PrintableName(archiveArgument, strlen(archiveArgument));
    TimePolicy times;
    if (options.fixedTime) {
        times.kind = TimePolicy::Kind::Fixed;
        times.time = AsNumber(options.time);
    } else {
        std::string value;
        if (!ReadSourceDateEpoch(times, value)) {
            Complain("SOURCE_DATE_EPOCH is not a count of seconds since 1970: '%s'",
                     PrintableName(value).c_str());
            return kExitUsage;
        }
    }

    Source source;
    source.shown = sourceArgument;
    if (!AbsolutePath(sourceArgument, source.root)) {
        Complain("%s: cannot read the folder: %s", PrintableName(source.shown).c_str(),
                 SystemReason(GetLastError()).c_str());
        return kExitSourceUnreadable;
    }
    const DWORD rootAttributes = GetFileAttributesLong(source.root.c_str());
    if (rootAttributes == INVALID_FILE_ATTRIBUTES || !(rootAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Complain("%s: not a folder: %s", PrintableName(source.shown).c_str(),
                 SystemReason(rootAttributes == INVALID_FILE_ATTRIBUTES ? GetLastError()
                                                                        : ERROR_DIRECTORY)
                     .c_str());
        return kExitSourceUnreadable;
    }
    std::string archive;
    if (!AbsolutePath(archiveArgument, archive)) {
        Complain("%s: cannot create the archive: %s", shownArchive.c_str(),
                 SystemReason(GetLastError()).c_str());
        return kExitArchiveUnwritable;
    }
    if (!Collect(source, ""))
        return kExitSourceUnreadable;
    if (source.badNames > 0) {
        Complain("%s: not written: %d name%s cannot be packed", shownArchive.c_str(),
                 source.badNames, source.badNames == 1 ? "" : "s");
        return kExitBadName;
    }
    const std::string partial = archive + kPartialSuffix;
    LeaveOut(source, archive);
    LeaveOut(source, partial);

    const int status = WriteArchive(source, times, partial, archiveArgument, options.verbosity);
    if (status != kExitOk) {
        RemoveFile(partial.c_str());
        return status;
    }
    if (!PutInPlace(partial.c_str(), archive.c_str(), ExistingTarget::kReplace)) {
        Complain("%s: cannot replace the archive: %s", shownArchive.c_str(),
                 SystemReason(GetLastError()).c_str());
        return kExitArchiveUnwritable;
    }
    if (source.skipped > 0) {
        Warn("%s: %d link%s or reparse point%s left out", shownArchive.c_str(), source.skipped,
             source.skipped == 1 ? "" : "s", source.skipped == 1 ? "" : "s");
        return kExitSkipped;
    }
    return kExitOk;
}
