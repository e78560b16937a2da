#include "Records.h"

#include <string.h>

namespace {

enum class Match { Whole, Prefix, Suffix, Contains };
// Cause: says what failed. Summary: says that something failed, and only
// counts when no cause does. Detail: completes the cause right before it.
enum class Role { Cause, Summary, Detail };

struct FailureForm {
    const char* text;
    Match match;
    Role role;
};

// Update.exe's records that say why a run failed, first match wins. A pattern
// that starts with a blank cannot start inside a double-byte character (no
// trail byte is below 0x40), so a match is always on a character boundary.
const FailureForm kFailureForms[] = {
    {"更新不可 ", Match::Prefix, Role::Cause},
    {"空き容量不足 ", Match::Prefix, Role::Cause},
    {" 書き込み失敗 : ", Match::Contains, Role::Cause},
    {" コピー失敗 : ", Match::Contains, Role::Cause},
    {"ファイルコピー失敗.", Match::Whole, Role::Summary},
    {" 名前変更失敗 : ", Match::Contains, Role::Cause},
    {" 削除失敗 : ", Match::Contains, Role::Cause},
    {"展開に失敗 ", Match::Prefix, Role::Cause},
    {" 展開失敗.", Match::Suffix, Role::Detail},
    {" 展開失敗 : ", Match::Contains, Role::Detail},
    {"ペイロードに ", Match::Prefix, Role::Detail},
    {"不明な引数 ", Match::Prefix, Role::Cause},
    {"他の更新が実行中のため終了.", Match::Whole, Role::Cause},
    // On a server the run goes on after the first rescue failed.
    {"救済措置失敗.", Match::Whole, Role::Summary},
    {"サーバ救済措置失敗.", Match::Whole, Role::Summary},
    {"サーバ救済措置失敗 : ", Match::Prefix, Role::Cause},
    {"サーバ名不正 ", Match::Prefix, Role::Cause},
    {"ファイル生成失敗.", Match::Whole, Role::Cause},
    {"ファイル生成失敗 ", Match::Prefix, Role::Cause},
    {"共有パス生成失敗 ", Match::Prefix, Role::Cause},
    {"パス生成失敗 ", Match::Prefix, Role::Cause},
    // "<file> 生成失敗." and the forms with a reason after it.
    {" 生成失敗", Match::Contains, Role::Cause},
    {"動作モード 0 .", Match::Whole, Role::Cause},
};

bool Matches(const FailureForm& form, const char* text, size_t length) {
    const size_t n = strlen(form.text);
    if (n > length)
        return false;
    switch (form.match) {
    case Match::Whole:
        return n == length && memcmp(text, form.text, n) == 0;
    case Match::Prefix:
        return memcmp(text, form.text, n) == 0;
    case Match::Suffix:
        return memcmp(text + length - n, form.text, n) == 0;
    case Match::Contains:
        for (size_t at = 0; at + n <= length; ++at) {
            if (memcmp(text + at, form.text, n) == 0)
                return true;
        }
        return false;
    }
    return false;
}

const FailureForm* Recognise(const char* text, size_t length) {
    for (const FailureForm& form : kFailureForms) {
        if (Matches(form, text, length))
            return &form;
    }
    return nullptr;
}

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

void ReasonFinder::Feed(const char* text, size_t length) {
    last_.assign(text, length);
    const FailureForm* form = Recognise(text, length);
    const bool afterCause = lastWasCause_;
    lastWasCause_ = false;
    if (form == nullptr)
        return;
    switch (form->role) {
    case Role::Detail:
        if (afterCause) {
            cause_.append(" ").append(text, length);
            break;
        }
        cause_.assign(text, length);
        break;
    case Role::Cause:
        cause_.assign(text, length);
        lastWasCause_ = true;
        break;
    case Role::Summary:
        summary_.assign(text, length);
        break;
    }
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
