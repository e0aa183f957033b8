#pragma once
// One road of the agent through a drawer opening, set up for a scenario or the demo: the
// cart simulator, the sign-on and directory stand-ins configured in the scenario's own
// folder, the agent's configuration, and the agent itself, with what each of them saw.
#include "sim/driver/KelvoScenarioDriver.h"
#include <memory>
#include <string>
#include <vector>

struct AgentRoadOptions
{
    // The signed-in user; the domain is this computer's name unless `principal` is given.
    std::wstring user = L"nurse";
    std::wstring principal;              // whole principal, e.g. L"kiosk" or L"x@ELSEWHERE"
    std::vector<std::wstring> signOn;    // more "Key=Value" lines of the stand-in's [SignOn]
    std::wstring methods = L"1";         // authentication method values of the sign-in
    // The agent's configuration.
    bool preAuthorized = false;          // key 640
    std::wstring groups = L"Cart Users"; // key 641
    bool retry = true;                   // key 453
    int promptTimeout = 15;              // key 449
    bool endAccess = true;               // key 450
    int logLevel = 5;                    // key 542
    // Options of the cart simulator (e.g. L"--bound OTHER-WS").
    std::wstring cartArguments;
    // Started with the switch that suppresses the first automatic sign-in, so that the road
    // begins at the drawer button.
    bool skipFirstAutoStart = true;
    // The user is an account of the test domain (scripts/test-domain.sh), which the agent
    // searches through the directory stand-in's bridge, on a computer that the netapi32
    // stand-in makes a member of HQ; the computer's own accounts are the standard
    // directory's. The principal names the user at hq.example.com unless given.
    bool testDomain = false;
    // The cart is plugged in when the agent starts; without it the agent starts with no
    // cart (shown disconnected) and the road brings the cart back itself (Cart().Restore()).
    bool cartPresentAtStart = true;
};

class CAgentRoad
{
public:
    // The directory every road uses: local accounts of this computer.
    //   kiosk: an administrator;  nurse: in Cart Users;  visitor: in no group.
    static const wchar_t kDirectory[];

    CAgentRoad() = default;
    ~CAgentRoad();
    CAgentRoad(const CAgentRoad&) = delete;
    CAgentRoad& operator=(const CAgentRoad&) = delete;

    // Starts the cart and the agent and waits until the agent shows the cart connected and
    // polls it (or, with the cart absent, until the agent shows it disconnected). FALSE with
    // GetErrorText() when any step failed.
    bool Start(const AgentRoadOptions& options);
    // Stops the agent (and then the cart); TRUE when both ended within their bounds.
    bool Stop();

    CCartSimProcess& Cart() { return m_cart; }
    CAgentProcess& Agent() { return m_agent; }
    const CScenarioFolder& Folder() const { return m_folder; }
    CAgentLog& Log() { return *m_log; }
    CMessageBoxAnswerer& Boxes() { return *m_boxes; }
    static std::wstring ComputerName();
    // A text of the agent's resource library, formatted, without its line break, as UTF-8:
    // what the agent logs or shows for that string ID.
    static std::string Text(UINT stringId, ...);
    const std::wstring& GetErrorText() const { return m_error; }

    // The sign-on stand-in's journal lines that start with `prefix` (e.g. "Auth 8").
    size_t CountJournal(const char* prefix) const;
    bool WaitForJournal(const char* prefix, size_t count, DWORD boundMs) const;
    std::vector<std::string> Journal() const;
    // Changes the stand-in's configuration for the next sign-ins.
    void ConfigureSignOn(const std::vector<std::wstring>& lines);
    const CStringEx& GetJournalPath() const { return m_journal; }
    // Writes the agent's configuration file from the options (the agent reads it at its
    // start, at an unlock and when told to reload); FALSE with GetErrorText() when it failed.
    bool WriteConfig(const AgentRoadOptions& options);
    // Ends the agent with the stop switch and starts a new one from the same folder, with or
    // without the switch that suppresses the first automatic sign-in; TRUE once its window
    // is there and it shows the cart as `connected`.
    bool RestartAgent(bool skipFirstAutoStart, int connected);

    // The cart's exchanges of one kind since `from`, by the simulator's line text.
    size_t CountCart(LPCWSTR text, size_t from = 0) const { return m_cart.CountExchanges(text, from); }
    // Waits until the cart has served no exchange of this kind for `quietMs`; TRUE when it
    // fell quiet within the bound.
    bool WaitForCartQuiet(LPCWSTR text, DWORD quietMs, DWORD boundMs) const;
    // A short press of the drawer button: pressed until the agent's poll has read it.
    bool Press();
    // Waits until the agent has searched for its cart once (the HID stand-ins' trace shows
    // the device list handed out); TRUE when it did within the bound.
    bool WaitForCartSearch(DWORD boundMs) const;

private:
    bool Fail(const std::wstring& text);
    bool StartAgent(bool skipFirstAutoStart);
    bool WriteText(const CStringEx& path, const std::wstring& text);
    bool JoinTestDomain();

    CCartSimProcess m_cart;
    CScenarioFolder m_folder;
    CAgentProcess m_agent;
    std::unique_ptr<CAgentLog> m_log;
    std::unique_ptr<CMessageBoxAnswerer> m_boxes;
    CStringEx m_signOnConfig;
    CStringEx m_journal;
    std::wstring m_error;
    bool m_started = false;
};
