// How the agent window follows the Windows session and the cart: session changes, cart
// status reports, the drawer button, the authentication-start timer, the logon screen and
// the remote-session notice.
#include "agent/CKelvoAgentDlg.h"
#include "agent/KelvoLogonScreen.h"
#include "cartlink/CEndpointSessionFactory.h"
#include "cartlink/CKelvoDeviceStatusResponse.h"
#include "cartlink/KelvoCartCommand.h"
#include "cartlink/KelvoCartResult.h"
#include "common/CUtilLogging.h"
#include "common/PostedObjectEx.h"
#include "resources/KVIdsAgentAuth.h"
#include <wtsapi32.h>

namespace
{
constexpr UINT kAuthStartDelayMs = 100;
constexpr UINT kAuthRetryDelayMs = 500;
constexpr UINT kConnectSoonMs = 100;
constexpr UINT kConnectRemoteMs = 500;
constexpr UINT kConnectAfterCitrixMs = 2500;
}

LRESULT CCartAgentDlg::OnSessionChange(WPARAM event, LPARAM, BOOL&)
{
    CUtilLogging& log = CUtilLogging::Instance();
    const UINT code = static_cast<UINT>(event);
    switch (code)
    {
    case WTS_CONSOLE_CONNECT:
    case WTS_SESSION_UNLOCK:
        log.LogRes(4, IDS_AUTH_SESSION_BACK, code, m_bCartConnected ? 1 : 0);
        m_bSessionAway = false;
        m_bAutoStartPending = true;
        LoadSettings();
        if (CCartUSBComm::GetDevicePath().IsEmpty())
            SetTimer(KELVO_TIMER_CONNECT_CART, kConnectSoonMs);
        else
        {
            if (!m_bCartConnected)
                SetConnected(true);
            ArmAuthStart(false);
        }
        break;
    case WTS_REMOTE_CONNECT:
        log.LogRes(4, IDS_AUTH_SESSION_BACK, code, m_bCartConnected ? 1 : 0);
        m_spSession = CEndpointSessionFactory::CreateSession();
        m_bSessionAway = false;
        m_bAutoStartPending = true;
        LoadSettings();
        if (m_bIsRemote)
        {
            OpenChannelAndPing();
            SetTimer(KELVO_TIMER_CONNECT_CART, kConnectRemoteMs);
        }
        else
            SetTimer(KELVO_TIMER_CONNECT_CART, kConnectSoonMs);
        break;
    case WTS_CONSOLE_DISCONNECT:
    case WTS_SESSION_LOCK:
        log.LogRes(4, IDS_AUTH_SESSION_AWAY, code, m_bCartConnected ? 1 : 0);
        ClearAutoStart();
        // Away first: nothing the run's end does may poll the cart of an away session.
        m_bSessionAway = true;
        EndRun(KelvoRunEnd::SessionAway);
        if (m_settings.endAccessOnLockAndExit && !m_bIsRemote)
            EndAccess(false, true);
        if (m_bCartConnected)
            SetConnected(false);
        m_bIsRemote = false;
        break;
    case WTS_REMOTE_DISCONNECT:
        log.LogRes(4, IDS_AUTH_SESSION_AWAY, code, m_bCartConnected ? 1 : 0);
        ClearAutoStart();
        m_bSessionAway = true;
        EndRun(KelvoRunEnd::SessionAway);
        m_bIsRemote = false;
        if (m_bCartConnected)
            SetConnected(false);
        CCartUSBComm::SetDevicePath(L"");
        break;
    default:
        break;
    }
    RefreshStateFields();
    return 0;
}

void CCartAgentDlg::ClearAutoStart()
{
    KillTimer(KELVO_TIMER_LOGON_SCREEN);
    m_bSkipNextAuthStart = false;
    m_bWatchLogonScreen = false;
    m_bAutoStartPending = false;
    m_nAuthRetries = 0;
    KillTimer(KELVO_TIMER_AUTH_START);
}

LRESULT CCartAgentDlg::OnRemoteSession(WPARAM started, LPARAM, BOOL&)
{
    if (started == 1)
    {
        CUtilLogging::Instance().Log(5, L"Citrix Remote Session Started.\n");
        // Polling stops while posts still reach the worker; with the flag set none would.
        StopPolling();
        m_bCitrixSessionActive = true;
        CancelPendingStart();
        EndRun(KelvoRunEnd::RemoteSession);
        RefreshStateFields();
        return 0;
    }

    m_bCitrixSessionActive = false;
    // Through the worker when it runs: a second transport beside it could take the
    // worker's answer, since answers are paired with requests only by their order.
    const bool workerRuns = m_spThread && m_spThread->IsRunning();
    if (m_settings.endAccessOnLockAndExit)
        EndAccess(false, workerRuns);
    if (CCartUSBComm::GetDevicePath().IsEmpty())
        SetTimer(KELVO_TIMER_CONNECT_CART, kConnectAfterCitrixMs);
    // The worker went meanwhile (a cancelled end of the session stopped it, and no connect
    // may start one while a Citrix session has the cart): the cart is connected again as at
    // any connect.
    else if (!workerRuns)
        SetTimer(KELVO_TIMER_CONNECT_CART, kConnectSoonMs);
    else
    {
        if (!m_bCartConnected)
            SetConnected(true);
        // The cart is this session's again: its button is watched as before.
        StartPolling();
    }
    RefreshStateFields();
    return 0;
}

void CCartAgentDlg::OnAuthStartTimer()
{
    KillTimer(KELVO_TIMER_AUTH_START);
    // A start clears every pending automatic one; a failed one is tried again, unless no
    // sign-in may happen here at all.
    const HRESULT hr = BeginRun(FALSE);
    if (FAILED(hr) && MaySignInHere() && m_settings.retryAuthStart && m_nAuthRetries > 0)
    {
        --m_nAuthRetries;
        SetTimer(KELVO_TIMER_AUTH_START, kAuthRetryDelayMs);
    }
}

void CCartAgentDlg::OnLogonScreenTimer()
{
    if (!IsLogonScreenShown())
        return;
    KillTimer(KELVO_TIMER_LOGON_SCREEN);
    m_bWatchLogonScreen = false;
    // The logon screen over this session is a lock that nobody announced.
    DWORD session = 0;
    if (!m_bSessionAway && ProcessIdToSessionId(GetCurrentProcessId(), &session))
        PostMessage(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, session);
}

void CCartAgentDlg::ArmAuthStart(bool pressed)
{
    const bool skip = m_bSkipNextAuthStart;
    m_bSkipNextAuthStart = false;
    // A button press starts at once, also while an automatic start is pending; an
    // automatic start only when not skipped and while retries remain.
    if (pressed || !m_bAutoStartPending)
        SetTimer(KELVO_TIMER_AUTH_START, kAuthStartDelayMs);
    else if (!skip && m_settings.retryAuthStart && m_nAuthRetries > 0)
        SetTimer(KELVO_TIMER_AUTH_START, kAuthStartDelayMs);
}

bool CCartAgentDlg::IsLogonScreenShown()
{
    return KelvoLogonScreen::Check();
}

LRESULT CKelvoAgentDlg::OnSessionChange(WPARAM event, LPARAM sessionId, BOOL& handled)
{
    switch (event)
    {
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
    case WTS_SESSION_LOCK:
        // Away already: a second lock or disconnect changes nothing.
        if (m_bSessionAway)
            return 0;
        m_bPreAuthorized = false;
        m_strAuthGroup.Empty();
        StopPolling();
        return CCartAgentDlg::OnSessionChange(event, sessionId, handled);
    case WTS_REMOTE_CONNECT:
        return CCartAgentDlg::OnSessionChange(event, sessionId, handled);
    case WTS_SESSION_UNLOCK:
        CCartAgentDlg::OnSessionChange(event, sessionId, handled);
        if (!CCartUSBComm::GetDevicePath().IsEmpty())
            StartPolling();
        return 0;
    default:
        return 0;
    }
}

LRESULT CKelvoAgentDlg::OnDeviceStatus(WPARAM wParam, LPARAM status, BOOL&)
{
    // The report's reference comes with the message.
    const _CObjectExPtr<CKelvoDeviceStatusResponse> report = TakePostedObject<CKelvoDeviceStatusResponse>(status);
    // The worker found the cart gone and stopped: a run waiting for the cart ends, and the
    // cart is shown as not connected until it returns.
    if (wParam == KELVO_RESULT_NO_CART && !report)
    {
        if (m_bCartConnected && !m_bCitrixSessionActive)
        {
            EndRun(KelvoRunEnd::CartGone);
            SetConnected(false);
        }
        return 0;
    }
    if (wParam != 0 || !report)
        return 0;
    // While a Citrix session has the cart, its state is not this session's to act on.
    if (m_bCitrixSessionActive)
        return 0;
    if (m_bSessionAway)
    {
        StopPolling();
        return 0;
    }

    const CartStatus now{report->GetAccessState(), report->GetStatus(), report->GetButtonState()};
    if (now.access != m_lastStatus.access || now.status != m_lastStatus.status || now.button != m_lastStatus.button)
    {
        CUtilLogging::Instance().LogRes(5, IDS_AUTH_DEVICE_STATUS, now.access, now.status, now.button);
        m_lastStatus = now;
    }

    // A ready cart with no sign-in running starts one at a button press, or on its own
    // after a start, an unlock or a connect.
    const bool pressed = now.button == KELVO_DRAWER_BUTTON_PRESSED;
    if (!m_run.IsActive() && m_bCartConnected && now.access == KELVO_ACCESS_READY && now.status == KELVO_STATUS_READY)
    {
        if (pressed || m_bAutoStartPending)
            ArmAuthStart(pressed);
    }
    else if (m_bAutoStartPending)
    {
        m_bSkipNextAuthStart = false;
        m_nAuthRetries = 0;
        KillTimer(KELVO_TIMER_AUTH_START);
    }
    m_bAutoStartPending = false;
    RefreshStateFields();
    return 0;
}

void CKelvoAgentDlg::OnLogonScreenConnectTimer()
{
    // Until the cart answers, each watch tick also tries to connect it, as every connect
    // does: the worker polls, and its first report arms a start as the switches allow.
    if (!m_bCartConnected)
        ConnectCart();
}
