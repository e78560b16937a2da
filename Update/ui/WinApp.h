// The one application object of a program with dialogs over plain Win32:
// the program's instance and its main window.
#pragma once

#include <windows.h>

// Its constructor registers it; WinMain runs it once through Run.
class WinApp {
  public:
    WinApp();
    virtual ~WinApp();
    WinApp(const WinApp&) = delete;
    WinApp& operator=(const WinApp&) = delete;

    // Runs the program once, its dialogs within it; the process exit
    // status. No message loop runs after it.
    virtual int InitInstance() = 0;

    static WinApp* Current() { return current_; }

    HWND MainWindow() const { return mainWindow_; }
    void SetMainWindow(HWND window) { mainWindow_ = window; }

    // Runs the registered application: the process exit status (1 when
    // there is none).
    static int Run(HINSTANCE instance);
    static HINSTANCE Instance() { return instance_; }

  private:
    static WinApp* current_;
    static HINSTANCE instance_;
    HWND mainWindow_ = nullptr;
};

// The main window of the running application, or null when there is none.
HWND GetAppMainWindow();
