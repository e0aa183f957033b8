#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Whether the Windows logon screen is up for the agent's session: no session of the machine
// is disconnected with a user still in it, and the logon program runs in the agent's own
// session. A logon program of another session (the one Windows keeps for a session being
// connected elsewhere, or another user's lock screen) says nothing about this one.
namespace KelvoLogonScreen
{
struct Session
{
    DWORD id;
    bool disconnected;
    bool hasUser;
};
struct Process
{
    std::wstring image;  // file name, as the process snapshot gives it
    DWORD sessionId;
};

bool IsShown(const std::vector<Session>& sessions, const std::vector<Process>& processes, DWORD ownSession);

// Takes the machine's sessions and processes and decides.
bool Check();
}
