// The agent window's authorization handlers that need no cart: the hand-off of work to the
// worker thread and its polling, the one start and the one end of a sign-in run, the
// product's report and who signed in and how.
#include "agent/CCartAgentDlg.h"
#include "agent/CKelvoAuthRules.h"
#include "cartlink/KelvoCartCommand.h"
#include "common/CErrorEx.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsAgentAuth.h"
#include <vector>

namespace
{
constexpr DWORD kPollPeriodMs = 500;
// How long after the prompt's own time-out a report that never came ends the run.
constexpr UINT kPromptAnswerMarginMs = 5000;
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

bool CCartAgentDlg::MaySignInHere() const
{
    return m_bCartConnected && !m_bSessionAway && !m_bCitrixSessionActive && !m_bEnding && !m_bExited;
}

HRESULT CCartAgentDlg::BeginRun(BOOL showMessages)
{
    // One run at a time.
    if (m_run.IsActive())
        return S_OK;
    // Nobody signs in for a cart that is not here, in a session that is away or ending, or
    // while a Citrix session has the cart.
    if (!MaySignInHere())
    {
        CUtilLogging::Instance().LogRes(4, IDS_RUN_START_REFUSED);
        return HRESULT_FROM_WIN32(ERROR_NOT_READY);
    }
    const ULONG run = m_run.NextNumber();
    const int timeoutSeconds = m_settings.promptTimeoutSeconds;
    // The run exists before the product is asked: a product out of process lets messages in
    // while its start waits, and a lock or an unplug among them ends this run like any other.
    m_run.Begin(run);
    const HRESULT hr = m_signOn.StartPrompt(run, timeoutSeconds, showMessages);
    if (!m_run.IsCurrent(run))
    {
        // Ended while starting: a prompt that opened all the same is closed again.
        if (SUCCEEDED(hr))
            m_signOn.EndSession(true, false);
        return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    }
    if (FAILED(hr))
    {
        m_run.End();
        return hr;
    }

    m_run.MoveTo(CKelvoSignInRun::Stage::Prompt);
    CUtilLogging::Instance().LogRes(4, IDS_RUN_STARTED, static_cast<unsigned>(run));
    // The prompt is up: no automatic start is pending any more.
    ClearAutoStart();
    // A product that never reports must not hold the run open: the prompt ends a while
    // after its own time-out.
    SetTimer(KELVO_TIMER_PROMPT_ANSWER, static_cast<UINT>(timeoutSeconds) * 1000 + kPromptAnswerMarginMs);
    PostMessage(WM_AGENT_AUTH_STARTED, 0, static_cast<LPARAM>(run));
    // A report that came while the start waited is taken now, after the announcement.
    LONG held = 0;
    if (m_run.TakeHeldResult(held))
        PostMessage(WM_AGENT_AUTH_RESULT, static_cast<WPARAM>(held), static_cast<LPARAM>(run));
    return hr;
}

void CCartAgentDlg::AnnouncePrompt(ULONG run)
{
    // The cart is not polled while a prompt is up, and it hears of the prompt once.
    m_run.SetAnnounced();
    StopPolling();
    SendPromptStatus(run, KELVO_AUTH_STATUS_PROMPT_OPEN);
}

void CCartAgentDlg::CancelPendingStart()
{
    // A start armed or retried before the event would open a prompt nobody can use.
    KillTimer(KELVO_TIMER_AUTH_START);
}

void CCartAgentDlg::EndRun(KelvoRunEnd reason)
{
    if (!m_run.IsActive())
        return;
    const ULONG run = m_run.GetNumber();
    const bool promptOpen = m_run.GetStage() == CKelvoSignInRun::Stage::Prompt;
    // A run ended while its prompt was starting: BeginRun closes what the start opened.
    const bool starting = m_run.GetStage() == CKelvoSignInRun::Stage::Starting;
    const bool announced = m_run.IsAnnounced();
    const bool signedIn = m_run.IsSignedIn();
    const DWORD code = CKelvoSignInRun::EndCode(reason);
    m_run.End();
    KillTimer(KELVO_TIMER_PROMPT_ANSWER);

    CUtilLogging& log = CUtilLogging::Instance();
    CStringEx why;
    CResourceLoader::Instance().LoadString(CKelvoSignInRun::ReasonTextId(reason), why);
    log.LogRes(4, IDS_RUN_ENDED, static_cast<unsigned>(run), why.GetString(), static_cast<unsigned>(code));

    // An open prompt is closed, and a sign-in that did not end in a grant is ended on the
    // product's side too: first, since telling the cart may hold this thread for a slow cart.
    if (!starting)
        m_signOn.EndSession(promptOpen, signedIn && code != 0);
    // The cart heard that a prompt opened: it hears that it is over. Not while the agent
    // leaves with its worker gone: that exchange would hold up the exit or the end of the
    // Windows session, ahead of the end of access, for as long as a silent cart takes.
    const bool leaving = (m_bExited || m_bEnding) && !m_spThread;
    if (promptOpen && announced && !leaving)
        SendPromptStatus(run, KELVO_AUTH_STATUS_RESULT_IN);
    // The cart is watched again, unless the session is away or the cart is gone.
    if (m_bCartConnected)
        StartPolling();
    RefreshStateFields();
}

void CCartAgentDlg::DropStale(UINT message, ULONG run)
{
    CUtilLogging::Instance().LogRes(4, IDS_RUN_STALE_DROPPED, message, static_cast<unsigned>(run));
}

void CCartAgentDlg::SendPromptStatus(ULONG, BYTE)
{
}

void CCartAgentDlg::OnPromptAnswerTimer()
{
    KillTimer(KELVO_TIMER_PROMPT_ANSWER);
    if (m_run.GetStage() != CKelvoSignInRun::Stage::Prompt)
        return;
    CUtilLogging::Instance().LogRes(2, IDS_RUN_PROMPT_UNANSWERED, static_cast<unsigned>(m_run.GetNumber()),
                                    static_cast<unsigned>(m_settings.promptTimeoutSeconds));
    EndRun(KelvoRunEnd::PromptUnanswered);
}

LRESULT CCartAgentDlg::OnAuthStarted(WPARAM, LPARAM run, BOOL&)
{
    // A prompt whose report came first (and announced it), or a run that ended meanwhile,
    // has nothing to open.
    if (!m_run.IsAt(static_cast<ULONG>(run), CKelvoSignInRun::Stage::Prompt) || m_run.IsAnnounced())
    {
        DropStale(WM_AGENT_AUTH_STARTED, static_cast<ULONG>(run));
        return 0;
    }
    AnnouncePrompt(static_cast<ULONG>(run));
    return 0;
}

LRESULT CCartAgentDlg::OnAuthResult(WPARAM result, LPARAM lParam, BOOL&)
{
    // Only the report of the open prompt of the current run counts.
    const ULONG run = static_cast<ULONG>(lParam);
    if (m_run.IsAt(run, CKelvoSignInRun::Stage::Starting))
    {
        m_run.HoldResult(static_cast<LONG>(result));
        return 0;
    }
    if (!m_run.IsAt(run, CKelvoSignInRun::Stage::Prompt))
    {
        DropStale(WM_AGENT_AUTH_RESULT, run);
        return 0;
    }
    // A report before the announcement: the cart hears of the prompt before its result.
    if (!m_run.IsAnnounced())
        AnnouncePrompt(run);
    // The product closed its prompt before it reported.
    m_run.MoveTo(CKelvoSignInRun::Stage::Reported);
    KillTimer(KELVO_TIMER_PROMPT_ANSWER);
    SendPromptStatus(run, KELVO_AUTH_STATUS_RESULT_IN);

    if (result != 0)
    {
        CUtilLogging::Instance().LogRes(5, IDS_AUTH_RESULT_FAILED, static_cast<int>(result));
        EndRun(KelvoRunEnd::NotSignedIn);
        return 0;
    }
    try
    {
        IdentifyUser(run);
    }
    catch (const CErrorEx& error)
    {
        // A thrown 1 means the user has been told already.
        EndRun(error.Code() == 1 ? KelvoRunEnd::FailedShown : KelvoRunEnd::Failed);
    }
    catch (...)
    {
        EndRun(KelvoRunEnd::Failed);
    }
    RefreshStateFields();
    return 0;
}

void CCartAgentDlg::IdentifyUser(ULONG run)
{
    CUtilLogging& log = CUtilLogging::Instance();
    m_run.MoveTo(CKelvoSignInRun::Stage::Deciding);

    // Who signed in: the principal, split at its first at-sign.
    CStringEx principal;
    ThrowIfFailed(m_signOn.ReadIdentity(principal));
    if (principal.IsEmpty())
    {
        log.LogRes(2, IDS_AUTH_NO_PRINCIPAL);
        ThrowWin32(ERROR_NO_SUCH_USER);
    }
    log.LogRes(5, IDS_AUTH_PRINCIPAL, principal.GetString());
    CStringEx user, domain;
    KelvoAuthRules::SplitPrincipal(principal, user, domain);

    // How: the authentication methods, ORed into the flags that give the access mode.
    std::vector<CStringEx> items;
    ThrowIfFailed(m_signOn.ReadMethods(items));
    log.LogRes(5, IDS_AUTH_METHODS);
    std::vector<BYTE> values;
    const BYTE flags = KelvoAuthRules::MethodFlags(items, &values);
    for (const BYTE value : values)
    {
        if (const UINT name = KelvoAuthRules::MethodNameId(value))
            log.LogRes(5, name);
    }
    if (flags == 0)
        log.LogRes(4, IDS_AUTH_NO_METHODS);

    m_run.SetUser(user, domain, flags);
    PostMessage(WM_AGENT_AUTHORIZE, 0, static_cast<LPARAM>(run));
}

LRESULT CCartAgentDlg::OnAuthorize(WPARAM, LPARAM run, BOOL&)
{
    // Without a cart there is nobody to open drawers for.
    if (m_run.IsAt(static_cast<ULONG>(run), CKelvoSignInRun::Stage::Deciding))
        EndRun(KelvoRunEnd::Failed);
    else
        DropStale(WM_AGENT_AUTHORIZE, static_cast<ULONG>(run));
    return 0;
}
