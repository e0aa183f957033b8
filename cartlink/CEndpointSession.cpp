#include "cartlink/CEndpointSession.h"

namespace
{
CEndpointSession::SessionIdHook g_sessionIdHook;
}

void CEndpointSession::SetSessionIdHook(SessionIdHook hook) noexcept
{
    g_sessionIdHook = hook;
}

BOOL CEndpointSession::GetSessionIds(DWORD* processSessionId, DWORD* consoleSessionId) noexcept
{
    if (g_sessionIdHook)
        return g_sessionIdHook(processSessionId, consoleSessionId);
    if (!ProcessIdToSessionId(GetCurrentProcessId(), processSessionId))
        return FALSE;
    // 0xFFFFFFFF while no session is attached to the console: then every session is remote.
    *consoleSessionId = WTSGetActiveConsoleSessionId();
    return TRUE;
}
