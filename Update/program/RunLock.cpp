#include "RunLock.h"

#include <sddl.h>
#include <stdio.h>

namespace {
// How often a start looks again for a lock that another start holds.
constexpr DWORD kRunLockPollMs = 50;
} // namespace

bool RunLockPath(char* out, size_t capacity) {
    char windows[MAX_PATH];
    const UINT n = GetSystemWindowsDirectoryA(windows, sizeof windows);
    const int length = n > 0 && n < sizeof windows
                           ? snprintf(out, capacity, "%s%s%s", windows,
                                      windows[n - 1] == '\\' ? "" : "\\", kRunLockFile)
                           : -1;
    if (length >= 0 && static_cast<size_t>(length) < capacity)
        return true;
    if (capacity > 0)
        out[0] = '\0';
    return false;
}

bool RunLock::Acquire(DWORD waitMs) {
    Release();
    char path[MAX_PATH];
    if (!RunLockPath(path, sizeof path))
        return false;
    // A file left by a start that lost its power keeps this list, so that
    // no user can open it and hold it either.
    LocalBlock descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kRunLockSecurity, SDDL_REVISION_1,
                                                              descriptor.Out(), nullptr))
        descriptor.Close();
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.Get(), FALSE};
    const DWORD start = GetTickCount();
    for (;;) {
        file_.Attach(CreateFileA(path, DELETE, 0,
                                 descriptor.Get() != nullptr ? &attributes : nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (file_.IsValid())
            return true;
        // Held by another start (or being removed as it ends it); anything
        // else is no matter of waiting.
        const DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) ||
            GetTickCount() - start >= waitMs)
            return false;
        Sleep(kRunLockPollMs);
    }
}

void RunLock::Release() {
    file_.Close();
}

bool IsAnotherUpdateRunning() {
    RunLock probe;
    return !probe.Acquire(0);
}
