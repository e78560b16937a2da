// UpdateReport: what a rollout of Update.exe through update-startup.cmd did,
// machine by machine, and what to do next, from the logs folder the script
// fills.
//   UpdateReport LOGS [--out DIR] [--machines FILE] [--stale-after TIME]
// Writes DIR\report.csv and DIR\report.html (DIR: the current folder unless
// given) and two lines of counts on stdout.
#include "Machines.h"
#include "Output.h"
#include "Page.h"
#include "Targets.h"
#include "Utf8.h"

#include "ErrorText.h"
#include "LongPath.h"
#include "Owners.h"
#include "PathHelpers.h"

#include <windows.h>
#include <shellapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

enum ExitStatus : int {
    kExitOk = 0,
    kExitUsage = 64,
    // LOGS is missing, cannot be listed, or holds no machine's files; the
    // list of targets cannot be read.
    kExitNoInput = 66,
    // A report file cannot be written.
    kExitCannotWrite = 73,
};

// Fewer machines than this are read before anyone would wait for them.
constexpr size_t kProgressAbove = 300;
constexpr DWORD kRedrawMs = 200;
// A run takes seconds, a slow one minutes: one whose log has been silent
// for an hour has stopped.
constexpr unsigned long long kDefaultStaleSeconds = 3600;
constexpr unsigned long long kFileTimePerSecond = 10000000;

const char kUsage[] =
    "usage: UpdateReport LOGS [--out DIR] [--machines FILE] [--stale-after TIME]\n"
    "  LOGS               the folder of <COMPUTERNAME>.log and .result files that\n"
    "                     update-startup.cmd fills\n"
    "  --out DIR          where report.csv and report.html go (default: the\n"
    "                     current folder)\n"
    "  --machines FILE    the target machines, one computer name per line; each\n"
    "                     gets a row, also before it has reported\n"
    "  --stale-after TIME a run without its closing record whose log is older\n"
    "                     than this was interrupted (default 1h; 90s, 30m, 2h, 1d)\n"
    "exit status: 0 report written, 64 usage error, 66 no such folder, no log or\n"
    "result files in it, or the list of machines cannot be read, 73 a report\n"
    "file cannot be written\n";

void Complain(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void Complain(const char* format, ...) {
    fflush(stdout);
    fputs("UpdateReport: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stderr, format, arguments);
    va_end(arguments);
    fputc('\n', stderr);
}

std::string Shown(const std::wstring& text) {
    return AnsiFromWide(text);
}

int UsageError(const char* problem, const std::wstring& argument) {
    Complain("%s%s", problem, Shown(argument).c_str());
    fputs(kUsage, stderr);
    return kExitUsage;
}

struct Arguments {
    const wchar_t* logs = nullptr;
    const wchar_t* out = nullptr;
    const wchar_t* machines = nullptr;
    unsigned long long staleSeconds = kDefaultStaleSeconds;
    std::string staleText = "1 hour";
};

// "90s", "30m", "2h", "1d": a count and its unit.
bool ParseDuration(const wchar_t* text, unsigned long long& seconds, std::string& shown) {
    static const struct {
        wchar_t unit;
        unsigned long long seconds;
        const char* name;
    } kUnits[] = {
        {L's', 1, "second"}, {L'm', 60, "minute"}, {L'h', 3600, "hour"}, {L'd', 86400, "day"}};
    unsigned long long count = 0;
    const wchar_t* at = text;
    for (; *at >= L'0' && *at <= L'9'; ++at) {
        count = count * 10 + static_cast<unsigned>(*at - L'0');
        if (count > 100000000)
            return false;
    }
    if (at == text || at[0] == L'\0' || at[1] != L'\0')
        return false;
    for (const auto& u : kUnits) {
        if (*at == u.unit) {
            seconds = count * u.seconds;
            shown = std::to_string(count) + " " + u.name + (count == 1 ? "" : "s");
            return true;
        }
    }
    return false;
}

enum class Parsed { Run, Help, Usage };

// An option's value, "--name VALUE" or "--name=VALUE"; false when a is not
// the option.
bool OptionValue(int argc, wchar_t** argv, int& i, const wchar_t* name, const wchar_t*& value,
                 bool& missing) {
    const size_t n = wcslen(name);
    const wchar_t* a = argv[i];
    if (wcsncmp(a, name, n) != 0 || (a[n] != L'\0' && a[n] != L'='))
        return false;
    if (a[n] == L'=') {
        value = a + n + 1;
    } else if (i + 1 < argc) {
        value = argv[++i];
    } else {
        value = nullptr;
    }
    missing = value == nullptr || value[0] == L'\0';
    return true;
}

Parsed Parse(int argc, wchar_t** argv, Arguments& args, int& status) {
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* a = argv[i];
        const wchar_t* value = nullptr;
        bool missing = false;
        if (options && wcscmp(a, L"--") == 0) {
            options = false;
        } else if (options &&
                   (wcscmp(a, L"-h") == 0 || wcscmp(a, L"--help") == 0 || wcscmp(a, L"/?") == 0)) {
            return Parsed::Help;
        } else if (options && OptionValue(argc, argv, i, L"--out", value, missing)) {
            args.out = value;
        } else if (options && OptionValue(argc, argv, i, L"--machines", value, missing)) {
            args.machines = value;
        } else if (options && OptionValue(argc, argv, i, L"--stale-after", value, missing)) {
            if (!missing && !ParseDuration(value, args.staleSeconds, args.staleText)) {
                status =
                    UsageError("--stale-after wants a count and a unit (s, m, h, d), not ", value);
                return Parsed::Usage;
            }
        } else if (options && a[0] == L'-' && a[1] != L'\0') {
            status = UsageError("unknown option ", a);
            return Parsed::Usage;
        } else if (args.logs == nullptr) {
            args.logs = a;
        } else {
            status = UsageError("one LOGS folder only, not also ", a);
            return Parsed::Usage;
        }
        if (missing) {
            status = UsageError("a value is missing after ", a);
            return Parsed::Usage;
        }
    }
    if (args.logs == nullptr || args.logs[0] == L'\0') {
        status = UsageError("no LOGS folder given", L"");
        return Parsed::Usage;
    }
    return Parsed::Run;
}

// Makes an absolute folder and those above it that are missing; what cannot
// be made shows when a file in it cannot be written.
void MakeFolders(const std::wstring& path) {
    const std::wstring full = LongForm(path);
    // The root's own backslash: "\\?\C:\" or "\\?\UNC\server\share\".
    size_t at = 6;
    if (full.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        const size_t server = full.find(L'\\', 8);
        at = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
    }
    while (at != std::wstring::npos && at + 1 < full.size()) {
        at = full.find(L'\\', at + 1);
        CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
    }
}

std::wstring Join(const std::wstring& folder, const wchar_t* name) {
    return folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

std::vector<std::wstring> Components(const std::wstring& path) {
    std::vector<std::wstring> parts;
    size_t at = path.compare(0, 2, L"\\\\") == 0 ? 2 : 0;
    while (at < path.size()) {
        size_t end = path.find(L'\\', at);
        if (end == std::wstring::npos)
            end = path.size();
        if (end > at)
            parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

std::wstring Upper(std::wstring text) {
    if (!text.empty())
        CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The logs folder as a URL relative to the page's folder ("../logs/"), or
// as a file URL when the two have no root in common.
std::string LogsUrl(const std::wstring& page, const std::wstring& logs) {
    const std::vector<std::wstring> from = Components(page), to = Components(logs);
    const bool unc = logs.compare(0, 2, L"\\\\") == 0;
    const size_t root = unc ? 2 : 1;
    size_t common = 0;
    while (common < from.size() && common < to.size() && Upper(from[common]) == Upper(to[common]))
        ++common;
    std::string url;
    if (common >= root && unc == (page.compare(0, 2, L"\\\\") == 0)) {
        for (size_t i = common; i < from.size(); ++i)
            url += "../";
    } else {
        url = unc ? "file://" : "file:///";
        common = 0;
    }
    for (size_t i = common; i < to.size(); ++i) {
        // The drive's colon stays as it is.
        const std::string part = Utf8FromWide(to[i]);
        url += (!unc && i == 0 ? part : UrlEscape(part)) + "/";
    }
    return url;
}

std::string Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    return text;
}

// The time, UTC, that many seconds ago.
FILETIME Ago(unsigned long long seconds) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    const unsigned long long span = seconds * kFileTimePerSecond;
    t.QuadPart = t.QuadPart > span ? t.QuadPart - span : 0;
    FILETIME ago;
    ago.dwLowDateTime = t.LowPart;
    ago.dwHighDateTime = t.HighPart;
    return ago;
}

// "n of total machines" on stderr, redrawn in place, when stderr is a
// console and there are enough machines to wait for.
class Progress {
  public:
    explicit Progress(size_t total) : total_(total) {
        HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
        DWORD mode = 0;
        if (total > kProgressAbove && UniqueHandle::IsValid(error) && GetConsoleMode(error, &mode))
            console_ = error;
    }
    ~Progress() {
        if (console_ == nullptr)
            return;
        Draw(total_);
        DWORD written = 0;
        WriteConsoleA(console_, "\r\n", 2, &written, nullptr);
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Set(size_t done) {
        const DWORD now = GetTickCount();
        if (console_ != nullptr && now - drawn_ >= kRedrawMs) {
            Draw(done);
            drawn_ = now;
        }
    }

  private:
    void Draw(size_t done) {
        char line[80];
        const int n =
            snprintf(line, sizeof line, "\rUpdateReport: %lu of %lu machines",
                     static_cast<unsigned long>(done), static_cast<unsigned long>(total_));
        DWORD written = 0;
        if (n > 0)
            WriteConsoleA(console_, line, static_cast<DWORD>(n), &written, nullptr);
    }

    size_t total_;
    HANDLE console_ = nullptr;
    DWORD drawn_ = 0;
};

// "12 machines: 7 nothing to do, 1 waiting, 2 to retry, 2 to fix, 0 skipped"
// for a person, and the same in one fixed form for tickets and scripts.
void PrintSummary(const std::vector<Row>& rows) {
    size_t n[kActions] = {};
    for (const Row& row : rows)
        ++n[static_cast<int>(ActionOf(row.verdict.cause))];
    auto count = [&](Action a) { return static_cast<unsigned long>(n[static_cast<int>(a)]); };
    printf("%lu machines: %lu nothing to do, %lu waiting, %lu to retry, %lu to fix, "
           "%lu skipped\n",
           static_cast<unsigned long>(rows.size()), count(Action::None), count(Action::Wait),
           count(Action::Retry), count(Action::Fix), count(Action::Skip));
    printf("summary: total=%lu none=%lu wait=%lu retry=%lu fix=%lu skip=%lu\n",
           static_cast<unsigned long>(rows.size()), count(Action::None), count(Action::Wait),
           count(Action::Retry), count(Action::Fix), count(Action::Skip));
}

// The arguments as the command line gave them, whatever the code page.
class WideArguments {
  public:
    WideArguments() : argv_(CommandLineToArgvW(GetCommandLineW(), &argc_)) {}
    ~WideArguments() { LocalFree(argv_); }
    WideArguments(const WideArguments&) = delete;
    WideArguments& operator=(const WideArguments&) = delete;
    int Count() const { return argv_ != nullptr ? argc_ : 0; }
    wchar_t** Values() const { return argv_; }

  private:
    int argc_ = 0;
    wchar_t** argv_;
};

} // namespace

int main() {
    WideArguments wide;
    Arguments args;
    int status = kExitOk;
    switch (Parse(wide.Count(), wide.Values(), args, status)) {
    case Parsed::Help:
        fputs(kUsage, stdout);
        return kExitOk;
    case Parsed::Usage:
        return status;
    case Parsed::Run:
        break;
    }

    std::wstring logs, out;
    DWORD error = 0;
    if (!AbsolutePath(args.logs, logs)) {
        error = GetLastError();
        Complain("no folder %s: %s", Shown(args.logs).c_str(), ErrorText(error).text);
        return kExitNoInput;
    }
    const DWORD attributes = GetFileAttributesW(LongForm(logs).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        Complain("no folder %s: %s", Shown(logs).c_str(), ErrorText(error).text);
        return kExitNoInput;
    }
    std::vector<std::wstring> targets;
    if (args.machines != nullptr && !ReadTargets(args.machines, targets, error)) {
        Complain("cannot read the list of machines %s: %s", Shown(args.machines).c_str(),
                 ErrorText(error).text);
        return kExitNoInput;
    }
    std::vector<Machine> machines;
    if (!ListMachines(LongForm(logs), targets, machines, error)) {
        Complain("cannot list %s: %s", Shown(logs).c_str(), ErrorText(error).text);
        return kExitNoInput;
    }
    if (machines.empty()) {
        Complain("%s holds no <COMPUTERNAME>.log or .result files", Shown(logs).c_str());
        return kExitNoInput;
    }

    std::vector<Row> rows;
    rows.reserve(machines.size());
    {
        const FILETIME staleBefore = Ago(args.staleSeconds);
        Progress progress(machines.size());
        ReadBuffers buffers;
        for (Machine& machine : machines) {
            rows.push_back(Examine(machine, staleBefore, buffers));
            // Its file names are not needed again.
            machine = Machine();
            progress.Set(rows.size());
        }
    }

    // Not into LOGS by default: every machine may write there.
    const wchar_t* outArgument = args.out != nullptr ? args.out : L".";
    if (!AbsolutePath(outArgument, out)) {
        error = GetLastError();
        Complain("cannot write to %s: %s", Shown(outArgument).c_str(), ErrorText(error).text);
        return kExitCannotWrite;
    }
    if (Upper(out) == Upper(logs))
        Complain("warning: the report is in %s, which the machines may write to",
                 Shown(logs).c_str());
    // A missing folder is made; one that cannot be is named by the file that
    // cannot be written in it.
    MakeFolders(out);
    const std::wstring csv = Join(out, L"report.csv");
    const std::wstring html = Join(out, L"report.html");
    if (!WriteCsv(LongForm(csv), rows, error)) {
        Complain("cannot write %s: %s", Shown(csv).c_str(), ErrorText(error).text);
        return kExitCannotWrite;
    }
    PageFacts facts;
    facts.logs = Utf8FromWide(logs);
    facts.logsUrl = LogsUrl(out, logs);
    facts.made = Now();
    facts.staleAfter = args.staleText;
    if (!WriteHtml(LongForm(html), facts, rows, error)) {
        Complain("cannot write %s: %s", Shown(html).c_str(), ErrorText(error).text);
        return kExitCannotWrite;
    }
    PrintSummary(rows);
    return kExitOk;
}
