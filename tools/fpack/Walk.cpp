#include "Walk.h"

#include "Fpack.h"
#include "LongPath.h"
#include "Messages.h"
#include "Paths.h"

#include <string.h>

bool OpenArchive(const std::string& absolutePath, UniqueHandle& file, DWORD& error) {
    file.Attach(CreateFileLong(absolutePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    error = file.IsValid() ? 0 : GetLastError();
    return file.IsValid();
}

namespace {

// Heads only: every chunk's data is passed over.
class HeadSink : public RecordSink {
  public:
    explicit HeadSink(int32_t stopAt = 0) : stopAt_(stopAt) {}
    int OnRecord(PackRecord& record) override {
        total += record.head.originalSize;
        if (record.number != stopAt_)
            return kFpOk;
        found.From(record);
        return kFpWalkStopped;
    }
    int OnChunk(PackRecord&, ArchiveReader& reader, uint32_t dataLength, uint32_t) override {
        return reader.Skip(dataLength) ? kFpOk : kFpTruncated;
    }
    int OnRecordEnd(PackRecord&) override { return kFpOk; }

    uint64_t total = 0;
    RecordInfo found;

  private:
    int32_t stopAt_;
};

// Walks the archive at absolutePath with the sink, names judged as for any
// destination, and every record read even when its name is refused.
int WalkHeads(const std::string& absolutePath, HeadSink& sink) {
    UniqueHandle file;
    DWORD error = 0;
    if (!OpenArchive(absolutePath, file, error))
        return kFpOpenFailed;
    HeapBlock readAhead(malloc(kFpReadAheadSize));
    ArchiveReader reader(file.Get(), readAhead.Bytes(), kFpReadAheadSize);
    return WalkFolderPack(reader, nullptr, RefusedNames::kGoOn, sink);
}

} // namespace

bool ContentTotal(const std::string& absolutePath, uint64_t& total) {
    HeadSink sink;
    if (WalkHeads(absolutePath, sink) != kFpOk)
        return false;
    total = sink.total;
    return true;
}

Located RecordAt(const std::string& absolutePath, int32_t number, RecordInfo& record) {
    {
        UniqueHandle file;
        DWORD error = 0;
        int32_t count = 0;
        if (!OpenArchive(absolutePath, file, error))
            return Located::kNoHeader;
        ArchiveReader reader(file.Get(), nullptr, 0);
        if (ReadArchiveHeader(reader, count) != kFpOk)
            return Located::kNoHeader;
    }
    HeadSink sink(number);
    WalkHeads(absolutePath, sink);
    record = sink.found;
    return record.headRead ? Located::kHead : Located::kNoHead;
}

int ReportArchiveFailure(const char* archiveArgument, int32_t recordNumber,
                         const RecordInfo* record, int code, const std::string& onDisk) {
    const std::string archive = PrintableName(archiveArgument, strlen(archiveArgument));
    std::string where;
    if (recordNumber > 0) {
        where = ": record " + std::to_string(recordNumber);
        if (record != nullptr && record->headRead)
            where += " \"" + PrintableName(record->name) + "\"";
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
    RecordInfo record;
    const Located located = RecordAt(archive, failed, record);
    if (located == Located::kNoHeader)
        return ReportArchiveFailure(archiveArgument, 0, nullptr, code);
    const bool known = located == Located::kHead;
    std::string onDisk;
    if (known && destination != nullptr) {
        if (code == kFpCreateFailed || code == kFpWriteFailed || code == kFpNoMemory ||
            code == kFpOverwriteRefused)
            onDisk = JoinPath(destination->argument, record.name.c_str());
        // A name that some destination takes, but not this one.
        char prefix[kFpPathBufferSize];
        record.tooLongHere = code == kFpBadFormat && !record.nameRefused &&
                             (!BuildDestinationPrefix(destination->absolute.c_str(), prefix) ||
                              strlen(prefix) + record.name.size() >= kFpPathBufferSize);
    }
    return ReportArchiveFailure(archiveArgument, failed, known ? &record : nullptr, code, onDisk);
}

int ReportOpenFailure(const char* archiveArgument, DWORD error) {
    Complain("%s: error %d: %s: %s",
             PrintableName(archiveArgument, strlen(archiveArgument)).c_str(), kFpOpenFailed,
             ResultMeaning(kFpOpenFailed), SystemReason(error).c_str());
    return ExitFromResult(kFpOpenFailed);
}
