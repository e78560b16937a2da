// x: the archive unpacked by the unpacker itself, with its progress shown
// and its failure explained.
#include "Commands.h"

#include "Fpack.h"
#include "LongPath.h"
#include "Messages.h"
#include "Owners.h"
#include "Paths.h"
#include "Progress.h"
#include "Walk.h"
#include "pack/FolderPack.h"

#include <string.h>
#include <string>

namespace {

// What the unpacker's callbacks learn. They take no context of their own,
// and a run of fpack unpacks one archive.
struct Unpacking {
    bool overwrite = true;
    Progress* progress = nullptr;
    int32_t recordsDone = 0;
    uint64_t before = 0;   // content of the records done
    uint64_t fileSize = 0; // of the FILE record under way
    std::string refusedTarget;
};
Unpacking g_unpacking;

int OnOverwrite(const char* target) {
    if (g_unpacking.overwrite)
        return kFpAnswerYes;
    g_unpacking.refusedTarget = target;
    return 0;
}

// (item, count, 0, 0) after each record; (0, 0, done, size) within a file,
// from (0, 0, 0, size) before it is touched.
int OnProgress(int32_t item, int32_t, uint64_t bytesDone, uint64_t bytesTotal) {
    Unpacking& u = g_unpacking;
    if (item > 0) {
        u.recordsDone = item;
        u.before += u.fileSize;
        u.fileSize = 0;
    } else {
        u.fileSize = bytesTotal;
        if (u.progress != nullptr)
            u.progress->Set(u.before + bytesDone);
    }
    return 0;
}

} // namespace

int ExtractCommand(const Options& options) {
    const char* archiveArgument = options.operands[0];
    const char* destinationArgument = options.operands[1];
    std::string archive, destination;
    DWORD error = 0;
    if (!AbsolutePath(archiveArgument, archive, error))
        return ReportOpenFailure(archiveArgument, error);
    if (!AbsolutePath(destinationArgument, destination, error)) {
        Complain("%s: error %d: the destination folder cannot be used: %s",
                 PrintableName(destinationArgument, strlen(destinationArgument)).c_str(),
                 kFpCreateFailed, SystemReason(error).c_str());
        return ExitFromResult(kFpCreateFailed);
    }
    // Opened here rather than by the unpacker, which would create a missing
    // archive as an empty file.
    UniqueHandle file(CreateFileLong(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid())
        return ReportOpenFailure(archiveArgument, GetLastError());

    Progress progress("x", options.verbosity);
    uint64_t total = 0;
    if (progress.Wanted() && ContentTotal(archive, total))
        progress.Start(total);
    g_unpacking = Unpacking();
    g_unpacking.overwrite = !options.noOverwrite;
    g_unpacking.progress = &progress;
    const int r = ExtractFolderPackHandle(destination.c_str(), file.Get(), OnOverwrite, OnProgress);
    progress.End();
    g_unpacking.progress = nullptr;
    if (r == kFpOk)
        return kExitOk;

    const Destination where = {destinationArgument, destination};
    return ReportFailedRecord(archiveArgument, archive, g_unpacking.recordsDone, r, &where);
}
