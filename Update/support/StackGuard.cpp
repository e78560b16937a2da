// The stack guard of the programs that leave the build: the word that
// -fstack-protector-strong puts below each protected frame's return address,
// and what is done when a frame finds it changed. The programs' own, so that
// libssp's is not linked: libssp seeds its word with CryptAcquireContext and
// CryptGenRandom before WinMain, and those load rsaenh.dll and what it
// imports (bcrypt.dll, crypt32.dll) by the usual search, from the program's
// folder first, before the program can restrict that search. This one is
// seeded, as the platform's own /GS cookie is, from what the kernel gives
// without any library: the clocks, the process and thread ids, and the
// addresses that ASLR moved. Linked into each program by update_program()
// (cmake/Programs.cmake); the test programs keep libssp's.
#include "KernelEntropy.h"

#include <windows.h>
#include <stdint.h>

extern "C" {
// Not zero before it is seeded: what ran before the seeding (nothing of the
// program's own) still compares against a word that is hard to write.
uintptr_t __stack_chk_guard = static_cast<uintptr_t>(0x2B992DDFA232F3C5ull);

// A changed word means a stack that cannot be trusted: the process ends at
// once, with the status the platform gives a failed cookie check, running
// nothing of its own (no exit handlers, no destructors).
[[noreturn]] void __stack_chk_fail() {
    TerminateProcess(GetCurrentProcess(), 0xC0000409u); // STATUS_STACK_BUFFER_OVERRUN
    for (;;) {
    }
}
}

namespace {

// The first constructor to run; nothing of the program runs before the
// constructors. No frame that this changes the word under is protected:
// not its own, and not the runtime's start-up that calls the constructors.
// (KernelEntropy's frame, if it is not inlined, starts and ends under the
// old word.)
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard() {
    // Where ASLR put the image, too.
    const uint64_t state =
        MixBits(KernelEntropy(0), reinterpret_cast<uintptr_t>(&__stack_chk_guard));
    uintptr_t guard = sizeof guard == sizeof state ? static_cast<uintptr_t>(state)
                                                   : static_cast<uintptr_t>(state ^ (state >> 32));
    // Never the word it had, nor zero.
    if (guard == 0 || guard == __stack_chk_guard)
        guard ^= static_cast<uintptr_t>(0x5A5AA5A5C3C33C3Cull);
    __stack_chk_guard = guard;
}

} // namespace
