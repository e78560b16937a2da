#include "Mbcs.h"

#include <windows.h>

bool MbcsIsLeadByte(unsigned char c) {
    return IsDBCSLeadByte(c) != FALSE;
}

bool MbcsIsTrailByte(unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

size_t MbcsCharLength(const char* text, size_t length, size_t at) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    return at + 1 < length && MbcsIsLeadByte(p[at]) && MbcsIsTrailByte(p[at + 1]) ? 2 : 1;
}

const char* MbcsFind(const char* text, size_t length, char c) {
    for (size_t i = 0; i < length;) {
        const size_t n = MbcsCharLength(text, length, i);
        if (n == 1 && text[i] == c)
            return text + i;
        i += n;
    }
    return nullptr;
}

const char* MbcsFindLast(const char* text, size_t length, char c) {
    const char* last = nullptr;
    for (size_t i = 0; i < length;) {
        const size_t n = MbcsCharLength(text, length, i);
        if (n == 1 && text[i] == c)
            last = text + i;
        i += n;
    }
    return last;
}

size_t CutToWholeCharacters(const char* text, size_t maxLength) {
    size_t i = 0;
    while (i < maxLength && text[i] != '\0') {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (MbcsIsLeadByte(c)) {
            // A lead byte needs the byte after it inside the cut.
            if (i + 1 >= maxLength || text[i + 1] == '\0')
                break;
            // After a lone lead byte comes no lead byte (every lead byte is
            // also a trail byte), so the next step cannot end on one.
            i += MbcsIsTrailByte(static_cast<unsigned char>(text[i + 1])) ? 2 : 1;
        } else {
            ++i;
        }
    }
    return i;
}
