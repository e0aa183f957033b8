#pragma once
#include "cartlink/CCartUSBCommRequest.h"
#include "cartlink/CCartUSBCommResponse.h"
#include "cartlink/KelvoCartResult.h"
#include "common/CHandleEx.h"
#include <vector>

// A link to the cart that performs one request/response exchange at a time in 64-byte
// reports. A transport is used by one thread at a time: its worker while a worker owns it.
// Only a worker that a new start replaced without waiting may still be ending an exchange
// meanwhile; its stop event and its I/O event stay its own.
class CCartUSBComm : public CObjectEx
{
public:
    // Searches for a supported cart and makes it current; TRUE when one was found.
    virtual BOOL FindDevice() = 0;
    // Opens a device path (the current one when empty) for overlapped I/O; an empty
    // wrapper when it cannot be opened.
    virtual CHandleEx Open(LPCWSTR path) = 0;
    virtual BOOL IsSupportedDevice(LPCWSTR path) = 0;
    // Reads and logs the cart's identity: 0 done or not wanted, 1 to be asked again later.
    virtual DWORD QueryDeviceIdentity() { return 0; }

    // One exchange: writes the request and reads one answer into the response (read and
    // dropped when there is none). Returns a result code of KelvoCartResult.h.
    DWORD Transact(const CCartUSBCommRequest* request, CCartUSBCommResponse* response);

    // Links the stop event of the worker on the calling thread: its exchanges end as soon as
    // it is signalled. Each thread has its own link, so a worker that a new start replaced
    // without waiting still sees its own stop while the new worker uses the transport.
    // Cleared only with the event that was set. FALSE when the link could not be made.
    BOOL SetStopEvent(const CEventEx& stopEvent);
    void ClearStopEvent(const CEventEx& stopEvent);

    // The device interface path of the cart in use, shared by every transport of the
    // process; empty when no cart is known.
    static CStringEx GetDevicePath();
    static void SetDevicePath(LPCWSTR path);
    // Clears the current path when it names this device, regardless of case; TRUE if it did.
    static BOOL ClearDevicePathIf(LPCWSTR path);

protected:
    CCartUSBComm() = default;

private:
    enum class IoWait { Completed, Abandoned };
    struct StopLink
    {
        DWORD threadId;
        CEventEx stopEvent;
    };
    // The stop event linked by the calling thread; empty when it linked none.
    CEventEx GetStopEvent() const;
    // The I/O event for one exchange, reset. An exchange that overlaps another (a replaced
    // worker's still ending) gets one of its own, so no completion wakes the other's wait.
    BOOL TakeIoEvent(CEventEx& ioEvent);
    void ReturnIoEvent(const CEventEx& ioEvent);
    // Waits for the pending I/O on the device; anything but its completion cancels it and
    // waits until the cancellation is through, so the buffers are free again.
    static IoWait WaitForIo(HANDLE device, OVERLAPPED& overlapped, const CEventEx& ioEvent, const CEventEx& stopEvent);
    static DWORD Exchange(HANDLE device, const CCartUSBCommRequest& request, CCartUSBCommResponse* response,
                          const CEventEx& ioEvent, const CEventEx& stopEvent);

    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    CEventEx m_ioEvent;
    std::vector<StopLink> m_stopLinks;
};
