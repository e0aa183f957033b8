#pragma once
#include <windows.h>
#include <string_view>
#include <vector>

// Whether the Windows logon screen is up for the agent's session: no session of the machine
// is disconnected with a user still in it, and the logon program runs in the agent's own
// session. A logon program of another session (the one Windows keeps for a session being
// connected elsewhere, or another user's lock screen) says nothing about this one.
//
// The watch asks this twice a second for as long as nobody signs in or locks, so the facts
// are gathered cheapest first and only as far as the decision needs them: whether this
// session may open the input desktop (it may not while the logon screen has it) decides
// nearly every tick; a session the system reports locked skips that question. Only then are
// the processes listed, and the sessions only when the logon program runs. The logon program
// runs as SYSTEM, which an ordinary user may not open: its session is taken from the
// system's process list, never by opening the process, and no account is looked up.
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
    DWORD sessionId;
    std::wstring_view image;   // empty when the list names none
};

enum class LockState { Unknown, Locked, Unlocked };

// The facts of one check, each gathered only when the decision asks for it.
class IFacts
{
public:
    virtual ~IFacts() = default;
    virtual LockState OwnLockState() = 0;
    virtual bool InputDesktopOpens() = 0;
    // The processes of the machine, or at least those of the agent's session; the images
    // stay valid as long as the facts do.
    virtual std::vector<Process> ListProcesses() = 0;
    virtual std::vector<Session> ListSessions() = 0;
};

bool Decide(IFacts& facts, DWORD ownSession);

// Gathers the machine's facts for the agent's session and decides.
bool Check();
}
