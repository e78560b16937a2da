// What a machine's files say, as an administrator acts on it: an action word
// and one English sentence naming the file or the value involved. Pure
// functions of what was read; no file is touched here.
#pragma once

#include "LastRun.h"

#include <string>

// What to do about a machine, in the order the report lists them.
enum class Action { Fix, Retry, Wait, Skip, None };
constexpr int kActions = 5;
// "fix", "retry", "wait", "skip", "none".
const char* ActionWord(Action action);

// The causes, each with one action; the page groups its rows by them.
enum class Cause {
    // fix: a person must act.
    DiskFull,
    Utf8Settings,
    BadSettingsText,
    FolderInTheWay,
    AccessDenied,
    FileError,
    NoShare,
    ServerName,
    CommandText,
    NoMarker,
    BadPayload,
    PathTooLong,
    NothingKept,
    UsageError,
    NotStarted,
    Crashed,
    NoLog,
    Unreadable,
    UnknownStatus,
    UnknownRecord,
    // retry: clears by itself at the next start.
    InUse,
    Interrupted,
    Cancelled,
    // wait
    Running,
    AnotherRunning,
    NotReported,
    // skip
    NotRecognised,
    // none
    Updated,
    AlreadyUpdated,
    Undone,
};
constexpr int kCauses = static_cast<int>(Cause::Undone) + 1;
Action ActionOf(Cause cause);
// A heading for the cause's group: "Not enough disk space".
const char* CauseTitle(Cause cause);

// What was found of a machine.
struct Evidence {
    std::string logName;     // "NAME.log", UTF-8, for sentences
    bool hasLog = false;     // NAME.log or NAME.log.BAK
    LastRun run;             // its last run
    bool hasResult = false;  // NAME.result
    bool resultRead = false; // it holds a status
    long resultStatus = 0;
    // The result was written after the log, so by the script after its last
    // run or by a later start's status query.
    bool resultAfterLog = false;
    // The log was last written longer ago than the run can take.
    bool logStale = false;
};

// The row's columns that follow from the evidence, all UTF-8.
struct Verdict {
    Cause cause = Cause::UnknownStatus;
    std::string status;   // "0", "no result", "unreadable", "not reported"
    std::string meaning;  // the status as the README's exit status table says
    std::string sentence; // the cause, one sentence
    std::string reason;   // the log record(s) it rests on, as written
};

Verdict Judge(const Evidence& evidence);

// Whether the run's build carries the sample payload: the record right after
// its start banner says so.
bool SampleBuild(const LastRun& run);
