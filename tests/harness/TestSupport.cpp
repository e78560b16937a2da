#include "TestSupport.h"

#include "Owners.h"

#include <algorithm>
#include <stdio.h>
#include <string.h>

namespace ts {

namespace {
std::string UnixToWindows(const std::string& unixPath) {
    std::string p = "Z:" + unixPath;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}
} // namespace

std::string ScratchDir(const std::string& name) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string dir = std::string(temp) + "update-tests\\" + name;
    RemoveTree(dir);
    MakeDirs(dir);
    return dir;
}

bool MakeDirs(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            std::string prefix = path.substr(0, i);
            CreateDirectoryA(prefix.c_str(), nullptr);
        }
    }
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveTree(const std::string& path) {
    // Wide calls with the long prefix, so that deep test trees go too.
    std::wstring wide;
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    wide.resize(n);
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], n);
    wide.resize(n - 1);
    if (wide.compare(0, 4, L"\\\\?\\") != 0)
        wide = L"\\\\?\\" + wide;
    DWORD a = GetFileAttributesW(wide.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return true;
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL | (a & FILE_ATTRIBUTE_DIRECTORY));
    if (!(a & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileW(wide.c_str()) != FALSE;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((wide + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0)
                continue;
            std::wstring child = wide + L"\\" + fd.cFileName;
            int m = WideCharToMultiByte(CP_ACP, 0, child.c_str(), -1, nullptr, 0, nullptr, nullptr);
            std::string narrow(m, '\0');
            WideCharToMultiByte(CP_ACP, 0, child.c_str(), -1, &narrow[0], m, nullptr, nullptr);
            narrow.resize(m - 1);
            RemoveTree(narrow);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    return RemoveDirectoryW(wide.c_str()) != FALSE;
}

bool WriteBytes(const std::string& path, const std::string& data) {
    UniqueHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.IsValid())
        return false;
    DWORD written = 0;
    return WriteFile(h.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size();
}

std::string ReadBytes(const std::string& path) {
    UniqueHandle h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h.IsValid())
        return std::string();
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h.Get(), buf, sizeof buf, &got, nullptr) && got > 0)
        out.append(buf, got);
    return out;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD Attributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

std::vector<std::string> ListDir(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(fd.cFileName, ".") != 0 && strcmp(fd.cFileName, "..") != 0)
            names.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

namespace {
// The message of a record: what follows "] <source> <line> <thread> : ".
std::string Message(const std::string& record) {
    if (record.size() < 22 || record[0] != '[' || record[20] != ']' || record[21] != ' ')
        return record;
    const size_t separator = record.find(" : ", 22);
    return separator == std::string::npos ? record : record.substr(separator + 3);
}
} // namespace

std::vector<std::string> LogMessages(const std::string& logPath) {
    std::vector<std::string> messages;
    const std::string text = ReadBytes(logPath);
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        messages.push_back(Message(text.substr(at, end - at)));
    return messages;
}

std::string BuildFile(const std::string& relative) {
    return UnixToWindows(std::string(UPDATE_BUILD_DIR) + "/" + relative);
}

std::string SourceFile(const std::string& relative) {
    return UnixToWindows(std::string(UPDATE_SOURCE_DIR) + "/" + relative);
}

bool SetRegValue(const char* subKey, const char* valueName, DWORD type, const std::string& data) {
    UniqueKey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                        nullptr, key.Out(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.Get(), valueName, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool SetRegString(const char* subKey, const char* valueName, const std::string& data) {
    return SetRegValue(subKey, valueName, REG_SZ, std::string(data.c_str(), data.size() + 1));
}

void DeleteRegKey(const char* subKey) {
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subKey, KEY_WOW64_32KEY, 0);
}

void ClearProductKeys() {
    DeleteRegKey("SOFTWARE\\TALMERO\\BaseSrv");
    DeleteRegKey("SOFTWARE\\TALMERO\\BaseCli");
}

namespace {

// Every process a test starts, and all that those start, ends with the test
// program, also when it crashes (as it now and then does under an emulator):
// one left running would hold the update's lock or the files of the tests
// that come after it.
HANDLE ChildrenJob() {
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created != nullptr)
            SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                    sizeof limits);
        return created;
    }();
    return job;
}

} // namespace

bool StartProcess(const std::string& commandLine, BOOL inheritHandles, void* environment,
                  const char* folder, STARTUPINFOA& startup, PROCESS_INFORMATION& process,
                  std::string* errors) {
    if (errors != nullptr)
        errors->clear();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            Sleep(250 * attempt);
        std::string line = commandLine;
        // Suspended until it is in the job, so that nothing it starts escapes.
        if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, inheritHandles, CREATE_SUSPENDED,
                           environment, folder, &startup, &process)) {
            if (const HANDLE job = ChildrenJob())
                AssignProcessToJobObject(job, process.hProcess);
            ResumeThread(process.hThread);
            return true;
        }
        if (errors != nullptr)
            *errors += (errors->empty() ? "error " : ", then ") + std::to_string(GetLastError());
    }
    return false;
}

Child::~Child() {
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_, 99);
        CloseHandle(process_);
    }
}

bool Child::Start(const std::string& commandLine, const std::vector<std::string>& env,
                  const std::string& folder) {
    // Environment block: the inherited one with the overrides applied.
    std::vector<std::string> vars;
    LPCH block = GetEnvironmentStringsA();
    for (LPCH p = block; *p; p += strlen(p) + 1)
        vars.push_back(p);
    FreeEnvironmentStringsA(block);
    for (const std::string& e : env) {
        std::string name = e.substr(0, e.find('=') + 1);
        vars.erase(std::remove_if(vars.begin(), vars.end(),
                                  [&](const std::string& v) {
                                      return _strnicmp(v.c_str(), name.c_str(), name.size()) == 0;
                                  }),
                   vars.end());
        vars.push_back(e);
    }
    std::string envBlock;
    for (const std::string& v : vars) {
        envBlock += v;
        envBlock.push_back('\0');
    }
    envBlock.push_back('\0');

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!StartProcess(commandLine, FALSE, &envBlock[0], folder.empty() ? nullptr : folder.c_str(),
                      si, pi, &errors_))
        return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    return true;
}

int Child::Wait(DWORD timeoutMs) {
    if (process_ == nullptr)
        return -1;
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

namespace {
struct FindData {
    DWORD pid;
    const std::string* caption;
    std::vector<HWND> found;
};

// A plain callback, as the 32-bit build's EnumWindows takes.
BOOL CALLBACK FindProc(HWND w, LPARAM lp) {
    FindData* d = reinterpret_cast<FindData*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == d->pid && IsWindowVisible(w) && WindowText(w) == *d->caption)
        d->found.push_back(w);
    return TRUE;
}
} // namespace

std::vector<HWND> VisibleWindows(DWORD pid, const std::string& caption) {
    FindData d{pid, &caption, {}};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&d));
    return d.found;
}

HWND WaitForWindow(DWORD pid, const std::string& caption, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        const std::vector<HWND> found = VisibleWindows(pid, caption);
        if (!found.empty())
            return found.front();
        if (GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(50);
    }
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

std::string WindowText(HWND window) {
    char buf[2048];
    // WM_GETTEXT works across processes; GetWindowText would not for controls.
    LRESULT n = SendMessageA(window, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string ItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr ? WindowText(item) : std::string();
}

namespace {
// Renders a standard icon on the given background into a 32x32 pixel array.
std::vector<COLORREF> RenderIcon(LPCSTR id, COLORREF background) {
    std::vector<COLORREF> px(32 * 32);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 32, 32);
    HGDIOBJ old = SelectObject(mem, bmp);
    HBRUSH brush = CreateSolidBrush(background);
    RECT r = {0, 0, 32, 32};
    FillRect(mem, &r, brush);
    DeleteObject(brush);
    DrawIcon(mem, 0, 0, LoadIconA(nullptr, id));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            px[y * 32 + x] = GetPixel(mem, x, y);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return px;
}
} // namespace

int MessageBoxIconKind(HWND box) {
    // The box's icon control draws a 32x32 standard icon; compare the screen
    // pixels with each standard icon rendered here.
    HWND icon = nullptr;
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32];
        GetClassNameA(c, cls, sizeof cls);
        LONG style = GetWindowLongA(c, GWL_STYLE);
        if (_stricmp(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(c)) {
            icon = c;
            break;
        }
    }
    if (icon == nullptr)
        return 0;
    RECT r;
    GetWindowRect(icon, &r);
    const LPCSTR ids[] = {IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK};
    int found = 0;
    // The box paints in its own time: painted again and read until one of
    // the icons shows.
    WaitUntil(
        [&] {
            RedrawWindow(icon, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
            HDC screen = GetDC(nullptr);
            std::vector<COLORREF> shown(32 * 32);
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 32; ++x)
                    shown[y * 32 + x] = GetPixel(screen, r.left + x, r.top + y);
            ReleaseDC(nullptr, screen);
            const COLORREF background = shown[0];
            for (LPCSTR id : ids) {
                std::vector<COLORREF> ref = RenderIcon(id, background);
                long diff = 0;
                for (size_t i = 0; i < ref.size(); ++i)
                    diff += ref[i] != shown[i];
                // A near-exact match, so that no icon at all is not taken
                // for one.
                if (diff < 32) {
                    found = static_cast<int>(reinterpret_cast<INT_PTR>(id));
                    return true;
                }
            }
            return false;
        },
        kHangMs);
    return found;
}

namespace {
// The Unix name of a Windows path, from Wine; empty elsewhere.
std::string UnixName(const std::string& path) {
    typedef char*(CDECL * Convert)(const wchar_t*);
    Convert convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr)
        return "";
    std::wstring wide(path.size() + 1, L'\0');
    const int n =
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    if (n == 0)
        return "";
    char* name = convert(wide.c_str());
    std::string text = name != nullptr ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}
} // namespace

namespace {
// Whether the folder lists the name: a link shows there whatever it points
// to, even nothing.
bool Listed(const std::string& path) {
    const size_t slash = path.rfind('\\');
    const std::vector<std::string> names = ListDir(path.substr(0, slash));
    return std::find(names.begin(), names.end(), path.substr(slash + 1)) != names.end();
}
} // namespace

int RunUnix(const std::string& command) {
    static int serial = 0;
    char name[64];
    snprintf(name, sizeof name, "update-unix-%lu-%d", GetCurrentProcessId(), ++serial);
    std::string rc;
    const char* runner = getenv("UPDATE_UNIX_RUNNER");
    if (runner != nullptr && *runner == '/') {
        // Handed to the runner outside Wine: the request appears whole.
        const std::string base = UnixToWindows(std::string(runner) + "/" + name);
        if (!WriteBytes(base + ".tmp", command) ||
            !MoveFileA((base + ".tmp").c_str(), (base + ".cmd").c_str()))
            return -1;
        rc = base + ".rc";
    } else {
        // Wine runs a Unix program itself, but gives no handle to wait on:
        // the shell writes the exit status to a file when it has finished.
        rc = std::string("Z:\\tmp\\") + name + ".rc";
        const std::string written = std::string("/tmp/") + name + ".rc";
        Child shell;
        if (!shell.Start("Z:\\bin\\sh -c \"" + command + "; echo $? > " + written + ".w; mv " +
                         written + ".w " + written + "\""))
            return -1;
    }
    std::string status;
    if (!WaitUntil(
            [&] {
                status = ReadBytes(rc);
                return !status.empty();
            },
            kHangMs))
        return -1;
    DeleteFileA(rc.c_str());
    return atoi(status.c_str());
}

bool MakeUnixSymlink(const std::string& target, const std::string& link) {
    const std::string from = UnixName(target), to = UnixName(link);
    return !from.empty() && !to.empty() && RunUnix("ln -s '" + from + "' '" + to + "'") == 0 &&
           Listed(link);
}

bool RemoveUnixSymlink(const std::string& link) {
    const std::string name = UnixName(link);
    return !name.empty() && RunUnix("rm -f '" + name + "'") == 0 && !Listed(link);
}

// ---- the small drive ----

namespace {
constexpr char kFillerPath[] = "S:\\~filler.bin";
// A drive larger than this is no test drive: never fill it.
constexpr uint64_t kSmallDriveMax = 64ull << 20;
constexpr uint64_t kPage = 4096;
} // namespace

uint64_t FreeBytes(const std::string& root) {
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free))
        return 0;
    return available.QuadPart;
}

bool SmallDriveReady(std::string& reason) {
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA(kSmallDriveRoot, &available, &total, &free)) {
        reason = "no drive S: (tests/small-drive.sh could not mount it; see the output of the "
                 "test small_drive_up)";
        return false;
    }
    if (total.QuadPart > kSmallDriveMax) {
        reason =
            "drive S: is no small test drive (" + std::to_string(total.QuadPart >> 20) + " MiB)";
        return false;
    }
    return true;
}

bool SmallDriveFiller::LeaveFree(uint64_t freeBytes) {
    Remove();
    std::string reason;
    if (!SmallDriveReady(reason))
        return false;
    const uint64_t free = FreeBytes(kSmallDriveRoot);
    if (free < freeBytes)
        return false;
    uint64_t remaining = (free - freeBytes) / kPage * kPage;
    UniqueHandle h(CreateFileA(kFillerPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.IsValid())
        return false;
    made_ = true;
    // Written, not just extended: a tmpfs keeps no pages for a hole.
    std::string zeros(1 << 20, '\0');
    while (remaining > 0) {
        const DWORD piece = static_cast<DWORD>(remaining < zeros.size() ? remaining : zeros.size());
        DWORD put = 0;
        if (!WriteFile(h.Get(), zeros.data(), piece, &put, nullptr) || put != piece)
            return false;
        remaining -= piece;
    }
    return true;
}

void SmallDriveFiller::Remove() {
    if (made_)
        DeleteFileA(kFillerPath);
    made_ = false;
}

} // namespace ts

namespace ts {
namespace {
struct Listing {
    DWORD pid;
    std::string text;
};

BOOL CALLBACK ListProc(HWND w, LPARAM lp) {
    Listing& list = *reinterpret_cast<Listing*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != list.pid)
        return TRUE;
    char cls[64] = "";
    GetClassNameA(w, cls, sizeof cls);
    char line[160];
    snprintf(line, sizeof line, "[%p %s%s%s owner %p \"", static_cast<void*>(w), cls,
             IsWindowVisible(w) ? " visible" : "", IsWindowEnabled(w) ? " enabled" : "",
             static_cast<void*>(GetWindow(w, GW_OWNER)));
    list.text += line + WindowText(w) + "\"] ";
    return TRUE;
}
} // namespace

std::string DescribeWindows(DWORD pid) {
    Listing list{pid, ""};
    EnumWindows(ListProc, reinterpret_cast<LPARAM>(&list));
    char foreground[48];
    snprintf(foreground, sizeof foreground, "foreground %p",
             static_cast<void*>(GetForegroundWindow()));
    return list.text + foreground;
}

} // namespace ts
