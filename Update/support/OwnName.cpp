#include "OwnName.h"

#include "KernelEntropy.h"

#include <stdint.h>
#include <stdio.h>

namespace {

// A count of the draws as the salt, so that two draws in one tick differ.
uint64_t Draw() {
    static LONG draws = 0;
    return KernelEntropy(static_cast<uint64_t>(InterlockedIncrement(&draws)));
}

} // namespace

bool OwnNameCandidate(const char* stem, const char* extension, unsigned n, char* out,
                      size_t capacity) {
    int length;
    if (n == 0) {
        length = snprintf(out, capacity, "%s%s", stem, extension);
    } else {
        const uint64_t bits = Draw();
        length =
            snprintf(out, capacity, "%s.%08lx%08lx%s", stem, static_cast<unsigned long>(bits >> 32),
                     static_cast<unsigned long>(bits & 0xFFFFFFFFu), extension);
    }
    if (length >= 0 && static_cast<size_t>(length) < capacity)
        return true;
    if (capacity > 0)
        out[0] = '\0';
    return false;
}

bool IsNameTaken(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
           error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}
