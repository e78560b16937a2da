#include "Dialog.h"

#include "WinApp.h"

#include <string.h>

namespace {
WORD ReadWord(const BYTE* p) {
    WORD w;
    memcpy(&w, p, sizeof w);
    return w;
}
} // namespace

bool GetDialogTemplatePosition(const void* templateData, DWORD size, short* x, short* y) {
    const BYTE* p = static_cast<const BYTE*>(templateData);
    if (p == nullptr)
        return false;
    // The extended form starts with version 1 and the signature 0xFFFF; its
    // position follows helpID, exStyle, style and the item count. The
    // classic form has style, exStyle and the item count before it.
    size_t offset = 10;
    if (size >= 4 && ReadWord(p) == 1 && ReadWord(p + 2) == 0xFFFF)
        offset = 18;
    if (size < offset + 4)
        return false;
    *x = static_cast<short>(ReadWord(p + offset));
    *y = static_cast<short>(ReadWord(p + offset + 2));
    return true;
}

Dialog::Dialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() = default;

HINSTANCE Dialog::ResourceModule() {
    HINSTANCE instance = WinApp::Instance();
    return instance != nullptr ? instance : GetModuleHandleA(nullptr);
}

INT_PTR Dialog::DoModal() {
    HINSTANCE module = ResourceModule();
    LPCSTR name = MAKEINTRESOURCEA(templateId_);

    // A template placed at 0,0 asks to be centred (the template itself does
    // not carry DS_CENTER).
    centre_ = false;
    HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(5)); // RT_DIALOG
    if (found != nullptr) {
        short x = 1;
        short y = 1;
        const void* data = LockResource(LoadResource(module, found));
        if (GetDialogTemplatePosition(data, SizeofResource(module, found), &x, &y))
            centre_ = x == 0 && y == 0;
    }

    // Without a parent a dialog is owned by the application's main window,
    // so that it is modal to it; the main dialog itself has no owner.
    HWND owner = parent_;
    if (owner == nullptr && !isMainWindow_) {
        owner = GetAppMainWindow();
        if (owner != nullptr && !IsWindow(owner))
            owner = nullptr;
    }
    INT_PTR result =
        DialogBoxParamA(module, name, owner, DialogProc, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result;
}

void Dialog::EndDialog(INT_PTR result) {
    if (window_ != nullptr)
        ::EndDialog(window_, result);
}

BOOL Dialog::OnInitDialog() {
    return TRUE;
}

void Dialog::OnOK() {
    EndDialog(IDOK);
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool Dialog::OnSysCommand(UINT, LPARAM) {
    return false;
}

bool Dialog::OnPaint() {
    return false;
}

HICON Dialog::OnQueryDragIcon() {
    return nullptr;
}

bool Dialog::OnHelp() {
    return false;
}

bool Dialog::OnAppMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

void Dialog::CentreWindow() {
    RECT rect;
    if (!GetWindowRect(window_, &rect))
        return;
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;

    // Over the owner when there is a visible one, else on the work area of
    // the monitor; never off the work area.
    HWND owner = GetWindow(window_, GW_OWNER);
    bool overOwner = owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    RECT work;
    if (GetMonitorInfoA(MonitorFromWindow(overOwner ? owner : window_, MONITOR_DEFAULTTOPRIMARY),
                        &monitor))
        work = monitor.rcWork;
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    RECT area = work;
    if (overOwner)
        GetWindowRect(owner, &area);

    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    if (x + width > work.right)
        x = work.right - width;
    if (x < work.left)
        x = work.left;
    if (y + height > work.bottom)
        y = work.bottom - height;
    if (y < work.top)
        y = work.top;
    SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->window_ = window;
        if (self->isMainWindow_ && WinApp::Current() != nullptr)
            WinApp::Current()->SetMainWindow(window);
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    }
    if (self == nullptr)
        return FALSE;
    if (message == WM_NCDESTROY) {
        if (self->isMainWindow_ && WinApp::Current() != nullptr &&
            WinApp::Current()->MainWindow() == window)
            WinApp::Current()->SetMainWindow(nullptr);
        SetWindowLongPtrA(window, DWLP_USER, 0);
        return FALSE;
    }
    return self->Dispatch(message, wParam, lParam);
}

// What the dialog procedure returns for each message:
//   WM_INITDIALOG        OnInitDialog's value (nonzero: the platform sets the focus)
//   WM_COMMAND IDOK      TRUE after OnOK (and IDCANCEL: OnCancel); other commands FALSE
//   WM_SYSCOMMAND        TRUE when OnSysCommand handled it, else FALSE
//   WM_PAINT             TRUE when OnPaint handled it, else FALSE
//   WM_QUERYDRAGICON     the icon, itself the result; FALSE when there is none
//   WM_HELP, kHelpCommand  TRUE when OnHelp handled it, else FALSE
//   WM_APP and above     TRUE with the result in DWLP_MSGRESULT when handled, else FALSE
//   anything else        FALSE, the platform's dialog handling
INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        if (centre_)
            CentreWindow();
        return OnInitDialog();
    case WM_COMMAND:
        // Buttons, menus and accelerators; other notifications go on.
        if (HIWORD(wParam) > 1)
            return FALSE;
        if (LOWORD(wParam) == IDOK)
            OnOK();
        else if (LOWORD(wParam) == IDCANCEL)
            OnCancel();
        else if (LOWORD(wParam) == kHelpCommand)
            return OnHelp();
        else
            return FALSE;
        return TRUE;
    case WM_SYSCOMMAND:
        return OnSysCommand(static_cast<UINT>(wParam), lParam);
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_HELP:
        return OnHelp();
    default:
        break;
    }
    LRESULT result = 0;
    if (message < WM_APP || !OnAppMessage(message, wParam, lParam, result))
        return FALSE;
    if (window_ != nullptr)
        SetWindowLongPtrA(window_, DWLP_MSGRESULT, result);
    return TRUE;
}
