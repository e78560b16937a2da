// String, path and registry helpers, through the real registry under Wine.
#include <gtest/gtest.h>

#include "Owners.h"
#include "PathHelpers.h"
#include "TestSupport.h"

#include <string.h>
#include <string>
#include <vector>

namespace {

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

// One backslash between folder and name, at, below and above the buffer's
// size; a trail byte 0x5C of 能 (94 5C) is no backslash.
TEST(JoinPath, OneBackslashAndNothingThatDoesNotFit) {
    const struct {
        const char* folder;
        const char* name;
        bool fits;
        const char* joined;
    } cases[] = {
        {"C:\\a", "b.txt", true, "C:\\a\\b.txt"},
        {"C:\\a\\", "b.txt", true, "C:\\a\\b.txt"},
        {"", "b", true, "\\b"},
        {"C:\\能", "x", true, "C:\\能\\x"},
        {"C:\\能\\", "x", true, "C:\\能\\x"},
        {"C:\\abcdefg", "hijk", true, "C:\\abcdefg\\hijk"}, // 15 bytes and the NUL
        {"C:\\abcdefg", "hijkl", false, ""},
        {"C:\\abcdefghijklm", "", false, ""}, // no room for the backslash
    };
    for (const auto& c : cases) {
        char out[16] = "garbage";
        EXPECT_EQ(c.fits, JoinPath(c.folder, c.name, out, sizeof out)) << c.folder;
        EXPECT_STREQ(c.joined, out) << c.folder;
    }
    char full[8] = "C:\\abcd"; // 7 bytes and the NUL: no room, and unchanged
    EXPECT_FALSE(AppendBackslash(full, sizeof full));
    EXPECT_STREQ("C:\\abcd", full);
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
