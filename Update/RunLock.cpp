#include "RunLock.h"

bool RunLock::Acquire(DWORD waitMs) {
    Release();
    mutex_.Attach(CreateMutexA(nullptr, FALSE, kRunLockName));
    // A lock that cannot even be opened belongs to someone we cannot see.
    if (!mutex_.IsValid())
        return false;
    const DWORD wait = WaitForSingleObject(mutex_.Get(), waitMs);
    held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    return held_;
}

void RunLock::Release() {
    if (held_)
        ReleaseMutex(mutex_.Get());
    held_ = false;
    mutex_.Close();
}

bool IsAnotherUpdateRunning() {
    RunLock probe;
    return !probe.Acquire(0);
}
