#include "Update.h"

#include "CommandLine.h"
#include "Log.h"
#include "LogTexts.h"
#include "PathHelpers.h"
#include "Plan.h"
#include "RunLock.h"
#include "SystemLibrary.h"
#include "Thread.h"
#include "Undo.h"
#include "resource.h"

#include <winsock2.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

OperationMode g_operationMode;
char g_installPath[260];
char g_featureFolder[260];
HWND g_mainWindow;

namespace {
const char kServerKey[] = "SOFTWARE\\TALMERO\\BaseSrv";
const char kClientKey[] = "SOFTWARE\\TALMERO\\BaseCli";
const char kInstallPathValue[] = "InstallPath";

bool PathExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Takes the part whose install path was read: sets the globals and tells
// whether its feature folder exists.
OperationMode UsePart(const std::string& installPath, OperationMode mode) {
    // A path that does not fit the globals is not a product we recognise.
    if (installPath.size() >= sizeof g_installPath)
        return OperationMode::kUnknown;
    memcpy(g_installPath, installPath.c_str(), installPath.size() + 1);
    memcpy(g_featureFolder, installPath.c_str(), installPath.size() + 1);
    MakeFeatureFolder(g_featureFolder);
    return PathExists(g_featureFolder) ? mode : OperationMode::kUnknown;
}
} // namespace

void MakeFeatureFolder(char* path) {
    char* bin = FindNoCase(path, "bin");
    if (bin != nullptr)
        memcpy(bin, "WU", 3);
}

OperationMode GetOperationMode() {
    std::string server;
    std::string client;
    bool serverPresent =
        ReadRegistryString(HKEY_LOCAL_MACHINE, kServerKey, kInstallPathValue, server) &&
        !server.empty();
    bool clientPresent =
        ReadRegistryString(HKEY_LOCAL_MACHINE, kClientKey, kInstallPathValue, client) &&
        !client.empty();
    if (serverPresent)
        return UsePart(server, OperationMode::kServer);
    if (clientPresent)
        return UsePart(client, OperationMode::kClient);
    return OperationMode::kUnknown;
}

bool IsAlreadyUpdated() {
    char marker[260];
    if (!JoinPath(g_featureFolder, kMarkerFile, marker, sizeof marker))
        return false;
    return PathExists(marker);
}

UpdateTarget Target() {
    UpdateTarget target;
    target.mode = g_operationMode;
    target.installPath = g_installPath;
    target.featureFolder = g_featureFolder;
    return target;
}

bool StartWinSock() {
    WSADATA data;
    if (SocketsStartup(MAKEWORD(2, 0), &data) != 0)
        return false;
    return data.wVersion == MAKEWORD(2, 0);
}

bool StopWinSock() {
    return SocketsCleanup() == 0;
}

namespace {
const char kHelpText[] =
    "使い方: Update.exe [/undo] [/quiet] [/log=ファイル] [/status] [/?]\n"
    "\n"
    "/undo\t更新前の状態に戻します。\n"
    "/quiet (/q)\t画面を表示せずに更新します (/undo: 元に戻します)。結果は終了コードで返します。\n"
    "/log=ファイル\tログを指定したファイルに書き込みます。\n"
    "/status\t何も変更せず、今の状態を終了コードで返します。\n"
    "/? (/help)\tこの説明を表示します。\n"
    "\n"
    "終了コード:\n"
    "0\t更新しました (/status: 更新できます、/undo: 元に戻しました)\n"
    "1\t更新に失敗しました (/undo: 元に戻せませんでした)\n"
    "2\tTALMERO Pro または Windows Update 支援機能を認識できません\n"
    "3\t既に更新されています (/undo: 元に戻す更新はありません)\n"
    "4\tキャンセルされました\n"
    "5\t他の更新が実行中です\n"
    "64\t引数が正しくありません";

// The common controls of the manifest's version (the side-by-side ones),
// loaded by name only now that the search for libraries is restricted: a
// library the program imports is looked for before any of its code runs.
void LoadCommonControls() {
    HMODULE controls = LoadLibraryA("comctl32.dll");
    if (controls == nullptr)
        return;
    typedef void(WINAPI * InitFunction)();
    auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControls")));
    if (init != nullptr)
        init();
}

// The log path: the one given with /log (made absolute), else the temporary
// folder's. False when the given one does not fit.
bool SetLogPath(const CommandLine& args) {
    if (args.logPath[0] == '\0') {
        if (!BuildTempFilePath("Update_Log.txt", g_logPath, sizeof g_logPath))
            g_logPath[0] = '\0';
        return true;
    }
    DWORD n = GetFullPathNameA(args.logPath, sizeof g_logPath, g_logPath, nullptr);
    if (n == 0 || n >= sizeof g_logPath) {
        g_logPath[0] = '\0';
        return false;
    }
    return true;
}
// The start banner, and a word that this program carries the sample payload
// and is not for shipping.
void LogStart() {
    WRITE_LOG(LOG_START_BANNER);
#ifdef UPDATE_SAMPLE_PAYLOAD
    WRITE_LOG(LOG_SAMPLE_BUILD);
#endif
}

// The run's last record, its exit status: a log whose last run lacks it
// tells of a run stopped part-way, whatever status was reported. Written on
// the main thread once every box is closed.
int Closed(int status) {
    WRITE_LOG(LOG_EXIT_STATUS, status);
    return status;
}
} // namespace

int StatusNow() {
    if (IsAnotherUpdateRunning())
        return kExitAnotherRunning;
    if (GetOperationMode() == OperationMode::kUnknown)
        return kExitNotRecognised;
    return IsAlreadyUpdated() ? kExitAlreadyUpdated : kExitUpdated;
}

void UpdateApp::Say(const char* text, const char* caption, UINT flags) const {
    if (!quiet_)
        MessageBoxA(nullptr, text, caption, flags);
}

int UpdateApp::InitInstance() {
    CommandLine args;
    bool understood = ParseCommandLine(__argc, __argv, args);
    quiet_ = args.quiet || args.status;
    if (!SetLogPath(args)) {
        // The default log then tells about the path that did not fit.
        SetLogPath(CommandLine());
        understood = false;
        snprintf(args.unknown, sizeof args.unknown, "/log=%.250s", args.logPath);
    }
    if (!understood) {
        LogStart();
        WRITE_LOG(LOG_COMMAND_LINE, args.text);
        WRITE_LOG(LOG_UNKNOWN_ARGUMENT, args.unknown);
        char text[sizeof kHelpText + 512];
        snprintf(text, sizeof text, "引数 %s は使用できません。\n\n%s", args.unknown, kHelpText);
        Say(text, "エラー", MB_OK | MB_ICONERROR);
        return Closed(kExitUsage);
    }
    if (args.help) {
        Say(kHelpText, "Update", MB_OK | MB_ICONINFORMATION);
        return kExitUpdated;
    }
    // A status query changes nothing, the log included.
    if (args.status)
        return StatusNow();

    LogStart();
    // Among a run's first records, where the fleet report looks for it.
    if (args.undo)
        WRITE_LOG(LOG_UNDO);
    if (args.quiet)
        WRITE_LOG(LOG_COMMAND_LINE, args.text);
    RunLock lock;
    if (!lock.Acquire()) {
        WRITE_LOG(LOG_ANOTHER_RUNNING);
        Say("TALMERO ProのWindows Update支援機能の更新は既に実行中です。\n"
            "プログラムを終了します。",
            "エラー", MB_OK | MB_ICONWARNING);
        return Closed(kExitAnotherRunning);
    }

    g_operationMode = GetOperationMode();
    WRITE_LOG(LOG_MODE, static_cast<int>(g_operationMode));

    if (g_operationMode == OperationMode::kUnknown) {
        Say("TALMERO Pro もしくは Windows Update 支援機能を認識できません。\n"
            "プログラムを終了します。",
            "エラー", MB_OK | MB_ICONERROR);
        return Closed(kExitNotRecognised);
    }
    if (args.undo)
        return Closed(Undo(Target()));
    if (IsAlreadyUpdated()) {
        Say("TALMERO ProのWindows Update支援機能は既に更新されています。\n"
            "プログラムを終了します。",
            "エラー", MB_OK | MB_ICONINFORMATION);
        return Closed(kExitAlreadyUpdated);
    }

    const UpdateTarget target = Target();
    // The update asks for the host name when the settings name no server.
    StartWinSock();
    if (quiet_) {
        const bool updated = RunUpdate(target);
        StopWinSock();
        return Closed(updated ? kExitUpdated : kExitUpdateFailed);
    }
    // Loads the common controls that the manifest asks for, so that the
    // dialog gets the platform's current look.
    LoadCommonControls();
    // The dialog ends with the exit status; one that could not be shown has
    // updated nothing.
    INT_PTR status;
    {
        UpdateDialog dialog(target);
        dialog.SetAsMainWindow();
        status = dialog.DoModal();
    }
    StopWinSock();
    return Closed(status < 0 ? kExitUpdateFailed : static_cast<int>(status));
}

int UpdateApp::Undo(const UpdateTarget& target) const {
    if (!quiet_)
        LoadCommonControls();
    const UndoPreview preview = LookAtUndo(target);
    // One question, when there is a file to put back or remove.
    if (!quiet_ && preview.outcome == UndoOutcome::kUndone &&
        preview.restored + preview.removed > 0) {
        char text[1024];
        snprintf(text, sizeof text,
                 "TALMERO ProのWindows Update支援機能を更新前の状態に戻します。\n"
                 "%s の\n"
                 "更新前のファイル %u 個を元に戻し、更新で追加されたファイル %u 個を削除します。\n"
                 "元に戻した後はWindows Server Update Services(WSUS)では使用できなくなります。\n"
                 "ソフトウェアを元に戻してもよろしいですか？",
                 target.featureFolder, static_cast<unsigned>(preview.restored),
                 static_cast<unsigned>(preview.removed));
        if (MessageBoxA(nullptr, text, "確認", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
            return kExitCancelled;
    }
    switch (RunUndo(target)) {
    case UndoOutcome::kUndone:
        Say("ソフトウェアを更新前の状態に戻しました。", "完了", MB_OK | MB_ICONINFORMATION);
        return kExitUndone;
    case UndoOutcome::kNothingToUndo:
        Say("TALMERO ProのWindows Update支援機能に元に戻す更新はありません。\n"
            "プログラムを終了します。",
            "エラー", MB_OK | MB_ICONINFORMATION);
        return kExitNothingToUndo;
    case UndoOutcome::kNothingKept:
        Say("TALMERO ProのWindows Update支援機能は更新前のファイルを保存しない版で"
            "更新されているため、元に戻せません。\n"
            "プログラムを終了します。",
            "エラー", MB_OK | MB_ICONERROR);
        return kExitUndoFailed;
    case UndoOutcome::kFailed:
        break;
    }
    Say("ソフトウェアを元に戻す途中で異常が発生しました。", "エラー", MB_OK | MB_ICONERROR);
    return kExitUndoFailed;
}

namespace {
// A paint context of BeginPaint, ended on every way out.
class PaintContext {
  public:
    explicit PaintContext(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
    ~PaintContext() { EndPaint(window_, &paint_); }
    PaintContext(const PaintContext&) = delete;
    PaintContext& operator=(const PaintContext&) = delete;
    HDC Get() const { return dc_; }

  private:
    HWND window_;
    PAINTSTRUCT paint_;
    HDC dc_;
};

// The worker's word that the update has ended, to the dialog.
void PostFinished(bool succeeded) {
    PostMessageA(g_mainWindow, WM_UPDATE_FINISHED, succeeded ? 1 : 0, 0);
}
} // namespace

UpdateDialog::UpdateDialog(const UpdateTarget& target, const UpdateHooks& hooks, HWND parent)
    : Dialog(IDD_UPDATE_DIALOG, parent),
      icon_(LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {
    work_.target = target;
    work_.hooks = hooks;
    work_.finished = PostFinished;
}

BOOL UpdateDialog::OnInitDialog() {
    Dialog::OnInitDialog();

    HMENU systemMenu = GetSystemMenu(Handle(), FALSE);
    if (systemMenu != nullptr) {
        char about[256];
        if (LoadStringA(ResourceModule(), IDS_ABOUTBOX, about, sizeof about) > 0) {
            AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }

    SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    g_mainWindow = Handle();

    if (work_.target.mode == OperationMode::kServer)
        SetDlgItemTextA(Handle(), IDC_MODE_TEXT,
                        "Windows Update支援機能のサーバソフトウェアを更新します。");
    // The focus goes to the first tab stop, 実行.
    return TRUE;
}

bool UpdateDialog::OnSysCommand(UINT id, LPARAM) {
    if ((id & 0xFFF0) != IDM_ABOUTBOX)
        return false;
    AboutDialog about;
    about_ = &about;
    about.DoModal();
    about_ = nullptr;
    return true;
}

bool UpdateDialog::OnPaint() {
    if (!IsIconic(Handle()))
        return false;
    PaintContext paint(Handle());
    SendMessageA(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.Get()), 0);
    int iconWidth = GetSystemMetrics(SM_CXICON);
    int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(Handle(), &client);
    int x = (client.right - client.left - iconWidth + 1) / 2;
    int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(paint.Get(), x, y, icon_);
    return true;
}

HICON UpdateDialog::OnQueryDragIcon() {
    return icon_;
}

void UpdateDialog::OnOK() {
    // The update runs once: a second 実行, even one posted while the
    // confirmation is open, finds the dialog busy.
    if (busy_)
        return;
    busy_ = true;
    int answer =
        MessageBoxA(Handle(),
                    "TALMERO ProのWindows Update支援機能を\n"
                    "Windows Server Update Services(WSUS)対応に更新します。\n"
                    "更新後は従来のSoftware Update Services(SUS)では使用できなくなります。\n"
                    "ソフトウェアを更新してもよろしいですか？",
                    "確認", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer != IDYES) {
        busy_ = false;
        return;
    }
    EnableWindow(GetDlgItem(Handle(), IDOK), FALSE);
    EnableWindow(GetDlgItem(Handle(), IDCANCEL), FALSE);
    GreyOutClose();
    // A worker that did not start would leave the dialog waiting for ever
    // with every way out refused: report it as a failed update.
    if (!BeginWorkerThread(UpdateWorker, &work_))
        PostMessageA(Handle(), WM_UPDATE_FINISHED, 0, 0);
}

void UpdateDialog::OnCancel() {
    // キャンセル, Escape, the close box, Alt+F4 and the system menu's Close
    // all arrive here. Ending the dialog ends the process, so none of them
    // may end it from the first 実行 until the result has been shown.
    if (busy_) {
        MessageBeep(MB_OK);
        return;
    }
    EndDialog(kExitCancelled);
}

bool UpdateDialog::OnHelp() {
    // The program's own help, as /? shows it; not once the update runs,
    // whose result box would come on top of it.
    if (!busy_)
        MessageBoxA(Handle(), kHelpText, "Update", MB_OK | MB_ICONINFORMATION);
    return true;
}

bool UpdateDialog::OnAppMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message != WM_UPDATE_FINISHED)
        return false;
    result = OnUpdateFinished(wParam, lParam);
    return true;
}

LRESULT UpdateDialog::OnUpdateFinished(WPARAM wParam, LPARAM lParam) {
    // The result waits until the version box is closed, so that ending the
    // dialog ends the program.
    if (about_ != nullptr) {
        about_->EndDialog(IDOK);
        PostMessageA(Handle(), WM_UPDATE_FINISHED, wParam, lParam);
        return 0;
    }
    if (wParam != 0)
        MessageBoxA(Handle(), "ソフトウェアの更新は正常に終了しました。", "完了",
                    MB_OK | MB_ICONINFORMATION);
    else
        MessageBoxA(Handle(), "ソフトウェアの更新中に異常が発生しました。", "エラー",
                    MB_OK | MB_ICONERROR);
    // The dialog's end value is the program's exit status.
    EndDialog(wParam != 0 ? kExitUpdated : kExitUpdateFailed);
    return 0;
}

void UpdateDialog::GreyOutClose() {
    // Greys the system menu's Close and with it the title bar's close box.
    HMENU systemMenu = GetSystemMenu(Handle(), FALSE);
    if (systemMenu != nullptr)
        EnableMenuItem(systemMenu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
}

AboutDialog::AboutDialog(HWND parent) : Dialog(IDD_ABOUTBOX, parent) {}
