#include "dialog_support.h"

#include "Owners.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace dt {

const char kMainCaption[] = "TALMERO Pro Windows Update 支援機能更新";
const char kAboutCaption[] = "Updateのﾊﾞｰｼﾞｮﾝ情報";
const char kClientText[] = "Windows Update支援機能のクライアントソフトウェアを更新します。";
const char kServerText[] = "Windows Update支援機能のサーバソフトウェアを更新します。";
const char kConfirmText[] =
    "TALMERO ProのWindows Update支援機能を\n"
    "Windows Server Update Services(WSUS)対応に更新します。\n"
    "更新後は従来のSoftware Update Services(SUS)では使用できなくなります。\n"
    "ソフトウェアを更新してもよろしいですか？";
const char kSuccessText[] = "ソフトウェアの更新は正常に終了しました。";
const char kFailureText[] = "ソフトウェアの更新中に異常が発生しました。";
const char kBusyText[] = "TALMERO ProのWindows Update支援機能の更新は既に実行中です。\n"
                         "プログラムを終了します。";

Installation::Installation(const std::string& name, int mode, bool withShare) {
    root = ts::ScratchDir(name);
    installFolder = root + "\\App\\bin\\";
    featureFolder = root + "\\App\\WU";
    tempFolder = root + "\\tmp";
    ts::MakeDirs(root + "\\App\\bin");
    ts::MakeDirs(featureFolder);
    ts::MakeDirs(tempFolder);
    if (withShare)
        ts::WriteBytes(featureFolder + "\\patchjob.ini", "[SUS]\r\nTLX_SHARE=\\\\srv01\\share\r\n");
    ts::ClearProductKeys();
    ts::SetRegString(mode == 1 ? "SOFTWARE\\TALMERO\\BaseSrv" : "SOFTWARE\\TALMERO\\BaseCli",
                     "InstallPath", installFolder);
}

Installation::~Installation() {
    ts::ClearProductKeys();
}

int Installation::LogRecords() const {
    std::string log = Log();
    int n = 0;
    for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
        ++n;
    return n;
}

bool StartUpdate(ts::Child& child, const Installation& install, const std::string& args) {
    return child.Start("\"" + ts::BuildFile("Update/Update.exe") + "\" " + args,
                       {"TMP=" + install.tempFolder, "TEMP=" + install.tempFolder});
}

int Xdo(const std::string& arguments) {
    return ts::RunUnix("xdotool " + arguments);
}

namespace {
// The X window behind a top-level window, as Wine's X11 driver records it.
unsigned long XWindowOf(HWND window) {
    return static_cast<unsigned long>(
        reinterpret_cast<ULONG_PTR>(GetPropA(window, "__wine_x11_whole_window")));
}

bool HasAnEnabledTabStop(HWND top) {
    for (HWND c = GetWindow(top, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if (IsWindowEnabled(c) && IsWindowVisible(c) && (GetWindowLongA(c, GWL_STYLE) & WS_TABSTOP))
            return true;
    }
    return false;
}

// Keys reach a window when the X focus is on it and, for Wine, it is the
// foreground window with the focus of its thread in it (or nowhere, when no
// control of it can take the focus). After a box closes the X focus may go
// back to the root a moment after Wine has made the owner the foreground
// window again; Wine then takes the foreground away, and keys pressed in
// between are lost. So the X focus is always put on the window first: Wine
// keeps a window that holds it.
bool HasTheKeyboard(HWND top) {
    HWND focus = FocusOf(top);
    return GetForegroundWindow() == top &&
           (focus == top || IsChild(top, focus) || (focus == nullptr && !HasAnEnabledTabStop(top)));
}
} // namespace

bool FocusWindow(HWND window) {
    HWND top = GetAncestor(window, GA_ROOT);
    if (top == nullptr)
        return false;
    // The X window may not have reached the X server yet, and Wine may take
    // the foreground away once more: tried again until it holds.
    return ts::WaitUntil(
        [&] {
            unsigned long x = XWindowOf(top);
            if (x != 0) {
                char args[64];
                snprintf(args, sizeof args, "windowfocus --sync %lu", x);
                Xdo(args);
            }
            SetForegroundWindow(top);
            return ts::WaitUntil([&] { return HasTheKeyboard(top); }, 2000);
        },
        ts::kHangMs);
}

bool PressKeys(HWND window, const std::string& keys) {
    if (!FocusWindow(window))
        return false;
    return Xdo("key --delay 40 " + keys) == 0;
}

bool PressUntilGone(HWND box, const std::string& keys) {
    // A press that was lost is made again; one that arrived closes the box
    // long before the next.
    return ts::WaitUntil(
        [&] {
            if (!IsWindow(box))
                return true;
            PressKeys(box, keys);
            return ts::WaitForWindowGone(box, 10000);
        },
        ts::kHangMs);
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    if (!GetGUIThreadInfo(thread, &info))
        return nullptr;
    return info.hwndFocus;
}

bool FocusSettles(HWND window) {
    // Once the program has given it the focus, the X focus is put there too,
    // so that a late X focus event cannot make Wine take the focus away
    // while the test looks at it.
    return ts::WaitUntil([&] { return IsChild(window, FocusOf(window)) != FALSE; }, ts::kHangMs) &&
           FocusWindow(window);
}

bool InMenu(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) &&
           (info.flags & GUI_INMENUMODE) != 0;
}

LONG Style(HWND window) {
    return GetWindowLongA(window, GWL_STYLE);
}

std::string MessageBoxText(HWND box) {
    // The text is the box's static control that is no icon.
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32];
        GetClassNameA(c, cls, sizeof cls);
        if (_stricmp(cls, "Static") == 0 && (Style(c) & SS_TYPEMASK) != SS_ICON) {
            std::string text = ts::WindowText(c);
            if (!text.empty())
                return text;
        }
    }
    return std::string();
}

std::vector<int> MessageBoxButtons(HWND box) {
    std::vector<int> ids;
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32];
        GetClassNameA(c, cls, sizeof cls);
        if (_stricmp(cls, "Button") == 0 && IsWindowVisible(c))
            ids.push_back(GetDlgCtrlID(c));
    }
    return ids;
}

int DefaultButton(HWND box) {
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32];
        GetClassNameA(c, cls, sizeof cls);
        if (_stricmp(cls, "Button") == 0 && IsWindowVisible(c) &&
            (Style(c) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return GetDlgCtrlID(c);
    }
    return 0;
}

HeldUpdate::HeldUpdate() {
    name_ = "update-hold-" + std::to_string(GetCurrentProcessId());
    held_ = CreateEventA(nullptr, TRUE, FALSE, (name_ + "-held").c_str());
    go_ = CreateEventA(nullptr, TRUE, FALSE, (name_ + "-go").c_str());
}

HeldUpdate::~HeldUpdate() {
    Release();
    CloseHandle(held_);
    CloseHandle(go_);
}

bool HeldUpdate::Start(ts::Child& child, const Installation& install) {
    ResetEvent(held_);
    ResetEvent(go_);
    return child.Start("\"" + ts::BuildFile("tests/update_stepstop.exe") + "\"",
                       {"TMP=" + install.tempFolder, "TEMP=" + install.tempFolder,
                        "UPDATE_HOLD_AT_CALL=1", "UPDATE_HOLD_NAME=" + name_});
}

bool HeldUpdate::WaitHeld() {
    return WaitForSingleObject(held_, ts::kHangMs) == WAIT_OBJECT_0;
}

void HeldUpdate::Release() {
    if (go_ != nullptr)
        SetEvent(go_);
}

int CountWindows(DWORD pid, const std::string& caption) {
    return static_cast<int>(ts::VisibleWindows(pid, caption).size());
}

bool KeysHandled(HWND window) {
    if (!PressKeys(window, "alt+space") ||
        !ts::WaitUntil([&] { return InMenu(window); }, ts::kHangMs))
        return false;
    // A window without a control that has the focus gets no keys in the
    // menu: the menu is ended as a click elsewhere would.
    PostMessageA(window, WM_CANCELMODE, 0, 0);
    return ts::WaitUntil([&] { return !InMenu(window); }, ts::kHangMs) && IsWindow(window) &&
           IsWindowVisible(window);
}

} // namespace dt
