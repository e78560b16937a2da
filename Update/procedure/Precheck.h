// The check before the first change: everything the update will touch can be
// touched now. Every file it replaces can be replaced (read-only files too:
// the steps make them writable), the payload unpacks and holds the marker,
// the share and the server are there, the settings are text that the
// profile functions keep intact, and the drive has room. What each step
// asks of it is in the update's table of step kinds (General.cpp).
#pragma once

#include "PathHelpers.h"
#include "Plan.h"
#include "Share.h"

#include <windows.h>
#include <stdint.h>
#include <string>
#include <vector>

enum class CheckProblem {
    kNone,
    kPathTooLong,   // path: the name that does not fit after its folder
    kSystemError,   // path cannot be opened as the step needs; error says why
    kFolder,        // path is a folder where a file has to go
    kNoSpace,       // path: the folder; needed and available in bytes
    kUtf8Text,      // path is UTF-8 text, which the profile functions corrupt
    kMalformedText, // path is neither code page 932 text nor UTF-16
    kBadArchive,    // the payload cannot be read; error is its result code
    kNoMarker,      // the payload holds no marker
    kShare,         // share: what the share and the server came to
    kCommandText,   // path: a folder that a command file cannot carry as written
};

struct CheckResult {
    CheckProblem problem = CheckProblem::kNone;
    char path[kPathBufferSize] = "";
    DWORD error = 0;
    unsigned long long needed = 0;
    unsigned long long available = 0;
    ShareLookup share;
};

// The payload's files as the unpack will write them into the feature
// folder, from one walk of the archive: the check looks at each, and the
// leftovers of an interrupted unpack are looked for in each folder.
struct PayloadMembers {
    struct File {
        std::string target; // the marker under its aside name
        uint64_t size = 0;
        bool fits = true; // target fits the unpacker's path buffer
        std::string name; // as the archive (or, for the marker, the aside name) has it
    };
    std::vector<File> files;
    // Each folder a file goes to, once, with its trailing backslash.
    std::vector<std::string> folders;
    bool marker = false;
    // What the walk came to: 0, or the unpacker's code for the archive.
    int code = 0;
};
PayloadMembers ReadPayloadMembers(const void* archive, DWORD size, const char* featureFolder);

// Collects what the steps need and keeps the first problem found; once one
// is found, the others are not looked at.
class Checker {
  public:
    explicit Checker(CheckResult& result) : result_(result) {}
    Checker(const Checker&) = delete;
    Checker& operator=(const Checker&) = delete;

    // Records the problem (the path cut to fit); false.
    bool Fail(CheckProblem problem, const char* path, DWORD error = 0);
    bool Failed() const { return result_.problem != CheckProblem::kNone; }
    CheckResult& Result() { return result_; }

    // True when the file is absent or can be used as a step needs it.
    bool Usable(const char* path, ExistingFile use);
    // Space for a file of this size written beside the one it replaces.
    void Need(unsigned long long bytes);
    // The same for a file of a few hundred bytes.
    void NeedSmallFile() { Need(1); }
    void NeedSizeOf(const char* path);
    // A settings file that the profile functions would corrupt is refused.
    bool SettingsText(const char* path);
    // Each payload file replaceable, and the marker among them.
    bool Members(const PayloadMembers& members);
    // Room on the folder's drive for everything asked for.
    bool Space(const char* folder);

  private:
    CheckResult& result_;
    unsigned long long needed_ = 0;
};

// How the bytes of a settings file are encoded, as far as the profile
// functions care. kFirstBytes: the sample is the file's first bytes only,
// which may end inside a double-byte character.
enum class TextKind { kAnsi, kUtf16, kUtf8, kMalformed };
enum class Sample { kWhole, kFirstBytes };
TextKind ClassifyText(const char* data, size_t size, Sample sample = Sample::kWhole);
