#pragma once
#include <windows.h>
#include <cwchar>

// While the logonui.exe stand-in runs, it holds a named event that says "the logon screen is
// up over session N"; the wtsapi32.dll stand-in then reports that session as locked, as
// Windows does while its logon program shows over a session.
inline void WtsSimLogonScreenName(DWORD session, wchar_t (&name)[64])
{
    swprintf(name, 64, L"KelvoSimLogonScreenS%lu", session);
}
