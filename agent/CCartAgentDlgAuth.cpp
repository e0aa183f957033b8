// The agent window's authorization handlers that need no cart, and the hand-off of work
// to the worker thread.
#include "agent/CCartAgentDlg.h"
#include "common/CUtilLogging.h"

bool CCartAgentDlg::PostToAgentThread(UINT message, _CObjectExPtr<CObjectEx> object)
{
    // Nothing goes to the worker while a Citrix session has the cart.
    if (!m_spThread || !m_spThread->IsRunning() || m_spThread->GetThreadId() == 0 || m_bCitrixSessionActive)
        return false;
    return m_spThread->PostWork(message, reinterpret_cast<WPARAM>(m_hWnd), std::move(object)) != FALSE;
}

void CCartAgentDlg::StartPolling()
{
    if (m_spThread && m_spThread->IsRunning())
        m_spThread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_hWnd), 500);
}

void CCartAgentDlg::StopPolling()
{
    if (m_spThread && m_spThread->IsRunning())
        m_spThread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_hWnd), 0);
}

LRESULT CCartAgentDlg::OnAuthStarted(WPARAM, LPARAM, BOOL&)
{
    return 0;
}

LRESULT CCartAgentDlg::OnAuthResult(WPARAM result, LPARAM, BOOL&)
{
    CUtilLogging::Instance().Log(5, L"Authentication result %u.\n", static_cast<unsigned>(result));
    m_signOn.m_bAuthenticating = false;
    StartPolling();
    RefreshStateFields();
    return 0;
}

LRESULT CCartAgentDlg::OnAuthorize(WPARAM, LPARAM, BOOL&)
{
    return 0;
}

LRESULT CCartAgentDlg::OnAuthDone(WPARAM code, LPARAM, BOOL&)
{
    if (m_signOn.m_bUserSignedIn)
    {
        m_signOn.m_bUserSignedIn = false;
        if (code != 0)
            m_signOn.EndSignOnSession(static_cast<DWORD>(code));
    }
    StartPolling();
    return 0;
}
