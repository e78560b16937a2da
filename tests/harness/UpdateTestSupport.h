// What the tests of the update in their own process share: an installation
// in a scratch folder to update, the records of its log, and stand-ins at the
// file layer's seam (Windows' refusals, a fault at the N-th call).
#pragma once

#include "FileLayer.h"
#include "General.h"
#include "Undo.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <map>
#include <string>
#include <vector>

namespace ut {

// The messages of a log, one per record, without their headers.
std::vector<std::string> Messages(const std::string& logPath);

// An installation in a scratch folder named after the test: the install
// folder <root>\App\bin\, the feature folder <root>\App\WU and a temporary
// folder <root>\tmp that TMP and TEMP name, with the log in it.
class UpdateFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // install: as the registry gives it (a backslash is added); feature: as
    // start-up derives it. Both are made.
    void SetFolders(const std::string& install, const std::string& feature);
    // The folders emptied again and the log removed, for the next case.
    void Reset();
    // mode: as the log's mode record numbers it (1 server, 2 client).
    UpdateTarget Target(int mode) const;
    // RunUpdate in this process.
    bool Run(int mode, const UpdateHooks& hooks = UpdateHooks()) const;

    std::string F(const std::string& name) const { return feature_ + "\\" + name; }
    std::string I(const std::string& name) const { return install_ + "\\" + name; }
    std::string Tmp() const { return temp_ + "\\Update.tmp"; }
    void WritePatchJob(const std::string& content) const;

    std::string root_, install_, feature_, temp_;

  private:
    std::string savedTmp_, savedTemp_;
    std::string installPath_;
};

// While it lives, the file layer refuses what Windows refuses and Wine run
// by the superuser allows: a read-only file cannot be deleted, replaced,
// cut or written through its name.
class RefuseLikeWindows {
  public:
    RefuseLikeWindows();
    ~RefuseLikeWindows();
    RefuseLikeWindows(const RefuseLikeWindows&) = delete;
    RefuseLikeWindows& operator=(const RefuseLikeWindows&) = delete;
};

// While it lives, counts the file layer's calls and, at the call numbered
// `at` (from 1), makes it fail with `error` (kFail), or ends everything
// there as a kill would: that call and every one after it do nothing
// (kStop). Windows' refusals of read-only files apply throughout.
class DiskFaults {
  public:
    enum Kind { kFail, kStop };
    DiskFaults(int at, Kind kind, DWORD error = ERROR_ACCESS_DENIED);
    ~DiskFaults();
    DiskFaults(const DiskFaults&) = delete;
    DiskFaults& operator=(const DiskFaults&) = delete;

    int Calls() const { return static_cast<int>(kinds_.size()); }
    // What each call was, in order, and the path it changed.
    const std::vector<DiskCall>& Kinds() const { return kinds_; }
    const std::vector<std::string>& Paths() const { return paths_; }
    // The call the fault hit, and its path; empty before it came.
    DiskCall Call() const { return call_; }
    const std::string& Path() const { return path_; }
    bool Hit() const { return hit_; }

  private:
    static bool Hook(void* self, DiskCall call, const char* path, const char* from, DWORD flags);
    int at_;
    Kind kind_;
    DWORD error_;
    std::vector<DiskCall> kinds_;
    std::vector<std::string> paths_;
    bool hit_ = false;
    DiskCall call_ = DiskCall::kCreate;
    std::string path_;
};

// Every file of a folder tree, by relative name: attributes, content and,
// unless the update writes the file itself (kButTheUpdates), its last-write
// time.
enum class Times { kButTheUpdates, kEvery };
std::map<std::string, std::string> Snapshot(const std::string& folder,
                                            Times times = Times::kButTheUpdates);
// The names whose entries differ between two snapshots, for a failure
// message; empty when they are equal.
std::string Differences(const std::map<std::string, std::string>& expected,
                        const std::map<std::string, std::string>& actual);

} // namespace ut
