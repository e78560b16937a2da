#include "Walk.h"

#include "Fpack.h"
#include "LongPath.h"
#include "Messages.h"
#include "Paths.h"

#include <string.h>

namespace {

constexpr char kShortestPrefix[] = "\\";

} // namespace

bool ArchiveWalk::Open(const std::string& absolutePath, ChunkData mode, DWORD& error) {
    mode_ = mode;
    file_.Attach(CreateFileLong(absolutePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file_.IsValid()) {
        error = GetLastError();
        return false;
    }
    // Skipping moves the file pointer past the data, so that walk reads each
    // field straight from the file; the others read ahead.
    if (mode != ChunkData::Skip)
        readAhead_.Reset(malloc(kFpReadAheadSize));
    reader_.reset(new ArchiveReader(file_.Get(), readAhead_.Bytes(), kFpReadAheadSize));
    return true;
}

int ArchiveWalk::ReadHeader(int32_t& count) {
    return ReadArchiveHeader(*reader_, count);
}

int ArchiveWalk::ReadChunkData(uint32_t dataLength) {
    if (mode_ == ChunkData::Skip) {
        // Past the end is no error here: the next field's read finds it.
        LARGE_INTEGER distance;
        distance.QuadPart = dataLength;
        return SetFilePointerEx(file_.Get(), distance, nullptr, FILE_CURRENT) ? kFpOk
                                                                              : kFpTruncated;
    }
    // As the unpacker does: one chunk buffer, taken when the first chunk comes.
    if (!chunk_.IsValid()) {
        chunk_.Reset(malloc(kFpMaxChunkData));
        if (!chunk_.IsValid())
            return kFpNoMemory;
    }
    return reader_->Read(chunk_.Bytes(), dataLength) ? kFpOk : kFpTruncated;
}

int ArchiveWalk::ReadRecord(WalkRecord& record, RefusedNames refused) {
    record.headRead = record.nameRefused = false;
    record.chunks = record.stored = record.compressed = 0;
    record.chunkData = 0;
    memset(record.target.data(), 0, record.target.size());
    uint32_t tag = 0;
    if (!reader_->ReadValue(tag))
        return kFpTruncated;
    if (tag != kFpTagFile && tag != kFpTagFolder)
        return kFpBadFormat;
    record.folder = tag == kFpTagFolder;
    char* target = record.target.data();
    int r = ReadRecordHead(*reader_, !record.folder, kShortestPrefix, target, record.head);
    // The reader checks the name once every field is read: a refused name
    // leaves the walk at the record's chunks, where it can go on.
    if (r == kFpBadFormat && target[0] == '\\' &&
        strnlen(target, kFpPathBufferSize) < kFpPathBufferSize && !IsSafeRecordName(target + 1)) {
        record.headRead = record.nameRefused = true;
        if (refused == RefusedNames::Stop)
            return r;
        r = kFpOk;
    }
    if (r != kFpOk)
        return r;
    record.headRead = true;
    uint64_t produced = 0;
    for (;;) {
        if (!reader_->ReadValue(tag))
            return kFpTruncated;
        if (tag == kFpTagEnd)
            break;
        if (record.folder || tag != kFpTagChunk)
            return kFpBadFormat;
        uint32_t dataLength = 0, originalLength = 0;
        r = ReadChunkHead(*reader_, dataLength, originalLength);
        if (r != kFpOk)
            return r;
        r = ReadChunkData(dataLength);
        if (r != kFpOk)
            return r;
        ++record.chunks;
        ++(dataLength == originalLength ? record.stored : record.compressed);
        record.chunkData += dataLength;
        produced += originalLength;
    }
    if (!record.folder && produced != record.head.originalSize)
        return kFpSizeMismatch;
    uint32_t trailer = 0;
    if (!reader_->ReadValue(trailer))
        return kFpTruncated;
    return kFpOk;
}

bool ContentTotal(const std::string& absolutePath, uint64_t& total) {
    ArchiveWalk walk;
    DWORD error = 0;
    int32_t count = 0;
    if (!walk.Open(absolutePath, ChunkData::Skip, error) || walk.ReadHeader(count) != kFpOk)
        return false;
    WalkRecord record;
    total = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (walk.ReadRecord(record, RefusedNames::GoOn) != kFpOk)
            return false;
        total += record.head.originalSize;
    }
    return true;
}

Located RecordAt(const std::string& absolutePath, int32_t number, WalkRecord& record) {
    ArchiveWalk walk;
    DWORD error = 0;
    int32_t count = 0;
    if (!walk.Open(absolutePath, ChunkData::Skip, error) || walk.ReadHeader(count) != kFpOk)
        return Located::NoHeader;
    if (number < 1 || number > count)
        return Located::NoHead;
    for (int32_t i = 1; i < number; ++i)
        if (walk.ReadRecord(record, RefusedNames::Stop) != kFpOk)
            return Located::NoHead;
    walk.ReadRecord(record, RefusedNames::Stop);
    return record.headRead ? Located::Head : Located::NoHead;
}

int ReportArchiveFailure(const char* archiveArgument, int32_t recordNumber,
                         const WalkRecord* record, int code, const std::string& onDisk) {
    const std::string archive = PrintableName(archiveArgument, strlen(archiveArgument));
    std::string where;
    if (recordNumber > 0) {
        where = ": record " + std::to_string(recordNumber);
        if (record != nullptr && record->headRead)
            where += " \"" + PrintableName(record->Name(), strlen(record->Name())) + "\"";
    }
    const char* meaning = ResultMeaning(code);
    if (code == kFpBadFormat && record != nullptr && record->nameRefused)
        meaning = kRefusedNameMeaning;
    else if (code == kFpBadFormat && record != nullptr && record->tooLongHere)
        meaning = "the destination folder and the name together do not fit 4,096 bytes";
    if (onDisk.empty())
        Complain("%s%s: error %d: %s", archive.c_str(), where.c_str(), code, meaning);
    else
        Complain("%s%s: error %d: %s: %s", archive.c_str(), where.c_str(), code, meaning,
                 PrintableName(onDisk).c_str());
    return ExitFromResult(code);
}

int ReportFailedRecord(const char* archiveArgument, const std::string& archive, int32_t numberDone,
                       int code, const Destination* destination) {
    const int32_t failed = numberDone + 1;
    WalkRecord record;
    const Located located = RecordAt(archive, failed, record);
    if (located == Located::NoHeader)
        return ReportArchiveFailure(archiveArgument, 0, nullptr, code);
    const bool known = located == Located::Head;
    std::string onDisk;
    if (known && destination != nullptr) {
        if (code == kFpCreateFailed || code == kFpWriteFailed || code == kFpNoMemory ||
            code == kFpOverwriteRefused)
            onDisk = JoinPath(destination->argument, record.Name());
        // A name that some destination takes, but not this one.
        char prefix[kFpPathBufferSize];
        record.tooLongHere = code == kFpBadFormat && !record.nameRefused &&
                             (!BuildDestinationPrefix(destination->absolute.c_str(), prefix) ||
                              strlen(prefix) + strlen(record.Name()) >= kFpPathBufferSize);
    }
    return ReportArchiveFailure(archiveArgument, failed, known ? &record : nullptr, code, onDisk);
}

int ReportOpenFailure(const char* archiveArgument, DWORD error) {
    Complain("%s: error %d: %s: %s",
             PrintableName(archiveArgument, strlen(archiveArgument)).c_str(), kFpOpenFailed,
             ResultMeaning(kFpOpenFailed), SystemReason(error).c_str());
    return ExitFromResult(kFpOpenFailed);
}
