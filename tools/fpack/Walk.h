// Reading an archive record by record, for l and for the messages and the
// progress totals of t and x, through the unpacker's own reader: it accepts
// and refuses what the unpacker does.
#pragma once

#include "Owners.h"
#include "pack/FolderPackReader.h"

#include <windows.h>
#include <stdint.h>
#include <memory>
#include <string>
#include <vector>

// What a walk does with a chunk's data.
enum class ChunkData { Skip, Read };
// Whether a walk goes on after a record whose name x would refuse.
enum class RefusedNames { Stop, GoOn };

struct WalkRecord {
    bool folder = false;
    bool headRead = false; // the fields and the name below are valid
    bool nameRefused = false;
    bool tooLongHere = false; // for the destination of x (set by ReportFailedRecord)
    RecordHead head;
    // The shortest destination prefix (one backslash) and the name, so that
    // a name is refused wherever x would unpack it.
    std::vector<char> target = std::vector<char>(kFpPathBufferSize);
    uint32_t chunks = 0;
    uint32_t stored = 0;
    uint32_t compressed = 0;
    uint64_t chunkData = 0;

    const char* Name() const { return target.data() + 1; }
};

class ArchiveWalk {
  public:
    // Opens the archive for reading, as the unpacker shares it. False with
    // the platform's error code.
    bool Open(const std::string& absolutePath, ChunkData mode, DWORD& error);
    HANDLE Handle() const { return file_.Get(); }
    // The signature block and the record count: 0, -8 or -9.
    int ReadHeader(int32_t& count);
    // The next record: its tag, head and chunks. Returns 0 or the unpacker's
    // result code. With RefusedNames::GoOn a refused name only sets
    // nameRefused and the record is read to its end.
    int ReadRecord(WalkRecord& record, RefusedNames refused);

  private:
    int ReadChunkData(uint32_t dataLength);

    UniqueHandle file_;
    HeapBlock readAhead_;
    std::unique_ptr<ArchiveReader> reader_;
    HeapBlock chunk_;
    ChunkData mode_ = ChunkData::Skip;
};

// The sum of the FILE records' sizes, from their heads alone; false when the
// archive cannot be walked to its end.
bool ContentTotal(const std::string& absolutePath, uint64_t& total);
// How far RecordAt got.
enum class Located { NoHeader, NoHead, Head };
// Reads the head of record number (from 1).
Located RecordAt(const std::string& absolutePath, int32_t number, WalkRecord& record);

// Reports on stderr a walk or an unpack that ended with a result code: the
// archive as the user named it, the record (number and name) when there was
// one, what the code means and, when given, the file on disk. Returns the
// exit status.
int ReportArchiveFailure(const char* archiveArgument, int32_t recordNumber,
                         const WalkRecord* record, int code, const std::string& onDisk = "");
// Where x unpacks: as the user named it, and resolved.
struct Destination {
    const char* argument;
    std::string absolute;
};
// Reports a walk or an unpack that failed after numberDone whole records:
// finds the failing record's head again to name it and, for x (when a
// destination is given), its file on disk. Returns the exit status.
int ReportFailedRecord(const char* archiveArgument, const std::string& archive, int32_t numberDone,
                       int code, const Destination* destination);
// Reports an archive that cannot be opened; returns the exit status.
int ReportOpenFailure(const char* archiveArgument, DWORD error);
