// The program's own pieces: the update lock and the command line.
#include <gtest/gtest.h>

#include "CommandLine.h"
#include "Owners.h"
#include "RunLock.h"
#include "TestSupport.h"

#include <sddl.h>

#include <string.h>
#include <string>
#include <vector>

namespace {

// The lock of a running update is a file that admits administrators and
// the system alone, so that no user can hold it and keep every update off
// the machine. Wine keeps no list for a file (it shows one made from the
// Unix mode) and checks no rights: the list the file is made with is read.
TEST(RunLock, OnlyAdministratorsAndTheSystemMayOpenIt) {
    LocalBlock descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        kRunLockSecurity, SDDL_REVISION_1, descriptor.Out(), nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor.Get(), &control, &revision);
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted));
    ASSERT_NE(nullptr, dacl);
    ASSERT_EQ(2u, dacl->AceCount);
    const WELL_KNOWN_SID_TYPE expected[] = {WinBuiltinAdministratorsSid, WinLocalSystemSid};
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
        EXPECT_TRUE(IsWellKnownSid(&ace->SidStart, expected[i])) << i;
        EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), ace->Mask) << std::hex << ace->Mask;
    }
    char windows[MAX_PATH], path[MAX_PATH];
    ASSERT_NE(0u, GetSystemWindowsDirectoryA(windows, sizeof windows));
    ASSERT_TRUE(RunLockPath(path, sizeof path));
    EXPECT_EQ(std::string(windows) + "\\TALMERO_WU_Update.lock", path);
}

// One holder at a time; the file goes with its holder, and one that a
// start left when its power went is no obstacle.
TEST(RunLock, OneHolderAndNoFileLeftBehind) {
    char path[MAX_PATH];
    ASSERT_TRUE(RunLockPath(path, sizeof path));
    {
        RunLock lock;
        ASSERT_TRUE(lock.Acquire(0));
        EXPECT_TRUE(ts::Exists(path));
        RunLock second;
        EXPECT_FALSE(second.Acquire(0));
        EXPECT_TRUE(IsAnotherUpdateRunning());
    }
    EXPECT_FALSE(ts::Exists(path));
    EXPECT_FALSE(IsAnotherUpdateRunning());
    ASSERT_TRUE(ts::WriteBytes(path, ""));
    {
        RunLock lock;
        EXPECT_TRUE(lock.Acquire(0));
    }
    EXPECT_FALSE(ts::Exists(path));
}

} // namespace

namespace {

TEST(ParseCommandLine, SwitchesInAnyCaseAndOrderAndTheFirstUnknownArgument) {
    struct {
        std::vector<const char*> args;
        bool understood, quiet, status, help, undo;
        const char* logPath;
        const char* unknown;
    } cases[] = {
        {{}, true, false, false, false, false, "", ""},
        {{"/quiet"}, true, true, false, false, false, "", ""},
        {{"-Q", "/LOG=C:\\a b\\x.txt"}, true, true, false, false, false, "C:\\a b\\x.txt", ""},
        {{"/Status", "-quiet"}, true, true, true, false, false, "", ""},
        {{"-?"}, true, false, false, true, false, "", ""},
        {{"/HELP"}, true, false, false, true, false, "", ""},
        {{"-Undo", "/q"}, true, true, false, false, true, "", ""},
        {{"/undone"}, false, false, false, false, false, "", "/undone"},
        {{"/log="}, false, false, false, false, false, "", "/log="},
        {{"/log"}, false, false, false, false, false, "", "/log"},
        {{"quiet"}, false, false, false, false, false, "", "quiet"},
        {{"/q", "/quietly", "/x"}, false, true, false, false, false, "", "/quietly"},
        {{"--quiet"}, false, false, false, false, false, "", "--quiet"},
        {{""}, false, false, false, false, false, "", "\"\""},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"Update.exe"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CommandLine out;
        EXPECT_EQ(c.understood, ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out))
            << (c.args.empty() ? "" : c.args[0]);
        EXPECT_EQ(c.quiet, out.quiet);
        EXPECT_EQ(c.status, out.status);
        EXPECT_EQ(c.help, out.help);
        EXPECT_EQ(c.undo, out.undo);
        EXPECT_STREQ(c.logPath, out.logPath);
        EXPECT_STREQ(c.unknown, out.unknown);
    }
}

TEST(ParseCommandLine, TheLogPathAndTheTextAtTheirLimits) {
    // 1,023 bytes and the NUL fill the /log= path's buffer.
    const std::string fits = "/log=" + std::string(1023, 'p');
    const std::string over = fits + "p";
    // 1,022 bytes of text: no room for a blank and one byte more.
    const std::string full = "/" + std::string(1021, 'a');
    const struct {
        std::string arg;
        bool understood;
        size_t logPath;
    } cases[] = {{fits, true, 1023}, {over, false, 0}};
    for (const auto& c : cases) {
        const char* argv[] = {"Update.exe", c.arg.c_str()};
        CommandLine out;
        EXPECT_EQ(c.understood, ParseCommandLine(2, argv, out)) << c.arg.size();
        EXPECT_EQ(c.logPath, strlen(out.logPath));
    }
    const char* argv[] = {"Update.exe", full.c_str(), "/q"};
    CommandLine out;
    ParseCommandLine(3, argv, out);
    EXPECT_TRUE(out.quiet);
    EXPECT_EQ(full, out.text);
}

TEST(ParseCommandLine, LongArgumentsAreCutOnACharacterBoundary) {
    // A /log= path too long for its buffer is an argument not understood.
    std::string longLog = "/log=" + std::string(1100, 'x');
    // 能 (94 5C) would end one byte past the log text's room: it is left out.
    std::string dbcs = "/" + std::string(1018, 'a') + "能";
    const char* argv[] = {"Update.exe", "/q", dbcs.c_str(), longLog.c_str()};
    CommandLine out;
    EXPECT_FALSE(ParseCommandLine(4, argv, out));
    EXPECT_EQ("/q " + dbcs.substr(0, 1019), out.text);
    EXPECT_EQ(dbcs.substr(0, 259), out.unknown);
    const char* argv2[] = {"Update.exe", longLog.c_str()};
    EXPECT_FALSE(ParseCommandLine(2, argv2, out));
    EXPECT_EQ(longLog.substr(0, 259), out.unknown);
}

} // namespace
