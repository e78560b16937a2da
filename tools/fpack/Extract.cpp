// x: the archive unpacked by the unpacker itself, with its progress shown
// and its failure explained.
#include "Commands.h"

#include "Fpack.h"
#include "LongPath.h"
#include "Messages.h"
#include "Owners.h"
#include "PathHelpers.h"
#include "Paths.h"
#include "Progress.h"
#include "Walk.h"
#include "FolderPack.h"

#include <string.h>
#include <string>

namespace {

// What the unpacker's callbacks learn, reached through their context.
struct Unpacking {
    bool overwrite = true;
    Progress* progress = nullptr;
    int32_t recordsDone = 0;
    uint64_t before = 0;   // content of the records done
    uint64_t fileSize = 0; // of the FILE record under way
};

int OnOverwrite(void* context, const char*) {
    return static_cast<Unpacking*>(context)->overwrite ? kFpAnswerYes : 0;
}

// (item, count, 0, 0) after each record; (0, 0, done, size) within a file,
// from (0, 0, 0, size) before it is touched.
void OnProgress(void* context, int32_t item, int32_t, uint64_t bytesDone, uint64_t bytesTotal) {
    Unpacking& u = *static_cast<Unpacking*>(context);
    if (item > 0) {
        u.recordsDone = item;
        u.before += u.fileSize;
        u.fileSize = 0;
    } else {
        u.fileSize = bytesTotal;
        if (u.progress != nullptr)
            u.progress->Set(u.before + bytesDone);
    }
}

} // namespace

int ExtractCommand(const Options& options) {
    const char* archiveArgument = options.operands[0];
    const char* destinationArgument = options.operands[1];
    std::string archive, destination;
    if (!AbsolutePath(archiveArgument, archive))
        return ReportOpenFailure(archiveArgument, GetLastError());
    if (!AbsolutePath(destinationArgument, destination)) {
        const DWORD error = GetLastError();
        Complain("%s: error %d: the destination folder cannot be used: %s",
                 PrintableName(destinationArgument, strlen(destinationArgument)).c_str(),
                 kFpCreateFailed, SystemReason(error).c_str());
        return ExitFromResult(kFpCreateFailed);
    }
    // Opened here rather than by the unpacker, which would create a missing
    // archive as an empty file.
    UniqueHandle file;
    DWORD error = 0;
    if (!OpenArchive(archive, file, error))
        return ReportOpenFailure(archiveArgument, error);

    Progress progress("x", options.verbosity);
    uint64_t total = 0;
    if (progress.Wanted() && ContentTotal(archive, total))
        progress.Start(total);
    Unpacking unpacking;
    unpacking.overwrite = !options.noOverwrite;
    unpacking.progress = &progress;
    UnpackOptions unpack;
    unpack.overwrite = OnOverwrite;
    unpack.progress = OnProgress;
    unpack.context = &unpacking;
    const int r = ExtractFolderPackFrom(destination.c_str(), file.Get(), unpack);
    progress.End();
    if (r == kFpOk)
        return kExitOk;

    const Destination where = {destinationArgument, destination};
    return ReportFailedRecord(archiveArgument, archive, unpacking.recordsDone, r, &where);
}
