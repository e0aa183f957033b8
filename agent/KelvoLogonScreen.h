#pragma once
#include <windows.h>
#include <wtsapi32.h>
#include <vector>

// Whether the Windows logon screen is up for the agent's session: no session of the machine
// is disconnected with a user still in it, and the logon program runs in the agent's own
// session. A logon program of another session (the one Windows keeps for a session being
// connected elsewhere, or another user's lock screen) says nothing about this one.
//
// The logon program runs as SYSTEM, which an ordinary user may not open: its session is
// taken from the machine's process list as the terminal services give it
// (WTSEnumerateProcessesW), never by opening the process.
namespace KelvoLogonScreen
{
struct Session
{
    DWORD id;
    bool disconnected;
    bool hasUser;
};

// The decision over the machine's sessions and its process list.
bool IsShown(const std::vector<Session>& sessions, const WTS_PROCESS_INFOW* processes, DWORD processCount,
             DWORD ownSession);

// Takes the machine's sessions and processes and decides.
bool Check();
}
