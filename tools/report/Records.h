// The texts UpdateReport reads: records of Update.exe's log and the line of
// update-startup.cmd's result file. Pure functions over byte strings in code
// page 932, so that the rules can be read and extended in one place.
#pragma once

#include <stddef.h>
#include <string>

// "YYYY/MM/DD hh:mm:ss": the time of a record as the log writes it, which
// also sorts as text.
constexpr size_t kRecordTimeLength = 19;

// The text of the record every run of Update.exe starts with.
constexpr char kStartBanner[] = "====================【開始】====================.";
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

// Picks, from the records of one run fed in order, the one that says what
// failed. A record naming a file or a cause wins over a summary such as
// "ファイルコピー失敗." that follows it; a detail right after its cause (the
// file after the unpack's code) is joined to it.
class ReasonFinder {
  public:
    void Feed(const char* text, size_t length);
    // The recognised failure; empty when no record of the run is one.
    const std::string& Recognised() const { return cause_.empty() ? summary_ : cause_; }
    const std::string& LastRecord() const { return last_; }

  private:
    std::string cause_;
    std::string summary_;
    std::string last_;
    bool lastWasCause_ = false;
};

// The exit status that ends a result line "%DATE% %TIME% %STATUS%": its last
// blank-separated token, a decimal number that may be negative (a crashed
// program's status as cmd prints it). False when there is none.
bool ParseResultStatus(const char* text, size_t length, long& status);
