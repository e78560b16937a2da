// Entry point: runs the application object once; its result is the exit
// status.
#include "SystemLibrary.h"
#include "Update.h"

// The one application object, made before WinMain runs.
static UpdateApp theApp;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Before anything else can load a library.
    RestrictLibrarySearch();
    return WinApp::Run(instance);
}
