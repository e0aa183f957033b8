#include "cartlink/CCommThread.h"
#include "cartlink/CKelvoSrwLockHold.h"
#include "common/CErrorEx.h"
#include <memory>
#include <new>

// What a run of the worker owns: handed to the new thread, which keeps it in the object's
// thread-local slot and frees it when the run ends. It holds a reference to the thread
// object, so the object outlives every run of its worker.
struct CCommThread::StartBlock
{
    StartBlock(CCommThread* owner, _CObjectExPtr<CCartUSBComm> link, HWND window)
        : thread(owner), transport(std::move(link)), parameter(window) {}
    ~StartBlock() { FreeTimers(); }
    StartBlock(const StartBlock&) = delete;
    StartBlock& operator=(const StartBlock&) = delete;

    void FreeTimers()
    {
        while (KelvoTimerRecord* record = timers)
        {
            timers = record->next;
            if (record->timerId)
                KillTimer(nullptr, record->timerId);
            delete record;
        }
    }

    _CObjectExPtr<CCommThread> thread;
    _CObjectExPtr<CCartUSBComm> transport;
    CEventEx stopEvent;
    CEventEx readyEvent;
    KelvoTimerRecord* timers = nullptr;
    HWND parameter;
    _CObjectExPtr<CObjectEx> runData;
};

namespace
{
constexpr DWORD kThreadFailed = 0xFFFFFFFF;
// How long a stopping worker waits for the quit message that follows its stop event.
constexpr DWORD kQuitWaitMs = 2000;

void TraceExit()
{
    OutputDebugStringW(L"Unknown Error - CommThread exiting.\n");
}
}

CCommThread::~CCommThread()
{
    if (m_tlsIndex != TLS_OUT_OF_INDEXES)
        TlsFree(m_tlsIndex);
}

DWORD CCommThread::GetThreadId() const
{
    CKelvoSrwLockHold hold(m_lock);
    return m_threadId;
}

bool CCommThread::IsRunning() const
{
    CKelvoSrwLockHold hold(m_lock);
    return m_thread.IsRunning();
}

BOOL CCommThread::LinkTransport(CCartUSBComm*, const CEventEx&) { return TRUE; }
void CCommThread::UnlinkTransport(CCartUSBComm*, const CEventEx&) {}

CCommThread::StartBlock* CCommThread::GetStartBlock() const
{
    return m_tlsIndex == TLS_OUT_OF_INDEXES ? nullptr : static_cast<StartBlock*>(TlsGetValue(m_tlsIndex));
}

CObjectEx* CCommThread::GetRunData() const
{
    StartBlock* block = GetStartBlock();
    return block ? block->runData.Get() : nullptr;
}

void CCommThread::SetRunData(_CObjectExPtr<CObjectEx> data)
{
    if (StartBlock* block = GetStartBlock())
        block->runData = std::move(data);
}

DWORD CCommThread::TakeRun(CThreadEx& thread, CEventEx& stopEvent)
{
    CKelvoSrwLockHold hold(m_lock);
    thread = m_thread;
    stopEvent = m_stopEvent;
    const DWORD threadId = m_threadId;
    m_thread.Close();
    m_stopEvent.Close();
    m_threadId = 0;
    return threadId;
}

BOOL CCommThread::Start(_CObjectExPtr<CCartUSBComm> transport, HWND window)
{
    // A previous worker is asked to stop but not waited for; it ends on its own.
    CThreadEx previous;
    CEventEx previousStop;
    const DWORD previousId = TakeRun(previous, previousStop);
    if (previous.IsRunning())
        AskToStop(previous, previousStop, previousId);
    if (!transport)
        return FALSE;

    CEventEx stopEvent;
    CEventEx readyEvent;
    CThreadEx thread;
    DWORD threadId = 0;
    StartBlock* started = nullptr;
    try
    {
        if (m_tlsIndex == TLS_OUT_OF_INDEXES)
        {
            m_tlsIndex = TlsAlloc();
            if (m_tlsIndex == TLS_OUT_OF_INDEXES)
                ThrowWin32(ERROR_NOT_ENOUGH_MEMORY);
        }
        auto block = std::make_unique<StartBlock>(this, transport, window);
        if (m_readyEvent.IsValid() ? !m_readyEvent.Reset() : !m_readyEvent.Create())
            ThrowWin32(ERROR_NOT_ENOUGH_MEMORY);
        if (!stopEvent.Create())
            ThrowWin32(ERROR_NOT_ENOUGH_MEMORY);
        readyEvent = m_readyEvent;
        block->stopEvent = stopEvent;
        block->readyEvent = readyEvent;

        // The thread waits until its run is published: a stop it makes from its start hook,
        // or the end of a worker whose start hook failed, must find the run it belongs to.
        threadId = thread.Create(ThreadProc, block.get(), CREATE_SUSPENDED, kStackReserve);
        ThrowLastErrorIf(threadId == 0);
        started = block.release();
    }
    catch (const CErrorEx&)
    {
        stopEvent.Set();
        return FALSE;
    }
    catch (const std::bad_alloc&)
    {
        stopEvent.Set();
        return FALSE;
    }
    {
        CKelvoSrwLockHold hold(m_lock);
        m_thread = thread;
        m_stopEvent = stopEvent;
        m_threadId = threadId;
    }
    if (!thread.Resume())
    {
        // The thread never ran a line of its own: the block is still this call's.
        TerminateThread(thread.GetHandle(), kThreadFailed);
        thread.Wait(kStopTimeoutMs);
        delete started;
        stopEvent.Set();
        CloseFailedRun(threadId);
        return FALSE;
    }

    if (readyEvent.Wait(kStartTimeoutMs) != WAIT_OBJECT_0)
    {
        // The worker never got its queue: tell it to stop if it still runs.
        if (thread.IsRunning())
            AskToStop(thread, stopEvent, threadId);
        CloseFailedRun(threadId);
        return FALSE;
    }
    if (stopEvent.IsSet())
    {
        // The worker could not set itself up (or its start hook already stopped it); it
        // unties the transport and frees its block itself.
        CloseFailedRun(threadId);
        return FALSE;
    }
    return TRUE;
}

void CCommThread::AskToStop(const CThreadEx& thread, const CEventEx& stopEvent, DWORD threadId)
{
    stopEvent.Set();
    // A worker that stopped itself has already given up its ID; its thread still has one.
    if (threadId == 0)
        threadId = ::GetThreadId(thread.GetHandle());
    if (threadId != 0)
        PostThreadMessageW(threadId, WM_QUIT, 0, 0);
}

void CCommThread::CloseFailedRun(DWORD threadId)
{
    // No more work is taken for a run that failed to start: its thread ID may soon name
    // another thread of the process.
    CKelvoSrwLockHold hold(m_lock);
    m_stopEvent.Close();
    if (m_threadId == threadId)
        m_threadId = 0;
}

void CCommThread::Stop()
{
    // On a worker, the stop is that worker's own: a worker that Start has already replaced
    // must not stop its successor. The run stays with the object, so that the owner's Stop
    // still waits for this worker's end; only its thread ID goes, so no more work comes.
    if (StartBlock* own = GetStartBlock())
    {
        own->stopEvent.Set();
        const DWORD self = GetCurrentThreadId();
        {
            CKelvoSrwLockHold hold(m_lock);
            if (m_threadId == self)
                m_threadId = 0;
        }
        // The worker cannot wait for its own end: its loop ends once the handler returns.
        PostThreadMessageW(self, WM_QUIT, 0, 0);
        return;
    }

    CThreadEx thread;
    CEventEx stopEvent;
    const DWORD threadId = TakeRun(thread, stopEvent);
    if (!thread.IsRunning())
        return;
    AskToStop(thread, stopEvent, threadId);
    thread.Wait(kStopTimeoutMs);
}

DWORD WINAPI CCommThread::ThreadProc(LPVOID parameter)
{
    std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(parameter));
    if (!block || !block->thread)
        return kThreadFailed;
    // Copies: the block (and with it possibly the thread object) goes before the thread ends.
    const CEventEx stopEvent = block->stopEvent;
    const CEventEx readyEvent = block->readyEvent;
    if (!stopEvent.IsValid() || !readyEvent.IsValid())
        return kThreadFailed;
    CCommThread& self = *block->thread;
    const DWORD tlsIndex = self.m_tlsIndex;
    if (!TlsSetValue(tlsIndex, block.get()))
    {
        stopEvent.Set();
        readyEvent.Set();
        return kThreadFailed;
    }

    DWORD code = kThreadFailed;
    if (block->transport)
        code = self.Loop(*block);
    if (code != kThreadFailed)
        self.UnlinkTransport(block->transport.Get(), stopEvent);
    else
    {
        stopEvent.Set();
        readyEvent.Set();
    }
    TlsSetValue(tlsIndex, nullptr);
    block.reset();
    return code;
}

DWORD CCommThread::Loop(StartBlock& block)
{
    if (!block.transport)
        return kThreadFailed;
    // The queue exists, and the transport knows this run's stop event, before the owner
    // learns that the worker is ready.
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (!LinkTransport(block.transport.Get(), block.stopEvent))
        return kThreadFailed;
    block.readyEvent.Set();

    try
    {
        if (!OnStart(block.transport, block.parameter))
        {
            CloseQueue();
            return 0;
        }
        BOOL quitting = FALSE;
        for (;;)
        {
            const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            const bool isQuit = got == 0 || got == -1;
            if (!isQuit && !block.stopEvent.IsSet())
            {
                Dispatch(block, msg);
                continue;
            }
            if (isQuit)
                quitting = TRUE;
            else
                ReleaseMessage(msg);
            if (OnQuit(block.transport, quitting) || quitting)
            {
                block.FreeTimers();
                break;
            }
        }
        // Work posted before the stop still carries objects: each handler releases its own.
        if (!quitting)
            DrainUntilQuit();
        OnExit(block.transport);
        CloseQueue();
        return 0;
    }
    catch (...)
    {
        TraceExit();
        block.FreeTimers();
        try
        {
            CloseQueue();
        }
        catch (...)
        {
            // A handler that throws again while releasing ends the drain; the run ends anyway.
        }
        return 0;
    }
}

void CCommThread::Dispatch(StartBlock& block, const MSG& msg)
{
    if (msg.message == WM_TIMER && msg.hwnd == nullptr)
        DeliverTimer(block, msg.wParam);
    else
        OnMessage(block.transport.Get(), msg.wParam, msg.message, msg.lParam);
}

void CCommThread::DeliverTimer(StartBlock& block, UINT_PTR timerId)
{
    // The timer is stopped while its handler runs, so a repeated message never overlaps
    // itself and its period counts from the end of one run to the start of the next.
    KillTimer(nullptr, timerId);
    KelvoTimerRecord* record = block.timers;
    while (record && record->timerId != timerId)
        record = record->next;
    if (!record)
        return;
    record->timerId = 0;
    OnMessage(block.transport.Get(), record->wParam, record->message, static_cast<LPARAM>(record->lParam));

    // The handler may have changed the registrations: re-arm only a record still listed.
    for (KelvoTimerRecord* listed = block.timers; listed; listed = listed->next)
    {
        if (listed == record)
        {
            record->lParam = 0;
            if (record->timerId == 0)
                record->timerId = SetTimer(nullptr, 0, record->period, nullptr);
            break;
        }
    }
}

LRESULT CCommThread::OnMessage(CCartUSBComm* transport, WPARAM, UINT message, LPARAM lParam)
{
    if (message != KELVO_COMM_SET_PERIODIC)
        return 0;
    auto* record = reinterpret_cast<KelvoTimerRecord*>(lParam);
    StartBlock* block = GetStartBlock();
    if (record == nullptr)
        return 0;
    if (transport == nullptr || block == nullptr)
    {
        delete record;
        return 0;
    }
    RegisterPeriodic(*block, record);
    return 0;
}

void CCommThread::RegisterPeriodic(StartBlock& block, KelvoTimerRecord* record)
{
    std::unique_ptr<KelvoTimerRecord> incoming(record);
    incoming->next = nullptr;
    KelvoTimerRecord** link = &block.timers;
    while (*link && (*link)->message != incoming->message)
        link = &(*link)->next;

    if (KelvoTimerRecord* found = *link)
    {
        if (found->period == incoming->period)
            return;
        if (found->timerId)
            KillTimer(nullptr, found->timerId);
        found->timerId = 0;
        if (incoming->period == 0)
        {
            *link = found->next;
            delete found;
            return;
        }
        found->period = incoming->period;
        found->wParam = incoming->wParam;
        found->lParam = incoming->lParam;
        found->timerId = SetTimer(nullptr, 0, found->period, nullptr);
        return;
    }
    if (incoming->period == 0)
        return;
    incoming->timerId = SetTimer(nullptr, 0, incoming->period, nullptr);
    *link = incoming.release();
}

void CCommThread::ReleaseMessage(const MSG& msg)
{
    if (msg.message != WM_TIMER && msg.message != WM_QUIT)
        OnMessage(nullptr, msg.wParam, msg.message, msg.lParam);
}

void CCommThread::DrainUntilQuit()
{
    // Every stop posts WM_QUIT right after signalling the stop event; the wait is bounded
    // in case that post failed.
    for (;;)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            if (msg.message == WM_QUIT)
                return;
            ReleaseMessage(msg);
        }
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, kQuitWaitMs, QS_ALLPOSTMESSAGE) != WAIT_OBJECT_0)
            return;
    }
}

void CCommThread::CloseQueue()
{
    {
        CKelvoSrwLockHold hold(m_lock);
        if (m_threadId == GetCurrentThreadId())
            m_threadId = 0;
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        ReleaseMessage(msg);
}

BOOL CCommThread::PostToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    StartBlock* block = GetStartBlock();
    if (block == nullptr || !block->stopEvent.IsValid() || block->stopEvent.IsSet())
        return FALSE;
    if (!IsWindow(window))
        return FALSE;
    return PostMessageW(window, message, wParam, lParam);
}

BOOL CCommThread::PostToThread(UINT message, WPARAM wParam, LPARAM lParam)
{
    // Posted under the lock: a stop or the worker's end clears the thread ID under the same
    // lock, so every message that gets through is queued before the worker's last drain.
    CKelvoSrwLockHold hold(m_lock);
    if (m_threadId == 0)
    {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return PostThreadMessageW(m_threadId, message, wParam, lParam);
}

BOOL CCommThread::SetPeriodicMessage(WPARAM wParam, DWORD period)
{
    if (!IsRunning())
        return FALSE;
    auto* record = new (std::nothrow) KelvoTimerRecord{0, wParam, KELVO_COMM_PERIODIC, period, period ? 1 : 0, nullptr};
    if (record == nullptr)
        return FALSE;
    if (PostToThread(KELVO_COMM_SET_PERIODIC, wParam, reinterpret_cast<LPARAM>(record)))
        return TRUE;
    delete record;
    return FALSE;
}

BOOL CCommThread::OnStart(_CObjectExPtr<CCartUSBComm>, HWND)
{
    return TRUE;
}

BOOL CCommThread::OnQuit(_CObjectExPtr<CCartUSBComm>, BOOL)
{
    return TRUE;
}

void CCommThread::OnExit(_CObjectExPtr<CCartUSBComm>) {}
