#include "Framework.h"

#include <process.h>
#include <stdlib.h>

WinApp* WinApp::current_ = nullptr;
HINSTANCE WinApp::instance_ = nullptr;

WinApp::WinApp() {
    current_ = this;
}

WinApp::~WinApp() {
    if (current_ == this)
        current_ = nullptr;
}

int WinApp::Run(HINSTANCE instance) {
    instance_ = instance;
    if (current_ == nullptr)
        return 1;
    // The program never runs a message loop of its own after InitInstance:
    // the modal dialog runs inside it.
    current_->InitInstance();
    return current_->ExitCode();
}

HWND GetAppMainWindow() {
    WinApp* app = WinApp::Current();
    return app != nullptr ? app->MainWindow() : nullptr;
}

namespace {
struct ThreadStart {
    WorkerThreadProc fn;
    void* arg;
};

unsigned __stdcall ThreadTrampoline(void* p) {
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    return start.fn(start.arg);
}
} // namespace

bool BeginWorkerThread(WorkerThreadProc fn, void* arg) {
    ThreadStart* start = new ThreadStart{fn, arg};
    uintptr_t h = _beginthreadex(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
    if (h == 0) {
        delete start;
        return false;
    }
    // Nobody waits for the thread; its handle is not needed.
    CloseHandle(reinterpret_cast<HANDLE>(h));
    return true;
}

bool File::Open(const char* path, unsigned flags) {
    DWORD disposition = (flags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
    DWORD access = (flags & modeWrite) ? GENERIC_WRITE : GENERIC_READ;
    handle_.Attach(
        CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle_.IsValid();
}

bool File::Write(const void* data, unsigned long count) {
    const char* p = static_cast<const char*>(data);
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(handle_.Get(), p, count, &written, nullptr) || written == 0)
            return false;
        p += written;
        count -= written;
    }
    return true;
}

bool File::Flush() {
    return FlushFileBuffers(handle_.Get()) != FALSE;
}

bool File::Close() {
    return handle_.Close();
}
