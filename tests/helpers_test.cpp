// String, path and registry helpers, through the real registry under Wine.
#include <gtest/gtest.h>

#include "CommandLine.h"
#include "Owners.h"
#include "PathHelpers.h"
#include "RunLock.h"
#include "TestSupport.h"

#include <aclapi.h>

#include <string.h>
#include <string>
#include <thread>
#include <vector>

namespace {

// The lock of a running update admits administrators and the system alone,
// so that no user can hold it and keep every update off the machine. Wine
// keeps the descriptor but checks no rights: it is read back.
TEST(RunLock, OnlyAdministratorsAndTheSystemMayOpenIt) {
    RunLock lock;
    ASSERT_TRUE(lock.Acquire(0));
    UniqueHandle mutex(OpenMutexA(READ_CONTROL, FALSE, kRunLockName));
    ASSERT_TRUE(mutex.IsValid());
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              GetSecurityInfo(mutex.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    ASSERT_NE(nullptr, dacl);
    ASSERT_EQ(2u, dacl->AceCount);
    const WELL_KNOWN_SID_TYPE expected[] = {WinBuiltinAdministratorsSid, WinLocalSystemSid};
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
        EXPECT_TRUE(IsWellKnownSid(&ace->SidStart, expected[i])) << i;
        // Every right, generic or as the mutex's own.
        EXPECT_TRUE(ace->Mask == GENERIC_ALL || (ace->Mask & MUTEX_ALL_ACCESS) == MUTEX_ALL_ACCESS)
            << std::hex << ace->Mask;
    }
    LocalFree(descriptor);
}

// Whoever held the lock before is no obstacle once it is gone: a run that
// was killed holding it, or one that released it and goes on running.
TEST(RunLock, FreeAfterAKilledOrAReleasingHolder) {
    std::thread killed([] {
        // Ends holding it, as a killed run would: never released or closed.
        RunLock* lock = new RunLock;
        EXPECT_TRUE(lock->Acquire(0));
    });
    killed.join();
    {
        RunLock lock;
        EXPECT_TRUE(lock.Acquire(0));
    }
    UniqueHandle released(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread releasing([&] {
        // A handle of its own keeps the mutex alive after Release closed
        // the lock's.
        UniqueHandle keep(OpenMutexA(SYNCHRONIZE, FALSE, kRunLockName));
        RunLock lock;
        EXPECT_TRUE(lock.Acquire(0));
        lock.Release();
        SetEvent(released.Get());
        WaitForSingleObject(done.Get(), ts::kHangMs);
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(released.Get(), ts::kHangMs));
    {
        RunLock lock;
        EXPECT_TRUE(lock.Acquire(0));
    }
    SetEvent(done.Get());
    releasing.join();
}

TEST(FindNoCase, FindsTheFirstOccurrenceRegardlessOfCase) {
    const char text[] = "C:\\Program Files\\TALMERO\\BIN\\";
    EXPECT_EQ(text + 25, FindNoCase(text, "bin"));
    const char cabinet[] = "D:\\Cabinet\\bin";
    EXPECT_EQ(cabinet + 5, FindNoCase(cabinet, "bin"));
    EXPECT_EQ(nullptr, FindNoCase("", "bin"));
    EXPECT_EQ(nullptr, FindNoCase("bi", "bin"));
    EXPECT_EQ(nullptr, FindNoCase("C:\\APP\\BN", "bin"));
    const char any[] = "C:\\x";
    EXPECT_EQ(any, FindNoCase(any, ""));
    // Non-letters must match exactly: '[' is not '{' even though they differ
    // by the case bit.
    EXPECT_EQ(nullptr, FindNoCase("a[b", "A{B"));
}

TEST(GetUncServerName, TakesTheFirstComponentAfterLeadingBackslashes) {
    struct {
        const char* path;
        const char* server;
    } cases[] = {
        {"\\\\srv01\\share", "srv01"},
        {"\\\\\\\\srv01", "srv01"},
        {"server\\share", "server"},
        {"\\\\\\", ""},
        {"", ""},
        {"\\\\srv01\\share\\dir", "srv01"},
        // A trail byte 0x5C does not end the name: 能 is 94 5C.
        {"\\\\能力\\share", "能力"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.server, GetUncServerName(c.path)) << c.path;
}

TEST(GetUncServerName, CutsAnOverlongPathWithinItsBuffer) {
    std::string path = "\\\\" + std::string(600, 's') + "\\share";
    const char* server = GetUncServerName(path.c_str());
    EXPECT_EQ(257u, strlen(server)); // 259 bytes copied, two backslashes skipped
    // A double-byte character across the cut is left out whole: no lone lead
    // byte before the NUL (能 is 94 5C at bytes 258 and 259).
    path = "\\\\" + std::string(256, 's') + "能\\share";
    server = GetUncServerName(path.c_str());
    EXPECT_EQ(std::string(256, 's'), server);
    path = "\\\\" + std::string(255, 's') + "能\\share";
    EXPECT_EQ(std::string(255, 's') + "能", GetUncServerName(path.c_str()));
}

TEST(AppendBackslash, AppendsOnlyWhenTheLastCharacterIsNoBackslash) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"C:\\dir", "C:\\dir\\"},
        {"C:\\dir\\", "C:\\dir\\"},
        {"", "\\"},
        // Ends in 能 (94 5C): that 5C is a trail byte, so a backslash follows.
        {"C:\\能", "C:\\能\\"},
        {"C:\\能\\", "C:\\能\\"},
    };
    for (const auto& c : cases) {
        char buf[260];
        strcpy(buf, c.in);
        EXPECT_EQ(1, AppendBackslash(buf, sizeof buf)) << c.in;
        EXPECT_STREQ(c.out, buf) << c.in;
    }
}

TEST(AppendBackslash, ReportsAFullBufferAndLeavesItUnchanged) {
    char buf[8] = "C:\\abcd"; // 7 bytes and the NUL: no room
    EXPECT_EQ(0, AppendBackslash(buf, sizeof buf));
    EXPECT_STREQ("C:\\abcd", buf);
    char full[8] = "C:\\abc\\"; // already ends in one: nothing to add
    EXPECT_EQ(1, AppendBackslash(full, sizeof full));
    EXPECT_STREQ("C:\\abc\\", full);
}

TEST(JoinPath, JoinsWithOneBackslashAndRefusesWhatDoesNotFit) {
    char out[16];
    EXPECT_EQ(1, JoinPath("C:\\a", "b.txt", out, sizeof out));
    EXPECT_STREQ("C:\\a\\b.txt", out);
    EXPECT_EQ(1, JoinPath("C:\\a\\", "b.txt", out, sizeof out));
    EXPECT_STREQ("C:\\a\\b.txt", out);
    EXPECT_EQ(1, JoinPath("C:\\abcdefg", "hijk", out, sizeof out)); // exactly 15 bytes
    EXPECT_STREQ("C:\\abcdefg\\hijk", out);
    EXPECT_EQ(0, JoinPath("C:\\abcdefg", "hijkl", out, sizeof out));
    EXPECT_STREQ("", out);
}

// Registry: real keys in the 32-bit view of HKEY_LOCAL_MACHINE.
class ReadRegistryStringTest : public ::testing::Test {
  protected:
    static constexpr const char* kKey = "SOFTWARE\\TALMERO\\HelperTest";
    void SetUp() override { ts::DeleteRegKey(kKey); }
    void TearDown() override { ts::DeleteRegKey(kKey); }
    int Read(const char* value, std::string& out) {
        return ReadRegistryString(HKEY_LOCAL_MACHINE, kKey, value, out);
    }
};

TEST_F(ReadRegistryStringTest, ReadsAPlainString) {
    ASSERT_TRUE(ts::SetRegString(kKey, "InstallPath", "C:\\Program Files\\能\\bin\\"));
    std::string out = "old";
    EXPECT_EQ(1, Read("InstallPath", out));
    EXPECT_EQ("C:\\Program Files\\能\\bin\\", out);
    ASSERT_TRUE(ts::SetRegString(kKey, "Empty", ""));
    EXPECT_EQ(1, Read("Empty", out));
    EXPECT_EQ("", out);
}

TEST_F(ReadRegistryStringTest, RefusesOtherTypesAndMissingValuesLeavingTheStringUnchanged) {
    ASSERT_TRUE(ts::SetRegValue(kKey, "Expand", REG_EXPAND_SZ, std::string("C:\\x\0", 5)));
    ASSERT_TRUE(ts::SetRegValue(kKey, "Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)));
    ASSERT_TRUE(ts::SetRegValue(kKey, "Dword", REG_DWORD, std::string("\1\0\0\0", 4)));
    std::string out = "unchanged";
    EXPECT_EQ(0, Read("Expand", out));
    EXPECT_EQ(0, Read("Multi", out));
    EXPECT_EQ(0, Read("Dword", out));
    EXPECT_EQ(0, Read("Missing", out));
    EXPECT_EQ(0, ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\TALMERO\\NoSuchKey",
                                    "InstallPath", out));
    EXPECT_EQ("unchanged", out);
}

TEST_F(ReadRegistryStringTest, RefusesAValueOver1024BytesAndCutsOneWithoutNul) {
    std::string out = "unchanged";
    ASSERT_TRUE(ts::SetRegString(kKey, "Long", std::string(1024, 'x'))); // 1025 with NUL
    EXPECT_EQ(0, Read("Long", out));
    EXPECT_EQ("unchanged", out);
    // No NUL among the bytes: the text is taken from within the buffer.
    ASSERT_TRUE(ts::SetRegValue(kKey, "NoNul", REG_SZ, std::string(1023, 'y')));
    EXPECT_EQ(1, Read("NoNul", out));
    EXPECT_EQ(std::string(1023, 'y'), out);
    // 1024 bytes without a NUL: the platform may refuse it (no room for the
    // terminator it adds); if it delivers it, nothing past 1024 bytes is read.
    ASSERT_TRUE(ts::SetRegValue(kKey, "NoNul1024", REG_SZ, std::string(1024, 'z')));
    out = "unchanged";
    if (Read("NoNul1024", out) == 1)
        EXPECT_EQ(std::string(1024, 'z'), out);
    else
        EXPECT_EQ("unchanged", out);
    // Bytes after the first NUL are not part of the text.
    ASSERT_TRUE(ts::SetRegValue(kKey, "Embedded", REG_SZ, std::string("ab\0cd\0", 6)));
    EXPECT_EQ(1, Read("Embedded", out));
    EXPECT_EQ("ab", out);
}

// 64-bit Windows keeps a separate 64-bit view; 32-bit Windows has one view,
// which KEY_WOW64_64KEY names as well.
bool HasSeparate64BitView() {
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

TEST_F(ReadRegistryStringTest, ReadsThe32BitViewOnly) {
    // A value written to the 64-bit view only is not the product's, unless
    // that view is the only one.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr));
    RegSetValueExA(key, "Only64", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
    RegCloseKey(key);
    std::string out;
    EXPECT_EQ(HasSeparate64BitView() ? 0 : 1, Read("Only64", out));
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
}

} // namespace

namespace {

TEST(ParseCommandLine, SwitchesInAnyCaseAndOrderAndTheFirstUnknownArgument) {
    struct {
        std::vector<const char*> args;
        bool understood, quiet, status, help;
        const char* logPath;
        const char* unknown;
    } cases[] = {
        {{}, true, false, false, false, "", ""},
        {{"/quiet"}, true, true, false, false, "", ""},
        {{"-Q", "/LOG=C:\\a b\\x.txt"}, true, true, false, false, "C:\\a b\\x.txt", ""},
        {{"/Status", "-quiet"}, true, true, true, false, "", ""},
        {{"-?"}, true, false, false, true, "", ""},
        {{"/HELP"}, true, false, false, true, "", ""},
        {{"/log="}, false, false, false, false, "", "/log="},
        {{"/log"}, false, false, false, false, "", "/log"},
        {{"quiet"}, false, false, false, false, "", "quiet"},
        {{"/q", "/quietly", "/x"}, false, true, false, false, "", "/quietly"},
        {{"--quiet"}, false, false, false, false, "", "--quiet"},
        {{""}, false, false, false, false, "", "\"\""},
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
