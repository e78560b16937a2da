// Start-up: mode detection from the real registry and folders, and the
// refusal boxes of the real Update.exe in a real window.
#include <gtest/gtest.h>

#include "Globals.h"
#include "PathHelpers.h"
#include "TestSupport.h"
#include "Update.h"

#include <string.h>
#include <string>

namespace {

const char kServerKey[] = "SOFTWARE\\TALMERO\\BaseSrv";
const char kClientKey[] = "SOFTWARE\\TALMERO\\BaseCli";

TEST(MakeFeatureFolder, ReplacesTheFirstBinAndCutsThere) {
    struct {
        const char* install;
        const char* feature;
    } cases[] = {
        {"C:\\APP\\BIN\\", "C:\\APP\\WU"},
        {"C:\\Program Files\\TALMERO\\bin", "C:\\Program Files\\TALMERO\\WU"},
        {"D:\\Cabinet\\bin", "D:\\CaWU"},
        {"C:\\APP\\Bin\\sub\\bin", "C:\\APP\\WU"},
        {"C:\\APP\\prog", "C:\\APP\\prog"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char path[260];
        strcpy(path, c.install);
        MakeFeatureFolder(path);
        EXPECT_STREQ(c.feature, path) << c.install;
    }
}

class ModeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = ts::ScratchDir("mode");
        ASSERT_EQ(nullptr, FindNoCase(root.c_str(), "bin")) << "scratch path must not hold bin";
        ts::ClearProductKeys();
        g_installPath[0] = '\0';
        g_featureFolder[0] = '\0';
    }
    void TearDown() override { ts::ClearProductKeys(); }
    // An installation under root\name: name\bin\ with its feature folder name\WU.
    std::string Install(const std::string& name, bool withFeatureFolder) {
        std::string install = root + "\\" + name + "\\bin\\";
        ts::MakeDirs(install);
        if (withFeatureFolder)
            ts::MakeDirs(root + "\\" + name + "\\WU");
        return install;
    }
    std::string root;
};

TEST_F(ModeTest, NoKeysMeansNotRecognisedAndLeavesTheGlobalsEmpty) {
    EXPECT_EQ(OperationMode::kUnknown, GetOperationMode());
    EXPECT_STREQ("", g_installPath);
    EXPECT_STREQ("", g_featureFolder);
}

TEST_F(ModeTest, ClientAloneGivesMode2) {
    std::string cli = Install("cli", true);
    ASSERT_TRUE(ts::SetRegString(kClientKey, "InstallPath", cli));
    EXPECT_EQ(OperationMode::kClient, GetOperationMode());
    EXPECT_EQ(cli, g_installPath);
    EXPECT_EQ(root + "\\cli\\WU", g_featureFolder);
}

TEST_F(ModeTest, EmptyServerValueLeavesTheDecisionToTheClient) {
    std::string cli = Install("cli", true);
    ASSERT_TRUE(ts::SetRegString(kServerKey, "InstallPath", ""));
    ASSERT_TRUE(ts::SetRegString(kClientKey, "InstallPath", cli));
    EXPECT_EQ(OperationMode::kClient, GetOperationMode());
}

TEST_F(ModeTest, ServerWinsWhenBothAreComplete) {
    std::string srv = Install("srv", true);
    std::string cli = Install("cli", true);
    ASSERT_TRUE(ts::SetRegString(kServerKey, "InstallPath", srv));
    ASSERT_TRUE(ts::SetRegString(kClientKey, "InstallPath", cli));
    EXPECT_EQ(OperationMode::kServer, GetOperationMode());
    EXPECT_EQ(srv, g_installPath);
    EXPECT_EQ(root + "\\srv\\WU", g_featureFolder);
}

TEST_F(ModeTest, ServerWithoutFeatureFolderIsNotRecognisedEvenWithAGoodClient) {
    std::string srv = Install("srv", false);
    std::string cli = Install("cli", true);
    ASSERT_TRUE(ts::SetRegString(kServerKey, "InstallPath", srv));
    ASSERT_TRUE(ts::SetRegString(kClientKey, "InstallPath", cli));
    EXPECT_EQ(OperationMode::kUnknown, GetOperationMode());
}

TEST_F(ModeTest, ValuesThatAreNotPlainStringsAreNotRecognised) {
    std::string cli = Install("cli", true);
    ASSERT_TRUE(ts::SetRegValue(kClientKey, "InstallPath", REG_EXPAND_SZ, cli + '\0'));
    EXPECT_EQ(OperationMode::kUnknown, GetOperationMode());
}

TEST_F(ModeTest, InstallPathWithoutBinIsItsOwnFeatureFolder) {
    std::string folder = root + "\\plain";
    ts::MakeDirs(folder);
    ASSERT_TRUE(ts::SetRegString(kClientKey, "InstallPath", folder));
    EXPECT_EQ(OperationMode::kClient, GetOperationMode());
    EXPECT_EQ(folder, g_featureFolder);
}

TEST_F(ModeTest, PathThatDoesNotFitTheGlobalsIsNotRecognised) {
    // 300 bytes: readable from the registry, too long for a 260-byte global.
    std::string longPath = root + "\\" + std::string(300 - root.size() - 1, 'x');
    ASSERT_EQ(300u, longPath.size());
    ASSERT_TRUE(ts::SetRegString(kClientKey, "InstallPath", longPath));
    EXPECT_EQ(OperationMode::kUnknown, GetOperationMode());
    EXPECT_STREQ("", g_installPath);
    // 259 bytes still fit.
    std::string fits = root + "\\" + std::string(259 - root.size() - 1, 'y');
    ts::MakeDirs(fits);
    ASSERT_TRUE(ts::SetRegString(kClientKey, "InstallPath", fits));
    EXPECT_EQ(OperationMode::kClient, GetOperationMode());
    EXPECT_EQ(fits, g_installPath);
}

TEST_F(ModeTest, DoubleByteNamesWithTrailByte5CWork) {
    // 能 is 94 5C.
    std::string install = root + "\\能力\\bin\\";
    ts::MakeDirs(install);
    ts::MakeDirs(root + "\\能力\\WU");
    ASSERT_TRUE(ts::SetRegString(kClientKey, "InstallPath", install));
    EXPECT_EQ(OperationMode::kClient, GetOperationMode());
    EXPECT_EQ(root + "\\能力\\WU", g_featureFolder);
}

TEST_F(ModeTest, MarkerFileOrFolderInTheFeatureFolderMeansAlreadyUpdated) {
    std::string feature = root + "\\WU";
    ts::MakeDirs(feature);
    strcpy(g_featureFolder, feature.c_str());
    EXPECT_FALSE(IsAlreadyUpdated());
    ASSERT_TRUE(ts::WriteBytes(feature + "\\WSUS.txt", "x"));
    EXPECT_TRUE(IsAlreadyUpdated());
    // A trailing backslash gets no second one.
    strcpy(g_featureFolder, (feature + "\\").c_str());
    EXPECT_TRUE(IsAlreadyUpdated());
    // A folder of that name counts too.
    DeleteFileA((feature + "\\WSUS.txt").c_str());
    EXPECT_FALSE(IsAlreadyUpdated());
    CreateDirectoryA((feature + "\\WSUS.txt").c_str(), nullptr);
    EXPECT_TRUE(IsAlreadyUpdated());
    // A feature folder ending in 能 (trail byte 5C) gets its backslash.
    std::string dbcs = root + "\\能";
    ts::MakeDirs(dbcs);
    ASSERT_TRUE(ts::WriteBytes(dbcs + "\\WSUS.txt", "x"));
    strcpy(g_featureFolder, dbcs.c_str());
    EXPECT_TRUE(IsAlreadyUpdated());
}

TEST(WinSock, StartsVersion2AndStops) {
    EXPECT_TRUE(StartWinSock());
    EXPECT_TRUE(StopWinSock());
}

// The real program in a real window.
class StartupRunTest : public ModeTest {
  protected:
    void SetUp() override {
        ModeTest::SetUp();
        tmp = root + "\\tmp";
        ts::MakeDirs(tmp);
    }
    // Runs Update.exe, expects a box "エラー", checks it and presses OK.
    void RunExpectingBox(const std::string& text, int iconKind, int exitCode,
                         const std::string& tempFolder) {
        ts::Child child;
        ASSERT_TRUE(child.Start("\"" + ts::BuildFile("Update/Update.exe") + "\"",
                                {"TMP=" + tempFolder, "TEMP=" + tempFolder}));
        HWND box = ts::WaitForWindow(child.Pid(), "エラー", ts::kHangMs);
        ASSERT_NE(nullptr, box);
        char cls[64];
        GetClassNameA(box, cls, sizeof cls);
        EXPECT_STREQ("#32770", cls);
        EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER)); // no owner window
        EXPECT_EQ(text, ts::ItemText(box, 0xFFFF));
        EXPECT_EQ(iconKind, ts::MessageBoxIconKind(box));
        // One OK button and no other.
        HWND ok = GetDlgItem(box, IDOK);
        ASSERT_NE(nullptr, ok);
        EXPECT_EQ(nullptr, GetDlgItem(box, IDCANCEL));
        EXPECT_EQ(nullptr, GetDlgItem(box, IDYES));
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
        EXPECT_EQ(exitCode, child.Wait(ts::kHangMs));
    }
    std::string LogMessages(const std::string& tempFolder) {
        std::string text;
        for (const std::string& record : ts::LogMessages(tempFolder + "\\Update_Log.txt"))
            text += record + "\r\n";
        return text;
    }
    std::string tmp;
};

const char kBanner[] = "====================【開始】====================.";
// Start-up's records before the mode: the banner, then in a build with the
// sample payload a record that says so.
#ifdef UPDATE_SAMPLE_PAYLOAD
const std::string kStartRecords = std::string(kBanner) + "\r\nサンプルペイロード版 .";
#else
const std::string kStartRecords = kBanner;
#endif
const char kNotRecognised[] = "TALMERO Pro もしくは Windows Update 支援機能を認識できません。\n"
                              "プログラムを終了します。";
const char kAlreadyUpdated[] = "TALMERO ProのWindows Update支援機能は既に更新されています。\n"
                               "プログラムを終了します。";

TEST_F(StartupRunTest, NotRecognisedShowsTheErrorBoxAndLogsModeZero) {
    RunExpectingBox(kNotRecognised, ts::kIconError, kExitNotRecognised, tmp);
    EXPECT_EQ(kStartRecords + "\r\n動作モード 0 .\r\n終了コード 2 .\r\n", LogMessages(tmp));
}

TEST_F(StartupRunTest, AlreadyUpdatedShowsAnInformationIconUnderTheErrorCaption) {
    std::string cli = Install("cli", true);
    ASSERT_TRUE(ts::SetRegString(kClientKey, "InstallPath", cli));
    std::string marker = root + "\\cli\\WU\\WSUS.txt";
    ASSERT_TRUE(ts::WriteBytes(marker, "marker"));
    RunExpectingBox(kAlreadyUpdated, ts::kIconInformation, kExitAlreadyUpdated, tmp);
    EXPECT_EQ(kStartRecords + "\r\n動作モード 2 .\r\n終了コード 3 .\r\n", LogMessages(tmp));
    // Nothing on disk changed.
    EXPECT_EQ(std::vector<std::string>{"WSUS.txt"}, ts::ListDir(root + "\\cli\\WU"));
    EXPECT_EQ("marker", ts::ReadBytes(marker));
}

TEST_F(StartupRunTest, DoubleByteTemporaryAndFeatureFolders) {
    // Both folder names end in 能 (94 5C), whose trail byte is no separator.
    std::string dbcsTmp = root + "\\一時能";
    ts::MakeDirs(dbcsTmp);
    std::string install = root + "\\製品能\\bin";
    ts::MakeDirs(install);
    ts::MakeDirs(root + "\\製品能\\WU");
    ASSERT_TRUE(ts::WriteBytes(root + "\\製品能\\WU\\WSUS.txt", "x"));
    ASSERT_TRUE(ts::SetRegString(kServerKey, "InstallPath", install));
    RunExpectingBox(kAlreadyUpdated, ts::kIconInformation, kExitAlreadyUpdated, dbcsTmp);
    EXPECT_EQ(kStartRecords + "\r\n動作モード 1 .\r\n終了コード 3 .\r\n", LogMessages(dbcsTmp));
}

TEST_F(StartupRunTest, TemporaryFolderTooLongForTheLogPathDropsTheLogAndGoesOn) {
    // The folder and "\Update_Log.txt" take 260 bytes: one more than fits.
    std::string longTmp = root + "\\" + std::string(260 - 15 - root.size() - 1, 't');
    ASSERT_EQ(260u, longTmp.size() + 15);
    ASSERT_TRUE(ts::MakeDirs(longTmp));
    RunExpectingBox(kNotRecognised, ts::kIconError, kExitNotRecognised, longTmp);
    EXPECT_TRUE(ts::ListDir(longTmp).empty());
    EXPECT_FALSE(ts::Exists(root + "\\Update_Log.txt"));
}

} // namespace
