#include "OwnName.h"

#include <stdint.h>
#include <stdio.h>

namespace {

uint64_t Mix(uint64_t state, uint64_t value) {
    uint64_t z = state ^ (value + 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// What the kernel gives without a library, as the stack guard's seed: the
// clocks at their finest, the ids, where ASLR put the stack, and a count of
// the draws, so that two draws in one tick differ.
uint64_t Draw() {
    static LONG draws = 0;
    uint64_t state = static_cast<uint64_t>(InterlockedIncrement(&draws));
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    state = Mix(state, static_cast<uint64_t>(counter.QuadPart));
    state = Mix(state, __builtin_ia32_rdtsc());
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    state = Mix(state, (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    state = Mix(state, (static_cast<uint64_t>(GetCurrentProcessId()) << 32) | GetCurrentThreadId());
    return Mix(state, reinterpret_cast<uintptr_t>(&counter));
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
