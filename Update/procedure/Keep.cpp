#include "Keep.h"

#include "FileLayer.h"
#include "LongPath.h"
#include "Owners.h"
#include "PathHelpers.h"

#include <string.h>

namespace {

// The list's first line; each following line is "+ <copy> <size> <name>"
// for a file kept, "- <name>" for one the update adds, "- <name>\t<from>"
// for one it adds by renaming another.
constexpr char kListHead[] = "TALMERO WU keep 1\r\n";
// A list longer than this was not written by the update.
constexpr DWORD kListLimit = 4 * 1024 * 1024;

// A decimal number up to the next blank; false when there is none.
bool ReadNumber(const std::string& line, size_t& at, unsigned long long& value) {
    const size_t start = at;
    value = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9' && at - start < 19)
        value = value * 10 + static_cast<unsigned>(line[at++] - '0');
    return at > start && at < line.size() && line[at++] == ' ';
}

// A name of the feature folder, never one that leads out of it.
bool IsNameInFolder(const std::string& name) {
    return !name.empty() && name[0] != '\\' && name.find(':') == std::string::npos &&
           name.find("..") == std::string::npos;
}

bool ParseList(const std::string& text, std::vector<KeptName>& names) {
    const size_t head = sizeof kListHead - 1;
    if (text.compare(0, head, kListHead) != 0)
        return false;
    for (size_t at = head; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            return false;
        const std::string line = text.substr(at, end - at);
        at = end + 2;
        KeptName kept;
        size_t from = 2;
        if (line.compare(0, 2, "+ ") == 0) {
            unsigned long long copy = 0;
            if (!ReadNumber(line, from, copy) || !ReadNumber(line, from, kept.size) || copy == 0 ||
                copy > 0xFFFFFFFFu)
                return false;
            kept.existed = true;
            kept.copy = static_cast<unsigned>(copy);
        } else if (line.compare(0, 2, "- ") != 0) {
            return false;
        }
        kept.name = line.substr(from);
        const size_t tab = kept.name.find('\t');
        if (tab != std::string::npos && !kept.existed) {
            kept.from = kept.name.substr(tab + 1);
            kept.name.resize(tab);
            if (!IsNameInFolder(kept.from))
                return false;
        }
        if (!IsNameInFolder(kept.name))
            return false;
        names.push_back(kept);
    }
    return true;
}

std::string ListText(const std::vector<KeptName>& names) {
    std::string text = kListHead;
    for (const KeptName& kept : names) {
        if (kept.existed)
            text += "+ " + std::to_string(kept.copy) + " " + std::to_string(kept.size) + " ";
        else
            text += "- ";
        text += kept.name + (kept.from.empty() ? "" : "\t" + kept.from) + "\r\n";
    }
    return text;
}

// Reads a list whole; false with the reason in GetLastError.
bool ReadList(const std::string& path, std::vector<KeptName>& names) {
    UniqueHandle file(CreateFileLong(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size))
        return false;
    if (size.QuadPart > kListLimit) {
        SetLastError(ERROR_FILE_CORRUPT);
        return false;
    }
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text.empty() &&
        !ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr))
        return false;
    if (got != text.size() || !ParseList(text, names)) {
        names.clear();
        SetLastError(ERROR_FILE_CORRUPT);
        return false;
    }
    return true;
}

bool IsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesLong(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The list of a complete keep with the names added to it.
std::string ListWith(const Keep& keep, const std::vector<KeptName>& added) {
    std::vector<KeptName> all;
    if (keep.state == KeepState::kComplete)
        all = keep.names;
    all.insert(all.end(), added.begin(), added.end());
    return ListText(all);
}

// Whether a path and its work name fit the file layer's whole-file calls.
bool Fits(const std::string& path) {
    return path.size() + sizeof kWorkSuffix <= MAX_PATH;
}

// Read as the copy reads it: a holder that may rename or remove the file
// leaves its data as it is, one that may write it does not.
bool Readable(Checker& check, const std::string& path) {
    UniqueHandle file(CreateFileLong(path.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
    return file.IsValid() || check.Fail(CheckProblem::kSystemError, path.c_str(), GetLastError());
}

} // namespace

std::string Keep::PathOf(const KeptName& kept) const {
    return JoinPath(feature, kept.name);
}

std::string Keep::CopyOf(const KeptName& kept) const {
    return JoinPath(folder, std::to_string(kept.copy));
}

Keep ReadKeep(const char* featureFolder) {
    Keep keep;
    keep.feature = featureFolder;
    keep.folder = JoinPath(keep.feature, kKeepFolder);
    keep.list = JoinPath(keep.folder, kKeepList);
    keep.undone = JoinPath(keep.folder, kKeepListUndone);
    if (GetFileAttributesLong(keep.folder.c_str()) == INVALID_FILE_ATTRIBUTES)
        return keep;
    const bool complete = IsFile(keep.list);
    const std::string& list = complete ? keep.list : keep.undone;
    if (!complete && !IsFile(keep.undone)) {
        keep.state = KeepState::kIncomplete;
    } else if (!ReadList(list, keep.names)) {
        keep.state = KeepState::kUnreadable;
        keep.error = GetLastError();
    } else {
        keep.state = complete ? KeepState::kComplete : KeepState::kUndone;
    }
    return keep;
}

bool KeepFolderIsLeftover(const Keep& keep) {
    return keep.state == KeepState::kIncomplete || keep.state == KeepState::kUndone;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    UniqueFindHandle find(FindFirstFileA(JoinPath(folder, "*").c_str(), &found));
    if (!find.IsValid())
        return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(JoinPath(folder, found.cFileName));
    } while (FindNextFileA(find.Get(), &found));
    return files;
}

std::vector<std::string> KeepLeftovers(const Keep& keep) {
    std::vector<std::string> leftovers;
    if (keep.state == KeepState::kNone || keep.state == KeepState::kUnreadable)
        return leftovers;
    // An undo writes each file it puts back through its work name.
    for (const KeptName& kept : keep.names)
        leftovers.push_back(keep.PathOf(kept) + kWorkSuffix);
    // A file where the folder should be.
    if (IsFile(keep.folder)) {
        leftovers.push_back(keep.folder);
        return leftovers;
    }
    for (const std::string& file : FilesIn(keep.folder)) {
        bool named = false;
        if (keep.state == KeepState::kComplete) {
            named = _stricmp(file.c_str(), keep.list.c_str()) == 0;
            for (size_t i = 0; !named && i < keep.names.size(); ++i)
                named = keep.names[i].existed &&
                        _stricmp(file.c_str(), keep.CopyOf(keep.names[i]).c_str()) == 0;
        }
        if (!named)
            leftovers.push_back(file);
    }
    return leftovers;
}

void ToKeep::Add(const char* name, const char* from) {
    for (const Name& known : names_) {
        if (known.name == name)
            return;
    }
    names_.push_back({name, from != nullptr ? from : ""});
}

std::vector<KeptName> NotYetKept(const Keep& keep, const ToKeep& toKeep) {
    const bool complete = keep.state == KeepState::kComplete;
    unsigned next = 1;
    for (size_t i = 0; complete && i < keep.names.size(); ++i) {
        if (keep.names[i].copy >= next)
            next = keep.names[i].copy + 1;
    }
    std::vector<KeptName> added;
    for (const ToKeep::Name& name : toKeep.Names()) {
        bool held = false;
        for (size_t i = 0; complete && !held && i < keep.names.size(); ++i)
            held = keep.names[i].name == name.name;
        if (held)
            continue;
        KeptName kept;
        kept.name = name.name;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(keep.PathOf(kept).c_str(), GetFileExInfoStandard, &data) &&
            !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            kept.existed = true;
            kept.copy = next++;
            kept.size =
                (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        } else {
            kept.from = name.from;
        }
        added.push_back(kept);
    }
    return added;
}

bool CheckKeep(Checker& check, const Keep& keep, const std::vector<KeptName>& added) {
    if (keep.state == KeepState::kUnreadable)
        return check.Fail(CheckProblem::kSystemError, keep.list.c_str(), keep.error);
    if (!Fits(keep.list) || !Fits(keep.undone))
        return check.Fail(CheckProblem::kPathTooLong, kKeepFolder);
    if (added.empty() && keep.state == KeepState::kComplete)
        return true;
    for (const KeptName& kept : added) {
        if (!kept.existed)
            continue;
        if (!Fits(keep.CopyOf(kept)))
            return check.Fail(CheckProblem::kPathTooLong, kKeepFolder);
        if (!Readable(check, keep.PathOf(kept)))
            return false;
        check.Need(kept.size);
    }
    check.Need(ListWith(keep, added).size());
    return true;
}

bool WriteKeep(const Keep& keep, const std::vector<KeptName>& added, KeepFailure& failure) {
    if (added.empty() && keep.state == KeepState::kComplete)
        return true;
    const DWORD attributes = GetFileAttributesLong(keep.folder.c_str());
    if ((attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) &&
        !DiskMakeFolder(keep.folder.c_str())) {
        failure = {keep.folder, KeepStep::kMakeFolder};
        return false;
    }
    // Each copy is flushed before the list that names it.
    for (const KeptName& kept : added) {
        if (kept.existed && !CopyWholeFile(keep.PathOf(kept).c_str(), keep.CopyOf(kept).c_str(),
                                           ExistingTarget::kReplace)) {
            failure = {keep.PathOf(kept), KeepStep::kCopy};
            return false;
        }
    }
    const std::string list = ListWith(keep, added);
    if (!WriteWholeFile(keep.list.c_str(), list.data(), list.size(), kNewFileAttributes)) {
        failure = {keep.list, KeepStep::kWriteList};
        return false;
    }
    return true;
}
