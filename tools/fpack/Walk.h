// What fpack's commands share around the archive walk: the open, the totals
// of the progress line, and failures explained with the record they hit.
#pragma once

#include "Owners.h"
#include "FolderPackReader.h"

#include <windows.h>
#include <stdint.h>
#include <string>

// A record as fpack names it in a message: how far its reading got.
struct RecordInfo {
    int32_t number = 0;
    bool headRead = false; // name is valid
    bool nameRefused = false;
    bool tooLongHere = false; // for the destination of x
    std::string name;

    // Takes what the walk read of a record.
    void From(const PackRecord& record) {
        number = record.number;
        headRead = true;
        nameRefused = record.nameRefused;
        name = record.name;
    }
};

// Opens the archive for reading, as the unpacker shares it. False with the
// platform's error code.
bool OpenArchive(const std::string& absolutePath, UniqueHandle& file, DWORD& error);

// The sum of the FILE records' sizes, from their heads alone; false when the
// archive cannot be walked to its end.
bool ContentTotal(const std::string& absolutePath, uint64_t& total);
// How far RecordAt got.
enum class Located { kNoHeader, kNoHead, kHead };
// Reads the head of record number (from 1).
Located RecordAt(const std::string& absolutePath, int32_t number, RecordInfo& record);

// Reports on stderr a walk or an unpack that ended with a result code: the
// archive as the user named it, the record (number and name) when there was
// one, what the code means and, when given, the file on disk. Returns the
// exit status.
int ReportArchiveFailure(const char* archiveArgument, int32_t recordNumber,
                         const RecordInfo* record, int code, const std::string& onDisk = "");
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
