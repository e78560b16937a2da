// Entry point: runs the application object's InitInstance once.
#include "Framework.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return WinApp::Run(instance);
}
