#include "Machines.h"

#include "Owners.h"
#include "Utf8.h"

#include <string.h>
#include <map>

namespace {

// A result line is some forty bytes; anything much larger is no result file.
constexpr DWORD kResultMax = 4096;
// A result written this soon after the log's closing record is that run's.
constexpr unsigned long long kOwnResultSeconds = 60;

enum class Kind { Log, Backup, Result };
struct Suffix {
    const wchar_t* text;
    Kind kind;
};
// ".log.BAK" before ".log", which it does not end with anyway.
const Suffix kSuffixes[] = {
    {L".log.bak", Kind::Backup}, {L".log", Kind::Log}, {L".result", Kind::Result}};

// Computer names compare as Windows compares them: without regard to case.
std::wstring Key(const std::wstring& name) {
    std::wstring key = name;
    if (!key.empty())
        CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

bool EndsWithNoCase(const std::wstring& name, const wchar_t* suffix) {
    const size_t n = wcslen(suffix);
    return name.size() > n && Key(name.substr(name.size() - n)) == Key(suffix);
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
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

// Seconds from a to b, b not before a.
unsigned long long Seconds(const FILETIME& a, const FILETIME& b) {
    const unsigned long long from =
        (static_cast<unsigned long long>(a.dwHighDateTime) << 32) | a.dwLowDateTime;
    const unsigned long long to =
        (static_cast<unsigned long long>(b.dwHighDateTime) << 32) | b.dwLowDateTime;
    return (to - from) / 10000000;
}

// The file whose last write says when the log was last written.
const FoundFile& NewestLog(const Machine& machine) {
    return machine.log.present ? machine.log : machine.backup;
}

} // namespace

bool ListMachines(const std::wstring& folder, const std::vector<std::wstring>& targets,
                  std::vector<Machine>& machines, DWORD& error) {
    WIN32_FIND_DATAW found;
    UniqueFindHandle find(FindFirstFileW(Join(folder, L"*").c_str(), &found));
    if (!find.IsValid()) {
        error = GetLastError();
        return false;
    }
    std::map<std::wstring, Machine> byKey;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::wstring name = found.cFileName;
        for (const Suffix& suffix : kSuffixes) {
            if (!EndsWithNoCase(name, suffix.text))
                continue;
            const std::wstring computer = name.substr(0, name.size() - wcslen(suffix.text));
            Machine& machine = byKey[Key(computer)];
            if (machine.name.empty())
                machine.name = computer;
            FoundFile& file = suffix.kind == Kind::Log      ? machine.log
                              : suffix.kind == Kind::Backup ? machine.backup
                                                            : machine.result;
            file.present = true;
            file.path = Join(folder, name);
            file.shortPath =
                found.cAlternateFileName[0] != L'\0' ? Join(folder, found.cAlternateFileName) : L"";
            file.lastWrite = found.ftLastWriteTime;
            break;
        }
    } while (FindNextFileW(find.Get(), &found));
    error = GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        return false;
    for (auto& entry : byKey) {
        // A log's older generation alone is no machine of the rollout.
        if (!entry.second.log.present && !entry.second.result.present)
            entry.second = Machine();
    }
    for (const std::wstring& target : targets) {
        Machine& machine = byKey[Key(target)];
        if (machine.name.empty())
            machine.name = target;
    }
    for (auto& entry : byKey) {
        if (!entry.second.name.empty())
            machines.push_back(std::move(entry.second));
    }
    return true;
}

Row Examine(const Machine& machine, const FILETIME& staleBefore, ReadBuffers& buffers) {
    Row row;
    row.name = Utf8FromWide(machine.name);
    row.key = Key(machine.name);
    Evidence e;
    e.hasLog = machine.log.present || machine.backup.present;
    if (machine.log.present)
        row.logFile = Utf8FromWide(machine.name + L".log");
    e.logName = Utf8FromWide(machine.name + L".log");
    ReadLastRun(machine.log, machine.backup, e.run, buffers);
    if (e.run.state == RunState::Found) {
        row.lastRun = e.run.start;
        row.ended = e.run.end;
        row.sample = SampleBuild(e.run);
    }
    // Both times are the file server's, so the machines' clocks and time
    // zones play no part.
    const FILETIME& logWrite = NewestLog(machine).lastWrite;
    e.hasResult = machine.result.present;
    e.resultAfterLog = CompareFileTime(&machine.result.lastWrite, &logWrite) >= 0;
    // The script writes the result as soon as the program has ended: one
    // written moments after the closing record is that run's own, repeats
    // the status the record carries, and is not opened. Opening files is
    // most of a report's time.
    if (e.hasResult && e.run.closed && e.resultAfterLog &&
        Seconds(logWrite, machine.result.lastWrite) < kOwnResultSeconds) {
        e.resultRead = true;
        e.resultStatus = e.run.exitStatus;
    } else {
        e.resultRead = e.hasResult && ReadResult(machine.result, e.resultStatus);
    }
    e.logStale = CompareFileTime(&logWrite, &staleBefore) < 0;
    row.verdict = Judge(e);
    return row;
}

bool ActionThenName(const Row& a, const Row& b) {
    const Action aa = ActionOf(a.verdict.cause), ab = ActionOf(b.verdict.cause);
    if (aa != ab)
        return aa < ab;
    if (a.verdict.cause != b.verdict.cause)
        return a.verdict.cause < b.verdict.cause;
    return a.key < b.key;
}
