#pragma once
#include "common/CObjectExPtr.h"
#include "common/CStringEx.h"

// The kind of Windows session the process runs in: the local console, a Remote Desktop
// session or a Citrix ICA session. It names the endpoint (the computer the user sits at) and,
// for Citrix, opens the virtual channel to it.
class CEndpointSession : public CObjectEx
{
public:
    // Empties name, then fills it with the endpoint's name; TRUE on success.
    virtual BOOL GetClientName(CStringEx& name) = 0;
    // FALSE for the console, TRUE for the remote kinds.
    virtual BOOL IsRemote() = 0;
    // A counted reference to a CVirtualChannelImpl for the window and channel name, or an
    // empty reference when this kind has no channel or it could not be made.
    virtual _CObjectExPtr<CObjectEx> OpenVirtualChannel(HWND window, LPCWSTR channelName) = 0;
    // TRUE when the calling process runs in a session of this kind.
    virtual BOOL IsCurrent() = 0;

    // Seam for the session identifiers: when set, the process's session ID and the active
    // console session ID come from this function instead of ProcessIdToSessionId and
    // WTSGetActiveConsoleSessionId. Null (the default) asks Windows.
    using SessionIdHook = BOOL (*)(DWORD* processSessionId, DWORD* consoleSessionId);
    static void SetSessionIdHook(SessionIdHook hook) noexcept;

protected:
    // The process's session ID and the active console session ID; FALSE when the process's
    // own session cannot be told.
    static BOOL GetSessionIds(DWORD* processSessionId, DWORD* consoleSessionId) noexcept;
};
