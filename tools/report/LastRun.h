// The last run in a machine's log: read from the end of the log, and of its
// older generation when the run began before the log was rotated, in blocks
// of bounded size however large the files are.
#pragma once

#include "Records.h"

#include <windows.h>
#include <string>

// A file found in the logs folder. Wine lists names that Windows cannot open
// (a "<" in a name made on the Unix side); such a file is opened by its short
// name.
struct FoundFile {
    bool present = false;
    std::string path;      // folder + name, code page 932
    std::string shortPath; // folder + short name; empty when there is none
    FILETIME lastWrite = {};
};

// Opens a found file for reading, sharing it with an Update.exe that is still
// writing or rotating it. False with the platform's error code.
bool OpenFound(const FoundFile& file, HANDLE& handle, DWORD& error);

enum class RunState { NoLog, Found, Unreadable };

struct LastRun {
    RunState state = RunState::NoLog;
    char start[kRecordTimeLength + 1] = ""; // the time of its start banner
    ReasonFinder reason;
};

// The last run of log, whose start may be in backup (LOG.BAK). Unreadable
// when a file cannot be read or no start is found within a distance from the
// end that no run of Update.exe comes near.
void ReadLastRun(const FoundFile& log, const FoundFile& backup, LastRun& run);
