#include "configsvc/CKelvoConfigSvcModule.h"

namespace
{
// The module exists before the program starts.
CKelvoConfigSvcModule g_module;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int)
{
    return g_module.WinMain(commandLine);
}
