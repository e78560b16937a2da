// fpack's command line: a command letter, its operands, and options that
// may stand anywhere among them until "--".
#pragma once

#include "Progress.h"

#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>

enum class Command { None, Create, List, Test, Extract };

struct Options {
    Command command = Command::None;
    std::vector<const char*> operands; // those after the command letter
    Verbosity verbosity = Verbosity::Normal;
    bool noOverwrite = false;  // x
    bool tabSeparated = false; // l
    bool fixedTime = false;    // c
    FILETIME time = {};
};

enum class ParseOutcome { Run, Help, Version, UsageError };

// Reads the command line. For UsageError, problem says what is wrong in a
// few words. -h/--help and --version win over anything else before "--".
ParseOutcome ParseCommandLine(int argc, char** argv, Options& options, std::string& problem);

void PrintHelp(FILE* out);
void PrintVersion(FILE* out);
// The problem and a one-line hint (the command's usage, or where the help
// is) on stderr; returns the usage exit status.
int UsageError(const Options& options, const std::string& problem);

// A decimal count with no sign, no blanks and no overflow.
bool ParseDecimal(const char* text, unsigned long long& value);
