// The program's switches: /quiet (/q), /log=PATH, /status, /undo, /?
// (/help), each with "/" or "-", in any letter case and any order.
#pragma once

#include <stddef.h>

struct CommandLine {
    bool quiet = false;
    bool status = false;
    bool undo = false;
    bool help = false;
    // The text after "/log=", as given; empty when the switch is absent.
    char logPath[1024] = "";
    // The first argument that is not a switch of the program (or a /log=
    // without a path), cut to fit; empty when every argument was understood.
    char unknown[260] = "";
    // Every argument as given, separated by blanks, cut to fit: for the log.
    char text[1024] = "";
};

// Reads the arguments after the program name. Returns true when every one of
// them was understood.
bool ParseCommandLine(int argc, const char* const* argv, CommandLine& out);
