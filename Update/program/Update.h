// Application shell: start-up, mode detection and the dialogs.
#pragma once

#include "Dialog.h"
#include "WinApp.h"
#include "General.h"
#include "Globals.h"

// Posted once to g_mainWindow when the update on the worker thread has
// ended: wParam 1 success, 0 failure; lParam 0.
constexpr UINT WM_UPDATE_FINISHED = WM_APP + 0x30;

class UpdateApp : public WinApp {
  public:
    UpdateApp() = default;
    // One start: the log, the boxes and the dialog on the way; its result is
    // the exit status.
    int InitInstance() override;

  private:
    // A message box, or nothing at all in quiet mode.
    void Say(const char* text, const char* caption, UINT flags) const;
    // /undo, once the lock is held and the product found: the confirmation,
    // the undo and its result; the exit status.
    int Undo(const UpdateTarget& target) const;

    bool quiet_ = false;
};

class AboutDialog;

// The main dialog: tells which part is about to be updated, asks once, runs
// the update on a worker thread and shows its result.
class UpdateDialog : public Dialog {
  public:
    // target: what start-up found; hooks: the update's stand-ins (tests
    // only).
    explicit UpdateDialog(const UpdateTarget& target, const UpdateHooks& hooks = UpdateHooks(),
                          HWND parent = nullptr);

  protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnSysCommand(UINT id, LPARAM lParam) override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override;
    bool OnHelp() override;
    bool OnAppMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    LRESULT OnUpdateFinished(WPARAM wParam, LPARAM lParam);
    void GreyOutClose();

    HICON icon_;
    // From the first press of 実行 until the result box is closed: no second
    // update, and no way of closing the dialog once the update runs.
    bool busy_ = false;
    // The version box while it is open.
    AboutDialog* about_ = nullptr;
    // What the worker thread updates; it outlives the thread, which ends
    // before the result is shown.
    UpdateWork work_;
};

// The version box, opened from the main dialog's system menu.
class AboutDialog : public Dialog {
  public:
    explicit AboutDialog(HWND parent = nullptr);
};

// The exit status that a start would end with now, without changing or
// showing anything: 0 when an update would run.
int StatusNow();

// What start-up found, for the update: the process-wide values, built into
// a target here only.
UpdateTarget Target();

// The part of the product found in the registry. May set g_installPath and
// g_featureFolder.
OperationMode GetOperationMode();
// True when the marker WSUS.txt (file or folder) is in the feature folder.
bool IsAlreadyUpdated();
bool StartWinSock();
bool StopWinSock();

// The feature folder of an install path: its first "bin" (any case) replaced
// by "WU" and cut there; unchanged when there is none.
void MakeFeatureFolder(char* path);
