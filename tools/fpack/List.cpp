// l and t: the records of an archive, listed or read and inflated.
#include "Commands.h"

#include "Fpack.h"
#include "Messages.h"
#include "Paths.h"
#include "Progress.h"
#include "Walk.h"

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

    void Add(const WalkRecord& r) {
        ++(r.folder ? folders : files);
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

void PrintRecord(const WalkRecord& r, bool tabSeparated) {
    const std::string name = PrintableName(r.Name(), strlen(r.Name()));
    const char* kind = r.folder ? "FLDR" : "FILE";
    char attributes[16];
    snprintf(attributes, sizeof attributes, "%08lX", static_cast<unsigned long>(r.head.attributes));
    if (tabSeparated) {
        printf("%s\t%s\t%llu\t%u\t%u\t%u\t%llu\t%llu\t%s\n", kind, attributes,
               static_cast<unsigned long long>(r.head.originalSize), r.chunks, r.stored,
               r.compressed, static_cast<unsigned long long>(AsNumber(r.head.creationTime)),
               static_cast<unsigned long long>(AsNumber(r.head.lastWriteTime)), name.c_str());
        return;
    }
    if (r.folder)
        PrintColumns(kind, attributes, "-", "-", "-", "-", TimeText(r.head.creationTime),
                     TimeText(r.head.lastWriteTime), name);
    else
        PrintColumns(kind, attributes, Number(r.head.originalSize), Number(r.chunks),
                     Number(r.stored), Number(r.compressed), TimeText(r.head.creationTime),
                     TimeText(r.head.lastWriteTime), name);
}

void PrintTotals(int32_t count, const Totals& t) {
    printf("total: %d records (%d files, %d folders), %llu bytes, %llu chunks (%llu stored, %llu "
           "compressed), %llu bytes of chunk data\n",
           count > 0 ? count : 0, t.files, t.folders, static_cast<unsigned long long>(t.bytes),
           static_cast<unsigned long long>(t.chunks), static_cast<unsigned long long>(t.stored),
           static_cast<unsigned long long>(t.compressed),
           static_cast<unsigned long long>(t.chunkData));
}

enum class WalkKind { List, Test };

int WalkCommand(const Options& options, WalkKind kind) {
    const char* archiveArgument = options.operands[0];
    std::string archive;
    DWORD error = 0;
    if (!AbsolutePath(archiveArgument, archive, error))
        return ReportOpenFailure(archiveArgument, error);
    Progress progress("t", kind == WalkKind::Test ? options.verbosity : Verbosity::Quiet);
    uint64_t total = 0;
    if (progress.Wanted() && ContentTotal(archive, total))
        progress.Start(total);
    ArchiveWalk walk;
    if (!walk.Open(archive, kind == WalkKind::Test ? ChunkData::Inflate : ChunkData::Read, error))
        return ReportOpenFailure(archiveArgument, error);
    int32_t count = 0;
    int r = walk.ReadHeader(count);
    if (r != kFpOk)
        return ReportArchiveFailure(archiveArgument, 0, nullptr, r);
    const bool tabSeparated = kind == WalkKind::List && options.tabSeparated;
    if (kind == WalkKind::List && !tabSeparated)
        PrintColumns("kind", "attribs", "size", "chunks", "stored", "compr.", "created", "written",
                     "name");
    // l shows every record it can read, refused names too, and still fails
    // as x would; t stops where x would.
    const RefusedNames refused = kind == WalkKind::List ? RefusedNames::GoOn : RefusedNames::Stop;
    WalkRecord record;
    Totals totals;
    uint64_t done = 0;
    int refusedCount = 0;
    for (int32_t i = 1; i <= count; ++i) {
        r = walk.ReadRecord(record, refused, done, &progress);
        if (r != kFpOk) {
            progress.End();
            return ReportArchiveFailure(archiveArgument, i, &record, r);
        }
        if (kind == WalkKind::List)
            PrintRecord(record, tabSeparated);
        if (record.nameRefused) {
            ReportArchiveFailure(archiveArgument, i, &record, kFpBadFormat);
            ++refusedCount;
        }
        totals.Add(record);
    }
    progress.End();
    if (!tabSeparated)
        PrintTotals(count, totals);
    if (refusedCount > 0)
        return ExitFromResult(kFpBadFormat);
    if (kind == WalkKind::Test)
        printf("OK\n");
    return kExitOk;
}

} // namespace

int ListCommand(const Options& options) {
    return WalkCommand(options, WalkKind::List);
}

int TestCommand(const Options& options) {
    return WalkCommand(options, WalkKind::Test);
}
