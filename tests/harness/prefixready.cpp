// Waits until a Wine prefix is ready for the tests: its desktop exists, no
// service is still starting or stopping, and the fonts that the dialogs use
// have been looked up once. A fresh prefix starts its services and builds
// its font cache while the first programs run; the first test then saw a
// slower, different desktop than the rest. Exit status 0 when ready, 1 when
// it was not within a minute (what it was still waiting for on stderr).
#include <windows.h>
#include <stdio.h>
#include <vector>

namespace {

// The name of a service that is starting or stopping, or empty.
bool PendingService(char* name, size_t capacity) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (manager == nullptr)
        return false;
    DWORD needed = 0, count = 0, resume = 0;
    EnumServicesStatusExA(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32 | SERVICE_DRIVER,
                          SERVICE_STATE_ALL, nullptr, 0, &needed, &count, &resume, nullptr);
    std::vector<BYTE> buffer(needed + 1024);
    resume = 0;
    bool pending = false;
    if (EnumServicesStatusExA(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32 | SERVICE_DRIVER,
                              SERVICE_STATE_ALL, buffer.data(), static_cast<DWORD>(buffer.size()),
                              &needed, &count, &resume, nullptr)) {
        auto* services = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSA*>(buffer.data());
        for (DWORD i = 0; i < count && !pending; ++i) {
            const DWORD state = services[i].ServiceStatusProcess.dwCurrentState;
            if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING) {
                snprintf(name, capacity, "%s", services[i].lpServiceName);
                pending = true;
            }
        }
    }
    CloseServiceHandle(manager);
    return pending;
}

// Looks up the dialogs' font and draws a little with it.
void WarmFonts() {
    HDC screen = GetDC(nullptr);
    for (const char* face : {"ＭＳ Ｐゴシック", "MS Shell Dlg", "Tahoma"}) {
        HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0,
                                 0, 0, 0, face);
        HGDIOBJ old = SelectObject(screen, font);
        SIZE size;
        GetTextExtentPoint32A(screen, "更新します。", 12, &size);
        SelectObject(screen, old);
        DeleteObject(font);
    }
    ReleaseDC(nullptr, screen);
}

} // namespace

int main() {
    // Asking for the desktop window starts the desktop and waits for it.
    HWND desktop = GetDesktopWindow();
    DWORD desktopProcess = 0;
    GetWindowThreadProcessId(desktop, &desktopProcess);
    WarmFonts();
    char name[256] = "";
    const DWORD start = GetTickCount();
    int quiet = 0;
    // Ready once no service has been pending for a few looks in a row: a
    // service may start another one as it comes up.
    while (quiet < 4) {
        if (PendingService(name, sizeof name))
            quiet = 0;
        else
            ++quiet;
        // Generous: a fresh prefix on a busy machine takes long.
        if (GetTickCount() - start > 180000) {
            fprintf(stderr, "prefixready: service %s is still pending after three minutes\n",
                    name);
            return 1;
        }
        Sleep(50);
    }
    if (desktopProcess == 0) {
        fprintf(stderr, "prefixready: no desktop window\n");
        return 1;
    }
    return 0;
}
