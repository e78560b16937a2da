#include "Update.h"

#include "General.h"
#include "Log.h"
#include "PathHelpers.h"
#include "res/resource.h"

#include <winsock2.h>
#include <commctrl.h>
#include <string.h>
#include <string>

char g_logPath[260];
int g_operationMode;
char g_installPath[260];
char g_featureFolder[260];
HWND g_mainWindow;

namespace {
const char kServerKey[] = "SOFTWARE\\TALMERO\\BaseSrv";
const char kClientKey[] = "SOFTWARE\\TALMERO\\BaseCli";
const char kInstallPathValue[] = "InstallPath";
const char kMarkerFile[] = "WSUS.txt";

bool PathExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Takes the part whose install path was read: sets the globals and tells
// whether its feature folder exists.
int UsePart(const std::string& installPath, int mode) {
    // A path that does not fit the globals is not a product we recognise.
    if (installPath.size() >= sizeof g_installPath)
        return kModeUnknown;
    memcpy(g_installPath, installPath.c_str(), installPath.size() + 1);
    memcpy(g_featureFolder, installPath.c_str(), installPath.size() + 1);
    MakeFeatureFolder(g_featureFolder);
    return PathExists(g_featureFolder) ? mode : kModeUnknown;
}
} // namespace

void MakeFeatureFolder(char* path) {
    char* bin = FindNoCase(path, "bin");
    if (bin != nullptr)
        memcpy(bin, "WU", 3);
}

int GetOperationMode() {
    std::string server;
    std::string client;
    bool serverPresent =
        ReadRegistryString(HKEY_LOCAL_MACHINE, kServerKey, kInstallPathValue, server) &&
        !server.empty();
    bool clientPresent =
        ReadRegistryString(HKEY_LOCAL_MACHINE, kClientKey, kInstallPathValue, client) &&
        !client.empty();
    if (serverPresent)
        return UsePart(server, kModeServer);
    if (clientPresent)
        return UsePart(client, kModeClient);
    return kModeUnknown;
}

bool IsAlreadyUpdated() {
    char marker[260];
    if (!JoinPath(g_featureFolder, kMarkerFile, marker, sizeof marker))
        return false;
    return PathExists(marker);
}

bool StartWinSock() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0)
        return false;
    return data.wVersion == MAKEWORD(2, 0);
}

bool StopWinSock() {
    return WSACleanup() == 0;
}

bool UpdateApp::InitInstance() {
    if (!BuildTempFilePath("Update_Log.txt", g_logPath, sizeof g_logPath))
        g_logPath[0] = '\0';

    WRITE_LOG("====================【開始】====================.");
#ifdef UPDATE_SAMPLE_PAYLOAD
    WRITE_LOG("サンプルペイロード版 .");
#endif
    g_operationMode = GetOperationMode();
    WRITE_LOG("動作モード %d .", g_operationMode);

    if (g_operationMode != kModeServer && g_operationMode != kModeClient) {
        MessageBoxA(nullptr,
                    "TALMERO Pro もしくは Windows Update 支援機能を認識できません。\n"
                    "プログラムを終了します。",
                    "エラー", MB_OK | MB_ICONERROR);
        SetExitCode(kExitNotRecognised);
        return false;
    }
    if (IsAlreadyUpdated()) {
        MessageBoxA(nullptr,
                    "TALMERO ProのWindows Update支援機能は既に更新されています。\n"
                    "プログラムを終了します。",
                    "エラー", MB_OK | MB_ICONINFORMATION);
        SetExitCode(kExitAlreadyUpdated);
        return false;
    }

    StartWinSock();
    // Loads the common controls that the manifest asks for, so that the
    // dialog gets the platform's current look.
    InitCommonControls();
    {
        UpdateDialog dialog;
        dialog.SetAsMainWindow();
        // Until the dialog says otherwise: a dialog that could not be shown
        // has updated nothing.
        SetExitCode(kExitUpdateFailed);
        dialog.DoModal();
        StopWinSock();
    }
    return false;
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

void SetAppExitCode(int code) {
    if (WinApp::Current() != nullptr)
        WinApp::Current()->SetExitCode(code);
}
} // namespace

UpdateDialog::UpdateDialog(HWND parent)
    : Dialog(IDD_UPDATE_DIALOG, parent),
      icon_(LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

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

    if (g_operationMode == kModeServer)
        SetDlgItemTextA(Handle(), IDC_MODE_TEXT,
                        "Windows Update支援機能のサーバソフトウェアを更新します。");
    // The focus goes to the first tab stop, 実行.
    return TRUE;
}

void UpdateDialog::OnSysCommand(UINT id, LPARAM lParam) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        AboutDialog about;
        about.DoModal();
        return;
    }
    Dialog::OnSysCommand(id, lParam);
}

void UpdateDialog::OnPaint() {
    if (!IsIconic(Handle())) {
        Dialog::OnPaint();
        return;
    }
    PaintContext paint(Handle());
    SendMessageA(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.Get()), 0);
    int iconWidth = GetSystemMetrics(SM_CXICON);
    int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(Handle(), &client);
    int x = (client.right - client.left - iconWidth + 1) / 2;
    int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(paint.Get(), x, y, icon_);
}

HICON UpdateDialog::OnQueryDragIcon() {
    return icon_;
}

void UpdateDialog::OnOK() {
    // The update runs once.
    if (updating_)
        return;
    int answer =
        MessageBoxA(Handle(),
                    "TALMERO ProのWindows Update支援機能を\n"
                    "Windows Server Update Services(WSUS)対応に更新します。\n"
                    "更新後は従来のSoftware Update Services(SUS)では使用できなくなります。\n"
                    "ソフトウェアを更新してもよろしいですか？",
                    "確認", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer != IDYES)
        return;
    EnableWindow(GetDlgItem(Handle(), IDOK), FALSE);
    EnableWindow(GetDlgItem(Handle(), IDCANCEL), FALSE);
    updating_ = true;
    SetCloseEnabled(false);
    // A worker that did not start would leave the dialog waiting for ever
    // with every way out refused: report it as a failed update.
    if (!BeginWorkerThread(UpdateWorker, nullptr))
        PostMessageA(Handle(), WM_UPDATE_FINISHED, 0, 0);
}

void UpdateDialog::OnCancel() {
    // キャンセル, Escape, the close box, Alt+F4 and the system menu's Close
    // all arrive here. Ending the dialog ends the process, so none of them
    // may end it while the worker runs.
    if (updating_) {
        MessageBeep(MB_OK);
        return;
    }
    SetAppExitCode(kExitCancelled);
    Dialog::OnCancel();
}

LRESULT UpdateDialog::OnUpdateFinished(WPARAM wParam, LPARAM) {
    updating_ = false;
    SetCloseEnabled(true);
    if (wParam != 0) {
        SetAppExitCode(kExitUpdated);
        MessageBoxA(Handle(), "ソフトウェアの更新は正常に終了しました。", "完了",
                    MB_OK | MB_ICONINFORMATION);
    } else {
        SetAppExitCode(kExitUpdateFailed);
        MessageBoxA(Handle(), "ソフトウェアの更新中に異常が発生しました。", "エラー",
                    MB_OK | MB_ICONERROR);
    }
    EndDialog(IDOK);
    return 0;
}

void UpdateDialog::SetCloseEnabled(bool enabled) {
    // Greys the system menu's Close and with it the title bar's close box.
    HMENU systemMenu = GetSystemMenu(Handle(), FALSE);
    if (systemMenu != nullptr)
        EnableMenuItem(systemMenu, SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

AboutDialog::AboutDialog(HWND parent) : Dialog(IDD_ABOUTBOX, parent) {}

static UpdateApp theApp;
