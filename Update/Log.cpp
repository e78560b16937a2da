#include "Log.h"

#include "Mbcs.h"
#include "Owners.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

char g_logPath[260];

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

LogWriter::~LogWriter() {
    backupPath.clear();
    backupPath.shrink_to_fit();
}

void LogWriter::WriteLog(const char* format, ...) {
    // No usable log path: there is nowhere to write, so the record is dropped.
    if (logPath[0] == '\0')
        return;

    UniqueHandle mutex(CreateMutexA(nullptr, FALSE, kLogMutexName));
    if (!mutex.IsValid())
        return;
    DWORD wait = WaitForSingleObject(mutex.Get(), kLogMutexTimeoutMs);
    if (wait == WAIT_TIMEOUT || wait == WAIT_FAILED)
        return;

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
    int headerLen = wsprintfA(header, "[%04d/%02d/%02d %02d:%02d:%02d] %s %d %x : ", now.wYear,
                              now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, sourceFile,
                              line, GetCurrentThreadId());
    if (headerLen < 0)
        headerLen = 0;

    unsigned long long recordLen = static_cast<unsigned long long>(headerLen) + messageLen + 2;
    WIN32_FILE_ATTRIBUTE_DATA info;
    unsigned long long current = 0;
    if (GetFileAttributesExA(logPath, GetFileExInfoStandard, &info))
        current = info.nFileSizeLow;
    if (current + recordLen > kLogRotateSize) {
        remove(backupPath.c_str());
        rename(logPath, backupPath.c_str());
    }

    {
        UniqueHandle file(CreateFileA(logPath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.IsValid()) {
            SetFilePointer(file.Get(), 0, nullptr, FILE_END);
            DWORD written = 0;
            WriteFile(file.Get(), header, static_cast<DWORD>(headerLen), &written, nullptr);
            WriteFile(file.Get(), message, static_cast<DWORD>(messageLen), &written, nullptr);
            WriteFile(file.Get(), "\r\n", 2, &written, nullptr);
        }
        // The file is closed here, before the mutex is released, so that the
        // next writer can open it.
    }
    ReleaseMutex(mutex.Get());
}
