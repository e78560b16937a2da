// What the update keeps of the feature folder before its first change, so
// that an undo (Undo.h) can put the folder back as it was: a copy of each
// file it will replace, rename or remove (content, attributes, last-write
// time), and the names of the files it adds. They lie in a folder of their
// own in the feature folder, the copies first, each flushed, then the list
// that names them, whose presence says the keep is complete. A later update
// never replaces what the list holds: it only adds the names it did not
// hold, whose files no earlier run changed. Which names a step changes is
// the step kind's own (General.cpp); this file knows where they go.
#pragma once

#include "Precheck.h"

#include <windows.h>
#include <string>
#include <vector>

// In the feature folder.
constexpr char kKeepFolder[] = "WSUS.undo";
// In the keep folder: the list, and its name once an undo has put every
// file back and only the keep itself is left to remove. Short, so that the
// keep's paths, work names too, are no longer than the plan's.
constexpr char kKeepList[] = "list";
constexpr char kKeepListUndone[] = "undone";

// One name of the feature folder as it was before the first update.
struct KeptName {
    std::string name;     // in the feature folder
    bool existed = false; // a copy is kept; otherwise the update adds the file
    unsigned copy = 0;    // the copy's name in the keep folder, a number
    unsigned long long size = 0;
    // A file the update adds by renaming another: that one's name. The undo
    // renames it back first, so that no start finds both names, or neither.
    std::string from;
};

enum class KeepState {
    kNone,       // no keep folder
    kIncomplete, // a keep folder without a list: an interrupted keep
    kComplete,   // the list, read
    kUndone,     // the list under its undone name, read
    kUnreadable, // a list that cannot be read or makes no sense; error says why
};

struct Keep {
    std::string feature; // the feature folder
    std::string folder;  // its keep folder
    std::string list;
    std::string undone;
    KeepState state = KeepState::kNone;
    DWORD error = 0;
    std::vector<KeptName> names; // kComplete and kUndone

    std::string PathOf(const KeptName& kept) const;
    std::string CopyOf(const KeptName& kept) const;
};

// The keep of a feature folder as it is; changes nothing.
Keep ReadKeep(const char* featureFolder);

// What an interrupted run left of a keep or of an undo from it: the work
// names of the kept names in the feature folder, and the files of the keep
// folder that are no part of a complete keep (all of them when there is no
// list: the folder then goes too, else those the list does not name).
std::vector<std::string> KeepLeftovers(const Keep& keep);
bool KeepFolderIsLeftover(const Keep& keep);
// The files in a folder (not its subfolders), with their paths.
std::vector<std::string> FilesIn(const std::string& folder);

// The names of the feature folder that an update is about to change, in the
// order of its steps, each once.
class ToKeep {
  public:
    // from: the name it gets by a rename, when it does.
    void Add(const char* name, const char* from = nullptr);
    struct Name {
        std::string name;
        std::string from;
    };
    const std::vector<Name>& Names() const { return names_; }

  private:
    std::vector<Name> names_;
};

// The names that a complete keep does not hold yet, as they are now: an
// existing file with its size and the number of its copy-to-be.
std::vector<KeptName> NotYetKept(const Keep& keep, const ToKeep& toKeep);

// The check before the update: the keep can be read, each file to be kept
// can be read, and its copy and the list are counted in the space needed.
bool CheckKeep(Checker& check, const Keep& keep, const std::vector<KeptName>& added);

// Where writing the keep failed: the file and what was done to it.
enum class KeepStep { kMakeFolder, kCopy, kWriteList };
struct KeepFailure {
    std::string path;
    KeepStep step = KeepStep::kCopy;
};

// Copies the files not yet kept into the keep folder (made when missing),
// then writes the list of every kept name through its work name; nothing
// when the keep is complete and holds them all. False, with the failure
// and GetLastError set, when it cannot.
bool WriteKeep(const Keep& keep, const std::vector<KeptName>& added, KeepFailure& failure);
