// The diagnostic log: one record per log statement, appended to the file
// named by g_logPath, serialised across threads and processes by a named
// mutex.
#pragma once

#include <string>

// The log statement: WRITE_LOG("text %d .", value); builds a LogWriter for
// this source position and appends one record.
#define WRITE_LOG(...) LogWriter(g_logPath, __FILE__, __LINE__).WriteLog(__VA_ARGS__)

// The log file of this process: set once at start-up, before the first
// record; empty, every record is dropped.
extern char g_logPath[260];

// Files never grow past this many bytes: the older generation goes to ".BAK"
// (later, when a reader keeps the log from being renamed for a while).
constexpr unsigned long kLogRotateSize = 65536;
// The longest message a record carries, in bytes.
constexpr int kLogMessageMax = 1023;
// How long a run waits for the log mutex, all its records together, before
// it writes its records another way.
constexpr unsigned long kLogMutexTimeoutMs = 10000;
constexpr const char kLogMutexName[] = "INALOG_MUTEX";

class LogWriter {
  public:
    LogWriter(const char* logPath, const char* sourceFilePath, int line);
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Formats the text printf-style and appends one record. Never reports a
    // failure. The log is written only when it is a plain file of its own:
    // no folder, no link (it never writes through one), no second name of
    // another file, not read-only, not held open by a program that refuses
    // to share writing (readers that share it may read meanwhile); and it
    // is rotated only when its older generation is such a file too or
    // absent. When the log cannot be written so, or when the process has
    // waited for the mutex kLogMutexTimeoutMs in all, this record and every
    // later one of this process go to a file of the process's own, made new
    // and kept open to the end: beside the log, "<log>.<process id>.txt"
    // (or, when that name is taken, one that nobody can take in advance,
    // OwnName.h), else the same in the temporary folder as
    // "Update_Log.<process id>.txt". Its first record says why; the mutex
    // is not waited for again. A record that can be written nowhere is
    // dropped.
    void WriteLog(const char* format, ...) __attribute__((format(printf, 2, 3)));

  private:
    char logPath[260];
    std::string backupPath;
    char sourceFile[260];
    int line;
};

// The file this process's records went to instead of the log, when they did;
// empty otherwise.
const char* LogFallbackPath();
// For tests: this process writes to its log again and waits for the mutex.
void ResetLogFallback();
// For tests: the mutex is waited for this long in all instead (the records
// still say kLogMutexTimeoutMs), so that a test of the wait need not take it.
void SetLogMutexWait(unsigned long ms);
// For tests: sees each open of the log, its older generation and the run's
// own file (path, disposition, flags) before it is made, so that a test can
// see a link opened as itself (FILE_FLAG_OPEN_REPARSE_POINT), which Wine
// does not show. None by default.
typedef void (*LogOpenWatch)(const char* path, unsigned long disposition, unsigned long flags);
void SetLogOpenWatch(LogOpenWatch watch);
