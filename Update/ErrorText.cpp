#include "ErrorText.h"

#include "Mbcs.h"

#include <stdio.h>
#include <string.h>

void FormatErrorText(DWORD code, char* out, size_t capacity) {
    if (capacity == 0)
        return;
    char message[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_MAX_WIDTH_MASK,
                             nullptr, code, 0, message, sizeof message, nullptr);
    // A record is one line: no breaks, no trailing blanks.
    for (DWORD i = 0; i < n; ++i) {
        if (message[i] == '\r' || message[i] == '\n')
            message[i] = ' ';
    }
    while (n > 0 && message[n - 1] == ' ')
        --n;
    message[n] = '\0';
    char whole[600];
    if (n > 0)
        snprintf(whole, sizeof whole, "%s (%lu)", message, static_cast<unsigned long>(code));
    else
        snprintf(whole, sizeof whole, "(%lu)", static_cast<unsigned long>(code));
    const size_t length = CutToWholeCharacters(whole, capacity - 1);
    memcpy(out, whole, length);
    out[length] = '\0';
}
