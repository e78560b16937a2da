// Placeholder until the unpacker lands.
#include "FolderPack.h"

int ExtractFolderPack(const char*, const char*, OverwriteCallback, ProgressCallback) {
    return kFpOpenFailed;
}
