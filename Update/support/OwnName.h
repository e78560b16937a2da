// Names of the files that a run makes for itself in folders that others may
// write too (the temporary folder, a share of logs): after the usual name,
// names that nobody can take in advance, since each carries 64 bits drawn
// only when it is tried.
#pragma once

#include <windows.h>
#include <stddef.h>

// How many names a run tries in one folder: another account cannot have
// taken a drawn name, so only a folder that refuses every new file uses
// them up.
constexpr unsigned kOwnNameTries = 64;

// The n-th name to try: for n == 0 "<stem><extension>", the usual name;
// after it "<stem>.<16 hex digits><extension>", drawn anew on each call.
// False (out empty) when the name does not fit capacity.
bool OwnNameCandidate(const char* stem, const char* extension, unsigned n, char* out,
                      size_t capacity);

// Whether a failed creation means that something else has the name, so
// that the next name may do: it exists (a file, a folder, a link), or it is
// refused or held open.
bool IsNameTaken(DWORD error);
