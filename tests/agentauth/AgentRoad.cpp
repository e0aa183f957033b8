#include "tests/agentauth/AgentRoad.h"
#include "common/CResourceLoader.h"
#include "resources/KVResourceIds.h"
#include <cstdarg>
#include <fstream>
#include <sstream>

const wchar_t CAgentRoad::kDirectory[] = LR"(# The agent road's directory: local accounts of this computer.
[computer]
name = .
[local user kiosk]
display = Cart kiosk account
[local user nurse]
display = Ward nurse
[local user visitor]
display = Visitor
[local group Administrators]
member = kiosk
[local group Cart Users]
member = nurse
)";

namespace
{
constexpr DWORD kStartBoundMs = 20000;
constexpr DWORD kStopBoundMs = 10000;

CStringEx BoolText(bool value)
{
    return value ? L"1" : L"0";
}

CStringEx NumberText(int value)
{
    CStringEx text;
    text.Format(L"%d", value);
    return text;
}

bool RegisterStandInsOnce(std::wstring& error)
{
    static DWORD result = ScenarioRegisterStandIns();
    if (result != 0)
        error = L"The stand-ins could not be registered (" + std::to_wstring(result) + L").";
    return result == 0;
}
}

CAgentRoad::~CAgentRoad()
{
    Stop();
}

std::wstring CAgentRoad::ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = ARRAYSIZE(name);
    GetComputerNameW(name, &size);
    return name;
}

std::string CAgentRoad::Text(UINT stringId, ...)
{
    va_list args;
    va_start(args, stringId);
    CStringEx text;
    CResourceLoader::Instance().Load();
    CResourceLoader::Instance().FormatStringV(text, stringId, args);
    va_end(args);
    text.TrimRight();
    return ScenarioUtf8(text);
}

bool CAgentRoad::Fail(const std::wstring& text)
{
    m_error = text;
    return false;
}

bool CAgentRoad::WriteText(const CStringEx& path, const std::wstring& text)
{
    std::ofstream file(ScenarioUtf8(path), std::ios::binary | std::ios::trunc);
    file << ScenarioUtf8(text.c_str());
    return file.good();
}

void CAgentRoad::ConfigureSignOn(const std::vector<std::wstring>& lines)
{
    std::wstring text = L"[SignOn]\r\nJournal=" + std::wstring(m_journal) + L"\r\n";
    for (const std::wstring& line : lines)
        text += line + L"\r\n";
    WriteText(m_signOnConfig, text);
}

bool CAgentRoad::Start(const AgentRoadOptions& options)
{
    if (!RegisterStandInsOnce(m_error))
        return false;
    if (const DWORD error = m_cart.Start(options.cartArguments.empty() ? nullptr : options.cartArguments.c_str()))
        return Fail(L"The cart simulator did not start: " + std::wstring(m_cart.GetErrorText()) + L" (" +
                    std::to_wstring(error) + L")");
    if (m_folder.Create() != 0)
        return Fail(L"The scenario folder could not be made: " + std::wstring(m_folder.GetErrorText()));

    // The stand-ins read their settings from files of this folder alone.
    m_signOnConfig = m_folder.PathOf(L"KelvoSignOnSim.ini");
    m_journal = m_folder.PathOf(L"KelvoSignOnSim.journal");
    const CStringEx directory = m_folder.PathOf(L"directory.ini");
    if (options.testDomain ? !JoinTestDomain() : !WriteText(directory, kDirectory))
        return Fail(L"The directory could not be set up: " + m_error);
    const std::wstring principal = !options.principal.empty() ? options.principal
                                   : options.user + L"@" + (options.testDomain ? L"hq.example.com" : ComputerName());
    std::vector<std::wstring> signOn = {L"Principal=" + principal, L"Methods=" + options.methods};
    signOn.insert(signOn.end(), options.signOn.begin(), options.signOn.end());
    ConfigureSignOn(signOn);

    // The agent's configuration: this cart, full logging, and the road's settings.
    m_folder.SetHidDevices({{m_cart.GetDevicePath(), m_cart.GetVendorId(), m_cart.GetProductId()}});
    if (!WriteConfig(options))
        return false;

    // The agent, with the stand-ins' files named in its environment.
    m_log = std::make_unique<CAgentLog>(m_folder);
    m_agent.AddEnvironment(L"KELVO_SIGNON_SIM_CONFIG", m_signOnConfig);
    m_agent.AddEnvironment(L"KELVO_ADSI_DATA", directory);
    if (!options.cartPresentAtStart && !m_cart.Remove())
        return Fail(L"The cart could not be taken away before the agent's start.");
    const size_t mark = m_cart.Mark();
    if (!StartAgent(options.skipFirstAutoStart))
        return false;
    if (!options.cartPresentAtStart)
        return m_agent.WaitForConnected(0, kStartBoundMs) || Fail(L"The agent did not show the cart missing.");
    if (!m_agent.WaitForConnected(1, kStartBoundMs))
        return Fail(L"The agent did not connect the cart.");
    if (!m_cart.WaitForExchange(L"access state", mark, kStartBoundMs))
        return Fail(L"The agent does not poll the cart.");
    return true;
}

bool CAgentRoad::JoinTestDomain()
{
    // The session's test domain, named by ctest for the roads that need it.
    wchar_t server[256] = {}, password[256] = {};
    GetEnvironmentVariableW(L"KELVO_TEST_DC", server, ARRAYSIZE(server));
    GetEnvironmentVariableW(L"KELVO_TEST_DC_PASSWORD", password, ARRAYSIZE(password));
    if (server[0] == L'\0')
        return Fail(L"KELVO_TEST_DC names no test domain (scripts/test-domain.sh).");
    if (m_folder.CopyIn(ScenarioPath(ScenarioProgramFolder(), L"StandardDirectory.ini"), L"directory.ini") != 0 ||
        m_folder.CopyIn(ScenarioPath(ScenarioProgramFolder(), L"standins\\netapi32.dll"), L"netapi32.dll") != 0)
        return Fail(std::wstring(m_folder.GetErrorText()));
    // Wine answers the computer's DNS domain from the registry: a member's is its domain's.
    static const wchar_t kDomain[] = L"hq.example.com";
    const LSTATUS status = RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                                           L"Domain", REG_SZ, kDomain, sizeof(kDomain));
    if (status != ERROR_SUCCESS)
        return Fail(L"The computer's DNS domain could not be set (" + std::to_wstring(status) + L").");
    m_agent.AddEnvironment(L"KELVO_JOIN_DOMAIN", L"HQ");
    m_agent.AddEnvironment(L"KELVO_LDAP_SERVER", server);
    m_agent.AddEnvironment(L"KELVO_LDAP_USER", L"Administrator@HQ.EXAMPLE.COM");
    m_agent.AddEnvironment(L"KELVO_LDAP_PASSWORD", password);
    return true;
}

bool CAgentRoad::WriteConfig(const AgentRoadOptions& options)
{
    std::vector<CScenarioFolder::Setting> settings = {
        {IDS_CFG_CART_HARDWARE_IDS, {m_folder.HardwareId(m_cart.GetVendorId(), m_cart.GetProductId())}},
        {IDS_CFG_LOG_LEVEL, {NumberText(options.logLevel)}},
        {IDS_CFG_GRANT_WITHOUT_CHECK, {BoolText(options.preAuthorized)}},
        {IDS_CFG_RETRY_AUTH_START, {BoolText(options.retry)}},
        {IDS_CFG_PROMPT_TIMEOUT, {NumberText(options.promptTimeout)}},
        {IDS_CFG_END_ACCESS_ON_LOCK, {BoolText(options.endAccess)}},
    };
    if (!options.groups.empty())
        settings.push_back({IDS_CFG_AUTH_GROUPS, {CStringEx(options.groups.c_str())}});
    if (m_folder.WriteConfig(settings) != 0)
        return Fail(L"The agent's configuration could not be written: " + std::wstring(m_folder.GetErrorText()));
    return true;
}

bool CAgentRoad::StartAgent(bool skipFirstAutoStart)
{
    CStringEx arguments;
    if (skipFirstAutoStart)
    {
        CStringEx skip;
        if (!m_folder.GetResources().LoadText(IDS_AGENT_SWITCH_NO_AUTO_AUTH, skip))
            return Fail(L"The agent's switch text is missing.");
        arguments = L"/";
        arguments += skip;
    }
    if (const DWORD error = m_agent.Start(m_folder, arguments.IsEmpty() ? nullptr : arguments.GetString()))
        return Fail(L"The agent did not start: " + std::wstring(m_agent.GetErrorText()) + L" (" +
                    std::to_wstring(error) + L")");
    m_started = true;
    if (!m_agent.WaitForWindow(kStartBoundMs))
        return Fail(L"The agent's window did not appear.");
    m_boxes = std::make_unique<CMessageBoxAnswerer>(m_agent.GetProcessId(), m_agent.GetWindowTitle());
    return true;
}

bool CAgentRoad::RestartAgent(bool skipFirstAutoStart, int connected)
{
    if (m_agent.IsRunning() && m_agent.StopWithSwitch(kStopBoundMs) != 0)
    {
        m_agent.Terminate();
        return Fail(L"The agent did not end with the stop switch: " + std::wstring(m_agent.GetErrorText()));
    }
    return StartAgent(skipFirstAutoStart) &&
           (m_agent.WaitForConnected(connected, kStartBoundMs) || Fail(L"The new agent did not show the cart's state."));
}

bool CAgentRoad::Stop()
{
    bool stopped = true;
    if (m_started)
    {
        m_started = false;
        if (m_agent.IsRunning() && m_agent.StopWithSwitch(kStopBoundMs) != 0)
        {
            m_agent.Terminate();
            stopped = false;
        }
    }
    if (m_cart.GetProcess().IsRunning() && !m_cart.Quit())
        stopped = false;
    return stopped;
}

bool CAgentRoad::Press()
{
    const size_t mark = m_cart.Mark();
    if (!m_cart.Press())
        return false;
    const bool seen = m_cart.WaitForExchange(L"drawer button pressed", mark, 3000);
    return m_cart.Release() && seen;
}

bool CAgentRoad::WaitForCartSearch(DWORD boundMs) const
{
    return ScenarioWaitFor([&] { return m_folder.ReadHidTrace().find("CM_Get_Device_Interface_ListW") != std::string::npos; },
                           boundMs);
}

std::vector<std::string> CAgentRoad::Journal() const
{
    std::vector<std::string> lines;
    std::ifstream file(ScenarioUtf8(m_journal), std::ios::binary);
    std::string line;
    while (std::getline(file, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

size_t CAgentRoad::CountJournal(const char* prefix) const
{
    size_t count = 0;
    for (const std::string& line : Journal())
    {
        if (line.rfind(prefix, 0) == 0)
            ++count;
    }
    return count;
}

bool CAgentRoad::WaitForJournal(const char* prefix, size_t count, DWORD boundMs) const
{
    return ScenarioWaitFor([&] { return CountJournal(prefix) >= count; }, boundMs);
}

bool CAgentRoad::WaitForCartQuiet(LPCWSTR text, DWORD quietMs, DWORD boundMs) const
{
    const ULONGLONG end = GetTickCount64() + boundMs;
    size_t last = CountCart(text);
    ULONGLONG since = GetTickCount64();
    while (GetTickCount64() < end)
    {
        Sleep(50);
        const size_t now = CountCart(text);
        if (now != last)
        {
            last = now;
            since = GetTickCount64();
        }
        else if (GetTickCount64() - since >= quietMs)
            return true;
    }
    return false;
}
