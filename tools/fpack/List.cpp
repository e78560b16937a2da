// l and t: the records of an archive, listed, or read and inflated as the
// unpacker would.
#include "Commands.h"

#include "Fpack.h"
#include "LongPath.h"
#include "Messages.h"
#include "PathHelpers.h"
#include "Paths.h"
#include "Progress.h"
#include "Walk.h"

#include <winternl.h>
#include <stdio.h>
#include <string.h>
#include <string>

namespace {

struct Totals {
    int32_t files = 0;
    int32_t folders = 0;
    uint64_t bytes = 0;
    uint64_t chunks = 0;
    uint64_t stored = 0;
    uint64_t compressed = 0;
    uint64_t chunkData = 0;

    void Add(const PackRecord& r) {
        ++(r.Folder() ? folders : files);
        bytes += r.head.originalSize;
        chunks += r.chunks;
        stored += r.stored;
        compressed += r.compressed;
        chunkData += r.chunkData;
    }
};

uint64_t AsNumber(FILETIME time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// UTC to the second; a time the platform cannot convert, as its number.
std::string TimeText(FILETIME time) {
    SYSTEMTIME st;
    char text[32];
    if (FileTimeToSystemTime(&time, &st))
        snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay,
                 st.wHour, st.wMinute, st.wSecond);
    else
        snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(AsNumber(time)));
    return text;
}

std::string Number(uint64_t value) {
    return std::to_string(static_cast<unsigned long long>(value));
}

// One format for the heading and the records keeps the columns aligned.
void PrintColumns(const char* kind, const char* attributes, const std::string& size,
                  const std::string& chunks, const std::string& stored,
                  const std::string& compressed, const std::string& created,
                  const std::string& written, const std::string& name) {
    printf("%-4s  %-8s  %13s  %6s  %6s  %6s  %-20s  %-20s  %s\n", kind, attributes, size.c_str(),
           chunks.c_str(), stored.c_str(), compressed.c_str(), created.c_str(), written.c_str(),
           name.c_str());
}

void PrintRecord(const PackRecord& r, bool tabSeparated) {
    const std::string name = PrintableName(r.name, strlen(r.name));
    const char* kind = r.Folder() ? "FLDR" : "FILE";
    char attributes[16];
    snprintf(attributes, sizeof attributes, "%08lX", static_cast<unsigned long>(r.head.attributes));
    if (tabSeparated) {
        printf("%s\t%s\t%llu\t%u\t%u\t%u\t%llu\t%llu\t%s\n", kind, attributes,
               static_cast<unsigned long long>(r.head.originalSize), r.chunks, r.stored,
               r.compressed, static_cast<unsigned long long>(AsNumber(r.head.creationTime)),
               static_cast<unsigned long long>(AsNumber(r.head.lastWriteTime)), name.c_str());
        return;
    }
    if (r.Folder())
        PrintColumns(kind, attributes, "-", "-", "-", "-", TimeText(r.head.creationTime),
                     TimeText(r.head.lastWriteTime), name);
    else
        PrintColumns(kind, attributes, Number(r.head.originalSize), Number(r.chunks),
                     Number(r.stored), Number(r.compressed), TimeText(r.head.creationTime),
                     TimeText(r.head.lastWriteTime), name);
}

void PrintTotals(const Totals& t) {
    printf("total: %d records (%d files, %d folders), %llu bytes, %llu chunks (%llu stored, %llu "
           "compressed), %llu bytes of chunk data\n",
           t.files + t.folders, t.files, t.folders, static_cast<unsigned long long>(t.bytes),
           static_cast<unsigned long long>(t.chunks), static_cast<unsigned long long>(t.stored),
           static_cast<unsigned long long>(t.compressed),
           static_cast<unsigned long long>(t.chunkData));
}

// How far t's reader has come: the archive's file position, asked without
// moving it, since the reader runs on another thread meanwhile.
class ReadPosition {
  public:
    explicit ReadPosition(HANDLE file) : file_(file) {
        query_ = reinterpret_cast<Query>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile")));
    }
    static uint64_t Sample(void* self) { return static_cast<ReadPosition*>(self)->Position(); }

  private:
    typedef NTSTATUS(NTAPI* Query)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

    uint64_t Position() {
        IO_STATUS_BLOCK status;
        LARGE_INTEGER position;
        if (query_ != nullptr &&
            query_(file_, &status, &position, sizeof position, FilePositionInformation) >= 0)
            last_ = static_cast<uint64_t>(position.QuadPart);
        return last_;
    }

    HANDLE file_;
    Query query_ = nullptr;
    uint64_t last_ = 0;
};

void CountRecord(void* totals, const PackRecord& record) {
    static_cast<Totals*>(totals)->Add(record);
}

// l: every record that can be read is shown, refused names too, each as
// soon as it is read whole; the chunks are read into one buffer, as the
// unpacker reads them.
class ListSink : public RecordSink {
  public:
    ListSink(const char* archiveArgument, bool tabSeparated)
        : archiveArgument_(archiveArgument), tabSeparated_(tabSeparated) {}
    int OnRecord(PackRecord& record) override {
        current.From(record);
        return kFpOk;
    }
    int OnChunk(PackRecord&, ArchiveReader& reader, uint32_t dataLength, uint32_t) override {
        return ReadChunkData(reader, buffer_, dataLength);
    }
    int OnRecordEnd(PackRecord& record) override {
        PrintRecord(record, tabSeparated_);
        if (record.nameRefused) {
            ReportArchiveFailure(archiveArgument_, record.number, &current, kFpBadFormat);
            ++refused;
        }
        totals.Add(record);
        current = RecordInfo();
        current.number = record.number + 1;
        return kFpOk;
    }

    RecordInfo current; // the record under way
    Totals totals;
    int refused = 0;

  private:
    const char* archiveArgument_;
    bool tabSeparated_;
    HeapBlock buffer_;
};

} // namespace

int ListCommand(const Options& options) {
    const char* archiveArgument = options.operands[0];
    std::string archive;
    DWORD error = 0;
    UniqueHandle file;
    if (!AbsolutePath(archiveArgument, archive))
        return ReportOpenFailure(archiveArgument, GetLastError());
    if (!OpenArchive(archive, file, error))
        return ReportOpenFailure(archiveArgument, error);
    HeapBlock readAhead(malloc(kFpReadAheadSize));
    ArchiveReader reader(file.Get(), readAhead.Bytes(), kFpReadAheadSize);
    int32_t count = 0;
    int r = ReadArchiveHeader(reader, count);
    if (r != kFpOk)
        return ReportArchiveFailure(archiveArgument, 0, nullptr, r);
    if (!options.tabSeparated)
        PrintColumns("kind", "attribs", "size", "chunks", "stored", "compr.", "created", "written",
                     "name");
    // The walk reads the header again, from the start.
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN))
        return ReportOpenFailure(archiveArgument, GetLastError());
    ArchiveReader walkReader(file.Get(), readAhead.Bytes(), kFpReadAheadSize);
    ListSink sink(archiveArgument, options.tabSeparated);
    sink.current.number = 1;
    r = WalkFolderPack(walkReader, nullptr, RefusedNames::kGoOn, sink);
    if (r != kFpOk)
        return ReportArchiveFailure(archiveArgument, sink.current.number, &sink.current, r);
    if (!options.tabSeparated)
        PrintTotals(sink.totals);
    // l still fails as x would.
    return sink.refused > 0 ? ExitFromResult(kFpBadFormat) : kExitOk;
}

int TestCommand(const Options& options) {
    const char* archiveArgument = options.operands[0];
    std::string archive;
    if (!AbsolutePath(archiveArgument, archive))
        return ReportOpenFailure(archiveArgument, GetLastError());
    DWORD error = 0;
    UniqueHandle file;
    if (!OpenArchive(archive, file, error))
        return ReportOpenFailure(archiveArgument, error);
    // Archive bytes read of the archive's size: the test walk reports only
    // whole records.
    Progress progress("t", options.verbosity);
    LARGE_INTEGER size = {};
    if (progress.Wanted() && GetFileSizeEx(file.Get(), &size))
        progress.Start(static_cast<uint64_t>(size.QuadPart));
    Totals totals;
    int r;
    {
        ReadPosition position(file.Get());
        ProgressTicker ticker(progress, ReadPosition::Sample, &position);
        r = TestFolderPackHandle(file.Get(), nullptr, ChunkCheck::kInflate, CountRecord, &totals);
    }
    if (r != kFpOk) {
        progress.End();
        return ReportFailedRecord(archiveArgument, archive, totals.files + totals.folders, r,
                                  nullptr);
    }
    progress.Set(static_cast<uint64_t>(size.QuadPart));
    progress.End();
    PrintTotals(totals);
    printf("OK\n");
    return kExitOk;
}
