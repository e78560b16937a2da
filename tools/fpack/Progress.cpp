#include "Progress.h"

#include <stdio.h>
#include <string.h>

namespace {

// Often enough to look alive, seldom enough to cost nothing.
constexpr DWORD kRedrawMs = 200;
// A rate over a shorter time says little.
constexpr DWORD kRateAfterMs = 500;
constexpr DWORD kTickMs = 250;

double MiB(uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

} // namespace

Progress::Progress(const char* label, Verbosity verbosity) : label_(label) {
    if (verbosity == Verbosity::Quiet)
        return;
    // A console, not a file, a pipe or the NUL device.
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (error != nullptr && error != INVALID_HANDLE_VALUE && GetConsoleMode(error, &mode)) {
        console_ = error;
        wanted_ = true;
    }
}

Progress::~Progress() {
    End();
}

void Progress::Start(uint64_t totalBytes) {
    Entered entered(lock_);
    if (!wanted_ || totalBytes <= kProgressThreshold)
        return;
    total_ = totalBytes;
    done_ = 0;
    started_ = GetTickCount();
    showing_ = true;
    Draw(started_);
}

void Progress::Set(uint64_t doneBytes) {
    Entered entered(lock_);
    if (!showing_)
        return;
    done_ = doneBytes < total_ ? doneBytes : total_;
    const DWORD now = GetTickCount();
    if (now - drawn_ >= kRedrawMs)
        Draw(now);
}

void Progress::End() {
    Entered entered(lock_);
    if (!showing_)
        return;
    Draw(GetTickCount());
    DWORD written = 0;
    WriteConsoleA(console_, "\r\n", 2, &written, nullptr);
    showing_ = false;
}

void Progress::Draw(DWORD now) {
    const DWORD elapsed = now - started_;
    char rate[48] = "";
    if (elapsed >= kRateAfterMs)
        snprintf(rate, sizeof rate, ", %.1f MiB/s", MiB(done_) * 1000.0 / elapsed);
    char line[160];
    int length =
        snprintf(line, sizeof line, "fpack %s: %.1f of %.1f MiB (%u%%)%s", label_, MiB(done_),
                 MiB(total_), static_cast<unsigned>(total_ > 0 ? done_ * 100 / total_ : 100), rate);
    if (length < 0)
        return;
    size_t shown = static_cast<size_t>(length) < sizeof line ? length : sizeof line - 1;
    // A line as wide as the window would wrap, and "\r" would then go back
    // only to the start of its second half.
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(console_, &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 1 && shown > static_cast<size_t>(columns - 1))
            shown = static_cast<size_t>(columns - 1);
    }
    // Blanks over what a longer line before left behind.
    char text[1 + sizeof line + sizeof line];
    text[0] = '\r';
    memcpy(text + 1, line, shown);
    size_t end = 1 + shown;
    for (size_t i = shown; i < drawnLength_ && end < sizeof text; ++i)
        text[end++] = ' ';
    DWORD written = 0;
    WriteConsoleA(console_, text, static_cast<DWORD>(end), &written, nullptr);
    drawnLength_ = shown;
    drawn_ = now;
}

ProgressTicker::ProgressTicker(Progress& progress, Sample sample, void* context)
    : progress_(progress), sample_(sample), context_(context) {
    if (!progress.Showing())
        return;
    stop_.Attach(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (stop_.IsValid())
        thread_.Attach(CreateThread(nullptr, 0, Run, this, 0, nullptr));
}

ProgressTicker::~ProgressTicker() {
    if (thread_.IsValid()) {
        SetEvent(stop_.Get());
        WaitForSingleObject(thread_.Get(), INFINITE);
    }
}

DWORD WINAPI ProgressTicker::Run(void* self) {
    ProgressTicker& t = *static_cast<ProgressTicker*>(self);
    while (WaitForSingleObject(t.stop_.Get(), kTickMs) == WAIT_TIMEOUT)
        t.progress_.Set(t.sample_(t.context_));
    return 0;
}
