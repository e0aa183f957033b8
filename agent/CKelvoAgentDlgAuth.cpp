// The agent window's authorization with the cart: the answers of the cart, the rules of a
// ready and a faulty cart, and the end of drawer access.
#include "agent/CKelvoAgentDlg.h"
#include "cartlink/CCartUSBCommRequest.h"
#include "cartlink/CKelvoUSBComm.h"
#include "cartlink/KelvoCartCommand.h"
#include "common/CUtilLogging.h"
#include "common/PostedObjectEx.h"

bool CKelvoAgentDlg::IsCartReady()
{
    return !m_bSessionAway && m_bCartConnected && m_lastStatus.access == 0x80 && m_lastStatus.status == 0x01;
}

bool CKelvoAgentDlg::IsCartFault()
{
    return !m_bSessionAway && m_bCartConnected &&
           (m_lastStatus.access != 0x80 || (m_lastStatus.status != 0x01 && m_lastStatus.status != 0x80));
}

void CKelvoAgentDlg::EndAccess(bool showMessages, bool throughThread)
{
    CUtilLogging::Instance().Log(4, L"End access requested (messages %d, through the worker %d).\n",
                                 showMessages ? 1 : 0, throughThread ? 1 : 0);
}

LRESULT CKelvoAgentDlg::OnAuthStarted(WPARAM wParam, LPARAM lParam, BOOL& handled)
{
    StopPolling();
    return CCartAgentDlg::OnAuthStarted(wParam, lParam, handled);
}

LRESULT CKelvoAgentDlg::OnAuthResult(WPARAM result, LPARAM lParam, BOOL& handled)
{
    return CCartAgentDlg::OnAuthResult(result, lParam, handled);
}

LRESULT CKelvoAgentDlg::OnAuthorize(WPARAM, LPARAM, BOOL&)
{
    PostMessage(WM_AGENT_AUTH_DONE, 1);
    return 0;
}

LRESULT CKelvoAgentDlg::OnAuthDone(WPARAM code, LPARAM lParam, BOOL& handled)
{
    return CCartAgentDlg::OnAuthDone(code, lParam, handled);
}

LRESULT CKelvoAgentDlg::OnAuthDrawerAccess(WPARAM result, LPARAM response, BOOL&)
{
    // The answer's reference comes with the message.
    const _CObjectExPtr<CObjectEx> answer = TakePostedObject(response);
    CUtilLogging::Instance().Log(4, L"Drawer access answered %u.\n", static_cast<unsigned>(result));
    PostMessage(WM_AGENT_AUTH_DONE, 1);
    return 0;
}

LRESULT CKelvoAgentDlg::OnBindComputerName(WPARAM result, LPARAM response, BOOL&)
{
    const _CObjectExPtr<CObjectEx> answer = TakePostedObject(response);
    CUtilLogging::Instance().Log(4, L"Bind computer name answered %u.\n", static_cast<unsigned>(result));
    PostMessage(WM_AGENT_AUTH_DONE, 1);
    return 0;
}

LRESULT CKelvoAgentDlg::OnBoundComputerName(WPARAM result, LPARAM response, BOOL&)
{
    const _CObjectExPtr<CObjectEx> answer = TakePostedObject(response);
    CUtilLogging::Instance().Log(5, L"Bound computer name answered %u.\n", static_cast<unsigned>(result));
    return 0;
}

LRESULT CKelvoAgentDlg::OnChannelData(WPARAM packetType, LPARAM length, BOOL&)
{
    CUtilLogging::Instance().Log(5, L"Channel data of type %u, %u bytes.\n", static_cast<unsigned>(packetType),
                                 static_cast<unsigned>(length));
    return 0;
}
