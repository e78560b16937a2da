#include "FpackRunner.h"

#include "ErrorText.h"

#include "Owners.h"
#include "PackTestUtil.h"
#include "TestSupport.h"

#include <windows.h>
#include <algorithm>
#include <string.h>

namespace fr {

namespace {

std::string EnvironmentBlock(const std::vector<std::string>& changes) {
    std::vector<std::string> vars;
    LPCH block = GetEnvironmentStringsA();
    for (LPCH p = block; *p; p += strlen(p) + 1)
        vars.push_back(p);
    FreeEnvironmentStringsA(block);
    std::vector<std::string> all = {"SOURCE_DATE_EPOCH"};
    all.insert(all.end(), changes.begin(), changes.end());
    for (const std::string& change : all) {
        const std::string name = change.substr(0, change.find('=')) + "=";
        vars.erase(std::remove_if(vars.begin(), vars.end(),
                                  [&](const std::string& v) {
                                      return _strnicmp(v.c_str(), name.c_str(), name.size()) == 0;
                                  }),
                   vars.end());
        if (change.find('=') != std::string::npos)
            vars.push_back(change);
    }
    std::string text;
    for (const std::string& v : vars)
        text += v + '\0';
    return text + '\0';
}

// A scratch file that a child writes into through an inherited handle.
struct OutputFile {
    std::string path;
    UniqueHandle handle;

    bool Open(const std::string& folder, const char* name) {
        path = folder + "\\" + name;
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        handle.Attach(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &sa, CREATE_ALWAYS, 0, nullptr));
        return handle.IsValid();
    }
    std::string Read() {
        handle.Close();
        return ts::ReadBytes(path);
    }
};

// This process's console: made once, emptied before each run.
HANDLE g_console = nullptr;

HANDLE Console() {
    static bool tried = false;
    if (!tried) {
        tried = true;
        FreeConsole();
        if (AllocConsole()) {
            SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
            HANDLE h =
                CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
            DWORD mode = 0;
            if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode))
                g_console = h;
        }
    }
    return g_console;
}

void ClearConsole(HANDLE console) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    GetConsoleScreenBufferInfo(console, &info);
    const COORD origin = {0, 0};
    DWORD written = 0;
    FillConsoleOutputCharacterA(console, ' ', info.dwSize.X * info.dwSize.Y, origin, &written);
    SetConsoleCursorPosition(console, origin);
}

std::string ConsoleRows(HANDLE console) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    GetConsoleScreenBufferInfo(console, &info);
    std::string rows;
    std::vector<char> row(info.dwSize.X);
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        DWORD got = 0;
        const COORD at = {0, y};
        ReadConsoleOutputCharacterA(console, row.data(), info.dwSize.X, at, &got);
        std::string text(row.data(), got);
        text.erase(text.find_last_not_of(' ') + 1);
        rows += text + "\n";
    }
    // Rows after the last one written are blank.
    while (rows.size() >= 2 && rows.compare(rows.size() - 2, 2, "\n\n") == 0)
        rows.pop_back();
    return rows == "\n" ? "" : rows;
}

} // namespace

bool ConsoleAvailable() {
    return Console() != nullptr;
}

Result Fpack(const std::string& arguments, const RunOptions& run) {
    Result result;
    const std::string scratch = ts::ScratchDir("fpack-run");
    OutputFile out, err;
    if (!out.Open(scratch, "out.txt") || !err.Open(scratch, "err.txt"))
        return result;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    UniqueHandle input(
        CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, 0, nullptr));
    HANDLE console = run.output == Output::Files ? nullptr : Console();
    if (run.output != Output::Files) {
        if (console == nullptr)
            return result;
        ClearConsole(console);
    }
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = input.Get();
    si.hStdOutput = run.output == Output::BothOnConsole ? console : out.handle.Get();
    si.hStdError = run.output == Output::Files ? err.handle.Get() : console;
    std::string line = pt::Fpack() + " " + arguments;
    std::string env = EnvironmentBlock(run.env);
    PROCESS_INFORMATION pi = {};
    if (!ts::StartProcess(line, TRUE, &env[0], run.folder.empty() ? nullptr : run.folder.c_str(),
                          si, pi, &result.err)) {
        result.err = "fpack did not start: " + result.err;
        return result;
    }
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, ts::kHangMs) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 99);
        return result;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    result.status = static_cast<int>(code);
    result.out = out.Read();
    result.err = err.Read();
    if (console != nullptr)
        result.console = ConsoleRows(console);
    ts::RemoveTree(scratch);
    return result;
}

std::string SystemText(unsigned long error) {
    char text[512];
    return std::string(text, SystemMessage(error, text, sizeof text));
}

void FpackTest::SetUp() {
    work_ = ts::ScratchDir("fpack");
    src_ = work_ + "\\src";
}

void FpackTest::TearDown() {
    ts::RemoveTree(work_);
}

Result FpackTest::Tool(const std::string& arguments, RunOptions run) {
    if (run.folder.empty())
        run.folder = work_;
    return Fpack(arguments, run);
}

std::map<std::string, std::vector<std::string>> FpackTest::Records(const std::string& archive) {
    std::map<std::string, std::vector<std::string>> records;
    const Result r = Tool("l --tsv " + Q(archive));
    EXPECT_EQ(0, r.status) << r.err;
    size_t at = 0;
    while (at < r.out.size()) {
        size_t end = r.out.find("\r\n", at);
        if (end == std::string::npos)
            end = r.out.size();
        std::vector<std::string> fields;
        for (size_t f = at; f <= end;) {
            size_t tab = r.out.find('\t', f);
            if (tab == std::string::npos || tab > end)
                tab = end;
            fields.push_back(r.out.substr(f, tab - f));
            f = tab + 1;
        }
        const std::string name = fields.back();
        fields.pop_back();
        records[name] = fields;
        at = end + 2;
    }
    return records;
}

} // namespace fr
