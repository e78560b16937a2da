// Libraries from the system's own folder only. A program started from a
// download folder or a share that others can write finds, by default, any
// library of the right name there first (a planted DLL); these calls take
// that place out of the search, for the program and for the libraries the
// system loads on its behalf.
#pragma once

#include <windows.h>

// Takes the program's folder and the current folder out of the search for
// libraries loaded from now on: only the system folder is searched where the
// platform can say so (SetDefaultDllDirectories, Windows 7 with KB2533623
// and later), else the current folder is left out (SetDllDirectory, XP SP1
// and later); and loads from the system folder the libraries that the
// system's own load by name for the dialog. Call it first thing at
// start-up.
void RestrictLibrarySearch();

// A function of kernel32 that not every platform the program runs on has;
// null where it is missing.
FARPROC KernelFunction(const char* name);

// For tests: KernelFunction asks this instead of kernel32, so that a test
// can hide a function that older platforms lack, or stand in for one, and
// see which way RestrictLibrarySearch takes. Null: kernel32 itself.
typedef FARPROC (*KernelLookup)(const char* name);
void SetKernelLookup(KernelLookup lookup);

// A library of the system folder, loaded by its full path; null when it
// cannot be loaded. It stays loaded for the life of the process.
HMODULE LoadSystemLibrary(const char* name);

// The sockets library, loaded from the system folder when first needed
// (it is no library that every Windows loads from its own folder only).
// The same arguments and results as WSAStartup, WSACleanup, gethostname and
// WSAGetLastError; when the library cannot be had, a failure with the error
// WSASYSNOTREADY.
int SocketsStartup(WORD version, void* data);
int SocketsCleanup();
int WINAPI LocalHostName(char* name, int length);
int SocketsError();
