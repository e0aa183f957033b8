#include "agent/CKelvoAgentDlg.h"
#include "agent/CKelvoAgentThread.h"
#include "cartlink/CCartUSBCommRequest.h"
#include "cartlink/CKelvoUSBComm.h"
#include "cartlink/KelvoHidApi.h"
#include "common/CUtilLogging.h"
#include "resources/KVResourceIds.h"

namespace
{
// Timer 19's period: a remote session's cart link takes longer to come up.
constexpr UINT kFirstConnectLocalMs = 100;
constexpr UINT kFirstConnectRemoteMs = 500;

// A cart is usable when it can be found (unless one is known already) and opened.
bool OpenCart(CKelvoUSBComm& transport)
{
    if (CCartUSBComm::GetDevicePath().IsEmpty() && !transport.FindDevice())
        return false;
    return transport.Open(nullptr).IsValid();
}
}

KELVO_BEGIN_MESSAGE_MAP(CKelvoAgentDlg, CCartAgentDlg)
    KELVO_MESSAGE(WM_TIMER, &CKelvoAgentDlg::OnTimer)
    KELVO_MESSAGE(WM_DEVICECHANGE, &CKelvoAgentDlg::OnDeviceChange)
    KELVO_MESSAGE(WM_WTSSESSION_CHANGE, &CKelvoAgentDlg::OnSessionChange)
    KELVO_MESSAGE(WM_AGENT_AUTHORIZE, &CKelvoAgentDlg::OnAuthorize)
    KELVO_MESSAGE(WM_AGENT_AUTH_DRAWER_ACCESS, &CKelvoAgentDlg::OnAuthDrawerAccess)
    KELVO_MESSAGE(WM_AGENT_BIND_COMPUTER_NAME, &CKelvoAgentDlg::OnBindComputerName)
    KELVO_MESSAGE(WM_AGENT_BOUND_COMPUTER_NAME, &CKelvoAgentDlg::OnBoundComputerName)
    KELVO_MESSAGE(WM_AGENT_END_ACCESS, &CKelvoAgentDlg::OnEndAccessAnswer)
    KELVO_MESSAGE(WM_AGENT_CHANNEL_DATA, &CKelvoAgentDlg::OnChannelData)
    KELVO_MESSAGE(WM_AGENT_DEVICE_STATUS, &CKelvoAgentDlg::OnDeviceStatus)
KELVO_END_MESSAGE_MAP()

CKelvoAgentDlg::CKelvoAgentDlg() = default;
CKelvoAgentDlg::~CKelvoAgentDlg() = default;

BOOL CKelvoAgentDlg::OnInitDialog()
{
    CCartAgentDlg::OnInitDialog();

    // The worker exists from the start; the connect paths start it.
    m_spThread = new CKelvoAgentThread();
    RegisterForDeviceChanges();
    SetTimer(KELVO_TIMER_CONNECT_CART, m_bIsRemote ? kFirstConnectRemoteMs : kFirstConnectLocalMs);
    return TRUE;
}

void CKelvoAgentDlg::ReadSettings(CConfiguration& config)
{
    CCartAgentDlg::ReadSettings(config);
    m_bPreAuthorized = config.GetBool(IDS_CFG_GRANT_WITHOUT_CHECK) != FALSE;
    config.GetValue(IDS_CFG_AUTH_GROUPS, m_strAuthGroup);

    // Which devices count as the cart.
    std::vector<CStringEx> hardwareIds;
    config.GetList(IDS_CFG_CART_HARDWARE_IDS, hardwareIds);
    CKelvoUSBComm::LoadSupportedDevices(hardwareIds);
}

void CKelvoAgentDlg::RegisterForDeviceChanges()
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    m_deviceNotification.Reset();
    m_deviceNotification.Reset(RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
}

bool CKelvoAgentDlg::StartWorker(_CObjectExPtr<CCartUSBComm> transport)
{
    if (m_spThread && m_spThread->IsRunning())
        m_spThread->Stop();
    if (!m_spThread)
        m_spThread = new CKelvoAgentThread();
    const bool running = m_spThread->Start(std::move(transport), m_hWnd) != FALSE;
    // The old worker took what it still held of a run with it: a request it dropped is
    // never answered, so that run ends here and the next press starts a new one.
    EndRun(KelvoRunEnd::WorkerRestarted);
    // The old worker also dropped an end of access still queued for it (a lock behind a late
    // cart, then a disconnect that cleared the cart's path): the new one asks it first. While
    // the session is away it ends access anyway.
    if (running && (m_bEndAccessOwed || (m_bSessionAway && m_settings.endAccessOnLockAndExit && !m_bIsRemote)))
    {
        m_bEndAccessOwed = true;
        PostToAgentThread(WM_AGENT_END_ACCESS, MakeObjectEx<CKelvoEndAccessRequest>());
    }
    return running;
}

bool CKelvoAgentDlg::ConnectCart()
{
    if (m_bCitrixSessionActive)
        return false;

    bool running = false;
    _CObjectExPtr<CKelvoUSBComm> transport(new CKelvoUSBComm());
    if (OpenCart(*transport))
        running = StartWorker(transport);
    if (running)
        StartPolling();

    // The icon appears with the first attempt, whatever its outcome.
    if (running != m_bCartConnected || !m_notifyIcon.IsAdded())
        SetConnected(running);
    if (m_bWatchLogonScreen)
        SetTimer(KELVO_TIMER_LOGON_SCREEN, 500);
    return running;
}

BOOL CKelvoAgentDlg::Reconnect()
{
    if (m_spThread && m_spThread->IsRunning())
        m_spThread->Stop();
    // The cart is searched for afresh, also when the known one went away unnoticed.
    CCartUSBComm::SetDevicePath(L"");

    bool running = false;
    _CObjectExPtr<CKelvoUSBComm> transport(new CKelvoUSBComm());
    if (OpenCart(*transport))
        running = StartWorker(transport);
    // The worker reports the cart's state only while it polls.
    if (running)
        StartPolling();
    if (running != m_bCartConnected)
        SetConnected(running);
    return running ? TRUE : FALSE;
}

LRESULT CKelvoAgentDlg::OnTimer(WPARAM id, LPARAM lParam, BOOL& handled)
{
    // After the exit the base only kills what is still set.
    if (m_bExited)
        return CCartAgentDlg::OnTimer(id, lParam, handled);
    switch (id)
    {
    case KELVO_TIMER_CONNECT_CART:
        KillTimer(KELVO_TIMER_CONNECT_CART);
        ConnectCart();
        return 0;
    case KELVO_TIMER_LOGON_SCREEN:
        OnLogonScreenConnectTimer();
        break;
    default:
        break;
    }
    return CCartAgentDlg::OnTimer(id, lParam, handled);
}

LRESULT CKelvoAgentDlg::OnDeviceChange(WPARAM event, LPARAM header, BOOL&)
{
    // While a Citrix session has the cart, its arrivals and removals are not this agent's;
    // after the exit (a box may still keep the window's loop running) the cart is left alone.
    if (header == 0 || m_bCitrixSessionActive || m_bExited)
        return TRUE;
    switch (CKelvoUSBComm::OnDeviceChange(event, reinterpret_cast<const DEV_BROADCAST_HDR*>(header)))
    {
    case 0:
        // The known cart was removed.
        if (m_bCartConnected)
            SetConnected(false);
        break;
    case 1:
    {
        // A cart arrived and became current: a new transport opens it on first use.
        const bool running = StartWorker(_CObjectExPtr<CCartUSBComm>(new CKelvoUSBComm()));
        if (!m_bCartConnected)
            SetConnected(true);
        if (running)
        {
            // The connect a timer still waits for is made (an unlock or a Citrix session's
            // end with no cart): made again later, it would restart this worker under the
            // sign-in it may serve by then.
            KillTimer(KELVO_TIMER_CONNECT_CART);
            if (m_bWatchLogonScreen)
                SetTimer(KELVO_TIMER_LOGON_SCREEN, 500);
            StartPolling();
        }
        break;
    }
    default:
        break;
    }
    return TRUE;
}
