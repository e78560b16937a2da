#include "Precheck.h"

#include "FileLayer.h"
#include "GeneratedFiles.h"
#include "LongPath.h"
#include "Mbcs.h"
#include "Owners.h"
#include "FolderPackReader.h"

#include <stdio.h>
#include <string.h>
#include <algorithm>

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

// Each file record of the walk, as the unpack will write it.
void AddMember(void* context, const PackRecord& record) {
    PayloadMembers& members = *static_cast<PayloadMembers*>(context);
    if (record.Folder())
        return;
    PayloadMembers::File file;
    const bool marker = _stricmp(record.name, kMarkerFile) == 0;
    members.marker = members.marker || marker;
    file.size = record.head.originalSize;
    if (marker) {
        // The marker arrives under its aside name, beside where it would go.
        const size_t folder = static_cast<size_t>(record.name - record.target);
        file.name = kMarkerAside;
        file.target.assign(record.target, folder);
        file.target += kMarkerAside;
        file.fits = file.target.size() < kFpPathBufferSize;
    } else {
        file.name = record.name;
        file.target = record.target;
    }
    const char* last = MbcsFindLast(record.target, strlen(record.target), '\\');
    const std::string folder(record.target, static_cast<size_t>(last - record.target) + 1);
    if (std::find(members.folders.begin(), members.folders.end(), folder) == members.folders.end())
        members.folders.push_back(folder);
    members.files.push_back(file);
}

} // namespace

PayloadMembers ReadPayloadMembers(const void* archive, DWORD size, const char* featureFolder) {
    PayloadMembers members;
    ArchiveReader reader(static_cast<const char*>(archive), size);
    members.code = TestFolderPack(reader, featureFolder, ChunkCheck::kLengths, AddMember, &members);
    return members;
}

bool Checker::Fail(CheckProblem problem, const char* path, DWORD error) {
    result_.problem = problem;
    const size_t n = CutToWholeCharacters(path, sizeof result_.path - 1);
    memcpy(result_.path, path, n);
    result_.path[n] = '\0';
    result_.error = error;
    return false;
}

// The opens ask for the access the step's own calls will, with every kind of
// sharing offered, so that one fails exactly when another handle (or a
// running program) keeps that access out.
bool Checker::Usable(const char* path, ExistingFile use) {
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
    // Replaced or renamed: the name must be free to go. A read-only file is
    // made writable only by the step itself, so only its name is asked for;
    // any other file is asked for writing too, which a running program
    // refuses.
    DWORD access = DELETE;
    if (use == ExistingFile::kReplaced && !(attributes & FILE_ATTRIBUTE_READONLY))
        access |= GENERIC_WRITE;
    UniqueHandle file(DiskOpen(path, access, kShareAll, OPEN_EXISTING, 0));
    return file.IsValid() || Fail(CheckProblem::kSystemError, path, GetLastError());
}

void Checker::Need(unsigned long long bytes) {
    needed_ += RoundUp(bytes) + kCluster;
}

void Checker::NeedSizeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        Need((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool Checker::SettingsText(const char* path) {
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
    const Sample sample =
        static_cast<unsigned long long>(size.QuadPart) > got ? Sample::kFirstBytes : Sample::kWhole;
    switch (ClassifyText(text.Bytes(), got, sample)) {
    case TextKind::kUtf8:
        return Fail(CheckProblem::kUtf8Text, path);
    case TextKind::kMalformed:
        return Fail(CheckProblem::kMalformedText, path);
    default:
        return true;
    }
}

// Each file of the archive replaces one in the feature folder; the marker
// arrives under its aside name. The first problem is kept.
bool Checker::Members(const PayloadMembers& members) {
    for (const PayloadMembers::File& file : members.files) {
        if (!file.fits)
            return Fail(CheckProblem::kPathTooLong, file.name.c_str());
        if (!Usable(file.target.c_str(), ExistingFile::kReplaced))
            return false;
        Need(file.size);
    }
    if (members.code != kFpOk)
        return Fail(CheckProblem::kBadArchive, "", static_cast<DWORD>(members.code));
    return members.marker || Fail(CheckProblem::kNoMarker, kMarkerFile);
}

bool Checker::Space(const char* folder) {
    char root[kPathBufferSize];
    if (!JoinPath(folder, "", root, sizeof root))
        return Fail(CheckProblem::kPathTooLong, folder);
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(root, &available, nullptr, nullptr))
        return Fail(CheckProblem::kSystemError, folder, GetLastError());
    result_.needed = needed_ + kMargin;
    result_.available = available.QuadPart;
    if (result_.available < result_.needed)
        return Fail(CheckProblem::kNoSpace, folder);
    return true;
}

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
