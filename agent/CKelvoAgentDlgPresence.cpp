// How the agent window follows the Windows session and the cart: session changes, cart
// status reports, the drawer button, the logon screen and the remote-session notice.
#include "agent/CKelvoAgentDlg.h"
#include "cartlink/CKelvoDeviceStatusResponse.h"
#include "common/CUtilLogging.h"
#include "common/PostedObjectEx.h"

LRESULT CCartAgentDlg::OnSessionChange(WPARAM event, LPARAM, BOOL&)
{
    CUtilLogging::Instance().Log(4, L"Session change %u.\n", static_cast<unsigned>(event));
    return 0;
}

LRESULT CCartAgentDlg::OnRemoteSession(WPARAM started, LPARAM, BOOL&)
{
    CUtilLogging::Instance().Log(5, L"Remote session notice %u.\n", static_cast<unsigned>(started));
    return 0;
}

void CCartAgentDlg::OnAuthStartTimer()
{
    KillTimer(KELVO_TIMER_AUTH_START);
}

void CCartAgentDlg::OnLogonScreenTimer()
{
    KillTimer(KELVO_TIMER_LOGON_SCREEN);
    m_bWatchLogonScreen = false;
}

void CCartAgentDlg::ArmAuthStart()
{
    m_signOn.m_bSkipNextAuthStart = false;
}

bool CCartAgentDlg::IsLogonScreenShown()
{
    return false;
}

LRESULT CKelvoAgentDlg::OnSessionChange(WPARAM event, LPARAM sessionId, BOOL& handled)
{
    return CCartAgentDlg::OnSessionChange(event, sessionId, handled);
}

LRESULT CKelvoAgentDlg::OnDeviceStatus(WPARAM wParam, LPARAM status, BOOL&)
{
    // The report's reference comes with the message.
    const _CObjectExPtr<CKelvoDeviceStatusResponse> report = TakePostedObject<CKelvoDeviceStatusResponse>(status);
    if (wParam != 0 || !report)
        return 0;
    m_lastStatus.access = report->GetAccessState();
    m_lastStatus.status = report->GetStatus();
    m_lastStatus.button = report->GetButtonState();
    RefreshStateFields();
    return 0;
}

void CKelvoAgentDlg::OnLogonScreenConnectTimer()
{
}
