#pragma once
// The agent program of a scenario folder, started and driven from outside as Windows and
// other programs would drive it:
//   - started from its scenario folder, whose library override makes the HID stand-ins
//     beside it answer its cart search (see CScenarioFolder.h), with KELVO_HID_SIM_TRACE
//     naming the folder's trace file;
//   - its window found as other processes find it: a top-level "#32770" window of its
//     process titled with string 568 of the scenario's KVResource;
//   - its state read from the window's three status texts: 1015 connected, 1005 cart ready,
//     1004 cart fault (each "%d");
//   - session changes posted as WM_WTSSESSION_CHANGE (event in wParam, the agent's session
//     in lParam), since Wine never sends them;
//   - device arrival and removal sent as WM_DEVICECHANGE with a DEV_BROADCAST_DEVICEINTERFACE_W
//     naming the cart's path. A pointer cannot be posted to another process (PostMessage
//     fails with ERROR_MESSAGE_SYNC_ONLY); SendMessage carries the broadcast across, as
//     Windows does for the DBT_ events that carry a structure, and Wine does the same;
//   - stopped with a second start carrying the stop switch (string 205), or closed with
//     WM_AGENT_CLOSE, or terminated when it does not end within the bound.
#include "sim/driver/CScenarioFolder.h"
#include "sim/driver/CScenarioProcess.h"
#include <functional>

class CAgentProcess
{
public:
    static constexpr UINT kTitleStringId = 568;
    static constexpr UINT kStopSwitchStringId = 205;
    static constexpr int kConnectedControl = 1015;
    static constexpr int kCartReadyControl = 1005;
    static constexpr int kCartFaultControl = 1004;
    static constexpr UINT kCloseMessage = WM_USER + 11;

    // The three status texts; -1 where a text could not be read as a number.
    struct State
    {
        int connected = -1;
        int cartReady = -1;
        int cartFault = -1;
    };

    CAgentProcess() = default;
    ~CAgentProcess();
    CAgentProcess(const CAgentProcess&) = delete;
    CAgentProcess& operator=(const CAgentProcess&) = delete;

    // Adds a variable to the environment of the programs started from now on.
    void AddEnvironment(LPCWSTR name, LPCWSTR value) { m_environment.emplace_back(name, value); }
    // Starts the folder's program with the arguments. 0 or a Windows error; see GetErrorText().
    DWORD Start(const CScenarioFolder& folder, LPCWSTR arguments = nullptr);
    DWORD GetProcessId() const { return m_process.GetProcessId(); }
    bool IsRunning() const { return m_process.IsRunning(); }

    // The title the window is found by: string 568 of the folder's KVResource unless set.
    void SetWindowTitle(LPCWSTR title) { m_title = title; }
    const CStringEx& GetWindowTitle() const { return m_title; }
    // Waits until the agent's window exists; null when it did not appear within the bound
    // (or the agent ended first).
    HWND WaitForWindow(DWORD boundMs);
    HWND GetWindow() const { return m_window; }

    // Reads the status texts of the window found; FALSE when there is no window.
    bool ReadState(State& state) const;
    // Waits until the state satisfies the predicate; the last state read is left in `last`.
    bool WaitForState(const std::function<bool(const State&)>& predicate, DWORD boundMs, State* last = nullptr) const;
    bool WaitForConnected(int connected, DWORD boundMs, State* last = nullptr) const;

    // WM_WTSSESSION_CHANGE with the event (WTS_SESSION_LOCK, WTS_SESSION_UNLOCK...) and the
    // agent's own session ID, posted as Windows posts it.
    bool PostSessionChange(WPARAM event) const;
    // WM_DEVICECHANGE for the HID interface at `path`, sent; TRUE when the window answered
    // within the bound, its answer in `result`.
    bool SendDeviceArrival(LPCWSTR path, DWORD boundMs = 5000, LRESULT* result = nullptr) const;
    bool SendDeviceRemoval(LPCWSTR path, DWORD boundMs = 5000, LRESULT* result = nullptr) const;
    bool Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    // Starts the program a second time with the stop switch and waits for both to end.
    // 0 when the agent ended within the bound, else a Windows error (an agent still running
    // then is terminated); see GetErrorText().
    DWORD StopWithSwitch(DWORD boundMs = 10000);
    // Posts WM_AGENT_CLOSE and waits for the end; FALSE (and the agent terminated) when it
    // did not end within the bound.
    bool Close(DWORD boundMs = 10000);
    bool WaitForExit(DWORD boundMs, DWORD* exitCode = nullptr) const { return m_process.WaitForExit(boundMs, exitCode); }
    bool Terminate() { return m_process.Terminate(1); }

    const CStringEx& GetErrorText() const { return m_error; }

private:
    std::vector<std::pair<CStringEx, CStringEx>> Environment(const CScenarioFolder& folder) const;
    bool SendDeviceChange(UINT_PTR event, LPCWSTR path, DWORD boundMs, LRESULT* result) const;

    const CScenarioFolder* m_folder = nullptr;
    CScenarioProcess m_process;
    CStringEx m_title;
    HWND m_window = nullptr;
    std::vector<std::pair<CStringEx, CStringEx>> m_environment;
    CStringEx m_error;
};
