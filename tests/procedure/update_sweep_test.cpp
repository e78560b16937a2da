// Every call of the file layer that an update makes (or a sample of them),
// made to fail or to be the last one, as a kill or a power cut would make
// it: the update says so, leaves no marker, and the next run finishes it,
// leaving the feature folder as one run without a fault does; an undo then
// puts back the folder as it was before the first run. The same for an undo:
// the next undo, or an update and an undo, ends with the folder as it was.
// The same for an unpack over existing files: each target is its old file
// or its new one, never a mix.
#include <gtest/gtest.h>

#include "ErrorText.h"
#include "Log.h"
#include "TestSupport.h"
#include "UpdateTestSupport.h"
#include "FolderPack.h"
#include "FolderPackWriter.h"

#include <windows.h>
#include <stdlib.h>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

// The calls to try of those a run made: all of them when UPDATE_SWEEP_ALL is
// set (the long run), else about a dozen spread over it, the first and the
// last among them, every rename (a name put in place is where a run is
// finishable or not) and every write of a whole file through its work copy
// (a short copy would be put in place as if whole).
std::vector<int> CallsToTry(const ut::DiskFaults& run) {
    const std::vector<DiskCall>& kinds = run.Kinds();
    const std::vector<std::string>& paths = run.Paths();
    const int total = static_cast<int>(kinds.size());
    const char* all = getenv("UPDATE_SWEEP_ALL");
    const int step = all != nullptr && all[0] == '1' ? 1 : total / 12 + 1;
    const size_t suffix = sizeof kWorkSuffix - 1;
    auto workCopyWrite = [&](int i) {
        const std::string& path = paths[i];
        return kinds[i] == DiskCall::kWrite && path.size() > suffix &&
               path.compare(path.size() - suffix, suffix, kWorkSuffix) == 0;
    };
    std::vector<int> calls;
    for (int n = 1; n <= total; ++n) {
        if ((n - 1) % step == 0 || n == total || kinds[n - 1] == DiskCall::kMove ||
            workCopyWrite(n - 1))
            calls.push_back(n);
    }
    return calls;
}

std::string ErrorTextOf(DWORD error) {
    char text[512];
    FormatErrorText(error, text, sizeof text);
    return text;
}

FILETIME Time(DWORD high) {
    return FILETIME{0x12345678, high};
}

// Files made at different moments look the same.
void SetFixedTimes(const std::string& path) {
    const FILETIME time = Time(0x01C00000);
    HANDLE file =
        CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, &time, nullptr, &time);
    CloseHandle(file);
}

// An error no step meets by itself, so that its text in the log can only
// come from the fault.
constexpr DWORD kFault = ERROR_WRITE_PROTECT;

class UpdateSweep : public ut::UpdateFixture, public ::testing::WithParamInterface<int> {
  protected:
    // An installation with something of each kind: settings and a command
    // file made read-only by the customer, an older program of the payload,
    // old files to move aside, a read-only library in the install folder.
    void Populate() {
        Reset();
        WritePatchJob("[General]\r\nName=支援機能\r\n[SUS]\r\nTLX_SHARE=\\\\srv01\\share\r\n"
                      "[WU]\r\nWU_CMD=old\r\n");
        ASSERT_TRUE(ts::WriteBytes(F("patchjob.vbe"), "old script"));
        ASSERT_TRUE(ts::WriteBytes(F("AlertKey.exe"), "old program"));
        ASSERT_TRUE(ts::WriteBytes(F("PatchHub.exe"), "older hub"));
        ASSERT_TRUE(ts::WriteBytes(F("PatchSvc.ini"), "[WSUS]\r\nServer=old\r\n"));
        ASSERT_TRUE(ts::WriteBytes(I("UserGate.dll"), "UserGate 2.0"));
        ASSERT_TRUE(ts::WriteBytes(I("HostBind.dll"), "HostBind 2.0"));
        for (const std::string& path :
             {F("patchjob.ini"), F("patchjob.vbe"), F("AlertKey.exe"), F("PatchHub.exe"),
              F("PatchSvc.ini"), I("UserGate.dll"), I("HostBind.dll")})
            SetFixedTimes(path);
        for (const std::string& path : {F("patchjob.ini"), F("PatchHub.exe"), I("UserGate.dll")})
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    }
};

TEST_P(UpdateSweep, EveryCallThatFailsOrIsTheLastLeavesAFinishableUpdate) {
    const int mode = GetParam();
    std::map<std::string, std::string> expected, original;
    int total = 0;
    std::vector<int> toTry;
    {
        Populate();
        original = ut::Snapshot(feature_, ut::Times::kEvery);
        ut::DiskFaults count(0, ut::DiskFaults::kFail);
        ASSERT_TRUE(Run(mode));
        total = count.Calls();
        toTry = CallsToTry(count);
        expected = ut::Snapshot(feature_);
    }
    printf("%d calls of the file layer in a %s update, %d tried\n", total,
           mode == 1 ? "server" : "client", static_cast<int>(toTry.size()));
    ASSERT_GT(total, 40);
    const std::string faultText = ErrorTextOf(kFault);
    for (const ut::DiskFaults::Kind kind : {ut::DiskFaults::kFail, ut::DiskFaults::kStop}) {
        for (const int at : toTry) {
            SCOPED_TRACE((kind == ut::DiskFaults::kFail ? "failing call " : "last call ") +
                         std::to_string(at));
            Populate();
            std::string path;
            bool updated;
            {
                ut::DiskFaults faults(at, kind, kFault);
                updated = Run(mode);
                ASSERT_TRUE(faults.Hit());
                path = faults.Path();
            }
            // A call that fails either way (a new file tried where one is
            // already) may leave the update complete; then it must be.
            if (updated) {
                EXPECT_EQ(kind, ut::DiskFaults::kFail) << path;
                EXPECT_EQ("", ut::Differences(expected, ut::Snapshot(feature_))) << path;
                continue;
            }
            EXPECT_FALSE(ts::Exists(F("WSUS.txt"))) << path;
            if (kind == ut::DiskFaults::kFail) {
                // A record names a file and says what the system said.
                const std::vector<std::string> records = ut::Messages(g_logPath);
                EXPECT_TRUE(std::any_of(records.begin(), records.end(),
                                        [&](const std::string& r) {
                                            return r.find(faultText) != std::string::npos &&
                                                   r.find(root_) != std::string::npos;
                                        }))
                    << path << ": " << (records.empty() ? "" : records.back()) << " / "
                    << records.size();
            }
            ts::RemoveTree(g_logPath);
            ut::RefuseLikeWindows windows;
            ASSERT_TRUE(Run(mode)) << path;
            EXPECT_EQ("", ut::Differences(expected, ut::Snapshot(feature_))) << path;
            EXPECT_EQ(std::vector<std::string>{"Update_Log.txt"}, ts::ListDir(temp_)) << path;
            // The later run kept nothing over what the first one had kept.
            EXPECT_EQ(UndoOutcome::kUndone, RunUndo(Target(mode))) << path;
            EXPECT_EQ("", ut::Differences(original, ut::Snapshot(feature_, ut::Times::kEvery)))
                << path;
        }
    }
}

TEST_P(UpdateSweep, EveryCallOfAnUndoThatFailsOrIsTheLastLeavesAFinishableUndo) {
    const int mode = GetParam();
    Populate();
    const std::map<std::string, std::string> original = ut::Snapshot(feature_, ut::Times::kEvery);
    ASSERT_TRUE(Run(mode));
    std::map<std::string, std::string> updated = ut::Snapshot(feature_);
    std::vector<int> toTry;
    {
        ut::DiskFaults count(0, ut::DiskFaults::kFail);
        ASSERT_EQ(UndoOutcome::kUndone, RunUndo(Target(mode)));
        toTry = CallsToTry(count);
        printf("%d calls of the file layer in a %s undo, %d tried\n", count.Calls(),
               mode == 1 ? "server" : "client", static_cast<int>(toTry.size()));
    }
    ASSERT_EQ("", ut::Differences(original, ut::Snapshot(feature_, ut::Times::kEvery)));
    // The marker may have lost its read-only bit on its way out.
    updated.erase("WSUS.txt");
    const std::string faultText = ErrorTextOf(kFault);
    for (const ut::DiskFaults::Kind kind : {ut::DiskFaults::kFail, ut::DiskFaults::kStop}) {
        for (size_t i = 0; i < toTry.size(); ++i) {
            SCOPED_TRACE((kind == ut::DiskFaults::kFail ? "failing call " : "last call ") +
                         std::to_string(toTry[i]));
            Populate();
            ASSERT_TRUE(Run(mode));
            ts::RemoveTree(g_logPath);
            UndoOutcome outcome;
            std::string path;
            {
                ut::DiskFaults faults(toTry[i], kind, kFault);
                outcome = RunUndo(Target(mode));
                ASSERT_TRUE(faults.Hit());
                path = faults.Path();
            }
            if (outcome == UndoOutcome::kUndone) {
                EXPECT_EQ(kind, ut::DiskFaults::kFail) << path;
                EXPECT_EQ("", ut::Differences(original, ut::Snapshot(feature_, ut::Times::kEvery)));
                continue;
            }
            EXPECT_EQ(UndoOutcome::kFailed, outcome) << path;
            // Nothing changed while the folder still looks updated.
            if (ts::Exists(F("WSUS.txt"))) {
                std::map<std::string, std::string> now = ut::Snapshot(feature_);
                now.erase("WSUS.txt");
                EXPECT_EQ("", ut::Differences(updated, now)) << path;
            }
            const std::vector<std::string> records = ut::Messages(g_logPath);
            EXPECT_TRUE(kind == ut::DiskFaults::kStop ||
                        std::any_of(records.begin(), records.end(),
                                    [&](const std::string& r) {
                                        return r.find(faultText) != std::string::npos &&
                                               r.find(root_) != std::string::npos;
                                    }))
                << path;
            // Finished by an undo, or by an update and then an undo.
            ut::RefuseLikeWindows windows;
            if (i % 2 == 1) {
                ASSERT_TRUE(Run(mode)) << path;
                std::map<std::string, std::string> now = ut::Snapshot(feature_);
                now.erase("WSUS.txt");
                EXPECT_EQ("", ut::Differences(updated, now)) << path;
            }
            EXPECT_EQ(UndoOutcome::kUndone, RunUndo(Target(mode))) << path;
            EXPECT_EQ("", ut::Differences(original, ut::Snapshot(feature_, ut::Times::kEvery)))
                << path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Update, UpdateSweep, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("Server") : std::string("Client");
                         });

// ---- an unpack over existing files ----

class UnpackSweep : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = ts::ScratchDir("unpack-sweep");
        dest_ = root_ + "\\dest";
        archive_ = root_ + "\\a.fpk";
        // Three files that replace older ones (one of them read-only, one
        // read-only in the archive), one new file in a new folder.
        std::string bytes;
        FolderPackWriter writer;
        writer.UseMemory(&bytes);
        ASSERT_TRUE(writer.AddFile("a.txt", FILE_ATTRIBUTE_ARCHIVE, Time(0x01D00001),
                                   Time(0x01D00002), "new a", 5));
        ASSERT_TRUE(writer.AddFile("b.txt", FILE_ATTRIBUTE_READONLY, Time(0x01D00003),
                                   Time(0x01D00004), "new b", 5));
        const std::string big(300000, 'c');
        ASSERT_TRUE(writer.AddFile("sub\\c.txt", FILE_ATTRIBUTE_ARCHIVE, Time(0x01D00005),
                                   Time(0x01D00006), big.data(), big.size()));
        ASSERT_TRUE(writer.AddFile("sub\\new\\d.txt", FILE_ATTRIBUTE_HIDDEN, Time(0x01D00007),
                                   Time(0x01D00008), "new d", 5));
        ASSERT_TRUE(writer.Finish());
        ASSERT_TRUE(ts::WriteBytes(archive_, bytes));
    }
    void TearDown() override {
        if (!HasFailure())
            ts::RemoveTree(root_);
    }
    void Populate() {
        ts::RemoveTree(dest_);
        ASSERT_TRUE(ts::MakeDirs(dest_ + "\\sub"));
        ASSERT_TRUE(ts::WriteBytes(dest_ + "\\a.txt", "old a"));
        ASSERT_TRUE(ts::WriteBytes(dest_ + "\\b.txt", "old b, longer"));
        ASSERT_TRUE(ts::WriteBytes(dest_ + "\\sub\\c.txt", "old c"));
        for (const char* name : {"\\a.txt", "\\b.txt", "\\sub\\c.txt"})
            SetFixedTimes(dest_ + name);
        SetFileAttributesA((dest_ + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    }
    int Unpack() {
        return ExtractFolderPack(
            dest_.c_str(), archive_.c_str(), [](const char*) { return kFpAnswerYes; }, nullptr);
    }

    std::string root_, dest_, archive_;
};

TEST_F(UnpackSweep, EachTargetIsItsOldFileOrItsNewOneAtEveryCall) {
    std::map<std::string, std::string> before, after;
    int total = 0;
    std::vector<int> toTry;
    {
        Populate();
        before = ut::Snapshot(dest_);
        ut::DiskFaults count(0, ut::DiskFaults::kFail);
        ASSERT_EQ(kFpOk, Unpack());
        total = count.Calls();
        toTry = CallsToTry(count);
        after = ut::Snapshot(dest_);
    }
    ASSERT_GT(total, 10);
    for (const ut::DiskFaults::Kind kind : {ut::DiskFaults::kFail, ut::DiskFaults::kStop}) {
        for (const int at : toTry) {
            SCOPED_TRACE((kind == ut::DiskFaults::kFail ? "failing call " : "last call ") +
                         std::to_string(at));
            Populate();
            int result;
            {
                ut::DiskFaults faults(at, kind, kFault);
                result = Unpack();
                ASSERT_TRUE(faults.Hit());
            }
            // A call that fails either way (a new file tried where one is
            // already) may leave the unpack complete; then it must be.
            if (result == kFpOk) {
                EXPECT_EQ(kind, ut::DiskFaults::kFail);
                EXPECT_EQ("", ut::Differences(after, ut::Snapshot(dest_)));
                continue;
            }
            for (const auto& file : ut::Snapshot(dest_)) {
                auto old = before.find(file.first);
                auto now = after.find(file.first);
                // A replaced file may have lost its read-only bit just
                // before its new version would have taken its place.
                const bool isOld =
                    old != before.end() &&
                    (file.second == old->second || file.second.substr(file.second.find('|')) ==
                                                       old->second.substr(old->second.find('|')));
                const bool isNew = now != after.end() && file.second == now->second;
                // What a stopped unpack was writing: a new file of its own.
                const bool leftover =
                    kind == ut::DiskFaults::kStop &&
                    (file.first.find(kFpNewFileName) != std::string::npos || old == before.end());
                EXPECT_TRUE(isOld || isNew || leftover) << file.first;
            }
            for (const auto& file : before)
                EXPECT_TRUE(ts::Exists(dest_ + "\\" + file.first)) << file.first;
            ut::RefuseLikeWindows windows;
            ASSERT_EQ(kFpOk, Unpack());
            EXPECT_EQ("", ut::Differences(after, ut::Snapshot(dest_)));
        }
    }
}

} // namespace
