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

CStringEx CKelvoAgentDlg::GetEndpointName()
{
    CStringEx name;
    if (m_spSession)
        m_spSession->GetClientName(name);
    return name;
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

bool CKelvoAgentDlg::SendDrawerAccess(LPCWSTR computerName)
{
    return SendToCart(WM_AGENT_AUTH_DRAWER_ACCESS,
                      MakeObjectEx<CKelvoAuthDrawerAccessRequest>(computerName, m_signOn.m_strUserName,
                                                                  KelvoAuthRules::AccessMode(m_signOn.m_nAuthFlags)),
                      false);
}

int CKelvoAgentDlg::ShowText(const CStringEx& text, UINT style, DWORD timeoutMs)
{
    return CMessageBoxEx::Show(m_hWnd, text, CUtilAppEx::GetAppTitle(), style, timeoutMs);
}

void CKelvoAgentDlg::FailShown(ULONG signIn)
{
    // A box lets other messages in: a lock, an unlock and a new sign-in may have come and
    // gone while it was open, and a lock ended this run itself.
    if (IsSameSignIn(signIn))
        EndRun(2);
}

void CKelvoAgentDlg::FailWithResult(UINT formatId, DWORD result, DWORD timeoutMs, ULONG signIn)
{
    CStringEx text;
    CResourceLoader::Instance().FormatString(text, formatId, result);
    CUtilLogging::Instance().Log(2, L"%s\n", text.GetString());
    ShowText(text, MB_OK | MB_ICONERROR, timeoutMs);
    FailShown(signIn);
}

LRESULT CKelvoAgentDlg::OnAuthStarted(WPARAM wParam, LPARAM lParam, BOOL& handled)
{
    StopPolling();
    SendToCart(WM_AGENT_SEND, MakeObjectEx<CKelvoAuthStatusRequest>(KELVO_AUTH_STATUS_PROMPT_OPEN), true);
    return CCartAgentDlg::OnAuthStarted(wParam, lParam, handled);
}

LRESULT CKelvoAgentDlg::OnAuthResult(WPARAM result, LPARAM lParam, BOOL& handled)
{
    SendToCart(WM_AGENT_SEND, MakeObjectEx<CKelvoAuthStatusRequest>(KELVO_AUTH_STATUS_RESULT_IN), true);
    return CCartAgentDlg::OnAuthResult(result, lParam, handled);
}

LRESULT CKelvoAgentDlg::OnAuthorize(WPARAM, LPARAM, BOOL&)
{
    if (!m_signOn.m_bUserSignedIn)
    {
        EndRun(1);
        return 0;
    }
    const ULONG signIn = m_nSignIn;
    const CStringEx endpoint = GetEndpointName();
    CKelvoAuthorizer::Settings settings;
    settings.preAuthorized = m_bPreAuthorized;
    settings.groupList = m_strAuthGroup;
    CKelvoAuthorizer authorizer(GetQuery());
    const CKelvoAuthorizer::Decision decision =
        authorizer.Authorize(settings, m_signOn.m_strUserName, m_signOn.m_strUserDomain, endpoint);

    switch (decision.verdict)
    {
    case CKelvoAuthorizer::Verdict::PreAuthorized:
    case CKelvoAuthorizer::Verdict::Authorized:
        if (!SendDrawerAccess(endpoint))
            EndRun(1);
        return 0;
    case CKelvoAuthorizer::Verdict::Refused:
        SendToCart(WM_AGENT_UNAUTHORIZED_USER, MakeObjectEx<CKelvoUnauthorizedUserRequest>(m_signOn.m_strUserName),
                   false);
        break;
    case CKelvoAuthorizer::Verdict::NoDomain:
    case CKelvoAuthorizer::Verdict::NoSearchRoot:
        break;
    }
    ShowMessage(decision.messageId, MB_OK | MB_ICONWARNING, 0);
    FailShown(signIn);
    return 0;
}

LRESULT CKelvoAgentDlg::OnAuthDone(WPARAM code, LPARAM lParam, BOOL& handled)
{
    return CCartAgentDlg::OnAuthDone(code, lParam, handled);
}

LRESULT CKelvoAgentDlg::OnAuthDrawerAccess(WPARAM result, LPARAM response, BOOL&)
{
    // The answer's reference comes with the message.
    const _CObjectExPtr<CCartUSBCommResponse> answer = TakePostedObject<CCartUSBCommResponse>(response);
    if (!m_signOn.m_bUserSignedIn)
    {
        EndRun(1);
        return 0;
    }
    const ULONG signIn = m_nSignIn;
    const auto* access = dynamic_cast<const CKelvoAuthDrawerAccessResponse*>(answer.Get());
    const DWORD code = AnswerResult(result, access);
    if (code != KELVO_RESULT_OK)
    {
        FailWithResult(IDS_AUTH_DRAWER_ACCESS_FAILED, code, kFailureBoxMs, signIn);
        return 0;
    }

    const CStringEx endpoint = GetEndpointName();
    if (access->IsGranted())
    {
        CUtilLogging::Instance().LogRes(4, IDS_AUTH_ACCESS_GRANTED);
        if (m_strBoundComputerName.IsEmpty())
            m_strBoundComputerName = KelvoAuthRules::AsCartStoresName(endpoint);
        EndRun(0);
        return 0;
    }

    // Refused by a cart bound here: there is nothing to rebind.
    if (KelvoAuthRules::IsBoundTo(m_strBoundComputerName, endpoint))
    {
        FailWithResult(IDS_AUTH_DRAWER_ACCESS_FAILED, ERROR_ACCESS_DENIED, 0, signIn);
        return 0;
    }

    // Bound to another computer: an administrator of this one may bind it here.
    UINT refusal = 0;
    CKelvoAuthorizer authorizer(GetQuery());
    if (authorizer.MayRebind(m_signOn.m_strUserName, m_signOn.m_strUserDomain, endpoint, refusal) !=
        CKelvoAuthorizer::RebindVerdict::Allowed)
    {
        ShowMessage(refusal, MB_OK | MB_ICONWARNING, 0);
        FailShown(signIn);
        return 0;
    }
    CStringEx question;
    CResourceLoader::Instance().FormatString(question, IDS_AUTH_REBIND_QUESTION, m_strBoundComputerName.GetString());
    const int answerYesNo = ShowText(question, MB_YESNO | MB_ICONQUESTION,
                                     static_cast<DWORD>(m_settings.promptTimeoutSeconds) * 1000);
    // The question may have stayed open a long while: only the same sign-in of a present
    // session goes on to the cart.
    if (!IsSameSignIn(signIn))
        return 0;
    if (answerYesNo != IDYES)
    {
        EndRun(2);
        return 0;
    }
    if (!SendToCart(WM_AGENT_BIND_COMPUTER_NAME, MakeObjectEx<CKelvoBindComputerNameRequest>(endpoint), false))
    {
        SetConnected(false);
        EndRun(1);
    }
    return 0;
}

LRESULT CKelvoAgentDlg::OnBindComputerName(WPARAM result, LPARAM response, BOOL&)
{
    const _CObjectExPtr<CCartUSBCommResponse> answer = TakePostedObject<CCartUSBCommResponse>(response);
    if (!m_signOn.m_bUserSignedIn)
    {
        EndRun(1);
        return 0;
    }
    const ULONG signIn = m_nSignIn;
    const auto* bind = dynamic_cast<const CKelvoBindComputerNameResponse*>(answer.Get());
    const DWORD code = AnswerResult(result, bind);
    if (code != KELVO_RESULT_OK)
    {
        FailWithResult(IDS_AUTH_BIND_FAILED, code, kFailureBoxMs, signIn);
        return 0;
    }

    // Bound here now: drawer access is asked again, and its answer ends the run, so that a
    // grant is logged and a refusal shown like any other.
    const CStringEx name = bind->GetRequestedName();
    m_strBoundComputerName = KelvoAuthRules::AsCartStoresName(name);
    CUtilLogging::Instance().LogRes(4, IDS_AUTH_REQUEST_ACCESS, m_signOn.m_strUserName.GetString(),
                                    m_signOn.m_strUserDomain.GetString());
    if (!SendDrawerAccess(name))
        EndRun(1);
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
