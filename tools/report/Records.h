// The texts UpdateReport reads: records of Update.exe's log and the line of
// update-startup.cmd's result file. Pure functions over byte strings in code
// page 932; the record texts themselves are Update.exe's own (LogTexts.h).
#pragma once

#include "LogTexts.h"

#include <stddef.h>
#include <string>

// "YYYY/MM/DD hh:mm:ss": the time of a record as the log writes it, which
// also sorts as text.
constexpr size_t kRecordTimeLength = 19;

constexpr char kStartBanner[] = LOG_START_BANNER;
constexpr size_t kStartBannerLength = sizeof kStartBanner - 1;

struct RecordView {
    const char* time = nullptr; // kRecordTimeLength bytes
    const char* text = nullptr;
    size_t textLength = 0;
};

// Whether line (without its CR LF) is a record
// "[YYYY/MM/DD hh:mm:ss] <source> <line> <thread-hex> : <text>", and where
// its time and its text are.
bool ParseRecord(const char* line, size_t length, RecordView& record);
bool IsStartBanner(const RecordView& record);

// The values a record holds in the places of its format's conversions.
struct FormatArgs {
    static constexpr int kMax = 4;
    struct Arg {
        const char* text;
        size_t length;
    };
    Arg arg[kMax] = {};
    int count = 0;

    std::string Text(int i) const;
    // A %d or %lu value; 0 when there is none.
    long Number(int i) const;
};

// Whether text is what printf would make of format (conversions %s, %d,
// %lu and %%), and the values it holds. A %s takes the longest text that
// lets the rest match, on whole characters: "%s %s : %s ." splits a path
// with blanks in it before the last word ahead of " : ".
bool MatchFormat(const char* format, const char* text, size_t length, FormatArgs& args);
inline bool MatchFormat(const char* format, const std::string& text, FormatArgs& args) {
    return MatchFormat(format, text.data(), text.size(), args);
}

// The exit status that ends a result line "%DATE% %TIME% %STATUS%": its last
// blank-separated token, a decimal number that may be negative (a crashed
// program's status as cmd prints it). False when there is none.
bool ParseResultStatus(const char* text, size_t length, long& status);
