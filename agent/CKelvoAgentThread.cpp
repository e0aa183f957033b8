#include "agent/CKelvoAgentThread.h"
#include "common/CUtilLogging.h"
#include "common/PostedObjectEx.h"
#include "resources/KVIdsCartLink.h"

// The last reported access, status and drawer-button bytes of one run of the worker.
class CKelvoAgentThread::CStatusCache : public CObjectEx
{
public:
    BYTE access = 0;
    BYTE status = 0;
    BYTE button = 0;
    bool gone = false;  // a query found the cart gone; the run stops after telling the window
};

CKelvoAgentThread::CStatusCache* CKelvoAgentThread::GetCache() const
{
    return static_cast<CStatusCache*>(GetRunData());
}

template <class T>
BOOL CKelvoAgentThread::PostObject(HWND window, UINT message, WPARAM wParam, _CObjectExPtr<T> object)
{
    if (!PostToWindow(window, message, wParam, reinterpret_cast<LPARAM>(object.Get())))
        return FALSE;
    object.Detach();
    return TRUE;
}

template <BYTE N>
BOOL CKelvoAgentThread::QueryByte(CCartUSBComm& transport, BYTE& value)
{
    const TKelvoUSBCommRequest<N> request;
    for (int attempt = 1; attempt <= kReconnectAttempts; ++attempt)
    {
        TKelvoUSBCommResponse<N> response;
        const DWORD result = transport.Transact(&request, &response);
        const BYTE answer = response.GetPayload()[0];
        if (answer != value)
            CUtilLogging::Instance().LogRes(5, IDS_CART_POLL_VALUE_CHANGED, static_cast<UINT>(N), result,
                                            static_cast<UINT>(answer));
        if (result == KELVO_RESULT_NO_CART)
        {
            CUtilLogging::Instance().LogRes(2, IDS_CART_NOT_CONNECTED, static_cast<UINT>(N));
            if (!transport.FindDevice() || attempt == kReconnectAttempts)
            {
                // The cart is gone for good: this run ends once the window knows (StopIfGone);
                // the cart's return starts a new one.
                if (CStatusCache* cache = GetCache())
                    cache->gone = true;
                else
                    Stop();
                return FALSE;
            }
            continue;
        }
        if (result != KELVO_RESULT_OK)
            return FALSE;
        value = answer;
        return TRUE;
    }
    return FALSE;
}

BOOL CKelvoAgentThread::QueryStatus(CCartUSBComm& transport, BYTE& access, BYTE& status)
{
    return QueryByte<KELVO_CMD_QUERY_ACCESS>(transport, access) && QueryByte<KELVO_CMD_QUERY_STATUS>(transport, status);
}

void CKelvoAgentThread::PollStatus(CCartUSBComm& transport, HWND window, BOOL firstRun)
{
    CStatusCache* cache = GetCache();
    if (cache == nullptr)
        return;
    // The first poll after a registration reports any state that is not all zero.
    if (firstRun == 1)
        cache->access = cache->status = cache->button = 0;

    BYTE access = cache->access;
    BYTE status = cache->status;
    BYTE button = cache->button;
    if (QueryStatus(transport, access, status) && access == KELVO_ACCESS_READY && status == KELVO_STATUS_READY)
        QueryByte<KELVO_CMD_POLL_FOR_DRAWER_BTN>(transport, button);
    if (StopIfGone(window))
        return;

    if (access == cache->access && status == cache->status && button == cache->button)
        return;
    cache->access = access;
    cache->status = status;
    cache->button = button;
    PostObject(window, WM_AGENT_DEVICE_STATUS, 0, CreateDeviceStatus(access, status, button));
}

bool CKelvoAgentThread::StopIfGone(HWND window)
{
    CStatusCache* cache = GetCache();
    if (cache == nullptr || !cache->gone)
        return false;
    // Nobody else would tell the window: a run waiting for the cart, and the cart's icon,
    // learn it here, before the stop keeps anything more from being posted.
    PostToWindow(window, WM_AGENT_DEVICE_STATUS, KELVO_RESULT_NO_CART, 0);
    Stop();
    return true;
}

_CObjectExPtr<CCartUSBCommResponse> CKelvoAgentThread::CreateResponse(BYTE command)
{
    switch (command)
    {
    case KELVO_CMD_AUTH_DRAWER_ACCESS:
        return MakeObjectEx<CKelvoAuthDrawerAccessResponse>();
    case KELVO_CMD_BIND_COMPUTER_NAME:
        return MakeObjectEx<CKelvoBindComputerNameResponse>();
    case KELVO_CMD_BOUND_COMPUTER_NAME:
        return MakeObjectEx<CKelvoBoundComputerNameResponse>();
    default:
        return nullptr;
    }
}

_CObjectExPtr<CKelvoDeviceStatusResponse> CKelvoAgentThread::CreateDeviceStatus(BYTE access, BYTE status, BYTE button)
{
    return MakeObjectEx<CKelvoDeviceStatusResponse>(access, status, button);
}

void CKelvoAgentThread::TransactAndAnswer(CCartUSBComm* transport, HWND window, UINT message, BYTE command,
                                          LPARAM lParam)
{
    const _CObjectExPtr<CCartUSBCommRequest> request = TakePostedObject<CCartUSBCommRequest>(lParam);
    if (transport == nullptr)
        return;
    _CObjectExPtr<CCartUSBCommResponse> response = CreateResponse(command);
    // The answer carries the number of the work that asked, and the window learns which
    // name it asked the cart to bind.
    if (request && response)
        response->SetTag(request->GetTag());
    auto* bindRequest = dynamic_cast<const CKelvoBindComputerNameRequest*>(request.Get());
    auto* bindResponse = dynamic_cast<CKelvoBindComputerNameResponse*>(response.Get());
    if (bindRequest && bindResponse)
        bindResponse->SetRequestedName(bindRequest->GetName());
    const DWORD result = transport->Transact(request.Get(), response.Get());
    PostObject(window, message, result, std::move(response));
}

LRESULT CKelvoAgentThread::OnMessage(CCartUSBComm* transport, WPARAM wParam, UINT message, LPARAM lParam)
{
    const HWND window = reinterpret_cast<HWND>(wParam);
    try
    {
        switch (message)
        {
        case WM_AGENT_SET_TIMER:
            return CCartUSBCommThread::OnMessage(transport, wParam, message, lParam);
        case WM_AGENT_END_ACCESS:
        {
            // The window keeps an end of access owed until it learns that the cart was reached.
            const _CObjectExPtr<CCartUSBCommRequest> request = TakePostedObject<CCartUSBCommRequest>(lParam);
            if (transport)
                PostToWindow(window, message, transport->Transact(request.Get(), nullptr), 0);
            return 0;
        }
        case WM_AGENT_SEND:
        case WM_AGENT_UNAUTHORIZED_USER:
        {
            // The cart's answer is read and dropped.
            const _CObjectExPtr<CCartUSBCommRequest> request = TakePostedObject<CCartUSBCommRequest>(lParam);
            if (transport)
                transport->Transact(request.Get(), nullptr);
            return 0;
        }
        case WM_AGENT_AUTH_DRAWER_ACCESS:
            TransactAndAnswer(transport, window, message, KELVO_CMD_AUTH_DRAWER_ACCESS, lParam);
            return 0;
        case WM_AGENT_BIND_COMPUTER_NAME:
            TransactAndAnswer(transport, window, message, KELVO_CMD_BIND_COMPUTER_NAME, lParam);
            return 0;
        case WM_AGENT_DEVICE_STATUS:
            if (transport)
                PollStatus(*transport, window, static_cast<BOOL>(lParam));
            return 0;
        default:
            return 0;
        }
    }
    catch (const std::bad_alloc&)
    {
        // No answer could be made; the window sees no reply, as for a cart that is gone.
        return 0;
    }
}

BOOL CKelvoAgentThread::OnStart(_CObjectExPtr<CCartUSBComm> transport, HWND window)
{
    SetRunData(MakeObjectEx<CStatusCache>());
    CStatusCache* cache = GetCache();

    // The window learns the cart's state at once, whatever the queries gave.
    if (QueryStatus(*transport, cache->access, cache->status))
        QueryByte<KELVO_CMD_POLL_FOR_DRAWER_BTN>(*transport, cache->button);
    if (StopIfGone(window))
        return TRUE;
    PostObject(window, WM_AGENT_DEVICE_STATUS, 0, CreateDeviceStatus(cache->access, cache->status, cache->button));

    const TKelvoUSBCommRequest<KELVO_CMD_BOUND_COMPUTER_NAME> request;
    _CObjectExPtr<CCartUSBCommResponse> response = CreateResponse(KELVO_CMD_BOUND_COMPUTER_NAME);
    const DWORD result = transport->Transact(&request, response.Get());
    PostObject(window, WM_AGENT_BOUND_COMPUTER_NAME, result, std::move(response));
    return TRUE;
}

BOOL CKelvoAgentThread::OnQuit(_CObjectExPtr<CCartUSBComm> transport, BOOL quitting)
{
    return CCartUSBCommThread::OnQuit(std::move(transport), quitting);
}

void CKelvoAgentThread::OnExit(_CObjectExPtr<CCartUSBComm> transport)
{
    SetRunData(nullptr);
    CCartUSBCommThread::OnExit(std::move(transport));
}
