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

// Files never grow past this many bytes: the older generation goes to ".BAK".
constexpr unsigned long kLogRotateSize = 65536;
// The longest message a record carries, in bytes.
constexpr int kLogMessageMax = 1023;
// How long a record waits for the log mutex before it is dropped.
constexpr unsigned long kLogMutexTimeoutMs = 10000;
constexpr const char kLogMutexName[] = "INALOG_MUTEX";

class LogWriter {
  public:
    LogWriter(const char* logPath, const char* sourceFilePath, int line);
    virtual ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Formats the text printf-style and appends one record. Never reports a
    // failure: a record that cannot be written is dropped.
    void WriteLog(const char* format, ...) __attribute__((format(printf, 2, 3)));

  private:
    char logPath[260];
    std::string backupPath;
    char sourceFile[260];
    int line;
};
