#include "Machines.h"

#include "LongPath.h"
#include "Mbcs.h"
#include "Owners.h"
#include "Text.h"

#include <stdio.h>
#include <string.h>
#include <map>

const char kUnreadableLog[] = "unreadable log";

namespace {

// A result line is some forty bytes; anything much larger is no result file.
constexpr DWORD kResultMax = 4096;

enum class Kind { Log, Backup, Result };
struct Suffix {
    const char* text;
    Kind kind;
};
// ".log.BAK" before ".log", which it does not end with anyway.
const Suffix kSuffixes[] = {
    {".log.bak", Kind::Backup}, {".log", Kind::Log}, {".result", Kind::Result}};

char FoldAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Compares names as Windows compares computer names: ASCII letters without
// regard to case, double-byte characters as they are.
int CompareNames(const std::string& a, const std::string& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size()) {
        const size_t n = MbcsCharLength(a.data(), a.size(), i);
        const char ca = n == 1 ? FoldAscii(a[i]) : a[i];
        const char cb = n == 1 ? FoldAscii(b[i]) : b[i];
        if (ca != cb)
            return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
        if (n == 2 && i + 1 < b.size() && a[i + 1] != b[i + 1])
            return static_cast<unsigned char>(a[i + 1]) < static_cast<unsigned char>(b[i + 1]) ? -1
                                                                                               : 1;
        i += n;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return CompareNames(a, b) < 0;
    }
};

// Whether name ends in suffix (ASCII, any case); '.' is never a trail byte,
// so the suffix starts on a character boundary.
bool EndsWithNoCase(const std::string& name, const char* suffix) {
    const size_t n = strlen(suffix);
    if (name.size() <= n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (FoldAscii(name[name.size() - n + i]) != FoldAscii(suffix[i]))
            return false;
    }
    return true;
}

// A file name in the ANSI code page; characters it lacks become '?', and
// lossy says so.
std::string ToAnsi(const wchar_t* wide, bool& lossy) {
    std::string text;
    lossy = !FromWide(wide, wcslen(wide), text, CP_ACP, Conversion::kStrict);
    if (lossy)
        FromWide(wide, wcslen(wide), text);
    return text;
}

std::string Join(const std::string& folder, const std::string& name) {
    const char* last = MbcsFindLast(folder.data(), folder.size(), '\\');
    if (last != nullptr && last == folder.data() + folder.size() - 1)
        return folder + name;
    return folder + "\\" + name;
}

bool ReadResult(const FoundFile& file, long& status) {
    HANDLE opened = nullptr;
    DWORD error = 0;
    if (!OpenFound(file, opened, error))
        return false;
    UniqueHandle handle(opened);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle.Get(), &size) || size.QuadPart > kResultMax)
        return false;
    char text[kResultMax];
    DWORD got = 0;
    if (!ReadFile(handle.Get(), text, static_cast<DWORD>(size.QuadPart), &got, nullptr) ||
        got != size.QuadPart)
        return false;
    return ParseResultStatus(text, got, status);
}

enum class Group { Failed, Unfinished, Retry, NotConcerned, Done };

struct StatusInfo {
    long status;
    const char* meaning;
    Group group;
    const char* colour;
};

// Update.exe's exit statuses (its README, "Exit status").
const StatusInfo kStatuses[] = {
    {0, "updated", Group::Done, "#2e8b57"},
    {1, "update failed", Group::Failed, "#c0392b"},
    {2, "not recognised", Group::NotConcerned, "#95a5a6"},
    {3, "already updated", Group::Done, "#7fbf95"},
    {4, "cancelled", Group::Retry, "#d4ac0d"},
    {5, "another update running", Group::Retry, "#f1c40f"},
    {64, "usage error", Group::Failed, "#8e44ad"},
};
const StatusInfo kUnknownStatus = {0, "unknown status", Group::Failed, "#7b241c"};
const StatusInfo kNoResult = {0, "no result (still running or stopped)", Group::Unfinished,
                              "#e67e22"};
const StatusInfo kUnreadable = {0, "unreadable result file", Group::Failed, "#5d6d7e"};

const StatusInfo& InfoOf(const Row& row) {
    if (row.kind == StatusKind::NoResult)
        return kNoResult;
    if (row.kind == StatusKind::Unreadable)
        return kUnreadable;
    for (const StatusInfo& info : kStatuses) {
        if (info.status == row.status)
            return info;
    }
    return kUnknownStatus;
}

// The reason a row shows from its log's last run. A failed, unknown or
// unfinished run falls back on its last record; for 2, 5 and 64 only the
// record that says so counts, since a status query that leaves no log gives
// them too, after runs that said something else.
std::string ReasonOf(const Row& row, const ReasonFinder& run) {
    const StatusInfo& info = InfoOf(row);
    if (info.group == Group::Done || row.status == 4)
        return std::string();
    if (row.kind == StatusKind::NoResult || row.status == 1 || &info == &kUnknownStatus)
        return run.Recognised().empty() ? run.LastRecord() : run.Recognised();
    return run.Recognised();
}

int StatusRank(const Row& row) {
    return row.kind == StatusKind::Exit ? 0 : (row.kind == StatusKind::NoResult ? 1 : 2);
}

// Exit statuses in order, a crash's (negative as cmd prints it) after the
// program's own.
int CompareStatus(const Row& a, const Row& b) {
    if (StatusRank(a) != StatusRank(b))
        return StatusRank(a) < StatusRank(b) ? -1 : 1;
    const unsigned long sa = static_cast<unsigned long>(a.status);
    const unsigned long sb = static_cast<unsigned long>(b.status);
    return sa == sb ? 0 : (sa < sb ? -1 : 1);
}

} // namespace

bool ListMachines(const std::string& folder, std::vector<Machine>& machines, DWORD& error) {
    std::wstring wide;
    if (!LongFormWide(Join(folder, "*").c_str(), wide)) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    WIN32_FIND_DATAW found;
    UniqueFindHandle find(FindFirstFileW(wide.c_str(), &found));
    if (!find.IsValid()) {
        error = GetLastError();
        return false;
    }
    std::map<std::string, Machine, NameLess> byName;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        bool lossy = false;
        const std::string name = ToAnsi(found.cFileName, lossy);
        for (const Suffix& suffix : kSuffixes) {
            if (!EndsWithNoCase(name, suffix.text))
                continue;
            const std::string computer = name.substr(0, name.size() - strlen(suffix.text));
            Machine& machine = byName[computer];
            if (machine.name.empty())
                machine.name = computer;
            FoundFile& file = suffix.kind == Kind::Log      ? machine.log
                              : suffix.kind == Kind::Backup ? machine.backup
                                                            : machine.result;
            file.present = true;
            file.path = Join(folder, name);
            bool shortLossy = false;
            const std::string shortName = ToAnsi(found.cAlternateFileName, shortLossy);
            file.shortPath = shortName.empty() || shortLossy ? "" : Join(folder, shortName);
            if (lossy)
                file.path = file.shortPath;
            file.lastWrite = found.ftLastWriteTime;
            break;
        }
    } while (FindNextFileW(find.Get(), &found));
    error = GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        return false;
    for (auto& entry : byName) {
        // A log's older generation alone is no machine of the rollout.
        if (entry.second.log.present || entry.second.result.present)
            machines.push_back(std::move(entry.second));
    }
    return true;
}

Row Examine(const Machine& machine) {
    Row row;
    row.name = machine.name;
    LastRun run;
    ReadLastRun(machine.log, machine.backup, run);
    if (run.state == RunState::Found)
        row.lastRun = run.start;
    long status = 0;
    if (!machine.result.present) {
        row.kind = StatusKind::NoResult;
    } else if (!ReadResult(machine.result, status)) {
        row.kind = StatusKind::Unreadable;
    } else if (run.state == RunState::Found && machine.log.present &&
               CompareFileTime(&machine.result.lastWrite, &machine.log.lastWrite) < 0) {
        // Written before the log's last record, so before the last run
        // began: that run is still going, or was stopped before the script
        // could record its end. Both times are the file server's, so the
        // machines' clocks and time zones play no part.
        row.kind = StatusKind::NoResult;
    } else {
        row.status = status;
    }
    if (run.state == RunState::Unreadable || row.kind == StatusKind::Unreadable)
        row.reason = kUnreadableLog;
    else if (run.state == RunState::Found)
        row.reason = ReasonOf(row, run.reason);
    return row;
}

std::string StatusText(const Row& row) {
    if (row.kind == StatusKind::NoResult)
        return "no result";
    if (row.kind == StatusKind::Unreadable)
        return "unreadable";
    char text[16];
    snprintf(text, sizeof text, "%ld", row.status);
    return text;
}

std::string Meaning(const Row& row) {
    const StatusInfo& info = InfoOf(row);
    // A status from an exception code (0xC0000005 and the like): the
    // program itself failed.
    if (&info == &kUnknownStatus && row.status < 0) {
        char text[64];
        snprintf(text, sizeof text, "ended abnormally (0x%08lX)",
                 static_cast<unsigned long>(row.status));
        return text;
    }
    return info.meaning;
}

const char* StatusColour(const Row& row) {
    return InfoOf(row).colour;
}

std::string StatusLabel(const Row& row) {
    return row.kind == StatusKind::Exit ? StatusText(row) + " " + Meaning(row) : Meaning(row);
}

bool StatusThenName(const Row& a, const Row& b) {
    const int status = CompareStatus(a, b);
    return status != 0 ? status < 0 : CompareNames(a.name, b.name) < 0;
}

bool FailuresFirst(const Row& a, const Row& b) {
    const Group ga = InfoOf(a).group, gb = InfoOf(b).group;
    return ga != gb ? ga < gb : StatusThenName(a, b);
}

bool SameStatus(const Row& a, const Row& b) {
    return CompareStatus(a, b) == 0;
}
