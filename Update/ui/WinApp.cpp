#include "WinApp.h"

WinApp* WinApp::current_ = nullptr;
HINSTANCE WinApp::instance_ = nullptr;

WinApp::WinApp() {
    current_ = this;
}

WinApp::~WinApp() {
    if (current_ == this)
        current_ = nullptr;
}

int WinApp::Run(HINSTANCE instance) {
    instance_ = instance;
    return current_ != nullptr ? current_->InitInstance() : 1;
}

HWND GetAppMainWindow() {
    WinApp* app = WinApp::Current();
    return app != nullptr ? app->MainWindow() : nullptr;
}
