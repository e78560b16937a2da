// The main dialog of the real Update.exe, run as a child process on a real
// window under X, driven by the keyboard (xdotool) and by window messages.
#include "dialog_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

using namespace dt;

namespace {

constexpr DWORD kWindowTimeout = ts::kHangMs;

// A running Update.exe on a prepared installation.
class UpdateRun {
  public:
    UpdateRun(const std::string& name, int mode, bool withShare = true)
        : install(name, mode, withShare) {}

    // held: the update stops at its first call of the file layer until
    // gate.Release().
    HWND Start(HeldUpdate* held = nullptr) {
        if (!(held != nullptr ? held->Start(child, install) : StartUpdate(child, install))) {
            ADD_FAILURE() << "Update.exe did not start: " << child.StartErrors();
            return nullptr;
        }
        dialog = WaitBox(kMainCaption);
        if (dialog != nullptr && !FocusSettles(dialog))
            ADD_FAILURE() << "the dialog never got the focus: " << ts::DescribeWindows(child.Pid());
        return dialog;
    }
    // The window, or null once the program has ended without showing it.
    HWND WaitBox(const char* caption) {
        HWND window = nullptr;
        ts::WaitUntil(
            [&] {
                window = ts::WaitForWindow(child.Pid(), caption, 0);
                return window != nullptr || WaitForSingleObject(child.Process(), 0) != WAIT_TIMEOUT;
            },
            kWindowTimeout);
        if (window == nullptr)
            ADD_FAILURE() << "no window " << caption << ": " << ts::DescribeWindows(child.Pid())
                          << "\nlog:\n"
                          << install.Log();
        return window;
    }

    Installation install;
    ts::Child child;
    HWND dialog = nullptr;
};

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// Presses 実行 as a person would (it has the focus) and answers the
// confirmation; returns the confirmation box once it has the focus.
HWND OpenConfirmation(UpdateRun& run) {
    if (!PressKeys(run.dialog, "space"))
        return nullptr;
    HWND box = run.WaitBox("確認");
    if (box != nullptr && !FocusSettles(box))
        ADD_FAILURE() << "the confirmation never got the focus: "
                      << ts::DescribeWindows(run.child.Pid());
    return box;
}

// Moves the focus of the confirmation to はい and presses it.
bool AnswerYes(HWND box) {
    HWND yes = GetDlgItem(box, IDYES);
    for (int i = 0; i < 3 && FocusOf(box) != yes; ++i) {
        HWND before = FocusOf(box);
        PressKeys(box, "shift+Tab");
        ts::WaitUntil([&] { return FocusOf(box) != before; }, 10000);
    }
    if (FocusOf(box) != yes)
        return false;
    return PressKeys(box, "space");
}

// Posted messages reach the dialog in order: once the version box that the
// last one opens is there, the dialog has handled every message before it
// and is still there. The box is closed again.
bool StillOpenAfterPosted(UpdateRun& run) {
    PostMessageA(run.dialog, WM_SYSCOMMAND, 16, 0);
    HWND about = run.WaitBox(kAboutCaption);
    if (about == nullptr)
        return false;
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    return ts::WaitForWindowGone(about, kWindowTimeout) && IsWindowVisible(run.dialog);
}

class ModeTest : public ::testing::TestWithParam<int> {};

// -------------------------------------------------------------------------

TEST_P(ModeTest, ShowsTheModeTextWithTheFocusOnRunAndCancelAsDefault) {
    int mode = GetParam();
    UpdateRun run("dialog-mode" + std::to_string(mode), mode);
    HWND dialog = run.Start();
    ASSERT_NE(dialog, nullptr);

    EXPECT_EQ(ts::ItemText(dialog, 1000), mode == 1 ? kServerText : kClientText);
    EXPECT_EQ(ts::ItemText(dialog, IDOK), "実行");
    EXPECT_EQ(ts::ItemText(dialog, IDCANCEL), "キャンセル");
    EXPECT_EQ(FocusOf(dialog), GetDlgItem(dialog, IDOK));
    EXPECT_EQ(Style(GetDlgItem(dialog, IDCANCEL)) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(Style(GetDlgItem(dialog, IDOK)) & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_TRUE(Enabled(dialog, IDOK));
    EXPECT_TRUE(Enabled(dialog, IDCANCEL));
    EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);

    // Centred on the screen's work area.
    RECT window;
    RECT work;
    GetWindowRect(dialog, &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(abs(Centre2(window).x - Centre2(work).x), 2);
    EXPECT_LE(abs(Centre2(window).y - Centre2(work).y), 2);

    // F1 shows the program's help, the box that /? shows, over the dialog.
    ASSERT_TRUE(PressKeys(dialog, "F1"));
    HWND help = run.WaitBox("Update");
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(GetWindow(help, GW_OWNER), dialog);
    EXPECT_NE(MessageBoxText(help).find("/quiet (/q)"), std::string::npos);
    ASSERT_TRUE(PressUntilGone(help, "Return"));
    ASSERT_TRUE(FocusWindow(dialog));

    // Enter presses the default button, キャンセル: the program ends, and
    // the log holds the start-up's records and the closing one only.
    ASSERT_TRUE(PressKeys(dialog, "Return"));
    EXPECT_EQ(run.child.Wait(kWindowTimeout), 4);
    EXPECT_EQ(run.install.LogRecords(), kStartupRecords + 1) << run.install.Log();
}

TEST_P(ModeTest, NoKeepsTheDialogAsItWas) {
    int mode = GetParam();
    UpdateRun run("dialog-no" + std::to_string(mode), mode);
    ASSERT_NE(run.Start(), nullptr);

    HWND box = OpenConfirmation(run);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kConfirmText);
    EXPECT_EQ(ts::MessageBoxIconKind(box), ts::kIconQuestion);
    EXPECT_EQ(MessageBoxButtons(box), (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(DefaultButton(box), IDNO);
    EXPECT_EQ(FocusOf(box), GetDlgItem(box, IDNO));
    EXPECT_EQ(GetWindow(box, GW_OWNER), run.dialog);
    EXPECT_FALSE(IsWindowEnabled(run.dialog));

    // Enter answers No, the default.
    ASSERT_TRUE(PressUntilGone(box, "Return"));
    EXPECT_TRUE(StillOpenAfterPosted(run));
    EXPECT_TRUE(Enabled(run.dialog, IDOK));
    EXPECT_TRUE(Enabled(run.dialog, IDCANCEL));
    EXPECT_EQ(run.install.LogRecords(), kStartupRecords) << run.install.Log();

    // キャンセル, pressed with the focus on it.
    ASSERT_TRUE(PressKeys(run.dialog, "Tab"));
    EXPECT_EQ(FocusOf(run.dialog), GetDlgItem(run.dialog, IDCANCEL));
    ASSERT_TRUE(PressKeys(run.dialog, "space"));
    EXPECT_EQ(run.child.Wait(kWindowTimeout), 4);
    EXPECT_EQ(run.install.LogRecords(), kStartupRecords + 1) << run.install.Log();
}

TEST_P(ModeTest, YesDisablesBothButtonsAndEndsWithTheSuccessBox) {
    int mode = GetParam();
    UpdateRun run("dialog-yes" + std::to_string(mode), mode);
    HeldUpdate held;
    ASSERT_NE(run.Start(&held), nullptr);
    HWND box = OpenConfirmation(run);
    ASSERT_NE(box, nullptr);

    ASSERT_TRUE(AnswerYes(box));
    ASSERT_TRUE(held.WaitHeld());
    // The buttons went before the update started.
    EXPECT_FALSE(Enabled(run.dialog, IDOK));
    EXPECT_FALSE(Enabled(run.dialog, IDCANCEL));
    EXPECT_TRUE(IsWindowVisible(run.dialog));
    held.Release();

    HWND done = run.WaitBox("完了");
    ASSERT_NE(done, nullptr) << run.install.Log();
    EXPECT_EQ(MessageBoxText(done), kSuccessText);
    EXPECT_EQ(ts::MessageBoxIconKind(done), ts::kIconInformation);
    EXPECT_EQ(MessageBoxButtons(done), std::vector<int>{IDOK});
    EXPECT_EQ(GetWindow(done, GW_OWNER), run.dialog);
    // The update did its work; the run's closing record waits for the box.
    EXPECT_TRUE(ts::Exists(run.install.featureFolder + "\\WSUS.txt"));
    EXPECT_EQ(std::string::npos, run.install.Log().find("終了コード")) << run.install.Log();

    ASSERT_TRUE(PressUntilGone(done, "Return"));
    EXPECT_EQ(run.child.Wait(kWindowTimeout), 0);
    const std::string log = run.install.Log();
    const std::string closing = " : 終了コード 0 .\r\n";
    EXPECT_EQ(log.size() - closing.size(), log.rfind(closing)) << log;
    EXPECT_FALSE(IsWindow(run.dialog));
}

INSTANTIATE_TEST_SUITE_P(Dialog, ModeTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("Server") : std::string("Client");
                         });

// -------------------------------------------------------------------------

TEST(Dialog, AFailedUpdateShowsTheErrorBoxAndExitsWithOne) {
    // A client whose patchjob.ini is missing cannot find its share.
    UpdateRun run("dialog-fail", 2, false);
    ASSERT_NE(run.Start(), nullptr);
    HWND box = OpenConfirmation(run);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(AnswerYes(box));

    HWND error = run.WaitBox("エラー");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(MessageBoxText(error), kFailureText);
    EXPECT_EQ(ts::MessageBoxIconKind(error), ts::kIconError);
    EXPECT_EQ(MessageBoxButtons(error), std::vector<int>{IDOK});
    EXPECT_EQ(GetWindow(error, GW_OWNER), run.dialog);
    ASSERT_TRUE(PressUntilGone(error, "Return"));
    EXPECT_EQ(run.child.Wait(kWindowTimeout), 1);
}

// /undo asks once, naming the folder and what it will put back: いいえ, the
// default, changes nothing; はい undoes and says so.
TEST(Dialog, AnUndoAsksOnceAndTellsItsResult) {
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes);
        UpdateRun run("dialog-undo", 2);
        const std::string marker = run.install.featureFolder + "\\WSUS.txt";
        ts::Child update;
        ASSERT_TRUE(StartUpdate(update, run.install, "/quiet"));
        ASSERT_EQ(0, update.Wait(kWindowTimeout));
        ASSERT_TRUE(StartUpdate(run.child, run.install, "/undo"));
        HWND box = run.WaitBox("確認");
        ASSERT_NE(box, nullptr);
        ASSERT_TRUE(FocusSettles(box));
        const std::string text = MessageBoxText(box);
        EXPECT_EQ(0u, text.find("TALMERO ProのWindows Update支援機能を更新前の状態に戻します。\n" +
                                run.install.featureFolder + " の\n更新前のファイル "))
            << text;
        EXPECT_NE(std::string::npos, text.find("ソフトウェアを元に戻してもよろしいですか？"));
        EXPECT_EQ(ts::MessageBoxIconKind(box), ts::kIconQuestion);
        EXPECT_EQ(DefaultButton(box), IDNO);
        if (!yes) {
            ASSERT_TRUE(PressUntilGone(box, "Return"));
            EXPECT_EQ(run.child.Wait(kWindowTimeout), 4);
            EXPECT_TRUE(ts::Exists(marker));
            continue;
        }
        ASSERT_TRUE(AnswerYes(box));
        HWND done = run.WaitBox("完了");
        ASSERT_NE(done, nullptr) << run.install.Log();
        EXPECT_EQ(MessageBoxText(done), "ソフトウェアを更新前の状態に戻しました。");
        ASSERT_TRUE(PressUntilGone(done, "Return"));
        EXPECT_EQ(run.child.Wait(kWindowTimeout), 0);
        EXPECT_FALSE(ts::Exists(marker));
    }
}

TEST(Dialog, EveryCloseRequestIsRefusedWhileTheUpdateRuns) {
    UpdateRun run("dialog-refuse", 2);
    HeldUpdate held;
    ASSERT_NE(run.Start(&held), nullptr);
    HWND dialog = run.dialog;
    HWND box = OpenConfirmation(run);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(AnswerYes(box));
    ASSERT_TRUE(ts::WaitForWindowGone(box, kWindowTimeout));
    ASSERT_TRUE(held.WaitHeld());

    // The keyboard: Escape and Alt+F4.
    ASSERT_TRUE(PressKeys(dialog, "Escape"));
    EXPECT_TRUE(KeysHandled(dialog));
    ASSERT_TRUE(PressKeys(dialog, "alt+F4"));
    EXPECT_TRUE(KeysHandled(dialog));
    // The title bar's close box and the system menu's Close, a plain close
    // request, and 実行, which cannot start a second update.
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    // The version box stays reachable, and no confirmation came before it.
    PostMessageA(dialog, WM_SYSCOMMAND, 16, 0);
    HWND about = run.WaitBox(kAboutCaption);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(CountWindows(run.child.Pid(), "確認"), 0);
    EXPECT_TRUE(IsWindowVisible(dialog));
    ASSERT_TRUE(PressUntilGone(about, "Return"));
    EXPECT_FALSE(Enabled(dialog, IDOK));
    EXPECT_FALSE(Enabled(dialog, IDCANCEL));

    // Nothing of the update has been logged yet: it was held all along.
    EXPECT_EQ(run.install.LogRecords(), kStartupRecords) << run.install.Log();
    held.Release();

    HWND done = run.WaitBox("完了");
    ASSERT_NE(done, nullptr) << run.install.Log();
    ASSERT_TRUE(PressUntilGone(done, "Return"));
    EXPECT_EQ(run.child.Wait(kWindowTimeout), 0);
}

TEST(Dialog, TheSystemMenuEndsWithTheVersionItem) {
    UpdateRun run("dialog-about", 2);
    HWND dialog = run.Start();
    ASSERT_NE(dialog, nullptr);

    // The system menu by the keyboard: Up from the top wraps to the last
    // item, and Enter chooses it.
    ASSERT_TRUE(PressKeys(dialog, "alt+space"));
    ASSERT_TRUE(ts::WaitUntil([&] { return InMenu(dialog); }, kWindowTimeout));
    ASSERT_TRUE(PressKeys(dialog, "Up Return"));
    HWND about = run.WaitBox(kAboutCaption);
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(FocusSettles(about));
    EXPECT_EQ(GetWindow(about, GW_OWNER), dialog);
    EXPECT_FALSE(IsWindowEnabled(dialog));
    EXPECT_EQ(ts::ItemText(about, IDOK), "OK");
    EXPECT_EQ(FocusOf(about), GetDlgItem(about, IDOK));
    // The icon, the version and the notice, in that order.
    HWND icon = GetWindow(about, GW_CHILD);
    EXPECT_NE(SendMessageA(icon, STM_GETICON, 0, 0), 0);
    HWND version = GetWindow(icon, GW_HWNDNEXT);
    EXPECT_EQ(ts::WindowText(version), "Update Version 1.0");
    EXPECT_NE(ts::WindowText(GetWindow(version, GW_HWNDNEXT)).find("2006"), std::string::npos);
    // Centred over the main dialog.
    RECT owner;
    RECT box;
    GetWindowRect(dialog, &owner);
    GetWindowRect(about, &box);
    EXPECT_LE(abs(Centre2(box).x - Centre2(owner).x), 2);
    EXPECT_LE(abs(Centre2(box).y - Centre2(owner).y), 2);

    ASSERT_TRUE(PressUntilGone(about, "Return"));
    EXPECT_TRUE(IsWindowEnabled(dialog));

    // Every command id from 16 to 31 opens it; 32 does not: after 32 and
    // 16, one box is open.
    PostMessageA(dialog, WM_SYSCOMMAND, 31, 0);
    about = run.WaitBox(kAboutCaption);
    ASSERT_NE(about, nullptr);
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(ts::WaitForWindowGone(about, kWindowTimeout));
    PostMessageA(dialog, WM_SYSCOMMAND, 32, 0);
    PostMessageA(dialog, WM_SYSCOMMAND, 16, 0);
    about = run.WaitBox(kAboutCaption);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(CountWindows(run.child.Pid(), kAboutCaption), 1);
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(ts::WaitForWindowGone(about, kWindowTimeout));

    // Closing from the title bar while waiting is a cancel.
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(run.child.Wait(kWindowTimeout), 4);
    EXPECT_EQ(run.install.LogRecords(), kStartupRecords + 1) << run.install.Log();
}

TEST(Dialog, TwoPostedRunCommandsOpenOneConfirmation) {
    UpdateRun run("dialog-twice", 2);
    HWND dialog = run.Start();
    ASSERT_NE(dialog, nullptr);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    // Handled after both: by then the second has met the first's
    // confirmation.
    PostMessageA(dialog, WM_SYSCOMMAND, 16, 0);
    HWND about = run.WaitBox(kAboutCaption);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(CountWindows(run.child.Pid(), "確認"), 1);
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(ts::WaitForWindowGone(about, kWindowTimeout));
    // The version box leaves the activation with the dialog below: the
    // confirmation is activated again, as a click on it would.
    HWND box = run.WaitBox("確認");
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(FocusWindow(box));
    // No: the dialog is waiting again, and no second confirmation follows.
    ASSERT_TRUE(PressUntilGone(box, "Return"));
    EXPECT_TRUE(StillOpenAfterPosted(run));
    EXPECT_EQ(CountWindows(run.child.Pid(), "確認"), 0);
    EXPECT_TRUE(Enabled(dialog, IDOK));
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(run.child.Wait(kWindowTimeout), 4);
}

TEST(Dialog, AnUpdateThatEndsUnderTheVersionBoxStillEndsTheProgram) {
    UpdateRun run("dialog-about-finish", 2);
    HeldUpdate held;
    ASSERT_NE(run.Start(&held), nullptr);
    HWND box = OpenConfirmation(run);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(AnswerYes(box));
    ASSERT_TRUE(ts::WaitForWindowGone(box, kWindowTimeout));
    ASSERT_TRUE(held.WaitHeld());
    PostMessageA(run.dialog, WM_SYSCOMMAND, 16, 0);
    HWND about = run.WaitBox(kAboutCaption);
    ASSERT_NE(about, nullptr);
    held.Release();
    // The result closes the version box and is shown over the dialog.
    HWND done = run.WaitBox("完了");
    ASSERT_NE(done, nullptr) << run.install.Log();
    EXPECT_FALSE(IsWindow(about));
    ASSERT_TRUE(PressUntilGone(done, "Return"));
    EXPECT_EQ(run.child.Wait(kWindowTimeout), 0);
}

TEST(Dialog, ASecondStartIsRefusedWhileTheFirstRuns) {
    UpdateRun first("dialog-second", 2);
    ASSERT_NE(first.Start(), nullptr);
    ts::Child second;
    ASSERT_TRUE(StartUpdate(second, first.install));
    HWND busy = ts::WaitForWindow(second.Pid(), "エラー", kWindowTimeout);
    ASSERT_NE(busy, nullptr);
    EXPECT_EQ(MessageBoxText(busy), kBusyText);
    EXPECT_EQ(ts::MessageBoxIconKind(busy), ts::kIconWarning);
    ASSERT_TRUE(PressUntilGone(busy, "Return"));
    EXPECT_EQ(second.Wait(kWindowTimeout), 5);
    PostMessageA(first.dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(first.child.Wait(kWindowTimeout), 4);
}

// The help box, and the same box naming an argument the program does not
// know; neither changes anything.
TEST(Dialog, HelpAndUsageBoxes) {
    const struct {
        const char* args;
        const char* caption;
        int icon;
        int status;
    } cases[] = {
        {"/?", "Update", ts::kIconInformation, 0},
        {"/HELP", "Update", ts::kIconInformation, 0},
        {"/unknown", "エラー", ts::kIconError, 64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Installation install("dialog-help", 2);
        ts::Child child;
        ASSERT_TRUE(StartUpdate(child, install, c.args));
        HWND box = ts::WaitForWindow(child.Pid(), c.caption, kWindowTimeout);
        ASSERT_NE(box, nullptr);
        std::string text = MessageBoxText(box);
        EXPECT_NE(text.find("/quiet (/q)"), std::string::npos) << text;
        EXPECT_NE(text.find("64\t引数が正しくありません"), std::string::npos) << text;
        EXPECT_EQ(c.status == 64, text.find("/unknown") != std::string::npos) << text;
        EXPECT_EQ(ts::MessageBoxIconKind(box), c.icon);
        ASSERT_TRUE(PressUntilGone(box, "Return"));
        EXPECT_EQ(child.Wait(kWindowTimeout), c.status);
        EXPECT_FALSE(ts::Exists(install.featureFolder + "\\WSUS.txt"));
    }
}

} // namespace
