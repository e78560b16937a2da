#include "Log.h"

#include "FileIdentity.h"
#include "Mbcs.h"
#include "OwnName.h"
#include "Owners.h"
#include "Thread.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

char g_logPath[260];

namespace {

// Records of this process's threads one at a time: the mutex keeps other
// processes out, this also when the mutex is not waited for any more.
CriticalSection g_processLock;

// Why the log is not written and its records go elsewhere.
enum class Refusal {
    kNone,
    kFolder,
    kLink,
    kSecondName,
    kReadOnly,
    kBackupInTheWay,
    kHeldOpen,
    kNotOpened,
    kMutexHeld,
};

const char* RefusalText(Refusal refusal) {
    switch (refusal) {
    case Refusal::kFolder:
        return "フォルダです";
    case Refusal::kLink:
        return "リンクです";
    case Refusal::kSecondName:
        return "別のファイルの名前です";
    case Refusal::kReadOnly:
        return "読み取り専用です";
    case Refusal::kBackupInTheWay:
        return "古い世代 .BAK がファイルでないため入れ替えられません";
    case Refusal::kHeldOpen:
        return "他のプログラムが書き込みを拒んで開いています";
    case Refusal::kMutexHeld:
        return "INALOG_MUTEX が 10 秒待っても得られません";
    default:
        return "開けません";
    }
}

// Where this process's records go instead of the log, once they do: a file
// it made new and keeps open to the end, sharing only reading, so that no
// one else writes, removes or renames it meanwhile.
struct Fallback {
    bool active = false;
    bool mutexAbandoned = false;
    char path[MAX_PATH] = "";
    UniqueHandle file;
    // How long this process has waited for the mutex in all.
    DWORD waitedMs = 0;
};
Fallback g_fallback;
DWORD g_logMutexWaitMs = kLogMutexTimeoutMs;
LogOpenWatch g_openWatch = nullptr;

HANDLE OpenLogFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (g_openWatch != nullptr)
        g_openWatch(path, disposition, flags);
    return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

// Whether the open file is a plain file that has no other name; why not.
Refusal PlainFileOfItsOwn(HANDLE file, const char* path, unsigned long long* size) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return Refusal::kNotOpened;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Refusal::kFolder;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !IsNamedFile(file, path))
        return Refusal::kLink;
    if (info.nNumberOfLinks > 1)
        return Refusal::kSecondName;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        return Refusal::kReadOnly;
    if (size != nullptr)
        *size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return Refusal::kNone;
}

enum class Opened { kYes, kRefused };

// Readers may read the log while it is written (a viewer that follows it);
// writers are kept apart by the mutex.
constexpr DWORD kLogSharing = FILE_SHARE_READ;

// Opens path for appending when it is a plain file of its own, or makes it
// new (which follows no link); a link itself is opened, never what it
// points to.
Opened OpenForAppend(const char* path, UniqueHandle& file, unsigned long long& size,
                     Refusal& refusal) {
    size = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        file.Attach(OpenLogFile(path, GENERIC_WRITE, kLogSharing, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
        if (file.IsValid()) {
            refusal = PlainFileOfItsOwn(file.Get(), path, &size);
            if (refusal == Refusal::kNone)
                return Opened::kYes;
            file.Close();
            return Opened::kRefused;
        }
        DWORD error = GetLastError();
        // Another program keeps it open and will not have it written.
        if (error == ERROR_SHARING_VIOLATION) {
            refusal = Refusal::kHeldOpen;
            return Opened::kRefused;
        }
        if (error != ERROR_FILE_NOT_FOUND) {
            // A folder, or a read-only file, refuses writing.
            const DWORD attributes = GetFileAttributesA(path);
            refusal = attributes == INVALID_FILE_ATTRIBUTES     ? Refusal::kNotOpened
                      : (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Refusal::kFolder
                      : (attributes & FILE_ATTRIBUTE_READONLY)  ? Refusal::kReadOnly
                                                                : Refusal::kNotOpened;
            return Opened::kRefused;
        }
        file.Attach(
            OpenLogFile(path, GENERIC_WRITE, kLogSharing, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
        if (file.IsValid())
            return Opened::kYes;
        error = GetLastError();
        // Made by another writer meanwhile: open that one.
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            refusal = Refusal::kNotOpened;
            return Opened::kRefused;
        }
    }
    refusal = Refusal::kNotOpened;
    return Opened::kRefused;
}

// What stands under the older generation's name may go: nothing, or a plain
// file of its own that the log once was.
bool BackupMayGo(const char* backup) {
    UniqueHandle file(OpenLogFile(
        backup, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    if (!file.IsValid())
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    return PlainFileOfItsOwn(file.Get(), backup, nullptr) == Refusal::kNone;
}

bool WriteRecord(HANDLE file, const char* header, size_t headerLength, const char* message,
                 size_t messageLength) {
    LARGE_INTEGER end = {};
    DWORD written = 0;
    return SetFilePointerEx(file, end, nullptr, FILE_END) &&
           WriteFile(file, header, static_cast<DWORD>(headerLength), &written, nullptr) &&
           WriteFile(file, message, static_cast<DWORD>(messageLength), &written, nullptr) &&
           WriteFile(file, "\r\n", 2, &written, nullptr);
}

// Makes the process's own file new in one of two places: beside the log,
// else in the temporary folder; under its usual name, else under one that
// no one can have taken in advance (OwnName.h).
bool MakeFallback(const char* logPath) {
    char stems[2][MAX_PATH];
    snprintf(stems[0], sizeof stems[0], "%s.%lu", logPath, GetCurrentProcessId());
    char temp[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    snprintf(stems[1], sizeof stems[1], "%s%sUpdate_Log.%lu", n > 0 && n < sizeof temp ? temp : "",
             n > 0 && n < sizeof temp && temp[n - 1] != '\\' ? "\\" : "", GetCurrentProcessId());
    for (const char* stem : stems) {
        for (unsigned attempt = 0; attempt < kOwnNameTries; ++attempt) {
            char candidate[MAX_PATH];
            if (!OwnNameCandidate(stem, ".txt", attempt, candidate, sizeof candidate))
                break;
            g_fallback.file.Attach(OpenLogFile(candidate, GENERIC_WRITE, kLogSharing, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL));
            if (g_fallback.file.IsValid()) {
                snprintf(g_fallback.path, sizeof g_fallback.path, "%s", candidate);
                return true;
            }
            if (!IsNameTaken(GetLastError()))
                break;
        }
    }
    return false;
}

// The process's own file, made new the first time, with a first record that
// says why; the record then follows.
void WriteToFallback(const char* logPath, Refusal refusal, const char* header, size_t headerLength,
                     const char* message, size_t messageLength) {
    if (!g_fallback.active) {
        if (!MakeFallback(logPath))
            return;
        g_fallback.active = true;
        char note[kLogMessageMax + 1];
        snprintf(note, sizeof note, "ログ %s に書けないため、ここに書きます : %s .", logPath,
                 RefusalText(refusal));
        const size_t noteLength = CutToWholeCharacters(note, sizeof note - 1);
        WriteRecord(g_fallback.file.Get(), header, headerLength, note, noteLength);
    }
    WriteRecord(g_fallback.file.Get(), header, headerLength, message, messageLength);
}

} // namespace

const char* LogFallbackPath() {
    return g_fallback.active ? g_fallback.path : "";
}

void ResetLogFallback() {
    g_fallback.file.Close();
    g_fallback.active = false;
    g_fallback.mutexAbandoned = false;
    g_fallback.path[0] = '\0';
    g_fallback.waitedMs = 0;
}

void SetLogMutexWait(unsigned long ms) {
    g_logMutexWaitMs = ms;
}

void SetLogOpenWatch(LogOpenWatch watch) {
    g_openWatch = watch;
}

LogWriter::LogWriter(const char* logPath_, const char* sourceFilePath, int line_) : line(line_) {
    size_t n = strnlen(logPath_, sizeof logPath - 1);
    memcpy(logPath, logPath_, n);
    logPath[n] = '\0';
    backupPath.assign(logPath);
    backupPath.append(".BAK");
    // Name and extension only: everything after the last backslash or slash.
    const char* name = sourceFilePath;
    for (const char* p = sourceFilePath; *p; ++p) {
        if (*p == '\\' || *p == '/')
            name = p + 1;
    }
    n = strnlen(name, sizeof sourceFile - 1);
    memcpy(sourceFile, name, n);
    sourceFile[n] = '\0';
}

void LogWriter::WriteLog(const char* format, ...) {
    // No usable log path: there is nowhere to write, so the record is dropped.
    if (logPath[0] == '\0')
        return;
    Entered entered(g_processLock);

    // The mutex, unless this run once found it held past its wait: then the
    // run's records go to its own file, and nobody else writes that. The
    // wait is the run's, not each record's: what one record waited, the
    // next may wait no more, so that a holder that lets go for a moment now
    // and then cannot make every record wait nearly the whole time.
    UniqueHandle mutex;
    Refusal refusal = Refusal::kNone;
    if (!g_fallback.mutexAbandoned && !g_fallback.active) {
        mutex.Attach(CreateMutexA(nullptr, FALSE, kLogMutexName));
        const DWORD left = g_logMutexWaitMs == INFINITE ? INFINITE
                           : g_fallback.waitedMs < g_logMutexWaitMs
                               ? g_logMutexWaitMs - g_fallback.waitedMs
                               : 0;
        const DWORD start = GetTickCount();
        const DWORD wait = mutex.IsValid() ? WaitForSingleObject(mutex.Get(), left) : WAIT_FAILED;
        g_fallback.waitedMs += GetTickCount() - start;
        if (wait == WAIT_TIMEOUT || wait == WAIT_FAILED) {
            mutex.Close();
            g_fallback.mutexAbandoned = true;
            refusal = Refusal::kMutexHeld;
        }
    }

    char message[kLogMessageMax + 1];
    va_list args;
    va_start(args, format);
    int count = _vsnprintf(message, kLogMessageMax, format, args);
    va_end(args);
    message[kLogMessageMax] = '\0';
    size_t messageLen;
    if (count < 0 || count > kLogMessageMax) {
        // Cut: never end the line on a lone lead byte.
        messageLen = CutToWholeCharacters(message, kLogMessageMax);
        message[messageLen] = '\0';
    } else {
        messageLen = strlen(message);
    }

    SYSTEMTIME now;
    GetLocalTime(&now);
    char header[1024];
    int headerLen =
        snprintf(header, sizeof header, "[%04d/%02d/%02d %02d:%02d:%02d] %s %d %lx : ", now.wYear,
                 now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, sourceFile, line,
                 GetCurrentThreadId());
    if (headerLen < 0)
        headerLen = 0;
    if (static_cast<size_t>(headerLen) >= sizeof header)
        headerLen = sizeof header - 1;

    if (g_fallback.mutexAbandoned || g_fallback.active) {
        WriteToFallback(logPath, refusal, header, static_cast<size_t>(headerLen), message,
                        messageLen);
        return;
    }

    const unsigned long long recordLen =
        static_cast<unsigned long long>(headerLen) + messageLen + 2;
    {
        UniqueHandle file;
        unsigned long long size = 0;
        Opened opened = OpenForAppend(logPath, file, size, refusal);
        if (opened == Opened::kYes && size + recordLen > kLogRotateSize) {
            // One older generation: what stands under its name goes only
            // when it is the log's own kind of file; else the log would
            // grow past its limit, and the records go elsewhere. A reader
            // that keeps either from being renamed or replaced only puts the
            // rotation off to a later record, and loses no generation.
            file.Close();
            if (!BackupMayGo(backupPath.c_str())) {
                opened = Opened::kRefused;
                refusal = Refusal::kBackupInTheWay;
            } else if (MoveFileExA(logPath, backupPath.c_str(), MOVEFILE_REPLACE_EXISTING) ||
                       GetLastError() == ERROR_SHARING_VIOLATION) {
                opened = OpenForAppend(logPath, file, size, refusal);
            } else {
                opened = Opened::kRefused;
                refusal = Refusal::kBackupInTheWay;
            }
        }
        if (opened == Opened::kYes)
            WriteRecord(file.Get(), header, static_cast<size_t>(headerLen), message, messageLen);
        // The file is closed here, before the mutex is released, so that
        // the next writer can open it.
        if (opened == Opened::kRefused) {
            file.Close();
            WriteToFallback(logPath, refusal, header, static_cast<size_t>(headerLen), message,
                            messageLen);
        }
    }
    ReleaseMutex(mutex.Get());
}
