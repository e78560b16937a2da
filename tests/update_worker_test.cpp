// The update procedure end to end: UpdateWorker on a thread of its own over
// real feature and install folders, with a window of this test as the main
// window that receives the completion message, and the log it leaves.
#include <gtest/gtest.h>

#include "ErrorText.h"
#include "FileReplace.h"
#include "Framework.h"
#include "General.h"
#include "GeneratedFiles.h"
#include "Globals.h"
#include "Payload.h"
#include "Precheck.h"
#include "pack/FolderPack.h"
#include "TestSupport.h"
#include "Update.h"

#include <winsock2.h>
#include <windows.h>
#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

struct LogRecord {
    std::string date;
    std::string file;
    int line = 0;
    std::string thread;
    std::string message;
};

// "[YYYY/MM/DD hh:mm:ss] General.cpp LINE TID : message" per line.
std::vector<LogRecord> ReadLog(const std::string& path) {
    std::vector<LogRecord> records;
    std::string text = ts::ReadBytes(path);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 2;
        LogRecord r;
        size_t close = line.find("] ");
        size_t sep = line.find(" : ");
        if (line.empty() || line[0] != '[' || close != 20 || sep == std::string::npos) {
            r.message = "<malformed> " + line;
            records.push_back(r);
            continue;
        }
        r.date = line.substr(1, 19);
        char file[64] = {};
        char thread[16] = {};
        if (sscanf(line.substr(22, sep - 22).c_str(), "%63s %d %15s", file, &r.line, thread) != 3)
            r.message = "<malformed> ";
        r.file = file;
        r.thread = thread;
        r.message += line.substr(sep + 3);
        records.push_back(r);
    }
    return records;
}

std::vector<std::string> Messages(const std::vector<LogRecord>& records) {
    std::vector<std::string> m;
    for (const LogRecord& r : records)
        m.push_back(r.message);
    return m;
}

// The window that stands in for the main dialog: it records every
// completion message it receives.
std::vector<std::pair<WPARAM, LPARAM>> g_finished;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_UPDATE_FINISHED) {
        g_finished.push_back({wParam, lParam});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI WorkerEntry(void* param) {
    return UpdateWorker(param);
}

std::string IniValue(const std::string& file, const char* section, const char* key) {
    char value[1024];
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, file.c_str());
    return value;
}

struct RunResult {
    size_t messages = 0;
    WPARAM flag = 99;
    LPARAM lParam = 99;
    std::vector<LogRecord> log;
    double seconds = 0;
};

class UpdateRun : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root_ = ts::ScratchDir(std::string("worker-") + name);
        SetFolders(root_ + "\\App\\bin", root_ + "\\App\\WU");
        temp_ = root_ + "\\tmp";
        ASSERT_TRUE(ts::MakeDirs(temp_));
        SaveEnv("TMP", savedTmp_);
        SaveEnv("TEMP", savedTemp_);
        SetEnvironmentVariableA("TMP", temp_.c_str());
        SetEnvironmentVariableA("TEMP", temp_.c_str());
        snprintf(g_logPath, sizeof g_logPath, "%s\\Update_Log.txt", temp_.c_str());

        WNDCLASSA wc = {};
        wc.lpfnWndProc = MainWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "UpdateWorkerTestMain";
        RegisterClassA(&wc);
        window_ = CreateWindowA("UpdateWorkerTestMain", "main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, window_);
        g_mainWindow = window_;
    }

    void TearDown() override {
        if (window_ != nullptr)
            DestroyWindow(window_);
        g_mainWindow = nullptr;
        RestoreEnv("TMP", savedTmp_);
        RestoreEnv("TEMP", savedTemp_);
        if (!HasFailure())
            ts::RemoveTree(root_);
    }

    static void SaveEnv(const char* name, std::string& value) {
        char buffer[4096];
        DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
        value.assign(buffer, n < sizeof buffer ? n : 0);
    }
    static void RestoreEnv(const char* name, const std::string& value) {
        SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
    }

    // install: the install folder as the registry gives it; feature: the
    // feature folder as start-up derives it.
    void SetFolders(const std::string& install, const std::string& feature) {
        install_ = install;
        feature_ = feature;
        ASSERT_TRUE(ts::MakeDirs(install_));
        ASSERT_TRUE(ts::MakeDirs(feature_));
        ASSERT_LT(install_.size() + 1, sizeof g_installPath);
        ASSERT_LT(feature_.size(), sizeof g_featureFolder);
        snprintf(g_installPath, sizeof g_installPath, "%s\\", install_.c_str());
        snprintf(g_featureFolder, sizeof g_featureFolder, "%s", feature_.c_str());
    }

    std::string F(const std::string& name) const {
        std::string f = feature_;
        if (f.back() != '\\')
            f += "\\";
        return f + name;
    }
    std::string I(const std::string& name) const { return install_ + "\\" + name; }

    void WritePatchJob(const std::string& content) {
        ASSERT_TRUE(ts::WriteBytes(F("patchjob.ini"), content));
    }

    // Runs the worker on its own thread, pumping this thread's messages
    // until it has ended and a while after, and collects what arrived.
    RunResult Run(int mode) {
        g_operationMode = mode;
        g_finished.clear();
        RunResult result;
        LARGE_INTEGER frequency, start, stop;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        HANDLE thread = CreateThread(nullptr, 0, WorkerEntry, nullptr, 0, nullptr);
        EXPECT_NE(nullptr, thread);
        if (thread == nullptr)
            return result;
        DWORD deadline = GetTickCount() + 60000;
        bool ended = false;
        DWORD endedAt = 0;
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (!ended && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) {
                ended = true;
                endedAt = GetTickCount();
                QueryPerformanceCounter(&stop);
            }
            // Anything posted late would still arrive within this grace time.
            if (ended && GetTickCount() - endedAt > 200)
                break;
            if (GetTickCount() > deadline) {
                ADD_FAILURE() << "the worker did not end";
                TerminateThread(thread, 1);
                break;
            }
            MsgWaitForMultipleObjects(1, &thread, FALSE, 20, QS_ALLINPUT);
        }
        CloseHandle(thread);
        result.seconds = static_cast<double>(stop.QuadPart - start.QuadPart) /
                         static_cast<double>(frequency.QuadPart);
        result.messages = g_finished.size();
        if (!g_finished.empty()) {
            result.flag = g_finished[0].first;
            result.lParam = g_finished[0].second;
        }
        result.log = ReadLog(g_logPath);
        return result;
    }

    // Every record names General.cpp and the worker's thread, not this one.
    void ExpectWorkerRecords(const RunResult& r) {
        char self[16];
        snprintf(self, sizeof self, "%lx", GetCurrentThreadId());
        std::string worker = r.log.empty() ? "" : r.log[0].thread;
        for (const LogRecord& rec : r.log) {
            EXPECT_EQ("General.cpp", rec.file) << rec.message;
            EXPECT_GT(rec.line, 0);
            EXPECT_EQ(worker, rec.thread);
            EXPECT_NE(self, rec.thread);
            EXPECT_EQ('/', rec.date[4]);
        }
    }

    std::string Tmp() const { return temp_ + "\\Update.tmp"; }

    std::string root_;
    std::string install_;
    std::string feature_;
    std::string temp_;
    std::string savedTmp_;
    std::string savedTemp_;
    HWND window_ = nullptr;
};

// The records of a successful run with TLX_SHARE set and a patchjob.ini
// that had no share keys of its own but TLX_SHARE and its WU_CMD.
std::vector<std::string> SuccessRecords(const std::string& tmp, const std::string& feature,
                                        const std::string& share, const std::string& server,
                                        bool serverMode) {
    std::string f = feature + "\\";
    return {
        "テンポラリ " + tmp + " 生成.",
        "出力結果 1 .",
        "展開先フォルダ " + feature + " .",
        "TLX共有フォルダ " + share + " .",
        "サーバ " + server + " .",
        "バックアップ " + f + "patchjob.ini.bak .",
        f + "patchjob.ini の書き換え.",
        "旧値 SUS_SHARE= TLX_SHARE=" + share + " WU_CMD=patchjob.vbe .",
        serverMode ? f + "patchcliXP.bat の生成." : f + "patchrun.bat の書き換え.",
        "旧 " + f + "patchjob.vbe .",
        "新 " + f + "patchjob.vb_ .",
        "旧 " + f + "AlertKey.exe .",
        "新 " + f + "AlertKey.ex_ .",
    };
}

const char kPatchJobWithTlx[] = "; Windows Update 支援機能の設定\r\n"
                                "[General]\r\n"
                                "Name=支援機能\r\n"
                                "Interval=60\r\n"
                                "[SUS]\r\n"
                                "TLX_SHARE=\\\\srv01\\share2$\r\n"
                                "Schedule=03:00\r\n"
                                "[WU]\r\n"
                                "WU_CMD=patchjob.vbe\r\n"
                                "Retry=3\r\n"
                                "[Extra]\r\n"
                                "Key=Value\r\n";

std::string ClientArchiveFile(const char* name) {
    return ts::ReadBytes(ts::BuildFile(std::string("Update/res/payload/client/") + name));
}

} // namespace

// ---- successful runs ----

TEST_F(UpdateRun, ClientRunWritesTheElevenRecordsAndTheFiles) {
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(ts::WriteBytes(F("patchjob.vbe"), "old script"));
    ASSERT_TRUE(ts::WriteBytes(F("AlertKey.exe"), "old program"));
    ASSERT_TRUE(ts::WriteBytes(F("patchrun.bat"), "line one\r\nline two\r\nline three\r\n"));
    ASSERT_TRUE(ts::WriteBytes(F("PatchHub.exe"), "older hub"));

    RunResult r = Run(kModeClient);
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(1u, r.flag);
    EXPECT_EQ(0, r.lParam);
    EXPECT_EQ(SuccessRecords(Tmp(), feature_, "\\\\srv01\\share2$", "srv01", false),
              Messages(r.log));
    ExpectWorkerRecords(r);
    printf("whole client update: %.3f s\n", r.seconds);

    // The client payload, resource 130, unpacked; its file is gone again.
    EXPECT_FALSE(ts::Exists(Tmp()));
    EXPECT_FALSE(ts::Exists(F("WSUS.txt.upd~")));
    EXPECT_EQ(ClientArchiveFile("PatchHub.exe"), ts::ReadBytes(F("PatchHub.exe")));
    EXPECT_EQ(ClientArchiveFile("WUDetect.bat"), ts::ReadBytes(F("WUDetect.bat")));
    EXPECT_TRUE(ts::Exists(F("WSUS.txt")));

    EXPECT_EQ("CMD /C \\\\srv01\\TALMEROWU$\\patchcliXP.bat\r\n", ts::ReadBytes(F("patchrun.bat")));
    EXPECT_FALSE(ts::Exists(F("patchcliXP.bat")));
    EXPECT_FALSE(ts::Exists(F("patchcli2000.bat")));

    std::string ini = F("patchjob.ini");
    EXPECT_EQ("\\\\srv01\\share2$", IniValue(ini, "SUS", "TLX_SHARE"));
    EXPECT_EQ("\\\\srv01\\share2$", IniValue(ini, "SUS", "SUS_SHARE"));
    EXPECT_EQ("patchcliXP.bat", IniValue(ini, "WU", "WU_CMD"));
    EXPECT_EQ("支援機能", IniValue(ini, "General", "Name"));
    EXPECT_EQ("60", IniValue(ini, "General", "Interval"));
    EXPECT_EQ("03:00", IniValue(ini, "SUS", "Schedule"));
    EXPECT_EQ("3", IniValue(ini, "WU", "Retry"));
    EXPECT_EQ("Value", IniValue(ini, "Extra", "Key"));
    EXPECT_NE(std::string::npos, ts::ReadBytes(ini).find("; Windows Update 支援機能の設定"));
    EXPECT_EQ(kPatchJobWithTlx, ts::ReadBytes(F("patchjob.ini.bak")));

    EXPECT_EQ("srv01", IniValue(F("PatchSvc.ini"), "WSUS", "Server"));
    EXPECT_EQ("8530", IniValue(F("PatchSvc.ini"), "WSUS", "Port"));

    EXPECT_FALSE(ts::Exists(F("patchjob.vbe")));
    EXPECT_EQ("old script", ts::ReadBytes(F("patchjob.vb_")));
    EXPECT_FALSE(ts::Exists(F("AlertKey.exe")));
    EXPECT_EQ("old program", ts::ReadBytes(F("AlertKey.ex_")));
    // The next start refuses.
    EXPECT_TRUE(IsAlreadyUpdated());
}

TEST_F(UpdateRun, ServerRunWritesTheCommandFilesAndItsCopy) {
    // A feature folder with blanks, as the CD line has to cope with.
    SetFolders(root_ + "\\Program Files\\TALMERO Pro\\bin",
               root_ + "\\Program Files\\TALMERO Pro\\WU");
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(ts::WriteBytes(F("patchcli2000.bat"), "an older copy that is much longer\r\n"));

    RunResult r = Run(kModeServer);
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(1u, r.flag);
    EXPECT_EQ(SuccessRecords(Tmp(), feature_, "\\\\srv01\\share2$", "srv01", true),
              Messages(r.log));
    ExpectWorkerRecords(r);
    printf("whole server update: %.3f s\n", r.seconds);

    EXPECT_FALSE(ts::Exists(Tmp()));
    EXPECT_TRUE(ts::Exists(F("ReadMeSrv.txt")));
    EXPECT_FALSE(ts::Exists(F("ReadMeCli.txt")));
    std::string expected = "\\\\srv01\\TALMEROWU$\\cfgpull.exe\r\n"
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
    EXPECT_EQ("srv01", IniValue(F("PatchSvc.ini"), "WSUS", "Server"));
    EXPECT_EQ("patchcliXP.bat", IniValue(F("patchjob.ini"), "WU", "WU_CMD"));
}

TEST_F(UpdateRun, SusShareIsPointedAtTheFeatureShare) {
    WritePatchJob("[SUS]\r\nTLX_SHARE=\r\nSUS_SHARE=\\\\srv01\\SUSSHARE\r\n");
    RunResult r = Run(kModeClient);
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(1u, r.flag);
    std::vector<std::string> m = Messages(r.log);
    ASSERT_EQ(14u, m.size());
    EXPECT_EQ("TLX共有フォルダ  .", m[3]);
    EXPECT_EQ("TLX共有フォルダ \\\\srv01\\TALMEROWU$ .", m[4]);
    EXPECT_EQ("サーバ srv01 .", m[5]);
    EXPECT_EQ("\\\\srv01\\TALMEROWU$", IniValue(F("patchjob.ini"), "SUS", "SUS_SHARE"));
    EXPECT_EQ("\\\\srv01\\TALMEROWU$", IniValue(F("patchjob.ini"), "SUS", "TLX_SHARE"));
    EXPECT_EQ("CMD /C \\\\srv01\\TALMEROWU$\\patchcliXP.bat\r\n", ts::ReadBytes(F("patchrun.bat")));
}

TEST_F(UpdateRun, ServerWithoutShareUsesItsOwnHostName) {
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 0), &data));
    char host[260] = {};
    ASSERT_EQ(0, gethostname(host, sizeof host));
    RunResult r = Run(kModeServer);
    WSACleanup();

    std::string share = std::string("\\\\") + host + "\\TALMEROWU$";
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(1u, r.flag);
    std::vector<std::string> m = Messages(r.log);
    ASSERT_EQ(14u, m.size());
    EXPECT_EQ("TLX共有フォルダ  .", m[3]);
    EXPECT_EQ("救済措置失敗.", m[4]);
    EXPECT_EQ("TLX共有フォルダ " + share + " .", m[5]);
    EXPECT_EQ(std::string("サーバ ") + host + " .", m[6]);
    // No patchjob.ini before: the writes create it.
    EXPECT_EQ(share, IniValue(F("patchjob.ini"), "SUS", "SUS_SHARE"));
    EXPECT_EQ(share, IniValue(F("patchjob.ini"), "SUS", "TLX_SHARE"));
    EXPECT_EQ("patchcliXP.bat", IniValue(F("patchjob.ini"), "WU", "WU_CMD"));
    EXPECT_EQ(host, IniValue(F("PatchSvc.ini"), "WSUS", "Server"));
    EXPECT_EQ(share + "\\cfgpull.exe\r\n",
              ts::ReadBytes(F("patchcliXP.bat")).substr(0, share.size() + 14));
}

TEST_F(UpdateRun, RenamesKeepAnExistingBackup) {
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(ts::WriteBytes(F("patchjob.vbe"), "current script"));
    ASSERT_TRUE(ts::WriteBytes(F("patchjob.vb_"), "earlier backup"));
    ASSERT_TRUE(ts::WriteBytes(F("AlertKey.exe"), "old program"));
    RunResult r = Run(kModeClient);
    EXPECT_EQ(1u, r.flag);
    EXPECT_EQ(SuccessRecords(Tmp(), feature_, "\\\\srv01\\share2$", "srv01", false),
              Messages(r.log));
    EXPECT_EQ("current script", ts::ReadBytes(F("patchjob.vbe")));
    EXPECT_EQ("earlier backup", ts::ReadBytes(F("patchjob.vb_")));
    EXPECT_EQ("old program", ts::ReadBytes(F("AlertKey.ex_")));
    EXPECT_FALSE(ts::Exists(F("AlertKey.exe")));
}

TEST_F(UpdateRun, LibrariesAreCopiedWhenPresent) {
    WritePatchJob(kPatchJobWithTlx);
    // Present in the install folder: 1, 5 and 9; an older copy of 5 in the
    // feature folder.
    ASSERT_TRUE(ts::WriteBytes(I("UserGate.dll"), "UserGate 2.0"));
    ASSERT_TRUE(ts::WriteBytes(I("NETLK16.DLL"), "NETLK16 2.0"));
    ASSERT_TRUE(ts::WriteBytes(I("HostBind.dll"), "HostBind 2.0"));
    ASSERT_TRUE(ts::WriteBytes(F("NETLK16.DLL"), "NETLK16 1.0 with more bytes"));
    RunResult r = Run(kModeClient);
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(1u, r.flag);
    EXPECT_EQ(13u, r.log.size());
    EXPECT_EQ("UserGate 2.0", ts::ReadBytes(F("UserGate.dll")));
    EXPECT_EQ("NETLK16 2.0", ts::ReadBytes(F("NETLK16.DLL")));
    EXPECT_EQ("HostBind 2.0", ts::ReadBytes(F("HostBind.dll")));
    for (const char* library : kLibraries) {
        bool present = strcmp(library, "UserGate.dll") == 0 ||
                       strcmp(library, "NETLK16.DLL") == 0 || strcmp(library, "HostBind.dll") == 0;
        EXPECT_EQ(present, ts::Exists(F(library))) << library;
    }
}

TEST_F(UpdateRun, RunsOnTheFrameworkWorkerThread) {
    WritePatchJob(kPatchJobWithTlx);
    g_operationMode = kModeClient;
    g_finished.clear();
    ASSERT_TRUE(BeginWorkerThread(UpdateWorker, nullptr));
    DWORD deadline = GetTickCount() + 60000;
    MSG msg;
    while (g_finished.empty() && GetTickCount() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    Sleep(200);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    ASSERT_EQ(1u, g_finished.size());
    EXPECT_EQ(1u, g_finished[0].first);
    EXPECT_EQ(0, g_finished[0].second);
}

TEST_F(UpdateRun, TimeOfOneUpdateAndOfItsUnpack) {
    WritePatchJob(kPatchJobWithTlx);
    RunResult r = Run(kModeClient);
    ASSERT_EQ(1u, r.flag);

    // The same steps alone: the payload written out, then unpacked into a
    // fresh folder and over the files just unpacked.
    std::string archive = root_ + "\\again.tmp";
    std::string folder = root_ + "\\again";
    LARGE_INTEGER frequency, t0, t1, t2, t3;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    ASSERT_EQ(1, WritePayloadFile(kPayloadClient, archive.c_str(), 1));
    QueryPerformanceCounter(&t1);
    ASSERT_EQ(0, ExtractFolderPack(folder.c_str(), archive.c_str(), AlwaysOverwrite, nullptr));
    QueryPerformanceCounter(&t2);
    ASSERT_EQ(0, ExtractFolderPack(folder.c_str(), archive.c_str(), AlwaysOverwrite, nullptr));
    QueryPerformanceCounter(&t3);
    // The check before the update, over the installation just updated.
    const void* payload = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(FindPayload(kPayloadClient, &payload, &size));
    LARGE_INTEGER t4, t5;
    QueryPerformanceCounter(&t4);
    const CheckResult check = CheckBeforeUpdate(payload, size);
    QueryPerformanceCounter(&t5);
    EXPECT_EQ(CheckProblem::kNone, check.problem) << check.path;
    auto ms = [&](LARGE_INTEGER a, LARGE_INTEGER b) {
        return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) /
               static_cast<double>(frequency.QuadPart);
    };
    printf("whole update %.1f ms; payload write %.1f ms; unpack %.1f ms fresh, %.1f ms over "
           "existing files; check before the update %.1f ms\n",
           r.seconds * 1000.0, ms(t0, t1), ms(t1, t2), ms(t2, t3), ms(t4, t5));
    EXPECT_LT(r.seconds, 10.0);
}

// ---- failures ----

TEST_F(UpdateRun, PayloadNotWritten) {
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(ts::WriteBytes(Tmp(), "held"));
    HANDLE held = CreateFileA(Tmp().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    RunResult r = Run(kModeClient);
    CloseHandle(held);
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(0u, r.flag);
    EXPECT_EQ((std::vector<std::string>{"テンポラリ " + Tmp() + " 生成.", "出力結果 0 .",
                                        "ファイル生成失敗."}),
              Messages(r.log));
    EXPECT_FALSE(ts::Exists(F("WSUS.txt")));
    EXPECT_FALSE(ts::Exists(F("PatchHub.exe")));
}

TEST_F(UpdateRun, TemporaryPathThatCannotBeFormed) {
    std::string longTemp = "C:\\" + std::string(250, 't');
    SetEnvironmentVariableA("TMP", longTemp.c_str());
    SetEnvironmentVariableA("TEMP", longTemp.c_str());
    WritePatchJob(kPatchJobWithTlx);
    RunResult r = Run(kModeServer);
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(0u, r.flag);
    EXPECT_EQ((std::vector<std::string>{"テンポラリ  生成.", "出力結果 0 .", "ファイル生成失敗."}),
              Messages(r.log));
    EXPECT_FALSE(ts::Exists(F("WSUS.txt")));
}

// Held open once the first record is unpacked, WUDetect.bat cannot be
// replaced: the unpack fails after the check before it had passed.
HANDLE g_heldDuringUnpack = INVALID_HANDLE_VALUE;
std::string g_fileToHold;
void HoldAfterFirstStep(int step) {
    if (step == 1)
        g_heldDuringUnpack = CreateFileA(g_fileToHold.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST_F(UpdateRun, UnpackFailureNamesTheFileAndLeavesNoMarker) {
    WritePatchJob(kPatchJobWithTlx);
    ASSERT_TRUE(ts::WriteBytes(F("WUDetect.bat"), "older"));
    g_fileToHold = F("WUDetect.bat");
    g_stepHook = HoldAfterFirstStep;
    RunResult r = Run(kModeClient);
    g_stepHook = nullptr;
    ASSERT_NE(INVALID_HANDLE_VALUE, g_heldDuringUnpack);
    CloseHandle(g_heldDuringUnpack);
    EXPECT_EQ(0u, r.flag);
    EXPECT_EQ((std::vector<std::string>{"テンポラリ " + Tmp() + " 生成.", "出力結果 1 .",
                                        "展開先フォルダ " + feature_ + " .", "展開に失敗 -1 .",
                                        F("WUDetect.bat") + " 展開失敗."}),
              Messages(r.log));
    ExpectWorkerRecords(r);
    EXPECT_EQ("older", ts::ReadBytes(F("WUDetect.bat")));
    EXPECT_FALSE(ts::Exists(F("WSUS.txt")));
    EXPECT_FALSE(ts::Exists(F("WSUS.txt.upd~")));
    EXPECT_FALSE(ts::Exists(Tmp()));
    EXPECT_FALSE(IsAlreadyUpdated());
}

TEST_F(UpdateRun, ClientWithoutShareFails) {
    // No patchjob.ini at all.
    RunResult r = Run(kModeClient);
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(0u, r.flag);
    EXPECT_EQ((std::vector<std::string>{"テンポラリ " + Tmp() + " 生成.", "出力結果 1 .",
                                        "展開先フォルダ " + feature_ + " .", "TLX共有フォルダ  .",
                                        "救済措置失敗."}),
              Messages(r.log));
    // No marker; the payload's other files stay.
    EXPECT_FALSE(ts::Exists(F("WSUS.txt")));
    EXPECT_FALSE(ts::Exists(F("WSUS.txt.upd~")));
    EXPECT_TRUE(ts::Exists(F("PatchHub.exe")));
    EXPECT_TRUE(ts::Exists(F("Version.txt")));
    EXPECT_FALSE(ts::Exists(F("patchjob.ini")));
    EXPECT_FALSE(ts::Exists(F("patchrun.bat")));
    // The next start may try again.
    EXPECT_FALSE(IsAlreadyUpdated());
}

TEST_F(UpdateRun, AMarkerThatWasThereBeforeStays) {
    // Start-up refuses such a folder; should the worker meet one anyway, the
    // marker is not its to remove.
    ASSERT_TRUE(ts::WriteBytes(F("WSUS.txt"), "earlier marker"));
    RunResult r = Run(kModeClient);
    EXPECT_EQ(0u, r.flag);
    EXPECT_EQ(5u, r.log.size());
    EXPECT_TRUE(ts::Exists(F("WSUS.txt")));
}

int WINAPI NoHostName(char*, int) {
    WSASetLastError(WSANOTINITIALISED);
    return SOCKET_ERROR;
}

TEST_F(UpdateRun, ServerWithoutShareAndWithoutHostNameFails) {
    g_hostNameLookup = NoHostName;
    RunResult r = Run(kModeServer);
    g_hostNameLookup = gethostname;
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(0u, r.flag);
    EXPECT_EQ((std::vector<std::string>{"テンポラリ " + Tmp() + " 生成.", "出力結果 1 .",
                                        "展開先フォルダ " + feature_ + " .", "TLX共有フォルダ  .",
                                        "救済措置失敗.", "サーバ救済措置失敗."}),
              Messages(r.log));
    EXPECT_FALSE(ts::Exists(F("patchcliXP.bat")));
    EXPECT_FALSE(ts::Exists(F("PatchSvc.ini")));
    EXPECT_FALSE(ts::Exists(F("WSUS.txt")));
}

// Whatever stands where the update has to write stops it before its first
// change, with one record that names the file and the reason.
TEST_F(UpdateRun, WhatIsInTheWayStopsTheUpdateBeforeAnyChange) {
    enum How { kFolder, kReadOnly, kHeldNoSharing, kHeldWithoutDelete };
    const struct {
        int mode;
        const char* file;
        How how;
        const char* reason; // empty: the system's text for the error
    } cases[] = {
        {kModeClient, "PatchSvc.ini", kFolder, "フォルダです"},
        {kModeClient, "patchrun.bat", kFolder, "フォルダです"},
        {kModeServer, "patchcliXP.bat", kFolder, "フォルダです"},
        {kModeServer, "patchcli2000.bat", kHeldNoSharing, ""},
        {kModeClient, "patchjob.ini", kReadOnly, ""},
        {kModeClient, "patchjob.ini", kHeldWithoutDelete, ""},
        {kModeClient, "WUDetect.bat", kHeldWithoutDelete, ""},
        {kModeServer, "PatchHub.exe", kHeldNoSharing, ""},
        {kModeClient, "UserGate.dll", kHeldNoSharing, ""},
        {kModeClient, "patchjob.vbe", kHeldWithoutDelete, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ts::RemoveTree(feature_);
        ts::MakeDirs(feature_);
        ts::RemoveTree(g_logPath);
        WritePatchJob(kPatchJobWithTlx);
        ASSERT_TRUE(ts::WriteBytes(I("UserGate.dll"), "UserGate 2.0"));
        std::string path = F(c.file);
        if (c.how == kFolder) {
            ASSERT_TRUE(ts::MakeDirs(path));
        } else if (!ts::Exists(path)) {
            ASSERT_TRUE(ts::WriteBytes(path, "in the way"));
        }
        if (c.how == kReadOnly)
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.how == kHeldNoSharing || c.how == kHeldWithoutDelete)
            held = CreateFileA(path.c_str(), GENERIC_READ,
                               c.how == kHeldNoSharing ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        std::vector<std::string> before = ts::ListDir(feature_);

        RunResult r = Run(c.mode);
        DWORD error = ERROR_SHARING_VIOLATION;
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        if (c.how == kReadOnly)
            error = ERROR_ACCESS_DENIED;
        std::string reason = c.reason;
        if (reason.empty()) {
            char text[512];
            FormatErrorText(error, text, sizeof text);
            reason = text;
        }
        EXPECT_EQ(0u, r.flag);
        EXPECT_EQ(std::vector<std::string>{"更新不可 " + path + " : " + reason + " ."},
                  Messages(r.log));
        EXPECT_EQ(before, ts::ListDir(feature_));
        EXPECT_FALSE(ts::Exists(Tmp()));
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// Every path the update writes, work names included, fits 259 bytes, or
// nothing is changed: the longest are patchjob.ini.bak.upd~ and
// patchcli2000.bat.upd~, 21 bytes after the folder and its backslash.
TEST_F(UpdateRun, FeatureFolderLengthsAtTheLimit) {
    const struct {
        size_t length;
        int mode;
        std::vector<std::string> records; // empty: success
    } cases[] = {
        {237, kModeClient, {}},
        {237, kModeServer, {}},
        {238, kModeClient, {"パス生成失敗 patchjob.ini.bak ."}},
        {247, kModeServer, {"パス生成失敗 WSUS.txt.upd~ ."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        std::string feature = root_ + "\\";
        feature += std::string(c.length - feature.size(), 'w');
        ts::RemoveTree(feature);
        SetFolders(root_ + "\\bin", feature);
        WritePatchJob(kPatchJobWithTlx);
        ts::RemoveTree(g_logPath);
        RunResult r = Run(c.mode);
        EXPECT_EQ(c.records.empty() ? 1u : 0u, r.flag);
        if (c.records.empty()) {
            EXPECT_TRUE(ts::Exists(F("WSUS.txt")));
        } else {
            EXPECT_EQ(c.records, Messages(r.log));
            EXPECT_EQ(std::vector<std::string>{"patchjob.ini"}, ts::ListDir(feature_));
        }
    }
}

TEST_F(UpdateRun, InstallFolderTooLongForTheLibraries) {
    // With its backslash 249 bytes: no library name fits after it.
    std::string install = root_ + "\\";
    install += std::string(248 - install.size(), 'i');
    SetFolders(install, feature_);
    WritePatchJob(kPatchJobWithTlx);
    RunResult r = Run(kModeClient);
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(0u, r.flag);
    EXPECT_EQ(std::vector<std::string>{"パス生成失敗 UserGate.dll ."}, Messages(r.log));
    EXPECT_TRUE(ts::ListDir(feature_) == std::vector<std::string>{"patchjob.ini"});
}

TEST_F(UpdateRun, ServerNameTooLongForTheSharePath) {
    std::string server(250, 's');
    WritePatchJob("[SUS]\r\nSUS_SHARE=\\\\" + server + "\\old\r\n");
    RunResult r = Run(kModeClient);
    EXPECT_EQ(1u, r.messages);
    EXPECT_EQ(0u, r.flag);
    EXPECT_EQ((std::vector<std::string>{"テンポラリ " + Tmp() + " 生成.", "出力結果 1 .",
                                        "展開先フォルダ " + feature_ + " .", "TLX共有フォルダ  .",
                                        "共有パス生成失敗 " + server + " ."}),
              Messages(r.log));
    // Nothing was written with a cut share path.
    EXPECT_EQ("<missing>", IniValue(F("patchjob.ini"), "WU", "WU_CMD"));
}

// ---- the pieces ----

TEST(AlwaysOverwrite, AnswersYes) {
    EXPECT_EQ(6, AlwaysOverwrite("C:\\any\\file.txt"));
    EXPECT_EQ(6, AlwaysOverwrite(""));
}

TEST(CopyWholeFile, ReplacesOrKeepsAndLeavesTheTargetWhenItFails) {
    std::string dir = ts::ScratchDir("copy-whole");
    std::string a = dir + "\\a.txt", b = dir + "\\b.txt", work = b + ".upd~";
    ASSERT_TRUE(ts::WriteBytes(a, "new"));
    ASSERT_TRUE(ts::WriteBytes(b, "old"));
    // A read-only leftover of an interrupted run is no obstacle.
    ASSERT_TRUE(ts::WriteBytes(work, "leftover"));
    SetFileAttributesA(work.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(CopyWholeFile(a.c_str(), b.c_str(), ExistingTarget::kKeep));
    EXPECT_EQ("old", ts::ReadBytes(b));
    EXPECT_TRUE(CopyWholeFile(a.c_str(), b.c_str(), ExistingTarget::kReplace));
    EXPECT_EQ("new", ts::ReadBytes(b));
    // A read-only source gives a read-only copy, as the shell's copy does.
    SetFileAttributesA(a.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(CopyWholeFile(a.c_str(), (dir + "\\c.txt").c_str(), ExistingTarget::kKeep));
    EXPECT_TRUE(ts::Attributes(dir + "\\c.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(CopyWholeFile((dir + "\\missing").c_str(), b.c_str(), ExistingTarget::kReplace));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ("new", ts::ReadBytes(b));
    EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt", "c.txt"}), ts::ListDir(dir));
    ts::RemoveTree(dir);
}

TEST(GeneratedFiles, WorkedExampleByteForByte) {
    std::string dir = ts::ScratchDir("generated-example");
    std::string xp = dir + "\\patchcliXP.bat";
    ASSERT_EQ(1, WritePatchCliXpBat(xp.c_str(), "SRV01", "D:\\App\\WU"));
    EXPECT_EQ("\\\\SRV01\\TALMEROWU$\\cfgpull.exe\r\n"
              "CD \"D:\\App\\WU\"\r\n"
              "patchrun.vbe START\r\n"
              "PatchHub.exe /HubReach\r\n"
              "PatchHub.exe /HubNowUpdate\r\n"
              "PatchHub.exe /HubInst\r\n"
              "patchrun.vbe END\r\n",
              ts::ReadBytes(xp));
    std::string run = dir + "\\patchrun.bat";
    ASSERT_EQ(1, WritePatchRunBat(run.c_str(), "SRV01"));
    EXPECT_EQ("CMD /C \\\\SRV01\\TALMEROWU$\\patchcliXP.bat\r\n", ts::ReadBytes(run));

    // An empty server name and a folder that ends in a backslash.
    ASSERT_EQ(1, WritePatchCliXpBat(xp.c_str(), "", "D:\\App WU\\"));
    EXPECT_EQ("\\\\\\TALMEROWU$\\cfgpull.exe\r\n"
              "CD \"D:\\App WU\\\"\r\n"
              "patchrun.vbe START\r\n"
              "PatchHub.exe /HubReach\r\n"
              "PatchHub.exe /HubNowUpdate\r\n"
              "PatchHub.exe /HubInst\r\n"
              "patchrun.vbe END\r\n",
              ts::ReadBytes(xp));

    // Not creatable: a folder of that name.
    ASSERT_TRUE(ts::MakeDirs(dir + "\\sub.bat"));
    EXPECT_EQ(0, WritePatchRunBat((dir + "\\sub.bat").c_str(), "SRV01"));
    EXPECT_EQ(0, WritePatchCliXpBat((dir + "\\sub.bat").c_str(), "SRV01", "D:\\App\\WU"));
    ts::RemoveTree(dir);
}

TEST(GeneratedFiles, ACommandFileHeldByAReaderStaysAsItWas) {
    std::string dir = ts::ScratchDir("generated-sharing");
    std::string run = dir + "\\patchrun.bat";
    ASSERT_TRUE(ts::WriteBytes(run, "x"));
    HANDLE reader = CreateFileA(run.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    // A reader that does not share deletion keeps the file from being replaced.
    EXPECT_EQ(0, WritePatchRunBat(run.c_str(), "SRV01"));
    CloseHandle(reader);
    EXPECT_EQ("x", ts::ReadBytes(run));
    EXPECT_EQ(std::vector<std::string>{"patchrun.bat"}, ts::ListDir(dir));
    ts::RemoveTree(dir);
}

TEST(GeneratedFiles, PatchJobIniWithoutFileGetsAllThreeKeys) {
    std::string dir = ts::ScratchDir("generated-ini");
    std::string ini = dir + "\\patchjob.ini";
    EXPECT_EQ(1, RewritePatchJobIni(ini.c_str(), "\\\\HOST\\TALMEROWU$"));
    EXPECT_EQ("\\\\HOST\\TALMEROWU$", IniValue(ini, "SUS", "SUS_SHARE"));
    EXPECT_EQ("\\\\HOST\\TALMEROWU$", IniValue(ini, "SUS", "TLX_SHARE"));
    EXPECT_EQ("patchcliXP.bat", IniValue(ini, "WU", "WU_CMD"));
    char value[kProfileValueSize];
    ReadTlxShare(ini.c_str(), value);
    EXPECT_STREQ("\\\\HOST\\TALMEROWU$", value);
    ReadSusShare((dir + "\\missing.ini").c_str(), value);
    EXPECT_STREQ("", value);

    // A long value is cut to 259 bytes.
    ASSERT_TRUE(ts::WriteBytes(ini, "[sus]\r\ntlx_share=" + std::string(300, 'v') + "\r\n"));
    ReadTlxShare(ini.c_str(), value);
    EXPECT_EQ(259u, strlen(value));

    EXPECT_EQ(1, WritePatchSvcIni((dir + "\\PatchSvc.ini").c_str(), ""));
    EXPECT_EQ("", IniValue(dir + "\\PatchSvc.ini", "WSUS", "Server"));
    EXPECT_EQ("8530", IniValue(dir + "\\PatchSvc.ini", "WSUS", "Port"));
    ts::RemoveTree(dir);
}
