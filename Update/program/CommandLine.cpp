#include "CommandLine.h"

#include "Mbcs.h"

#include <string.h>

namespace {

// Copies text into out, cut on a character boundary to fit capacity.
void CopyCut(char* out, size_t capacity, const char* text) {
    const size_t n = CutToWholeCharacters(text, capacity - 1);
    memcpy(out, text, n);
    out[n] = '\0';
}

void Append(char* out, size_t capacity, const char* text) {
    const size_t used = strlen(out);
    // Room for a blank and at least one byte after it.
    if (used + 2 >= capacity)
        return;
    if (used > 0) {
        out[used] = ' ';
        out[used + 1] = '\0';
        CopyCut(out + used + 1, capacity - used - 1, text);
    } else {
        CopyCut(out, capacity, text);
    }
}

bool IsSwitch(const char* body, const char* name) {
    return _stricmp(body, name) == 0;
}

} // namespace

bool ParseCommandLine(int argc, const char* const* argv, CommandLine& out) {
    out = CommandLine();
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        Append(out.text, sizeof out.text, arg);
        const char* body = (arg[0] == '/' || arg[0] == '-') ? arg + 1 : nullptr;
        bool known = false;
        if (body != nullptr) {
            if (IsSwitch(body, "quiet") || IsSwitch(body, "q")) {
                out.quiet = known = true;
            } else if (IsSwitch(body, "status")) {
                out.status = known = true;
            } else if (IsSwitch(body, "undo")) {
                out.undo = known = true;
            } else if (IsSwitch(body, "?") || IsSwitch(body, "help")) {
                out.help = known = true;
            } else if (_strnicmp(body, "log=", 4) == 0 && body[4] != '\0' &&
                       strlen(body + 4) < sizeof out.logPath) {
                strcpy(out.logPath, body + 4);
                known = true;
            }
        }
        if (!known && out.unknown[0] == '\0')
            CopyCut(out.unknown, sizeof out.unknown, arg[0] != '\0' ? arg : "\"\"");
    }
    return out.unknown[0] == '\0';
}
