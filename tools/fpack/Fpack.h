// fpack's exit statuses, shared by its commands.
//
// l, t and x exit with the unpacker's result code negated (1, 2, 6 to 11),
// which scripts have relied on from the start. c's own statuses stay clear of
// those values so that a script can tell them apart.
#pragma once

enum ExitStatus : int {
    kExitOk = 0,
    // c wrote the archive but left out links and other reparse points.
    kExitSkipped = 3,
    kExitUsage = 64,
    // c: a name that the archive cannot carry or that x would refuse.
    kExitBadName = 65,
    // c: the source folder, or something in it, cannot be read.
    kExitSourceUnreadable = 66,
    // c: the archive cannot be created or written.
    kExitArchiveUnwritable = 73,
};

// The exit status of an unpacker result code (0 or negative).
inline int ExitFromResult(int resultCode) {
    return -resultCode;
}
