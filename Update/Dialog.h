// Modal dialogs from templates of the program's resources, with a small
// message map of virtual handlers over a plain dialog procedure.
#pragma once

#include <windows.h>

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
    // The message map. Each handler's base version does the platform's
    // default handling; a handler that wants it for a message it does not
    // take calls Default().
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void OnSysCommand(UINT id, LPARAM lParam);
    virtual void OnPaint();
    virtual HICON OnQueryDragIcon();
    virtual LRESULT OnUpdateFinished(WPARAM wParam, LPARAM lParam);

    // Leaves the message being handled to the platform's dialog handling.
    void Default() { wantsDefault_ = true; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void CentreWindow();

    UINT templateId_;
    HWND parent_;
    HWND window_ = nullptr;
    bool isMainWindow_ = false;
    bool wantsDefault_ = false;
    // Whether the template places the dialog at 0,0, which asks for it to be
    // centred.
    bool centre_ = false;
};

// Position of a dialog template (classic or extended form), in dialog units.
// False when the template cannot be read.
bool GetDialogTemplatePosition(const void* templateData, DWORD size, short* x, short* y);
