#pragma once
#include "agent/CCartAgentDlg.h"
#include "common/CADQuery.h"
#include <dbt.h>

// Owner of a device-notification registration, unregistered when the owner goes.
namespace kelvo_detail
{
struct DevNotifyTraits
{
    using Type = HDEVNOTIFY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { UnregisterDeviceNotification(h); }
};
}
using CDevNotifyEx = CUniqueAnyEx<kelvo_detail::DevNotifyTraits>;

// The agent window with the cart: it connects the cart (timer 19, device arrival, the
// reconnect command), follows cart arrival and removal, holds the last cart status and
// the cart's bound computer name, and decides with the directory whether a signed-in user
// may open the drawers.
//
// Bodies: the cart connection and settings in CKelvoAgentDlg.cpp; authorization in
// CKelvoAgentDlgAuth.cpp; session and cart presence in CKelvoAgentDlgPresence.cpp.
class CKelvoAgentDlg : public CCartAgentDlg
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    CKelvoAgentDlg();
    ~CKelvoAgentDlg() override;

    void EndAccess(bool showMessages, bool throughThread) override;
    BOOL Reconnect() override;
    bool IsCartReady() override;
    bool IsCartFault() override;

    // The last cart status: access, status and drawer button bytes.
    struct CartStatus
    {
        BYTE access = 0;
        BYTE status = 0;
        BYTE button = 0;
    };

protected:
    BOOL OnInitDialog() override;
    void ReadSettings(CConfiguration& config) override;

    // Opens a new transport and, when the cart answers, (re)starts the worker thread on it
    // and polls the cart; then follows the outcome with the connected state. True when the
    // worker runs.
    bool ConnectCart();
    // (Re)starts the worker thread on the transport: stops a running one, creates the
    // thread object when there is none. A sign-in run ends with the worker it used. True
    // when the new worker runs.
    bool StartWorker(_CObjectExPtr<CCartUSBComm> transport);
    // Registers this window for arrivals and removals of HID device interfaces.
    void RegisterForDeviceChanges();

    LRESULT OnTimer(WPARAM id, LPARAM lParam, BOOL& handled);
    LRESULT OnDeviceChange(WPARAM event, LPARAM header, BOOL&);

    // Authorization (CKelvoAgentDlgAuth.cpp). The run of a cart's answer is the number its
    // request carried.
    LRESULT OnAuthorize(WPARAM, LPARAM run, BOOL&);
    LRESULT OnAuthDrawerAccess(WPARAM result, LPARAM response, BOOL&);
    LRESULT OnBindComputerName(WPARAM result, LPARAM response, BOOL&);
    LRESULT OnBoundComputerName(WPARAM result, LPARAM response, BOOL&);
    // The worker's answer to an end of access: wParam = the exchange's result.
    LRESULT OnEndAccessAnswer(WPARAM result, LPARAM, BOOL&);
    LRESULT OnChannelData(WPARAM packetType, LPARAM length, BOOL&);

    // Session and cart presence (CKelvoAgentDlgPresence.cpp).
    LRESULT OnSessionChange(WPARAM event, LPARAM sessionId, BOOL&);
    LRESULT OnDeviceStatus(WPARAM, LPARAM status, BOOL&);
    // Timer 15 before the base's watch: while not connected, tries to connect the cart.
    void OnLogonScreenConnectTimer();

    // --- Authorization with the cart (agent-auth) ---
    void SendPromptStatus(ULONG run, BYTE status) override;
    // The endpoint's name, asked afresh at every use; FALSE, logged, when it cannot be read.
    bool ReadEndpointName(CStringEx& name);
    // The directory queries, made at first use.
    CADQuery& GetQuery();
    // Hands a request to the worker; with no worker object at all and withoutThread, one
    // exchange on this thread with a transport of its own. FALSE when it was not sent.
    bool SendToCart(UINT message, _CObjectExPtr<CCartUSBCommRequest> request, bool withoutThread);
    // Hands run `run`'s request to the worker, the run's number on it; with `awaiting` the
    // run then waits at that stage for the answer. FALSE when it was not handed over.
    bool SendForRun(ULONG run, UINT message, _CObjectExPtr<CCartUSBCommRequest> request,
                    CKelvoSignInRun::Stage awaiting);
    // AuthDrawerAccess with the computer name, the user and the access mode of the run;
    // refused, and logged, when a name is empty.
    bool SendDrawerAccess(ULONG run, const CStringEx& computerName);
    // A box with the application title and the given text.
    int ShowText(const CStringEx& text, UINT style, DWORD timeoutMs);
    // Ends run `run` as shown to the user, unless it ended meanwhile.
    void FailShown(ULONG run, KelvoRunEnd reason = KelvoRunEnd::FailedShown);
    // Logs and shows a formatted failure with its result, then ends the run as shown.
    void FailWithResult(UINT formatId, DWORD result, DWORD timeoutMs, ULONG run);
    // --- end agent-auth ---

    CStringEx m_strBoundComputerName;
    // An end of access was asked of a worker and the cart has not been reached with it: a
    // worker that stops drops its queue, so each new one asks again until the cart hears it
    // or grants the current run.
    bool m_bEndAccessOwed = false;
    bool m_bPreAuthorized = false;
    CStringEx m_strAuthGroup;
    CartStatus m_lastStatus;
    _CObjectExPtr<CADQuery> m_spQuery;
    CDevNotifyEx m_deviceNotification;
};
