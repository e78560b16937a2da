// The update procedure in this process, over real feature and install
// folders: what a run writes and logs, what stops it before its first
// change, and the worker thread that reports its end.
#include <gtest/gtest.h>

#include "ErrorText.h"
#include "FileLayer.h"
#include "Thread.h"
#include "General.h"
#include "GeneratedFiles.h"
#include "Keep.h"
#include "Log.h"
#include "Owners.h"
#include "Plan.h"
#include "Precheck.h"
#include "TestSupport.h"
#include "UpdateTestSupport.h"
#include "FolderPack.h"
#include "FolderPackWriter.h"

#include <winsock2.h>
#include <windows.h>
#include <algorithm>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

using ut::Messages;

namespace {

std::string IniValue(const std::string& file, const char* section, const char* key) {
    char value[1024];
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, file.c_str());
    return value;
}

const char kPatchJobWithTlx[] = "; Windows Update 支援機能の設定\r\n"
                                "[General]\r\n"
                                "Name=支援機能\r\n"
                                "Interval=60\r\n"
                                "[SUS]\r\n"
                                "TLX_SHARE=\"\\\\srv01\\share2$\"\r\n"
                                "Schedule=03:00\r\n"
                                "[WU]\r\n"
                                "WU_CMD=patchjob.vbe\r\n"
                                "Retry=3\r\n"
                                "[Extra]\r\n"
                                "Key=Value\r\n";

// The records of a successful run with TLX_SHARE set, from the payload on.
std::vector<std::string> SuccessRecords(const std::string& tmp, const std::string& feature,
                                        int mode) {
    const std::string f = feature + "\\";
    return {
        "テンポラリ " + tmp + " 生成.",
        "出力結果 1 .",
        "展開先フォルダ " + feature + " .",
        "TLX共有フォルダ \\\\srv01\\share2$ .",
        "サーバ srv01 .",
        "バックアップ " + f + "patchjob.ini.bak .",
        f + "patchjob.ini の書き換え.",
        "旧値 SUS_SHARE= TLX_SHARE=\\\\srv01\\share2$ WU_CMD=patchjob.vbe .",
        mode == 1 ? f + "patchcliXP.bat の生成." : f + "patchrun.bat の書き換え.",
        "旧 " + f + "patchjob.vbe .",
        "新 " + f + "patchjob.vb_ .",
        "旧 " + f + "AlertKey.exe .",
        "新 " + f + "AlertKey.ex_ .",
    };
}

std::string ClientArchiveFile(const char* name) {
    return ts::ReadBytes(ts::BuildFile(std::string("Update/res/payload/client/") + name));
}

class UpdateRun : public ut::UpdateFixture {};

// ---- successful runs ----

TEST_F(UpdateRun, ClientRunWritesItsRecordsAndFiles) {
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(ts::WriteBytes(F("patchjob.vbe"), "old script"));
    ASSERT_TRUE(ts::WriteBytes(F("AlertKey.exe"), "old program"));
    ASSERT_TRUE(ts::WriteBytes(F("patchrun.bat"), "line one\r\nline two\r\nline three\r\n"));
    ASSERT_TRUE(ts::WriteBytes(F("PatchHub.exe"), "older hub"));

    ASSERT_TRUE(Run(2));
    EXPECT_EQ(SuccessRecords(Tmp(), feature_, 2), Messages(g_logPath));
    // The client payload, resource 130, unpacked; the payload file gone.
    EXPECT_EQ(std::vector<std::string>{"Update_Log.txt"}, ts::ListDir(temp_));
    EXPECT_EQ(ClientArchiveFile("PatchHub.exe"), ts::ReadBytes(F("PatchHub.exe")));
    EXPECT_EQ(ClientArchiveFile("WUDetect.bat"), ts::ReadBytes(F("WUDetect.bat")));
    EXPECT_TRUE(ts::Exists(F("WSUS.txt")));
    EXPECT_FALSE(ts::Exists(F("WSUS.txt.upd~")));

    EXPECT_EQ("CMD /C \\\\srv01\\TALMEROWU$\\patchcliXP.bat\r\n", ts::ReadBytes(F("patchrun.bat")));
    EXPECT_FALSE(ts::Exists(F("patchcliXP.bat")));
    const std::string ini = F("patchjob.ini");
    EXPECT_EQ("\\\\srv01\\share2$", IniValue(ini, "SUS", "TLX_SHARE"));
    EXPECT_EQ("\\\\srv01\\share2$", IniValue(ini, "SUS", "SUS_SHARE"));
    EXPECT_EQ("patchcliXP.bat", IniValue(ini, "WU", "WU_CMD"));
    // Every other line stays, the share the feature names too, quotes and all.
    for (const char* line :
         {"; Windows Update 支援機能の設定", "Name=支援機能", "Interval=60",
          "TLX_SHARE=\"\\\\srv01\\share2$\"", "Schedule=03:00", "Retry=3", "[Extra]", "Key=Value"})
        EXPECT_NE(std::string::npos, ts::ReadBytes(ini).find(line)) << line;
    EXPECT_EQ(kPatchJobWithTlx, ts::ReadBytes(F("patchjob.ini.bak")));
    EXPECT_EQ("srv01", IniValue(F("PatchSvc.ini"), "WSUS", "Server"));
    EXPECT_EQ("8530", IniValue(F("PatchSvc.ini"), "WSUS", "Port"));
    EXPECT_EQ("old script", ts::ReadBytes(F("patchjob.vb_")));
    EXPECT_EQ("old program", ts::ReadBytes(F("AlertKey.ex_")));
    EXPECT_FALSE(ts::Exists(F("patchjob.vbe")));
    EXPECT_FALSE(ts::Exists(F("AlertKey.exe")));
    for (const std::string& name : ts::ListDir(feature_))
        EXPECT_EQ(std::string::npos, name.find(".upd~")) << name;
}

TEST_F(UpdateRun, ServerRunWritesTheCommandFilesByteForByte) {
    // A feature folder with blanks, as the CD line has to cope with.
    SetFolders(root_ + "\\Program Files\\TALMERO Pro\\bin",
               root_ + "\\Program Files\\TALMERO Pro\\WU");
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(ts::WriteBytes(F("patchcli2000.bat"), "an older copy that is much longer\r\n"));

    ASSERT_TRUE(Run(1));
    EXPECT_EQ(SuccessRecords(Tmp(), feature_, 1), Messages(g_logPath));
    EXPECT_TRUE(ts::Exists(F("ReadMeSrv.txt")));
    EXPECT_FALSE(ts::Exists(F("ReadMeCli.txt")));
    const std::string expected = "\\\\srv01\\TALMEROWU$\\cfgpull.exe\r\n"
                                 "CD \"" +
                                 feature_ +
                                 "\"\r\n"
                                 "patchrun.vbe START\r\n"
                                 "PatchHub.exe /HubReach\r\n"
                                 "PatchHub.exe /HubNowUpdate\r\n"
                                 "PatchHub.exe /HubInst\r\n"
                                 "patchrun.vbe END\r\n";
    EXPECT_EQ(expected, ts::ReadBytes(F("patchcliXP.bat")));
    EXPECT_EQ(expected, ts::ReadBytes(F("patchcli2000.bat")));
    EXPECT_FALSE(ts::Exists(F("patchrun.bat")));
}

int WINAPI HostNamed(char* name, int length) {
    snprintf(name, static_cast<size_t>(length), "HOST-01");
    return 0;
}

// Where the share and the server come from, and what the settings then say.
// The feature folder reaches the command interpreter as written: the real
// cmd runs the CD line of patchcliXP.bat and lands in a folder whose name
// holds '%', %PATH%-like text, '^' and '&'. One holding a '!', which an
// interpreter with delayed expansion on would drop, stops the update first.
TEST_F(UpdateRun, TheCommandFileCarriesTheFeatureFolderAsWritten) {
    const std::string app = root_ + "\\Tools 100% %PATH% ^&";
    SetFolders(app + "\\bin", app + "\\WU");
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(Run(1));
    const std::string text = ts::ReadBytes(F("patchcliXP.bat"));
    const size_t cd = text.find("CD \"");
    ASSERT_NE(std::string::npos, cd) << text;
    const std::string line = text.substr(cd, text.find("\r\n", cd) + 2 - cd);
    ASSERT_TRUE(
        ts::WriteBytes(temp_ + "\\probe.bat", "@ECHO OFF\r\n" + line + "CD > where.txt\r\n"));
    ts::Child cmd;
    ASSERT_TRUE(cmd.Start("cmd /c probe.bat", {}, temp_)) << cmd.StartErrors();
    ASSERT_EQ(0, cmd.Wait(ts::kHangMs)) << line;
    EXPECT_EQ(feature_ + "\r\n", ts::ReadBytes(F("where.txt"))) << line;

    SetFolders(root_ + "\\Tools!\\bin", root_ + "\\Tools!\\WU");
    Reset();
    WritePatchJob(kPatchJobWithTlx);
    EXPECT_FALSE(Run(1));
    const std::vector<std::string> records = Messages(g_logPath);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ("更新不可 " + feature_ +
                  " : ! や制御文字を含むフォルダはコマンドファイルに書けません .",
              records.back());
    EXPECT_EQ(std::vector<std::string>{"patchjob.ini"}, ts::ListDir(feature_));
}

TEST_F(UpdateRun, TheShareFromEachSource) {
    const struct {
        const char* name;
        int mode;
        const char* patchJob; // null: no patchjob.ini
        std::vector<std::string> shareRecords;
        const char* share;
        const char* server;
    } cases[] = {
        {"SUS_SHARE",
         2,
         "[SUS]\r\nTLX_SHARE=\r\nSUS_SHARE=\\\\srv01\\SUSSHARE\r\n",
         {"TLX共有フォルダ  .", "TLX共有フォルダ \\\\srv01\\TALMEROWU$ .", "サーバ srv01 ."},
         "\\\\srv01\\TALMEROWU$",
         "srv01"},
        {"own host name",
         1,
         nullptr,
         {"TLX共有フォルダ  .", "救済措置失敗.", "TLX共有フォルダ \\\\HOST-01\\TALMEROWU$ .",
          "サーバ HOST-01 ."},
         "\\\\HOST-01\\TALMEROWU$",
         "HOST-01"},
        {"double-byte server name",
         2,
         "[SUS]\r\nTLX_SHARE=\\\\鯖表\\share\r\n",
         {"TLX共有フォルダ \\\\鯖表\\share .", "サーバ 鯖表 ."},
         "\\\\鯖表\\share",
         "鯖表"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        if (c.patchJob != nullptr)
            WritePatchJob(c.patchJob);
        UpdateHooks hooks;
        hooks.hostName = HostNamed;
        ASSERT_TRUE(Run(c.mode, hooks));
        std::vector<std::string> records = Messages(g_logPath);
        ASSERT_GT(records.size(), 3 + c.shareRecords.size());
        EXPECT_EQ(c.shareRecords,
                  std::vector<std::string>(records.begin() + 3,
                                           records.begin() + 3 + c.shareRecords.size()));
        EXPECT_EQ(c.share, IniValue(F("patchjob.ini"), "SUS", "SUS_SHARE"));
        EXPECT_EQ(c.patchJob == nullptr || strstr(c.patchJob, "TLX_SHARE=\r\n") != nullptr
                      ? c.share
                      : IniValue(F("patchjob.ini.bak"), "SUS", "TLX_SHARE"),
                  IniValue(F("patchjob.ini"), "SUS", "TLX_SHARE"));
        EXPECT_EQ(c.server, IniValue(F("PatchSvc.ini"), "WSUS", "Server"));
        if (c.mode == 2) {
            EXPECT_EQ(std::string("CMD /C \\\\") + c.server + "\\TALMEROWU$\\patchcliXP.bat\r\n",
                      ts::ReadBytes(F("patchrun.bat")));
        }
    }
}

// Old files keep a backup already there; libraries come when the install
// folder has them, read-only ones too, over read-only copies.
TEST_F(UpdateRun, RetiredFilesAndLibraries) {
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(ts::WriteBytes(F("patchjob.vbe"), "current script"));
    ASSERT_TRUE(ts::WriteBytes(F("patchjob.vb_"), "earlier backup"));
    ASSERT_TRUE(ts::WriteBytes(F("AlertKey.exe"), "old program"));
    ASSERT_TRUE(ts::WriteBytes(I("UserGate.dll"), "UserGate 2.0"));
    ASSERT_TRUE(ts::WriteBytes(I("NETLK16.DLL"), "NETLK16 2.0"));
    ASSERT_TRUE(ts::WriteBytes(I("HostBind.dll"), "HostBind 2.0"));
    ASSERT_TRUE(ts::WriteBytes(F("NETLK16.DLL"), "NETLK16 1.0 with more bytes"));
    SetFileAttributesA(I("NETLK16.DLL").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(F("NETLK16.DLL").c_str(), FILE_ATTRIBUTE_READONLY);
    ut::RefuseLikeWindows windows;

    ASSERT_TRUE(Run(2));
    EXPECT_EQ(SuccessRecords(Tmp(), feature_, 2), Messages(g_logPath));
    EXPECT_EQ("current script", ts::ReadBytes(F("patchjob.vbe")));
    EXPECT_EQ("earlier backup", ts::ReadBytes(F("patchjob.vb_")));
    EXPECT_EQ("old program", ts::ReadBytes(F("AlertKey.ex_")));
    EXPECT_EQ("UserGate 2.0", ts::ReadBytes(F("UserGate.dll")));
    EXPECT_EQ("NETLK16 2.0", ts::ReadBytes(F("NETLK16.DLL")));
    EXPECT_TRUE(ts::Attributes(F("NETLK16.DLL")) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ("HostBind 2.0", ts::ReadBytes(F("HostBind.dll")));
    for (const PlanStep& step : PlanFor(OperationMode::kClient)) {
        if (step.action == PlanAction::kCopyInstalled) {
            EXPECT_EQ(ts::Exists(I(step.source)), ts::Exists(F(step.target))) << step.target;
        }
    }
}

// Files that a customer made read-only are replaced, as the shell's copy
// replaced them; the update's own files are written as new files. Leftovers
// of an interrupted run go first, each with a record.
TEST_F(UpdateRun, ReadOnlyFilesAndLeftoversAreNoObstacle) {
    WritePatchJob(kPatchJobWithTlx);
    const char* const readOnly[] = {"patchjob.ini", "patchrun.bat", "PatchHub.exe",
                                    "patchjob.ini.upd~", "WSUS.txt.upd~"};
    for (const char* name : readOnly) {
        if (!ts::Exists(F(name))) {
            ASSERT_TRUE(ts::WriteBytes(F(name), "left"));
        }
        SetFileAttributesA(F(name).c_str(), FILE_ATTRIBUTE_READONLY);
    }
    ASSERT_TRUE(ts::WriteBytes(F(kFpNewFileName), "left"));
    ut::RefuseLikeWindows windows;

    ASSERT_TRUE(Run(2));
    const std::vector<std::string> records = Messages(g_logPath);
    const std::vector<std::string> removed = {
        "中断時の残り " + F("patchjob.ini.upd~") + " を削除.",
        "中断時の残り " + F("WSUS.txt.upd~") + " を削除.",
        "中断時の残り " + F(kFpNewFileName) + " を削除.",
    };
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(removed, std::vector<std::string>(records.begin(), records.begin() + 3));
    for (const char* name : {"patchjob.ini", "patchrun.bat"})
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), ts::Attributes(F(name))) << name;
    EXPECT_EQ("patchcliXP.bat", IniValue(F("patchjob.ini"), "WU", "WU_CMD"));
    EXPECT_EQ(ClientArchiveFile("PatchHub.exe"), ts::ReadBytes(F("PatchHub.exe")));
    EXPECT_FALSE(ts::Exists(F("patchjob.ini.upd~")));
    EXPECT_FALSE(ts::Exists(F(kFpNewFileName)));
    EXPECT_TRUE(ts::Exists(F("WSUS.txt")));
}

// A leftover that cannot be removed stops the update before its first
// change, with one record that names it and the reason: a folder of its
// name, a file held without delete sharing, a link (shown as Windows shows
// it: removing it could remove what it points to).
std::string g_link;
TEST_F(UpdateRun, ALeftoverThatCannotBeRemovedStopsTheUpdateBeforeAnyChange) {
    enum How { kFolder, kHeld, kLink };
    const struct {
        const char* name;
        How how;
        DWORD error;
    } cases[] = {
        {"patchjob.ini.upd~", kFolder, ERROR_ACCESS_DENIED},
        {"WSUS.txt.upd~", kHeld, ERROR_SHARING_VIOLATION},
        {kFpNewFileName, kHeld, ERROR_SHARING_VIOLATION},
        {"patchrun.bat.upd~", kLink, ERROR_ACCESS_DENIED},
    };
    const std::string elsewhere = root_ + "\\elsewhere.txt";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        WritePatchJob(kPatchJobWithTlx);
        ASSERT_TRUE(ts::WriteBytes(elsewhere, "not a leftover"));
        const std::string path = F(c.name);
        g_link = c.how == kLink ? path : "";
        UniqueHandle held;
        if (c.how == kFolder) {
            ASSERT_TRUE(ts::MakeDirs(path));
        } else if (c.how == kHeld) {
            ASSERT_TRUE(ts::WriteBytes(path, "left"));
            held.Attach(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
        } else if (!ts::MakeUnixSymlink(elsewhere, path)) {
            printf("SKIPPED LOUDLY: no symbolic link can be made here\n");
            continue;
        }
        SetAttributesHook([](const char* name, DWORD attributes) {
            return g_link == name ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
        });
        const std::map<std::string, std::string> before = ut::Snapshot(feature_);
        const bool updated = Run(2);
        SetAttributesHook(nullptr);
        held.Close();
        EXPECT_FALSE(updated);
        char reason[512];
        FormatErrorText(c.error, reason, sizeof reason);
        EXPECT_EQ(std::vector<std::string>{path + " 削除失敗 : " + reason + " ."},
                  Messages(g_logPath));
        EXPECT_EQ("", ut::Differences(before, ut::Snapshot(feature_)));
        EXPECT_EQ("not a leftover", ts::ReadBytes(elsewhere));
        if (c.how == kLink) {
            EXPECT_TRUE(ts::RemoveUnixSymlink(path));
        }
    }
}

// The payload goes to a file of this run's own when Update.tmp is taken by
// something that is no file of its own (a folder, a link, which is never
// written through, a second name of a read-only file, whose bit stays),
// under a name that nobody could take in advance: every name another
// account could have made first is taken here.
TEST_F(UpdateRun, APayloadFileInTheWayIsWrittenUnderAnotherName) {
    const std::string elsewhere = root_ + "\\elsewhere.txt";
    enum InTheWay { kFolder, kLink, kSecondName };
    std::vector<std::string> drawn;
    for (const InTheWay way : {kFolder, kLink, kSecondName}) {
        SCOPED_TRACE(way);
        Reset();
        WritePatchJob(kPatchJobWithTlx);
        SetFileAttributesA(elsewhere.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(ts::WriteBytes(elsewhere, "not the payload's"));
        if (way == kSecondName) {
            ASSERT_TRUE(SetFileAttributesA(elsewhere.c_str(), FILE_ATTRIBUTE_READONLY));
            ASSERT_TRUE(CreateHardLinkA(Tmp().c_str(), elsewhere.c_str(), nullptr));
        }
        // A link of the Unix system: Wine shows it as the file it points to.
        ASSERT_TRUE(way == kLink     ? ts::MakeUnixSymlink(elsewhere, Tmp())
                    : way == kFolder ? ts::MakeDirs(Tmp())
                                     : true);
        for (int n = 1; n < 100; ++n)
            ASSERT_TRUE(ts::MakeDirs(temp_ + "\\Update." + std::to_string(n) + ".tmp"));
        const std::vector<std::string> squatted = ts::ListDir(temp_);
        ASSERT_TRUE(Run(2));
        const std::vector<std::string> records = Messages(g_logPath);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ("not the payload's", ts::ReadBytes(elsewhere));
        // Update.<16 hex digits>.tmp
        const std::string head = "テンポラリ " + temp_ + "\\Update.";
        EXPECT_EQ(head, records[0].substr(0, head.size()));
        EXPECT_EQ(std::string::npos,
                  records[0].substr(head.size(), 16).find_first_not_of("0123456789abcdef"));
        EXPECT_EQ(".tmp 生成.", records[0].substr(head.size() + 16));
        // Drawn anew each time, not counted: a count is a name to take first.
        EXPECT_EQ(drawn.end(), std::find(drawn.begin(), drawn.end(), records[0]));
        drawn.push_back(records[0]);
        std::vector<std::string> left = ts::ListDir(temp_);
        left.erase(std::remove(left.begin(), left.end(), "Update_Log.txt"), left.end());
        EXPECT_EQ(squatted, left);
        if (way == kLink) {
            EXPECT_TRUE(ts::RemoveUnixSymlink(Tmp()));
        }
        if (way == kSecondName) {
            EXPECT_TRUE(ts::Attributes(elsewhere) & FILE_ATTRIBUTE_READONLY);
        }
    }
    SetFileAttributesA(elsewhere.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// While the update unpacks, nobody can change the payload it reads: the
// bytes it checked are the bytes it unpacks.
TEST_F(UpdateRun, ThePayloadCannotBeSwappedWhileItIsUnpacked) {
    WritePatchJob(kPatchJobWithTlx);
    const std::string forged = root_ + "\\forged.tmp";
    ASSERT_TRUE(ts::WriteBytes(forged, "Folder Pack forged"));
    struct Attempt {
        std::string payload, forged, feature;
        bool tried = false;
        std::vector<std::string> succeeded;
    } attempt{Tmp(), forged, feature_, false, {}};
    SetDiskCallHook(
        [](void* context, DiskCall call, const char* path, const char*, DWORD) {
            Attempt& a = *static_cast<Attempt*>(context);
            // At the unpack's first file the payload is written and open;
            // the keep comes before it.
            const std::string target = path;
            if (call != DiskCall::kCreate || a.tried ||
                target.compare(0, a.feature.size(), a.feature) != 0 ||
                target.find(kKeepFolder) != std::string::npos)
                return true;
            a.tried = true;
            HANDLE writer = CreateFileA(a.payload.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
            if (writer != INVALID_HANDLE_VALUE) {
                a.succeeded.push_back("opened for writing");
                CloseHandle(writer);
            }
            if (MoveFileExA(a.forged.c_str(), a.payload.c_str(), MOVEFILE_REPLACE_EXISTING))
                a.succeeded.push_back("replaced");
            if (DeleteFileA(a.payload.c_str()))
                a.succeeded.push_back("deleted");
            return true;
        },
        &attempt);
    const bool updated = Run(2);
    SetDiskCallHook(nullptr, nullptr);
    EXPECT_TRUE(attempt.tried);
    EXPECT_EQ(std::vector<std::string>{}, attempt.succeeded);
    ASSERT_TRUE(updated);
    EXPECT_EQ(ClientArchiveFile("PatchHub.exe"), ts::ReadBytes(F("PatchHub.exe")));
    EXPECT_EQ(ClientArchiveFile("WUStart.bat"), ts::ReadBytes(F("WUStart.bat")));
}

// A name counts only once its data is on the disk: every file the update
// creates is flushed before the call that finishes it, and every file that
// takes another name was flushed first (but the old files moved aside,
// which the update does not write). Every rename is written through to the
// disk before it returns, which Wine would not show.
TEST_F(UpdateRun, DataReachesTheDiskBeforeItsName) {
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(ts::WriteBytes(F("patchjob.vbe"), "old script"));
    ASSERT_TRUE(ts::WriteBytes(F("PatchHub.exe"), "older hub"));
    ASSERT_TRUE(ts::WriteBytes(I("UserGate.dll"), "UserGate 2.0"));
    struct Calls {
        std::vector<std::pair<DiskCall, std::string>> seen;
        std::vector<std::string> movedUnflushed;
        std::vector<std::string> flushed;
        std::vector<std::string> movedLazily;
    } calls;
    SetDiskCallHook(
        [](void* context, DiskCall call, const char* path, const char* from, DWORD flags) {
            Calls& c = *static_cast<Calls*>(context);
            if (call == DiskCall::kFlush)
                c.flushed.push_back(path);
            if (call == DiskCall::kMove &&
                std::find(c.flushed.begin(), c.flushed.end(), from) == c.flushed.end())
                c.movedUnflushed.push_back(from);
            if (call == DiskCall::kMove && !(flags & MOVEFILE_WRITE_THROUGH))
                c.movedLazily.push_back(from);
            c.seen.push_back({call, path});
            return true;
        },
        &calls);
    const bool updated = Run(1);
    SetDiskCallHook(nullptr, nullptr);
    ASSERT_TRUE(updated);
    EXPECT_EQ(std::vector<std::string>{F("patchjob.vbe")}, calls.movedUnflushed);
    EXPECT_EQ(std::vector<std::string>{}, calls.movedLazily);
    // The archive's new files, the marker's aside name among them, each flushed
    // (the one that replaced PatchHub.exe was flushed before it moved).
    for (const char* name : {"WSUS.txt.upd~", "Version.txt"})
        EXPECT_NE(calls.flushed.end(),
                  std::find(calls.flushed.begin(), calls.flushed.end(), std::string(F(name))))
            << name;
    // The marker is the last change.
    ASSERT_FALSE(calls.seen.empty());
    EXPECT_EQ(DiskCall::kMove, calls.seen.back().first);
    EXPECT_EQ(F("WSUS.txt"), calls.seen.back().second);
}

// What the worker reports, from its thread.
struct WorkerReport {
    int calls = 0;
    bool succeeded = false;
    DWORD thread = 0;
    HANDLE done = nullptr;
} g_report;

TEST_F(UpdateRun, RunsOnTheFrameworkWorkerThreadAndReportsOnce) {
    WritePatchJob(kPatchJobWithTlx);
    UniqueHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    g_report = WorkerReport();
    g_report.done = done.Get();
    UpdateWork work;
    work.target = Target(2);
    work.finished = [](bool succeeded) {
        ++g_report.calls;
        g_report.succeeded = succeeded;
        g_report.thread = GetCurrentThreadId();
        SetEvent(g_report.done);
    };
    ASSERT_TRUE(BeginWorkerThread(UpdateWorker, &work));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done.Get(), ts::kHangMs));
    EXPECT_EQ(1, g_report.calls);
    EXPECT_TRUE(g_report.succeeded);
    EXPECT_NE(GetCurrentThreadId(), g_report.thread);
    EXPECT_TRUE(ts::Exists(F("WSUS.txt")));
}

// ---- stopped before the first change ----

int WINAPI NoHostName(char*, int) {
    WSASetLastError(WSANOTINITIALISED);
    return SOCKET_ERROR;
}

// The share and the server are looked at before anything is written: what
// cannot be named in the command files stops the update with the records
// that say why, and nothing in the feature folder changes.
// A host name of length bytes, its labels 60 bytes long.
std::string LongHostName(size_t length) {
    std::string name(length, 's');
    for (size_t i = 60; i < length; i += 61)
        name[i] = '.';
    return name;
}

TEST_F(UpdateRun, AShareOrServerThatCannotBeNamedStopsTheUpdateFirst) {
    const std::string server246 = LongHostName(246), server247 = LongHostName(247);
    const std::string share300 = "\\\\srv\\" + std::string(294, 'p');
    char noHost[512];
    FormatErrorText(WSANOTINITIALISED, noHost, sizeof noHost);
    const struct {
        const char* name;
        int mode;
        std::string patchJob; // empty: no patchjob.ini
        std::vector<std::string> records;
    } cases[] = {
        {"client without share", 2, "", {"TLX共有フォルダ  .", "救済措置失敗."}},
        {"server without host name",
         1,
         "",
         {"TLX共有フォルダ  .", "救済措置失敗.",
          std::string("サーバ救済措置失敗 : ") + noHost + " ."}},
        {"server name of 247 bytes",
         2,
         "[SUS]\r\nSUS_SHARE=\\\\" + server247 + "\\old\r\n",
         {"TLX共有フォルダ  .", "共有パス生成失敗 " + server247 + " ."}},
        {"empty server name",
         2,
         "[SUS]\r\nTLX_SHARE=\\\\\r\n",
         {"TLX共有フォルダ \\\\ .", "サーバ名不正  : 英数字と - . _ 以外は使えません ."}},
        // Cut to 259 bytes, it would name a share of its own.
        {"TLX_SHARE of 300 bytes",
         2,
         "[SUS]\r\nTLX_SHARE=" + share300 + "\r\n",
         {"TLX共有フォルダ " + share300.substr(0, 259) + " .",
          "設定値 [SUS] TLX_SHARE が長すぎます ."}},
        {"SUS_SHARE of 300 bytes",
         1,
         "[SUS]\r\nSUS_SHARE=" + share300 + "\r\n",
         {"TLX共有フォルダ  .", "設定値 [SUS] SUS_SHARE が長すぎます ."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        if (!c.patchJob.empty())
            WritePatchJob(c.patchJob);
        const std::vector<std::string> before = ts::ListDir(feature_);
        UpdateHooks hooks;
        hooks.hostName = NoHostName;
        EXPECT_FALSE(Run(c.mode, hooks));
        EXPECT_EQ(c.records, Messages(g_logPath));
        EXPECT_EQ(before, ts::ListDir(feature_));
    }
    // One byte less fits.
    Reset();
    WritePatchJob("[SUS]\r\nSUS_SHARE=\\\\" + server246 + "\\old\r\n");
    EXPECT_TRUE(Run(2));
    EXPECT_EQ("\\\\" + server246 + "\\TALMEROWU$", IniValue(F("patchjob.ini"), "SUS", "SUS_SHARE"));
}

// A server name goes into command files that the feature runs later: a
// character the command interpreter would act on is refused, with the value
// shown as it is (control characters escaped).
TEST_F(UpdateRun, AServerNameThatIsNoHostNameIsRefused) {
    const char* const refused[] = {
        "srv01&echo INJECTED>inj.txt&rem ",
        "srv^01",
        "srv|01",
        "srv>01",
        "srv\"01",
        "srv%01%",
        "srv 01",
        "srv\t01",
        "srv(01)",
        "srv!01",
        "srv;01",
        "srv,01",
        ".",
        // The first character is judged too.
        "&srv01",
        "^srv",
        " srv01",
        "%x%srv",
    };
    for (const char* server : refused) {
        SCOPED_TRACE(server);
        Reset();
        WritePatchJob(std::string("[SUS]\r\nTLX_SHARE=\\\\") + server + "\\TALMEROWU$\r\n");
        EXPECT_FALSE(Run(2));
        char shown[512];
        PrintableValue(server, shown, sizeof shown);
        const std::vector<std::string> records = Messages(g_logPath);
        ASSERT_EQ(2u, records.size());
        EXPECT_EQ(std::string("サーバ名不正 ") + shown + " : 英数字と - . _ 以外は使えません .",
                  records[1]);
        EXPECT_EQ(std::vector<std::string>{"patchjob.ini"}, ts::ListDir(feature_));
    }
}

TEST(IsHostName, TakesRfc1123AndNetBiosNamesOnly) {
    const struct {
        std::string name;
        bool taken;
    } cases[] = {
        {"srv-01.example_corp.local", true},
        {"ｻｰﾊﾞ01", true},
        {"サーバ01.local", true},
        {"10.0.0.1", true},
        {std::string(63, 'a') + ".b", true},
        {LongHostName(253), true},
        {"", false},
        {".", false}, // \\.\ is the device namespace
        {"..", false},
        {"-", false},
        {"srv.", false},
        {".srv", false},
        {"a..b", false},
        {"-srv", false},
        {"srv-.local", false},
        {"a.-b", false},
        {std::string(64, 'a') + ".b", false},
        {LongHostName(254), false},
        {"srv%PATH%", false},
        {"srv?", false},
        {"\x83", false}, // a lead byte alone
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.taken, IsHostName(c.name.c_str())) << c.name;
}

// Whatever stands where the update has to write stops it before its first
// change, with one record that names the file and the reason.
// A leftover that is a second name of a read-only file cannot be removed
// without taking the bit from the other name too: the update stops before
// its first change and says which.
TEST_F(UpdateRun, AReadOnlyLeftoverWithAnotherNameStopsTheUpdate) {
    WritePatchJob(kPatchJobWithTlx);
    const std::string other = root_ + "\\other.txt";
    ASSERT_TRUE(ts::WriteBytes(other, "someone else's"));
    ASSERT_TRUE(SetFileAttributesA(other.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string leftover = F("patchjob.ini.upd~");
    ASSERT_TRUE(CreateHardLinkA(leftover.c_str(), other.c_str(), nullptr));
    const std::vector<std::string> before = ts::ListDir(feature_);
    EXPECT_FALSE(Run(2));
    char denied[512];
    FormatErrorText(ERROR_ACCESS_DENIED, denied, sizeof denied);
    EXPECT_EQ(std::vector<std::string>{leftover + " 削除失敗 : " + denied + " ."},
              Messages(g_logPath));
    EXPECT_EQ(before, ts::ListDir(feature_));
    EXPECT_TRUE(ts::Attributes(other) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(other.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(UpdateRun, WhatIsInTheWayStopsTheUpdateBeforeAnyChange) {
    enum How { kFolder, kHeldNoSharing, kHeldWithoutDelete };
    const struct {
        int mode;
        const char* file;
        How how;
        const char* reason; // empty: the system's text for a sharing violation
    } cases[] = {
        {2, "PatchSvc.ini", kFolder, "フォルダです"},
        {2, "patchrun.bat", kFolder, "フォルダです"},
        {1, "patchcliXP.bat", kFolder, "フォルダです"},
        {1, "patchcli2000.bat", kHeldNoSharing, ""},
        {2, "patchjob.ini", kHeldWithoutDelete, ""},
        {2, "WUDetect.bat", kHeldWithoutDelete, ""},
        {1, "PatchHub.exe", kHeldNoSharing, ""},
        {2, "UserGate.dll", kHeldNoSharing, ""},
        {2, "patchjob.vbe", kHeldWithoutDelete, ""},
    };
    char sharing[512];
    FormatErrorText(ERROR_SHARING_VIOLATION, sharing, sizeof sharing);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Reset();
        WritePatchJob(kPatchJobWithTlx);
        ASSERT_TRUE(ts::WriteBytes(I("UserGate.dll"), "UserGate 2.0"));
        const std::string path = F(c.file);
        if (c.how == kFolder) {
            ASSERT_TRUE(ts::MakeDirs(path));
        } else if (!ts::Exists(path)) {
            ASSERT_TRUE(ts::WriteBytes(path, "in the way"));
        }
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.how != kFolder)
            held = CreateFileA(path.c_str(), GENERIC_READ,
                               c.how == kHeldNoSharing ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        const std::vector<std::string> before = ts::ListDir(feature_);
        const bool updated = Run(c.mode);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_FALSE(updated);
        EXPECT_EQ(std::vector<std::string>{"更新不可 " + path + " : " +
                                           (c.reason[0] != '\0' ? c.reason : sharing) + " ."},
                  Messages(g_logPath));
        EXPECT_EQ(before, ts::ListDir(feature_));
        EXPECT_EQ(std::vector<std::string>{"Update_Log.txt"}, ts::ListDir(temp_));
    }
}

// Every path the update writes, work names included, fits 259 bytes, or
// nothing is changed: the longest are patchjob.ini.bak.upd~ and
// patchcli2000.bat.upd~, 21 bytes after the folder and its backslash.
TEST_F(UpdateRun, FolderLengthsAtTheLimit) {
    const struct {
        size_t feature; // 0: the usual folder
        size_t install; // with its backslash; 0: the usual folder
        int mode;
        std::vector<std::string> records; // empty: success
    } cases[] = {
        {237, 0, 2, {}},
        {237, 0, 1, {}},
        {238, 0, 2, {"パス生成失敗 patchjob.ini.bak ."}},
        {238, 0, 1, {"パス生成失敗 patchjob.ini.bak ."}},
        {0, 247, 2, {}},
        {0, 248, 2, {"パス生成失敗 UserGate.dll ."}},
    };
    const std::string usualFeature = feature_, usualInstall = install_;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.feature) + " " + std::to_string(c.install));
        std::string feature = usualFeature, install = usualInstall;
        if (c.feature > 0)
            feature = root_ + "\\f" + std::string(c.feature - root_.size() - 2, 'w');
        if (c.install > 0)
            install = root_ + "\\i" + std::string(c.install - 1 - root_.size() - 2, 'i');
        SetFolders(install, feature);
        Reset();
        WritePatchJob(kPatchJobWithTlx);
        ASSERT_TRUE(ts::WriteBytes(I("UserGate.dll"), "UserGate 2.0"));
        EXPECT_EQ(c.records.empty(), Run(c.mode));
        if (c.records.empty()) {
            EXPECT_TRUE(ts::Exists(F("WSUS.txt")));
            EXPECT_TRUE(ts::Exists(F("UserGate.dll")));
        } else {
            EXPECT_EQ(c.records, Messages(g_logPath));
            EXPECT_EQ(std::vector<std::string>{"patchjob.ini"}, ts::ListDir(feature_));
        }
        ts::RemoveTree(feature);
        ts::RemoveTree(install);
    }
}

// The check before the first change refuses a payload that could never
// finish an update (one without the marker, one that does not unpack), and
// nothing that the update itself can do.
TEST_F(UpdateRun, TheCheckRefusesWhatWouldStopTheUpdateAndNothingElse) {
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(ts::WriteBytes(F("PatchHub.exe"), "older hub"));
    auto pack = [](std::vector<const char*> names) {
        std::string archive;
        FolderPackWriter writer;
        writer.UseMemory(&archive);
        const FILETIME time = {0, 0x01D00000};
        for (const char* name : names)
            writer.AddFile(name, FILE_ATTRIBUTE_ARCHIVE, time, time, "new", 3);
        writer.Finish();
        return archive;
    };
    const std::string unmarked = pack({"PatchHub.exe"});
    const std::string marked = pack({"WSUS.txt", "PatchHub.exe", "sub\\new.txt"});
    const struct {
        const char* name;
        std::string bytes;
        bool held; // PatchHub.exe open elsewhere, sharing everything
        CheckProblem problem;
    } cases[] = {
        {"no marker", unmarked, false, CheckProblem::kNoMarker},
        {"cut short", unmarked.substr(0, unmarked.size() - 1), false, CheckProblem::kBadArchive},
        // The unpack makes the folder.
        {"member in a new folder", marked, false, CheckProblem::kNone},
        // That handle lets the file be replaced.
        {"held sharing deletion", marked, true, CheckProblem::kNone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UniqueHandle holder;
        if (c.held)
            holder.Attach(CreateFileA(F("PatchHub.exe").c_str(), GENERIC_READ | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        const CheckResult check = CheckBeforeUpdate(
            Target(2), c.bytes.data(), static_cast<DWORD>(c.bytes.size()), gethostname);
        EXPECT_EQ(c.problem, check.problem) << check.path << " " << check.error;
    }
}

// The room asked for: each file of the payload in whole clusters of 4 KiB
// and one more for its entry, then a margin of 256 KiB.
TEST_F(UpdateRun, TheRoomAskedForCountsWholeClustersAndOneMorePerFile) {
    std::string archive;
    FolderPackWriter writer;
    writer.UseMemory(&archive);
    const FILETIME time = {0, 0x01D00000};
    const std::string content(4097, 'c');
    const struct {
        const char* name;
        size_t size; // clusters: 2, 1, 2, 3
    } files[] = {{"WSUS.txt", 5}, {"empty", 0}, {"page", 4096}, {"page and a byte", 4097}};
    for (const auto& f : files)
        writer.AddFile(f.name, FILE_ATTRIBUTE_ARCHIVE, time, time, content.data(), f.size);
    writer.Finish();
    CheckResult result;
    Checker check(result);
    EXPECT_TRUE(check.Members(ReadPayloadMembers(archive.data(), static_cast<DWORD>(archive.size()),
                                                 feature_.c_str())) &&
                check.Space(feature_.c_str()));
    EXPECT_EQ((2 + 1 + 2 + 3) * 4096ull + 256 * 1024, result.needed);
}

// ---- the pieces ----

// What the profile functions would keep or corrupt. A sample of a file's
// first bytes may end inside a character; the whole file may not.
TEST(ClassifyText, EncodingsWholeAndSampled) {
    const std::string nou = "能";            // 94 5C
    const std::string utf8 = "\xE8\x83\xBD"; // the same character in UTF-8
    const struct {
        std::string bytes;
        Sample sample;
        TextKind kind;
    } cases[] = {
        {"[SUS]\r\nTLX_SHARE=x\r\n", Sample::kWhole, TextKind::kAnsi},
        {"Name=" + nou, Sample::kWhole, TextKind::kAnsi},
        {"Name=" + nou.substr(0, 1), Sample::kWhole, TextKind::kMalformed},
        {"Name=" + nou.substr(0, 1), Sample::kFirstBytes, TextKind::kAnsi},
        {"Name=" + nou.substr(0, 1) + " x", Sample::kFirstBytes, TextKind::kMalformed},
        {"Name=\x80", Sample::kWhole, TextKind::kMalformed},
        {"Name=" + utf8, Sample::kWhole, TextKind::kUtf8},
        {"Name=" + utf8 + utf8.substr(0, 2), Sample::kFirstBytes, TextKind::kUtf8},
        {"\xEF\xBB\xBF[SUS]", Sample::kWhole, TextKind::kUtf8},
        {std::string("\xFF\xFE[\0S\0", 6), Sample::kWhole, TextKind::kUtf16},
        {std::string("\xFE\xFF\0[\0S", 6), Sample::kWhole, TextKind::kUtf16},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.kind, ClassifyText(c.bytes.data(), c.bytes.size(), c.sample)) << c.bytes;
    // The byte after the text is none of it, even where it would end the
    // character that the text's last byte begins.
    const std::string beyond = "Name=" + nou;
    EXPECT_EQ(TextKind::kMalformed, ClassifyText(beyond.data(), beyond.size() - 1, Sample::kWhole));
}

TEST(GeneratedFiles, ProfileValuesReadAsTheProfileFunctionsGiveThem) {
    const std::string dir = ts::ScratchDir("generated-ini");
    const std::string ini = dir + "\\patchjob.ini";
    char value[kProfileValueSize];
    ReadSusShare((dir + "\\missing.ini").c_str(), value);
    EXPECT_STREQ("", value);
    // Keys in any letter case; a long value is cut to 259 bytes.
    ASSERT_TRUE(ts::WriteBytes(ini, "[sus]\r\ntlx_share=" + std::string(300, 'v') + "\r\n"));
    ReadTlxShare(ini.c_str(), value);
    EXPECT_EQ(259u, strlen(value));
    ts::RemoveTree(dir);
}

} // namespace
