#include "Update.h"

#include "Log.h"
#include "PathHelpers.h"

#include <winsock2.h>
#include <string.h>
#include <string>

char g_logPath[260];
int g_operationMode;
char g_installPath[260];
char g_featureFolder[260];
HWND g_mainWindow;

namespace {
const char kServerKey[] = "SOFTWARE\\TALMERO\\BaseSrv";
const char kClientKey[] = "SOFTWARE\\TALMERO\\BaseCli";
const char kInstallPathValue[] = "InstallPath";
const char kMarkerFile[] = "WSUS.txt";

bool PathExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Takes the part whose install path was read: sets the globals and tells
// whether its feature folder exists.
int UsePart(const std::string& installPath, int mode) {
    // A path that does not fit the globals is not a product we recognise.
    if (installPath.size() >= sizeof g_installPath)
        return kModeUnknown;
    memcpy(g_installPath, installPath.c_str(), installPath.size() + 1);
    memcpy(g_featureFolder, installPath.c_str(), installPath.size() + 1);
    MakeFeatureFolder(g_featureFolder);
    return PathExists(g_featureFolder) ? mode : kModeUnknown;
}
} // namespace

void MakeFeatureFolder(char* path) {
    char* bin = FindNoCase(path, "bin");
    if (bin != nullptr)
        memcpy(bin, "WU", 3);
}

int GetOperationMode() {
    std::string server;
    std::string client;
    bool serverPresent =
        ReadRegistryString(HKEY_LOCAL_MACHINE, kServerKey, kInstallPathValue, server) &&
        !server.empty();
    bool clientPresent =
        ReadRegistryString(HKEY_LOCAL_MACHINE, kClientKey, kInstallPathValue, client) &&
        !client.empty();
    if (serverPresent)
        return UsePart(server, kModeServer);
    if (clientPresent)
        return UsePart(client, kModeClient);
    return kModeUnknown;
}

bool IsAlreadyUpdated() {
    char marker[260];
    if (!JoinPath(g_featureFolder, kMarkerFile, marker, sizeof marker))
        return false;
    return PathExists(marker);
}

bool StartWinSock() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0)
        return false;
    return data.wVersion == MAKEWORD(2, 0);
}

bool StopWinSock() {
    return WSACleanup() == 0;
}

bool UpdateApp::InitInstance() {
    if (!BuildTempFilePath("Update_Log.txt", g_logPath, sizeof g_logPath))
        g_logPath[0] = '\0';

    WRITE_LOG("====================【開始】====================.");
    g_operationMode = GetOperationMode();
    WRITE_LOG("動作モード %d .", g_operationMode);

    if (g_operationMode != kModeServer && g_operationMode != kModeClient) {
        MessageBoxA(nullptr,
                    "TALMERO Pro もしくは Windows Update 支援機能を認識できません。\n"
                    "プログラムを終了します。",
                    "エラー", MB_OK | MB_ICONERROR);
        SetExitCode(kExitNotRecognised);
        return false;
    }
    if (IsAlreadyUpdated()) {
        MessageBoxA(nullptr,
                    "TALMERO ProのWindows Update支援機能は既に更新されています。\n"
                    "プログラムを終了します。",
                    "エラー", MB_OK | MB_ICONINFORMATION);
        SetExitCode(kExitAlreadyUpdated);
        return false;
    }

    StartWinSock();
    // The main dialog runs here, modally.
    StopWinSock();
    return false;
}

static UpdateApp theApp;
