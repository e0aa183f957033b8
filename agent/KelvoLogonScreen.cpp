#include "agent/KelvoLogonScreen.h"
#include "common/CHandleEx.h"
#include <tlhelp32.h>
#include <wtsapi32.h>

namespace
{
constexpr wchar_t kLogonProgram[] = L"logonui.exe";

std::vector<KelvoLogonScreen::Session> ListSessions()
{
    std::vector<KelvoLogonScreen::Session> sessions;
    WTS_SESSION_INFOW* info = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &info, &count))
        return sessions;
    for (DWORD i = 0; i < count; ++i)
    {
        KelvoLogonScreen::Session session{info[i].SessionId, info[i].State == WTSDisconnected, false};
        if (session.disconnected)
        {
            LPWSTR user = nullptr;
            DWORD bytes = 0;
            if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session.id, WTSUserName, &user, &bytes))
            {
                session.hasUser = user != nullptr && *user != L'\0';
                WTSFreeMemory(user);
            }
        }
        sessions.push_back(session);
    }
    WTSFreeMemory(info);
    return sessions;
}

// Only the logon programs are listed; their sessions are asked one by one.
std::vector<KelvoLogonScreen::Process> ListLogonPrograms()
{
    std::vector<KelvoLogonScreen::Process> processes;
    const CHandleEx snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid())
        return processes;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.GetHandle(), &entry); more;
         more = Process32NextW(snapshot.GetHandle(), &entry))
    {
        if (_wcsicmp(entry.szExeFile, kLogonProgram) != 0)
            continue;
        DWORD session = 0;
        if (ProcessIdToSessionId(entry.th32ProcessID, &session))
            processes.push_back({entry.szExeFile, session});
    }
    return processes;
}
}

namespace KelvoLogonScreen
{
bool IsShown(const std::vector<Session>& sessions, const std::vector<Process>& processes, DWORD ownSession)
{
    for (const Session& session : sessions)
    {
        if (session.disconnected && session.hasUser)
            return false;
    }
    for (const Process& process : processes)
    {
        if (process.sessionId == ownSession && _wcsicmp(process.image.c_str(), kLogonProgram) == 0)
            return true;
    }
    return false;
}

bool Check()
{
    DWORD ownSession = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession))
        return false;
    return IsShown(ListSessions(), ListLogonPrograms(), ownSession);
}
}
