// Scans of byte strings in the ANSI code page (code page 932 on the target
// systems) that step over double-byte characters and never look past a given
// length. The C runtime's multibyte searches are not used: some stop only at
// a NUL that is not taken for the trail byte of a lead byte before it.
#pragma once

#include <stddef.h>

// A lead byte of the ANSI code page (0x81-0x9F and 0xE0-0xFC in code page 932).
bool MbcsIsLeadByte(unsigned char c);
// A byte that completes a lead byte in code page 932: 0x40-0x7E, 0x80-0xFC.
// It may be 0x5C or 0x7C, never a NUL, a control character, '.', '/' or ':'.
bool MbcsIsTrailByte(unsigned char c);

// Bytes of the character at text[at], at < length: 2 for a lead byte followed
// by a trail byte within length, else 1 (a lone lead byte counts as one).
size_t MbcsCharLength(const char* text, size_t length, size_t at);

// First or last single-byte character c among the first length bytes of text,
// a trail byte equal to c not counted; null when there is none.
const char* MbcsFind(const char* text, size_t length, char c);
const char* MbcsFindLast(const char* text, size_t length, char c);
inline char* MbcsFind(char* text, size_t length, char c) {
    return const_cast<char*>(MbcsFind(static_cast<const char*>(text), length, c));
}
inline char* MbcsFindLast(char* text, size_t length, char c) {
    return const_cast<char*>(MbcsFindLast(static_cast<const char*>(text), length, c));
}

// Length of text (up to its NUL) once cut to at most maxLength bytes on a
// character boundary: the cut never ends on a lead byte.
size_t CutToWholeCharacters(const char* text, size_t maxLength);
