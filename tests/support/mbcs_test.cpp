// Double-byte scans bounded by the string's length (code page 932).
#include <gtest/gtest.h>

#include "Mbcs.h"

#include <string.h>
#include <string>

namespace {

// 能 is 94 5C, ポ is 83 7C: trail bytes equal to '\' and '|'.
TEST(Mbcs, CharactersAreLeadAndTrailBytesWithinTheLength) {
    struct {
        std::string text;
        size_t length, at, expected;
    } cases[] = {
        {"能", 2, 0, 2},       {"ポ", 2, 0, 2},       {"a能", 3, 1, 2},      {"能", 1, 0, 1},
        {"a\x94", 2, 1, 1},    {"\x94 ", 2, 0, 1},    {"\x94\x7F", 2, 0, 1}, {"\x94\xFD", 2, 0, 1},
        {"\x81\x40", 2, 0, 2}, {"\xFC\xFC", 2, 0, 2}, {"\x80\x40", 2, 0, 1}, {"\xA0\x40", 2, 0, 1},
        {"\xE0\x3F", 2, 0, 1}, {"\x9F\x80", 2, 0, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, MbcsCharLength(c.text.data(), c.length, c.at)) << c.text;
}

TEST(Mbcs, FindStepsOverTrailBytesAndStopsAtTheLength) {
    struct {
        std::string text;
        size_t length;
        int first, last; // offsets of '\', -1 for none
    } cases[] = {
        {"C:\\能\\x", 7, 2, 5},
        {"能", 2, -1, -1},
        {"能能\\", 5, 4, 4},
        {"a\\b", 1, -1, -1},
        {"a\\b", 2, 1, 1},
        // A lone lead byte before the length's end: the next byte stands alone.
        {"\x94.\\", 3, 2, 2},
        // The NUL after a lead byte ends the scan; what lies beyond is not read.
        {std::string("x\x94\0\\\\", 5), 2, -1, -1},
        {std::string("x\x94\0\\\\", 5), 3, -1, -1},
    };
    for (const auto& c : cases) {
        const char* first = MbcsFind(c.text.data(), c.length, '\\');
        const char* last = MbcsFindLast(c.text.data(), c.length, '\\');
        EXPECT_EQ(c.first, first ? static_cast<int>(first - c.text.data()) : -1) << c.text;
        EXPECT_EQ(c.last, last ? static_cast<int>(last - c.text.data()) : -1) << c.text;
    }
    // '|' as a trail byte is no '|'.
    EXPECT_EQ(nullptr, MbcsFind("ポ", 2, '|'));
}

TEST(Mbcs, CutsNeverEndOnALeadByte) {
    struct {
        std::string text;
        size_t maxLength, expected;
    } cases[] = {
        {"能能", 3, 2},    {"能能", 4, 4},    {"能能", 9, 4}, {"a\x94", 2, 1}, {"a\x94", 9, 1},
        {"a\x94 b", 3, 3}, {"a\x94 b", 2, 1}, {"abc", 0, 0},  {"abc", 2, 2},   {"ab\0cd", 5, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CutToWholeCharacters(c.text.c_str(), c.maxLength)) << c.text;
}

} // namespace
