// Entry point: runs the application object's InitInstance once.
#include "Framework.h"
#include "SystemLibrary.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Before anything else can load a library.
    RestrictLibrarySearch();
    return WinApp::Run(instance);
}
