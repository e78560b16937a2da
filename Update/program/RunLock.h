// One update at a time on a machine: a file in the Windows folder, where
// only administrators and the system may make files, that a start opens
// without sharing and holds from its beginning to its end; the system
// removes it when the start closes it or ends. No other account can make
// or hold it, whereas the name of a named object is anyone's to take first,
// with an object of any kind.
#pragma once

#include "Owners.h"

#include <windows.h>
#include <stddef.h>

constexpr char kRunLockFile[] = "TALMERO_WU_Update.lock";
// Who may open the file: administrators and the system, with every right,
// nobody else (a protected list, so that nothing is inherited).
constexpr char kRunLockSecurity[] = "D:P(A;;FA;;;BA)(A;;FA;;;SY)";
// How long a start waits for a lock that another process holds: long
// enough for a status query, which holds it for a moment only.
constexpr DWORD kRunLockWaitMs = 2000;

// The lock file: the system's Windows folder (the machine's, also on a
// terminal server) and kRunLockFile. False when it does not fit.
bool RunLockPath(char* out, size_t capacity);

class RunLock {
  public:
    RunLock() = default;
    ~RunLock() { Release(); }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // True when this process now holds the lock (also when a start that
    // held it was killed or lost its power); false when another start
    // holds it, or when this account may not make it.
    bool Acquire(DWORD waitMs = kRunLockWaitMs);
    void Release();

  private:
    UniqueHandle file_;
};

// Whether another process holds the lock now; takes it for a moment only.
bool IsAnotherUpdateRunning();
