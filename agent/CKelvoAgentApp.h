#pragma once
#include "common/CHandleEx.h"
#include "common/ui/CUtilAppEx.h"
#include <vector>

// The agent program's application object: one agent per Windows session (a session-local
// mutex), the stop switch that ends the session's running agent, the switch that skips the
// first automatic authentication, COM, and the agent window run modally. The process ends
// with the window.
class CKelvoAgentApp : public CUtilAppEx
{
public:
    // The single-instance mutex; without a namespace prefix it lives in the session's own
    // namespace.
    static constexpr const wchar_t* kInstanceMutexName = L"KelvoAgentAppA41D09E5B7C2";
    // How long the running agent has to answer the close message, and then to end.
    static constexpr DWORD kCloseAnswerTimeoutMs = 3000;
    static constexpr DWORD kEndWaitMs = 3000;

    // A process the stop switch may end: another instance of this program.
    struct AgentProcess
    {
        DWORD processId;
        DWORD sessionId;
        HWND window;    // its agent window, or null
    };
    // Of the other instances of this program, the one to stop: only processes of the
    // caller's own session count (another user's agent is never touched); the first with
    // an agent window, or else the last one seen. Null when there is none.
    static const AgentProcess* ChooseAgentToStop(const std::vector<AgentProcess>& processes, DWORD ownProcessId,
                                                 DWORD ownSessionId);

    // The command-line switches, as found in the arguments (argument 0 is the program).
    struct Switches
    {
        bool stop = false;
        bool skipFirstAuthStart = false;
    };
    static Switches ParseSwitches(int argc, wchar_t** argv);

protected:
    BOOL InitInstance() override;

private:
    // Ends the agent that already runs in this session: the close message, at most
    // kEndWaitMs for it to end, then termination.
    void StopRunningAgent();
    static std::vector<AgentProcess> FindOtherInstances();
    void RunAgentWindow(bool skipFirstAuthStart);

    CMutexEx m_instanceMutex;
};
