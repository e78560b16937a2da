#include "ErrorText.h"

#include "Mbcs.h"

#include <stdio.h>
#include <string.h>

size_t SystemMessage(DWORD code, char* out, size_t capacity) {
    if (capacity == 0)
        return 0;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_MAX_WIDTH_MASK,
                             nullptr, code, 0, out, static_cast<DWORD>(capacity), nullptr);
    // One line: no breaks, no trailing blanks.
    for (DWORD i = 0; i < n; ++i) {
        if (out[i] == '\r' || out[i] == '\n')
            out[i] = ' ';
    }
    while (n > 0 && out[n - 1] == ' ')
        --n;
    out[n < capacity ? n : capacity - 1] = '\0';
    return n;
}

void FormatErrorText(DWORD code, char* out, size_t capacity) {
    if (capacity == 0)
        return;
    char message[512];
    const size_t n = SystemMessage(code, message, sizeof message);
    char whole[600];
    if (n > 0)
        snprintf(whole, sizeof whole, "%s (%lu)", message, static_cast<unsigned long>(code));
    else
        snprintf(whole, sizeof whole, "(%lu)", static_cast<unsigned long>(code));
    const size_t length = CutToWholeCharacters(whole, capacity - 1);
    memcpy(out, whole, length);
    out[length] = '\0';
}
