#include "LastRun.h"

#include "Owners.h"

#include <stdint.h>
#include <string.h>

namespace {

constexpr size_t kBlockSize = 64 * 1024;
// Update.exe rotates its log above 64 KiB: a log is read whole up to a little
// more than that.
constexpr uint64_t kWholeMax = 80 * 1024;
// Update.exe rotates its log above 64 KiB and one run writes a few KiB, so a
// start this far from the end is no run of it: the file was planted, or is
// not its log. Bounds the time a huge file costs.
constexpr uint64_t kScanLimit = 16u << 20;
// Longest header before a record's text: the time, a source file name of up
// to 259 bytes, the line and the thread.
constexpr size_t kHeaderMax = 320;
// Longest line kept of a record: the log cuts a text at 1,023 bytes.
constexpr size_t kLineMax = 4096;
// Records kept from the end of a run: a failure and what follows it, or the
// step a run stopped after, are among the last few. Those kept from its
// start say what kind of run it is.
constexpr size_t kTailRecords = 24;
constexpr size_t kHeadRecords = 6;

// A log file open for reading. One that holds a run or a few is read whole,
// at once, into a buffer that serves machine after machine: every later
// look is then into memory. Opening files and the heap are most of the
// time a report of many machines takes.
struct OpenLog {
    explicit OpenLog(std::string& buffer) : whole(buffer) {}
    UniqueHandle handle;
    uint64_t size = 0;
    std::string& whole;
    bool held = false;
};

bool ReadFrom(HANDLE file, uint64_t offset, char* buffer, size_t length) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN))
        return false;
    while (length > 0) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, static_cast<DWORD>(length), &got, nullptr) || got == 0)
            return false;
        buffer += got;
        length -= got;
    }
    return true;
}

// The bytes [offset, offset + length) of the log: where it is held whole,
// else read into scratch, which has room for them. Null when they cannot be
// read.
const char* Bytes(const OpenLog& log, uint64_t offset, size_t length, char* scratch) {
    if (!log.held)
        return ReadFrom(log.handle.Get(), offset, scratch, length) ? scratch : nullptr;
    if (offset > log.size || length > log.size - offset)
        return nullptr;
    return log.whole.data() + offset;
}

bool Open(const FoundFile& file, OpenLog& log) {
    HANDLE handle = nullptr;
    DWORD error = 0;
    if (!OpenFound(file, handle, error))
        return false;
    log.handle.Attach(handle);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size))
        return false;
    log.size = static_cast<uint64_t>(size.QuadPart);
    if (log.size > kWholeMax)
        return true;
    log.whole.resize(static_cast<size_t>(log.size));
    log.held = log.size == 0 || ReadFrom(handle, 0, &log.whole[0], log.whole.size());
    return log.held;
}

enum class Scan { Found, NotFound, Failed };

// Whether the banner text at offset is the whole text of a record. Finds
// where its line starts.
Scan CheckBanner(const OpenLog& log, uint64_t offset, uint64_t& lineStart, char* time) {
    const size_t bannerLength = kStartBannerLength;
    const uint64_t from = offset > kHeaderMax ? offset - kHeaderMax : 0;
    const uint64_t to = offset + bannerLength + 2 < log.size ? offset + bannerLength + 2 : log.size;
    char scratch[kHeaderMax + sizeof kStartBanner + 2];
    const size_t length = static_cast<size_t>(to - from);
    const char* window = Bytes(log, from, length, scratch);
    if (window == nullptr)
        return Scan::Failed;
    const size_t text = static_cast<size_t>(offset - from);
    const size_t end = text + bannerLength;
    // The record ends with CR LF, or with the file when the run was killed
    // while writing it.
    if (end != length && !(end + 2 == length && window[end] == '\r' && window[end + 1] == '\n'))
        return Scan::NotFound;
    // Its header starts the line; after bytes that end in no line break (a
    // planted file's), the first "[" that starts a header before the text.
    size_t start = text;
    while (start >= 2 && !(window[start - 2] == '\r' && window[start - 1] == '\n'))
        --start;
    if (start < 2)
        start = 0;
    RecordView record;
    while (start < text &&
           !(window[start] == '[' && ParseRecord(window + start, end - start, record) &&
             record.text == window + text))
        ++start;
    if (start == text)
        return Scan::NotFound;
    memcpy(time, record.time, kRecordTimeLength);
    time[kRecordTimeLength] = '\0';
    lineStart = from + start;
    return Scan::Found;
}

// Looks for the last start banner, block by block from the end, within
// budget bytes (which it uses up). Blocks overlap by the banner's length so
// that one across two blocks is found.
Scan FindLastStart(const OpenLog& log, uint64_t& budget, uint64_t& lineStart, char* time) {
    const size_t bannerLength = kStartBannerLength;
    HeapBlock block(log.held ? nullptr : malloc(kBlockSize + bannerLength));
    if (!log.held && !block.IsValid())
        return Scan::Failed;
    uint64_t high = log.size;
    while (high > 0 && budget > 0) {
        const uint64_t step = high < kBlockSize ? high : kBlockSize;
        const uint64_t low = high - step;
        const uint64_t end =
            high + bannerLength - 1 < log.size ? high + bannerLength - 1 : log.size;
        const size_t length = static_cast<size_t>(end - low);
        const char* bytes = Bytes(log, low, length, block.Bytes());
        if (bytes == nullptr)
            return Scan::Failed;
        for (size_t at = length >= bannerLength ? length - bannerLength + 1 : 0; at-- > 0;) {
            if (bytes[at] != kStartBanner[0] || memcmp(bytes + at, kStartBanner, bannerLength) != 0)
                continue;
            const Scan checked = CheckBanner(log, low + at, lineStart, time);
            if (checked != Scan::NotFound)
                return checked;
        }
        budget = budget > step ? budget - step : 0;
        high = low;
    }
    return Scan::NotFound;
}

// Takes the run's records in order: its first few, its closing record, and
// its last few.
void Take(LastRun& run, std::string& time, std::string& text, size_t index) {
    FormatArgs args;
    if (index < kHeadRecords)
        run.head.push_back(RunRecord{time, text});
    if (MatchFormat(LOG_EXIT_STATUS, text, args)) {
        run.closed = true;
        run.exitStatus = args.Number(0);
        run.end = time;
    }
    if (run.tail.size() == kTailRecords)
        run.tail.erase(run.tail.begin());
    run.tail.push_back(RunRecord{std::move(time), std::move(text)});
}

// Cuts lines at CR LF and gathers them into records: a line that is no
// record continues the text of the one before (a text with a line break).
class RecordReader {
  public:
    explicit RecordReader(LastRun& run) : run_(run) {}

    // Feeds [from, size) of the file; false when it cannot be read.
    bool Read(const OpenLog& log, uint64_t from) {
        HeapBlock block(log.held ? nullptr : malloc(kBlockSize));
        if (!log.held && !block.IsValid())
            return false;
        for (uint64_t at = from; at < log.size;) {
            const size_t length =
                static_cast<size_t>(log.size - at < kBlockSize ? log.size - at : kBlockSize);
            const char* bytes = Bytes(log, at, length, block.Bytes());
            if (bytes == nullptr)
                return false;
            for (size_t i = 0; i < length; ++i)
                Byte(bytes[i]);
            at += length;
        }
        return true;
    }
    // The last line, which a killed run may have left without its CR LF.
    void End() {
        if (!line_.empty() || pendingCr_)
            EndLine();
        Flush();
    }

  private:
    void Byte(char c) {
        if (pendingCr_) {
            pendingCr_ = false;
            if (c == '\n') {
                EndLine();
                return;
            }
            Keep('\r');
        }
        if (c == '\r')
            pendingCr_ = true;
        else
            Keep(c);
    }
    void Keep(char c) {
        if (line_.size() < kLineMax)
            line_ += c;
    }
    void EndLine() {
        RecordView record;
        if (ParseRecord(line_.data(), line_.size(), record)) {
            Flush();
            time_.assign(record.time, kRecordTimeLength);
            text_.assign(record.text, record.textLength);
            haveRecord_ = true;
        } else if (haveRecord_ && text_.size() < kLineMax) {
            text_.append("\n").append(line_, 0, kLineMax - text_.size());
        }
        line_.clear();
    }
    void Flush() {
        if (haveRecord_)
            Take(run_, time_, text_, records_++);
        haveRecord_ = false;
    }

    LastRun& run_;
    size_t records_ = 0;
    std::string line_;
    std::string time_;
    std::string text_;
    bool haveRecord_ = false;
    bool pendingCr_ = false;
};

} // namespace

bool OpenFound(const FoundFile& file, HANDLE& handle, DWORD& error) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    handle = CreateFileW(file.path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (UniqueHandle::IsValid(handle))
        return true;
    error = GetLastError();
    if (file.shortPath.empty())
        return false;
    handle = CreateFileW(file.shortPath.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (UniqueHandle::IsValid(handle))
        return true;
    error = GetLastError();
    return false;
}

void ReadLastRun(const FoundFile& log, const FoundFile& backup, LastRun& run,
                 ReadBuffers& buffers) {
    run.state = RunState::NoLog;
    if (!log.present && !backup.present)
        return;
    run.state = RunState::Unreadable;
    OpenLog current(buffers.log), older(buffers.backup);
    if (log.present && !Open(log, current))
        return;
    uint64_t budget = kScanLimit;
    uint64_t start = 0;
    char startTime[kRecordTimeLength + 1] = "";
    Scan scan = log.present ? FindLastStart(current, budget, start, startTime) : Scan::NotFound;
    // Not in the log: the run began before a rotation, and the older
    // generation holds its start.
    bool fromBackup = false;
    if (scan == Scan::NotFound && budget > 0 && backup.present && Open(backup, older)) {
        scan = FindLastStart(older, budget, start, startTime);
        fromBackup = scan == Scan::Found;
    }
    if (scan != Scan::Found)
        return;
    run.start = startTime;
    RecordReader reader(run);
    if (fromBackup && (!reader.Read(older, start) || (log.present && !reader.Read(current, 0))))
        return;
    if (!fromBackup && !reader.Read(current, start))
        return;
    reader.End();
    run.state = RunState::Found;
}
