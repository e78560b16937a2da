#include "Records.h"

#include "Mbcs.h"

#include <stdlib.h>
#include <string.h>
#include <vector>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Skips a run of at least one byte that passes test; false when there is none.
template <typename Test> bool SkipRun(const char* line, size_t length, size_t& at, Test test) {
    const size_t from = at;
    while (at < length && test(line[at]))
        ++at;
    return at > from;
}

bool Expect(const char* line, size_t length, size_t& at, char c) {
    if (at >= length || line[at] != c)
        return false;
    ++at;
    return true;
}

} // namespace

bool ParseRecord(const char* line, size_t length, RecordView& record) {
    // "[" and the time, "D" standing for a digit.
    static const char kShape[] = "[DDDD/DD/DD DD:DD:DD] ";
    const size_t shapeLength = sizeof kShape - 1;
    if (length < shapeLength)
        return false;
    for (size_t i = 0; i < shapeLength; ++i) {
        if (kShape[i] == 'D' ? !IsDigit(line[i]) : line[i] != kShape[i])
            return false;
    }
    size_t at = shapeLength;
    if (!SkipRun(line, length, at, [](char c) { return c != ' '; }) ||
        !Expect(line, length, at, ' ') || !SkipRun(line, length, at, IsDigit) ||
        !Expect(line, length, at, ' ') || !SkipRun(line, length, at, IsHexDigit) ||
        !Expect(line, length, at, ' ') || !Expect(line, length, at, ':') ||
        !Expect(line, length, at, ' '))
        return false;
    record.time = line + 1;
    record.text = line + at;
    record.textLength = length - at;
    return true;
}

bool IsStartBanner(const RecordView& record) {
    return record.textLength == kStartBannerLength &&
           memcmp(record.text, kStartBanner, record.textLength) == 0;
}

std::string FormatArgs::Text(int i) const {
    return i < count ? std::string(arg[i].text, arg[i].length) : std::string();
}

long FormatArgs::Number(int i) const {
    return i < count ? strtol(Text(i).c_str(), nullptr, 10) : 0;
}

namespace {

// Matches text[at, length) against format from the conversion numbered
// args.count on; backtracks over the lengths a %s may take.
bool MatchFrom(const char* format, const char* text, size_t at, size_t length, FormatArgs& args) {
    while (*format != '\0') {
        if (format[0] != '%' || format[1] == '%') {
            const size_t n = format[0] == '%' ? 2 : 1;
            if (at >= length || text[at] != format[n - 1])
                return false;
            ++at;
            format += n;
            continue;
        }
        if (args.count == FormatArgs::kMax)
            return false;
        const int index = args.count++;
        if (format[1] == 's') {
            // Each character boundary, longest first.
            std::vector<size_t> ends(1, at);
            for (size_t i = at; i < length; i += MbcsCharLength(text, length, i))
                ends.push_back(i + MbcsCharLength(text, length, i));
            for (size_t k = ends.size(); k-- > 0;) {
                args.count = index + 1;
                args.arg[index] = {text + at, ends[k] - at};
                if (MatchFrom(format + 2, text, ends[k], length, args))
                    return true;
            }
            args.count = index;
            return false;
        }
        const bool isUnsigned = format[1] == 'l' && format[2] == 'u';
        if (!isUnsigned && format[1] != 'd')
            return false;
        const size_t from = at;
        if (!isUnsigned && at < length && text[at] == '-')
            ++at;
        const size_t digits = at;
        while (at < length && IsDigit(text[at]))
            ++at;
        if (at == digits)
            return false;
        args.arg[index] = {text + from, at - from};
        format += isUnsigned ? 3 : 2;
    }
    return at == length;
}

} // namespace

bool MatchFormat(const char* format, const char* text, size_t length, FormatArgs& args) {
    args.count = 0;
    return MatchFrom(format, text, 0, length, args);
}

bool ParseResultStatus(const char* text, size_t length, long& status) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (length > 0 && blank(text[length - 1]))
        --length;
    size_t start = length;
    while (start > 0 && !blank(text[start - 1]))
        --start;
    const char* token = text + start;
    const size_t n = length - start;
    const bool negative = n > 0 && token[0] == '-';
    const size_t digits = n - (negative ? 1 : 0);
    // cmd prints a 32-bit status: at most ten digits.
    if (digits == 0 || digits > 10)
        return false;
    long long value = 0;
    for (size_t i = negative ? 1 : 0; i < n; ++i) {
        if (!IsDigit(token[i]))
            return false;
        value = value * 10 + (token[i] - '0');
    }
    if (negative)
        value = -value;
    if (value < -2147483648LL || value > 2147483647LL)
        return false;
    status = static_cast<long>(value);
    return true;
}
