// The diagnostic log, writing real files under Wine.
#include <gtest/gtest.h>

#include "Globals.h"
#include "Log.h"
#include "Owners.h"
#include "TestSupport.h"

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

const char kHeader[] =
    R"(\[(\d{4})/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)\] ([^ ]+) (\d+) ([0-9a-f]+) : )";

std::vector<std::string> Lines(const std::string& data) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = data.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(data.substr(start, end - start));
    EXPECT_EQ(start, data.size()) << "the file does not end in CR LF";
    return lines;
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLogFallback();
        dir = ts::ScratchDir("log");
        log = dir + "\\Update_Log.txt";
        bak = log + ".BAK";
    }
    void TearDown() override { ResetLogFallback(); }
    std::string dir, log, bak;
};

TEST_F(LogTest, FirstRecordCreatesTheFileWithExactlyThatRecord) {
    LogWriter(log.c_str(), "C:\\src\\Update\\Update.cpp", 56)
        .WriteLog("====================【開始】====================.");
    std::string data = ts::ReadBytes(log);
    std::vector<std::string> lines = Lines(data);
    ASSERT_EQ(1u, lines.size());
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[0], m, std::regex(std::string("^") + kHeader))) << lines[0];
    EXPECT_EQ("Update.cpp", m[7].str());
    EXPECT_EQ("56", m[8].str());
    char tid[16];
    snprintf(tid, sizeof tid, "%lx", GetCurrentThreadId());
    EXPECT_EQ(tid, m[9].str());
    // The banner is 49 bytes in code page 932: 20 '=', 【開始】 (8 bytes), 20 '=', '.'.
    std::string message = m.suffix();
    ASSERT_EQ(49u, message.size());
    EXPECT_EQ(std::string(20, '='), message.substr(0, 20));
    EXPECT_EQ("\x81\x79\x8a\x4a\x8e\x6e\x81\x7a", message.substr(20, 8));
    EXPECT_EQ(std::string(20, '=') + ".", message.substr(28));
}

TEST_F(LogTest, HeaderCarriesLocalTimeAndTheFileNameWithoutFolders) {
    SYSTEMTIME before;
    GetLocalTime(&before);
    LogWriter(log.c_str(), "/build/x/General.cpp", 613).WriteLog("%s %d .", "abc", 42);
    LogWriter(log.c_str(), "Update", 1).WriteLog("x.");
    std::vector<std::string> lines = Lines(ts::ReadBytes(log));
    ASSERT_EQ(2u, lines.size());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, std::regex(std::string(kHeader) + "abc 42 \\.")))
        << lines[0];
    EXPECT_EQ(before.wYear, std::stoi(m[1]));
    EXPECT_EQ(before.wMonth, std::stoi(m[2]));
    EXPECT_EQ(2u, m[4].length()); // zero-padded hour
    EXPECT_EQ("General.cpp", m[7].str());
    EXPECT_EQ("613", m[8].str());
    ASSERT_TRUE(std::regex_match(lines[1], m, std::regex(std::string(kHeader) + "x\\.")));
    EXPECT_EQ("Update", m[7].str());
}

TEST_F(LogTest, EmptyTextGivesHeaderAndCrLf) {
    LogWriter(log.c_str(), "a.cpp", 7).WriteLog("%s", "");
    std::vector<std::string> lines = Lines(ts::ReadBytes(log));
    ASSERT_EQ(1u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(kHeader))) << lines[0];
}

TEST_F(LogTest, LongTextIsCutTo1023BytesWithoutSplittingACharacter) {
    std::string ascii(2000, 'a');
    LogWriter(log.c_str(), "a.cpp", 1).WriteLog("%s", ascii.c_str());
    // 1021 ASCII bytes, then 能 (94 5C) at 1021-1022, then more: 能 fits whole.
    std::string fits = std::string(1021, 'b') + "能能能";
    LogWriter(log.c_str(), "a.cpp", 2).WriteLog("%s", fits.c_str());
    // 1022 ASCII bytes, then 能 with its lead byte at 1022: cut before it.
    std::string split = std::string(1022, 'c') + "能能能";
    LogWriter(log.c_str(), "a.cpp", 3).WriteLog("%s", split.c_str());
    // Exactly 1023 bytes: kept whole.
    std::string exact(1023, 'd');
    LogWriter(log.c_str(), "a.cpp", 4).WriteLog("%s", exact.c_str());

    std::vector<std::string> lines = Lines(ts::ReadBytes(log));
    ASSERT_EQ(4u, lines.size());
    std::regex header(std::string("^") + kHeader);
    std::string messages[4];
    for (int i = 0; i < 4; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(lines[i], m, header));
        messages[i] = m.suffix();
    }
    EXPECT_EQ(std::string(1023, 'a'), messages[0]);
    EXPECT_EQ(std::string(1021, 'b') + "能", messages[1]);
    EXPECT_EQ(std::string(1022, 'c'), messages[2]);
    EXPECT_EQ(exact, messages[3]);
}

TEST_F(LogTest, RotatesOnlyWhenTheRecordWouldPassTheLimit) {
    // Measure one record's length first.
    LogWriter(log.c_str(), "a.cpp", 1).WriteLog("probe.");
    size_t record = ts::ReadBytes(log).size();
    ASSERT_GT(record, 40u);

    // File of 65,536 - n bytes and a record of n bytes: appended, exactly 65,536.
    std::string filler(65536 - record, 'f');
    ASSERT_TRUE(ts::WriteBytes(log, filler));
    ASSERT_TRUE(ts::WriteBytes(bak, "old generation"));
    LogWriter(log.c_str(), "a.cpp", 1).WriteLog("probe.");
    EXPECT_EQ(65536u, ts::ReadBytes(log).size());
    EXPECT_EQ("old generation", ts::ReadBytes(bak));

    // One byte more: the file becomes the .BAK (replacing the old one) and the
    // record starts a fresh file.
    ASSERT_TRUE(ts::WriteBytes(log, filler + "g"));
    LogWriter(log.c_str(), "a.cpp", 1).WriteLog("probe.");
    EXPECT_EQ(filler + "g", ts::ReadBytes(bak));
    EXPECT_EQ(record, ts::ReadBytes(log).size());
}

DWORD WINAPI TakeLogMutexAndEnd(void*) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kLogMutexName);
    WaitForSingleObject(mutex, ts::kHangMs);
    CloseHandle(mutex);
    // Ends without releasing it: the mutex is abandoned.
    return 0;
}

TEST_F(LogTest, AnAbandonedMutexCountsAsOwned) {
    // Keeps the mutex in existence after its owner has gone.
    UniqueHandle keep(CreateMutexA(nullptr, FALSE, kLogMutexName));
    HANDLE thread = CreateThread(nullptr, 0, TakeLogMutexAndEnd, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, ts::kHangMs));
    CloseHandle(thread);
    LogWriter(log.c_str(), "a.cpp", 1).WriteLog("at once.");
    // Written to the log itself: a mutex taken for held elsewhere would have
    // sent the record to the run's own file.
    EXPECT_EQ(1u, Lines(ts::ReadBytes(log)).size());
    EXPECT_STREQ("", LogFallbackPath());
}

TEST_F(LogTest, EmptyLogPathDropsEveryRecord) {
    // Start-up leaves the path empty when no temporary folder can be used.
    char saved[260];
    memcpy(saved, g_logPath, sizeof saved);
    g_logPath[0] = '\0';
    SetCurrentDirectoryA(dir.c_str());
    WRITE_LOG("nowhere %d .", 1);
    memcpy(g_logPath, saved, sizeof saved);
    EXPECT_TRUE(ts::ListDir(dir).empty());
}

TEST_F(LogTest, MacroNamesThisSourceFileAndLine) {
    char saved[260];
    memcpy(saved, g_logPath, sizeof saved);
    strcpy(g_logPath, log.c_str());
    int line = __LINE__ + 1;
    WRITE_LOG("macro %d .", 5);
    memcpy(g_logPath, saved, sizeof saved);
    std::vector<std::string> lines = Lines(ts::ReadBytes(log));
    ASSERT_EQ(1u, lines.size());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, std::regex(std::string(kHeader) + "macro 5 \\.")));
    // No build-machine folders in the name.
    EXPECT_EQ("log_test.cpp", m[7].str());
    EXPECT_EQ(std::to_string(line), m[8].str());
}

std::string LogPeer() {
    return "\"" + ts::BuildFile("tests/logpeer.exe") + "\"";
}

// A process that holds the mutex past the wait keeps this run from the
// log, not from its records: they go, from then on without waiting, to the
// run's own file, whose first record says why.
TEST_F(LogTest, AMutexHeldPastItsWaitSendsTheRunsRecordsToItsOwnFile) {
    HANDLE holding = CreateEventA(nullptr, TRUE, FALSE, "logpeer_holding");
    ResetEvent(holding);
    UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, "logpeer_release"));
    ResetEvent(release.Get());
    ts::Child peer;
    ASSERT_TRUE(peer.Start(LogPeer() + " hold 60"));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holding, ts::kHangMs));
    CloseHandle(holding);

    // The real program's wait of ten seconds is tested end to end.
    SetLogMutexWait(1500);
    const DWORD start = GetTickCount();
    LogWriter(log.c_str(), "a.cpp", 1).WriteLog("first.");
    const DWORD waited = GetTickCount() - start;
    // Not waited for again: a second wait, without end, would last until
    // the holder gives up and write the record to the log.
    SetLogMutexWait(INFINITE);
    LogWriter(log.c_str(), "a.cpp", 2).WriteLog("second.");
    SetLogMutexWait(kLogMutexTimeoutMs);
    EXPECT_GE(waited, 1400u);
    EXPECT_FALSE(ts::Exists(log));
    const std::string fallback = LogFallbackPath();
    EXPECT_EQ(log + "." + std::to_string(GetCurrentProcessId()) + ".txt", fallback);
    const std::vector<std::string> lines = Lines(ts::ReadBytes(fallback));
    ASSERT_EQ(3u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("ログ " + log +
                                               " に書けないため、ここに書きます : "
                                               "INALOG_MUTEX が 10 秒待っても得られません ."));
    EXPECT_NE(std::string::npos, lines[1].find(" : first."));
    EXPECT_NE(std::string::npos, lines[2].find(" : second."));
    SetEvent(release.Get());
    EXPECT_EQ(0, peer.Wait(ts::kHangMs));
    ResetLogFallback();
}

// Every open of the log, its older generation or the run's own file that
// finds a link takes the link itself, and every other one makes a new file.
std::vector<std::string> g_following;
void WatchLogOpen(const char* path, unsigned long disposition, unsigned long flags) {
    if (disposition == OPEN_EXISTING ? !(flags & FILE_FLAG_OPEN_REPARSE_POINT)
                                     : disposition != CREATE_NEW)
        g_following.push_back(path);
}

// Whatever stands under the log's name, its older generation's or its own
// file's that is no plain file of its own is never written, followed,
// removed or renamed, nor is a log that another program holds open refusing
// writing: the run's records go to its own file (elsewhere when that name is
// taken). A log of any size is rotated, also while a viewer reads it.
TEST_F(LogTest, PlantedObjectsAreNeverWrittenThrough) {
    enum Planted {
        kFolder,
        kReadOnly,
        kLink,
        kSecondName,
        kBackupFolder,
        kBackupLink,
        kBackupSecondName,
        kOwnFileTaken,
        kHuge,
        kViewer,
        kReaderKeepingItsName,
        kHeld,
    };
    const struct {
        const char* name;
        Planted planted;
        const char* reason; // empty: the record goes to the log
    } cases[] = {
        {"folder", kFolder, "フォルダです"},
        {"read-only", kReadOnly, "読み取り専用です"},
        {"link", kLink, "リンクです"},
        {"second name", kSecondName, "別のファイルの名前です"},
        {"older generation a folder", kBackupFolder,
         "古い世代 .BAK がファイルでないため入れ替えられません"},
        {"older generation a link", kBackupLink,
         "古い世代 .BAK がファイルでないため入れ替えられません"},
        {"older generation a second name", kBackupSecondName,
         "古い世代 .BAK がファイルでないため入れ替えられません"},
        {"own file's name taken", kOwnFileTaken, "フォルダです"},
        {"4 GiB and 100 bytes", kHuge, ""},
        {"full, a viewer reading it", kViewer, ""},
        {"full, a reader keeping its name", kReaderKeepingItsName, ""},
        {"held open refusing writing", kHeld, "他のプログラムが書き込みを拒んで開いています"},
    };
    const std::string other = dir + "\\other.txt";
    const std::string own = log + "." + std::to_string(GetCurrentProcessId()) + ".txt";
    g_following.clear();
    SetLogOpenWatch(WatchLogOpen);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetLogFallback();
        ts::RemoveTree(dir);
        ASSERT_TRUE(ts::MakeDirs(dir));
        ASSERT_TRUE(ts::WriteBytes(other, "someone else's"));
        UniqueHandle held;
        switch (c.planted) {
        case kFolder:
            ASSERT_TRUE(ts::MakeDirs(log));
            break;
        case kReadOnly:
            ASSERT_TRUE(ts::WriteBytes(log, "kept\r\n"));
            SetFileAttributesA(log.c_str(), FILE_ATTRIBUTE_READONLY);
            break;
        case kLink:
            if (!ts::MakeUnixSymlink(other, log)) {
                printf("SKIPPED LOUDLY: no symbolic link can be made here\n");
                continue;
            }
            break;
        case kSecondName:
            ASSERT_TRUE(CreateHardLinkA(log.c_str(), other.c_str(), nullptr)) << GetLastError();
            break;
        case kBackupFolder:
        case kBackupLink:
        case kBackupSecondName:
            ASSERT_TRUE(ts::WriteBytes(log, std::string(kLogRotateSize - 10, 'x')));
            if (c.planted == kBackupFolder) {
                ASSERT_TRUE(ts::MakeDirs(bak));
            } else if (c.planted == kBackupSecondName) {
                ASSERT_TRUE(CreateHardLinkA(bak.c_str(), other.c_str(), nullptr));
            } else if (!ts::MakeUnixSymlink(other, bak)) {
                printf("SKIPPED LOUDLY: no symbolic link can be made here\n");
                continue;
            }
            break;
        case kOwnFileTaken:
            ASSERT_TRUE(ts::MakeDirs(log));
            ASSERT_TRUE(CreateHardLinkA(own.c_str(), other.c_str(), nullptr));
            break;
        case kHuge: {
            UniqueHandle file(CreateFileA(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
            LARGE_INTEGER size;
            size.QuadPart = (4ll << 30) + 100;
            ASSERT_TRUE(SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN) &&
                        SetEndOfFile(file.Get()));
            break;
        }
        case kViewer:
        case kReaderKeepingItsName:
        case kHeld:
            ASSERT_TRUE(ts::WriteBytes(log, std::string(kLogRotateSize - 10, 'x')));
            ASSERT_TRUE(ts::WriteBytes(bak, "older"));
            held.Attach(CreateFileA(log.c_str(), GENERIC_READ,
                                    c.planted == kViewer
                                        ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                                    : c.planted == kHeld ? FILE_SHARE_READ
                                                         : FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held.IsValid());
            break;
        }
        const std::vector<std::string> before = ts::ListDir(dir);
        LogWriter(log.c_str(), "a.cpp", 1).WriteLog("planted.");
        EXPECT_EQ("someone else's", ts::ReadBytes(other));
        if (c.reason[0] == '\0') {
            EXPECT_STREQ("", LogFallbackPath());
            EXPECT_EQ(1u, Lines(ts::ReadBytes(log)).size());
            EXPECT_TRUE(ts::Exists(bak));
            // Rotated while a viewer reads; put off, losing no generation,
            // while a reader keeps the log's name.
            if (c.planted == kViewer || c.planted == kReaderKeepingItsName) {
                EXPECT_EQ(c.planted == kViewer ? std::string(kLogRotateSize - 10, 'x') : "older",
                          ts::ReadBytes(bak));
            }
            continue;
        }
        const std::string fallback = LogFallbackPath();
        const std::vector<std::string> lines = Lines(ts::ReadBytes(fallback));
        ASSERT_EQ(2u, lines.size()) << fallback;
        EXPECT_NE(std::string::npos, lines[0].find(std::string(" : ") + c.reason + " ."))
            << lines[0];
        EXPECT_NE(std::string::npos, lines[1].find(" : planted."));
        // Nothing else changed: the planted object is where it was.
        std::vector<std::string> after = ts::ListDir(dir);
        after.erase(
            std::remove(after.begin(), after.end(), fallback.substr(fallback.rfind('\\') + 1)),
            after.end());
        EXPECT_EQ(before, after);
        if (c.planted == kReadOnly) {
            EXPECT_EQ("kept\r\n", ts::ReadBytes(log));
        }
        if (c.planted == kBackupFolder || c.planted == kBackupLink ||
            c.planted == kBackupSecondName) {
            EXPECT_EQ(kLogRotateSize - 10, ts::ReadBytes(log).size());
        }
        if (c.planted == kOwnFileTaken) {
            EXPECT_NE(own, fallback);
            DeleteFileA(fallback.c_str());
        }
        if (c.planted == kLink || c.planted == kBackupLink) {
            EXPECT_TRUE(ts::RemoveUnixSymlink(c.planted == kLink ? log : bak));
        }
        SetFileAttributesA(log.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    SetLogOpenWatch(nullptr);
    EXPECT_EQ(std::vector<std::string>{}, g_following);
    ResetLogFallback();
}

TEST_F(LogTest, TwoProcessesWritingAtOnceLeaveWholeRecords) {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "logpeer_go");
    ResetEvent(go);
    UniqueHandle readyA(CreateEventA(nullptr, TRUE, FALSE, "logpeer_ready_AAAA"));
    UniqueHandle readyB(CreateEventA(nullptr, TRUE, FALSE, "logpeer_ready_BBBB"));
    ResetEvent(readyA.Get());
    ResetEvent(readyB.Get());
    ts::Child a, b;
    ASSERT_TRUE(a.Start(LogPeer() + " write \"" + log + "\" 500 AAAA"));
    ASSERT_TRUE(b.Start(LogPeer() + " write \"" + log + "\" 500 BBBB"));
    // Both wait for the word to go before either writes.
    const HANDLE ready[] = {readyA.Get(), readyB.Get()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, ready, TRUE, ts::kHangMs));
    SetEvent(go);
    EXPECT_EQ(0, a.Wait(ts::kHangMs));
    EXPECT_EQ(0, b.Wait(ts::kHangMs));
    CloseHandle(go);

    // Rotation may have moved the first records aside: count both files.
    std::vector<std::string> lines = Lines(ts::ReadBytes(bak));
    std::vector<std::string> current = Lines(ts::ReadBytes(log));
    lines.insert(lines.end(), current.begin(), current.end());
    ASSERT_EQ(1000u, lines.size());
    std::regex record(std::string(kHeader) + "(AAAA|BBBB) (\\d+)\\.");
    int next[2] = {0, 0};
    bool interleaved = false;
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, record)) << line;
        int who = m[10].str() == "AAAA" ? 0 : 1;
        // Each writer's records appear whole and in its own order.
        EXPECT_EQ(next[who], std::stoi(m[11]));
        next[who] = std::stoi(m[11]) + 1;
        if (next[0] > 0 && next[1] > 0 && next[0] < 500 && next[1] < 500)
            interleaved = true;
    }
    EXPECT_EQ(500, next[0]);
    EXPECT_EQ(500, next[1]);
    // The writers really ran at the same time.
    EXPECT_TRUE(interleaved);
}

} // namespace
