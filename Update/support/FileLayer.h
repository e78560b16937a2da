// The file layer: every call by which the update, the unpacker and fpack c
// change the disk, and the whole-file operations built on them. Paths may be
// of any length (the long form beyond 259 bytes). Each call passes one seam,
// so that a test can make the N-th call fail, or end the process there, and
// the rule "data reaches the disk before the name that makes it count" is
// kept in one place.
#pragma once

#include "Owners.h"

#include <windows.h>
#include <stddef.h>
#include <string>

// What a call is about to do to the disk.
enum class DiskCall {
    kCreate,        // create a file, or cut one to length 0
    kWrite,         // write data
    kFlush,         // write the system's buffers of a file to the disk
    kSetTimes,      // set creation and last-write times
    kSetAttributes, // set attribute bits
    kMove,          // give a file another name (replacing one there)
    kDelete,        // remove a file
    kMakeFolder,    // create a folder
    kWriteProfile,  // set one key of a settings file
    kOpenToWrite,   // open an existing file for writing its data
    kRemoveFolder,  // remove an empty folder
};

// Called before each call that changes the disk or opens a file to change
// it, with the path it changes
// (a move: its new name, and the file moved as from; otherwise from is
// null) and its flags (a move's MOVEFILE_ flags, an open's flags and
// attributes; otherwise 0), which Wine does not always act on. Returning
// false makes the call fail with the error the hook set (SetLastError),
// without touching the disk. Tests only; none by default.
typedef bool (*DiskCallHook)(void* context, DiskCall call, const char* path, const char* from,
                             DWORD flags);
void SetDiskCallHook(DiskCallHook hook, void* context);

// Tests only: RemoveFile judges what stands at a name by the attributes this
// returns for those the platform gave, so that a test can show a link to a
// file as Windows shows it (FILE_ATTRIBUTE_REPARSE_POINT), which Wine does
// not. None by default.
typedef DWORD (*AttributesHook)(const char* path, DWORD attributes);
void SetAttributesHook(AttributesHook hook);

// The platform's calls through the seam. DiskOpen counts as kCreate when
// its disposition may create or cut a file, as kOpenToWrite when it opens an
// existing one with access to its data, and not at all otherwise; the
// others always count.
// Results as the platform's: a handle (invalid on failure), or true.
HANDLE DiskOpen(const char* path, DWORD access, DWORD share, DWORD disposition,
                DWORD flagsAndAttributes);
bool DiskWrite(HANDLE file, const char* path, const void* data, size_t size);
bool DiskFlush(HANDLE file, const char* path);
bool DiskSetTimes(HANDLE file, const char* path, const FILETIME* creation,
                  const FILETIME* lastWrite);
bool DiskSetAttributes(const char* path, DWORD attributes);
bool DiskMove(const char* from, const char* to, DWORD flags);
bool DiskDelete(const char* path);
bool DiskMakeFolder(const char* path);
bool DiskRemoveFolder(const char* path);
bool DiskWriteProfile(const char* file, const char* section, const char* key, const char* value);

// The work name of a file the update replaces: path + this. A leftover of an
// interrupted run is removed by the next one.
constexpr char kWorkSuffix[] = ".upd~";
// path + kWorkSuffix into out; false (out empty) when it does not fit.
bool MakeWorkPath(const char* path, char* out, size_t capacity);

// Removes a plain file, clearing its read-only bit first. True when it is
// gone or was never there. A folder or a link is never removed: false with
// ERROR_ACCESS_DENIED (removing a link would remove what it points at on
// some platforms); nor a read-only file with other names (hard links),
// whose bit would go under those names too. A file with other names that is
// not read-only loses this name only.
bool RemoveFile(const char* path);

// What happens to a target that exists already.
enum class ExistingTarget { kReplace, kKeep };

// Gives the finished work file (closed, its data flushed, its attributes
// set) the target's name. A read-only target is made writable just before
// and gets its bit back when the move fails. On failure the work file is
// removed and GetLastError tells the error of the failed call.
bool PutInPlace(const char* workPath, const char* target, ExistingTarget existing);

// Whether a new file's data is flushed before the call that finishes it
// returns. A file that takes another's name is always flushed first.
enum class Durability { kFlushed, kAsWritten };

// A file being written: created new (or over a leftover of an interrupted
// run), then finished where it is or put in the place of its target. Until
// then every way out removes it again, so that a failure leaves nothing.
class NewFile {
  public:
    NewFile() = default;
    ~NewFile() { Discard(); }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Creates path for writing, without sharing, with the normal attribute.
    // With kReplace a plain file there is removed first. False (nothing
    // owned) when it cannot be created.
    bool Create(const char* path, ExistingTarget existing);
    HANDLE Handle() const { return handle_.Get(); }
    const char* Path() const { return path_.c_str(); }
    bool Write(const void* data, size_t size);
    // Sets the times (when given) through the handle, flushes when asked,
    // closes, and sets the attributes (those SetFileAttributes takes) unless
    // they are those of a new file, kNewFileAttributes. The file is still
    // this owner's.
    bool Finish(const FILETIME* creation, const FILETIME* lastWrite, Durability durability,
                DWORD attributes);
    // The finished file stays where it is.
    void Keep() { owned_ = false; }
    // The finished file takes the target's place (PutInPlace).
    bool PlaceAs(const char* target, ExistingTarget existing);
    // Closed and removed, unless kept or placed. The last error survives it.
    void Discard();

  private:
    UniqueHandle handle_;
    // A copy: the owner may outlive the text it was given.
    std::string path_;
    bool owned_ = false;
};

// What a file created with the normal attribute carries.
constexpr DWORD kNewFileAttributes = FILE_ATTRIBUTE_ARCHIVE;

// Writes size bytes as the whole new content of path, through its work
// name, with these attributes, flushed before it takes the name. False, with
// path unchanged and GetLastError set, when it cannot.
bool WriteWholeFile(const char* path, const void* data, size_t size, DWORD attributes);

// Copies source whole into a new file at path (through NewFile, kReplace),
// with the source's last-write time; attributes: those of a new file.
// Finished but neither flushed nor placed: the caller edits, flushes and
// places it.
bool CopyIntoNewFile(const char* source, NewFile& file, const char* path);

// Copies source to target with the source's attributes and last-write time,
// as the shell's copy does, through the target's work name. False, with
// target unchanged and GetLastError set, when it cannot.
bool CopyWholeFile(const char* source, const char* target, ExistingTarget existing);

// Flushes a closed file's data to the disk.
bool FlushFile(const char* path);
