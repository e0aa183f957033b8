#include "cartlink/CConsoleSession.h"
#include <new>

const CObjectExClassInfo CConsoleSession::s_classInfo = { "CConsoleSession", sizeof(CConsoleSession),
                                                          &CConsoleSession::Create, nullptr };

CObjectEx* CConsoleSession::Create()
{
    return new (std::nothrow) CConsoleSession();
}

BOOL CConsoleSession::IsCurrent()
{
    DWORD processSession = 0;
    DWORD consoleSession = 0;
    return GetSessionIds(&processSession, &consoleSession) && processSession == consoleSession;
}

BOOL CConsoleSession::GetClientName(CStringEx& name)
{
    try
    {
        name.Empty();
        if (!IsCurrent())
            return FALSE;
        wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD length = ARRAYSIZE(computer);
        if (!GetComputerNameW(computer, &length))
            return FALSE;
        name = CStringEx(computer, static_cast<int>(length));
        return TRUE;
    }
    catch (...)
    {
        // Only an allocation can fail here; the caller sees an unnamed endpoint.
        name.Empty();
        return FALSE;
    }
}
