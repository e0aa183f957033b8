// The comm thread: start and stop, repeated messages, stopping from a handler, and the
// ownership of objects carried by thread messages.
#include "CartLinkTestSupport.h"
#include "cartlink/CCartUSBCommThread.h"
#include "common/PostedObjectEx.h"
#include <mutex>

namespace
{
constexpr UINT kTestWork = WM_USER + 200;     // lParam: a counted object
constexpr UINT kTestReport = WM_USER + 201;   // worker to window

class CTestCommThread : public CCartUSBCommThread
{
public:
    struct Delivery
    {
        LPARAM lParam;
        double start;
        double end;
    };

    LRESULT OnMessage(CCartUSBComm* transport, WPARAM wParam, UINT message, LPARAM lParam) override
    {
        if (message == kTestWork)
        {
            const _CObjectExPtr<CObjectEx> work = TakePostedObject<CObjectEx>(lParam);
            if (transport == nullptr)
            {
                ++released;
                return 0;
            }
            ++handled;
            if (onWork)
                onWork(*this, *transport, reinterpret_cast<HWND>(wParam));
            return 0;
        }
        if (message == KELVO_COMM_PERIODIC && transport)
        {
            const double start = NowMs();
            if (onPeriodic)
                onPeriodic();
            std::lock_guard<std::mutex> lock(mutex);
            deliveries.push_back({lParam, start, NowMs()});
            return 0;
        }
        return CCartUSBCommThread::OnMessage(transport, wParam, message, lParam);
    }
    BOOL OnStart(_CObjectExPtr<CCartUSBComm>, HWND) override
    {
        workerId = GetCurrentThreadId();
        ++starts;
        if (onStart)
            onStart(*this);
        return startResult;
    }
    void OnExit(_CObjectExPtr<CCartUSBComm>) override { ++exits; }
    BOOL LinkTransport(CCartUSBComm* transport, const CEventEx& stopEvent) override
    {
        return linkResult && CCartUSBCommThread::LinkTransport(transport, stopEvent);
    }

    std::vector<Delivery> Deliveries()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return deliveries;
    }

    BOOL startResult = TRUE;
    BOOL linkResult = TRUE;
    std::function<void(CTestCommThread&, CCartUSBComm&, HWND)> onWork;
    std::function<void()> onPeriodic;
    std::function<void(CTestCommThread&)> onStart;
    std::atomic<int> starts{0}, exits{0}, handled{0}, released{0};
    std::atomic<DWORD> workerId{0};
    std::mutex mutex;
    std::vector<Delivery> deliveries;
};

class CommThreadTest : public CartFixture
{
protected:
    void TearDown() override
    {
        m_thread->Stop();
        CartFixture::TearDown();
    }
    BOOL PostWork()
    {
        return m_thread->PostWork(kTestWork, reinterpret_cast<WPARAM>(m_window.Get()),
                                  MakeObjectEx<CCountedEndAccessRequest>());
    }

    CTestWindow m_window;
    _CObjectExPtr<CKelvoUSBComm> m_transport = MakeObjectEx<CKelvoUSBComm>();
    _CObjectExPtr<CTestCommThread> m_thread = MakeObjectEx<CTestCommThread>();
};
}

TEST_F(CommThreadTest, StartWithoutTransportStartsNothing)
{
    EXPECT_FALSE(m_thread->Start(nullptr, m_window.Get()));
    EXPECT_EQ(0u, m_thread->GetThreadId());
    EXPECT_EQ(0, m_thread->starts);
}

TEST_F(CommThreadTest, WorkerStartsOnItsOwnThreadAndEndsOnStop)
{
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    // The worker is ready once its queue exists; its start hook runs right after.
    ASSERT_TRUE(WaitUntil([&] { return m_thread->starts == 1; }, 3000));
    EXPECT_NE(0u, m_thread->workerId.load());
    EXPECT_NE(GetCurrentThreadId(), m_thread->workerId.load());
    EXPECT_EQ(m_thread->workerId.load(), m_thread->GetThreadId());
    m_thread->Stop();
    EXPECT_EQ(1, m_thread->exits);
    EXPECT_EQ(0u, m_thread->GetThreadId());
}

TEST_F(CommThreadTest, WorkerWhoseStartFailsEndsWithoutItsLoop)
{
    m_thread->startResult = FALSE;
    EXPECT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    // The thread handle stays with the object, so its end is visible.
    EXPECT_TRUE(WaitUntil([&] { return !m_thread->IsRunning(); }, 5000));
    EXPECT_EQ(0, m_thread->exits);
    EXPECT_FALSE(PostWork());
    EXPECT_EQ(0, g_liveCounted) << "the refused post released its object";
}

TEST_F(CommThreadTest, WorkerThatCannotSetItselfUpFailsTheStartAndTakesNoWork)
{
    m_thread->linkResult = FALSE;
    EXPECT_FALSE(m_thread->Start(m_transport, m_window.Get()));
    EXPECT_EQ(0, m_thread->starts);
    EXPECT_EQ(0u, m_thread->GetThreadId()) << "the ended worker's thread ID is forgotten";
    EXPECT_FALSE(PostWork());
    EXPECT_FALSE(m_thread->SetPeriodicMessage(0, 100));
    EXPECT_EQ(0, g_liveCounted);

    // The next start is a normal one.
    m_thread->linkResult = TRUE;
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    EXPECT_TRUE(WaitUntil([&] { return m_thread->starts == 1; }, 3000));
}

TEST_F(CommThreadTest, StartWhileRunningReplacesTheWorkerWithoutWaiting)
{
    m_cart->SetFault(KelvoCartFault::IgnoreRead);
    std::atomic<DWORD> firstResult{0};
    m_thread->onWork = [&](CTestCommThread&, CCartUSBComm& transport, HWND) {
        const CKelvoQueryAccessRequest request;
        firstResult = transport.Transact(&request, nullptr);
    };
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    const DWORD first = m_thread->GetThreadId();
    ASSERT_TRUE(PostWork());
    ASSERT_TRUE(WaitUntil([&] { return m_cart->GetExchangeCount() == 1; }, 3000));

    // The first worker is in an exchange: its stop event cuts it short and the new start
    // does not wait for its end.
    const double start = NowMs();
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    EXPECT_LT(NowMs() - start, 2000.0);
    EXPECT_NE(first, m_thread->GetThreadId());
    EXPECT_TRUE(WaitUntil([&] { return m_thread->exits == 1; }, 3000));
    EXPECT_EQ(1460u, firstResult.load());

    // The first worker's end left the new worker's stop event on the transport: a stop
    // still cuts the new worker's exchange short.
    ASSERT_TRUE(PostWork());
    ASSERT_TRUE(WaitUntil([&] { return m_cart->GetExchangeCount() == 2; }, 3000));
    const double stopStart = NowMs();
    m_thread->Stop();
    EXPECT_LT(NowMs() - stopStart, 2000.0);
    EXPECT_EQ(2, m_thread->exits);
}

TEST_F(CommThreadTest, WorkerReplacedWithoutWaitingKeepsItsOwnStop)
{
    // The first worker's handler goes on after its exchange was cut short; by then a new
    // worker owns the transport. The first worker's stop still holds for it alone.
    m_cart->SetFault(KelvoCartFault::IgnoreRead, 0, 1);
    std::atomic<DWORD> cutShort{0}, afterStop{0}, newWorker{0xFFFFFFFF};
    std::atomic<bool> firstDone{false};
    m_thread->onWork = [&](CTestCommThread& self, CCartUSBComm& transport, HWND) {
        const CKelvoQueryAccessRequest request;
        if (self.handled == 1)
        {
            cutShort = transport.Transact(&request, nullptr);
            Sleep(300);
            afterStop = transport.Transact(&request, nullptr);
            firstDone = true;
        }
        else
            newWorker = transport.Transact(&request, nullptr);
    };
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    ASSERT_TRUE(PostWork());
    ASSERT_TRUE(WaitUntil([&] { return m_cart->GetExchangeCount() == 1; }, 3000));
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    ASSERT_TRUE(WaitUntil([&] { return firstDone.load(); }, 5000));
    EXPECT_EQ(1460u, cutShort.load());
    EXPECT_EQ(6815u, afterStop.load()) << "the replaced worker made an exchange after its stop";
    EXPECT_EQ(1, m_cart->GetExchangeCount());

    // The new worker's exchanges are its own.
    ASSERT_TRUE(PostWork());
    ASSERT_TRUE(WaitUntil([&] { return newWorker.load() != 0xFFFFFFFF; }, 5000));
    EXPECT_EQ(0u, newWorker.load());
}

TEST_F(CommThreadTest, StopMadeByAReplacedWorkerLeavesItsSuccessorRunning)
{
    // The first worker's handler goes on after a new start replaced it and then stops
    // itself, as the agent's worker does when the cart stays lost.
    CEventEx replaced;
    ASSERT_TRUE(replaced.Create());
    std::atomic<double> stopTook{-1.0};
    m_thread->onWork = [&](CTestCommThread& self, CCartUSBComm&, HWND) {
        if (self.handled != 1)
            return;
        replaced.Wait(5000);
        const double start = NowMs();
        self.Stop();
        stopTook = NowMs() - start;
    };
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    const CHandleEx first(OpenThread(SYNCHRONIZE, FALSE, m_thread->GetThreadId()));
    ASSERT_TRUE(PostWork());
    ASSERT_TRUE(WaitUntil([&] { return m_thread->handled == 1; }, 3000));
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    const DWORD second = m_thread->GetThreadId();
    replaced.Set();

    ASSERT_EQ(WAIT_OBJECT_0, first.Wait(5000)) << "the replaced worker ends";
    EXPECT_GE(stopTook.load(), 0.0);
    EXPECT_LT(stopTook.load(), 1000.0) << "the replaced worker waited for another worker";
    EXPECT_TRUE(m_thread->IsRunning());
    EXPECT_EQ(second, m_thread->GetThreadId());
    ASSERT_TRUE(PostWork()) << "the successor takes work";
    EXPECT_TRUE(WaitUntil([&] { return m_thread->handled == 2; }, 3000));
}

TEST_F(CommThreadTest, OwnersStopWaitsForAWorkerThatIsStoppingItself)
{
    std::atomic<bool> selfStopped{false};
    m_thread->onWork = [&](CTestCommThread& self, CCartUSBComm&, HWND) {
        self.Stop();
        selfStopped = true;
        // The handler still has work to finish before the loop sees the stop.
        Sleep(400);
    };
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    const CHandleEx worker(OpenThread(SYNCHRONIZE, FALSE, m_thread->GetThreadId()));
    ASSERT_TRUE(PostWork());
    ASSERT_TRUE(WaitUntil([&] { return selfStopped.load(); }, 3000));
    m_thread->Stop();
    EXPECT_EQ(WAIT_OBJECT_0, worker.Wait(0)) << "Stop returned while the worker still ran";
    EXPECT_EQ(1, m_thread->exits);
}

TEST_F(CommThreadTest, WorkerThatStopsItselfInItsStartHookEndsEveryTime)
{
    // The run is published before the worker runs a line: a stop from the start hook always
    // finds it, and the worker sees its own thread ID from its first hook on.
    std::atomic<int> unpublished{0};
    m_thread->onStart = [&](CTestCommThread& self) {
        if (self.GetThreadId() != GetCurrentThreadId())
            ++unpublished;
        self.Stop();
    };
    for (int run = 0; run < 40; ++run)
    {
        m_thread->Start(m_transport, m_window.Get());
        ASSERT_TRUE(WaitUntil([&] { return !m_thread->IsRunning(); }, 5000)) << "run " << run << " kept running";
        EXPECT_FALSE(PostWork());
    }
    EXPECT_EQ(0, unpublished.load());
    EXPECT_EQ(40, m_thread->exits);
    EXPECT_EQ(0, g_liveCounted);
}

TEST_F(CommThreadTest, RepeatedMessageArrivesAfterEachPeriodWithTheFirstRunFlagOnce)
{
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    const double registered = NowMs();
    ASSERT_TRUE(m_thread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_window.Get()), 100));
    ASSERT_TRUE(WaitUntil([&] { return m_thread->Deliveries().size() >= 5; }, 5000));
    const auto deliveries = m_thread->Deliveries();
    EXPECT_EQ(1, deliveries[0].lParam);
    EXPECT_GE(deliveries[0].start - registered, 80.0);
    for (size_t i = 1; i < deliveries.size(); ++i)
    {
        EXPECT_EQ(0, deliveries[i].lParam);
        const double gap = deliveries[i].start - deliveries[i - 1].end;
        EXPECT_GE(gap, 80.0);
        EXPECT_LT(gap, 1000.0);
    }
}

TEST_F(CommThreadTest, PeriodCountsFromTheEndOfTheHandler)
{
    m_thread->onPeriodic = [] { Sleep(150); };
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    ASSERT_TRUE(m_thread->SetPeriodicMessage(0, 100));
    ASSERT_TRUE(WaitUntil([&] { return m_thread->Deliveries().size() >= 4; }, 5000));
    const auto deliveries = m_thread->Deliveries();
    for (size_t i = 1; i < deliveries.size(); ++i)
        EXPECT_GE(deliveries[i].start - deliveries[i - 1].start, 230.0);
}

TEST_F(CommThreadTest, ReregisteringChangesOrRemovesTheRepeatedMessage)
{
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    // Removing what was never registered changes nothing.
    ASSERT_TRUE(m_thread->SetPeriodicMessage(0, 0));
    m_window.Pump(300);
    EXPECT_EQ(0u, m_thread->Deliveries().size());

    ASSERT_TRUE(m_thread->SetPeriodicMessage(0, 100));
    ASSERT_TRUE(WaitUntil([&] { return m_thread->Deliveries().size() >= 2; }, 3000));
    ASSERT_TRUE(m_thread->SetPeriodicMessage(0, 400));
    const size_t before = m_thread->Deliveries().size();
    ASSERT_TRUE(WaitUntil([&] { return m_thread->Deliveries().size() >= before + 3; }, 5000));
    auto deliveries = m_thread->Deliveries();
    for (size_t i = before + 1; i < deliveries.size(); ++i)
        EXPECT_GE(deliveries[i].start - deliveries[i - 1].end, 350.0);

    ASSERT_TRUE(m_thread->SetPeriodicMessage(0, 0));
    m_window.Pump(100);
    const size_t stopped = m_thread->Deliveries().size();
    m_window.Pump(900);
    EXPECT_EQ(stopped, m_thread->Deliveries().size());
}

TEST_F(CommThreadTest, RepeatedMessageNeedsARunningWorker)
{
    EXPECT_FALSE(m_thread->SetPeriodicMessage(0, 100));
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    m_thread->Stop();
    EXPECT_FALSE(m_thread->SetPeriodicMessage(0, 100));
}

TEST_F(CommThreadTest, HandlerThatThrowsEndsTheWorkerWithoutOnExit)
{
    m_thread->onWork = [](CTestCommThread&, CCartUSBComm&, HWND) { throw 42; };
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    ASSERT_TRUE(PostWork());
    EXPECT_TRUE(WaitUntil([&] { return !m_thread->IsRunning(); }, 5000));
    EXPECT_EQ(0, m_thread->exits);
    EXPECT_EQ(0, g_liveCounted);
}

TEST_F(CommThreadTest, StopFromTheWorkersOwnHandlerReturnsAtOnceAndEndsTheLoop)
{
    std::atomic<double> stopTook{-1.0};
    std::atomic<int> postAfterStop{-1};
    m_thread->onWork = [&](CTestCommThread& self, CCartUSBComm&, HWND window) {
        if (self.handled > 1)
            return;
        const double start = NowMs();
        self.Stop();
        stopTook = NowMs() - start;
        postAfterStop = self.PostToWindow(window, kTestReport, 0, 0);
    };
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    const CHandleEx worker(OpenThread(SYNCHRONIZE, FALSE, m_thread->GetThreadId()));
    // Work queued behind the stopping handler is released, not handled; once the worker
    // is stopping, no more work is taken.
    int posted = 0;
    for (int i = 0; i < 4; ++i)
        posted += PostWork() ? 1 : 0;
    ASSERT_GE(posted, 1);
    ASSERT_EQ(WAIT_OBJECT_0, worker.Wait(5000)) << "the worker ends on its own";
    EXPECT_EQ(1, m_thread->exits);
    EXPECT_GE(stopTook.load(), 0.0);
    EXPECT_LT(stopTook.load(), 1000.0);
    EXPECT_EQ(FALSE, postAfterStop.load());
    EXPECT_EQ(1, m_thread->handled);
    EXPECT_EQ(posted - 1, m_thread->released);
    EXPECT_EQ(0, g_liveCounted);
    m_window.Pump(100);
    EXPECT_EQ(0u, m_window.Count(kTestReport));
}

TEST_F(CommThreadTest, StopReleasesWorkStillQueuedAndLaterPostsFail)
{
    m_thread->onWork = [](CTestCommThread&, CCartUSBComm&, HWND) { Sleep(200); };
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    const DWORD worker = m_thread->GetThreadId();
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(PostWork());
    ASSERT_TRUE(WaitUntil([&] { return m_thread->handled >= 1; }, 3000));
    m_thread->Stop();
    EXPECT_EQ(6, m_thread->handled + m_thread->released);
    EXPECT_GE(m_thread->released, 1);
    EXPECT_EQ(0, g_liveCounted);

    EXPECT_FALSE(PostWork());
    EXPECT_FALSE(PostObjectToThread(worker, kTestWork, 0, MakeObjectEx<CCountedEndAccessRequest>()));
    EXPECT_EQ(0, g_liveCounted);
}

TEST_F(CommThreadTest, PostToWindowOnlyFromARunningWorkerToALiveWindow)
{
    EXPECT_FALSE(m_thread->PostToWindow(m_window.Get(), kTestReport, 0, 0)) << "not on the worker";
    std::atomic<int> result{-1};
    m_thread->onWork = [&](CTestCommThread& self, CCartUSBComm&, HWND window) {
        result = self.PostToWindow(window, kTestReport, 7, 0);
    };
    ASSERT_TRUE(m_thread->Start(m_transport, m_window.Get()));
    ASSERT_TRUE(PostWork());
    ASSERT_TRUE(m_window.WaitFor(kTestReport, 1, 3000));
    EXPECT_EQ(TRUE, result.load());
    EXPECT_EQ(7u, m_window.Received(kTestReport)[0].wParam);

    m_window.Destroy();
    result = -1;
    ASSERT_TRUE(PostWork());
    ASSERT_TRUE(WaitUntil([&] { return result.load() != -1; }, 3000));
    EXPECT_EQ(FALSE, result.load());
}
