#include "SystemLibrary.h"

#include <stdio.h>

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD flags);
typedef BOOL(WINAPI* SetDllDirectoryFunction)(LPCSTR path);

// Not in the headers for the oldest platforms the program runs on.
constexpr DWORD kSearchSystem32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32

struct Sockets {
    int(WINAPI* startup)(WORD, void*) = nullptr;
    int(WINAPI* cleanup)() = nullptr;
    int(WINAPI* hostName)(char*, int) = nullptr;
    int(WINAPI* lastError)() = nullptr;
    bool tried = false;
};

Sockets& Library() {
    static Sockets sockets;
    if (!sockets.tried) {
        sockets.tried = true;
        if (HMODULE ws2 = LoadSystemLibrary("ws2_32.dll")) {
            sockets.startup = reinterpret_cast<int(WINAPI*)(WORD, void*)>(
                reinterpret_cast<void*>(GetProcAddress(ws2, "WSAStartup")));
            sockets.cleanup = reinterpret_cast<int(WINAPI*)()>(
                reinterpret_cast<void*>(GetProcAddress(ws2, "WSACleanup")));
            sockets.hostName = reinterpret_cast<int(WINAPI*)(char*, int)>(
                reinterpret_cast<void*>(GetProcAddress(ws2, "gethostname")));
            sockets.lastError = reinterpret_cast<int(WINAPI*)()>(
                reinterpret_cast<void*>(GetProcAddress(ws2, "WSAGetLastError")));
        }
    }
    return sockets;
}

KernelLookup g_kernelLookup = nullptr;

// WSASYSNOTREADY: the network subsystem is unavailable.
constexpr int kNotReady = 10091;
constexpr int kSocketError = -1;

} // namespace

void SetKernelLookup(KernelLookup lookup) {
    g_kernelLookup = lookup;
}

FARPROC KernelFunction(const char* name) {
    if (g_kernelLookup != nullptr)
        return g_kernelLookup(name);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
}

void RestrictLibrarySearch() {
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(KernelFunction("SetDefaultDllDirectories")));
    if (setDefault == nullptr || !setDefault(kSearchSystem32)) {
        auto setDirectory = reinterpret_cast<SetDllDirectoryFunction>(
            reinterpret_cast<void*>(KernelFunction("SetDllDirectoryA")));
        if (setDirectory != nullptr)
            setDirectory("");
    }
    // Libraries that the system's own ones load by name for the dialog and
    // its boxes, some on first use, past the restriction where a platform
    // has none (XP searches the program's folder first): loaded from the
    // system folder now, they are the ones found later. One a platform
    // lacks is simply not there.
    static const char* const kLoadedByName[] = {"uxtheme.dll", "msimg32.dll", "dwmapi.dll",
                                                "ole32.dll"};
    for (const char* name : kLoadedByName)
        LoadSystemLibrary(name);
}

HMODULE LoadSystemLibrary(const char* name) {
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return nullptr;
    char full[MAX_PATH];
    const int length = snprintf(full, sizeof full, "%s\\%s", path, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof full)
        return nullptr;
    // Its own imports are looked for in the system folder first too.
    return LoadLibraryExA(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

int SocketsStartup(WORD version, void* data) {
    Sockets& sockets = Library();
    return sockets.startup != nullptr ? sockets.startup(version, data) : kNotReady;
}

int SocketsCleanup() {
    Sockets& sockets = Library();
    return sockets.cleanup != nullptr ? sockets.cleanup() : kSocketError;
}

int WINAPI LocalHostName(char* name, int length) {
    Sockets& sockets = Library();
    return sockets.hostName != nullptr ? sockets.hostName(name, length) : kSocketError;
}

int SocketsError() {
    Sockets& sockets = Library();
    return sockets.lastError != nullptr ? sockets.lastError() : kNotReady;
}
