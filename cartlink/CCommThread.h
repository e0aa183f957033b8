#pragma once
#include "cartlink/CCartUSBComm.h"
#include "common/PostedObjectEx.h"

// Thread messages the comm thread itself understands.
enum : UINT
{
    // Registers, changes or removes a repeated message; lParam is a KelvoTimerRecord that
    // the worker takes over.
    KELVO_COMM_SET_PERIODIC = WM_USER + 22,
    // The repeated message that SetPeriodicMessage registers.
    KELVO_COMM_PERIODIC = WM_USER + 35,
};

// One repeated message of a worker: delivered `period` ms after the previous delivery's
// handler returned. lParam is delivered once and then becomes 0, so a first-run flag
// reaches only the first delivery after a registration.
struct KelvoTimerRecord
{
    UINT_PTR timerId;
    WPARAM wParam;
    UINT message;
    DWORD period;   // 0 removes the registration of `message`
    LONG lParam;    // sign-extended when delivered
    KelvoTimerRecord* next;
};

// A worker thread that takes work as thread messages, one at a time, and hands results
// back as posted window messages. Every object carried in a message's lParam has exactly
// one owner: the worker releases what it receives, also when it stops with messages still
// queued; a poster releases what it could not post.
class CCommThread : public CObjectEx
{
public:
    CCommThread() = default;
    ~CCommThread() override;
    CCommThread(const CCommThread&) = delete;
    CCommThread& operator=(const CCommThread&) = delete;

    // Handles one thread message on the worker. A null transport means the worker is
    // stopping: the handler only releases what the message carries.
    virtual LRESULT OnMessage(CCartUSBComm* transport, WPARAM wParam, UINT message, LPARAM lParam);
    // Starts a worker that owns the transport and reports to the window; a previous worker
    // is told to stop without waiting for it. TRUE when the worker is ready.
    virtual BOOL Start(_CObjectExPtr<CCartUSBComm> transport, HWND window);
    // Stops the worker and waits up to 15000 ms for it to end. Called on a worker itself
    // (from a hook or a handler), it asks that worker alone to stop and returns at once; a
    // later Stop of the owner still waits for that worker's end.
    virtual void Stop();
    // Runs on the worker before its loop; FALSE ends the worker.
    virtual BOOL OnStart(_CObjectExPtr<CCartUSBComm> transport, HWND window);
    // Asked when the loop sees a stop; TRUE leaves the loop.
    virtual BOOL OnQuit(_CObjectExPtr<CCartUSBComm> transport, BOOL quitting);
    // Runs on the worker after its loop.
    virtual void OnExit(_CObjectExPtr<CCartUSBComm> transport);

    // Posts a result to a window from the worker; FALSE (and nothing posted, the caller
    // still owns what lParam carries) outside a worker, once the worker is asked to stop,
    // or when the window is gone.
    BOOL PostToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Hands work to the worker: posts the message to its thread unless no worker runs or it
    // has been asked to stop. A worker that ends releases everything posted this way; when
    // this returns FALSE the caller still owns what lParam carries. (A post made straight
    // to a saved thread ID can still reach a worker between its last look at the queue and
    // its end.)
    BOOL PostToThread(UINT message, WPARAM wParam, LPARAM lParam);
    // The same for an object: the post hands over one reference, a failed post drops it.
    template <class T>
    BOOL PostWork(UINT message, WPARAM wParam, _CObjectExPtr<T> object)
    {
        return PostObjectWith(std::move(object),
                              [&](LPARAM lParam) { return PostToThread(message, wParam, lParam); });
    }
    // Registers message KELVO_COMM_PERIODIC with this wParam every `period` ms (0 removes
    // it); callable from any thread. FALSE when no worker runs or the post failed.
    BOOL SetPeriodicMessage(WPARAM wParam, DWORD period);

    DWORD GetThreadId() const;
    bool IsRunning() const;

    static constexpr DWORD kStartTimeoutMs = 15000;
    static constexpr DWORD kStopTimeoutMs = 15000;
    // A worker makes one exchange at a time with buffers of a few reports and logs it: it
    // reaches about 10 KB of stack; the reserve leaves room for a logged hex dump and more.
    static constexpr SIZE_T kStackReserve = 256 * 1024;

protected:
    // Per-run data of a derived worker, kept in the run's start block; valid on the worker.
    CObjectEx* GetRunData() const;
    void SetRunData(_CObjectExPtr<CObjectEx> data);

    // Ties the transport to the run's stop event, so that an exchange in progress ends as
    // soon as the worker is asked to stop, and unties it when the run ends. Both run on the
    // worker (before it reports ready, and at its end); FALSE from the link fails the start.
    virtual BOOL LinkTransport(CCartUSBComm* transport, const CEventEx& stopEvent);
    virtual void UnlinkTransport(CCartUSBComm* transport, const CEventEx& stopEvent);

private:
    struct StartBlock;
    static DWORD WINAPI ThreadProc(LPVOID parameter);
    StartBlock* GetStartBlock() const;
    DWORD Loop(StartBlock& block);
    void Dispatch(StartBlock& block, const MSG& msg);
    void DeliverTimer(StartBlock& block, UINT_PTR timerId);
    void RegisterPeriodic(StartBlock& block, KelvoTimerRecord* record);
    // Hands a message taken while stopping to its handler without a transport, so that
    // what it carries is released.
    void ReleaseMessage(const MSG& msg);
    void DrainUntilQuit();
    // Takes no more work through PostToThread, then releases what is still queued.
    void CloseQueue();
    // Takes the current run's thread and stop event out of the object (under the lock) and
    // returns its thread ID; the object then has no run.
    DWORD TakeRun(CThreadEx& thread, CEventEx& stopEvent);
    // Forgets the stop event and the thread ID of a run whose start failed.
    void CloseFailedRun(DWORD threadId);
    // Signals a run's stop event and posts WM_QUIT to its thread; does not wait.
    static void AskToStop(const CThreadEx& thread, const CEventEx& stopEvent, DWORD threadId);

    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    CThreadEx m_thread;
    CEventEx m_stopEvent;
    CEventEx m_readyEvent;
    DWORD m_threadId = 0;
    DWORD m_tlsIndex = TLS_OUT_OF_INDEXES;
};
