#include "FileIdentity.h"

#include "Mbcs.h"
#include "SystemLibrary.h"

#include <string.h>

namespace {
typedef DWORD(WINAPI* FinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);
} // namespace

bool IsNamedFile(HANDLE file, const char* path) {
    static const FinalPathFunction finalPath = reinterpret_cast<FinalPathFunction>(
        reinterpret_cast<void*>(KernelFunction("GetFinalPathNameByHandleA")));
    if (finalPath == nullptr)
        return true;
    char opened[1024];
    const DWORD n = finalPath(file, opened, sizeof opened, 0);
    if (n == 0 || n >= sizeof opened)
        return true;
    const char* openedName = MbcsFindLast(opened, n, '\\');
    const char* name = MbcsFindLast(path, strlen(path), '\\');
    return _stricmp(openedName != nullptr ? openedName + 1 : opened,
                    name != nullptr ? name + 1 : path) == 0;
}
