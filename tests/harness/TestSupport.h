// Helpers for tests that work through the real platform under Wine: scratch
// folders, files, the 32-bit registry view, child processes and windows.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string>
#include <vector>

namespace ts {

// A fresh, empty folder under the temporary folder (no trailing backslash).
std::string ScratchDir(const std::string& name);
// Deletes a folder tree (clearing read-only bits); true when it is gone.
bool RemoveTree(const std::string& path);
bool MakeDirs(const std::string& path);

bool WriteBytes(const std::string& path, const std::string& data);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
DWORD Attributes(const std::string& path);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> ListDir(const std::string& path);

// The messages of a log file, one per record, without their headers
// ("[YYYY/MM/DD hh:mm:ss] <source> <line> <thread> : "); a line without one
// stays as it is.
std::vector<std::string> LogMessages(const std::string& logPath);

// Windows path of a file of the build tree, e.g. BuildFile("Update/Update.exe").
std::string BuildFile(const std::string& relative);
std::string SourceFile(const std::string& relative);

// Registry, 32-bit view of HKEY_LOCAL_MACHINE.
bool SetRegValue(const char* subKey, const char* valueName, DWORD type, const std::string& data);
bool SetRegString(const char* subKey, const char* valueName, const std::string& data);
void DeleteRegKey(const char* subKey);
// Removes SOFTWARE\TALMERO\BaseSrv and BaseCli.
void ClearProductKeys();

// CreateProcessA with the command line, an environment block (null: this
// process's), a working folder (null: this one's) and handle inheritance.
// Under load Wine now and then refuses a start that succeeds when tried
// again: it is tried three times. False when every try failed; errors then
// holds each try's error code. The process, and all it starts, ends with the
// test program.
bool StartProcess(const std::string& commandLine, BOOL inheritHandles, void* environment,
                  const char* folder, STARTUPINFOA& startup, PROCESS_INFORMATION& process,
                  std::string* errors = nullptr);

// A child process started with extra environment variables.
class Child {
  public:
    Child() = default;
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // env: "NAME=value" entries that override the inherited environment;
    // folder: the working folder (empty: this process's). On failure
    // StartErrors() tells why, for the test's message.
    bool Start(const std::string& commandLine, const std::vector<std::string>& env = {},
               const std::string& folder = "");
    const std::string& StartErrors() const { return errors_; }
    // Exit code, or -1 when it did not end within timeoutMs (it is then killed).
    int Wait(DWORD timeoutMs);
    DWORD Pid() const { return pid_; }
    HANDLE Process() const { return process_; }

  private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    std::string errors_;
};

// How long a wait for a state may take before the test counts as hung. It
// ends a test that would wait for ever and is never part of a verdict: a
// busy machine may take long for anything.
constexpr DWORD kHangMs = 180000;

// Polls until done() says yes or timeoutMs has passed; done()'s last answer.
template <typename Done> bool WaitUntil(Done done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return done();
        Sleep(25);
    }
    return true;
}

// Waits for a visible top-level window of the process with this caption.
HWND WaitForWindow(DWORD pid, const std::string& caption, DWORD timeoutMs);
// The visible top-level windows of a process with this caption, in the
// order EnumWindows gives them.
std::vector<HWND> VisibleWindows(DWORD pid, const std::string& caption);
// The top-level windows of the process, for a failure message: handle,
// class, caption, visible, enabled and owner of each, and which window is in
// the foreground.
std::string DescribeWindows(DWORD pid);
// Waits until the window no longer exists.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);
std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);

// Which of the standard message-box icons a box shows, read from the screen:
// IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION or IDI_ASTERISK as an integer, or 0.
int MessageBoxIconKind(HWND box);
constexpr int kIconError = 32513;       // IDI_HAND
constexpr int kIconQuestion = 32514;    // IDI_QUESTION
constexpr int kIconWarning = 32515;     // IDI_EXCLAMATION
constexpr int kIconInformation = 32516; // IDI_ASTERISK

// Runs a command of the Unix shell and waits for it; its exit status, or -1
// when it could not be run. Under scripts/with-test-env.sh the runner
// outside Wine runs it (scripts/unix-runner.py), else Wine starts the shell.
int RunUnix(const std::string& command);

// A symbolic link of the Unix system at link (a Windows path) to target (a
// Windows path), made with ln; Wine shows the file it points to. False when
// none could be made.
bool MakeUnixSymlink(const std::string& target, const std::string& link);
// Removes such a link, not what it points to; true when it is gone.
bool RemoveUnixSymlink(const std::string& link);

// ---- the small drive of the full-disk tests (tests/small-drive.sh) ----
// Its root: a tmpfs of a few MiB linked as drive s: for tests that require
// the CTest fixture small_drive.
constexpr char kSmallDriveRoot[] = "S:\\";
// True when S: is there and small; otherwise reason says why, for GTEST_SKIP.
bool SmallDriveReady(std::string& reason);
// Bytes free for this process on the drive of root (e.g. "S:\\"); 0 on failure.
uint64_t FreeBytes(const std::string& root);

// One filler file on the small drive that leaves a given number of bytes
// free; removed by Remove() or the destructor.
class SmallDriveFiller {
  public:
    SmallDriveFiller() = default;
    ~SmallDriveFiller() { Remove(); }
    SmallDriveFiller(const SmallDriveFiller&) = delete;
    SmallDriveFiller& operator=(const SmallDriveFiller&) = delete;

    // Fills S: until freeBytes (rounded up to whole 4 KiB pages) remain
    // free. False when the drive has less than that free already, or the
    // filler cannot be written.
    bool LeaveFree(uint64_t freeBytes);
    void Remove();

  private:
    bool made_ = false;
};

} // namespace ts
