// The last run in a machine's log: read from the end of the log, and of its
// older generation when the run began before the log was rotated, in blocks
// of bounded size however large the files are.
#pragma once

#include "Records.h"

#include <windows.h>
#include <string>
#include <vector>

// A file found in the logs folder. Wine lists names that Windows cannot open
// (a "<" in a name made on the Unix side); such a file is opened by its short
// name.
struct FoundFile {
    bool present = false;
    std::wstring path;      // extended-length form
    std::wstring shortPath; // the same with the short name; empty when none
    FILETIME lastWrite = {};
};

// Opens a found file for reading, sharing it with an Update.exe that is still
// writing or rotating it. False with the platform's error code.
bool OpenFound(const FoundFile& file, HANDLE& handle, DWORD& error);

enum class RunState { NoLog, Found, Unreadable };

struct RunRecord {
    std::string time; // "YYYY/MM/DD hh:mm:ss"
    std::string text; // code page 932
};

struct LastRun {
    RunState state = RunState::NoLog;
    std::string start; // the time of its start banner
    // Its first records, the banner among them: what kind of run it is.
    std::vector<RunRecord> head;
    // Its closing record: the exit status and when it was written.
    bool closed = false;
    long exitStatus = 0;
    std::string end;
    // Its last records, the banner among them while they are few: what
    // failed, or the step it stopped after, is near the end.
    std::vector<RunRecord> tail;
};

// Where logs are read, kept from one machine to the next.
struct ReadBuffers {
    std::string log, backup;
};

// The last run of log, whose start may be in backup (LOG.BAK). Unreadable
// when a file cannot be read or no start is found within a distance from the
// end that no run of Update.exe comes near.
void ReadLastRun(const FoundFile& log, const FoundFile& backup, LastRun& run, ReadBuffers& buffers);
