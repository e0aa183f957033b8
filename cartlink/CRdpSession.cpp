#include "cartlink/CRdpSession.h"
#include <new>
#include "cartlink/CWtsMemoryEx.h"

const CObjectExClassInfo CRdpSession::s_classInfo = { "CRdpSession", sizeof(CRdpSession),
                                                      &CRdpSession::Create, nullptr };

CObjectEx* CRdpSession::Create()
{
    return new (std::nothrow) CRdpSession();
}

BOOL CRdpSession::IsCurrent()
{
    DWORD processSession = 0;
    DWORD consoleSession = 0;
    return GetSessionIds(&processSession, &consoleSession) && processSession != consoleSession;
}

BOOL CRdpSession::GetClientName(CStringEx& name)
{
    try
    {
        name.Empty();
        if (!IsCurrent())
            return FALSE;
        CWtsMemoryEx<WCHAR> buffer;
        DWORD bytes = 0;
        if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSClientName,
                                         buffer.Put(), &bytes) || !buffer)
            return FALSE;
        // The byte count includes the terminator; never read past it.
        const size_t chars = bytes ? wcsnlen(buffer.Get(), bytes / sizeof(wchar_t)) : wcslen(buffer.Get());
        name = CStringEx(buffer.Get(), static_cast<int>(chars));
        return TRUE;
    }
    catch (...)
    {
        // Only an allocation can fail here; the caller sees an unnamed endpoint.
        name.Empty();
        return FALSE;
    }
}
