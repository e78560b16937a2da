#include "OutFile.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr size_t kWriteBuffer = 64 * 1024;
// Work names tried before giving up: others may be left by killed reports.
constexpr int kWorkNames = 100;

} // namespace

OutFile::OutFile(const std::wstring& path) : path_(path) {
    // CREATE_NEW: a name that exists in any form, a dangling link included,
    // is passed over for the next one: "report.csv.partial", then
    // "report.csv.1.partial" and on.
    for (int n = 0; n < kWorkNames; ++n) {
        wchar_t suffix[32] = L".partial";
        if (n > 0)
            swprintf(suffix, sizeof suffix / sizeof suffix[0], L".%d.partial", n);
        work_ = path_ + suffix;
        file_.Attach(CreateFileW(work_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        error_ = file_.IsValid() ? 0 : GetLastError();
        if (error_ == 0)
            return;
        if (error_ != ERROR_FILE_EXISTS && error_ != ERROR_ALREADY_EXISTS)
            break;
    }
    work_.clear();
}

OutFile::~OutFile() {
    if (file_.IsValid()) {
        file_.Close();
        DeleteFileW(work_.c_str());
    }
}

void OutFile::Put(const char* text, size_t length) {
    if (buffer_.size() + length > kWriteBuffer)
        Flush();
    buffer_.append(text, length);
}

void OutFile::Put(const char* text) {
    Put(text, strlen(text));
}

void OutFile::Flush() {
    const char* at = buffer_.data();
    size_t left = buffer_.size();
    while (error_ == 0 && left > 0) {
        DWORD written = 0;
        if (!WriteFile(file_.Get(), at, static_cast<DWORD>(left), &written, nullptr) ||
            written == 0) {
            error_ = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
            break;
        }
        at += written;
        left -= written;
    }
    buffer_.clear();
}

bool OutFile::Commit(DWORD& error) {
    if (file_.IsValid())
        Flush();
    if (error_ == 0 && !FlushFileBuffers(file_.Get()))
        error_ = GetLastError();
    if (error_ == 0 && !file_.Close())
        error_ = GetLastError();
    if (error_ == 0 && !MoveFileExW(work_.c_str(), path_.c_str(),
                                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error_ = GetLastError();
    if (error_ != 0 && !work_.empty()) {
        file_.Close();
        DeleteFileW(work_.c_str());
    }
    error = error_;
    return error_ == 0;
}
