#include "agent/KelvoLogonScreen.h"
#include "cartlink/CWtsMemoryEx.h"

namespace
{
constexpr wchar_t kLogonProgram[] = L"logonui.exe";

std::vector<KelvoLogonScreen::Session> ListSessions()
{
    std::vector<KelvoLogonScreen::Session> sessions;
    CWtsMemoryEx<WTS_SESSION_INFOW> info;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, info.Put(), &count) || !info)
        return sessions;
    for (DWORD i = 0; i < count; ++i)
    {
        const WTS_SESSION_INFOW& item = info.Get()[i];
        KelvoLogonScreen::Session session{item.SessionId, item.State == WTSDisconnected, false};
        if (session.disconnected)
        {
            CWtsMemoryEx<WCHAR> user;
            DWORD bytes = 0;
            if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session.id, WTSUserName, user.Put(), &bytes))
                session.hasUser = user && *user.Get() != L'\0';
        }
        sessions.push_back(session);
    }
    return sessions;
}
}

namespace KelvoLogonScreen
{
bool IsShown(const std::vector<Session>& sessions, const WTS_PROCESS_INFOW* processes, DWORD processCount,
             DWORD ownSession)
{
    for (const Session& session : sessions)
    {
        if (session.disconnected && session.hasUser)
            return false;
    }
    for (DWORD i = 0; processes != nullptr && i < processCount; ++i)
    {
        const WTS_PROCESS_INFOW& process = processes[i];
        if (process.SessionId == ownSession && process.pProcessName != nullptr &&
            _wcsicmp(process.pProcessName, kLogonProgram) == 0)
            return true;
    }
    return false;
}

bool Check()
{
    DWORD ownSession = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession))
        return false;
    CWtsMemoryEx<WTS_PROCESS_INFOW> processes;
    DWORD count = 0;
    if (!WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, processes.Put(), &count) || !processes)
        return false;
    return IsShown(ListSessions(), processes.Get(), count, ownSession);
}
}
