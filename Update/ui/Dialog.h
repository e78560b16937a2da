// Modal dialogs from templates of the program's resources, with a small
// message map of virtual handlers over a plain dialog procedure.
#pragma once

#include <windows.h>

// The framework's standard help command (ID_HELP).
constexpr UINT kHelpCommand = 0xE146;

class Dialog {
  public:
    // templateId: the dialog template; parent: the owner window, or null for
    // the application's main window (none while the main dialog itself runs).
    explicit Dialog(UINT templateId, HWND parent = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally; the value given to EndDialog, or -1 when the
    // dialog could not be created.
    INT_PTR DoModal();

    // Makes the dialog the application's main window for as long as its
    // window exists (call before DoModal).
    void SetAsMainWindow() { isMainWindow_ = true; }

    HWND Handle() const { return window_; }
    void EndDialog(INT_PTR result);

    // The module whose resources the dialogs are made from.
    static HINSTANCE ResourceModule();

  protected:
    // The message map: each handler says whether it handled its message; a
    // message it leaves goes to the platform's dialog handling (see
    // Dispatch). The base versions handle nothing but OK and Cancel, which
    // end the dialog.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual bool OnSysCommand(UINT id, LPARAM lParam);
    virtual bool OnPaint();
    // The icon shown while the minimised dialog is dragged; null: the
    // platform's.
    virtual HICON OnQueryDragIcon();
    // Help asked for: F1 (WM_HELP) or the framework's help command
    // (kHelpCommand).
    virtual bool OnHelp();
    // A message of the application's own (WM_APP and above); result is the
    // message's result when it is handled.
    virtual bool OnAppMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void CentreWindow();

    UINT templateId_;
    HWND parent_;
    HWND window_ = nullptr;
    bool isMainWindow_ = false;
    // Whether the template places the dialog at 0,0, which asks for it to be
    // centred.
    bool centre_ = false;
};

// Position of a dialog template (classic or extended form), in dialog units.
// False when the template cannot be read.
bool GetDialogTemplatePosition(const void* templateData, DWORD size, short* x, short* y);
