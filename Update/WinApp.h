// A small application framework over plain Win32: the single application
// object, the worker-thread start and the file object for command files.
// The dialog base is in Dialog.h.
#pragma once

#include "Owners.h"

#include <windows.h>

// The one application object. Its constructor registers it; WinMain calls
// InitInstance once and the process ends when it returns.
class WinApp {
  public:
    WinApp();
    virtual ~WinApp();
    WinApp(const WinApp&) = delete;
    WinApp& operator=(const WinApp&) = delete;

    // Returns whether a message loop should run; this program's never does.
    virtual bool InitInstance() = 0;

    static WinApp* Current() { return current_; }

    HWND MainWindow() const { return mainWindow_; }
    void SetMainWindow(HWND window) { mainWindow_ = window; }
    int ExitCode() const { return exitCode_; }
    void SetExitCode(int code) { exitCode_ = code; }

    // Runs the registered application; the process exit status.
    static int Run(HINSTANCE instance);
    static HINSTANCE Instance() { return instance_; }

  private:
    static WinApp* current_;
    static HINSTANCE instance_;
    HWND mainWindow_ = nullptr;
    int exitCode_ = 0;
};

// The main window of the running application, or null when there is none.
HWND GetAppMainWindow();

// Starts fn(arg) on a new thread at normal priority with the default stack;
// the thread is not kept or joined. Returns true when it started.
typedef unsigned (*WorkerThreadProc)(void* arg);
bool BeginWorkerThread(WorkerThreadProc fn, void* arg);

// Write-only file with no sharing, for the generated command files.
class File {
  public:
    enum : unsigned { modeWrite = 0x0001, modeCreate = 0x1000 };

    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // modeCreate | modeWrite: created when missing, cut to length 0 when
    // present. Returns false when the file cannot be opened.
    bool Open(const char* path, unsigned flags);
    // Writes all count bytes; false on a failed or short write.
    bool Write(const void* data, unsigned long count);
    // Writes what the system still holds of the file to the disk.
    bool Flush();
    // Returns false when closing failed (for instance data not flushed).
    bool Close();
    bool IsOpen() const { return handle_.IsValid(); }

  private:
    UniqueHandle handle_;
};
