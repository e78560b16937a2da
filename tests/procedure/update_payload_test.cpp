// The payload: the archives embedded in Update.exe (and, through the same
// generated resource script, in this test program), writing one out to a
// file, and the path of that file.
#include <gtest/gtest.h>

#include "Payload.h"
#include "TestSupport.h"
#include "FolderPack.h"
#include "FolderPackReader.h"

#include <windows.h>
#include <stdint.h>
#include <string.h>
#include <string>
#include <algorithm>
#include <vector>

namespace {

std::string ResourceBytes(HMODULE module, WORD id) {
    HRSRC r = FindResourceA(module, MAKEINTRESOURCEA(id), "IDH_FILE");
    if (r == nullptr)
        return std::string();
    HGLOBAL g = LoadResource(module, r);
    const char* p = static_cast<const char*>(LockResource(g));
    return p != nullptr ? std::string(p, SizeofResource(module, r)) : std::string();
}

// Sets TMP and TEMP of this process for the test's lifetime, so that
// GetTempPathA reports the given folder.
class TempFolderOverride {
  public:
    explicit TempFolderOverride(const std::string& folder) {
        Save("TMP", tmp_, hadTmp_);
        Save("TEMP", temp_, hadTemp_);
        SetEnvironmentVariableA("TMP", folder.c_str());
        SetEnvironmentVariableA("TEMP", folder.c_str());
    }
    ~TempFolderOverride() {
        SetEnvironmentVariableA("TMP", hadTmp_ ? tmp_.c_str() : nullptr);
        SetEnvironmentVariableA("TEMP", hadTemp_ ? temp_.c_str() : nullptr);
    }

  private:
    static void Save(const char* name, std::string& value, bool& had) {
        char buffer[32768];
        DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
        had = n > 0 && n < sizeof buffer;
        value.assign(buffer, had ? n : 0);
    }
    std::string tmp_;
    std::string temp_;
    bool hadTmp_ = false;
    bool hadTemp_ = false;
};

std::string StagedFile(const char* side, const std::string& name) {
    return ts::BuildFile(std::string("Update/res/payload/") + side + "/" + name);
}

} // namespace

// ---- the resources of Update.exe ----

class UpdateExeResources : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = LoadLibraryExA(ts::BuildFile("Update/Update.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_);
    }
    void TearDown() override {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

TEST_F(UpdateExeResources, BothArchivesAreJapaneseIdhFileResources) {
    for (WORD id : {kPayloadClient, kPayloadServer}) {
        std::vector<WORD> languages;
        EnumResourceLanguagesA(module_, "IDH_FILE", MAKEINTRESOURCEA(id), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        ASSERT_EQ(1u, languages.size()) << id;
        EXPECT_EQ(0x0411, languages[0]) << id;
        HRSRC r = FindResourceExA(module_, "IDH_FILE", MAKEINTRESOURCEA(id),
                                  MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN));
        ASSERT_NE(nullptr, r) << id;
        EXPECT_GT(SizeofResource(module_, r), 20u);
    }
    // A type given by name: no numeric type holds them.
    EXPECT_EQ(nullptr, FindResourceA(module_, MAKEINTRESOURCEA(kPayloadClient), RT_RCDATA));
    EXPECT_EQ(nullptr, FindResourceA(module_, MAKEINTRESOURCEA(132), "IDH_FILE"));
}

// What any payload, the sample's or a release's, must and must not hold:
// the marker and the program the command files run; never the feature's
// own settings or the files the update retires, which it would overwrite.
TEST_F(UpdateExeResources, EachArchiveHoldsTheMarkerAndNothingTheUpdateKeeps) {
    for (WORD id : {kPayloadClient, kPayloadServer}) {
        const std::string bytes = ResourceBytes(module_, id);
        std::vector<std::string> names;
        ArchiveReader reader(bytes.data(), static_cast<DWORD>(bytes.size()));
        ASSERT_EQ(kFpOk,
                  TestFolderPack(
                      reader, "C:\\x", ChunkCheck::kInflate,
                      [](void* context, const PackRecord& record) {
                          static_cast<std::vector<std::string>*>(context)->push_back(record.name);
                      },
                      &names))
            << id;
        for (const char* wanted : {"WSUS.txt", "PatchHub.exe"})
            EXPECT_NE(names.end(), std::find(names.begin(), names.end(), wanted)) << wanted;
        for (const char* kept : {"patchjob.ini", "patchjob.vbe", "AlertKey.exe"})
            EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), kept)) << kept;
    }
}

TEST_F(UpdateExeResources, ResourcesAreTheArchivesThatTheBuildPacked) {
    EXPECT_EQ(ts::ReadBytes(ts::BuildFile("Update/res/payload/client.fpk")),
              ResourceBytes(module_, kPayloadClient));
    EXPECT_EQ(ts::ReadBytes(ts::BuildFile("Update/res/payload/server.fpk")),
              ResourceBytes(module_, kPayloadServer));
}

TEST(PayloadArchive, UnpacksToTheStagedFilesWithTheirAttributes) {
    HMODULE self = GetModuleHandleA(nullptr);
    for (const char* side : {"client", "server"}) {
        WORD id = strcmp(side, "client") == 0 ? kPayloadClient : kPayloadServer;
        std::string dir = ts::ScratchDir(std::string("payload-unpack-") + side);
        std::string archive = dir + "\\archive.fpk";
        ASSERT_TRUE(ts::WriteBytes(archive, ResourceBytes(self, id)));
        std::string out = dir + "\\out";
        ASSERT_EQ(0, ExtractFolderPack(out.c_str(), archive.c_str(), nullptr, nullptr));
        std::vector<std::string> staged =
            ts::ListDir(ts::BuildFile(std::string("Update/res/payload/") + side));
        ASSERT_EQ(staged, ts::ListDir(out)) << side;
        for (const std::string& name : staged) {
            EXPECT_EQ(ts::ReadBytes(StagedFile(side, name)), ts::ReadBytes(out + "\\" + name))
                << name;
            EXPECT_EQ(ts::Attributes(StagedFile(side, name)) & FILE_ATTRIBUTE_READONLY,
                      ts::Attributes(out + "\\" + name) & FILE_ATTRIBUTE_READONLY)
                << name;
        }
        EXPECT_NE(0u, ts::Attributes(out + "\\WSUS.txt") & FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(0u, ts::Attributes(out + "\\PatchHub.exe") & FILE_ATTRIBUTE_READONLY);
        // The same content travels under another name in the client archive.
        if (id == kPayloadClient) {
            EXPECT_EQ(ts::ReadBytes(StagedFile("server", "ReadMeSrv.txt")),
                      ts::ReadBytes(out + "\\ReadMeCli.txt"));
        }
        ts::RemoveTree(dir);
    }
}

// ---- WritePayloadFile ----

class WritePayload : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = ts::ScratchDir("write-payload");
        path_ = dir_ + "\\Update.tmp";
    }
    void TearDown() override { ts::RemoveTree(dir_); }
    std::string dir_;
    std::string path_;
};

TEST_F(WritePayload, WritesEachResourceByteForByte) {
    HMODULE self = GetModuleHandleA(nullptr);
    for (WORD id : {kPayloadClient, kPayloadServer}) {
        std::string expected = ResourceBytes(self, id);
        ASSERT_FALSE(expected.empty());
        ASSERT_EQ(1, WritePayloadFile(id, path_.c_str(), 1));
        EXPECT_EQ(expected, ts::ReadBytes(path_)) << id;
    }
    EXPECT_NE(ResourceBytes(self, kPayloadClient), ResourceBytes(self, kPayloadServer));
}

TEST_F(WritePayload, ReplacesAReadOnlyFileOnlyWhenAllowed) {
    ASSERT_TRUE(ts::WriteBytes(path_, "old"));
    ASSERT_TRUE(SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_EQ(0, WritePayloadFile(kPayloadClient, path_.c_str(), 0));
    EXPECT_EQ("old", ts::ReadBytes(path_));
    EXPECT_NE(0u, ts::Attributes(path_) & FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(1, WritePayloadFile(kPayloadClient, path_.c_str(), 1));
    EXPECT_EQ(ResourceBytes(GetModuleHandleA(nullptr), kPayloadClient), ts::ReadBytes(path_));
    EXPECT_EQ(0u, ts::Attributes(path_) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(WritePayload, AFileHeldOpenWithoutDeleteSharingStays) {
    ASSERT_TRUE(ts::WriteBytes(path_, "held"));
    HANDLE held = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0, WritePayloadFile(kPayloadServer, path_.c_str(), 1));
    CloseHandle(held);
    EXPECT_EQ("held", ts::ReadBytes(path_));
}

TEST_F(WritePayload, AnUnknownResourceLeavesAnEmptyFile) {
    EXPECT_EQ(0, WritePayloadFile(129, path_.c_str(), 1));
    ASSERT_TRUE(ts::Exists(path_));
    EXPECT_EQ("", ts::ReadBytes(path_));
}

TEST_F(WritePayload, NoPathNoFile) {
    EXPECT_EQ(0, WritePayloadFile(kPayloadClient, "", 1));
    EXPECT_EQ(0, WritePayloadFile(kPayloadClient, (dir_ + "\\missing\\Update.tmp").c_str(), 1));
    EXPECT_TRUE(ts::ListDir(dir_).empty());
}

// ---- GetPayloadTempPath ----

TEST(PayloadTempPath, FollowsTheTemporaryFolderWithOrWithoutBackslash) {
    {
        TempFolderOverride t("C:\\users\\tmp");
        EXPECT_STREQ("C:\\users\\tmp\\Update.tmp", GetPayloadTempPath());
    }
    {
        TempFolderOverride t("C:\\users\\tmp\\");
        EXPECT_STREQ("C:\\users\\tmp\\Update.tmp", GetPayloadTempPath());
    }
    {
        // 能 ends in the byte 0x5C, which is no backslash.
        TempFolderOverride t("C:\\能");
        EXPECT_STREQ("C:\\能\\Update.tmp", GetPayloadTempPath());
    }
}

TEST(PayloadTempPath, EmptyWhenThePathDoesNotFit) {
    // 3 + 247 + 1 + 10 = 261 bytes: one too many for the 260-byte arrays.
    TempFolderOverride t("C:\\" + std::string(247, 'x'));
    const char* path = GetPayloadTempPath();
    EXPECT_STREQ("", path);
    EXPECT_EQ(0, WritePayloadFile(kPayloadClient, path, 1));
    {
        TempFolderOverride fits("C:\\" + std::string(245, 'x'));
        EXPECT_EQ(259u, strlen(GetPayloadTempPath()));
    }
}
