#include "RunLock.h"

#include <sddl.h>

bool RunLock::Acquire(DWORD waitMs) {
    Release();
    // Only administrators and the system may open it, and so hold it: a
    // user who could would keep every update off the machine.
    LocalBlock descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kRunLockSecurity, SDDL_REVISION_1,
                                                              descriptor.Out(), nullptr))
        descriptor.Close();
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.Get(), FALSE};
    mutex_.Attach(
        CreateMutexA(descriptor.Get() != nullptr ? &attributes : nullptr, FALSE, kRunLockName));
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
