// What a name stands for: a file of the name's own, or another file that a
// link of that name points to.
#pragma once

#include <windows.h>

// Whether the file open at handle is the one whose name is path's last
// component, and not what a link of that name points to (a link that shows
// itself as a plain file, as on some platforms). Platforms without a way to
// tell (XP) have no links to files: true there.
bool IsNamedFile(HANDLE file, const char* path);
