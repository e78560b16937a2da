// One update at a time on a machine: a named mutex that a start holds from
// its beginning to its end.
#pragma once

#include "Owners.h"

#include <windows.h>

constexpr char kRunLockName[] = "Global\\TALMERO_WU_Update";
// Who may open the lock: administrators and the system, with every right,
// nobody else (a protected list, so that nothing is inherited).
constexpr char kRunLockSecurity[] = "D:P(A;;GA;;;BA)(A;;GA;;;SY)";
// How long a start waits for a lock that another process holds: long
// enough for a status query, which holds it for a moment only.
constexpr DWORD kRunLockWaitMs = 2000;

class RunLock {
  public:
    RunLock() = default;
    ~RunLock() { Release(); }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // True when this process now holds the lock (also when its last holder
    // ended without releasing it); false when another update holds it.
    bool Acquire(DWORD waitMs = kRunLockWaitMs);
    void Release();

  private:
    UniqueHandle mutex_;
    bool held_ = false;
};

// Whether another process holds the lock now; takes it for a moment only.
bool IsAnotherUpdateRunning();
