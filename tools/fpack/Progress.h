// Progress of a long c, t or x on the console: bytes done of the total and
// the rate, on one line of stderr that is overwritten in place.
#pragma once

#include "Owners.h"

#include "Thread.h"

#include <windows.h>
#include <stdint.h>

// Work below this many bytes ends before anyone would wait for it.
constexpr uint64_t kProgressThreshold = 4u << 20;

enum class Verbosity { Normal, Quiet };

class Progress {
  public:
    // label: the command ("c", "t", "x"), shown at the start of the line.
    Progress(const char* label, Verbosity verbosity);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Whether a line could be shown at all: stderr is a console and the
    // progress was not silenced. Callers skip the work of finding a total
    // when it could not.
    bool Wanted() const { return wanted_; }
    // Starts showing for this much work, if it is large enough.
    void Start(uint64_t totalBytes);
    bool Showing() const { return showing_; }
    // Bytes done so far; the line is redrawn a few times a second at most.
    // May be called from another thread than Start and End.
    void Set(uint64_t doneBytes);
    // Draws the last state and ends the line, so that what is printed next
    // starts on a line of its own. Safe to call twice.
    void End();

  private:
    void Draw(DWORD now);

    const char* label_;
    bool wanted_ = false;
    bool showing_ = false;
    HANDLE console_ = nullptr;
    CriticalSection lock_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    DWORD started_ = 0;
    DWORD drawn_ = 0;
    size_t drawnLength_ = 0;
};

// For work that says nothing while it runs: asks sample, from a thread of its
// own, a few times a second how far the work is, and shows that. Runs only
// while the progress line is showing; stops before it is destroyed.
class ProgressTicker {
  public:
    typedef uint64_t (*Sample)(void* context);

    ProgressTicker(Progress& progress, Sample sample, void* context);
    ~ProgressTicker();
    ProgressTicker(const ProgressTicker&) = delete;
    ProgressTicker& operator=(const ProgressTicker&) = delete;

  private:
    static DWORD WINAPI Run(void* self);

    Progress& progress_;
    Sample sample_;
    void* context_;
    UniqueHandle stop_;
    UniqueHandle thread_;
};
