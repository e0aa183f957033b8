// The agent's worker against the simulated cart: its start, the status poll, forwarding of
// the window's requests, the reconnect loop, and who owns what it posts.
#include "CartLinkTestSupport.h"
#include "agent/CKelvoAgentThread.h"
#include "common/PostedObjectEx.h"

namespace
{
// Makes every object it posts a counted one.
class CCountingAgentThread : public CKelvoAgentThread
{
protected:
    _CObjectExPtr<CCartUSBCommResponse> CreateResponse(BYTE command) override
    {
        switch (command)
        {
        case KELVO_CMD_AUTH_DRAWER_ACCESS: return MakeObjectEx<TCounted<CKelvoAuthDrawerAccessResponse>>();
        case KELVO_CMD_BIND_COMPUTER_NAME: return MakeObjectEx<TCounted<CKelvoBindComputerNameResponse>>();
        case KELVO_CMD_BOUND_COMPUTER_NAME: return MakeObjectEx<TCounted<CKelvoBoundComputerNameResponse>>();
        default: return nullptr;
        }
    }
    _CObjectExPtr<CKelvoDeviceStatusResponse> CreateDeviceStatus(BYTE access, BYTE status, BYTE button) override
    {
        return MakeObjectEx<TCounted<CKelvoDeviceStatusResponse>>(access, status, button);
    }
};

// A transport whose device stops opening on demand and whose search can be told to fail.
class CFlakyTransport : public CKelvoUSBComm
{
public:
    BOOL FindDevice() override
    {
        ++finds;
        return findsCart ? TRUE : CKelvoUSBComm::FindDevice();
    }
    CHandleEx Open(LPCWSTR path) override
    {
        if (opensBeforeFailing > 0)
        {
            --opensBeforeFailing;
            return CKelvoUSBComm::Open(path);
        }
        if (failedOpens > 0)
        {
            --failedOpens;
            return CHandleEx();
        }
        return CKelvoUSBComm::Open(path);
    }
    std::atomic<int> finds{0};
    std::atomic<int> failedOpens{0};
    std::atomic<int> opensBeforeFailing{0};
    std::atomic<bool> findsCart{true};
};

struct Status
{
    BYTE access, status, button;
    bool operator==(const Status& other) const
    {
        return access == other.access && status == other.status && button == other.button;
    }
};

std::ostream& operator<<(std::ostream& out, const Status& s)
{
    return out << std::hex << "{" << int(s.access) << "," << int(s.status) << "," << int(s.button) << "}";
}

class AgentThreadTest : public CartFixture
{
protected:
    void SetUp() override
    {
        CartFixture::SetUp();
        m_cart->SetBoundComputer(L"WS07");
    }
    void TearDown() override
    {
        m_thread->Stop();
        m_window.Destroy();
        CartFixture::TearDown();
    }
    bool Start() { return m_thread->Start(m_transport, m_window.Get()) != FALSE; }
    std::vector<Status> Reports() const
    {
        std::vector<Status> reports;
        for (const auto& posted : m_window.Received(WM_AGENT_DEVICE_STATUS))
        {
            auto* status = static_cast<CKelvoDeviceStatusResponse*>(posted.object.Get());
            if (status == nullptr)  // the notice that the cart is gone carries no state
                continue;
            reports.push_back({status->GetAccessState(), status->GetStatus(), status->GetButtonState()});
        }
        return reports;
    }
    // Starts the status poll as the agent window does: a timer record with the first-run flag.
    void StartPolling(DWORD period)
    {
        auto* record = new KelvoTimerRecord{0, reinterpret_cast<WPARAM>(m_window.Get()), WM_AGENT_DEVICE_STATUS,
                                            period, 1, nullptr};
        ASSERT_TRUE(PostThreadMessageW(m_thread->GetThreadId(), WM_AGENT_SET_TIMER,
                                       reinterpret_cast<WPARAM>(m_window.Get()), reinterpret_cast<LPARAM>(record)));
    }
    template <class T>
    BOOL Post(UINT message, _CObjectExPtr<T> request)
    {
        return m_thread->PostWork(message, reinterpret_cast<WPARAM>(m_window.Get()), std::move(request));
    }
    LONG Polls() const { return m_cart->GetRequestCount(KELVO_CMD_QUERY_ACCESS); }
    // The worker's own handle: it tells when the thread has really ended.
    CHandleEx OpenWorker() const { return CHandleEx(OpenThread(SYNCHRONIZE, FALSE, m_thread->GetThreadId())); }

    CTestWindow m_window;
    _CObjectExPtr<CFlakyTransport> m_transport = MakeObjectEx<CFlakyTransport>();
    _CObjectExPtr<CCountingAgentThread> m_thread = MakeObjectEx<CCountingAgentThread>();
};

const Status kReady{KELVO_ACCESS_READY, KELVO_STATUS_READY, 0};
const Status kPressed{KELVO_ACCESS_READY, KELVO_STATUS_READY, KELVO_DRAWER_BUTTON_PRESSED};
}

TEST_F(AgentThreadTest, StartReportsTheCartsStateAndItsBoundComputer)
{
    m_cart->SetButton(KELVO_DRAWER_BUTTON_PRESSED);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_BOUND_COMPUTER_NAME, 1, 5000));
    ASSERT_EQ((std::vector<Status>{kPressed}), Reports());
    const auto status = m_window.Received(WM_AGENT_DEVICE_STATUS)[0];
    EXPECT_EQ(0u, status.wParam);
    EXPECT_EQ(1, status.refCountOnArrival) << "the window receives the only reference";

    const auto bound = m_window.Received(WM_AGENT_BOUND_COMPUTER_NAME)[0];
    EXPECT_EQ(0u, bound.wParam);
    EXPECT_EQ(1, bound.refCountOnArrival);
    EXPECT_EQ(CStringEx(L"WS07"), static_cast<CKelvoBoundComputerNameResponse*>(bound.object.Get())->GetBoundName());
}

TEST_F(AgentThreadTest, FailedStatusQueryAtStartStillReportsAndSkipsTheButton)
{
    m_cart->SetFault(KelvoCartFault::ShortAnswer);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_BOUND_COMPUTER_NAME, 1, 5000));
    EXPECT_EQ((std::vector<Status>{Status{0, 0, 0}}), Reports());
    EXPECT_EQ(0, m_cart->GetRequestCount(KELVO_CMD_POLL_FOR_DRAWER_BTN));
    EXPECT_EQ(13u, m_window.Received(WM_AGENT_BOUND_COMPUTER_NAME)[0].wParam);
}

TEST_F(AgentThreadTest, PollReportsOnlyChangesAndTheFirstRunAlways)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_DEVICE_STATUS, 1, 5000));
    ASSERT_TRUE(m_thread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_window.Get()), 100));

    // The first poll compares against zeros, so it repeats the report made at the start;
    // later polls that read the same bytes stay silent.
    ASSERT_TRUE(WaitUntil([&] { return Polls() >= 6; }, 5000));
    m_window.Pump(50);
    EXPECT_EQ((std::vector<Status>{kReady, kReady}), Reports());

    m_cart->SetButton(KELVO_DRAWER_BUTTON_PRESSED);
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_DEVICE_STATUS, 3, 3000));
    const LONG seen = Polls();
    ASSERT_TRUE(WaitUntil([&] { return Polls() >= seen + 3; }, 3000));
    m_window.Pump(50);
    EXPECT_EQ((std::vector<Status>{kReady, kReady, kPressed}), Reports());
}

TEST_F(AgentThreadTest, PollOfACartThatIsNotReadyKeepsTheCachedButton)
{
    m_cart->SetButton(KELVO_DRAWER_BUTTON_PRESSED);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_DEVICE_STATUS, 1, 5000));
    ASSERT_TRUE(m_thread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_window.Get()), 100));
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_DEVICE_STATUS, 2, 3000));
    const LONG buttonPolls = m_cart->GetRequestCount(KELVO_CMD_POLL_FOR_DRAWER_BTN);

    // Not ready: the button is not asked, and the report repeats the last known button.
    m_cart->SetStatus(0x02);
    m_cart->SetButton(0);
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_DEVICE_STATUS, 3, 3000));
    const Status expected{KELVO_ACCESS_READY, 0x02, KELVO_DRAWER_BUTTON_PRESSED};
    EXPECT_EQ(expected, Reports()[2]);
    EXPECT_EQ(buttonPolls, m_cart->GetRequestCount(KELVO_CMD_POLL_FOR_DRAWER_BTN));
}

TEST_F(AgentThreadTest, FailingStatusQueryReportsNothingAndSkipsTheButton)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_DEVICE_STATUS, 1, 5000));
    m_cart->SetFault(KelvoCartFault::ShortAnswer);
    const LONG buttonPolls = m_cart->GetRequestCount(KELVO_CMD_POLL_FOR_DRAWER_BTN);
    const LONG seen = Polls();
    ASSERT_TRUE(m_thread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_window.Get()), 100));
    ASSERT_TRUE(WaitUntil([&] { return Polls() >= seen + 4; }, 5000));
    m_window.Pump(50);
    EXPECT_EQ(1u, Reports().size());
    EXPECT_EQ(buttonPolls, m_cart->GetRequestCount(KELVO_CMD_POLL_FOR_DRAWER_BTN));
}

TEST_F(AgentThreadTest, WindowsTimerRecordStartsThePollAfterItsPeriod)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_DEVICE_STATUS, 1, 5000));
    const double registered = NowMs();
    StartPolling(500);
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_DEVICE_STATUS, 2, 3000));
    const double elapsed = NowMs() - registered;
    EXPECT_GE(elapsed, 450.0);
    EXPECT_LT(elapsed, 2000.0);
}

// Each answer carries the tag of the request it answers: the agent window tells by it the
// sign-in run that asked.
TEST_F(AgentThreadTest, RequestsAreForwardedAndAnsweredWithTheirTags)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_BOUND_COMPUTER_NAME, 1, 5000));
    ASSERT_TRUE(Post(WM_AGENT_SEND, MakeObjectEx<TCounted<CKelvoAuthStatusRequest>>(KELVO_AUTH_STATUS_PROMPT_OPEN)));
    _CObjectExPtr<CCartUSBCommRequest> access = MakeObjectEx<TCounted<CKelvoAuthDrawerAccessRequest>>(L"WS07", L"nurse1", 1);
    access->SetTag(7);
    ASSERT_TRUE(Post(WM_AGENT_AUTH_DRAWER_ACCESS, std::move(access)));
    _CObjectExPtr<CCartUSBCommRequest> bind = MakeObjectEx<TCounted<CKelvoBindComputerNameRequest>>(L"WS09");
    bind->SetTag(8);
    ASSERT_TRUE(Post(WM_AGENT_BIND_COMPUTER_NAME, std::move(bind)));
    ASSERT_TRUE(Post(WM_AGENT_UNAUTHORIZED_USER, MakeObjectEx<TCounted<CKelvoUnauthorizedUserRequest>>(L"visitor")));
    ASSERT_TRUE(Post(WM_AGENT_END_ACCESS, MakeObjectEx<CCountedEndAccessRequest>()));
    ASSERT_TRUE(WaitUntil([&] { return m_cart->GetRequestCount(KELVO_CMD_END_ACCESS) == 1; }, 5000));
    m_window.Pump(100);

    {
        // The answers, held only while they are looked at.
        const auto granted = m_window.Received(WM_AGENT_AUTH_DRAWER_ACCESS);
        ASSERT_EQ(1u, granted.size());
        EXPECT_EQ(0u, granted[0].wParam);
        EXPECT_EQ(1, granted[0].refCountOnArrival);
        EXPECT_TRUE(static_cast<CKelvoAuthDrawerAccessResponse*>(granted[0].object.Get())->IsGranted());
        EXPECT_EQ(7u, static_cast<CCartUSBCommResponse*>(granted[0].object.Get())->GetTag());

        const auto bound = m_window.Received(WM_AGENT_BIND_COMPUTER_NAME);
        ASSERT_EQ(1u, bound.size());
        EXPECT_EQ(0u, bound[0].wParam);
        auto* bindResponse = static_cast<CKelvoBindComputerNameResponse*>(bound[0].object.Get());
        EXPECT_EQ(CStringEx(L"WS09"), bindResponse->GetRequestedName());
        EXPECT_TRUE(bindResponse->IsReceived());
        EXPECT_EQ(8u, bindResponse->GetTag());
    }

    // One line per exchange, in the order the window asked.
    std::vector<CStringEx> lines = m_cart->GetLines();
    lines.erase(lines.begin(), lines.end() - 5);
    EXPECT_EQ((std::vector<CStringEx>{L"sign-in prompt open", L"drawer access granted to nurse1 on WS07 (mode 1)",
                                      L"cart bound to WS09", L"user visitor is not authorized",
                                      L"drawer access ended"}),
              lines);
    EXPECT_EQ(0u, m_window.Count(WM_AGENT_SEND));
    EXPECT_EQ(0u, m_window.Count(WM_AGENT_UNAUTHORIZED_USER));
    EXPECT_EQ(1u, m_window.Count(WM_AGENT_END_ACCESS)) << "the end of access alone is answered";

    m_window.Clear();
    EXPECT_EQ(0, g_liveCounted) << "requests released by the worker, answers by the window";
}

TEST_F(AgentThreadTest, FailedExchangeIsAnsweredWithItsResult)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_BOUND_COMPUTER_NAME, 1, 5000));
    m_cart->SetFault(KelvoCartFault::ShortAnswer, 0, 1);
    ASSERT_TRUE(Post(WM_AGENT_AUTH_DRAWER_ACCESS, MakeObjectEx<CKelvoAuthDrawerAccessRequest>(L"WS07", L"nurse1", 1)));
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_AUTH_DRAWER_ACCESS, 1, 5000));
    EXPECT_EQ(13u, m_window.Received(WM_AGENT_AUTH_DRAWER_ACCESS)[0].wParam);
}

TEST_F(AgentThreadTest, CartFoundAgainAfterALostExchangeKeepsTheWorker)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_BOUND_COMPUTER_NAME, 1, 5000));
    m_cart->SetButton(KELVO_DRAWER_BUTTON_PRESSED);
    m_transport->failedOpens = 1;
    ASSERT_TRUE(m_thread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_window.Get()), 100));
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_DEVICE_STATUS, 2, 3000));
    EXPECT_EQ(1, m_transport->finds);
    EXPECT_TRUE(m_thread->IsRunning());
    EXPECT_EQ(kPressed, Reports().back());
}

TEST_F(AgentThreadTest, CartThatStaysLostForFourAttemptsEndsTheWorkerWithoutAReport)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_BOUND_COMPUTER_NAME, 1, 5000));
    m_cart->SetButton(KELVO_DRAWER_BUTTON_PRESSED);
    // The poll's access query still reaches the cart and reads a byte that differs from the
    // cache the first run cleared; then the cart is lost for the status query. The poll
    // has a change to report, but the stopping worker must not report it.
    m_transport->opensBeforeFailing = 1;
    m_transport->failedOpens = 1000;
    const CHandleEx worker = OpenWorker();
    ASSERT_TRUE(m_thread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_window.Get()), 100));
    // The worker stops itself without waiting on its own end.
    EXPECT_EQ(WAIT_OBJECT_0, worker.Wait(3000));
    m_window.Pump(100);
    EXPECT_EQ(4, m_transport->finds);
    EXPECT_EQ(2, m_cart->GetRequestCount(KELVO_CMD_QUERY_ACCESS)) << "the start's and the poll's access queries were answered";
    EXPECT_EQ(1u, Reports().size());
    m_window.Clear();
    EXPECT_EQ(0, g_liveCounted) << "the report that was not posted was released";
}

TEST_F(AgentThreadTest, CartThatCannotBeFoundEndsTheWorkerAndANewStartDoesNotBlock)
{
    m_transport->findsCart = false;
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_BOUND_COMPUTER_NAME, 1, 5000));
    m_cart->Stop();
    const CHandleEx worker = OpenWorker();
    ASSERT_TRUE(m_thread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_window.Get()), 100));
    EXPECT_EQ(WAIT_OBJECT_0, worker.Wait(3000));
    EXPECT_EQ(1, m_transport->finds);

    // The cart returns: the window's reconnect starts a new run at once.
    ASSERT_EQ(0u, m_cart->Start());
    const double start = NowMs();
    ASSERT_TRUE(Start());
    EXPECT_LT(NowMs() - start, 2000.0);
    EXPECT_TRUE(m_window.WaitFor(WM_AGENT_DEVICE_STATUS, 2, 5000));
}

TEST_F(AgentThreadTest, AnswersForAWindowThatIsGoneAreReleased)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_BOUND_COMPUTER_NAME, 1, 5000));
    m_window.Destroy();
    m_window.Clear();
    const LONG before = m_cart->GetExchangeCount();
    ASSERT_TRUE(Post(WM_AGENT_AUTH_DRAWER_ACCESS,
                     MakeObjectEx<TCounted<CKelvoAuthDrawerAccessRequest>>(L"WS07", L"nurse1", 1)));
    ASSERT_TRUE(Post(WM_AGENT_BIND_COMPUTER_NAME, MakeObjectEx<TCounted<CKelvoBindComputerNameRequest>>(L"WS07")));
    m_cart->SetButton(KELVO_DRAWER_BUTTON_PRESSED);
    ASSERT_TRUE(m_thread->SetPeriodicMessage(0, 100));
    ASSERT_TRUE(WaitUntil([&] { return m_cart->GetExchangeCount() >= before + 6; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return g_liveCounted == 0; }, 2000)) << g_liveCounted << " objects left";
}

TEST_F(AgentThreadTest, StopWithRequestsQueuedReleasesEveryObject)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_window.WaitFor(WM_AGENT_BOUND_COMPUTER_NAME, 1, 5000));
    m_cart->SetFault(KelvoCartFault::AnswerLate, 150);
    for (int i = 0; i < 4; ++i)
    {
        ASSERT_TRUE(Post(WM_AGENT_AUTH_DRAWER_ACCESS,
                         MakeObjectEx<TCounted<CKelvoAuthDrawerAccessRequest>>(L"WS07", L"nurse1", 1)));
        ASSERT_TRUE(Post(WM_AGENT_END_ACCESS, MakeObjectEx<CCountedEndAccessRequest>()));
    }
    ASSERT_TRUE(m_thread->SetPeriodicMessage(reinterpret_cast<WPARAM>(m_window.Get()), 100));
    ASSERT_TRUE(WaitUntil([&] { return m_cart->GetExchangeCount() >= 3; }, 5000));
    const DWORD worker = m_thread->GetThreadId();
    m_thread->Stop();
    EXPECT_LT(m_cart->GetRequestCount(KELVO_CMD_END_ACCESS), 4) << "work was still queued at the stop";

    // What reached the window is the window's; the rest was released by the worker.
    m_window.Pump(100);
    m_window.Clear();
    EXPECT_EQ(0, g_liveCounted);

    // A post to the ended worker fails, and the poster releases what it carried.
    EXPECT_FALSE(PostObjectToThread(worker, WM_AGENT_END_ACCESS, 0, MakeObjectEx<CCountedEndAccessRequest>()));
    EXPECT_EQ(0, g_liveCounted);
}
