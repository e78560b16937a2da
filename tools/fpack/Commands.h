// fpack's commands; each returns the exit status.
#pragma once

#include "Options.h"

int CreateCommand(const Options& options);  // c ARCHIVE SRCDIR
int ListCommand(const Options& options);    // l ARCHIVE
int TestCommand(const Options& options);    // t ARCHIVE
int ExtractCommand(const Options& options); // x ARCHIVE DESTDIR
