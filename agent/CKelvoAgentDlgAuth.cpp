// The agent window's authorization with the cart: the sign-in's status, the decision,
// drawer access, binding the cart to this computer, the rules of a ready and a faulty
// cart, and the end of drawer access.
#include "agent/CKelvoAgentDlg.h"
#include "agent/CKelvoAuthRules.h"
#include "agent/CKelvoAuthorizer.h"
#include "cartlink/CCartUSBCommRequest.h"
#include "cartlink/CKelvoUSBComm.h"
#include "cartlink/KelvoCartCommand.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "common/PostedObjectEx.h"
#include "common/ui/CMessageBoxEx.h"
#include "common/ui/CUtilAppEx.h"
#include "resources/KVIdsAgent.h"
#include "resources/KVIdsAgentAuth.h"

namespace
{
constexpr DWORD kFailureBoxMs = 5000;

// The result of an answer: a missing response counts as a missing answer.
DWORD AnswerResult(WPARAM result, const void* response)
{
    const DWORD code = static_cast<DWORD>(result);
    return code == KELVO_RESULT_OK && response == nullptr ? static_cast<DWORD>(KELVO_RESULT_BAD_ANSWER) : code;
}
}

bool CKelvoAgentDlg::IsCartReady()
{
    return !m_bSessionAway && m_bCartConnected && m_lastStatus.access == KELVO_ACCESS_READY &&
           m_lastStatus.status == KELVO_STATUS_READY;
}

bool CKelvoAgentDlg::IsCartFault()
{
    return !m_bSessionAway && m_bCartConnected &&
           (m_lastStatus.access != KELVO_ACCESS_READY ||
            (m_lastStatus.status != KELVO_STATUS_READY && m_lastStatus.status != 0x80));
}

bool CKelvoAgentDlg::ReadEndpointName(CStringEx& name)
{
    if (m_spSession && m_spSession->GetClientName(name) && !name.IsEmpty())
        return true;
    name.Empty();
    CUtilLogging::Instance().LogRes(2, IDS_RUN_NO_ENDPOINT_NAME, m_run.GetUser().GetString());
    return false;
}

CADQuery& CKelvoAgentDlg::GetQuery()
{
    if (!m_spQuery)
        m_spQuery = MakeObjectEx<CADQuery>();
    return *m_spQuery;
}

bool CKelvoAgentDlg::SendToCart(UINT message, _CObjectExPtr<CCartUSBCommRequest> request, bool withoutThread)
{
    if (m_spThread)
        return PostToAgentThread(message, std::move(request));
    if (!withoutThread)
        return false;
    // No worker at all: one exchange on this thread with a transport of its own.
    const _CObjectExPtr<CKelvoUSBComm> transport = MakeObjectEx<CKelvoUSBComm>();
    return transport->Transact(request.Get(), nullptr) == KELVO_RESULT_OK;
}

bool CKelvoAgentDlg::SendForRun(ULONG run, UINT message, _CObjectExPtr<CCartUSBCommRequest> request,
                                CKelvoSignInRun::Stage awaiting)
{
    request->SetTag(run);
    if (!SendToCart(message, std::move(request), false))
        return false;
    m_run.MoveTo(awaiting);
    return true;
}

bool CKelvoAgentDlg::SendDrawerAccess(ULONG run, const CStringEx& computerName)
{
    // The cart would take an empty name as a name: such a request is never made.
    if (computerName.IsEmpty() || m_run.GetUser().IsEmpty())
    {
        CUtilLogging::Instance().LogRes(2, IDS_RUN_EMPTY_NAME, static_cast<unsigned>(run));
        return false;
    }
    return SendForRun(run, WM_AGENT_AUTH_DRAWER_ACCESS,
                      MakeObjectEx<CKelvoAuthDrawerAccessRequest>(computerName, m_run.GetUser(),
                                                                  KelvoAuthRules::AccessMode(m_run.GetAuthFlags())),
                      CKelvoSignInRun::Stage::AwaitingAccess);
}

int CKelvoAgentDlg::ShowText(const CStringEx& text, UINT style, DWORD timeoutMs)
{
    return CMessageBoxEx::Show(m_hWnd, text, CUtilAppEx::GetAppTitle(), style, timeoutMs);
}

void CKelvoAgentDlg::FailShown(ULONG run, KelvoRunEnd reason)
{
    // A box lets other messages in: a lock, an unlock and a new sign-in may have come and
    // gone while it was open, and a lock ended this run itself.
    if (m_run.IsCurrent(run))
        EndRun(reason);
}

void CKelvoAgentDlg::FailWithResult(UINT formatId, DWORD result, DWORD timeoutMs, ULONG run)
{
    CStringEx text;
    CResourceLoader::Instance().FormatString(text, formatId, result);
    CUtilLogging::Instance().Log(2, L"%s\n", text.GetString());
    ShowText(text, MB_OK | MB_ICONERROR, timeoutMs);
    FailShown(run);
}

void CKelvoAgentDlg::SendPromptStatus(ULONG run, BYTE status)
{
    _CObjectExPtr<CCartUSBCommRequest> request = MakeObjectEx<CKelvoAuthStatusRequest>(status);
    request->SetTag(run);
    SendToCart(WM_AGENT_SEND, std::move(request), true);
}

LRESULT CKelvoAgentDlg::OnAuthorize(WPARAM, LPARAM lParam, BOOL&)
{
    const ULONG run = static_cast<ULONG>(lParam);
    if (!m_run.IsAt(run, CKelvoSignInRun::Stage::Deciding))
    {
        DropStale(WM_AGENT_AUTHORIZE, run);
        return 0;
    }
    // The decision and the cart both need this computer's name; without it, nothing goes on.
    CStringEx endpoint;
    if (!ReadEndpointName(endpoint))
    {
        EndRun(KelvoRunEnd::Failed);
        return 0;
    }
    CKelvoAuthorizer::Settings settings;
    settings.preAuthorized = m_bPreAuthorized;
    settings.groupList = m_strAuthGroup;
    CKelvoAuthorizer authorizer(GetQuery());
    const CKelvoAuthorizer::Decision decision =
        authorizer.Authorize(settings, m_run.GetUser(), m_run.GetDomain(), endpoint);

    switch (decision.verdict)
    {
    case CKelvoAuthorizer::Verdict::PreAuthorized:
    case CKelvoAuthorizer::Verdict::Authorized:
        if (!SendDrawerAccess(run, endpoint))
            EndRun(KelvoRunEnd::Failed);
        return 0;
    case CKelvoAuthorizer::Verdict::Refused:
    {
        _CObjectExPtr<CCartUSBCommRequest> refusal = MakeObjectEx<CKelvoUnauthorizedUserRequest>(m_run.GetUser());
        refusal->SetTag(run);
        SendToCart(WM_AGENT_UNAUTHORIZED_USER, std::move(refusal), false);
        break;
    }
    case CKelvoAuthorizer::Verdict::NoDomain:
    case CKelvoAuthorizer::Verdict::NoSearchRoot:
        break;
    }
    ShowMessage(decision.messageId, MB_OK | MB_ICONWARNING, 0);
    FailShown(run);
    return 0;
}

LRESULT CKelvoAgentDlg::OnAuthDrawerAccess(WPARAM result, LPARAM response, BOOL&)
{
    // The answer's reference comes with the message; it carries its run's number.
    const _CObjectExPtr<CCartUSBCommResponse> answer = TakePostedObject<CCartUSBCommResponse>(response);
    const ULONG run = answer ? answer->GetTag() : 0;
    if (!m_run.IsAt(run, CKelvoSignInRun::Stage::AwaitingAccess))
    {
        DropStale(WM_AGENT_AUTH_DRAWER_ACCESS, run);
        return 0;
    }
    const auto* access = dynamic_cast<const CKelvoAuthDrawerAccessResponse*>(answer.Get());
    const DWORD code = AnswerResult(result, access);
    if (code != KELVO_RESULT_OK)
    {
        FailWithResult(IDS_AUTH_DRAWER_ACCESS_FAILED, code, kFailureBoxMs, run);
        return 0;
    }

    if (access->IsGranted())
    {
        CUtilLogging::Instance().LogRes(4, IDS_AUTH_ACCESS_GRANTED);
        // Asked after any end of access still owed: that one is overtaken.
        m_bEndAccessOwed = false;
        // A cart that was bound to nobody is bound here now.
        CStringEx endpoint;
        if (m_strBoundComputerName.IsEmpty() && m_spSession && m_spSession->GetClientName(endpoint))
            m_strBoundComputerName = KelvoAuthRules::AsCartStoresName(endpoint);
        EndRun(KelvoRunEnd::Granted);
        return 0;
    }

    // A refusal: whether to rebind is decided by this computer's name.
    CStringEx endpoint;
    if (!ReadEndpointName(endpoint))
    {
        EndRun(KelvoRunEnd::Failed);
        return 0;
    }

    // Refused by a cart bound here: there is nothing to rebind.
    if (KelvoAuthRules::IsBoundTo(m_strBoundComputerName, endpoint))
    {
        FailWithResult(IDS_AUTH_DRAWER_ACCESS_FAILED, ERROR_ACCESS_DENIED, 0, run);
        return 0;
    }

    // Bound to another computer: an administrator of this one may bind it here.
    UINT refusal = 0;
    CKelvoAuthorizer authorizer(GetQuery());
    if (authorizer.MayRebind(m_run.GetUser(), m_run.GetDomain(), endpoint, refusal) !=
        CKelvoAuthorizer::RebindVerdict::Allowed)
    {
        ShowMessage(refusal, MB_OK | MB_ICONWARNING, 0);
        FailShown(run);
        return 0;
    }
    m_run.MoveTo(CKelvoSignInRun::Stage::Asking);
    CStringEx question;
    CResourceLoader::Instance().FormatString(question, IDS_AUTH_REBIND_QUESTION, m_strBoundComputerName.GetString());
    const int answerYesNo = ShowText(question, MB_YESNO | MB_ICONQUESTION,
                                     static_cast<DWORD>(m_settings.promptTimeoutSeconds) * 1000);
    // The question may have stayed open a long while: only a run that is still asking (no
    // lock, disconnect or restart ended it meanwhile) goes on to the cart.
    if (!m_run.IsAt(run, CKelvoSignInRun::Stage::Asking))
        return 0;
    if (answerYesNo != IDYES)
    {
        EndRun(KelvoRunEnd::Declined);
        return 0;
    }
    if (!SendForRun(run, WM_AGENT_BIND_COMPUTER_NAME, MakeObjectEx<CKelvoBindComputerNameRequest>(endpoint),
                    CKelvoSignInRun::Stage::AwaitingBind))
    {
        EndRun(KelvoRunEnd::Failed);
        SetConnected(false);
    }
    return 0;
}

LRESULT CKelvoAgentDlg::OnBindComputerName(WPARAM result, LPARAM response, BOOL&)
{
    const _CObjectExPtr<CCartUSBCommResponse> answer = TakePostedObject<CCartUSBCommResponse>(response);
    const ULONG run = answer ? answer->GetTag() : 0;
    if (!m_run.IsAt(run, CKelvoSignInRun::Stage::AwaitingBind))
    {
        DropStale(WM_AGENT_BIND_COMPUTER_NAME, run);
        return 0;
    }
    const auto* bind = dynamic_cast<const CKelvoBindComputerNameResponse*>(answer.Get());
    const DWORD code = AnswerResult(result, bind);
    if (code != KELVO_RESULT_OK)
    {
        FailWithResult(IDS_AUTH_BIND_FAILED, code, kFailureBoxMs, run);
        return 0;
    }

    // Bound here now: drawer access is asked again, and its answer ends the run, so that a
    // grant is logged and a refusal shown like any other.
    const CStringEx name = bind->GetRequestedName();
    m_strBoundComputerName = KelvoAuthRules::AsCartStoresName(name);
    CUtilLogging::Instance().LogRes(4, IDS_AUTH_REQUEST_ACCESS, m_run.GetUser().GetString(),
                                    m_run.GetDomain().GetString());
    if (!SendDrawerAccess(run, name))
        EndRun(KelvoRunEnd::Failed);
    return 0;
}

LRESULT CKelvoAgentDlg::OnBoundComputerName(WPARAM result, LPARAM response, BOOL&)
{
    const _CObjectExPtr<CCartUSBCommResponse> answer = TakePostedObject<CCartUSBCommResponse>(response);
    const auto* bound = dynamic_cast<const CKelvoBoundComputerNameResponse*>(answer.Get());
    if (result == KELVO_RESULT_OK && bound)
        m_strBoundComputerName = bound->GetBoundName();
    return 0;
}

LRESULT CKelvoAgentDlg::OnEndAccessAnswer(WPARAM result, LPARAM, BOOL&)
{
    if (result == KELVO_RESULT_OK)
    {
        m_bEndAccessOwed = false;
        return 0;
    }
    CUtilLogging::Instance().LogRes(2, IDS_AUTH_END_ACCESS_FAILED);
    // A cart that answered, if badly, heard it and would answer the same again; after any
    // other failure (no cart, no answer, a dropped connection) the next worker asks again.
    if (result == KELVO_RESULT_BAD_ANSWER)
        m_bEndAccessOwed = false;
    return 0;
}

void CKelvoAgentDlg::EndAccess(bool showMessages, bool throughThread)
{
    CUtilLogging& log = CUtilLogging::Instance();
    if (!m_bCartConnected)
    {
        if (showMessages)
            ShowMessage(IDS_AGENT_CART_UNREACHABLE, MB_OK | MB_ICONWARNING, kFailureBoxMs);
        else
            log.LogRes(2, IDS_AGENT_CART_UNREACHABLE);
        return;
    }
    _CObjectExPtr<CCartUSBCommRequest> request = MakeObjectEx<CKelvoEndAccessRequest>();
    if (throughThread && m_spThread)
    {
        // Owed also when the worker cannot take it now: the next one asks again.
        m_bEndAccessOwed = true;
        PostToAgentThread(WM_AGENT_END_ACCESS, std::move(request));
        return;
    }
    const _CObjectExPtr<CKelvoUSBComm> transport = MakeObjectEx<CKelvoUSBComm>();
    if (transport->Transact(request.Get(), nullptr) == KELVO_RESULT_OK)
        log.LogRes(4, IDS_AUTH_ACCESS_ENDED);
    else if (showMessages)
        ShowMessage(IDS_AUTH_END_ACCESS_FAILED, MB_OK | MB_ICONERROR, kFailureBoxMs);
    else
        log.LogRes(2, IDS_AUTH_END_ACCESS_FAILED);
}

LRESULT CKelvoAgentDlg::OnChannelData(WPARAM packetType, LPARAM length, BOOL&)
{
    // The endpoint's data (a pre-authorize byte and a group list) comes from a machine this
    // system does not control: it is taken off the channel and logged, and never grants.
    const DWORD size = static_cast<DWORD>(length);
    DWORD received = 0;
    if (m_spChannel && size > 0)
    {
        std::vector<BYTE> data(size);
        if (m_spChannel->GetData(data.data(), size))
            received = size;
    }
    CUtilLogging::Instance().Log(4, L"Endpoint data arrived on the virtual channel (packet type %u, %u bytes); "
                                    L"drawer access is decided by this computer's configuration only.\n",
                                 static_cast<unsigned>(packetType), static_cast<unsigned>(received));
    m_spChannel.Reset();
    return 0;
}
