#include "agent/CCartAgentDlg.h"
#include "cartlink/CEndpointSessionFactory.h"
#include "common/CConfigValue.h"
#include "common/CErrorEx.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "common/ui/CMessageBoxEx.h"
#include "common/ui/CUtilAppEx.h"
#include "resources/KVResourceIds.h"
#include <wtsapi32.h>

namespace
{
constexpr DWORD kMessageTimeoutMs = 5000;
// A taskbar pixel counts as dark when each colour is below this.
constexpr BYTE kDarkLimit = 128;

CUtilLogging& Log()
{
    return CUtilLogging::Instance();
}

CResourceLoader& Resources()
{
    return CResourceLoader::Instance();
}

// An icon of the satellite library at the given size; null when it is missing.
HICON LoadResourceIcon(UINT id, int width, int height)
{
    return static_cast<HICON>(LoadImageW(Resources().GetModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, width, height, 0));
}
}

KELVO_BEGIN_MESSAGE_MAP(CCartAgentDlg, CUtilDialogEx<CDialogEx>)
    KELVO_MESSAGE(WM_PAINT, &CCartAgentDlg::OnPaint)
    KELVO_MESSAGE(WM_QUERYDRAGICON, &CCartAgentDlg::OnQueryDragIcon)
    KELVO_MESSAGE(WM_CLOSE, &CCartAgentDlg::OnClose)
    KELVO_MESSAGE(WM_WINDOWPOSCHANGING, &CCartAgentDlg::OnWindowPosChanging)
    KELVO_MESSAGE(WM_TIMER, &CCartAgentDlg::OnTimer)
    KELVO_MESSAGE(WM_DESTROY, &CCartAgentDlg::OnDestroy)
    KELVO_COMMAND(IDM_AGENT_EXIT, &CCartAgentDlg::OnExitCommand)
    KELVO_COMMAND(IDCANCEL, &CCartAgentDlg::OnIgnoredCommand)
    KELVO_COMMAND(IDOK, &CCartAgentDlg::OnIgnoredCommand)
    KELVO_COMMAND(IDM_AGENT_START_AUTH, &CCartAgentDlg::OnStartAuthCommand)
    KELVO_COMMAND(IDM_AGENT_END_ACCESS, &CCartAgentDlg::OnEndAccessCommand)
    KELVO_COMMAND(IDM_AGENT_RECONNECT, &CCartAgentDlg::OnReconnectCommand)
    KELVO_MESSAGE(WM_QUERYENDSESSION, &CCartAgentDlg::OnQueryEndSession)
    KELVO_MESSAGE(WM_ENDSESSION, &CCartAgentDlg::OnEndSession)
    KELVO_MESSAGE(WM_WTSSESSION_CHANGE, &CCartAgentDlg::OnSessionChange)
    KELVO_REGISTERED_MESSAGE(L"TaskbarCreated", &CCartAgentDlg::OnTaskbarCreated)
    KELVO_MESSAGE(WM_AGENT_CLOSE, &CCartAgentDlg::OnAgentClose)
    KELVO_MESSAGE(WM_AGENT_NOTIFY_ICON, &CCartAgentDlg::OnNotifyIconMessage)
    KELVO_MESSAGE(WM_AGENT_RELOAD_SETTINGS, &CCartAgentDlg::OnReloadSettings)
    KELVO_MESSAGE(WM_AGENT_REMOTE_SESSION, &CCartAgentDlg::OnRemoteSession)
    KELVO_MESSAGE(WM_AGENT_AUTH_STARTED, &CCartAgentDlg::OnAuthStarted)
    KELVO_MESSAGE(WM_AGENT_AUTH_RESULT, &CCartAgentDlg::OnAuthResult)
    KELVO_MESSAGE(WM_AGENT_AUTHORIZE, &CCartAgentDlg::OnAuthorize)
KELVO_END_MESSAGE_MAP()

CCartAgentDlg::CCartAgentDlg() : CUtilDialogEx<CDialogEx>(IDD_AGENT, nullptr)
{
}

CCartAgentDlg::~CCartAgentDlg()
{
    // A window destroyed without the exit path still stops its worker before it goes.
    if (m_spThread && m_spThread->IsRunning())
        m_spThread->Stop();
}

BOOL CCartAgentDlg::OnInitDialog()
{
    // The window carries the application icon and title, by which other processes find it.
    m_appIcon.Reset(LoadResourceIcon(IDI_AGENT_APP, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)));
    m_appIconSmall.Reset(LoadResourceIcon(IDI_AGENT_APP, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)));
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_appIcon.Get()));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_appIconSmall.Get()));
    SetWindowText(CUtilAppEx::GetAppTitle());
    m_signOn.SetAgentWindow(m_hWnd, CUtilAppEx::GetAppTitle());

    // The kind of session decides how the endpoint is reached and named.
    m_spSession = CEndpointSessionFactory::CreateSession();

    LoadSettings();
    RefreshStateFields();

    // Only an agent in the active console session watches for the logon screen.
    DWORD ownSession = 0;
    m_bWatchLogonScreen = ProcessIdToSessionId(GetCurrentProcessId(), &ownSession) &&
                          ownSession == WTSGetActiveConsoleSessionId();

    m_sessionNotificationRegistered = WTSRegisterSessionNotification(m_hWnd, NOTIFY_FOR_THIS_SESSION) != FALSE;
    AllowMessagesFromOtherProcesses();

    if (m_bIsRemote)
        OpenChannelAndPing();
    return TRUE;
}

void CCartAgentDlg::LoadSettings()
{
    m_bIsRemote = m_spSession && m_spSession->IsRemote();

    CConfiguration config;
    const bool loaded = config.Load(nullptr) != FALSE;
    if (loaded)
        ReadSettings(config);

    // An administrator may rename the two items; without a text, or without a file, they
    // keep the product's.
    m_strStartAuthText = m_settings.startAuthItemText.IsEmpty() ? Resources().LoadText(IDS_AGENT_MENU_START_AUTH)
                                                                : m_settings.startAuthItemText;
    m_strEndAccessText = m_settings.endAccessItemText.IsEmpty() ? Resources().LoadText(IDS_AGENT_MENU_END_ACCESS)
                                                                : m_settings.endAccessItemText;

    // Logging follows the configured level; the log is restarted only when it changes.
    CUtilLogging& log = Log();
    const DWORD level = static_cast<DWORD>(m_settings.logLevel);
    const DWORD retention = static_cast<DWORD>(m_settings.logRetentionDays);
    if (level != 0 && level == log.GetLevel() && retention != m_logRetentionInUse)
    {
        // Only the retention changed: the log goes on, its cleanup follows the new one.
        log.SetRetentionDays(retention);
        m_logRetentionInUse = retention;
    }
    else if (level != log.GetLevel())
    {
        if (level == 0)
        {
            log.LogRes(1, IDS_AGENT_LOG_STOPPED);
            log.Initialize(0, 0, CUtilAppEx::GetAppName(), FOLDERID_LocalAppData);
        }
        else
        {
            log.Initialize(level, retention, CUtilAppEx::GetAppName(), FOLDERID_LocalAppData);
            m_logRetentionInUse = retention;
            log.LogRes(1, IDS_AGENT_LOG_STARTED, static_cast<int>(level), log.GetFilePath().GetString());
        }
    }
    if (loaded && log.GetLevel() >= 5)
    {
        log.LogRes(5, IDS_AGENT_CONFIG_VALUES);
        LogConfiguration(config);
    }
}

void CCartAgentDlg::ReadSettings(CConfiguration& config)
{
    m_settings.showExitItem = config.GetBool(IDS_CFG_SHOW_EXIT_ITEM) != FALSE;
    m_settings.endAccessOnLockAndExit = config.GetBool(IDS_CFG_END_ACCESS_ON_LOCK) != FALSE;
    m_settings.retryAuthStart = config.GetBool(IDS_CFG_RETRY_AUTH_START) != FALSE;
    if (m_settings.retryAuthStart)
        m_nAuthRetries = 5;
    // Only a time-out the prompt can show replaces the current one.
    const long timeout = config.GetNumber(IDS_CFG_PROMPT_TIMEOUT, 0);
    if (timeout >= 1 && timeout <= 99)
        m_settings.promptTimeoutSeconds = static_cast<int>(timeout);
    config.GetValue(IDS_CFG_START_AUTH_ITEM_TEXT, m_settings.startAuthItemText);
    config.GetValue(IDS_CFG_END_ACCESS_ITEM_TEXT, m_settings.endAccessItemText);
    m_settings.logLevel = static_cast<int>(config.GetNumber(IDS_CFG_LOG_LEVEL, 0));
    m_settings.logRetentionDays = static_cast<int>(config.GetNumber(IDS_CFG_LOG_RETENTION_DAYS, 30));
}

void CCartAgentDlg::LogConfiguration(CConfiguration& config)
{
    _CObjectExPtr<IObjectExEnumerator> values = config.GetEnumerator();
    for (; values && !values->IsDone(); values->Next())
    {
        CObjectExQIPtr<CConfigValue> value(values->Current());
        if (value)
            Log().LogRes(5, IDS_AGENT_CONFIG_VALUE, value->GetKey().GetString(), value->GetValue().GetString());
    }
}

bool CCartAgentDlg::IsTaskbarDark()
{
    APPBARDATA taskbar = {};
    taskbar.cbSize = sizeof(taskbar);
    SHAppBarMessage(ABM_GETTASKBARPOS, &taskbar);
    CWindowDcEx screen(nullptr);
    const COLORREF pixel = GetPixel(screen.Get(), taskbar.rc.left + 1, taskbar.rc.top + 1);
    return pixel != CLR_INVALID && GetRValue(pixel) < kDarkLimit && GetGValue(pixel) < kDarkLimit &&
           GetBValue(pixel) < kDarkLimit;
}

void CCartAgentDlg::SetConnected(bool connected)
{
    m_notifyIconHandle.Reset();

    // A light glyph on a dark taskbar and a dark one on a light taskbar.
    const bool dark = IsTaskbarDark();
    UINT iconId;
    UINT tipId;
    if (connected)
    {
        tipId = IDS_AGENT_TIP_CONNECTED;
        iconId = dark ? IDI_AGENT_CONNECTED_DARK : IDI_AGENT_CONNECTED_LIGHT;
    }
    else
    {
        tipId = IDS_AGENT_TIP_DISCONNECTED;
        iconId = dark ? IDI_AGENT_DISCONNECTED_DARK : IDI_AGENT_DISCONNECTED_LIGHT;
    }
    m_notifyIconHandle.Reset(LoadResourceIcon(iconId, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)));
    m_notifyIcon.Update(m_hWnd, 0, WM_AGENT_NOTIFY_ICON, m_notifyIconHandle.Get(), Resources().LoadText(tipId));

    m_bCartConnected = connected;
    // Without a cart nobody stays signed in, and no start is pending; the cart is not
    // polled again meanwhile.
    if (!connected)
    {
        CancelPendingStart();
        EndRun(KelvoRunEnd::CartDisconnected);
    }
    RefreshStateFields();
}

bool CCartAgentDlg::IsCartReady()
{
    return !m_bSessionAway && m_bCartConnected;
}

bool CCartAgentDlg::IsCartFault()
{
    return !m_bSessionAway && m_bCartConnected;
}

void CCartAgentDlg::RefreshStateFields()
{
    if (!m_hWnd)
        return;
    SetDlgItemInt(IDC_AGENT_CONNECTED, m_bCartConnected ? 1 : 0);
    SetDlgItemInt(IDC_AGENT_CART_READY, IsCartReady() ? 1 : 0);
    SetDlgItemInt(IDC_AGENT_CART_FAULT, IsCartFault() ? 1 : 0);
}

int CCartAgentDlg::ShowMessage(UINT stringId, UINT style, DWORD timeoutMs)
{
    return CMessageBoxEx::ShowRes(m_hWnd, stringId, CUtilAppEx::GetAppTitle(), style, timeoutMs);
}

void CCartAgentDlg::AllowMessagesFromOtherProcesses()
{
    // The stop switch, the editor's reload and the remote-session notice may come from
    // processes of lower integrity.
    for (const UINT message : { WM_AGENT_CLOSE, WM_AGENT_RELOAD_SETTINGS, WM_AGENT_REMOTE_SESSION })
    {
        if (!ChangeWindowMessageFilterEx(m_hWnd, message, MSGFLT_ALLOW, nullptr))
            Log().LogRes(2, IDS_AGENT_FILTER_FAILED, static_cast<int>(GetLastError()), static_cast<int>(message));
    }
}

void CCartAgentDlg::OpenChannelAndPing()
{
    CStringEx name;
    if (!Resources().TryLoadString(IDS_VC_CHANNEL_NAME, name))
    {
        Log().Log(2, L"Failed to load the VC channel name from resource file.\n");
        return;
    }
    m_spChannel = CObjectExQIPtr<CVirtualChannelImpl>(m_spSession ? m_spSession->OpenVirtualChannel(m_hWnd, name)
                                                                  : _CObjectExPtr<CObjectEx>());
    if (!m_spChannel)
    {
        Log().Log(4, L"Failed to open VC channel '%s' to ping endpoint. Virtual channel driver may not be installed on endpoint.\n",
                  name.GetString());
        return;
    }
    if (m_spChannel->Ping())
        Log().Log(5, L"Opened virtual channel '%s' and pinged endpoint.\n", name.GetString());
    else
        Log().Log(5, L"Opened virtual channel '%s' but failed to ping endpoint.\n", name.GetString());
}

CMenuEx CCartAgentDlg::BuildNotifyMenu()
{
    CMenuEx menu(CreatePopupMenu());
    if (!menu)
        return menu;
    const CStringEx exitText = Resources().LoadText(IDS_AGENT_MENU_EXIT);

    // While a sign-in runs, only the exit item (when offered).
    if (m_run.IsActive())
    {
        if (!m_settings.showExitItem)
            return CMenuEx();
        AppendMenuW(menu.Get(), MF_STRING, IDM_AGENT_EXIT, exitText);
        return menu;
    }

    bool actionAdded = false;
    if (IsCartReady())
    {
        AppendMenuW(menu.Get(), MF_STRING, IDM_AGENT_START_AUTH, m_strStartAuthText);
        actionAdded = true;
    }
    if (IsCartFault())
    {
        AppendMenuW(menu.Get(), MF_STRING, IDM_AGENT_END_ACCESS, m_strEndAccessText);
        actionAdded = true;
    }
    if (actionAdded)
    {
        SetMenuDefaultItem(menu.Get(), 0, TRUE);
        AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    }
    AppendMenuW(menu.Get(), MF_STRING, IDM_AGENT_RECONNECT, Resources().LoadText(IDS_AGENT_MENU_RECONNECT));
    if (m_settings.showExitItem)
    {
        AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu.Get(), MF_STRING, IDM_AGENT_EXIT, exitText);
    }
    // Reconnect alone is not worth a menu.
    if (!actionAdded && !m_settings.showExitItem)
        return CMenuEx();
    return menu;
}

bool CCartAgentDlg::OnNotifyIcon(UINT mouseMessage)
{
    if (m_run.IsActive())
        return mouseMessage == WM_RBUTTONDOWN && m_settings.showExitItem;

    switch (mouseMessage)
    {
    case WM_LBUTTONDOWN:
        // A click does what the cart's state calls for, or says why it cannot.
        if (!m_bCartConnected)
            ShowMessage(IDS_AGENT_CART_NOT_CONNECTED, MB_OK | MB_ICONINFORMATION, kMessageTimeoutMs);
        else if (IsCartReady())
            SendMessage(WM_COMMAND, IDM_AGENT_START_AUTH);
        else if (IsCartFault())
            SendMessage(WM_COMMAND, IDM_AGENT_END_ACCESS);
        else
            ShowMessage(IDS_AGENT_CART_BUSY, MB_OK | MB_ICONINFORMATION, kMessageTimeoutMs);
        return false;
    case WM_RBUTTONDOWN:
        return IsCartReady() || IsCartFault() || m_settings.showExitItem;
    default:
        return false;
    }
}

void CCartAgentDlg::ShowNotifyMenu()
{
    CMenuEx menu = BuildNotifyMenu();
    if (!menu)
        return;
    POINT cursor = {};
    GetCursorPos(&cursor);
    // The menu closes when the user clicks elsewhere only if the window is in front.
    SetForegroundWindow(m_hWnd);
    TrackPopupMenu(menu.Get(), TPM_BOTTOMALIGN | TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, m_hWnd,
                   nullptr);
    PostMessage(WM_NULL);
}

void CCartAgentDlg::StopWorkerAndEndRun(KelvoRunEnd reason)
{
    if (m_spThread && m_spThread->IsRunning())
        m_spThread->Stop();
    m_spThread = nullptr;
    EndRun(reason);
}

void CCartAgentDlg::ExitAgent()
{
    // An exit inside a message box's loop leaves the window running until the box closes:
    // no timer may start a sign-in, watch the logon screen or restart the worker meanwhile.
    m_bExited = true;
    KillTimer(KELVO_TIMER_AUTH_START);
    KillTimer(KELVO_TIMER_LOGON_SCREEN);
    KillTimer(KELVO_TIMER_CONNECT_CART);
    StopWorkerAndEndRun(KelvoRunEnd::AgentExit);
    // The worker is gone: access ends with a transport of its own. It ends before the icon
    // goes: the taskbar answers that call, and a busy or hung one would keep the drawers open.
    if (m_settings.endAccessOnLockAndExit && !m_bIsRemote)
        EndAccess(false, false);
    m_notifyIcon.Delete();
    m_notifyIconHandle.Reset();
    EndDialog(1);
}

LRESULT CCartAgentDlg::OnPaint(WPARAM, LPARAM, BOOL& handled)
{
    if (!IsIconic(m_hWnd))
    {
        handled = FALSE;
        return 0;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc));
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_appIcon.Get());
    EndPaint(m_hWnd, &paint);
    return 0;
}

LRESULT CCartAgentDlg::OnQueryDragIcon(WPARAM, LPARAM, BOOL&)
{
    return reinterpret_cast<LRESULT>(m_appIcon.Get());
}

LRESULT CCartAgentDlg::OnClose(WPARAM, LPARAM, BOOL&)
{
    // Only the end of the Windows session closes the agent; a user's close is ignored.
    if (m_bEnding)
        ExitAgent();
    return 0;
}

LRESULT CCartAgentDlg::OnWindowPosChanging(WPARAM, LPARAM lParam, BOOL& handled)
{
    // The window exists for its messages only: whoever shows it, it stays hidden.
    if (auto* position = reinterpret_cast<WINDOWPOS*>(lParam))
        position->flags &= ~SWP_SHOWWINDOW;
    handled = FALSE;
    return 0;
}

LRESULT CCartAgentDlg::OnTimer(WPARAM id, LPARAM, BOOL&)
{
    if (m_bExited)
    {
        KillTimer(static_cast<UINT_PTR>(id));
        return 0;
    }
    switch (id)
    {
    case KELVO_TIMER_AUTH_START:
        OnAuthStartTimer();
        break;
    case KELVO_TIMER_LOGON_SCREEN:
        OnLogonScreenTimer();
        break;
    case KELVO_TIMER_PROMPT_ANSWER:
        OnPromptAnswerTimer();
        break;
    default:
        break;
    }
    return 0;
}

LRESULT CCartAgentDlg::OnDestroy(WPARAM, LPARAM, BOOL& handled)
{
    if (m_sessionNotificationRegistered)
        WTSUnRegisterSessionNotification(m_hWnd);
    m_sessionNotificationRegistered = false;
    m_notifyIcon.Delete();
    handled = FALSE;
    return 0;
}

LRESULT CCartAgentDlg::OnExitCommand(WPARAM, LPARAM, BOOL&)
{
    ExitAgent();
    return 0;
}

LRESULT CCartAgentDlg::OnIgnoredCommand(WPARAM, LPARAM, BOOL&)
{
    // Escape and Enter reach a dialog as Cancel and OK; neither may end the agent.
    return 0;
}

LRESULT CCartAgentDlg::OnStartAuthCommand(WPARAM, LPARAM, BOOL&)
{
    if (!IsCartReady())
        return 0;
    // A user's own start replaces every automatic one (the start clears them).
    BeginRun(TRUE);
    return 0;
}

LRESULT CCartAgentDlg::OnEndAccessCommand(WPARAM, LPARAM, BOOL&)
{
    if (!IsCartFault())
        return 0;
    if (ShowMessage(IDS_AGENT_ASK_END_ACCESS, MB_YESNO | MB_ICONQUESTION, kMessageTimeoutMs) == IDYES)
        EndAccess(true, true);
    return 0;
}

LRESULT CCartAgentDlg::OnReconnectCommand(WPARAM, LPARAM, BOOL&)
{
    if (!Reconnect())
    {
        Log().LogRes(2, IDS_AGENT_CART_UNREACHABLE);
        ShowMessage(IDS_AGENT_CART_UNREACHABLE, MB_OK | MB_ICONWARNING, kMessageTimeoutMs);
    }
    return 0;
}

LRESULT CCartAgentDlg::OnQueryEndSession(WPARAM, LPARAM, BOOL&)
{
    // Windows is ending the session: let the cart go now, while the process still may.
    m_bEnding = true;
    CancelPendingStart();
    StopWorkerAndEndRun(KelvoRunEnd::SessionEnding);
    if (m_settings.endAccessOnLockAndExit && !m_bIsRemote)
        EndAccess(false, false);
    return TRUE;
}

LRESULT CCartAgentDlg::OnEndSession(WPARAM ending, LPARAM, BOOL&)
{
    // The end was cancelled: the session goes on, and so does the cart.
    if (!ending)
    {
        m_bEnding = false;
        SetTimer(KELVO_TIMER_CONNECT_CART, 100);
    }
    return 0;
}

LRESULT CCartAgentDlg::OnTaskbarCreated(WPARAM, LPARAM, BOOL&)
{
    // A restarted taskbar has forgotten the icon; it comes back with its last tooltip.
    m_notifyIcon.Readd();
    return 0;
}

LRESULT CCartAgentDlg::OnAgentClose(WPARAM, LPARAM, BOOL&)
{
    ExitAgent();
    return 0;
}

LRESULT CCartAgentDlg::OnNotifyIconMessage(WPARAM, LPARAM mouseMessage, BOOL&)
{
    if (OnNotifyIcon(static_cast<UINT>(mouseMessage)))
        ShowNotifyMenu();
    return 0;
}

LRESULT CCartAgentDlg::OnReloadSettings(WPARAM, LPARAM, BOOL&)
{
    LoadSettings();
    RefreshStateFields();
    return 0;
}
