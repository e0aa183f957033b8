#include "tests/random/CRandomWorld.h"
#include "agent/KelvoAgentMessages.h"
#include "sim/driver/ScenarioWait.h"
#include <wtsapi32.h>

namespace
{
constexpr DWORD kStepMs = 10000;
constexpr DWORD kBoxPressMs = 1000;
// The agent polls every 500 ms; a poll this recent shows it is polling.
constexpr ULONGLONG kPollingMs = 900;
// Longer than the 500 ms between a failed start and its retry: a start retried after the
// world was made normal shows within it, and does not take the check's press.
constexpr ULONGLONG kSettledMs = 700;
// The agent ends a prompt the product never answers 5 s after its time-out; then it polls.
constexpr DWORD kRunEndMarginMs = 8000;
// How long after its notice the agent has surely read its configuration.
constexpr ULONGLONG kConfigReadMs = 300;
const wchar_t kOtherComputer[] = L"OTHER-WS";
// How long the prompt of a sign-in aimed at its prompt stays open before it reports.
constexpr DWORD kPromptOpenMs = 1500;

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}
}

CRandomWorld::CRandomWorld() = default;

CRandomWorld::~CRandomWorld()
{
    Stop();
}

RandomEvent CRandomWorld::Standard(RandomEventKind kind)
{
    RandomEvent event;
    event.kind = kind;
    event.signOn = SignOnKind::InGroup;
    event.delayMs = 50;
    event.methods = L"1";
    event.groups = L"Cart Users";
    event.preAuthorized = false;
    event.retry = false;
    return event;
}

AgentRoadOptions CRandomWorld::Options() const
{
    AgentRoadOptions options;
    options.logLevel = 4;
    options.groups = m_state.groups;
    options.preAuthorized = m_state.preAuthorized;
    options.retry = m_state.retry;
    options.promptTimeout = kPromptTimeoutSeconds;
    return options;
}

bool CRandomWorld::Start(std::string& why)
{
    m_state.principal = L"nurse@" + Computer();
    AgentRoadOptions options = Options();
    options.signOn = {L"CallbackDelayMs=50"};
    if (!m_road.Start(options))
    {
        why = ScenarioUtf8(m_road.GetErrorText().c_str());
        return false;
    }
    m_state.agentProcessId = m_road.Agent().GetProcessId();
    m_journal = std::make_unique<CFileTail>(m_road.GetJournalPath(), true);
    m_cartSeen = m_road.Cart().Mark();
    m_timeline.Start(m_road.Cart(), m_road.GetJournalPath());
    // The world the model starts from.
    Perform(Standard(RandomEventKind::SignOn));
    Perform(Standard(RandomEventKind::Reload));
    return true;
}

void CRandomWorld::Stop()
{
    m_timeline.Stop();
    m_road.Stop();
}

void CRandomWorld::ConfigureSignOn(const RandomEvent& event)
{
    const std::wstring here = L"@" + Computer();
    RandomWorldState& s = m_state;
    s.principal = L"nurse" + here;
    s.callback = true;
    s.callbackResult = 0;
    s.startResult = 0;
    s.reportAfterClose = false;
    switch (event.signOn)
    {
    case SignOnKind::InGroup: break;
    case SignOnKind::NotInGroup: s.principal = L"visitor" + here; break;
    case SignOnKind::Administrator: s.principal = L"kiosk" + here; break;
    case SignOnKind::Stranger: s.principal = L"stranger@ELSEWHERE"; break;
    case SignOnKind::NoDomain: s.principal = L"nurse"; break;
    case SignOnKind::EmptyPrincipal: s.principal.clear(); break;
    case SignOnKind::Cancel: s.callbackResult = 1; break;
    case SignOnKind::Error: s.callbackResult = static_cast<long>(E_FAIL); break;
    case SignOnKind::StartFails: s.startResult = static_cast<long>(E_FAIL); break;
    case SignOnKind::ReportAfterClose: s.reportAfterClose = true; break;
    case SignOnKind::NoReport: s.callback = false; break;
    }
    s.methods = event.methods;
    s.delayMs = event.delayMs;
    m_road.ConfigureSignOn({L"Principal=" + s.principal, L"Methods=" + s.methods,
                            L"CallbackDelayMs=" + std::to_wstring(s.delayMs),
                            L"Callback=" + std::to_wstring(s.callback ? 1 : 0),
                            L"CallbackResult=" + std::to_wstring(s.callbackResult),
                            L"StartResult=" + std::to_wstring(s.startResult),
                            L"ReportAfterClose=" + std::to_wstring(s.reportAfterClose ? 1 : 0)});
}

bool CRandomWorld::ReadsConfiguration(RandomEventKind kind)
{
    return kind == RandomEventKind::Unlock || kind == RandomEventKind::RemoteConnect ||
           kind == RandomEventKind::Reload || kind == RandomEventKind::Restart;
}

bool CRandomWorld::Reload(const RandomEvent& event)
{
    // An administrator saves; the file is replaced, not rewritten, but for a moment it has no
    // name. The agent reads it right after an unlock or the previous save's notice, and a read
    // at that moment finds no file: a save is made only once that read is done, as a person's
    // saves are.
    const ULONGLONG since = GetTickCount64() - m_configRead;
    if (since < kConfigReadMs)
        Sleep(static_cast<DWORD>(kConfigReadMs - since));
    const RandomWorldState before = m_state;
    m_state.groups = event.groups;
    m_state.preAuthorized = event.preAuthorized;
    m_state.retry = event.retry;
    if (m_road.WriteConfig(Options()) && m_road.Agent().Post(WM_AGENT_RELOAD_SETTINGS))
        return true;
    // A save the file refused (the agent held it open) changed nothing.
    m_state = before;
    return false;
}

void CRandomWorld::Perform(const RandomEvent& event)
{
    using Session = RandomWorldState::Session;
    // What the product and the cart did so far happened in the world as it was.
    Observe();
    CAgentProcess& agent = m_road.Agent();
    CCartSimProcess& cart = m_road.Cart();
    if (event.kind == RandomEventKind::Aimed)
    {
        PerformAimed(event);
        return;
    }
    const ULONGLONG ms = m_timeline.Now();
    CAgentProcess::State shown;
    m_state.agentConnected = agent.ReadState(shown) && shown.connected == 1;
    bool took = true;
    RandomEvent done = event;
    switch (event.kind)
    {
    case RandomEventKind::Press:
        cart.Press();
        Sleep(static_cast<DWORD>(event.value));
        cart.Release();
        break;
    case RandomEventKind::Wait: Sleep(static_cast<DWORD>(event.value)); break;
    case RandomEventKind::Lock:
        agent.PostSessionChange(WTS_SESSION_LOCK);
        if (m_state.session == Session::Active)
            m_state.session = Session::Locked;
        break;
    case RandomEventKind::Unlock:
        agent.PostSessionChange(WTS_SESSION_UNLOCK);
        m_state.session = Session::Active;
        break;
    case RandomEventKind::ConsoleDisconnect:
        agent.PostSessionChange(WTS_CONSOLE_DISCONNECT);
        m_state.session = Session::ConsoleAway;
        break;
    case RandomEventKind::ConsoleConnect:
        agent.PostSessionChange(WTS_CONSOLE_CONNECT);
        m_state.session = Session::Locked;
        break;
    case RandomEventKind::RemoteDisconnect:
        agent.PostSessionChange(WTS_REMOTE_DISCONNECT);
        m_state.session = Session::RemoteAway;
        break;
    case RandomEventKind::RemoteConnect:
        agent.PostSessionChange(WTS_REMOTE_CONNECT);
        m_state.session = Session::Active;
        break;
    case RandomEventKind::CartRemoved:
        took = m_state.cartPresent && cart.Remove();
        if (took)
            agent.SendDeviceRemoval(cart.GetDevicePath());
        m_state.cartPresent = m_state.cartPresent && !took;
        break;
    case RandomEventKind::CartArrived:
        if (!m_state.cartPresent)
            m_state.cartPresent = cart.Restore();
        agent.SendDeviceArrival(cart.GetDevicePath());
        break;
    case RandomEventKind::CartLate:
        took = cart.Command(("fault late " + std::to_string(event.value) + (event.drawerAccessOnly ? " for 69" : ""))
                                .c_str()) == L"ok";
        m_state.cartDelayMs = event.value;
        break;
    case RandomEventKind::CartSilent:
        took = cart.Command("fault ignore-read") == L"ok";
        m_state.cartDelayMs = -1;
        break;
    case RandomEventKind::CartNormal:
        took = cart.Command("fault none") == L"ok";
        m_state.cartDelayMs = 0;
        break;
    case RandomEventKind::CartRefuses:
        took = cart.Command("refuse") == L"ok";
        m_state.cartRefuses = true;
        break;
    case RandomEventKind::CartGrants:
        took = cart.Command("grant") == L"ok";
        m_state.cartRefuses = false;
        break;
    case RandomEventKind::CartBoundElsewhere:
        took = cart.Bind(Narrow(kOtherComputer).c_str());
        m_state.cartBoundElsewhere = true;
        break;
    case RandomEventKind::CartBoundHere:
        took = cart.Bind(Narrow(Computer()).c_str());
        m_state.cartBoundElsewhere = false;
        break;
    case RandomEventKind::SignOn: ConfigureSignOn(event); break;
    case RandomEventKind::Answer:
    {
        const HWND box = m_road.Boxes().WaitForBox(0);
        took = box != nullptr && GetDlgItem(box, event.value) != nullptr && m_road.Boxes().Press(event.value, kBoxPressMs);
        break;
    }
    case RandomEventKind::Reload: took = Reload(event); break;
    case RandomEventKind::Restart:
        // The new agent believes its session active, as an agent started in it is.
        took = m_road.RestartAgent(event.skipFirstAutoStart, m_state.cartPresent ? 1 : 0);
        m_state.agentProcessId = m_road.Agent().GetProcessId();
        m_state.session = Session::Active;
        m_state.citrix = false;
        break;
    case RandomEventKind::CitrixStarted:
    case RandomEventKind::CitrixEnded:
        m_state.citrix = event.kind == RandomEventKind::CitrixStarted;
        took = agent.Post(WM_AGENT_REMOTE_SESSION, m_state.citrix ? 1 : 0);
        break;
    case RandomEventKind::EndingCancelled:
        took = agent.Post(WM_QUERYENDSESSION);
        Sleep(static_cast<DWORD>(event.value));
        agent.Post(WM_ENDSESSION, FALSE);
        break;
    case RandomEventKind::MenuStart:
    case RandomEventKind::MenuReconnect:
        took = agent.Post(WM_COMMAND, event.kind == RandomEventKind::MenuStart ? 11 : 17);
        break;
    case RandomEventKind::Aimed: break;
    }
    if (ReadsConfiguration(event.kind))
        m_configRead = GetTickCount64();
    // A save counts from when the agent is told of it: it may first wait for the agent's
    // previous read, and the agent decides under the configuration it has until then.
    m_timeline.AddTester(done, m_state, took, event.kind == RandomEventKind::Reload ? m_timeline.Now() : ms);
}

void CRandomWorld::Observe()
{
    for (const std::string& line : m_journal->ReadNewLines())
    {
        if (line.rfind("Auth 8", 0) == 0)
        {
            m_promptOpen = true;
            ++m_prompts;
        }
        // A start the product refused opened no prompt.
        else if (line == "Auth 9" || line == "Auth 11" || line.rfind("Start failed", 0) == 0)
            m_promptOpen = false;
    }
    for (const CStringEx& line : m_road.Cart().GetLinesFrom(m_cartSeen))
    {
        ++m_cartSeen;
        // A whole poll the cart answered at once: the button is asked only after the access
        // and status answers, and a fault the cart played is noted after the line.
        if (line.Find(L"drawer button ") == 0 && line.Find(L"(") < 0)
            m_lastPoll = GetTickCount64();
    }
}

bool CRandomWorld::IsIdle(ULONGLONG since)
{
    Observe();
    CAgentProcess::State state;
    return !m_promptOpen && m_lastPoll > since && GetTickCount64() - m_lastPoll < kPollingMs &&
           m_road.Boxes().WaitForBox(0) == nullptr && m_road.Agent().ReadState(state) && state.connected == 1;
}

bool CRandomWorld::WaitForIdle(DWORD boundMs)
{
    // Idle for a while after a poll the cart answered: a sign-in that a poll starts (100 ms
    // after it) shows within that while.
    // Only polls seen from now on count: what was read before may be long past.
    Observe();
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG bound = start + boundMs;
    ULONGLONG idleSince = 0;
    while (GetTickCount64() < bound)
    {
        if (!IsIdle(start))
            idleSince = 0;
        else if (idleSince == 0)
            idleSince = GetTickCount64();
        else if (GetTickCount64() - idleSince >= kSettledMs)
            return true;
        if (!AnswerAnyBox())
            Sleep(20);
    }
    return false;
}

bool CRandomWorld::AnswerAnyBox()
{
    const HWND box = m_road.Boxes().WaitForBox(0);
    if (box == nullptr)
        return false;
    RandomEvent answer = Standard(RandomEventKind::Answer);
    answer.value = GetDlgItem(box, IDNO) ? IDNO : GetDlgItem(box, IDOK) ? IDOK : IDCANCEL;
    Perform(answer);
    return true;
}

bool CRandomWorld::Normalise(std::string& why)
{
    using Session = RandomWorldState::Session;
    if (!m_road.Agent().IsRunning())
    {
        why = "the agent ended by itself";
        return false;
    }
    // The cart this session's again, back and answering, bound here.
    if (m_state.citrix)
        Perform(Standard(RandomEventKind::CitrixEnded));
    if (m_state.cartDelayMs != 0)
        Perform(Standard(RandomEventKind::CartNormal));
    if (m_state.cartRefuses)
        Perform(Standard(RandomEventKind::CartGrants));
    if (m_state.cartBoundElsewhere)
        Perform(Standard(RandomEventKind::CartBoundHere));
    if (!m_state.cartPresent)
        Perform(Standard(RandomEventKind::CartArrived));
    // A user of the group at the product and the standard configuration, before the session
    // comes back: an unlock reads the configuration again.
    Perform(Standard(RandomEventKind::SignOn));
    for (int attempt = 0; attempt < 3 && (m_state.groups != L"Cart Users" || m_state.preAuthorized || m_state.retry);
         ++attempt)
        Perform(Standard(RandomEventKind::Reload));
    // The session back, as Windows brings it back.
    switch (m_state.session)
    {
    case Session::Active: break;
    case Session::ConsoleAway:
        Perform(Standard(RandomEventKind::ConsoleConnect));
        Perform(Standard(RandomEventKind::Unlock));
        break;
    case Session::RemoteAway: Perform(Standard(RandomEventKind::RemoteConnect)); break;
    case Session::Locked: Perform(Standard(RandomEventKind::Unlock)); break;
    }

    // Every run ends by itself within the prompt time-out; boxes are answered as they come.
    if (WaitForIdle(kPromptTimeoutSeconds * 1000 + kRunEndMarginMs))
        return true;
    Observe();
    why = m_promptOpen ? "a prompt stayed open" : "the agent did not come back to polling";
    if (m_road.Boxes().WaitForBox(0))
        why += " (a box stayed open: " + ScenarioUtf8(m_road.Boxes().GetText()) + ")";
    return false;
}

bool CRandomWorld::CheckPress(std::string& why)
{
    CCartSimProcess& cart = m_road.Cart();
    const size_t mark = cart.Mark();
    Observe();
    const size_t prompts = m_prompts;
    RandomEvent press = Standard(RandomEventKind::Press);
    m_timeline.AddTester(press, m_state, true, m_timeline.Now());
    cart.Press();
    const bool read = cart.WaitForExchange(L"drawer button pressed", mark, 3000);
    const ULONGLONG polled = GetTickCount64();
    cart.Release();
    if (!read)
    {
        why = "no poll read the button within 3 s";
        return false;
    }
    const ULONGLONG waited = std::min<ULONGLONG>(1000, GetTickCount64() - polled);
    if (!ScenarioWaitFor([&] { Observe(); return m_prompts > prompts; }, static_cast<DWORD>(1000 - waited)))
    {
        why = "the poll read the button but no prompt started within 1 s";
        return false;
    }
    const std::wstring granted = L"drawer access granted to nurse on " + Computer();
    if (!cart.WaitForExchange(granted.c_str(), mark, kStepMs))
    {
        why = "the prompt of the press did not end in a grant";
        return false;
    }
    return true;
}

bool CRandomWorld::Recover(std::string& why)
{
    while (AnswerAnyBox())
        ;
    RandomEvent restart = Standard(RandomEventKind::Restart);
    Perform(restart);
    if (!m_road.Agent().IsRunning())
    {
        why = ScenarioUtf8(m_road.GetErrorText().c_str());
        return false;
    }
    if (WaitForIdle(kStepMs))
        return true;
    why = "the new agent does not poll";
    return false;
}

void CRandomWorld::PerformAimed(const RandomEvent& event)
{
    CCartSimProcess& cart = m_road.Cart();
    if (event.stage == AimStage::AccessInFlight || event.thenPress)
    {
        RandomEvent late = Standard(RandomEventKind::CartLate);
        late.value = 2500;
        late.drawerAccessOnly = true;
        Perform(late);
        Perform(Standard(RandomEventKind::SignOn));
    }
    else if (event.stage == AimStage::PromptOpen)
    {
        // A prompt that stays open until the event comes.
        RandomEvent slow = Standard(RandomEventKind::SignOn);
        slow.delayMs = static_cast<int>(kPromptOpenMs);
        Perform(slow);
    }
    else if (event.stage == AimStage::RebindBox)
    {
        RandomEvent kiosk = Standard(RandomEventKind::SignOn);
        kiosk.signOn = SignOnKind::Administrator;
        Perform(Standard(RandomEventKind::CartGrants));
        // Bound by another computer while it was away: the agent learns it when the cart
        // arrives and its worker starts.
        Perform(Standard(RandomEventKind::CartBoundElsewhere));
        Perform(Standard(RandomEventKind::CartArrived));
        Perform(kiosk);
    }
    const size_t mark = cart.Mark();
    // Held past a poll, so that the agent reads it.
    RandomEvent press = Standard(RandomEventKind::Press);
    press.value = 550 + event.value;
    Perform(press);
    bool reached = false;
    switch (event.stage)
    {
    case AimStage::PromptOpen: reached = cart.WaitForExchange(L"sign-in prompt open", mark, 2000); break;
    case AimStage::Reported: reached = cart.WaitForExchange(L"sign-in result arrived", mark, 3000); break;
    case AimStage::AccessInFlight:
        reached = cart.WaitForExchange(L"sign-in result arrived", mark, 3000);
        if (reached)
            Sleep(150);
        break;
    case AimStage::RebindBox: reached = m_road.Boxes().WaitForBox(4000) != nullptr; break;
    }
    AimCount& count = m_aims[event.stage];
    ++count.played;
    count.reached += reached ? 1 : 0;
    RandomEvent then = event;
    then.kind = event.then;
    then.gapMs = 0;
    Perform(then);
    // An event that ends the run closes its open prompt at once: nothing else happens until
    // it has, or until the product would have reported, so that no later event closes it
    // in its place.
    if (event.stage == AimStage::PromptOpen && event.then != RandomEventKind::Press)
        ScenarioWaitFor([&] { Observe(); return !m_promptOpen; }, kPromptOpenMs + 500);
    if (event.thenPress)
    {
        // A new sign-in at once, while the worker still waits for the late answer.
        Perform(Standard(RandomEventKind::Unlock));
        Perform(Standard(RandomEventKind::MenuStart));
    }
}

std::string CRandomWorld::TakeAgentLog()
{
    std::string text = m_road.Log().NewText();
    m_road.Log().Mark();
    return text;
}

KelvoProcessFigures CRandomWorld::Measure() const
{
    KelvoProcessFigures figures;
    CKernelHandleEx agent(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, m_state.agentProcessId));
    if (agent)
        figures = CProcessFigures::ReadSettled(agent.Get());
    return figures;
}
