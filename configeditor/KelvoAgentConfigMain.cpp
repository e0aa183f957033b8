// KelvoAgentConfig.exe: the configuration editor for administrators.
#include "configeditor/CKelvoAgentConfigApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    CKelvoAgentConfigApp app;
    return app.Run();
}
