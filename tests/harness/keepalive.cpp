// Stays alive for a whole test run, started with its output going nowhere.
// Wine starts its background services with the first program of a session
// and hands them that program's output handles; without a program that
// outlives every test, a test's output pipe could stay open after the test
// ended, and CTest would wait for it.
#include <windows.h>

int main() {
    Sleep(INFINITE);
    return 0;
}
