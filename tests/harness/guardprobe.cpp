// A program linked as the shipped ones are, with their own stack guard
// (update_program): "guard" prints the guard word it runs with; "smash N"
// writes N bytes into an array of 8, which the guard must catch.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern "C" uintptr_t __stack_chk_guard;

namespace {
__attribute__((noinline)) void Smash(size_t n) {
    char buffer[8];
    memset(buffer, 'x', n);
    // The array is used, so that the compiler keeps it and its guard.
    printf("%.*s\n", 8, buffer);
}
} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "smash") == 0) {
        Smash(strtoul(argv[2], nullptr, 10));
        return 0;
    }
    printf("%llx\n", static_cast<unsigned long long>(__stack_chk_guard));
    return 0;
}
