// The real Update.exe with no window at all and no X display: /quiet,
// /status, /log and usage errors in both modes; files in the way; settings
// in other encodings; an update interrupted after every step, and one that
// runs out of disk at every step or from the start, each finished by the
// next start.
#include <gtest/gtest.h>

#include "Owners.h"
#include "RunLock.h"
#include "TestSupport.h"

#include <windows.h>
#include <algorithm>
#include <map>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

constexpr DWORD kTimeout = ts::kHangMs;
const char kServerKey[] = "SOFTWARE\\TALMERO\\BaseSrv";
const char kClientKey[] = "SOFTWARE\\TALMERO\\BaseCli";
const char kBanner[] = "====================【開始】====================.";
// Exit status of the test build when it ends itself at a call.
constexpr int kStopped = 97;

// The record that ends every run that wrote the start banner.
std::string Closing(int status) {
    return "終了コード " + std::to_string(status) + " .";
}

// A product installation: <root>\App\bin\ registered for the mode, its
// feature folder <root>\App\WU with a patchjob.ini that names a share, an
// old script and program that the update moves aside, an older PatchHub.exe,
// a library in the install folder, and a temporary folder <temp>.
struct Install {
    Install(const std::string& rootFolder, int modeNumber, const std::string& tempFolder)
        : root(rootFolder), mode(modeNumber), temp(tempFolder) {
        ts::RemoveTree(root);
        feature = root + "\\App\\WU";
        bin = root + "\\App\\bin";
        ts::MakeDirs(bin);
        ts::MakeDirs(feature);
        ts::RemoveTree(temp);
        ts::MakeDirs(temp);
        ts::WriteBytes(F("patchjob.ini"), "[General]\r\nName=支援機能\r\n[SUS]\r\n"
                                          "TLX_SHARE=\\\\srv01\\share\r\n[WU]\r\nWU_CMD=old\r\n");
        ts::WriteBytes(F("patchjob.vbe"), "old script");
        ts::WriteBytes(F("AlertKey.exe"), "old program");
        ts::WriteBytes(F("PatchHub.exe"), "older hub");
        ts::WriteBytes(bin + "\\UserGate.dll", "UserGate 2.0");
        // Fixed times, so that two installations made apart look the same.
        for (const std::string& path : {F("patchjob.ini"), F("patchjob.vbe"), F("AlertKey.exe"),
                                        F("PatchHub.exe"), bin + "\\UserGate.dll"})
            SetFixedTimes(path);
        Register();
    }
    static void SetFixedTimes(const std::string& path) {
        const FILETIME time = {0, 0x01D00000};
        HANDLE file =
            CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SetFileTime(file, &time, nullptr, &time);
        CloseHandle(file);
    }
    void Register() const {
        ts::ClearProductKeys();
        ts::SetRegString(mode == 1 ? kServerKey : kClientKey, "InstallPath", bin + "\\");
    }
    std::string F(const std::string& name) const { return feature + "\\" + name; }
    std::string Log() const { return temp + "\\Update_Log.txt"; }

    // Exit status of Update.exe (or of another build of it) with these
    // arguments and extra environment variables.
    int Run(const std::string& args, const std::vector<std::string>& env = {},
            const char* program = "Update/Update.exe") const {
        return RunCommand("\"" + ts::BuildFile(program) + "\" " + args, env);
    }
    int RunCommand(const std::string& commandLine, const std::vector<std::string>& env = {}) const {
        // No X display: the program must not need one.
        std::vector<std::string> vars = {"TMP=" + temp, "TEMP=" + temp, "DISPLAY="};
        vars.insert(vars.end(), env.begin(), env.end());
        ts::Child child;
        if (!child.Start(commandLine, vars)) {
            ADD_FAILURE() << "cannot start " << commandLine << ": " << child.StartErrors();
            return -2;
        }
        return child.Wait(kTimeout);
    }

    std::string root;
    int mode;
    std::string temp, feature, bin;
};

// The messages of a log, one per record, without their headers. The record
// by which a build with the sample payload says so after each start banner
// is left out: the start-up tests look at it.
std::vector<std::string> Records(const std::string& logPath) {
    std::vector<std::string> records;
    for (const std::string& record : ts::LogMessages(logPath)) {
        if (record == "サンプルペイロード版 ." && !records.empty() && records.back() == kBanner)
            continue;
        records.push_back(record);
    }
    return records;
}

// A short, printable stand-in for a file's content.
std::string Digest(const std::string& bytes) {
    unsigned long long hash = 14695981039346656037ull;
    for (unsigned char c : bytes)
        hash = (hash ^ c) * 1099511628211ull;
    char text[48];
    snprintf(text, sizeof text, "%zu bytes %016llx", bytes.size(), hash);
    return text;
}

// Every file of a folder tree: name, then attributes, content and, unless
// the run writes the file itself (kButTheRuns), its last-write time.
enum class Times { kButTheRuns, kEvery };
std::map<std::string, std::string> Snapshot(const std::string& folder,
                                            Times times = Times::kButTheRuns,
                                            const std::string& prefix = "") {
    static const char* const written[] = {"patchjob.ini",   "PatchSvc.ini",     "patchrun.bat",
                                          "patchcliXP.bat", "patchcli2000.bat", "WSUS.undo\\list"};
    std::map<std::string, std::string> files;
    for (const std::string& name : ts::ListDir(folder)) {
        std::string path = folder + "\\" + name;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const std::map<std::string, std::string> inside =
                Snapshot(path, times, prefix + name + "\\");
            files.insert(inside.begin(), inside.end());
            continue;
        }
        std::string entry =
            std::to_string(data.dwFileAttributes) + "|" + Digest(ts::ReadBytes(path));
        if (times == Times::kEvery ||
            std::find(std::begin(written), std::end(written), prefix + name) == std::end(written))
            entry += "|" + std::to_string(data.ftLastWriteTime.dwHighDateTime) + ":" +
                     std::to_string(data.ftLastWriteTime.dwLowDateTime);
        files[prefix + name] = entry;
    }
    return files;
}

// The files of a folder tree as a person lists them: name, size,
// attributes, last-write time (UTC), a digest of the content.
void PrintListing(const char* title, const std::string& folder, const std::string& prefix = "") {
    if (prefix.empty())
        printf("%s: %s\n", title, folder.c_str());
    for (const std::string& name : ts::ListDir(folder)) {
        const std::string path = folder + "\\" + name;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            PrintListing(title, path, prefix + name + "\\");
            continue;
        }
        SYSTEMTIME t;
        FileTimeToSystemTime(&data.ftLastWriteTime, &t);
        const std::string digest = Digest(ts::ReadBytes(path));
        printf("  %-24s %8lu  %c%c%c  %04u-%02u-%02u %02u:%02u:%02u.%03u  %.8s\n",
               (prefix + name).c_str(), data.nFileSizeLow,
               data.dwFileAttributes & FILE_ATTRIBUTE_READONLY ? 'R' : '-',
               data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN ? 'H' : '-',
               data.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE ? 'A' : '-', t.wYear, t.wMonth,
               t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
               digest.c_str() + digest.rfind(' ') + 1);
    }
}

std::string ModeName(int mode) {
    return mode == 1 ? "Server" : "Client";
}

// The records of a successful quiet run of a fresh installation.
std::vector<std::string> SuccessRecords(const Install& in, const std::string& args) {
    std::string f = in.feature + "\\";
    return {kBanner,
            "コマンドライン " + args + " .",
            "動作モード " + std::to_string(in.mode) + " .",
            "テンポラリ " + in.temp + "\\Update.tmp 生成.",
            "出力結果 1 .",
            "展開先フォルダ " + in.feature + " .",
            "TLX共有フォルダ \\\\srv01\\share .",
            "サーバ srv01 .",
            "バックアップ " + f + "patchjob.ini.bak .",
            f + "patchjob.ini の書き換え.",
            "旧値 SUS_SHARE= TLX_SHARE=\\\\srv01\\share WU_CMD=old .",
            in.mode == 1 ? f + "patchcliXP.bat の生成." : f + "patchrun.bat の書き換え.",
            "旧 " + f + "patchjob.vbe .",
            "新 " + f + "patchjob.vb_ .",
            "旧 " + f + "AlertKey.exe .",
            "新 " + f + "AlertKey.ex_ .",
            Closing(0)};
}

class QuietTest : public ::testing::TestWithParam<int> {
  protected:
    std::string Scratch(const std::string& name) {
        return ts::ScratchDir("quiet-" + name + ModeName(GetParam()));
    }
    void TearDown() override { ts::ClearProductKeys(); }
};

class QuietClientTest : public QuietTest {};

// Holds the lock of a running update, as another start would.
class OtherUpdate {
  public:
    explicit OtherUpdate(bool running = true) { held_ = running && lock_.Acquire(kTimeout); }
    bool Held() const { return held_; }

  private:
    RunLock lock_;
    bool held_ = false;
};

// -------------------------------------------------------------------------

TEST_P(QuietTest, EachOutcomeEndsWithItsStatusAndTheRecordsOfTheDialogPath) {
    const int mode = GetParam();
    const std::string m = "動作モード " + std::to_string(mode) + " .";
    const std::string root = Scratch("outcomes");
    const std::string deployLog = root + "\\deploy.log";
    const std::string longLog = "/log=C:\\" + std::string(300, 'l');
    // The longest log path that fits, and one byte more.
    const std::string log259 = root + "\\" + std::string(259 - root.size() - 1, 'L');
    const std::string log260 = log259 + "L";
    enum Setup {
        kNothing,
        kNoProduct,
        kUpdated,
        kFolderInTheWay,
        kOtherUpdate,
        kFullLog,
        kLogViewer,
        kLockNameTaken,
    };
    struct Case {
        const char* name;
        Setup setup;
        std::string args;
        int status;
        std::vector<std::string> records; // empty: the records of a success
        bool updated;
        std::string log; // empty: the default log
    } cases[] = {
        {"success", kNothing, "/quiet", 0, {}, true, ""},
        {"not recognised",
         kNoProduct,
         "/QUIET",
         2,
         {kBanner, "コマンドライン /QUIET .", "動作モード 0 .", Closing(2)},
         false,
         ""},
        {"already updated",
         kUpdated,
         "-q",
         3,
         {kBanner, "コマンドライン -q .", m, Closing(3)},
         false,
         ""},
        {"failure",
         kFolderInTheWay,
         "/q",
         1,
         {kBanner, "コマンドライン /q .", m,
          "更新不可 " + root + "\\i\\App\\WU\\PatchSvc.ini : フォルダです .", Closing(1)},
         false,
         ""},
        {"another update",
         kOtherUpdate,
         "/quiet",
         5,
         {kBanner, "コマンドライン /quiet .", "他の更新が実行中のため終了.", Closing(5)},
         false,
         ""},
        {"unknown argument",
         kNothing,
         "/quiet /bogus",
         64,
         {kBanner, "コマンドライン /quiet /bogus .", "不明な引数 /bogus .", Closing(64)},
         false,
         ""},
        {"log path too long",
         kNothing,
         "/quiet " + longLog,
         64,
         {kBanner, "コマンドライン /quiet " + longLog + " .",
          "不明な引数 " + longLog.substr(0, 255) + " .", Closing(64)},
         false,
         ""},
        {"log path of 259 bytes", kNothing, "/quiet /log=" + log259, 0, {}, true, log259},
        {"log path of 260 bytes",
         kNothing,
         "/quiet /log=" + log260,
         64,
         {kBanner, "コマンドライン /quiet /log=" + log260 + " .",
          "不明な引数 " + ("/log=" + log260).substr(0, 255) + " .", Closing(64)},
         false,
         ""},
        {"help", kNothing, "/q /?", 0, {}, false, "none"},
        {"undo, not recognised",
         kNoProduct,
         "/undo /q",
         2,
         {kBanner, "元に戻す .", "コマンドライン /undo /q .", "動作モード 0 .", Closing(2)},
         false,
         ""},
        {"undo, another update",
         kOtherUpdate,
         "/quiet -UNDO",
         5,
         {kBanner, "元に戻す .", "コマンドライン /quiet -UNDO .", "他の更新が実行中のため終了.",
          Closing(5)},
         false,
         ""},
        {"own log, rotated", kFullLog, "/quiet /log=" + deployLog, 0, {}, true, deployLog},
        // Neither blinds nor stops a run: a viewer that reads the log, an
        // object of another kind under the old lock's name, which any
        // account could make.
        {"a viewer reads the log", kLogViewer, "/quiet", 0, {}, true, ""},
        {"the lock's name taken", kLockNameTaken, "/quiet", 0, {}, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Install in(root + "\\i", mode, root + "\\tmp");
        ts::RemoveTree(deployLog);
        if (c.setup == kNoProduct)
            ts::ClearProductKeys();
        if (c.setup == kUpdated)
            ts::WriteBytes(in.F("WSUS.txt"), "x");
        if (c.setup == kFolderInTheWay)
            ts::MakeDirs(in.F("PatchSvc.ini"));
        if (c.setup == kFullLog)
            ts::WriteBytes(deployLog, std::string(65530, 'o'));
        std::map<std::string, std::string> before = Snapshot(in.feature);
        int status;
        {
            OtherUpdate other(c.setup == kOtherUpdate);
            if (c.setup == kLogViewer)
                ts::WriteBytes(in.Log(), "");
            UniqueHandle squatter(
                c.setup == kLogViewer
                    ? CreateFileA(in.Log().c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr)
                : c.setup == kLockNameTaken
                    ? CreateEventA(nullptr, TRUE, FALSE, "Global\\TALMERO_WU_Update")
                    : nullptr);
            status = in.Run(c.args);
        }
        EXPECT_EQ(c.status, status);
        const std::string log = c.log.empty() ? in.Log() : c.log;
        if (c.log == "none") {
            EXPECT_FALSE(ts::Exists(in.Log()));
        } else {
            EXPECT_EQ(c.records.empty() ? SuccessRecords(in, c.args) : c.records, Records(log));
        }
        if (c.setup == kFullLog) {
            EXPECT_EQ(std::string(65530, 'o'), ts::ReadBytes(deployLog + ".BAK"));
            EXPECT_FALSE(ts::Exists(in.Log()));
        }
        EXPECT_EQ(c.updated || c.setup == kUpdated, ts::Exists(in.F("WSUS.txt")));
        if (!c.updated && c.setup != kUpdated) {
            EXPECT_EQ(before, Snapshot(in.feature));
        }
    }
}

TEST_P(QuietTest, StatusChangesNothingAndTellsWhatAStartWouldEndWith) {
    const std::string root = Scratch("status");
    Install in(root + "\\i", GetParam(), root + "\\tmp");
    std::map<std::string, std::string> before = Snapshot(in.feature);
    EXPECT_EQ(0, in.Run("/status"));
    {
        OtherUpdate other;
        ASSERT_TRUE(other.Held());
        EXPECT_EQ(5, in.Run("-STATUS"));
    }
    EXPECT_EQ(before, Snapshot(in.feature));
    EXPECT_FALSE(ts::Exists(in.Log()));
    // An unknown argument is a usage error here too, told only in the log.
    EXPECT_EQ(64, in.Run("/status /x"));
    EXPECT_EQ(4u, Records(in.Log()).size());
    ts::RemoveTree(in.Log());

    ASSERT_EQ(0, in.Run("/quiet"));
    ts::RemoveTree(in.Log());
    EXPECT_EQ(3, in.Run("/status"));
    ts::ClearProductKeys();
    EXPECT_EQ(2, in.Run("/status /quiet"));
    EXPECT_FALSE(ts::Exists(in.Log()));
}

// A program that holds the log's mutex costs an update one wait of 10
// seconds in all, also when it lets the mutex go for a moment now and then:
// the records go, from then on without waiting, to a file of the run's own
// beside the log, whose first record says why; none is lost.
TEST_P(QuietClientTest, AHeldLogMutexCostsOneWaitAndLosesNoRecord) {
    const std::string root = Scratch("held-log");
    // Waiting again for each record would outlast the holder's minute, or
    // get the pulsing mutex each time: every later record in the log.
    for (const char* holder : {"hold 60", "pulse 3000 60"}) {
        SCOPED_TRACE(holder);
        Install in(root + "\\i", GetParam(), root + "\\tmp");
        HANDLE holding = CreateEventA(nullptr, TRUE, FALSE, "logpeer_holding");
        ResetEvent(holding);
        UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, "logpeer_release"));
        ResetEvent(release.Get());
        ts::Child peer;
        ASSERT_TRUE(peer.Start("\"" + ts::BuildFile("tests/logpeer.exe") + "\" " + holder));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holding, kTimeout));
        CloseHandle(holding);
        EXPECT_EQ(0, in.Run("/quiet"));
        SetEvent(release.Get());
        EXPECT_EQ(0, peer.Wait(kTimeout));
        EXPECT_TRUE(ts::Exists(in.F("WSUS.txt")));
        std::vector<std::string> names = ts::ListDir(in.temp);
        names.erase(std::remove(names.begin(), names.end(), "Update_Log.txt"), names.end());
        ASSERT_EQ(1u, names.size());
        EXPECT_EQ(0u, names[0].find("Update_Log.txt.")) << names[0];
        std::vector<std::string> records = Records(in.Log());
        const std::vector<std::string> own = Records(in.temp + "\\" + names[0]);
        ASSERT_FALSE(own.empty());
        EXPECT_EQ(
            "ログ " + in.Log() +
                " に書けないため、ここに書きます : INALOG_MUTEX が 10 秒待っても得られません .",
            own[0]);
        records.insert(records.end(), own.begin() + 1, own.end());
        EXPECT_EQ(SuccessRecords(in, "/quiet"), records);
    }
}

// A status query holds the update's lock for a moment: a start waits for it
// rather than giving up.
TEST_P(QuietClientTest, AStartWaitsForALockHeldForAMoment) {
    const std::string root = Scratch("lock-moment");
    Install in(root + "\\i", GetParam(), root + "\\tmp");
    ts::Child child;
    {
        OtherUpdate other;
        ASSERT_TRUE(other.Held());
        ASSERT_TRUE(child.Start("\"" + ts::BuildFile("Update/Update.exe") + "\" /quiet",
                                {"TMP=" + in.temp, "TEMP=" + in.temp, "DISPLAY="}))
            << child.StartErrors();
        // It asks for the lock right after recording its command line.
        ASSERT_TRUE(ts::WaitUntil([&] { return Records(in.Log()).size() >= 2; }, kTimeout));
    }
    EXPECT_EQ(0, child.Wait(kTimeout)) << ts::ReadBytes(in.Log());
    EXPECT_TRUE(ts::Exists(in.F("WSUS.txt")));
}

// The startup script of the deployment material, run by the system's own
// command interpreter from the folder that holds the program: it updates
// once, keeps the machine's log and last status beside it, and leaves an
// updated machine alone.
TEST_P(QuietTest, TheStartupScriptUpdatesOnceAndRecordsTheStatus) {
    const std::string root = Scratch("startup-script");
    Install in(root + "\\i", GetParam(), root + "\\tmp");
    const std::string share = root + "\\share";
    ASSERT_TRUE(ts::MakeDirs(share));
    ASSERT_TRUE(CopyFileA(ts::BuildFile("Update/Update.exe").c_str(),
                          (share + "\\Update.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(ts::SourceFile("scripts/deploy/update-startup.cmd").c_str(),
                          (share + "\\update-startup.cmd").c_str(), FALSE));
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = sizeof computer;
    ASSERT_TRUE(GetComputerNameA(computer, &length));
    const std::string machine = share + "\\logs\\" + computer;
    for (int status : {0, 3}) {
        SCOPED_TRACE(status);
        EXPECT_EQ(status, in.RunCommand("cmd.exe /c \"" + share + "\\update-startup.cmd\""));
        std::string result = ts::ReadBytes(machine + ".result");
        ASSERT_GE(result.size(), 4u);
        EXPECT_EQ(" " + std::to_string(status) + "\r\n", result.substr(result.size() - 4));
    }
    EXPECT_TRUE(ts::Exists(in.F("WSUS.txt")));
    // One update, logged where the script asked; the second run wrote nothing.
    EXPECT_EQ(SuccessRecords(in, "/quiet /log=" + machine + ".log"), Records(machine + ".log"));
    EXPECT_FALSE(ts::Exists(in.Log()));
    // Taken back: undone, then nothing to undo.
    for (int status : {0, 3}) {
        EXPECT_EQ(status, in.RunCommand("cmd.exe /c \"" + share + "\\update-startup.cmd\" /undo"));
        const std::string result = ts::ReadBytes(machine + ".result");
        EXPECT_EQ(" " + std::to_string(status) + "\r\n", result.substr(result.size() - 4));
        EXPECT_EQ(Closing(status), Records(machine + ".log").back());
    }
    EXPECT_FALSE(ts::Exists(in.F("WSUS.txt")));
}

// A running program and a held library: the update stops before its first
// change, names the file, and runs once they are let go.
TEST_P(QuietTest, FilesInUseStopTheUpdateUntilTheyAreFree) {
    const std::string root = Scratch("in-use");
    for (const char* file : {"PatchHub.exe", "UserGate.dll"}) {
        SCOPED_TRACE(file);
        Install in(root + "\\i", GetParam(), root + "\\tmp");
        ts::Child running;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (strcmp(file, "PatchHub.exe") == 0) {
            ASSERT_TRUE(
                CopyFileA(ts::BuildFile("tests/keepalive.exe").c_str(), in.F(file).c_str(), FALSE));
            ASSERT_TRUE(running.Start("\"" + in.F(file) + "\"")) << running.StartErrors();
            // Once the program runs, its file cannot be written.
            ASSERT_TRUE(ts::WaitUntil(
                [&] {
                    UniqueHandle probe(
                        CreateFileA(in.F(file).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
                    return !probe.IsValid();
                },
                kTimeout));
        } else {
            ASSERT_TRUE(ts::WriteBytes(in.F(file), "UserGate 1.0"));
            held = CreateFileA(in.F(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
        }
        std::map<std::string, std::string> before = Snapshot(in.feature);
        EXPECT_EQ(1, in.Run("/quiet"));
        std::vector<std::string> records = Records(in.Log());
        ASSERT_EQ(5u, records.size());
        EXPECT_EQ(0u, records[3].find("更新不可 " + in.F(file) + " : ")) << records[3];
        EXPECT_EQ(Closing(1), records[4]);
        EXPECT_EQ(before, Snapshot(in.feature));

        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        TerminateProcess(running.Process(), 0);
        running.Wait(kTimeout);
        EXPECT_EQ(0, in.Run("/quiet"));
        EXPECT_TRUE(ts::Exists(in.F("WSUS.txt")));
    }
}

// patchjob.ini in an encoding that the profile functions would corrupt is
// refused before any change; code page 932 and UTF-16 keep their values.
TEST_P(QuietTest, SettingsTextThatWouldBeCorruptedIsRefused) {
    const std::string root = Scratch("text");
    const std::string ansi =
        "[General]\r\nName=支援機能\r\n[SUS]\r\nTLX_SHARE=\\\\srv01\\share\r\n";
    const std::string utf8 =
        u8"[General]\r\nName=支援機能\r\n[SUS]\r\nTLX_SHARE=\\\\srv01\\share\r\n";
    std::wstring wide(ansi.size(), L'\0');
    wide.resize(MultiByteToWideChar(932, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    const std::string utf16 =
        "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
    const struct {
        const char* name;
        std::string text;
        const char* refusal; // null: accepted
    } cases[] = {
        {"code page 932", ansi, nullptr},
        {"UTF-16", utf16, nullptr},
        {"UTF-8", utf8, "UTF-8 の設定ファイルは書き換えられません"},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + utf8, "UTF-8 の設定ファイルは書き換えられません"},
        {"lone lead byte", ansi + "Note=\x94\r\n", "文字コードを判別できません"},
        {"lead byte at the very end", ansi + "Note=\x94", "文字コードを判別できません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Install in(root + "\\i", GetParam(), root + "\\tmp");
        ASSERT_TRUE(ts::WriteBytes(in.F("patchjob.ini"), c.text));
        std::map<std::string, std::string> before = Snapshot(in.feature);
        int status = in.Run("/quiet");
        if (c.refusal != nullptr) {
            EXPECT_EQ(1, status);
            const std::vector<std::string> records = Records(in.Log());
            ASSERT_GE(records.size(), 2u);
            EXPECT_EQ("更新不可 " + in.F("patchjob.ini") + " : " + c.refusal + " .",
                      records[records.size() - 2]);
            EXPECT_EQ(before, Snapshot(in.feature));
            continue;
        }
        EXPECT_EQ(0, status);
        char value[64];
        GetPrivateProfileStringA("General", "Name", "", value, sizeof value,
                                 in.F("patchjob.ini").c_str());
        EXPECT_STREQ("支援機能", value);
        GetPrivateProfileStringA("WU", "WU_CMD", "", value, sizeof value,
                                 in.F("patchjob.ini").c_str());
        EXPECT_STREQ("patchcliXP.bat", value);
        EXPECT_EQ(c.text, ts::ReadBytes(in.F("patchjob.ini.bak")));
    }
}

// The backup keeps the customer's own file: a later run leaves it.
TEST_P(QuietTest, TheBackupIsMadeOnceAndNeverReplaced) {
    const std::string root = Scratch("backup");
    Install in(root + "\\i", GetParam(), root + "\\tmp");
    const std::string original = ts::ReadBytes(in.F("patchjob.ini"));
    ASSERT_EQ(0, in.Run("/quiet"));
    EXPECT_EQ(original, ts::ReadBytes(in.F("patchjob.ini.bak")));
    // As if the marker had been removed by hand: the update runs again.
    ASSERT_TRUE(
        DeleteFileA(in.F("WSUS.txt").c_str()) ||
        (SetFileAttributesA(in.F("WSUS.txt").c_str(), 0) && DeleteFileA(in.F("WSUS.txt").c_str())));
    ts::RemoveTree(in.Log());
    ASSERT_EQ(0, in.Run("/quiet"));
    EXPECT_EQ(original, ts::ReadBytes(in.F("patchjob.ini.bak")));
    std::vector<std::string> records = Records(in.Log());
    EXPECT_EQ(records.end(), std::find_if(records.begin(), records.end(), [](const std::string& r) {
                  return r.compare(0, 12, "バックアップ") == 0;
              }));
    EXPECT_NE(records.end(), std::find(records.begin(), records.end(),
                                       "旧値 SUS_SHARE=\\\\srv01\\share TLX_SHARE=\\\\srv01\\share "
                                       "WU_CMD=patchcliXP.bat ."));
}

// The undo puts back the folder as it was before the update, attributes and
// times too; the next one finds nothing to undo, and a folder updated by a
// version that kept nothing is left as it is.
TEST_P(QuietTest, AnUndoPutsTheFolderBackAsItWasBeforeTheUpdate) {
    const std::string root = Scratch("undo");
    Install in(root + "\\i", GetParam(), root + "\\tmp");
    const std::string f = in.feature + "\\";
    // A library the update copies over, and a file of the site's own.
    ASSERT_TRUE(ts::WriteBytes(in.F("PatchSvc.ini"), "[WSUS]\r\nServer=old\r\n"));
    ASSERT_TRUE(ts::WriteBytes(in.F("UserGate.dll"), "UserGate 1.0"));
    ASSERT_TRUE(ts::WriteBytes(in.F("notes.txt"), "the site's own"));
    for (const char* name : {"PatchSvc.ini", "UserGate.dll", "notes.txt"})
        Install::SetFixedTimes(in.F(name));
    SetFileAttributesA(in.F("PatchHub.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(in.F("patchjob.vbe").c_str(), FILE_ATTRIBUTE_HIDDEN);
    const std::map<std::string, std::string> before = Snapshot(in.feature, Times::kEvery);
    PrintListing("before the update", in.feature);
    ASSERT_EQ(0, in.Run("/quiet"));
    PrintListing("after the update", in.feature);
    ts::RemoveTree(in.Log());
    EXPECT_EQ(0, in.Run("/undo /quiet"));
    PrintListing("after the undo", in.feature);
    EXPECT_EQ(before, Snapshot(in.feature, Times::kEvery));
    const std::string m = "動作モード " + std::to_string(in.mode) + " .";
    std::vector<std::string> records = Records(in.Log());
    ASSERT_GT(records.size(), 7u);
    EXPECT_EQ(
        (std::vector<std::string>{kBanner, "元に戻す .", "コマンドライン /undo /quiet .", m,
                                  "削除 " + f + "WSUS.txt .", "復元 " + f + "patchjob.vbe ."}),
        std::vector<std::string>(records.begin(), records.begin() + 6));
    EXPECT_EQ((std::vector<std::string>{"削除 " + f + "WSUS.undo .", Closing(0)}),
              std::vector<std::string>(records.end() - 2, records.end()));
    EXPECT_EQ(0, in.Run("/status"));
    ts::RemoveTree(in.Log());
    EXPECT_EQ(3, in.Run("/q /undo"));
    EXPECT_EQ((std::vector<std::string>{kBanner, "元に戻す .", "コマンドライン /q /undo .", m,
                                        "元に戻す更新はありません .", Closing(3)}),
              Records(in.Log()));
    // Updated by an earlier version, which kept nothing.
    ASSERT_EQ(0, in.Run("/quiet"));
    ASSERT_TRUE(ts::RemoveTree(in.F("WSUS.undo")));
    const std::map<std::string, std::string> updated = Snapshot(in.feature, Times::kEvery);
    EXPECT_EQ(1, in.Run("/undo /quiet"));
    records = Records(in.Log());
    EXPECT_EQ("更新前のファイルが保存されていないため元に戻せません " + f + "WSUS.undo .",
              records[records.size() - 2]);
    EXPECT_EQ(updated, Snapshot(in.feature, Times::kEvery));
}

// The calls of the file layer that a whole update makes, counted by the test
// build.
int CallsOfAnUpdate(const Install& in) {
    const std::string count = in.temp + "\\calls.txt";
    EXPECT_EQ(0, in.Run("/quiet", {"UPDATE_CALLS_FILE=" + count}, "tests/update_stepstop.exe"));
    const int calls = atoi(ts::ReadBytes(count).c_str());
    DeleteFileA(count.c_str());
    return calls;
}

// Some calls spread over an update of total calls, the first and the last
// among them: the test in its own process goes through every one.
std::vector<int> SomeCalls(int total) {
    return {1, total / 4, total / 2, 3 * total / 4, total};
}

// Ended by the system at a call of the file layer, as a kill or a power cut
// would end it, the update is finished by the next start, and the feature
// folder is the same as after one uninterrupted run; the payload's file went
// with the process.
TEST_P(QuietTest, AnUpdateEndedAtAnyCallIsFinishedByTheNextStart) {
    const std::string root = Scratch("stopped");
    std::map<std::string, std::string> expected;
    int total = 0;
    {
        Install in(root + "\\i", GetParam(), root + "\\tmp");
        total = CallsOfAnUpdate(in);
        expected = Snapshot(in.feature);
    }
    ASSERT_GT(total, 40);
    for (const int call : SomeCalls(total)) {
        SCOPED_TRACE(call);
        Install in(root + "\\i", GetParam(), root + "\\tmp");
        EXPECT_EQ(kStopped, in.Run("/quiet", {"UPDATE_STOP_AT_CALL=" + std::to_string(call)},
                                   "tests/update_stepstop.exe"));
        EXPECT_FALSE(ts::Exists(in.F("WSUS.txt")));
        // Nothing closed the killed run's records.
        const std::vector<std::string> killed = Records(in.Log());
        EXPECT_TRUE(std::none_of(killed.begin(), killed.end(), [](const std::string& r) {
            return r.rfind("終了コード", 0) == 0;
        }));
        EXPECT_EQ(0, in.Run("/quiet"));
        EXPECT_EQ(expected, Snapshot(in.feature));
        EXPECT_EQ(std::vector<std::string>{"Update_Log.txt"}, ts::ListDir(in.temp));
    }
}

// Ended at a call spread over it, an update is undone all the same: the
// folder is as it was before it, and a start updates it again.
TEST_P(QuietTest, AnUpdateEndedAtAnyCallIsUndoneAllTheSame) {
    const std::string root = Scratch("stopped-undone");
    int total = 0;
    {
        Install in(root + "\\i", GetParam(), root + "\\tmp");
        total = CallsOfAnUpdate(in);
    }
    for (const int call : SomeCalls(total)) {
        SCOPED_TRACE(call);
        Install in(root + "\\i", GetParam(), root + "\\tmp");
        const std::map<std::string, std::string> before = Snapshot(in.feature, Times::kEvery);
        EXPECT_EQ(kStopped, in.Run("/quiet", {"UPDATE_STOP_AT_CALL=" + std::to_string(call)},
                                   "tests/update_stepstop.exe"));
        // Stopped before its keep began, it had changed nothing.
        const int undone = ts::Exists(in.F("WSUS.undo")) ? 0 : 3;
        EXPECT_EQ(undone, in.Run("/undo /quiet"));
        EXPECT_EQ(before, Snapshot(in.feature, Times::kEvery));
        EXPECT_EQ(0, in.Run("/status"));
    }
}

// The content part of a snapshot entry.
std::string Content(const std::string& entry) {
    const size_t from = entry.find('|') + 1;
    return entry.substr(from, entry.find('|', from) - from);
}

// Files that are each either as they were or as the update makes them, with
// nothing else there, and the content of every file that was there still
// there, unless the update replaces it with its own.
void ExpectNothingLost(const std::map<std::string, std::string>& before,
                       const std::map<std::string, std::string>& after,
                       const std::map<std::string, std::string>& now) {
    for (const auto& file : now) {
        auto was = before.find(file.first);
        auto will = after.find(file.first);
        EXPECT_TRUE((was != before.end() && was->second == file.second) ||
                    (will != after.end() && will->second == file.second))
            << file.first;
    }
    for (const auto& file : before) {
        auto is = now.find(file.first);
        auto will = after.find(file.first);
        const bool replaced = is != now.end() && will != after.end() && is->second == will->second;
        const bool kept = std::any_of(now.begin(), now.end(), [&](const auto& f) {
            return Content(f.second) == Content(file.second);
        });
        EXPECT_TRUE(replaced || kept) << file.first;
    }
    EXPECT_EQ(0u, now.count("WSUS.txt"));
}

// An update that ended with status: complete, or failed with nothing lost
// and finished by the next start. True when it was complete.
bool ExpectCompleteOrFinishable(const Install& in, int status,
                                const std::map<std::string, std::string>& before,
                                const std::map<std::string, std::string>& expected,
                                const std::map<std::string, std::string>& now) {
    if (status == 0) {
        EXPECT_EQ(expected, now);
        return true;
    }
    EXPECT_EQ(1, status);
    ExpectNothingLost(before, expected, now);
    EXPECT_EQ(0, in.Run("/quiet"));
    EXPECT_EQ(expected, Snapshot(in.feature));
    return false;
}

class FullDiskTest : public QuietTest {
  protected:
    void SetUp() override {
        std::string reason;
        if (!ts::SmallDriveReady(reason))
            GTEST_SKIP() << reason;
    }
    Install Fresh() const { return Install("S:\\t", GetParam(), ts::ScratchDir("full-disk-tmp")); }
};

// Whatever room is left, the update ends complete, or fails with nothing
// lost and succeeds once there is room.
TEST_P(FullDiskTest, AnyFreeSpaceEndsCompleteOrFinishable) {
    std::map<std::string, std::string> expected;
    {
        Install in = Fresh();
        ASSERT_EQ(0, in.Run("/quiet"));
        expected = Snapshot(in.feature);
    }
    int succeeded = 0;
    for (uint64_t kib : {4, 64, 512, 1024, 1280, 1536, 1792, 2048, 3072}) {
        SCOPED_TRACE(kib);
        Install in = Fresh();
        std::map<std::string, std::string> before = Snapshot(in.feature);
        ts::SmallDriveFiller filler;
        if (!filler.LeaveFree(kib * 1024))
            continue;
        int status = in.Run("/quiet");
        std::map<std::string, std::string> now = Snapshot(in.feature);
        filler.Remove();
        if (kib == 4) {
            // Far too little: the check before the first change says so.
            EXPECT_EQ(1, status);
            const std::vector<std::string> records = Records(in.Log());
            ASSERT_GE(records.size(), 2u);
            EXPECT_EQ(0u, records[records.size() - 2].find("空き容量不足 S:\\t\\App\\WU : "));
            EXPECT_EQ(before, now);
        }
        if (ExpectCompleteOrFinishable(in, status, before, expected, now))
            ++succeeded;
    }
    EXPECT_GT(succeeded, 0);
}

// The disk fills up just before a call of the file layer: the update fails
// with nothing lost, or needed no more room, and the next start finishes it.
TEST_P(FullDiskTest, ADiskThatFillsUpAtAnyCallLosesNothing) {
    std::map<std::string, std::string> expected;
    int total = 0;
    {
        Install in = Fresh();
        total = CallsOfAnUpdate(in);
        expected = Snapshot(in.feature);
    }
    const std::string filler = "S:\\~stepfill.bin";
    for (const int call : SomeCalls(total)) {
        SCOPED_TRACE(call);
        Install in = Fresh();
        std::map<std::string, std::string> before = Snapshot(in.feature);
        const int status = in.Run("/quiet", {"UPDATE_FILL_AT_CALL=" + std::to_string(call)},
                                  "tests/update_stepstop.exe");
        std::map<std::string, std::string> now = Snapshot(in.feature);
        EXPECT_TRUE(ts::Exists(filler));
        ts::RemoveTree(filler);
        ExpectCompleteOrFinishable(in, status, before, expected, now);
    }
}

INSTANTIATE_TEST_SUITE_P(Quiet, FullDiskTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return ModeName(info.param);
                         });

INSTANTIATE_TEST_SUITE_P(Quiet, QuietTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return ModeName(info.param);
                         });

// What does not depend on the mode, run once.
INSTANTIATE_TEST_SUITE_P(Quiet, QuietClientTest, ::testing::Values(2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return ModeName(info.param);
                         });

} // namespace
