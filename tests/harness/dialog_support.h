// What the dialog tests share: a product installation to run Update.exe on,
// the keyboard through xdotool, and looks into another process's windows.
#pragma once

#include "TestSupport.h"

#include <windows.h>
#include <string>
#include <vector>

namespace dt {

extern const char kMainCaption[];
extern const char kAboutCaption[];
extern const char kClientText[];
extern const char kServerText[];
extern const char kConfirmText[];
extern const char kSuccessText[];
extern const char kFailureText[];
extern const char kBusyText[];

// A product installation in a scratch folder, registered under the client
// (mode 2) or the server key (mode 1): install folder <root>\App\bin\, the
// feature folder <root>\App\WU with a patchjob.ini that names a share, and a
// temporary folder <root>\tmp for the program's log.
struct Installation {
    Installation(const std::string& name, int mode, bool withShare = true);
    ~Installation();
    std::string root;
    std::string installFolder;
    std::string featureFolder;
    std::string tempFolder;
    std::string LogPath() const { return tempFolder + "\\Update_Log.txt"; }
    std::string Log() const { return ts::ReadBytes(LogPath()); }
    // Records in the log (each ends with CR LF).
    int LogRecords() const;
};

// Records that start-up writes before the dialog: the banner and the mode,
// and in a build with the sample payload a record that says so.
#ifdef UPDATE_SAMPLE_PAYLOAD
constexpr int kStartupRecords = 3;
#else
constexpr int kStartupRecords = 2;
#endif

// Starts Update.exe with its temporary folder in the installation.
bool StartUpdate(ts::Child& child, const Installation& install, const std::string& args = "");

// Update.exe held at the first call of its file layer (before its first
// record after start-up) until Release: the build of it for the tests that
// stop an update at a given call.
class HeldUpdate {
  public:
    HeldUpdate();
    ~HeldUpdate();
    HeldUpdate(const HeldUpdate&) = delete;
    HeldUpdate& operator=(const HeldUpdate&) = delete;
    bool Start(ts::Child& child, const Installation& install);
    // Whether the update has come to its hold.
    bool WaitHeld();
    void Release();

  private:
    std::string name_;
    HANDLE held_ = nullptr;
    HANDLE go_ = nullptr;
};

// The visible top-level windows of a process with this caption.
int CountWindows(DWORD pid, const std::string& caption);

// Runs xdotool with these arguments; its exit code, or -1.
int Xdo(const std::string& arguments);
// Gives the window the keyboard (and makes it the foreground window).
bool FocusWindow(HWND window);
// Presses keys (xdotool key names, e.g. "Return", "shift+Tab", "alt+F4").
bool PressKeys(HWND window, const std::string& keys);

// Presses keys on a box until it is gone: under load the X server may still
// give the keyboard to the window below when the first press is sent. True
// when the box went.
bool PressUntilGone(HWND box, const std::string& keys);

// The window with the keyboard focus in the window's thread.
HWND FocusOf(HWND window);
// A window is shown before the platform has made it the active window and
// given the keyboard focus to one of its controls (later still under load or
// in a fresh prefix); a person sees it only once that has happened. Waits
// for it; false when it never happened.
bool FocusSettles(HWND window);
// Whether the window's thread has a menu open (the system menu, say).
bool InMenu(HWND window);
// Keys reach a window in the order they were pressed: once the system menu
// that Alt+Space opens is open, every key pressed before has been handled
// (and the window is still there). The menu is closed again.
bool KeysHandled(HWND window);
LONG Style(HWND window);

// The message text of a message box, its buttons' ids and the default one.
std::string MessageBoxText(HWND box);
std::vector<int> MessageBoxButtons(HWND box);
int DefaultButton(HWND box);

// Centre of a rectangle, doubled (to stay in integers).
inline POINT Centre2(const RECT& r) {
    return POINT{r.left + r.right, r.top + r.bottom};
}

} // namespace dt
