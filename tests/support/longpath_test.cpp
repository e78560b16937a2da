// Long-path file operations and directory creation, on real files under Wine.
#include <gtest/gtest.h>

#include "DirCreate.h"
#include "LongPath.h"
#include "Owners.h"
#include "PackTestUtil.h"
#include "TestSupport.h"

#include <direct.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

// A path of exactly length bytes below base: folders of 100 bytes, then a
// last component that makes up the rest.
std::string PathOfLength(const std::string& base, size_t length) {
    std::string p = base;
    while (length - p.size() > 120)
        p += "\\" + std::string(99, 'd');
    p += "\\";
    p += std::string(length - p.size(), 'f');
    return p;
}

std::string ParentOf(const std::string& p) {
    return p.substr(0, p.rfind('\\'));
}

// ---- the long form ----

// What the wide calls are given: the server and share of a UNC path kept,
// and nothing beyond the long form's limit.
TEST(LongForm, PrefixAndLimit) {
    const std::string drive = "C:\\" + std::string(32763 - 3, 'a'); // "\\?\" + it fills the limit
    const std::string unc = "\\\\s\\" + std::string(32761 - 4, 'u');
    const struct {
        std::string path;
        bool fits;
        std::wstring head;
    } cases[] = {
        {"C:\\dir\\file", true, L"\\\\?\\C:\\dir\\file"},
        {"\\\\server\\share\\dir", true, L"\\\\?\\UNC\\server\\share\\dir"},
        {drive, true, L"\\\\?\\C:\\aaa"},
        {drive + "a", false, L""},
        {unc, true, L"\\\\?\\UNC\\s\\uu"},
        {unc + "u", false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40));
        std::wstring wide;
        ASSERT_EQ(c.fits, LongFormWide(c.path.c_str(), wide));
        EXPECT_EQ(c.head, wide.substr(0, c.head.size()));
    }
}

// ---- the operations on real files ----

class LongPathFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = ts::ScratchDir("longpath");
        GetCurrentDirectoryA(sizeof savedCwd_, savedCwd_);
    }
    void TearDown() override {
        SetCurrentDirectoryA(savedCwd_);
        ts::RemoveTree(base_);
    }
    std::string base_;
    char savedCwd_[MAX_PATH] = {};
};

TEST_F(LongPathFiles, ShortAndLongPathsAreServed) {
    for (size_t length : {100u, 259u, 260u, 300u, 1000u}) {
        std::string path = PathOfLength(base_ + "\\l" + std::to_string(length), length);
        ASSERT_EQ(length, path.size());
        ASSERT_TRUE(pt::MakeDirAt(ParentOf(path)));
        UniqueHandle h(CreateFileLong(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(h.IsValid()) << length;
        DWORD put = 0;
        ASSERT_TRUE(WriteFile(h.Get(), "abc", 3, &put, nullptr));
        h.Close();
        std::string content;
        ASSERT_TRUE(pt::ReadFileAt(path, content));
        EXPECT_EQ("abc", content);
        EXPECT_NE(0, SetFileAttributesLong(path.c_str(),
                                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        // Wine reports the archive bit on every file.
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
                  GetFileAttributesLong(path.c_str()) & ~FILE_ATTRIBUTE_ARCHIVE);
        EXPECT_EQ(pt::AttributesAt(path), GetFileAttributesLong(path.c_str()));
        EXPECT_NE(0, SetFileAttributesLong(path.c_str(), FILE_ATTRIBUTE_NORMAL));
        EXPECT_NE(0, DeleteFileLong(path.c_str())) << length;
        EXPECT_FALSE(pt::ExistsAt(path));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesLong(path.c_str()));
        EXPECT_EQ(0, DeleteFileLong(path.c_str()));
    }
}

TEST_F(LongPathFiles, BoundaryBetweenByteAndWideCalls) {
    // A relative path works only through the byte-string call: the long
    // form of a relative path names nothing.
    ASSERT_TRUE(SetCurrentDirectoryA(base_.c_str()));
    std::string rel259 = PathOfLength("r", 259);
    ASSERT_TRUE(pt::MakeDirAt(base_ + "\\" + ParentOf(rel259)));
    UniqueHandle h(CreateFileLong(rel259.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(h.IsValid());
    h.Close();
    EXPECT_TRUE(pt::ExistsAt(base_ + "\\" + rel259));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesLong(rel259.c_str()));
    std::string rel260 = rel259 + "g";
    h.Attach(CreateFileLong(rel260.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(h.IsValid());
    EXPECT_FALSE(pt::ExistsAt(base_ + "\\" + rel260));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesLong(rel260.c_str()));
    EXPECT_EQ(0, SetFileAttributesLong(rel260.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_NE(0, DeleteFileLong(rel259.c_str()));
}

TEST_F(LongPathFiles, DoubleByteNamesTakeTheLongFormAtTheirByteLength) {
    // Components of 40 characters: the host file system counts them in UTF-8.
    std::string component;
    for (int i = 0; i < 40; ++i)
        component += "能";
    std::string folder = base_ + "\\" + component + "\\" + component + "\\" + component;
    ASSERT_TRUE(pt::MakeDirAt(folder));
    std::string path = folder + "\\" + component.substr(0, 300 - folder.size() - 1);
    ASSERT_EQ(300u, path.size());
    UniqueHandle h(CreateFileLong(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(h.IsValid());
    h.Close();
    std::vector<std::string> tree = pt::Tree(base_);
    ASSERT_EQ(4u, tree.size());
    EXPECT_TRUE(path.substr(base_.size() + 1) == tree[3]);
    EXPECT_NE(0, DeleteFileLong(path.c_str()));
    EXPECT_FALSE(pt::ExistsAt(path));
}

TEST_F(LongPathFiles, FailureValuesWhenTheLongFormCannotBeBuilt) {
    std::string tooLong = "C:\\" + std::string(40000, 'x');
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesLong(tooLong.c_str()));
    EXPECT_EQ(0, SetFileAttributesLong(tooLong.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(nullptr, CreateFileLong(tooLong.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(0, DeleteFileLong(tooLong.c_str()));
    EXPECT_EQ(0, CreateDirectoryLong(tooLong.c_str(), nullptr));
    // One that just fits is tried by the platform, which refuses it.
    std::string fits = "C:\\" + std::string(32760, 'x');
    HANDLE h = CreateFileLong(fits.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
}

TEST_F(LongPathFiles, CreateDirectoryChoosesByPlatform) {
    ASSERT_TRUE(SetCurrentDirectoryA(base_.c_str()));
    // NT: the long form even for a 10-byte path, so a relative one fails.
    EXPECT_EQ(0, CreateDirectoryForPlatform(VER_PLATFORM_WIN32_NT, "relative10", nullptr));
    EXPECT_FALSE(pt::ExistsAt(base_ + "\\relative10"));
    EXPECT_EQ(0, CreateDirectoryLong("relative10", nullptr)); // Wine reports NT
    EXPECT_FALSE(pt::ExistsAt(base_ + "\\relative10"));
    // Not NT: the byte-string call, which takes the relative path...
    EXPECT_NE(0, CreateDirectoryForPlatform(VER_PLATFORM_WIN32_WINDOWS, "relative10", nullptr));
    EXPECT_TRUE(pt::ExistsAt(base_ + "\\relative10"));
    // ...and refuses a 300-byte one, which the long form serves.
    std::string deep = PathOfLength(base_ + "\\p", 300);
    ASSERT_TRUE(pt::MakeDirAt(ParentOf(deep)));
    EXPECT_EQ(0, CreateDirectoryForPlatform(VER_PLATFORM_WIN32_WINDOWS, deep.c_str(), nullptr));
    EXPECT_FALSE(pt::ExistsAt(deep));
    EXPECT_NE(0, CreateDirectoryForPlatform(VER_PLATFORM_WIN32_NT, deep.c_str(), nullptr));
    EXPECT_TRUE(pt::AttributesAt(deep) & FILE_ATTRIBUTE_DIRECTORY);
    std::string deeper = deep + "\\n";
    EXPECT_NE(0, CreateDirectoryLong(deeper.c_str(), nullptr));
    EXPECT_TRUE(pt::ExistsAt(deeper));
}

// ---- directory test and creation ----

class Directories : public LongPathFiles {};

struct CurrentState {
    int drive;
    std::string cwd, cwdC, cwdZ;
    static CurrentState Take() {
        CurrentState s;
        char buffer[4096];
        s.drive = _getdrive();
        s.cwd = _getcwd(buffer, sizeof buffer) ? buffer : "";
        s.cwdC = _getdcwd(3, buffer, sizeof buffer) ? buffer : "";
        s.cwdZ = _getdcwd(26, buffer, sizeof buffer) ? buffer : "";
        return s;
    }
    bool operator==(const CurrentState& o) const {
        return drive == o.drive && cwd == o.cwd && cwdC == o.cwdC && cwdZ == o.cwdZ;
    }
    std::string Text() const { return std::to_string(drive) + "|" + cwd + "|" + cwdC + "|" + cwdZ; }
};

TEST_F(Directories, ExistsRestoresDriveAndDirectories) {
    // Current directory on Z:, with a remembered one on C: (the scratch folder).
    ASSERT_EQ(0, _chdir(base_.c_str()));
    ASSERT_EQ(0, _chdir(ts::SourceFile("Update").c_str()));
    const CurrentState before = CurrentState::Take();
    ASSERT_EQ(26, before.drive);

    EXPECT_EQ(1, DirectoryExists("c:\\windows"));
    EXPECT_EQ(before.Text(), CurrentState::Take().Text());
    EXPECT_EQ(1, DirectoryExists("C:\\windows\\"));
    EXPECT_EQ(1, DirectoryExists("C:"));
    EXPECT_EQ(1, DirectoryExists(base_.c_str()));
    EXPECT_EQ(before.Text(), CurrentState::Take().Text());

    EXPECT_EQ(0, DirectoryExists((base_ + "\\missing").c_str()));
    ASSERT_TRUE(ts::WriteBytes(base_ + "\\file", "x"));
    EXPECT_EQ(0, DirectoryExists((base_ + "\\file").c_str()));
    EXPECT_EQ(0, DirectoryExists("Q:\\")); // no such drive
    EXPECT_EQ(0, DirectoryExists("1:\\x"));
    EXPECT_EQ(0, DirectoryExists(""));
    EXPECT_EQ(before.Text(), CurrentState::Take().Text());

    std::string huge(5000, 'a');
    huge[1] = ':';
    EXPECT_EQ(0, DirectoryExists(huge.c_str()));
    EXPECT_EQ(0, DirectoryExists(std::string(4096, 'b').c_str()));
    EXPECT_EQ(before.Text(), CurrentState::Take().Text());
}

TEST_F(Directories, MakePathCreatesEachMissingLevel) {
    std::string path = base_ + "\\x\\y\\z";
    EXPECT_NE(0, MakeDirectoryPath(path.c_str()));
    std::vector<std::string> expected = {"x\\", "x\\y\\", "x\\y\\z\\"};
    EXPECT_EQ(expected, pt::Tree(base_));
    // All there: nothing more.
    EXPECT_NE(0, MakeDirectoryPath(path.c_str()));
    EXPECT_NE(0, MakeDirectoryPath((path + "\\").c_str()));
    EXPECT_EQ(expected, pt::Tree(base_));
    // A trailing backslash makes the last level too.
    EXPECT_NE(0, MakeDirectoryPath((base_ + "\\t\\u\\").c_str()));
    EXPECT_TRUE(pt::AttributesAt(base_ + "\\t\\u") & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(Directories, MakePathFailsBelowAFile) {
    ASSERT_TRUE(ts::WriteBytes(base_ + "\\file", "x"));
    EXPECT_EQ(0, MakeDirectoryPath((base_ + "\\file\\sub").c_str()));
    EXPECT_EQ(0, MakeDirectoryPath((base_ + "\\file").c_str()));
    EXPECT_EQ(std::vector<std::string>{"file"}, pt::Tree(base_));
}

TEST_F(Directories, MakePathStepsOverTrailBytes) {
    // 能 (94 5C) and 表 (95 5C): their trail bytes are no separators.
    std::string path = base_ + "\\能\\表示\\a能";
    EXPECT_NE(0, MakeDirectoryPath(path.c_str()));
    std::vector<std::string> expected = {"能\\", "能\\表示\\", "能\\表示\\a能\\"};
    EXPECT_EQ(expected, pt::Tree(base_));
}

TEST_F(Directories, MakePathServesSeparatorsBeyond256Bytes) {
    std::string path = base_;
    while (path.size() < 700)
        path += "\\" + std::string(40, 'k');
    EXPECT_NE(0, MakeDirectoryPath(path.c_str()));
    EXPECT_TRUE(pt::AttributesAt(path) & FILE_ATTRIBUTE_DIRECTORY);
    // Already there: still success, though too deep to be made current.
    EXPECT_EQ(0, DirectoryExists(path.c_str()));
    EXPECT_NE(0, MakeDirectoryPath(path.c_str()));
    // Double-byte names deep down.
    std::string kanji = path + "\\能能\\表";
    EXPECT_NE(0, MakeDirectoryPath(kanji.c_str()));
    EXPECT_TRUE(pt::AttributesAt(path + "\\能能\\表") & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(Directories, MakePathRefusesPathsThatDoNotFit) {
    std::string path = base_ + "\\";
    while (path.size() < 4096)
        path += "abcdefghi\\";
    path.resize(4096);
    EXPECT_EQ(0, MakeDirectoryPath(path.c_str()));
    EXPECT_TRUE(pt::Tree(base_).empty());
    EXPECT_EQ(0, MakeDirectoryPath(nullptr));
    EXPECT_EQ(0, DirectoryExists(nullptr));
}

TEST_F(Directories, MakePathEndingInALoneLeadByteStaysWithinThePath) {
    // A first call leaves prefixes full of backslashes on the stack, next to
    // the second call's copy of its path: a scan that took the NUL after a
    // lead byte for its trail byte would run on into them.
    std::string deep = base_;
    while (deep.size() < 3900)
        deep += "\\" + std::string(40, 'a');
    MakeDirectoryPath(deep.c_str());
    ASSERT_TRUE(ts::RemoveTree(base_));
    ASSERT_TRUE(pt::MakeDirAt(base_));
    // 4095 bytes: 能-like pairs 94 94 and one lone 94 at the very end.
    std::string path = base_ + "\\";
    const size_t leads = 4095 - path.size();
    if (leads % 2 == 0)
        path += "x";
    path += std::string(4095 - path.size(), '\x94');
    ASSERT_EQ(4095u, path.size());
    EXPECT_EQ(0, MakeDirectoryPath(path.c_str()));
    EXPECT_TRUE(pt::Tree(base_).empty());
}

} // namespace
