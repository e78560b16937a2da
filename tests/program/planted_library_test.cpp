// Libraries planted beside Update.exe and in the current folder, under the
// name of every library that the program or the system loads for it, are
// never loaded: not in quiet mode, not by the dialog and its boxes, not for
// the host name.
#include "dialog_support.h"

#include "Owners.h"
#include "SystemLibrary.h"

#include <gtest/gtest.h>

#include <memory>
#include <string.h>
#include <string>
#include <vector>

namespace {

// Wine has no known libraries: it loads user32, gdi32, advapi32, msvcrt and
// what its own versions of them import (imm32, sechost, win32u, ucrtbase,
// version, zlib1) by the usual search, from the program's folder first,
// before any code of the program runs. Windows maps the known libraries,
// and what they import, from its own folder only; the program imports
// nothing else. Those names are not planted here. bcrypt and crypt32 are:
// only a stack guard seeded through the cryptographic provider would load
// them, before WinMain.
const char* const kPlanted[] = {
    "uxtheme",   "dwmapi",   "msimg32",
    "cryptbase", "winmm",    "userenv",
    "profapi",   "secur32",  "sspicli",
    "netapi32",  "wtsapi32", "mswsock",
    "comctl32",  "ws2_32",   "rsaenh",
    "ole32",     "oleaut32", "combase",
    "rpcrt4",    "shell32",  "shlwapi",
    "shcore",    "actxprxy", "dnsapi",
    "iphlpapi",  "nsi",      "setupapi",
    "propsys",   "wintrust", "cfgmgr32",
    "dbghelp",   "ntmarta",  "windowscodecs",
    "wldap32",   "powrprof", "dwrite",
    "msctf",     "oleacc",   "textinputframework",
    "bcrypt",    "crypt32",  "ncrypt",
};

// The copy's name: Wine takes the preference for native libraries from a key
// of the program's name (it reads no environment that a test could give a
// child of its own).
const char kProgram[] = "Update-planted.exe";
const char kOverrides[] = "Software\\Wine\\AppDefaults\\Update-planted.exe\\DllOverrides";

class PlantedLibraries : public ::testing::Test {
  protected:
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kOverrides); }
    void SetUp() override {
        install_.reset(new dt::Installation("planted", 1, false));
        app_ = install_->root + "\\app";
        cwd_ = install_->root + "\\cwd";
        markers_ = install_->root + "\\markers";
        for (const std::string& folder : {app_, cwd_, markers_})
            ASSERT_TRUE(ts::MakeDirs(folder));
        ASSERT_TRUE(CopyFileA(ts::BuildFile("Update/Update.exe").c_str(),
                              (app_ + "\\" + kProgram).c_str(), FALSE));
        const std::string planted = ts::BuildFile("tests/planted.dll");
        UniqueKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kOverrides, 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, key.Out(), nullptr));
        for (const char* name : kPlanted) {
            for (const std::string& folder : {app_, cwd_})
                ASSERT_TRUE(
                    CopyFileA(planted.c_str(), (folder + "\\" + name + ".dll").c_str(), FALSE))
                    << name;
            static const char kNativeFirst[] = "native,builtin";
            ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.Get(), name, 0, REG_SZ,
                                                    reinterpret_cast<const BYTE*>(kNativeFirst),
                                                    sizeof kNativeFirst));
        }
    }

    // Starts the copy beside the planted libraries, from the folder that
    // holds more of them, with Wine told to prefer them.
    bool Start(ts::Child& child, const std::string& args) {
        return child.Start("\"" + app_ + "\\" + kProgram + "\" " + args,
                           {"TMP=" + install_->tempFolder, "TEMP=" + install_->tempFolder,
                            "PLANT_MARKERS=" + markers_},
                           cwd_);
    }

    std::vector<std::string> Loaded() const { return ts::ListDir(markers_); }

    std::unique_ptr<dt::Installation> install_;
    std::string app_, cwd_, markers_;
};

// A server that names no share: the update asks for the host name, with the
// sockets library.
TEST_F(PlantedLibraries, NoneLoadsInQuietMode) {
    ts::Child child;
    ASSERT_TRUE(Start(child, "/quiet")) << child.StartErrors();
    EXPECT_EQ(0, child.Wait(ts::kHangMs)) << install_->Log();
    EXPECT_TRUE(ts::Exists(install_->featureFolder + "\\WSUS.txt"));
    EXPECT_EQ(std::vector<std::string>{}, Loaded());
}

TEST_F(PlantedLibraries, NoneLoadsForTheDialogAndItsBoxes) {
    ts::Child child;
    ASSERT_TRUE(Start(child, "")) << child.StartErrors();
    HWND dialog = ts::WaitForWindow(child.Pid(), dt::kMainCaption, ts::kHangMs);
    ASSERT_NE(dialog, nullptr);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    HWND box = ts::WaitForWindow(child.Pid(), "確認", ts::kHangMs);
    ASSERT_NE(box, nullptr);
    PostMessageA(box, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(ts::WaitForWindowGone(box, ts::kHangMs));
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(4, child.Wait(ts::kHangMs));

    ts::Child help;
    ASSERT_TRUE(Start(help, "/?")) << help.StartErrors();
    HWND helpBox = ts::WaitForWindow(help.Pid(), "Update", ts::kHangMs);
    ASSERT_NE(helpBox, nullptr);
    PostMessageA(helpBox, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0, help.Wait(ts::kHangMs));
    EXPECT_EQ(std::vector<std::string>{}, Loaded());
}

// Whatever loads a library by name after the restriction, now or on a
// platform that loads more than Wine does, finds it in the system folder
// only: not beside the program, where taking only the current folder out of
// the search would still look.
TEST(LibrarySearch, AfterTheRestrictionANameIsLookedUpInTheSystemFolderOnly) {
    char self[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, self, sizeof self));
    std::string beside = self;
    beside = beside.substr(0, beside.rfind('\\') + 1) + "plantprobe.dll";
    ASSERT_TRUE(CopyFileA(ts::BuildFile("tests/planted.dll").c_str(), beside.c_str(), FALSE));
    RestrictLibrarySearch();
    HMODULE loaded = LoadLibraryA("plantprobe.dll");
    EXPECT_EQ(nullptr, loaded);
    if (loaded != nullptr)
        FreeLibrary(loaded);
    EXPECT_NE(nullptr, LoadLibraryA("version.dll"));
    DeleteFileA(beside.c_str());
}

// Where SetDefaultDllDirectories is missing (XP, Vista, 7 without its
// update) or fails, the current folder at least leaves the search. Stand-ins
// for both calls record them and change nothing here.
std::vector<std::string> g_calls;
FARPROC g_setDefault;
BOOL WINAPI SetDefaultFails(DWORD flags) {
    g_calls.push_back("SetDefaultDllDirectories " + std::to_string(flags));
    return FALSE;
}
BOOL WINAPI SetDefaultWorks(DWORD flags) {
    g_calls.push_back("SetDefaultDllDirectories " + std::to_string(flags));
    return TRUE;
}
BOOL WINAPI SetDirectory(LPCSTR path) {
    g_calls.push_back(std::string("SetDllDirectoryA \"") + (path ? path : "(null)") + "\"");
    return TRUE;
}
template <typename Function> FARPROC AsProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

TEST(LibrarySearch, WithoutSetDefaultDllDirectoriesTheCurrentFolderLeavesTheSearch) {
    const struct {
        FARPROC setDefault;
        std::vector<std::string> calls;
    } cases[] = {
        {nullptr, {"SetDllDirectoryA \"\""}},
        {AsProc(SetDefaultFails), {"SetDefaultDllDirectories 2048", "SetDllDirectoryA \"\""}},
        {AsProc(SetDefaultWorks), {"SetDefaultDllDirectories 2048"}},
    };
    for (const auto& c : cases) {
        g_calls.clear();
        g_setDefault = c.setDefault;
        SetKernelLookup([](const char* name) {
            if (strcmp(name, "SetDefaultDllDirectories") == 0)
                return g_setDefault;
            if (strcmp(name, "SetDllDirectoryA") == 0)
                return AsProc(SetDirectory);
            return GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
        });
        RestrictLibrarySearch();
        SetKernelLookup(nullptr);
        EXPECT_EQ(c.calls, g_calls);
    }
}

// The shipped programs' guard loads nothing (above); it is seeded anew in
// each process, and a frame whose array overflowed ends the process with
// the platform's status for it.
TEST(StackGuard, SeededPerProcessAndTripped) {
    std::string guards[2];
    for (std::string& guard : guards) {
        ts::Child probe;
        const std::string out = ts::ScratchDir("guardprobe") + "\\guard.txt";
        ASSERT_TRUE(probe.Start("cmd /c \"\"" + ts::BuildFile("tests/guardprobe.exe") +
                                "\" guard > \"" + out + "\"\""))
            << probe.StartErrors();
        ASSERT_EQ(0, probe.Wait(ts::kHangMs));
        guard = ts::ReadBytes(out);
    }
    EXPECT_FALSE(guards[0].empty());
    EXPECT_NE(guards[0], guards[1]);
    ts::Child smash;
    ASSERT_TRUE(smash.Start("\"" + ts::BuildFile("tests/guardprobe.exe") + "\" smash 64"));
    EXPECT_EQ(static_cast<int>(0xC0000409), smash.Wait(ts::kHangMs));
}

} // namespace
