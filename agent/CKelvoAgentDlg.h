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

    // Opens a new transport and, when the cart answers, (re)starts the worker thread on it;
    // then follows the outcome with the connected state. With startPolling the worker polls
    // the cart at once; otherwise (the logon-screen watch) the arm step follows instead.
    // True when the worker runs.
    bool ConnectCart(bool startPolling);
    // (Re)starts the worker thread on the transport: stops a running one, creates the
    // thread object when there is none. True when it runs.
    bool StartWorker(_CObjectExPtr<CCartUSBComm> transport);
    // Registers this window for arrivals and removals of HID device interfaces.
    void RegisterForDeviceChanges();

    LRESULT OnTimer(WPARAM id, LPARAM lParam, BOOL& handled);
    LRESULT OnDeviceChange(WPARAM event, LPARAM header, BOOL&);

    // Authorization (CKelvoAgentDlgAuth.cpp).
    LRESULT OnAuthStarted(WPARAM, LPARAM, BOOL&);
    LRESULT OnAuthResult(WPARAM result, LPARAM, BOOL&);
    LRESULT OnAuthorize(WPARAM, LPARAM, BOOL&);
    LRESULT OnAuthDone(WPARAM code, LPARAM, BOOL&);
    LRESULT OnAuthDrawerAccess(WPARAM result, LPARAM response, BOOL&);
    LRESULT OnBindComputerName(WPARAM result, LPARAM response, BOOL&);
    LRESULT OnBoundComputerName(WPARAM result, LPARAM response, BOOL&);
    LRESULT OnChannelData(WPARAM packetType, LPARAM length, BOOL&);

    // Session and cart presence (CKelvoAgentDlgPresence.cpp).
    LRESULT OnSessionChange(WPARAM event, LPARAM sessionId, BOOL&);
    LRESULT OnDeviceStatus(WPARAM, LPARAM status, BOOL&);
    // Timer 15 before the base's watch: while not connected, tries to connect the cart.
    void OnLogonScreenConnectTimer();

    // --- Authorization with the cart (agent-auth) ---
    // The endpoint's name, asked afresh at every use.
    CStringEx GetEndpointName();
    // The directory queries, made at first use.
    CADQuery& GetQuery();
    // Hands a request to the worker; with no worker object at all and withoutThread, one
    // exchange on this thread with a transport of its own. FALSE when it was not sent.
    bool SendToCart(UINT message, _CObjectExPtr<CCartUSBCommRequest> request, bool withoutThread);
    // AuthDrawerAccess with the computer name, the user and the access mode of the sign-in.
    bool SendDrawerAccess(LPCWSTR computerName);
    // A box with the application title and the given text.
    int ShowText(const CStringEx& text, UINT style, DWORD timeoutMs);
    // Ends the run of sign-in `signIn` as shown to the user, unless it ended meanwhile.
    void FailShown(ULONG signIn);
    // Logs and shows a formatted failure with its result, then ends the run as shown.
    void FailWithResult(UINT formatId, DWORD result, DWORD timeoutMs, ULONG signIn);
    // --- end agent-auth ---

    CStringEx m_strBoundComputerName;
    bool m_bPreAuthorized = false;
    CStringEx m_strAuthGroup;
    CartStatus m_lastStatus;
    _CObjectExPtr<CADQuery> m_spQuery;
    CDevNotifyEx m_deviceNotification;
};
