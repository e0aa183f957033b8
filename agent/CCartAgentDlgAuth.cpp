// The agent window's authorization handlers that need no cart: the hand-off of work to the
// worker thread and its polling, the sign-in's result, who signed in and how, and the end
// of a run.
#include "agent/CCartAgentDlg.h"
#include "agent/CKelvoAuthRules.h"
#include "common/CErrorEx.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsAgentAuth.h"
#include <vector>

namespace
{
constexpr DWORD kPollPeriodMs = 500;
}

bool CCartAgentDlg::PostToAgentThread(UINT message, _CObjectExPtr<CObjectEx> object)
{
    // Nothing goes to the worker while a Citrix session has the cart.
    if (!m_spThread || !m_spThread->IsRunning() || m_spThread->GetThreadId() == 0 || m_bCitrixSessionActive)
        return false;
    return m_spThread->PostWork(message, reinterpret_cast<WPARAM>(m_hWnd), std::move(object)) != FALSE;
}

void CCartAgentDlg::StartPolling()
{
    // A session that is away, or whose cart a Citrix session has, leaves the cart alone.
    if (m_bSessionAway || m_bCitrixSessionActive)
        return;
    if (m_spThread && m_spThread->IsRunning())
        m_spThread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_hWnd), kPollPeriodMs);
}

void CCartAgentDlg::StopPolling()
{
    if (m_bCitrixSessionActive)
        return;
    if (m_spThread && m_spThread->IsRunning())
        m_spThread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_hWnd), 0);
}

void CCartAgentDlg::EndRun(DWORD code)
{
    PostMessage(WM_AGENT_AUTH_DONE, code);
}

bool CCartAgentDlg::IsSameSignIn(ULONG signIn) const
{
    return m_signOn.m_bUserSignedIn && signIn == m_nSignIn && !m_bSessionAway;
}

LRESULT CCartAgentDlg::OnAuthStarted(WPARAM, LPARAM, BOOL&)
{
    return 0;
}

LRESULT CCartAgentDlg::OnAuthResult(WPARAM result, LPARAM, BOOL&)
{
    bool nothingToDo = true;
    try
    {
        if (m_signOn.m_bAuthenticating)
        {
            m_signOn.m_bAuthenticating = false;
            if (result != 0)
                CUtilLogging::Instance().LogRes(5, IDS_AUTH_RESULT_FAILED, static_cast<int>(result));
            else
            {
                nothingToDo = false;
                IdentifyUser();
            }
        }
    }
    catch (const CErrorEx& error)
    {
        // A thrown 1 means the user has been told already.
        m_signOn.EndSignOnSession(error.Code() == 1 ? 2 : 1);
    }
    catch (...)
    {
        m_signOn.EndSignOnSession(1);
    }
    if (nothingToDo)
        StartPolling();
    RefreshStateFields();
    return 0;
}

void CCartAgentDlg::IdentifyUser()
{
    CUtilLogging& log = CUtilLogging::Instance();
    m_signOn.m_bUserSignedIn = true;
    ++m_nSignIn;

    // Who signed in: the principal, split at its first at-sign.
    CStringEx principal;
    ThrowIfFailed(m_signOn.ReadIdentity(principal));
    if (principal.IsEmpty())
    {
        log.LogRes(2, IDS_AUTH_NO_PRINCIPAL);
        ThrowWin32(ERROR_NO_SUCH_USER);
    }
    log.LogRes(5, IDS_AUTH_PRINCIPAL, principal.GetString());
    KelvoAuthRules::SplitPrincipal(principal, m_signOn.m_strUserName, m_signOn.m_strUserDomain);

    // How: the authentication methods, ORed into the flags that give the access mode.
    m_signOn.m_nAuthFlags = 0;
    std::vector<CStringEx> items;
    ThrowIfFailed(m_signOn.ReadMethods(items));
    log.LogRes(5, IDS_AUTH_METHODS);
    std::vector<BYTE> values;
    m_signOn.m_nAuthFlags = KelvoAuthRules::MethodFlags(items, &values);
    for (const BYTE value : values)
    {
        if (const UINT name = KelvoAuthRules::MethodNameId(value))
            log.LogRes(5, name);
    }
    if (m_signOn.m_nAuthFlags == 0)
        log.LogRes(4, IDS_AUTH_NO_METHODS);

    PostMessage(WM_AGENT_AUTHORIZE);
}

LRESULT CCartAgentDlg::OnAuthorize(WPARAM, LPARAM, BOOL&)
{
    // Without a cart there is nobody to open drawers for.
    EndRun(1);
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
    RefreshStateFields();
    return 0;
}
