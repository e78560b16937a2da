// Bits that are hard to guess, from what the kernel gives without loading
// any library (the way the platform seeds its own /GS cookie): the clocks at
// their finest, the ids, and where ASLR put the stack. Header-only, since the
// programs' stack guard seeds itself from it before anything is set up.
#pragma once

#include <windows.h>
#include <stdint.h>

// One step of a 64-bit finaliser: every input bit reaches every output bit.
inline uint64_t MixBits(uint64_t state, uint64_t value) {
    uint64_t z = state ^ (value + 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// salt tells apart two calls that the clocks would not.
inline uint64_t KernelEntropy(uint64_t salt) {
    uint64_t state = MixBits(0, salt);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    state = MixBits(state, (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    state = MixBits(state, static_cast<uint64_t>(counter.QuadPart));
    state =
        MixBits(state, (static_cast<uint64_t>(GetCurrentProcessId()) << 32) | GetCurrentThreadId());
    state = MixBits(state, GetTickCount());
    state = MixBits(state, __builtin_ia32_rdtsc());
    return MixBits(state, reinterpret_cast<uintptr_t>(&counter));
}
