// A rollout of the real Update.exe through update-startup.cmd, run by the
// system's own command interpreter for one machine name after another (the
// script takes the name from COMPUTERNAME): updated, already updated, a file
// in use, UTF-8 settings, a full disk, killed part-way (reported as 0), not
// recognised, another update running, the program missing, a usage error,
// a run still going and one stopped long ago. UpdateReport then sums up the
// logs folder they wrote, and every row of its CSV is checked.
#include <gtest/gtest.h>

#include "RunLock.h"
#include "TestSupport.h"

#include <windows.h>
#include <algorithm>
#include <regex>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

constexpr DWORD kTimeout = 120000;
const char kClientKey[] = "SOFTWARE\\TALMERO\\BaseCli";

#ifdef UPDATE_SAMPLE_PAYLOAD
const char kUpdated[] = "Updated by a sample build of Update.exe, not a release";
#else
const char kUpdated[] = "Updated";
#endif

// A client installation: <root>\App\bin registered, its feature folder
// <root>\App\WU with settings that name a share.
struct Install {
    explicit Install(const std::string& at) : root(at), feature(at + "\\App\\WU") {
        ts::RemoveTree(root);
        ts::MakeDirs(root + "\\App\\bin");
        ts::MakeDirs(feature);
        ts::WriteBytes(F("patchjob.ini"), "[SUS]\r\nTLX_SHARE=\\\\srv01\\share\r\n");
        ts::ClearProductKeys();
        ts::SetRegString(kClientKey, "InstallPath", root + "\\App\\bin\\");
    }
    std::string F(const std::string& name) const { return feature + "\\" + name; }
    std::string root, feature;
};

class Rollout : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = ts::ScratchDir("report-rollout");
        share_ = root_ + "\\share";
        temp_ = root_ + "\\tmp";
        ts::MakeDirs(share_);
        ts::MakeDirs(temp_);
        Copy("Update/Update.exe", "Update.exe");
        ASSERT_TRUE(CopyFileA(ts::SourceFile("scripts/deploy/update-startup.cmd").c_str(),
                              (share_ + "\\update-startup.cmd").c_str(), FALSE));
    }
    void TearDown() override { ts::ClearProductKeys(); }

    void Copy(const char* built, const char* name) {
        ASSERT_TRUE(CopyFileA(ts::BuildFile(built).c_str(), (share_ + "\\" + name).c_str(), FALSE));
    }
    std::vector<std::string> Env(const std::string& machine,
                                 std::vector<std::string> more = {}) const {
        more.insert(more.end(),
                    {"COMPUTERNAME=" + machine, "TMP=" + temp_, "TEMP=" + temp_, "DISPLAY="});
        return more;
    }
    int Run(const std::string& commandLine, const std::vector<std::string>& env) {
        ts::Child child;
        if (!child.Start(commandLine, env)) {
            ADD_FAILURE() << commandLine << ": " << child.StartErrors();
            return -1;
        }
        return child.Wait(kTimeout);
    }
    // The startup script for one machine, as a startup of that machine runs it.
    int Script(const std::string& machine, const std::vector<std::string>& more = {}) {
        return Run("cmd.exe /c \"" + share_ + "\\update-startup.cmd\"", Env(machine, more));
    }
    std::string Log(const std::string& machine) const {
        return share_ + "\\logs\\" + machine + ".log";
    }

    std::string root_, share_, temp_;
};

// RFC 4180, as report.csv writes it.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            rows.back().push_back(field);
            field.clear();
        } else if (!quoted && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
            ++i;
        } else {
            field += c;
        }
    }
    rows.pop_back();
    return rows;
}

std::string Utf8(const std::string& cp932) {
    std::wstring wide(cp932.size(), L'\0');
    wide.resize(MultiByteToWideChar(932, 0, cp932.data(), static_cast<int>(cp932.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    std::string utf8(wide.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr));
    return utf8;
}

struct Expected {
    std::string machine, status, action;
    std::string cause;  // a regular expression
    std::string reason; // code page 932; "*": any
};

TEST_F(Rollout, EveryMachineGetsItsActionAndCause) {
    std::vector<Expected> expected;
    const std::string at = "at \\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d";
    {
        Install in(root_ + "\\updated");
        EXPECT_EQ(0, Script("PC-UPDATED"));
        expected.push_back({"PC-UPDATED", "0", "none", kUpdated, ""});
        EXPECT_EQ(3, Script("PC-ALREADY"));
        expected.push_back({"PC-ALREADY", "3", "none",
                            "Already updated: WSUS.txt was there, nothing was changed", ""});
    }
    {
        Install in(root_ + "\\in-use");
        ASSERT_TRUE(ts::WriteBytes(in.F("UserGate.dll"), "UserGate 1.0"));
        ts::WriteBytes(in.root + "\\App\\bin\\UserGate.dll", "UserGate 2.0");
        HANDLE held = CreateFileA(in.F("UserGate.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        EXPECT_EQ(1, Script("PC-INUSE"));
        CloseHandle(held);
        expected.push_back({"PC-INUSE", "1", "retry",
                            std::regex_replace(in.F("UserGate.dll"), std::regex("\\\\"), "\\\\") +
                                " is in use by another program \\(error 32\\); the next start "
                                "tries again",
                            "*"});
    }
    {
        Install in(root_ + "\\utf8");
        ASSERT_TRUE(
            ts::WriteBytes(in.F("patchjob.ini"),
                           u8"[General]\r\nName=支援機能\r\n[SUS]\r\nTLX_SHARE=\\\\s\\x\r\n"));
        EXPECT_EQ(1, Script("PC-UTF8"));
        expected.push_back(
            {"PC-UTF8", "1", "fix",
             std::regex_replace(in.F("patchjob.ini"), std::regex("\\\\"), "\\\\") +
                 " is saved as UTF-8, which Update.exe cannot rewrite: save it as Shift-JIS "
                 "\\(ANSI\\) or UTF-16",
             "更新不可 " + in.F("patchjob.ini") + " : UTF-8 の設定ファイルは書き換えられません ."});
    }
    std::string reason;
    if (ts::SmallDriveReady(reason)) {
        Install in("S:\\t");
        ts::SmallDriveFiller filler;
        ASSERT_TRUE(filler.LeaveFree(4096));
        EXPECT_EQ(1, Script("PC-DISKFULL"));
        expected.push_back(
            {"PC-DISKFULL", "1", "fix", "Disk S: has \\d+ KB free, \\d+ KB needed", "*"});
    } else {
        printf("no full disk in this rollout: %s\n", reason.c_str());
    }
    {
        // Ended from outside part-way; the script records 0 all the same.
        Install in(root_ + "\\killed");
        Copy("tests/update_stepstop.exe", "Update.exe");
        EXPECT_EQ(0, Script("PC-KILLED", {"UPDATE_STOP_AT_CALL=20", "UPDATE_STOP_STATUS=0"}));
        Copy("Update/Update.exe", "Update.exe");
        EXPECT_FALSE(ts::Exists(in.F("WSUS.txt")));
        expected.push_back({"PC-KILLED", "0", "retry",
                            "Interrupted after .+ " + at + ": the next start finishes it", "*"});
        // Without the script: no result, a log as the killed run left it,
        // once fresh and once silent for two hours.
        for (const char* machine : {"PC-RUNNING", "PC-STOPPED"}) {
            Run("\"" + ts::BuildFile("tests/update_stepstop.exe") +
                    "\" /quiet \"/log=" + Log(machine) + "\"",
                Env(machine, {"UPDATE_STOP_AT_CALL=20"}));
        }
        HANDLE log = CreateFileA(Log("PC-STOPPED").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
        t.QuadPart -= 2 * 3600 * 10000000ull;
        const FILETIME before = {t.LowPart, t.HighPart};
        EXPECT_TRUE(SetFileTime(log, nullptr, nullptr, &before));
        CloseHandle(log);
        expected.push_back({"PC-RUNNING", "no result", "wait",
                            "Running since .+; its last record is from .+", "*"});
        expected.push_back({"PC-STOPPED", "no result", "retry",
                            "Interrupted after .+ " + at + ": the next start finishes it", "*"});
    }
    {
        ts::ClearProductKeys();
        EXPECT_EQ(2, Script("PC-NOTREC"));
        expected.push_back({"PC-NOTREC", "2", "skip",
                            "TALMERO Pro or its Windows Update support feature is not installed",
                            ""});
        Install in(root_ + "\\busy");
        {
            RunLock lock;
            EXPECT_TRUE(lock.Acquire());
            EXPECT_EQ(5, Script("PC-BUSY"));
        }
        expected.push_back({"PC-BUSY", "5", "wait",
                            "Another update was running on the machine; the next start runs "
                            "this one",
                            ""});
        // Arguments the script does not give: run by hand, recorded as it
        // records them.
        EXPECT_EQ(
            64, Run("\"" + share_ + "\\Update.exe\" /quiet /bogus \"/log=" + Log("PC-USAGE") + "\"",
                    Env("PC-USAGE")));
        ts::WriteBytes(share_ + "\\logs\\PC-USAGE.result", "2024/11/05  9:05:07.12 64\r\n");
        expected.push_back({"PC-USAGE", "64", "fix",
                            "Update.exe refused the argument \"/bogus\": correct the command line",
                            "不明な引数 /bogus ."});
        ASSERT_TRUE(MoveFileA((share_ + "\\Update.exe").c_str(), (share_ + "\\gone.exe").c_str()));
        EXPECT_EQ(9009, Script("PC-NOSTART"));
        expected.push_back({"PC-NOSTART", "9009", "fix",
                            "Update.exe could not be started \\(status 9009\\): check that it is "
                            "beside update-startup.cmd and that the machines may read it",
                            ""});
    }
    expected.push_back(
        {"PC-NEVER", "not reported", "wait", "Never reported: no log or result file yet", ""});

    const std::string list = root_ + "\\machines.txt";
    ts::WriteBytes(list, "# every machine of the rollout\r\nPC-NEVER\r\npc-updated\r\n");
    const std::string out = root_ + "\\report";
    EXPECT_EQ(0, Run("cmd.exe /c \"\"" + ts::BuildFile("tools/report/UpdateReport.exe") + "\" \"" +
                         share_ + "\\logs\" --machines \"" + list + "\" --out \"" + out +
                         "\" > \"" + root_ + "\\summary.txt\"\"",
                     {}));
    printf("%s", ts::ReadBytes(root_ + "\\summary.txt").c_str());
    const std::string csv = ts::ReadBytes(out + "\\report.csv");
    ASSERT_EQ(0u, csv.find("\xEF\xBB\xBF"));
    const auto rows = ParseCsv(csv.substr(3));
    ASSERT_EQ(expected.size() + 1, rows.size()) << csv;
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.machine);
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& r) {
            return !r.empty() && r[0] == e.machine;
        });
        ASSERT_NE(rows.end(), row);
        ASSERT_EQ(7u, row->size());
        printf("%-12s %-10s %-6s %s\n", e.machine.c_str(), (*row)[1].c_str(), (*row)[5].c_str(),
               (*row)[6].c_str());
        EXPECT_EQ(e.status, (*row)[1]);
        EXPECT_EQ(e.action, (*row)[5]);
        EXPECT_TRUE(std::regex_match((*row)[6], std::regex(e.cause))) << (*row)[6];
        // The record it rests on: the one named, or the run's last one
        // before its closing record.
        std::vector<std::string> records = ts::LogMessages(Log(e.machine));
        if (!records.empty() && records.back().rfind("終了コード", 0) == 0)
            records.pop_back();
        const std::string want =
            e.reason == "*" ? (records.empty() ? "" : records.back()) : e.reason;
        EXPECT_EQ(Utf8(want), (*row)[4]);
        // The figures are the record's own.
        std::smatch disk;
        if (std::regex_match((*row)[6], disk,
                             std::regex("Disk S: has (\\d+) KB free, (\\d+) KB needed"))) {
            EXPECT_EQ("空き容量不足 S:\\t\\App\\WU : 必要 " + disk.str(2) + " KB, 空き " +
                          disk.str(1) + " KB .",
                      want);
        }
    }
}

} // namespace
