// fpack: creates, lists, tests and unpacks Folder Pack archives.
//   fpack c ARCHIVE SRCDIR [--time FILETIME] [--quiet]
//   fpack l ARCHIVE [--tsv]
//   fpack t ARCHIVE [--quiet]
//   fpack x ARCHIVE DESTDIR [--no-overwrite] [--quiet]
#include "Commands.h"
#include "Fpack.h"
#include "Options.h"

#include <stdio.h>
#include <string>

int main(int argc, char** argv) {
    Options options;
    std::string problem;
    switch (ParseCommandLine(argc, argv, options, problem)) {
    case ParseOutcome::Help:
        PrintHelp(stdout);
        return kExitOk;
    case ParseOutcome::Version:
        PrintVersion(stdout);
        return kExitOk;
    case ParseOutcome::UsageError:
        return UsageError(options, problem);
    case ParseOutcome::Run:
        break;
    }
    switch (options.command) {
    case Command::Create:
        return CreateCommand(options);
    case Command::List:
        return ListCommand(options);
    case Command::Test:
        return TestCommand(options);
    case Command::Extract:
        return ExtractCommand(options);
    default:
        return UsageError(options, "no command given");
    }
}
