// logonui.exe: stands in for Windows' logon program. It shows nothing; it runs in the session
// that starts it until its standard input ends (the scenario closes it) or, at the latest,
// after the number of seconds given as its argument (default 120), so that nothing waits on
// it forever. While it runs it holds the named event by which the wtsapi32.dll stand-in reports
// its session as locked, as Windows does while its logon program shows over a session.
#include "sim/wts/WtsSimLogonScreen.h"
#include <windows.h>
#include <cstdio>
#include <cwchar>

namespace
{
DWORD WINAPI WaitForInputEnd(LPVOID)
{
    char buffer[256];
    while (fgets(buffer, sizeof(buffer), stdin) != nullptr)
    {
    }
    return 0;
}
}

int wmain(int argc, wchar_t** argv)
{
    const unsigned long seconds = argc > 1 ? wcstoul(argv[1], nullptr, 10) : 120;
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    wchar_t name[64];
    WtsSimLogonScreenName(session, name);
    HANDLE shown = CreateEventW(nullptr, TRUE, TRUE, name);
    if (shown == nullptr)
        return 1;
    printf("logon screen shown\n");
    fflush(stdout);
    HANDLE reader = CreateThread(nullptr, 0, &WaitForInputEnd, nullptr, 0, nullptr);
    if (reader == nullptr)
        return 1;
    WaitForSingleObject(reader, seconds * 1000);
    CloseHandle(reader);
    CloseHandle(shown);
    return 0;
}
