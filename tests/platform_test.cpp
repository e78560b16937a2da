// The platform the other tests rely on: Wine with the Japanese ANSI code page.
#include <gtest/gtest.h>

#include <windows.h>
#include <mbstring.h>
#include <string.h>

TEST(Platform, AnsiCodePageIs932) {
    // Without the ja_JP locale Wine silently falls back to 1252, and every
    // double-byte test below would test nothing.
    EXPECT_EQ(932u, GetACP());
}

TEST(Platform, MultibyteSearchStepsOverTrailBytes) {
    // 能 is 94 5C: its trail byte is no backslash.
    const char text[] = "C:\\能";
    ASSERT_EQ(5u, strlen(text));
    const unsigned char* last = _mbsrchr(reinterpret_cast<const unsigned char*>(text), '\\');
    ASSERT_NE(nullptr, last);
    EXPECT_EQ(2, reinterpret_cast<const char*>(last) - text);
}
