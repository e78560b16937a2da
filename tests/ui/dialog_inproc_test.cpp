// The dialog base and the program's dialogs in this test's own process, with
// the program's resources linked in: the modal run runs on the test's thread
// while a second thread looks at the windows and drives them.
#include <winsock2.h>

#include "Dialog.h"
#include "General.h"
#include "Log.h"
#include "Owners.h"
#include "Update.h"
#include "dialog_support.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace dt;

// The application object, as the program has it: the main window and the
// start-up the tests drive.
static UpdateApp theApp;

namespace {

constexpr DWORD kTimeout = ts::kHangMs;

HWND WaitOwnWindow(const char* caption) {
    return ts::WaitForWindow(GetCurrentProcessId(), caption, kTimeout);
}

// Runs body on a second thread while run() holds the modal loop here.
template <typename Run> INT_PTR WhileRunning(Run run, const std::function<void()>& body) {
    std::thread driver(body);
    INT_PTR result = run();
    driver.join();
    return result;
}

// ---------------------------------------------------------------------------
// Template position.

std::vector<BYTE> ClassicHeader(short x, short y) {
    DLGTEMPLATE t = {};
    t.style = WS_POPUP;
    t.x = x;
    t.y = y;
    t.cx = 100;
    t.cy = 50;
    std::vector<BYTE> bytes(reinterpret_cast<BYTE*>(&t), reinterpret_cast<BYTE*>(&t) + sizeof t);
    bytes.resize(bytes.size() + 6); // no menu, class or title
    return bytes;
}

std::vector<BYTE> ExtendedHeader(short x, short y) {
    std::vector<BYTE> bytes(26 + 6);
    WORD words[] = {1, 0xFFFF};
    memcpy(&bytes[0], words, sizeof words);
    DWORD style = WS_POPUP | DS_SETFONT;
    memcpy(&bytes[12], &style, sizeof style);
    memcpy(&bytes[18], &x, sizeof x);
    memcpy(&bytes[20], &y, sizeof y);
    return bytes;
}

TEST(DialogTemplate, PositionOfBothForms) {
    short x = 99;
    short y = 99;
    std::vector<BYTE> classic = ClassicHeader(12, -7);
    ASSERT_TRUE(
        GetDialogTemplatePosition(classic.data(), static_cast<DWORD>(classic.size()), &x, &y));
    EXPECT_EQ(x, 12);
    EXPECT_EQ(y, -7);
    std::vector<BYTE> extended = ExtendedHeader(0, 3);
    ASSERT_TRUE(
        GetDialogTemplatePosition(extended.data(), static_cast<DWORD>(extended.size()), &x, &y));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 3);
}

TEST(DialogTemplate, TooShortTemplatesAreRefused) {
    short x = 5;
    short y = 5;
    std::vector<BYTE> classic = ClassicHeader(0, 0);
    EXPECT_FALSE(GetDialogTemplatePosition(classic.data(), 13, &x, &y));
    std::vector<BYTE> extended = ExtendedHeader(0, 0);
    EXPECT_FALSE(GetDialogTemplatePosition(extended.data(), 21, &x, &y));
    EXPECT_FALSE(GetDialogTemplatePosition(nullptr, 100, &x, &y));
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 5);
}

// ---------------------------------------------------------------------------
// The dialog base: its message map and default handling.

class ProbeDialog : public Dialog {
  public:
    ProbeDialog() : Dialog(100) {}
    bool takeSysCommand = false;
    HICON dragIcon = nullptr;
    int helped = 0;

  protected:
    bool OnSysCommand(UINT, LPARAM) override { return takeSysCommand; }
    HICON OnQueryDragIcon() override { return dragIcon; }
    bool OnHelp() override {
        ++helped;
        return true;
    }
    bool OnAppMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) override {
        result = static_cast<LRESULT>(wParam) * 6;
        return message == WM_APP + 1;
    }
};

// What a window of the framework answers, and how it ends: OK with IDOK, a
// close with IDCANCEL unless a handler takes the system command.
TEST(DialogBase, AnswersThroughItsHandlersAndEndsAsItsButtonsSay) {
    for (const bool clickOk : {false, true}) {
        ProbeDialog probe;
        probe.dragIcon = LoadIconA(nullptr, IDI_APPLICATION);
        LRESULT dragIcon = 0, handled = 0, below = -1;
        bool openAfterTakenClose = false;
        HWND window = nullptr;
        const INT_PTR result =
            WhileRunning([&] { return probe.DoModal(); },
                         [&] {
                             window = WaitOwnWindow(kAboutCaption);
                             if (window == nullptr)
                                 return;
                             dragIcon = SendMessageA(window, WM_QUERYDRAGICON, 0, 0);
                             handled = SendMessageA(window, WM_APP + 1, 7, 0);
                             // Below WM_APP the handler is not asked.
                             below = SendMessageA(window, WM_USER + 100, 7, 0);
                             SendMessageA(window, WM_HELP, 0, 0);
                             SendMessageA(window, WM_COMMAND, kHelpCommand, 0);
                             probe.takeSysCommand = true;
                             SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
                             openAfterTakenClose = IsWindowVisible(window) != FALSE;
                             probe.takeSysCommand = false;
                             if (clickOk)
                                 SendMessageA(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
                             else
                                 SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
                         });
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(result, clickOk ? IDOK : IDCANCEL);
        EXPECT_EQ(dragIcon, reinterpret_cast<LRESULT>(probe.dragIcon));
        EXPECT_EQ(handled, 42);
        EXPECT_EQ(below, 0);
        EXPECT_EQ(probe.helped, 2);
        EXPECT_TRUE(openAfterTakenClose);
        EXPECT_EQ(probe.Handle(), nullptr);
    }
}

TEST(DialogBase, AMissingTemplateGivesMinusOne) {
    class Missing : public Dialog {
      public:
        Missing() : Dialog(4242) {}
    } missing;
    EXPECT_EQ(missing.DoModal(), -1);
}

// ---------------------------------------------------------------------------
// UpdateDialog and AboutDialog.

class UpdateDialogTest : public ::testing::Test {
  protected:
    void TearDown() override { g_mainWindow = nullptr; }

    // Runs the main dialog as the program does, for the part in mode, with
    // body on a second thread; body gets the dialog's window.
    INT_PTR RunMain(const std::function<void(HWND)>& body,
                    OperationMode mode = OperationMode::kClient) {
        UpdateTarget target;
        target.mode = mode;
        UpdateDialog dialog(target);
        dialog.SetAsMainWindow();
        return WhileRunning([&] { return dialog.DoModal(); },
                            [&] {
                                HWND window = WaitOwnWindow(kMainCaption);
                                body(window);
                                if (window != nullptr && IsWindow(window))
                                    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
                            });
    }
};

std::string MenuText(HMENU menu, int position) {
    char text[256] = {};
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

TEST_F(UpdateDialogTest, TheSystemMenuEndsWithASeparatorAndTheVersionItem) {
    int count = -1;
    UINT lastId = 0;
    std::string lastText;
    UINT separatorType = 0;
    bool hasClose = false;
    const INT_PTR result = RunMain([&](HWND window) {
        ASSERT_NE(window, nullptr);
        HMENU menu = GetSystemMenu(window, FALSE);
        ASSERT_NE(menu, nullptr);
        count = GetMenuItemCount(menu);
        ASSERT_GE(count, 3);
        lastId = GetMenuItemID(menu, count - 1);
        lastText = MenuText(menu, count - 1);
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE;
        GetMenuItemInfoA(menu, count - 2, TRUE, &info);
        separatorType = info.fType;
        hasClose = GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) != static_cast<UINT>(-1);
    });
    EXPECT_EQ(lastId, 16u);
    EXPECT_EQ(lastText, "Update のﾊﾞｰｼﾞｮﾝ情報(&A)...");
    EXPECT_TRUE(separatorType & MFT_SEPARATOR);
    // The platform's own items come first.
    EXPECT_TRUE(hasClose);
    // A cancel ends the dialog with the program's status for it.
    EXPECT_EQ(result, kExitCancelled);
}

TEST_F(UpdateDialogTest, IconsMainWindowAndModeText) {
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
    ASSERT_NE(icon, nullptr);
    LRESULT big = 0;
    LRESULT small = 0;
    LRESULT drag = 0;
    HWND mainWindow = nullptr;
    HWND globalWindow = nullptr;
    HWND self = nullptr;
    std::string modeText;
    SIZE banner = {};
    bool bannerHasImage = false;
    std::string caption;
    std::string face;
    std::vector<std::string> controls;
    RunMain(
        [&](HWND window) {
            ASSERT_NE(window, nullptr);
            self = window;
            big = SendMessageA(window, WM_GETICON, ICON_BIG, 0);
            small = SendMessageA(window, WM_GETICON, ICON_SMALL, 0);
            drag = SendMessageA(window, WM_QUERYDRAGICON, 0, 0);
            mainWindow = GetAppMainWindow();
            globalWindow = g_mainWindow;
            modeText = ts::ItemText(window, 1000);
            // The banner control takes the bitmap's own size.
            caption = ts::WindowText(window);
            LOGFONTA font = {};
            GetObjectA(reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)), sizeof font,
                       &font);
            face = font.lfFaceName;
            for (HWND c = GetWindow(window, GW_CHILD); c != nullptr;
                 c = GetWindow(c, GW_HWNDNEXT)) {
                char cls[32] = {};
                GetClassNameA(c, cls, sizeof cls);
                const bool bitmap = (Style(c) & SS_TYPEMASK) == SS_BITMAP;
                controls.push_back(std::to_string(GetDlgCtrlID(c)) + " " + cls + " " +
                                   (bitmap ? "(bitmap)" : ts::WindowText(c)));
                if (bitmap) {
                    RECT r;
                    GetWindowRect(c, &r);
                    banner = SIZE{r.right - r.left, r.bottom - r.top};
                    bannerHasImage = SendMessageA(c, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0;
                }
            }
        },
        OperationMode::kServer);
    EXPECT_EQ(big, reinterpret_cast<LRESULT>(icon));
    EXPECT_EQ(small, reinterpret_cast<LRESULT>(icon));
    EXPECT_EQ(drag, reinterpret_cast<LRESULT>(icon));
    EXPECT_EQ(mainWindow, self);
    EXPECT_EQ(globalWindow, self);
    EXPECT_EQ(modeText, kServerText);
    // What the user sees, in the order the keyboard reaches it.
    EXPECT_EQ(caption, kMainCaption);
    EXPECT_EQ(face, "ＭＳ Ｐゴシック");
    EXPECT_EQ(controls, (std::vector<std::string>{
                            "1 Button 実行",
                            "2 Button キャンセル",
                            std::string("1000 Static ") + kServerText,
                            "-1 Static 開始する場合は「実行」ボタンを選択してください。",
                            "-1 Static (bitmap)",
                        }));
    EXPECT_TRUE(bannerHasImage);
    EXPECT_EQ(banner.cx, 411);
    EXPECT_EQ(banner.cy, 75);
    // Once the dialog has ended it is no main window any more.
    EXPECT_EQ(GetAppMainWindow(), nullptr);
}

// The result box for a completion message with this flag, and the dialog's
// end value: the program's exit status.
struct Outcome {
    std::string caption;
    std::string text;
    int icon = 0;
    INT_PTR result = 0;
};

class FinishedTest : public UpdateDialogTest, public ::testing::WithParamInterface<WPARAM> {};

TEST_P(FinishedTest, AnyNonzeroFlagIsSuccessOnlyZeroIsFailure) {
    WPARAM flag = GetParam();
    bool success = flag != 0;
    const char* caption = success ? "完了" : "エラー";
    Outcome seen;
    seen.result = RunMain([&](HWND window) {
        ASSERT_NE(window, nullptr);
        PostMessageA(window, WM_UPDATE_FINISHED, flag, 0);
        HWND box = WaitOwnWindow(caption);
        ASSERT_NE(box, nullptr);
        seen.caption = ts::WindowText(box);
        seen.text = MessageBoxText(box);
        seen.icon = ts::MessageBoxIconKind(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        ts::WaitForWindowGone(window, kTimeout);
    });
    EXPECT_EQ(seen.caption, caption);
    EXPECT_EQ(seen.text, success ? kSuccessText : kFailureText);
    EXPECT_EQ(seen.icon,
              static_cast<int>(reinterpret_cast<INT_PTR>(success ? IDI_ASTERISK : IDI_HAND)));
    EXPECT_EQ(seen.result, success ? kExitUpdated : kExitUpdateFailed);
}

INSTANTIATE_TEST_SUITE_P(UpdateDialog, FinishedTest,
                         ::testing::Values(WPARAM(1), WPARAM(0), WPARAM(2), ~WPARAM(0)));

// The update's gate: it waits here, on its own thread, until the test has
// looked at the dialog.
HANDLE g_updateStarted = nullptr;
HANDLE g_updateMayGoOn = nullptr;
void HoldTheUpdate() {
    SetEvent(g_updateStarted);
    WaitForSingleObject(g_updateMayGoOn, INFINITE);
}

TEST_F(UpdateDialogTest, WhileTheUpdateRunsCloseIsGreyedAndRefused) {
    // The update runs in this process, on a scratch installation, and is
    // held at its start until every way of closing has been tried.
    std::string root = ts::ScratchDir("dialog-inproc-update");
    ts::MakeDirs(root + "\\App\\bin");
    ts::MakeDirs(root + "\\App\\WU");
    ts::MakeDirs(root + "\\tmp");
    char savedTmp[MAX_PATH] = {};
    char savedTemp[MAX_PATH] = {};
    GetEnvironmentVariableA("TMP", savedTmp, sizeof savedTmp);
    GetEnvironmentVariableA("TEMP", savedTemp, sizeof savedTemp);
    SetEnvironmentVariableA("TMP", (root + "\\tmp").c_str());
    SetEnvironmentVariableA("TEMP", (root + "\\tmp").c_str());
    const std::string install = root + "\\App\\bin\\", feature = root + "\\App\\WU";
    snprintf(g_logPath, sizeof g_logPath, "%s\\tmp\\Update_Log.txt", root.c_str());
    UniqueHandle started(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle mayGoOn(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    g_updateStarted = started.Get();
    g_updateMayGoOn = mayGoOn.Get();
    UpdateHooks hooks;
    hooks.started = HoldTheUpdate;

    bool buttonsDisabled = false;
    UINT closeWhileRunning = 0;
    bool stayedOpen = false;
    bool confirmed = false;
    UINT closeAfterwards = 0;
    std::string resultCaption;
    UpdateTarget target;
    target.mode = OperationMode::kClient;
    target.installPath = install.c_str();
    target.featureFolder = feature.c_str();
    UpdateDialog dialog(target, hooks);
    dialog.SetAsMainWindow();
    INT_PTR result = WhileRunning(
        [&] { return dialog.DoModal(); },
        [&] {
            HWND window = WaitOwnWindow(kMainCaption);
            ASSERT_NE(window, nullptr);
            PostMessageA(window, WM_COMMAND, IDOK, 0);
            HWND box = WaitOwnWindow("確認");
            ASSERT_NE(box, nullptr);
            confirmed = true;
            PostMessageA(box, WM_COMMAND, IDYES, 0);
            // The buttons go before the update starts.
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started.Get(), kTimeout));
            buttonsDisabled = !IsWindowEnabled(GetDlgItem(window, IDOK)) &&
                              !IsWindowEnabled(GetDlgItem(window, IDCANCEL));
            HMENU menu = GetSystemMenu(window, FALSE);
            closeWhileRunning = GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
            // Each is handled before SendMessage returns; a dialog that ended
            // would be gone once its loop has handled the message after them.
            SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            SendMessageA(window, WM_CLOSE, 0, 0);
            SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
            SendMessageA(window, WM_NULL, 0, 0);
            stayedOpen = IsWindow(window) && IsWindowVisible(window) && dialog.Handle() == window;
            SetEvent(mayGoOn.Get());
            HWND done = ts::WaitForWindow(GetCurrentProcessId(), "エラー", kTimeout);
            ASSERT_NE(done, nullptr);
            resultCaption = ts::WindowText(done);
            closeAfterwards = GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
            // Until the result has been read, nothing turns it into a cancel.
            SendMessageA(window, WM_CLOSE, 0, 0);
            PostMessageA(done, WM_COMMAND, IDOK, 0);
            ts::WaitForWindowGone(window, kTimeout);
        });
    SetEvent(mayGoOn.Get());
    SetEnvironmentVariableA("TMP", savedTmp);
    SetEnvironmentVariableA("TEMP", savedTemp);
    g_logPath[0] = '\0';

    EXPECT_TRUE(confirmed);
    EXPECT_TRUE(buttonsDisabled);
    EXPECT_TRUE(closeWhileRunning & MF_GRAYED) << closeWhileRunning;
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(closeAfterwards & MF_GRAYED) << closeAfterwards;
    // This test program carries no payload, so the update itself fails.
    EXPECT_EQ(resultCaption, "エラー");
    EXPECT_EQ(result, kExitUpdateFailed);
}

TEST_F(UpdateDialogTest, TheMinimisedDialogPaintsItsIcon) {
    bool iconic = false;
    RunMain([&](HWND window) {
        ASSERT_NE(window, nullptr);
        // The dialog's thread may still be showing it (restoring it after a
        // minimise from here): minimised again until it stays so.
        iconic = ts::WaitUntil(
            [&] {
                ShowWindow(window, SW_MINIMIZE);
                return IsIconic(window) != FALSE;
            },
            kTimeout);
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        // Still alive and answering after painting minimised.
        SendMessageA(window, WM_NULL, 0, 0);
        ShowWindow(window, SW_RESTORE);
    });
    EXPECT_TRUE(iconic);
}

} // namespace

namespace {

// WSACleanup from another thread tells whether the socket library is
// started (and is undone at once): the dialog's update needs it for the
// host name, and Wine's gethostname would not show its absence.
bool WinSockStarted() {
    if (WSACleanup() != 0)
        return false;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 0), &data);
    return true;
}

TEST(StartUp, TheSocketLibraryRunsWhileTheDialogIsShown) {
    Installation install("inproc-winsock", 2);
    char savedTemp[MAX_PATH];
    GetEnvironmentVariableA("TEMP", savedTemp, sizeof savedTemp);
    SetEnvironmentVariableA("TEMP", install.tempFolder.c_str());
    SetEnvironmentVariableA("TMP", install.tempFolder.c_str());
    // The start-up reads this process's arguments: none.
    const int savedArgc = __argc;
    __argc = 1;
    ASSERT_FALSE(WinSockStarted());
    bool startedMeanwhile = false;
    const INT_PTR status =
        WhileRunning([] { return static_cast<INT_PTR>(WinApp::Current()->InitInstance()); },
                     [&] {
                         HWND window = WaitOwnWindow(kMainCaption);
                         startedMeanwhile = WinSockStarted();
                         PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
                     });
    __argc = savedArgc;
    SetEnvironmentVariableA("TEMP", savedTemp);
    SetEnvironmentVariableA("TMP", savedTemp);
    EXPECT_TRUE(startedMeanwhile);
    EXPECT_FALSE(WinSockStarted());
    EXPECT_EQ(4, status);
    g_mainWindow = nullptr;
}

} // namespace
