// Threads: a worker that nobody waits for, and a critical section to keep
// two of them apart.
#pragma once

#include <windows.h>

// Starts fn(arg) on a new thread at normal priority with the default stack;
// the thread is not kept or joined. Returns true when it started.
typedef unsigned (*WorkerThreadProc)(void* arg);
bool BeginWorkerThread(WorkerThreadProc fn, void* arg);

// A critical section, made and deleted with its owner.
class CriticalSection {
  public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

// Holds a critical section for as long as it lives.
class Entered {
  public:
    explicit Entered(CriticalSection& section) : section_(section) { section_.Enter(); }
    ~Entered() { section_.Leave(); }
    Entered(const Entered&) = delete;
    Entered& operator=(const Entered&) = delete;

  private:
    CriticalSection& section_;
};
