// UpdateReport: what a rollout of Update.exe through update-startup.cmd did,
// machine by machine, from the logs folder the script fills.
//   UpdateReport LOGS [--out DIR]
// Writes DIR\report.csv and DIR\report.html (DIR: LOGS unless given) and one
// line of counts per status on stdout.
#include "Machines.h"
#include "Output.h"

#include "DirCreate.h"
#include "ErrorText.h"
#include "LongPath.h"
#include "Mbcs.h"
#include "Owners.h"

#include <windows.h>
#include <algorithm>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

enum ExitStatus : int {
    kExitOk = 0,
    kExitUsage = 64,
    // LOGS is missing, cannot be listed, or holds no machine's files.
    kExitNoInput = 66,
    // A report file cannot be written.
    kExitCannotWrite = 73,
};

// Fewer machines than this are read before anyone would wait for them.
constexpr size_t kProgressAbove = 300;
constexpr DWORD kRedrawMs = 200;

const char kUsage[] = "usage: UpdateReport LOGS [--out DIR]\n"
                      "  LOGS       the folder of <COMPUTERNAME>.log and .result files that\n"
                      "             update-startup.cmd fills\n"
                      "  --out DIR  where report.csv and report.html go (default: LOGS)\n"
                      "exit status: 0 report written, 64 usage error, 66 no such folder or no\n"
                      "log or result files in it, 73 a report file cannot be written\n";

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

int UsageError(const char* problem, const char* argument) {
    Complain("%s%s", problem, argument);
    fputs(kUsage, stderr);
    return kExitUsage;
}

struct Arguments {
    const char* logs = nullptr;
    const char* out = nullptr;
};

enum class Parsed { Run, Help, Usage };

Parsed Parse(int argc, char** argv, Arguments& args, int& status) {
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (options && strcmp(a, "--") == 0) {
            options = false;
        } else if (options &&
                   (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0 || strcmp(a, "/?") == 0)) {
            return Parsed::Help;
        } else if (options && strcmp(a, "--out") == 0) {
            if (i + 1 >= argc) {
                status = UsageError("--out needs a folder", "");
                return Parsed::Usage;
            }
            args.out = argv[++i];
        } else if (options && strncmp(a, "--out=", 6) == 0) {
            args.out = a + 6;
        } else if (options && a[0] == '-' && a[1] != '\0') {
            status = UsageError("unknown option ", a);
            return Parsed::Usage;
        } else if (args.logs == nullptr) {
            args.logs = a;
        } else {
            status = UsageError("one LOGS folder only, not also ", a);
            return Parsed::Usage;
        }
    }
    if (args.logs == nullptr || args.logs[0] == '\0' ||
        (args.out != nullptr && args.out[0] == '\0')) {
        status = UsageError("no LOGS folder given", "");
        return Parsed::Usage;
    }
    return Parsed::Run;
}

// Not a trail byte 0x5C of a double-byte character.
bool EndsWithBackslash(const std::string& path) {
    const char* last = MbcsFindLast(path.data(), path.size(), '\\');
    return last != nullptr && last == path.data() + path.size() - 1;
}

// The absolute form of a path argument, without a trailing backslash unless
// it is a drive's root. False with the platform's error code.
bool AbsolutePath(const char* argument, std::string& absolute, DWORD& error) {
    std::vector<char> full(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetFullPathNameA(argument, static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) {
            error = GetLastError();
            return false;
        }
        if (n < full.size())
            break;
        full.resize(n + 1);
    }
    absolute = full.data();
    while (absolute.size() > 3 && EndsWithBackslash(absolute))
        absolute.pop_back();
    return true;
}

std::string Join(const std::string& folder, const char* name) {
    return EndsWithBackslash(folder) ? folder + name : folder + "\\" + name;
}

std::string Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    return text;
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

// "12 machines: 0 updated: 9, 1 update failed: 2, no result (still running
// or stopped): 1".
void PrintSummary(std::vector<Row>& rows) {
    std::sort(rows.begin(), rows.end(), StatusThenName);
    std::string line = std::to_string(rows.size()) + " machines";
    const char* separator = ": ";
    for (const StatusCount& c : CountStatuses(rows)) {
        line += separator + StatusLabel(*c.first) + ": " + std::to_string(c.count);
        separator = ", ";
    }
    printf("%s\n", line.c_str());
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    int status = kExitOk;
    switch (Parse(argc, argv, args, status)) {
    case Parsed::Help:
        fputs(kUsage, stdout);
        return kExitOk;
    case Parsed::Usage:
        return status;
    case Parsed::Run:
        break;
    }

    std::string logs, out;
    DWORD error = 0;
    if (!AbsolutePath(args.logs, logs, error)) {
        Complain("no folder %s: %s", args.logs, ErrorText(error).text);
        return kExitNoInput;
    }
    const DWORD attributes = GetFileAttributesLong(logs.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        Complain("no folder %s: %s", logs.c_str(), ErrorText(error).text);
        return kExitNoInput;
    }
    std::vector<Machine> machines;
    if (!ListMachines(logs, machines, error)) {
        Complain("cannot list %s: %s", logs.c_str(), ErrorText(error).text);
        return kExitNoInput;
    }
    if (machines.empty()) {
        Complain("%s holds no <COMPUTERNAME>.log or .result files", logs.c_str());
        return kExitNoInput;
    }

    std::vector<Row> rows;
    rows.reserve(machines.size());
    {
        Progress progress(machines.size());
        for (const Machine& machine : machines) {
            rows.push_back(Examine(machine));
            progress.Set(rows.size());
        }
    }

    if (args.out == nullptr) {
        out = logs;
    } else if (!AbsolutePath(args.out, out, error)) {
        Complain("cannot write to %s: %s", args.out, ErrorText(error).text);
        return kExitCannotWrite;
    }
    // A missing folder is made; one that cannot be is named by the file that
    // cannot be written in it.
    if (GetFileAttributesLong(out.c_str()) == INVALID_FILE_ATTRIBUTES)
        MakeDirectoryPath(out.c_str());
    const std::string csv = Join(out, "report.csv");
    const std::string html = Join(out, "report.html");
    if (!WriteCsv(csv, rows, error)) {
        Complain("cannot write %s: %s", csv.c_str(), ErrorText(error).text);
        return kExitCannotWrite;
    }
    if (!WriteHtml(html, logs, Now(), rows, error)) {
        Complain("cannot write %s: %s", html.c_str(), ErrorText(error).text);
        return kExitCannotWrite;
    }
    PrintSummary(rows);
    return kExitOk;
}
