#include "cartlink/CCartUSBComm.h"
#include "cartlink/CKelvoSrwLockHold.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsCartLink.h"
#include <new>

namespace
{
constexpr DWORD kAnswerDumpLevel = 5;
SRWLOCK g_pathLock = SRWLOCK_INIT;
CStringEx g_devicePath;

// A failed call whose last error says nothing still fails the exchange.
DWORD LastErrorOr(DWORD fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}
}

CStringEx CCartUSBComm::GetDevicePath()
{
    CKelvoSrwLockHold hold(g_pathLock);
    return g_devicePath;
}

void CCartUSBComm::SetDevicePath(LPCWSTR path)
{
    CKelvoSrwLockHold hold(g_pathLock);
    g_devicePath = path;
}

BOOL CCartUSBComm::ClearDevicePathIf(LPCWSTR path)
{
    CKelvoSrwLockHold hold(g_pathLock);
    if (g_devicePath.IsEmpty() || g_devicePath.CompareNoCase(path) != 0)
        return FALSE;
    g_devicePath.Empty();
    return TRUE;
}

BOOL CCartUSBComm::SetStopEvent(const CEventEx& stopEvent)
{
    const DWORD threadId = GetCurrentThreadId();
    CKelvoSrwLockHold hold(m_lock);
    for (StopLink& link : m_stopLinks)
    {
        if (link.threadId == threadId)
        {
            link.stopEvent = stopEvent;
            return TRUE;
        }
    }
    try
    {
        m_stopLinks.push_back({threadId, stopEvent});
        return TRUE;
    }
    catch (const std::bad_alloc&)
    {
        return FALSE;
    }
}

void CCartUSBComm::ClearStopEvent(const CEventEx& stopEvent)
{
    const DWORD threadId = GetCurrentThreadId();
    CKelvoSrwLockHold hold(m_lock);
    for (auto link = m_stopLinks.begin(); link != m_stopLinks.end(); ++link)
    {
        if (link->threadId == threadId && link->stopEvent.GetHandle() == stopEvent.GetHandle())
        {
            m_stopLinks.erase(link);
            return;
        }
    }
}

CEventEx CCartUSBComm::GetStopEvent() const
{
    const DWORD threadId = GetCurrentThreadId();
    CKelvoSrwLockHold hold(m_lock);
    for (const StopLink& link : m_stopLinks)
        if (link.threadId == threadId)
            return link.stopEvent;
    return CEventEx();
}

BOOL CCartUSBComm::TakeIoEvent(CEventEx& ioEvent)
{
    {
        CKelvoSrwLockHold hold(m_lock);
        ioEvent = m_ioEvent;
        m_ioEvent.Close();
    }
    // A kept event needs no reset: WriteFile and ReadFile reset it as their I/O begins.
    return ioEvent.IsValid() || ioEvent.Create();
}

void CCartUSBComm::ReturnIoEvent(const CEventEx& ioEvent)
{
    // No I/O is pending on it any more: every exchange ends with its I/O completed or
    // cancelled and awaited.
    CKelvoSrwLockHold hold(m_lock);
    if (!m_ioEvent.IsValid())
        m_ioEvent = ioEvent;
}

DWORD CCartUSBComm::Transact(const CCartUSBCommRequest* request, CCartUSBCommResponse* response)
{
    if (request == nullptr)
        return KELVO_RESULT_NO_REQUEST;
    const CEventEx stopEvent = GetStopEvent();
    if (stopEvent.IsValid() && stopEvent.IsSet())
        return KELVO_RESULT_STOPPING;

    const CStringEx path = GetDevicePath();
    if (path.IsEmpty())
        return KELVO_RESULT_NO_CART;
    CEventEx ioEvent;
    if (!TakeIoEvent(ioEvent))
        return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);

    // The device is opened afresh for each exchange and closed on every path out of it.
    DWORD result = KELVO_RESULT_NO_CART;
    {
        const CHandleEx device = Open(path);
        if (device.IsValid())
            result = Exchange(device.GetHandle(), *request, response, ioEvent, stopEvent);
    }
    ReturnIoEvent(ioEvent);
    return result;
}

DWORD CCartUSBComm::Exchange(HANDLE device, const CCartUSBCommRequest& request, CCartUSBCommResponse* response,
                             const CEventEx& ioEvent, const CEventEx& stopEvent)
{
    // The whole report is written, whatever the request's own length.
    BYTE report[KELVO_REPORT_SIZE] = {};
    const DWORD toWrite = request.Encode(report, sizeof(report));
    if (toWrite == 0)
        return KELVO_RESULT_NOTHING_TO_SEND;

    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent.GetHandle();
    if (!WriteFile(device, report, toWrite, nullptr, &overlapped))
    {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return error;
        if (WaitForIo(device, overlapped, ioEvent, stopEvent) != IoWait::Completed)
            return KELVO_RESULT_TIMEOUT;
    }
    DWORD written = 0;
    SetLastError(ERROR_SUCCESS);
    if (!GetOverlappedResult(device, &overlapped, &written, FALSE) || written != toWrite)
        return LastErrorOr(ERROR_WRITE_FAULT);

    // The one report read after the request is its answer.
    BYTE answer[KELVO_REPORT_SIZE] = {};
    overlapped = {};
    overlapped.hEvent = ioEvent.GetHandle();
    if (!ReadFile(device, answer, sizeof(answer), nullptr, &overlapped))
    {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
        {
            CUtilLogging::Instance().LogRes(5, IDS_CART_READ_FAILED, error);
            return error;
        }
        if (WaitForIo(device, overlapped, ioEvent, stopEvent) != IoWait::Completed)
        {
            CUtilLogging::Instance().LogRes(5, IDS_CART_READ_TIMED_OUT);
            return KELVO_RESULT_TIMEOUT;
        }
    }
    DWORD read = 0;
    SetLastError(ERROR_SUCCESS);
    GetOverlappedResult(device, &overlapped, &read, FALSE);
    if (read == 0)
    {
        const DWORD error = LastErrorOr(ERROR_READ_FAULT);
        CUtilLogging::Instance().LogRes(5, IDS_CART_READ_FAILED, error);
        return error;
    }

    // Asked without the writer lock: a line being written never holds up the poll.
    if (CUtilLogging::Instance().IsLevelOn(kAnswerDumpLevel))
    {
        CStringEx label;
        CResourceLoader::Instance().LoadString(IDS_CART_ANSWER_DUMP_LABEL, label);
        CUtilLogging::Instance().LogHex(label, answer, read);
    }
    if (response && response->Decode(answer, read % 256) == 0)
        return KELVO_RESULT_BAD_ANSWER;
    return KELVO_RESULT_OK;
}

CCartUSBComm::IoWait CCartUSBComm::WaitForIo(HANDLE device, OVERLAPPED& overlapped, const CEventEx& ioEvent,
                                             const CEventEx& stopEvent)
{
    const HANDLE waitSet[2] = {ioEvent.GetHandle(), stopEvent.GetHandle()};
    const DWORD count = stopEvent.IsValid() ? 2 : 1;
    if (WaitForMultipleObjects(count, waitSet, FALSE, KELVO_EXCHANGE_TIMEOUT_MS) == WAIT_OBJECT_0)
        return IoWait::Completed;

    // The stop event, the time limit or a failed wait: the I/O is given up. Its buffer
    // lives on the caller's stack, so the cancellation is awaited before returning.
    CancelIo(device);
    DWORD ignored = 0;
    GetOverlappedResult(device, &overlapped, &ignored, TRUE);
    return IoWait::Abandoned;
}
