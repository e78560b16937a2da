#include "Causes.h"

#include "Utf8.h"

#include <stdio.h>
#include <string.h>

namespace {

// cmd's status for a command it cannot find or start.
constexpr long kNotStarted = 9009;
// Ends that are no crash: Ctrl+C or a closed console, a debugger's kill.
constexpr unsigned long kControlCExit = 0xC000013A;
constexpr unsigned long kDebuggerKill = 0x40010004;

const char* const kActionWords[kActions] = {"fix", "retry", "wait", "skip", "none"};

struct CauseInfo {
    Cause cause;
    Action action;
    const char* title;
};

constexpr CauseInfo kCauseInfo[] = {
    {Cause::DiskFull, Action::Fix, "Not enough disk space"},
    {Cause::Utf8Settings, Action::Fix, "Settings saved as UTF-8"},
    {Cause::BadSettingsText, Action::Fix, "Settings that are no Shift-JIS text"},
    {Cause::FolderInTheWay, Action::Fix, "A folder in the way"},
    {Cause::AccessDenied, Action::Fix, "Access denied"},
    {Cause::FileError, Action::Fix, "A file operation failed"},
    {Cause::NoShare, Action::Fix, "No share named"},
    {Cause::ServerName, Action::Fix, "Refused server name"},
    {Cause::CommandText, Action::Fix, "A folder the command files cannot name"},
    {Cause::NoMarker, Action::Fix, "Payload without its marker"},
    {Cause::BadPayload, Action::Fix, "Damaged payload"},
    {Cause::PathTooLong, Action::Fix, "Path too long"},
    {Cause::NothingKept, Action::Fix, "Nothing kept to undo"},
    {Cause::UsageError, Action::Fix, "Usage error"},
    {Cause::NotStarted, Action::Fix, "Could not start"},
    {Cause::Crashed, Action::Fix, "Crashed"},
    {Cause::NoLog, Action::Fix, "Ended without a log"},
    {Cause::Unreadable, Action::Fix, "Unreadable files"},
    {Cause::UnknownStatus, Action::Fix, "Unknown exit status"},
    {Cause::UnknownRecord, Action::Fix, "Failure without a known record"},
    {Cause::InUse, Action::Retry, "A file in use"},
    {Cause::Interrupted, Action::Retry, "Interrupted"},
    {Cause::Cancelled, Action::Retry, "Cancelled"},
    {Cause::Running, Action::Wait, "Running now"},
    {Cause::AnotherRunning, Action::Wait, "Another update running"},
    {Cause::NotReported, Action::Wait, "Not reported yet"},
    {Cause::NotRecognised, Action::Skip, "Product not recognised"},
    {Cause::Updated, Action::None, "Updated"},
    {Cause::AlreadyUpdated, Action::None, "Already updated"},
    {Cause::Undone, Action::None, "Undone"},
};

// One entry per cause, in the enumeration's order.
constexpr bool EveryCauseInOrder() {
    for (int i = 0; i < kCauses; ++i) {
        if (kCauseInfo[i].cause != static_cast<Cause>(i))
            return false;
    }
    return sizeof kCauseInfo / sizeof kCauseInfo[0] == kCauses;
}
static_assert(EveryCauseInOrder(), "kCauseInfo lists every Cause in order");

// Update.exe's exit statuses (its README, "Exit status").
const struct {
    long status;
    const char* meaning;
} kMeanings[] = {
    {0, "updated"},        {1, "update failed"},
    {2, "not recognised"}, {3, "already updated"},
    {4, "cancelled"},      {5, "another update running"},
    {64, "usage error"},   {kNotStarted, "not started"},
};

std::string Number(long n) {
    char text[24];
    snprintf(text, sizeof text, "%ld", n);
    return text;
}

std::string Hex(long status) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

bool IsCrash(long status) {
    const unsigned long code = static_cast<unsigned long>(status);
    return code >= 0xC0000000 && code != kControlCExit;
}

std::string Meaning(long status) {
    for (const auto& m : kMeanings) {
        if (m.status == status)
            return m.meaning;
    }
    if (IsCrash(status) || static_cast<unsigned long>(status) == kDebuggerKill) {
        return "ended abnormally (" + Hex(status) + ")";
    }
    return "unknown status";
}

// "...(5)" at the end of the system's text for an error: its code.
bool ErrorCode(const std::string& reason, unsigned long& code) {
    const size_t close = reason.rfind(')');
    const size_t open = reason.rfind('(', close);
    if (close == std::string::npos || open == std::string::npos || close == open + 1)
        return false;
    code = 0;
    for (size_t i = open + 1; i < close; ++i) {
        if (reason[i] < '0' || reason[i] > '9')
            return false;
        code = code * 10 + static_cast<unsigned long>(reason[i] - '0');
    }
    return true;
}

// The system errors an update meets, in words; the rest by number.
const struct {
    unsigned long code;
    const char* words;
} kErrorWords[] = {
    {2, "file not found"},
    {3, "path not found"},
    {5, "access denied"},
    {19, "the disk is write-protected"},
    {21, "the device is not ready"},
    {32, "in use by another program"},
    {33, "locked by another program"},
    {39, "the disk is full"},
    {53, "network path not found"},
    {64, "the network name is no longer available"},
    {67, "network name not found"},
    {112, "the disk is full"},
    {1117, "device I/O error"},
    {1392, "the file or folder is corrupt"},
    {10091, "the network subsystem is unavailable"},
    {11001, "host not found"},
};

// "access denied (error 5)", or "error 1234" for a code without words, or
// the system's own text when it has no code.
std::string ErrorPhrase(const std::string& reason) {
    unsigned long code = 0;
    if (!ErrorCode(reason, code))
        return "\"" + Utf8FromLog(reason) + "\"";
    for (const auto& e : kErrorWords) {
        if (e.code == code)
            return std::string(e.words) + " (error " + Number(static_cast<long>(code)) + ")";
    }
    return "error " + Number(static_cast<long>(code));
}

enum class ErrorClass { InUse, DiskFull, Denied, Other };

ErrorClass Classify(const std::string& reason) {
    unsigned long code = 0;
    if (!ErrorCode(reason, code))
        return ErrorClass::Other;
    if (code == 32 || code == 33)
        return ErrorClass::InUse;
    if (code == 39 || code == 112)
        return ErrorClass::DiskFull;
    return code == 5 ? ErrorClass::Denied : ErrorClass::Other;
}

// A failed operation on a file: the cause its error code points to.
void FileFailure(Verdict& v, const std::string& file, const char* verb, const std::string& reason) {
    const std::string name = Utf8FromLog(file);
    switch (Classify(reason)) {
    case ErrorClass::InUse:
        v.cause = Cause::InUse;
        v.sentence = name + " is " + ErrorPhrase(reason) + "; the next start tries again";
        return;
    case ErrorClass::DiskFull:
        v.cause = Cause::DiskFull;
        v.sentence = "The disk filled up: " + name + " could not be " + verb;
        return;
    case ErrorClass::Denied:
        v.cause = Cause::AccessDenied;
        break;
    case ErrorClass::Other:
        v.cause = Cause::FileError;
        break;
    }
    v.sentence = name + " could not be " + verb + ": " + ErrorPhrase(reason);
}

// "Disk D:" for a folder on a drive, "Share \\server\share" for one on a
// share.
std::string DiskOf(const std::string& folder) {
    if (folder.size() >= 2 && folder[1] == ':')
        return "Disk " + folder.substr(0, 2);
    if (folder.compare(0, 2, "\\\\") == 0) {
        const size_t server = folder.find('\\', 2);
        const size_t share = server == std::string::npos ? server : folder.find('\\', server + 1);
        return "Share " + Utf8FromLog(folder.substr(0, share));
    }
    return "The disk of " + Utf8FromLog(folder);
}

// The unpacker's result codes (fpack's table in the README).
const char* UnpackMeaning(long code) {
    switch (code) {
    case -1:
        return "a file could not be created";
    case -2:
        return "content could not be written or inflated";
    case -6:
        return "the archive could not be opened";
    case -7:
        return "no memory for a chunk";
    case -8:
        return "the archive is truncated";
    case -9:
        return "bad signature, length or name";
    case -10:
        return "a file's chunks do not add up";
    case -11:
        return "an existing file was not replaced";
    }
    return "unknown result";
}

// The records of a failed run that say what failed. A cause names it; a
// summary only says that something failed (and counts when no cause does);
// a detail completes the cause right before it.
enum class Role { Cause, Summary, Detail };
enum class Form {
    CannotUpdateFolder,
    CannotUpdateUtf8,
    CannotUpdateText,
    CannotUpdateCommand,
    CannotUpdate,
    NoSpace,
    UnpackFailed,
    UnpackFileBecause,
    UnpackFile,
    PayloadNoMarker,
    PayloadFileFailed,
    NoShare,
    NoHostName,
    ShareTooLong,
    BadServerName,
    SettingTooLong,
    PathTooLong,
    NothingKept,
    CopyFailed,
    FileFailed,
};

// First match wins: the specific forms before the general ones they also fit.
const struct {
    const char* format;
    Form form;
    Role role;
} kFailureForms[] = {
    {LOG_CANNOT_UPDATE_FOLDER, Form::CannotUpdateFolder, Role::Cause},
    {LOG_CANNOT_UPDATE_UTF8, Form::CannotUpdateUtf8, Role::Cause},
    {LOG_CANNOT_UPDATE_TEXT, Form::CannotUpdateText, Role::Cause},
    {LOG_CANNOT_UPDATE_COMMAND, Form::CannotUpdateCommand, Role::Cause},
    {LOG_CANNOT_UPDATE, Form::CannotUpdate, Role::Cause},
    {LOG_NO_SPACE, Form::NoSpace, Role::Cause},
    {LOG_UNPACK_FAILED, Form::UnpackFailed, Role::Cause},
    {LOG_UNPACK_FILE_FAILED_BECAUSE, Form::UnpackFileBecause, Role::Detail},
    {LOG_UNPACK_FILE_FAILED, Form::UnpackFile, Role::Detail},
    {LOG_PAYLOAD_NO_MARKER, Form::PayloadNoMarker, Role::Detail},
    {LOG_PAYLOAD_FILE_FAILED, Form::PayloadFileFailed, Role::Cause},
    // On a server the run goes on after this: its own host name stands in.
    {LOG_NO_SHARE, Form::NoShare, Role::Summary},
    {LOG_NO_HOST_NAME, Form::NoHostName, Role::Cause},
    {LOG_SHARE_TOO_LONG, Form::ShareTooLong, Role::Cause},
    {LOG_BAD_SERVER_NAME, Form::BadServerName, Role::Cause},
    {LOG_SETTING_TOO_LONG, Form::SettingTooLong, Role::Cause},
    {LOG_PATH_TOO_LONG, Form::PathTooLong, Role::Cause},
    {LOG_NOTHING_KEPT, Form::NothingKept, Role::Cause},
    {LOG_COPY_FAILED, Form::CopyFailed, Role::Summary},
    {LOG_FILE_FAILED, Form::FileFailed, Role::Cause},
};

// What failed in LOG_FILE_FAILED, as a past participle.
const struct {
    const char* what;
    const char* verb;
} kFileVerbs[] = {
    {LOG_WHAT_REMOVE, "removed"}, {LOG_WHAT_WRITE, "written"},  {LOG_WHAT_CREATE, "created"},
    {LOG_WHAT_COPY, "copied"},    {LOG_WHAT_RENAME, "renamed"}, {LOG_WHAT_RESTORE, "restored"},
};

const char* FileVerb(const std::string& what) {
    for (const auto& v : kFileVerbs) {
        if (what == v.what)
            return v.verb;
    }
    return nullptr;
}

// The step a run had reached, from its last record.
bool StepOf(const RunRecord& last, std::string& phrase);

struct Failure {
    Form form;
    Role role;
    FormatArgs args;
    const RunRecord* record;
};

bool Recognise(const RunRecord& record, Failure& failure) {
    for (const auto& f : kFailureForms) {
        if (!MatchFormat(f.format, record.text, failure.args))
            continue;
        if (f.form == Form::FileFailed && FileVerb(failure.args.Text(1)) == nullptr)
            continue;
        failure.form = f.form;
        failure.role = f.role;
        failure.record = &record;
        return true;
    }
    return false;
}

// The cause of a failed unpack, from its code and the record after it.
void UnpackFailure(Verdict& v, long code, const Failure* detail) {
    if (detail != nullptr && detail->form == Form::PayloadNoMarker) {
        v.cause = Cause::NoMarker;
        v.sentence = "The payload inside Update.exe holds no " + Utf8FromLog(detail->args.Text(0)) +
                     ": build Update.exe again from the vendor's complete files";
        return;
    }
    if (detail != nullptr && detail->form == Form::UnpackFileBecause) {
        FileFailure(v, detail->args.Text(0), "unpacked", detail->args.Text(1));
        return;
    }
    const std::string meaning = std::string(UnpackMeaning(code)) + ", result " + Number(code);
    if (detail != nullptr) {
        v.cause = Cause::FileError;
        v.sentence = Utf8FromLog(detail->args.Text(0)) + " could not be unpacked" +
                     (code != 0 ? " (" + meaning + ")" : std::string());
        return;
    }
    v.cause = Cause::BadPayload;
    v.sentence = "The payload inside Update.exe cannot be unpacked (" + meaning + ")";
}

void Describe(Verdict& v, const Failure& f, const Failure* detail) {
    const FormatArgs& a = f.args;
    const std::string first = Utf8FromLog(a.Text(0));
    switch (f.form) {
    case Form::CannotUpdateFolder:
        v.cause = Cause::FolderInTheWay;
        v.sentence = first + " is a folder where Update.exe writes a file: move it away";
        return;
    case Form::CannotUpdateUtf8:
        v.cause = Cause::Utf8Settings;
        v.sentence = first + " is saved as UTF-8, which Update.exe cannot rewrite: save it as "
                             "Shift-JIS (ANSI) or UTF-16";
        return;
    case Form::CannotUpdateText:
        v.cause = Cause::BadSettingsText;
        v.sentence = first + " holds bytes that are no Shift-JIS text: correct the file";
        return;
    case Form::CannotUpdateCommand:
        v.cause = Cause::CommandText;
        v.sentence = "The feature folder " + first +
                     " holds a '!' or a control character, which patchcliXP.bat cannot carry: "
                     "install the product in another folder";
        return;
    case Form::CannotUpdate:
        FileFailure(v, a.Text(0), "replaced", a.Text(1));
        return;
    case Form::NoSpace:
        v.cause = Cause::DiskFull;
        v.sentence =
            DiskOf(a.Text(0)) + " has " + a.Text(2) + " KB free, " + a.Text(1) + " KB needed";
        return;
    case Form::UnpackFailed:
        UnpackFailure(v, a.Number(0), detail);
        return;
    case Form::UnpackFileBecause:
    case Form::UnpackFile:
    case Form::PayloadNoMarker:
        // Without the code before it.
        UnpackFailure(v, 0, &f);
        return;
    case Form::PayloadFileFailed:
        FileFailure(v, a.Text(0), "written (the payload)", a.Text(1));
        return;
    case Form::NoShare:
        v.cause = Cause::NoShare;
        v.sentence = "patchjob.ini names no share (TLX_SHARE), which a client needs: set it";
        return;
    case Form::NoHostName:
        v.cause = Cause::NoShare;
        v.sentence = "patchjob.ini names no share and the server could not learn its own "
                     "host name: " +
                     ErrorPhrase(a.Text(0));
        return;
    case Form::ShareTooLong:
        v.cause = Cause::ServerName;
        v.sentence = "The server name " + first + " is too long for a share path";
        return;
    case Form::BadServerName:
        v.cause = Cause::ServerName;
        v.sentence = "The server name \"" + first +
                     "\" in patchjob.ini is refused: only letters, digits, '-', '.' and '_'";
        return;
    case Form::SettingTooLong:
        v.cause = Cause::ServerName;
        v.sentence = "[SUS] " + first + " in patchjob.ini is longer than 258 bytes: shorten it";
        return;
    case Form::PathTooLong:
        v.cause = Cause::PathTooLong;
        v.sentence = "A path for " + first + " is too long";
        return;
    case Form::NothingKept:
        v.cause = Cause::NothingKept;
        v.sentence = "Updated by an earlier Update.exe, which kept no copies in " + first +
                     ": /undo cannot go back; go back by hand";
        return;
    case Form::CopyFailed:
        v.cause = Cause::FileError;
        v.sentence = "A file could not be copied";
        return;
    case Form::FileFailed:
        FileFailure(v, a.Text(0), FileVerb(a.Text(1)), a.Text(2));
        return;
    }
}

// The records of the run before its closing record.
size_t RecordsBeforeClosing(const LastRun& run) {
    size_t n = run.tail.size();
    FormatArgs args;
    while (n > 0 && MatchFormat(LOG_EXIT_STATUS, run.tail[n - 1].text, args))
        --n;
    return n;
}

void FailedRun(Verdict& v, const LastRun& run) {
    const size_t n = RecordsBeforeClosing(run);
    Failure cause = {}, summary = {}, detail = {};
    bool haveCause = false, haveSummary = false, haveDetail = false, afterCause = false;
    for (size_t i = 0; i < n; ++i) {
        Failure f = {};
        const bool recognised = Recognise(run.tail[i], f);
        const bool follows = afterCause;
        afterCause = false;
        if (!recognised)
            continue;
        if (f.role == Role::Summary) {
            summary = f;
            haveSummary = true;
        } else if (f.role == Role::Detail && follows) {
            detail = f;
            haveDetail = true;
        } else {
            cause = f;
            haveCause = true;
            haveDetail = false;
            afterCause = f.role == Role::Cause;
        }
    }
    if (!haveCause && !haveSummary) {
        v.cause = Cause::UnknownRecord;
        v.reason = n > 0 ? Utf8FromLog(run.tail[n - 1].text) : std::string();
        std::string step;
        v.sentence = n > 0 && StepOf(run.tail[n - 1], step)
                         ? "Failed after " + step + " with no record that says why"
                         : "Failed after a record this report does not know: \"" + v.reason + "\"";
        return;
    }
    const Failure& chosen = haveCause ? cause : summary;
    v.reason = Utf8FromLog(chosen.record->text);
    if (haveCause && haveDetail)
        v.reason += " " + Utf8FromLog(detail.record->text);
    Describe(v, chosen, haveCause && haveDetail ? &detail : nullptr);
}

// The step a run had reached, from its last record: "starting to rewrite
// C:\...\patchjob.ini". A "%s" in a phrase stands for the record's first
// value.
const struct {
    const char* format;
    const char* phrase;
} kSteps[] = {
    {LOG_START_BANNER, "its start"},
    {LOG_SAMPLE_BUILD, "its start"},
    {LOG_COMMAND_LINE, "its start"},
    {LOG_UNDO, "its start"},
    {LOG_MODE, "finding the product"},
    {LOG_LEFTOVER_REMOVED, "removing %s, left by an earlier run"},
    {LOG_SHARE, "reading the share"},
    {LOG_SERVER, "reading the share"},
    {LOG_PAYLOAD_FILE, "writing the payload to %s"},
    {LOG_PAYLOAD_WRITTEN, "writing the payload"},
    {LOG_UNPACK_INTO, "starting to unpack into %s"},
    {LOG_BACKUP, "keeping %s"},
    {LOG_REWRITE, "starting to rewrite %s"},
    {LOG_OLD_VALUES, "reading the old values of patchjob.ini"},
    {LOG_CREATE, "starting to write %s"},
    {LOG_RENAME_FROM, "renaming %s"},
    {LOG_RENAME_TO, "renaming a file to %s"},
    {LOG_RESTORE, "restoring %s"},
    {LOG_REMOVE, "removing %s"},
};

bool StepOf(const RunRecord& last, std::string& phrase) {
    FormatArgs args;
    for (const auto& s : kSteps) {
        if (!MatchFormat(s.format, last.text, args))
            continue;
        phrase = s.phrase;
        const size_t at = phrase.find("%s");
        if (at != std::string::npos)
            phrase.replace(at, 2, Utf8FromLog(args.Text(0)));
        return true;
    }
    return false;
}

std::string StepPhrase(const LastRun& run) {
    std::string phrase;
    if (run.tail.empty())
        return "its start";
    if (!StepOf(run.tail.back(), phrase))
        phrase = "the record \"" + Utf8FromLog(run.tail.back().text) + "\"";
    return phrase;
}

std::string LastRecord(const LastRun& run) {
    return run.tail.empty() ? std::string() : Utf8FromLog(run.tail.back().text);
}

// The record that says so, for 2, 5 and 64.
std::string RecordMatching(const LastRun& run, const char* format, FormatArgs& args) {
    for (const RunRecord& r : run.tail) {
        if (MatchFormat(format, r.text, args))
            return r.text;
    }
    return std::string();
}

// Records among a run's first that, in a run ending with the status, make
// the cause.
const struct {
    const char* record;
    long status;
    Cause cause;
    const char* sentence;
    const char* meaning; // the status as such a run means it
} kRunKinds[] = {
    // Update.exe /undo, after its start banner.
    {LOG_UNDO, 0, Cause::Undone, "Undone", "undone"},
    {LOG_UNDO, 3, Cause::Undone, "Nothing to undo: never updated, or undone before",
     "nothing to undo"},
};

bool KindOfRun(Verdict& v, long status, const LastRun& run) {
    for (const auto& kind : kRunKinds) {
        for (const RunRecord& r : run.head) {
            if (kind.status == status && r.text == kind.record) {
                v.cause = kind.cause;
                v.sentence = kind.sentence;
                v.meaning = kind.meaning;
                return true;
            }
        }
    }
    return false;
}

// A run that ended with status; run is null for a status query's result,
// which leaves no log.
void Ended(Verdict& v, long status, const LastRun* run) {
    v.status = Number(status);
    v.meaning = Meaning(status);
    FormatArgs args;
    if (run != nullptr && KindOfRun(v, status, *run))
        return;
    switch (status) {
    case 0:
        v.cause = Cause::Updated;
        v.sentence = run != nullptr && SampleBuild(*run)
                         ? "Updated by a sample build of Update.exe, not a release"
                         : "Updated";
        return;
    case 1:
        FailedRun(v, *run);
        return;
    case 2:
        v.cause = Cause::NotRecognised;
        v.sentence = "TALMERO Pro or its Windows Update support feature is not installed";
        if (run != nullptr)
            v.reason = Utf8FromLog(RecordMatching(*run, LOG_MODE, args));
        return;
    case 3:
        v.cause = Cause::AlreadyUpdated;
        v.sentence = "Already updated: WSUS.txt was there, nothing was changed";
        return;
    case 4:
        v.cause = Cause::Cancelled;
        v.sentence = "Cancelled at the dialog; the next start runs the update again";
        return;
    case 5:
        v.cause = Cause::AnotherRunning;
        v.sentence = "Another update was running on the machine; the next start runs this one";
        if (run != nullptr)
            v.reason = Utf8FromLog(RecordMatching(*run, LOG_ANOTHER_RUNNING, args));
        return;
    case 64: {
        v.cause = Cause::UsageError;
        const std::string record =
            run != nullptr ? RecordMatching(*run, LOG_UNKNOWN_ARGUMENT, args) : std::string();
        v.reason = Utf8FromLog(record);
        v.sentence = record.empty()
                         ? "Update.exe refused its command line: correct it"
                         : "Update.exe refused the argument \"" + Utf8FromLog(args.Text(0)) +
                               "\": correct the command line";
        return;
    }
    }
    v.cause = Cause::UnknownStatus;
    v.sentence = "Exit status " + Number(status) + " is none of Update.exe's";
}

// A result that no run in the log accounts for: a later start's status query
// (2, 3, 5), a program that could not start or crashed before it logged, or
// a run whose log did not reach the logs folder.
void ResultAlone(Verdict& v, const Evidence& e) {
    const long status = e.resultStatus;
    if (status == 2 || status == 3 || status == 5) {
        Ended(v, status, nullptr);
        return;
    }
    v.status = Number(status);
    v.meaning = Meaning(status);
    if (status == kNotStarted) {
        v.cause = Cause::NotStarted;
        v.sentence = "Update.exe could not be started (status 9009): check that it is beside "
                     "update-startup.cmd and that the machines may read it";
    } else if (IsCrash(status)) {
        v.cause = Cause::Crashed;
        v.sentence = "Update.exe crashed (exception " + Hex(status) + ") before it wrote its log";
    } else {
        v.cause = Cause::NoLog;
        v.sentence = "Ended with " + v.status + " (" + v.meaning + ") without writing " +
                     (e.logName.empty() ? std::string("its log") : e.logName) +
                     ": check that the machines may write to the logs folder";
    }
}

} // namespace

bool SampleBuild(const LastRun& run) {
    return run.head.size() > 1 && run.head[1].text == LOG_SAMPLE_BUILD;
}

const char* ActionWord(Action action) {
    return kActionWords[static_cast<int>(action)];
}

Action ActionOf(Cause cause) {
    return kCauseInfo[static_cast<int>(cause)].action;
}

const char* CauseTitle(Cause cause) {
    return kCauseInfo[static_cast<int>(cause)].title;
}

Verdict Judge(const Evidence& e) {
    Verdict v;
    const LastRun& run = e.run;
    if (!e.hasLog && !e.hasResult) {
        v.cause = Cause::NotReported;
        v.status = "not reported";
        v.meaning = "not reported";
        v.sentence = "Never reported: no log or result file yet";
        return v;
    }
    if (e.hasResult && !e.resultRead) {
        v.cause = Cause::Unreadable;
        v.status = "unreadable";
        v.meaning = "unreadable result file";
        v.reason = "unreadable log";
        v.sentence = "The result file holds no exit status";
        return v;
    }
    if (e.hasLog && run.state != RunState::Found) {
        v.cause = Cause::Unreadable;
        v.status = e.hasResult ? Number(e.resultStatus) : "no result";
        v.meaning = e.hasResult ? Meaning(e.resultStatus) : "no result";
        v.reason = "unreadable log";
        v.sentence = e.logName + " cannot be read or holds no run of Update.exe";
        return v;
    }
    if (!e.hasLog) {
        ResultAlone(v, e);
        return v;
    }
    // The result of the log's last run, or of a later start.
    const bool result = e.hasResult && e.resultAfterLog;
    if (run.closed) {
        if (result && e.resultStatus != run.exitStatus)
            ResultAlone(v, e);
        else
            Ended(v, run.exitStatus, &run);
        return v;
    }
    // No closing record: the run has not ended, or never will.
    if (result && (e.resultStatus == 2 || e.resultStatus == 3 || e.resultStatus == 5 ||
                   e.resultStatus == kNotStarted)) {
        ResultAlone(v, e);
        return v;
    }
    v.reason = LastRecord(run);
    const std::string at = run.tail.empty() ? run.start : run.tail.back().time;
    if (!result && !e.logStale) {
        v.cause = Cause::Running;
        v.status = "no result";
        v.meaning = "running";
        v.sentence = "Running since " + run.start + "; its last record is from " + at;
        return v;
    }
    const std::string step = StepPhrase(run);
    if (result && IsCrash(e.resultStatus)) {
        v.cause = Cause::Crashed;
        v.status = Number(e.resultStatus);
        v.meaning = Meaning(e.resultStatus);
        v.sentence = "Update.exe crashed (exception " + Hex(e.resultStatus) + ") after " + step +
                     " at " + at + ": send its log to the developers";
        return v;
    }
    v.cause = Cause::Interrupted;
    v.status = result ? Number(e.resultStatus) : "no result";
    v.meaning = "interrupted";
    v.sentence = "Interrupted after " + step + " at " + at + ": the next start finishes it";
    return v;
}
