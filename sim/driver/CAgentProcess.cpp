#include "sim/driver/CAgentProcess.h"
#include "sim/driver/ScenarioWait.h"
#include <dbt.h>
#include <wtsapi32.h>

namespace
{
// The HID interface class, {4D1E55B2-F16F-11CF-88CB-001111000030}.
const GUID kHidInterfaceClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct WindowSearch
{
    DWORD processId;
    const CStringEx* title;
    HWND found;
};

BOOL CALLBACK FindAgentWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId)
        return TRUE;
    wchar_t className[64] = {}, title[256] = {};
    GetClassNameW(window, className, ARRAYSIZE(className));
    GetWindowTextW(window, title, ARRAYSIZE(title));
    // Message boxes carry the same class and title; only the agent's window has the status texts.
    if (wcscmp(className, L"#32770") == 0 && *search->title == title &&
        GetDlgItem(window, CAgentProcess::kConnectedControl) != nullptr)
    {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

int ReadNumber(HWND window, int control)
{
    wchar_t text[32] = {};
    // WM_GETTEXT is carried across processes; a window that does not answer reads as -1.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(GetDlgItem(window, control), WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 2000, &length) ||
        length == 0)
        return -1;
    wchar_t* end = nullptr;
    const long value = wcstol(text, &end, 10);
    return *end == L'\0' ? static_cast<int>(value) : -1;
}
}

CAgentProcess::~CAgentProcess()
{
    if (m_process.IsRunning())
        m_process.Terminate(1);
}

std::vector<std::pair<CStringEx, CStringEx>> CAgentProcess::Environment(const CScenarioFolder& folder) const
{
    // The stand-ins are chosen by the folder's library override (CScenarioFolder::Create).
    std::vector<std::pair<CStringEx, CStringEx>> environment = {{L"KELVO_HID_SIM_TRACE", folder.GetHidTracePath()}};
    environment.insert(environment.end(), m_environment.begin(), m_environment.end());
    return environment;
}

DWORD CAgentProcess::Start(const CScenarioFolder& folder, LPCWSTR arguments)
{
    m_folder = &folder;
    m_window = nullptr;
    if (m_title.IsEmpty() && !folder.GetResources().LoadText(kTitleStringId, m_title))
    {
        m_error.Format(L"%s has no window title (string %u).", folder.GetResources().GetPath().GetString(),
                       kTitleStringId);
        return ERROR_RESOURCE_NAME_NOT_FOUND;
    }
    CScenarioProcess::Options options;
    options.program = folder.GetProgramPath();
    options.arguments = arguments ? arguments : L"";
    options.environment = Environment(folder);
    if (const DWORD error = m_process.Start(options))
    {
        m_error.Format(L"%s could not be started (error %lu).", options.program.GetString(), error);
        return error;
    }
    return 0;
}

HWND CAgentProcess::WaitForWindow(DWORD boundMs)
{
    WindowSearch search{m_process.GetProcessId(), &m_title, nullptr};
    ScenarioWaitFor(
        [&] {
            EnumWindows(FindAgentWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr || !m_process.IsRunning();
        },
        boundMs);
    m_window = search.found;
    DWORD exitCode = 0;
    if (m_window == nullptr && m_process.WaitForExit(0, &exitCode))
        m_error.Format(L"The program ended with exit code %lu before its window '%s' appeared.", exitCode,
                       m_title.GetString());
    else if (m_window == nullptr)
        m_error.Format(L"No window '%s' of class #32770 appeared within %lu ms.", m_title.GetString(), boundMs);
    return m_window;
}

bool CAgentProcess::ReadState(State& state) const
{
    state = State();
    if (m_window == nullptr || !IsWindow(m_window))
        return false;
    state.connected = ReadNumber(m_window, kConnectedControl);
    state.cartReady = ReadNumber(m_window, kCartReadyControl);
    state.cartFault = ReadNumber(m_window, kCartFaultControl);
    return true;
}

bool CAgentProcess::WaitForState(const std::function<bool(const State&)>& predicate, DWORD boundMs, State* last) const
{
    State state;
    const bool reached = ScenarioWaitFor([&] { return ReadState(state) && predicate(state); }, boundMs);
    if (last)
        *last = state;
    return reached;
}

bool CAgentProcess::WaitForConnected(int connected, DWORD boundMs, State* last) const
{
    return WaitForState([connected](const State& state) { return state.connected == connected; }, boundMs, last);
}

bool CAgentProcess::PostSessionChange(WPARAM event) const
{
    DWORD session = 0;
    ProcessIdToSessionId(m_process.GetProcessId(), &session);
    return Post(WM_WTSSESSION_CHANGE, event, static_cast<LPARAM>(session));
}

bool CAgentProcess::SendDeviceArrival(LPCWSTR path, DWORD boundMs, LRESULT* result) const
{
    return SendDeviceChange(DBT_DEVICEARRIVAL, path, boundMs, result);
}

bool CAgentProcess::SendDeviceRemoval(LPCWSTR path, DWORD boundMs, LRESULT* result) const
{
    return SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, path, boundMs, result);
}

bool CAgentProcess::SendDeviceChange(UINT_PTR event, LPCWSTR path, DWORD boundMs, LRESULT* result) const
{
    if (m_window == nullptr)
        return false;
    std::vector<BYTE> raw(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + wcslen(path) * sizeof(WCHAR));
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(raw.data());
    broadcast->dbcc_size = static_cast<DWORD>(raw.size());
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast->dbcc_classguid = kHidInterfaceClass;
    wcscpy(broadcast->dbcc_name, path);
    DWORD_PTR answer = 0;
    const bool sent = SendMessageTimeoutW(m_window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast),
                                          SMTO_ABORTIFHUNG, boundMs, &answer) != 0;
    if (result)
        *result = static_cast<LRESULT>(answer);
    return sent;
}

bool CAgentProcess::Post(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return m_window != nullptr && PostMessageW(m_window, message, wParam, lParam);
}

DWORD CAgentProcess::StopWithSwitch(DWORD boundMs)
{
    CStringEx stopSwitch;
    if (m_folder == nullptr || !m_folder->GetResources().LoadText(kStopSwitchStringId, stopSwitch))
    {
        m_error.Format(L"The scenario's KVResource has no stop switch (string %u).", kStopSwitchStringId);
        return ERROR_RESOURCE_NAME_NOT_FOUND;
    }
    CScenarioProcess stopper;
    CScenarioProcess::Options options;
    options.program = m_folder->GetProgramPath();
    options.arguments.Format(L"/%s", stopSwitch.GetString());
    options.environment = Environment(*m_folder);
    if (const DWORD error = stopper.Start(options))
    {
        m_error.Format(L"The stop form could not be started (error %lu).", error);
        return error;
    }
    if (!stopper.WaitForExit(boundMs))
    {
        m_error.Format(L"The stop form did not end within %lu ms.", boundMs);
        return ERROR_TIMEOUT;
    }
    if (!m_process.WaitForExit(boundMs))
    {
        m_error.Format(L"The agent did not end within %lu ms of the stop form; it was terminated.", boundMs);
        m_process.Terminate(1);
        return ERROR_TIMEOUT;
    }
    return 0;
}

bool CAgentProcess::Close(DWORD boundMs)
{
    if (Post(kCloseMessage) && m_process.WaitForExit(boundMs))
        return true;
    m_error.Format(L"The agent did not end within %lu ms of the close message; it was terminated.", boundMs);
    m_process.Terminate(1);
    return false;
}
