// A worker thread that nobody waits for.
#pragma once

// Starts fn(arg) on a new thread at normal priority with the default stack;
// the thread is not kept or joined. Returns true when it started.
typedef unsigned (*WorkerThreadProc)(void* arg);
bool BeginWorkerThread(WorkerThreadProc fn, void* arg);
