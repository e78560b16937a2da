// Application shell: start-up, mode detection and the dialogs.
#pragma once

#include "Framework.h"
#include "Globals.h"

class UpdateApp : public WinApp {
  public:
    UpdateApp() = default;
    bool InitInstance() override;
};

// 0 product not recognised, 1 server part, 2 client part. May set
// g_installPath and g_featureFolder.
int GetOperationMode();
// True when the marker WSUS.txt (file or folder) is in the feature folder.
bool IsAlreadyUpdated();
bool StartWinSock();
bool StopWinSock();

// The feature folder of an install path: its first "bin" (any case) replaced
// by "WU" and cut there; unchanged when there is none.
void MakeFeatureFolder(char* path);
