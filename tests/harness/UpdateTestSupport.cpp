#include "UpdateTestSupport.h"

#include "Log.h"
#include "TestSupport.h"

#include <stdio.h>

namespace ut {

std::vector<std::string> Messages(const std::string& logPath) {
    return ts::LogMessages(logPath);
}

namespace {
std::string Env(const char* name) {
    char buffer[4096];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return std::string(buffer, n < sizeof buffer ? n : 0);
}
} // namespace

void UpdateFixture::SetUp() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // A parameterised test's name holds a slash.
    for (char& c : name)
        if (c == '/')
            c = '-';
    root_ = ts::ScratchDir("update-" + name);
    temp_ = root_ + "\\tmp";
    savedTmp_ = Env("TMP");
    savedTemp_ = Env("TEMP");
    SetEnvironmentVariableA("TMP", temp_.c_str());
    SetEnvironmentVariableA("TEMP", temp_.c_str());
    snprintf(g_logPath, sizeof g_logPath, "%s\\Update_Log.txt", temp_.c_str());
    SetFolders(root_ + "\\App\\bin", root_ + "\\App\\WU");
    Reset();
}

void UpdateFixture::TearDown() {
    SetEnvironmentVariableA("TMP", savedTmp_.empty() ? nullptr : savedTmp_.c_str());
    SetEnvironmentVariableA("TEMP", savedTemp_.empty() ? nullptr : savedTemp_.c_str());
    g_logPath[0] = '\0';
    if (!HasFailure())
        ts::RemoveTree(root_);
}

void UpdateFixture::SetFolders(const std::string& install, const std::string& feature) {
    install_ = install;
    feature_ = feature;
    installPath_ = install + "\\";
    ASSERT_TRUE(ts::MakeDirs(install_));
    ASSERT_TRUE(ts::MakeDirs(feature_));
}

void UpdateFixture::Reset() {
    ts::RemoveTree(feature_);
    ts::RemoveTree(install_);
    ts::RemoveTree(temp_);
    ts::MakeDirs(feature_);
    ts::MakeDirs(install_);
    ts::MakeDirs(temp_);
}

UpdateTarget UpdateFixture::Target(int mode) const {
    UpdateTarget target;
    target.mode = static_cast<OperationMode>(mode);
    target.installPath = installPath_.c_str();
    target.featureFolder = feature_.c_str();
    return target;
}

bool UpdateFixture::Run(int mode, const UpdateHooks& hooks) const {
    return RunUpdate(Target(mode), hooks);
}

void UpdateFixture::WritePatchJob(const std::string& content) const {
    ASSERT_TRUE(ts::WriteBytes(F("patchjob.ini"), content));
}

namespace {

bool IsReadOnlyFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_READONLY);
}

// What Windows refuses of a read-only file and Wine run by the superuser
// does anyway (Wine run by another user refuses it too, but the tests run
// as the superuser). A move is given its new name: replacing a read-only file is
// refused; the file moved may itself be read-only.
bool WindowsAllows(DiskCall call, const char* path) {
    switch (call) {
    case DiskCall::kCreate:
    case DiskCall::kMove:
    case DiskCall::kDelete:
    case DiskCall::kWriteProfile:
    case DiskCall::kOpenToWrite:
        if (IsReadOnlyFile(path)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        return true;
    default:
        return true;
    }
}

bool RefuseHook(void*, DiskCall call, const char* path, const char*, DWORD) {
    return WindowsAllows(call, path);
}

} // namespace

RefuseLikeWindows::RefuseLikeWindows() {
    SetDiskCallHook(RefuseHook, nullptr);
}

RefuseLikeWindows::~RefuseLikeWindows() {
    SetDiskCallHook(nullptr, nullptr);
}

DiskFaults::DiskFaults(int at, Kind kind, DWORD error) : at_(at), kind_(kind), error_(error) {
    SetDiskCallHook(Hook, this);
}

DiskFaults::~DiskFaults() {
    SetDiskCallHook(nullptr, nullptr);
}

bool DiskFaults::Hook(void* self, DiskCall call, const char* path, const char*, DWORD) {
    DiskFaults& faults = *static_cast<DiskFaults*>(self);
    faults.kinds_.push_back(call);
    faults.paths_.push_back(path != nullptr ? path : "");
    const int number = faults.Calls();
    if (faults.hit_ && faults.kind_ == kStop) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return false;
    }
    if (number == faults.at_) {
        faults.hit_ = true;
        faults.call_ = call;
        faults.path_ = path != nullptr ? path : "";
        SetLastError(faults.kind_ == kStop ? ERROR_OPERATION_ABORTED : faults.error_);
        return false;
    }
    return WindowsAllows(call, path);
}

namespace {
// The files that the update writes itself, and so at its own time.
bool WrittenByTheUpdate(const std::string& name) {
    for (const char* written : {"patchjob.ini", "PatchSvc.ini", "patchrun.bat", "patchcliXP.bat",
                                "patchcli2000.bat", "WSUS.undo\\list"})
        if (name == written)
            return true;
    return false;
}

void Collect(const std::string& folder, const std::string& prefix, Times times,
             std::map<std::string, std::string>& files) {
    for (const std::string& name : ts::ListDir(folder)) {
        const std::string path = folder + "\\" + name;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Collect(path, prefix + name + "\\", times, files);
            continue;
        }
        char entry[64];
        if (times == Times::kButTheUpdates && WrittenByTheUpdate(prefix + name))
            snprintf(entry, sizeof entry, "%lx|", data.dwFileAttributes);
        else
            snprintf(entry, sizeof entry, "%lx|%lx:%lx|", data.dwFileAttributes,
                     data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
        files[prefix + name] = entry + ts::ReadBytes(path);
    }
}
} // namespace

std::string Differences(const std::map<std::string, std::string>& expected,
                        const std::map<std::string, std::string>& actual) {
    std::string text;
    for (const auto& file : expected) {
        auto found = actual.find(file.first);
        if (found == actual.end())
            text += file.first + " missing; ";
        else if (found->second != file.second)
            text += file.first + " is " + found->second.substr(0, 40) + ", not " +
                    file.second.substr(0, 40) + "; ";
    }
    for (const auto& file : actual)
        if (expected.count(file.first) == 0)
            text += file.first + " more; ";
    return text;
}

std::map<std::string, std::string> Snapshot(const std::string& folder, Times times) {
    std::map<std::string, std::string> files;
    Collect(folder, "", times, files);
    return files;
}

} // namespace ut
