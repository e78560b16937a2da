#include "DirCreate.h"

#include "FileLayer.h"
#include "LongPath.h"
#include "Mbcs.h"

#include <windows.h>
#include <direct.h>
#include <string.h>

int DirectoryExists(const char* path) {
    if (path == nullptr)
        return 0;
    const size_t length = strnlen(path, kDirPathBufferSize);
    if (length >= kDirPathBufferSize)
        return 0;
    char copy[kDirPathBufferSize];
    memcpy(copy, path, length + 1);

    // The current directory, and the one of the path's drive: both come back
    // afterwards. The first is restored explicitly as well, since not every
    // platform remembers a directory per drive.
    char savedCurrent[kDirPathBufferSize];
    char savedDirectory[kDirPathBufferSize];
    const int savedDrive = _getdrive();
    if (_getcwd(savedCurrent, sizeof savedCurrent) == nullptr)
        savedCurrent[0] = '\0';
    memcpy(savedDirectory, savedCurrent, sizeof savedDirectory);

    if (copy[0] != '\0' && copy[1] == ':') {
        char letter = copy[0];
        if (letter >= 'a' && letter <= 'z')
            letter = static_cast<char>(letter - 'a' + 'A');
        // Only A to Z name a drive; anything else cannot be made current.
        if (letter < 'A' || letter > 'Z' || _chdrive(letter - 64) != 0) {
            _chdrive(savedDrive);
            if (savedCurrent[0] != '\0')
                _chdir(savedCurrent);
            return 0;
        }
        if (_getcwd(savedDirectory, sizeof savedDirectory) == nullptr)
            savedDirectory[0] = '\0';
    }

    const int result = _chdir(copy) == 0 ? 1 : 0;
    if (savedDirectory[0] != '\0')
        _chdir(savedDirectory);
    _chdrive(savedDrive);
    if (savedCurrent[0] != '\0')
        _chdir(savedCurrent);
    return result;
}

int MakeDirectoryPath(const char* path) {
    if (path == nullptr)
        return 0;
    const size_t length = strnlen(path, kDirPathBufferSize);
    if (length >= kDirPathBufferSize)
        return 0;
    char copy[kDirPathBufferSize];
    memcpy(copy, path, length + 1);
    // As long as the copy, so that separators at any depth are served.
    char prefix[kDirPathBufferSize];

    size_t from = 0;
    const char* separator;
    while ((separator = MbcsFind(copy + from, length - from, '\\')) != nullptr) {
        const size_t n = static_cast<size_t>(separator - copy);
        if (n > 0) {
            memcpy(prefix, copy, n);
            prefix[n] = '\0';
            if (!DirectoryExists(prefix))
                DiskMakeFolder(prefix);
        }
        from = n + 1;
    }

    const char* whole = copy;
    if (DirectoryExists(whole))
        return 1;
    if (DiskMakeFolder(whole))
        return 1;
    // A folder deeper than the current directory can reach still counts.
    const DWORD attributes = GetFileAttributesLong(whole);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}
