#include "Thread.h"

#include <windows.h>
#include <process.h>

namespace {
struct ThreadStart {
    WorkerThreadProc fn;
    void* arg;
};

unsigned __stdcall ThreadTrampoline(void* p) {
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    return start.fn(start.arg);
}
} // namespace

bool BeginWorkerThread(WorkerThreadProc fn, void* arg) {
    ThreadStart* start = new ThreadStart{fn, arg};
    uintptr_t h = _beginthreadex(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
    if (h == 0) {
        delete start;
        return false;
    }
    // Nobody waits for the thread; its handle is not needed.
    CloseHandle(reinterpret_cast<HANDLE>(h));
    return true;
}
