#include "Options.h"

#include "Fpack.h"
#include "Messages.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#ifndef FPACK_VERSION
#define FPACK_VERSION "0"
#endif

namespace {

struct CommandForm {
    char letter;
    Command command;
    size_t operands;
    const char* operandNames[2];
    const char* usage;
};

const CommandForm kCommands[] = {
    {'c',
     Command::Create,
     2,
     {"ARCHIVE", "SRCDIR"},
     "fpack c ARCHIVE SRCDIR [--time FILETIME] [--quiet]"},
    {'l', Command::List, 1, {"ARCHIVE", nullptr}, "fpack l ARCHIVE [--tsv]"},
    {'t', Command::Test, 1, {"ARCHIVE", nullptr}, "fpack t ARCHIVE [--quiet]"},
    {'x',
     Command::Extract,
     2,
     {"ARCHIVE", "DESTDIR"},
     "fpack x ARCHIVE DESTDIR [--no-overwrite] [--quiet]"},
};

const CommandForm* FormOf(Command command) {
    for (const CommandForm& form : kCommands)
        if (form.command == command)
            return &form;
    return nullptr;
}

const CommandForm* FormOf(const char* word) {
    for (const CommandForm& form : kCommands)
        if (word[0] == form.letter && word[1] == '\0')
            return &form;
    return nullptr;
}

// Remembers the first problem only: it is the one the user meets first.
void Note(std::string& problem, const std::string& text) {
    if (problem.empty())
        problem = text;
}

// An argument as a message quotes it.
std::string Shown(const char* argument) {
    return PrintableName(argument, strlen(argument));
}

bool ParseFileTime(const char* text, FILETIME& time) {
    unsigned long long value = 0;
    if (!ParseDecimal(text, value))
        return false;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return true;
}

} // namespace

bool ParseDecimal(const char* text, unsigned long long& value) {
    if (text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    value = strtoull(text, &end, 10);
    return errno == 0 && *end == '\0';
}

ParseOutcome ParseCommandLine(int argc, char** argv, Options& options, std::string& problem) {
    bool help = false, version = false, optionsEnded = false, commandSeen = false;
    const CommandForm* form = nullptr;
    problem.clear();
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!optionsEnded && strcmp(a, "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded && a[0] == '-' && a[1] != '\0') {
            if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
                help = true;
            } else if (strcmp(a, "--version") == 0) {
                version = true;
            } else if (strcmp(a, "-q") == 0 || strcmp(a, "--quiet") == 0) {
                options.verbosity = Verbosity::Quiet;
            } else if (strcmp(a, "--no-overwrite") == 0) {
                options.noOverwrite = true;
            } else if (strcmp(a, "--tsv") == 0) {
                options.tabSeparated = true;
            } else if (strcmp(a, "--time") == 0 || strncmp(a, "--time=", 7) == 0) {
                const char* value = a[6] == '=' ? a + 7 : (i + 1 < argc ? argv[++i] : nullptr);
                if (value == nullptr)
                    Note(problem, "--time needs a FILETIME");
                else if (!ParseFileTime(value, options.time))
                    Note(problem, std::string("--time takes a decimal FILETIME, not '") +
                                      Shown(value) + "'");
                options.fixedTime = true;
            } else {
                Note(problem, "unknown option '" + Shown(a) + "'");
            }
        } else if (!commandSeen) {
            commandSeen = true;
            form = FormOf(a);
            if (form == nullptr)
                Note(problem, "unknown command '" + Shown(a) + "'");
            else
                options.command = form->command;
        } else {
            options.operands.push_back(a);
        }
    }
    if (help)
        return ParseOutcome::Help;
    if (version)
        return ParseOutcome::Version;
    if (!problem.empty())
        return ParseOutcome::UsageError;
    if (form == nullptr) {
        problem = "no command given";
        return ParseOutcome::UsageError;
    }
    if (options.fixedTime && form->command != Command::Create)
        Note(problem, "--time applies to c only");
    if (options.noOverwrite && form->command != Command::Extract)
        Note(problem, "--no-overwrite applies to x only");
    if (options.tabSeparated && form->command != Command::List)
        Note(problem, "--tsv applies to l only");
    if (options.operands.size() < form->operands)
        Note(problem, std::string("missing ") + form->operandNames[options.operands.size()]);
    else if (options.operands.size() > form->operands)
        Note(problem, "unexpected operand '" + Shown(options.operands[form->operands]) + "'");
    return problem.empty() ? ParseOutcome::Run : ParseOutcome::UsageError;
}

void PrintHelp(FILE* out) {
    fputs("fpack " FPACK_VERSION ": creates, lists, tests and unpacks Folder Pack archives.\n"
          "\n"
          "usage: fpack c ARCHIVE SRCDIR    pack the files and folders below SRCDIR\n"
          "       fpack l ARCHIVE           list the records\n"
          "       fpack t ARCHIVE           read and inflate everything, write nothing\n"
          "       fpack x ARCHIVE DESTDIR   unpack into DESTDIR, made when missing\n"
          "\n"
          "Options go before or after the operands; -- ends them.\n"
          "  --time FILETIME   c: every record gets this time (100 ns units since 1601)\n"
          "  --no-overwrite    x: stop at the first file that exists, instead of replacing it\n"
          "  --tsv             l: one tab-separated line per record, nothing else\n"
          "  -q, --quiet       c, t, x: no progress line on the console\n"
          "  -h, --help        this text\n"
          "  --version         the version\n"
          "\n"
          "c packs each file's own creation and last-write times; when SOURCE_DATE_EPOCH\n"
          "(seconds since 1970-01-01 UTC) is set, later times become that time. Links,\n"
          "junctions and other reparse points are skipped with a warning.\n"
          "\n"
          "Exit status: 0 done; 3 c skipped reparse points; 64 usage; c: 65 a name the\n"
          "archive cannot carry, 66 source not readable, 73 archive not written;\n"
          "l, t, x: the unpacker's result code without its sign (1 target not created,\n"
          "2 not written or not inflated, 6 archive not opened, 7 no memory,\n"
          "8 truncated, 9 bad format or refused name, 10 size mismatch, 11 not replaced).\n",
          out);
}

void PrintVersion(FILE* out) {
    fprintf(out, "fpack %s (zlib %s)\n", FPACK_VERSION, zlibVersion());
}

int UsageError(const Options& options, const std::string& problem) {
    const CommandForm* form = FormOf(options.command);
    fflush(stdout);
    fprintf(stderr, "fpack: %s\n", problem.c_str());
    if (form != nullptr)
        fprintf(stderr, "usage: %s  (fpack --help for more)\n", form->usage);
    else
        fprintf(stderr, "usage: fpack c|l|t|x ARCHIVE ...  (fpack --help for more)\n");
    return kExitUsage;
}
