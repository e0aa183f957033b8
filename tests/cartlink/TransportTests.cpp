// One exchange with the cart over the transport, against the simulated cart: every result
// code of an exchange, the time limits and the stop event.
#include "CartLinkTestSupport.h"
#include "common/CMutexAcquire.h"
#include "common/CUtilLogging.h"
#include <cstdlib>
#include <new>
#include <thread>

namespace
{
// Allocation failure on demand: the next allocation of this size on this thread fails.
std::atomic<size_t> g_failAllocationOf{0};
std::atomic<DWORD> g_failOnThread{0};
}

void* operator new(std::size_t size)
{
    if (size == g_failAllocationOf.load() && GetCurrentThreadId() == g_failOnThread.load())
    {
        g_failAllocationOf = 0;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

namespace
{
// A request that lays itself out as nothing.
class CEmptyRequest : public TKelvoUSBCommRequest<KELVO_CMD_QUERY_ACCESS>
{
public:
    DWORD Encode(BYTE*, DWORD) const override { return 0; }
};

class TransportTest : public CartFixture
{
protected:
    DWORD QueryAccess(CCartUSBCommResponse* response)
    {
        const CKelvoQueryAccessRequest request;
        return m_transport->Transact(&request, response);
    }

    _CObjectExPtr<CKelvoUSBComm> m_transport = MakeObjectEx<CKelvoUSBComm>();
};

struct FaultCase
{
    const char* name;
    KelvoCartFault fault;
    DWORD delayMs;
    bool withResponse;
    DWORD expected;   // 0xFFFFFFFF: a system error of the pipe
};

void PrintTo(const FaultCase& c, std::ostream* out)
{
    *out << c.name;
}


class TransportFaultTest : public TransportTest, public ::testing::WithParamInterface<FaultCase>
{
};

constexpr DWORD kSystemError = 0xFFFFFFFF;
}

TEST_P(TransportFaultTest, ExchangeGivesTheResultOfTheCartsBehaviour)
{
    const FaultCase& c = GetParam();
    m_cart->SetFault(c.fault, c.delayMs);
    CKelvoQueryAccessResponse response;
    const DWORD result = QueryAccess(c.withResponse ? &response : nullptr);
    if (c.expected == kSystemError)
    {
        EXPECT_NE(0u, result);
        for (DWORD code : {1u, 13u, 87u, 1167u, 1460u, 6815u})
            EXPECT_NE(code, result) << "a dropped connection is a system error, not a cart result";
    }
    else
        EXPECT_EQ(c.expected, result);
    EXPECT_EQ(1, m_cart->GetRequestCount(KELVO_CMD_QUERY_ACCESS));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TransportFaultTest,
    ::testing::Values(FaultCase{"Answered", KelvoCartFault::None, 0, true, 0},
                      FaultCase{"AnsweredLateWithinTheLimit", KelvoCartFault::AnswerLate, 300, true, 0},
                      FaultCase{"ShortAnswer", KelvoCartFault::ShortAnswer, 0, true, 13},
                      FaultCase{"ShortAnswerWithoutResponse", KelvoCartFault::ShortAnswer, 0, false, 0},
                      FaultCase{"WrongCommandIsNotDetected", KelvoCartFault::WrongCommand, 0, true, 0},
                      FaultCase{"ConnectionDropped", KelvoCartFault::HangUp, 0, true, kSystemError}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(TransportTest, AnswerFillsTheResponseWithTheCartsState)
{
    m_cart->SetAccess(0x42);
    CKelvoQueryAccessResponse response;
    ASSERT_EQ(0u, QueryAccess(&response));
    EXPECT_EQ(0x42, response.GetAccessState());
    EXPECT_EQ(KELVO_CMD_QUERY_ACCESS, response.GetReceivedCommand());
    EXPECT_EQ(1, response.GetDataLength());
}

TEST_F(TransportTest, WrongCommandCodeReachesTheResponseUnchecked)
{
    m_cart->SetFault(KelvoCartFault::WrongCommand);
    CKelvoQueryAccessResponse response;
    ASSERT_EQ(0u, QueryAccess(&response));
    EXPECT_NE(KELVO_CMD_QUERY_ACCESS, response.GetReceivedCommand());
}

TEST_F(TransportTest, MissingRequestIs87AndTouchesNoDevice)
{
    CKelvoQueryAccessResponse response;
    EXPECT_EQ(87u, m_transport->Transact(nullptr, &response));
    EXPECT_EQ(0, m_cart->GetExchangeCount());
}

TEST_F(TransportTest, RequestThatEncodesToNothingIs1)
{
    CEmptyRequest request;
    EXPECT_EQ(1u, m_transport->Transact(&request, nullptr));
    EXPECT_EQ(0, m_cart->GetExchangeCount());
}

TEST_F(TransportTest, NoCurrentDeviceIs1167)
{
    CCartUSBComm::SetDevicePath(L"");
    EXPECT_EQ(1167u, QueryAccess(nullptr));
}

TEST_F(TransportTest, RemovedCartIs1167AndItsReturnAnswersAgain)
{
    m_cart->Stop();
    EXPECT_EQ(1167u, QueryAccess(nullptr));
    EXPECT_EQ(CStringEx(m_cart->GetDevicePath()), CCartUSBComm::GetDevicePath()) << "a failed exchange keeps the path";
    ASSERT_EQ(0u, m_cart->Start());
    EXPECT_EQ(0u, QueryAccess(nullptr));
}

TEST_F(TransportTest, SignalledStopEventIs6815WithoutTouchingTheDevice)
{
    CEventEx stop;
    ASSERT_TRUE(stop.Create());
    stop.Set();
    m_transport->SetStopEvent(stop);
    EXPECT_EQ(6815u, QueryAccess(nullptr));
    EXPECT_EQ(0, m_cart->GetExchangeCount());
    m_transport->ClearStopEvent(stop);
    EXPECT_EQ(0u, QueryAccess(nullptr));
}

TEST_F(TransportTest, StopEventOfAnotherWorkerDoesNotClearTheLink)
{
    CEventEx mine, other;
    ASSERT_TRUE(mine.Create());
    ASSERT_TRUE(other.Create());
    m_transport->SetStopEvent(mine);
    m_transport->ClearStopEvent(other);
    mine.Set();
    EXPECT_EQ(6815u, QueryAccess(nullptr));
}

TEST_F(TransportTest, AnswerWithoutResponseObjectIsReadAndDropped)
{
    const CCountedEndAccessRequest request;
    EXPECT_EQ(0u, m_transport->Transact(&request, nullptr));
    ASSERT_EQ(1u, m_cart->GetLines().size());
    EXPECT_EQ(CStringEx(L"drawer access ended"), m_cart->GetLines()[0]);
}

// The poll asks the log's level for every answer it reads: while another thread writes a
// line (holding the writer lock), an exchange that dumps nothing does not wait for it.
TEST_F(TransportTest, ExchangeThatDumpsNothingDoesNotWaitForTheLogWriter)
{
    CEventEx held, release;
    ASSERT_TRUE(held.Create() && release.Create());
    std::thread writer([&] {
        CMutexAcquire lock(CUtilLogging::Instance().GetWriterLock());
        held.Set();
        release.Wait(5000);
    });
    ASSERT_EQ(WAIT_OBJECT_0, held.Wait(5000));
    const ULONGLONG start = GetTickCount64();
    CKelvoQueryAccessResponse response;
    EXPECT_EQ(0u, QueryAccess(&response));
    EXPECT_LT(GetTickCount64() - start, 400u);
    release.Set();
    writer.join();
}

TEST_F(TransportTest, DrawerAccessReachesTheCartByteForByte)
{
    const CKelvoAuthDrawerAccessRequest request(L"WS01", L"nurse1", 2);
    CKelvoAuthDrawerAccessResponse response;
    ASSERT_EQ(0u, m_transport->Transact(&request, &response));
    EXPECT_TRUE(response.IsGranted());
    EXPECT_EQ(CStringEx(L"drawer access granted to nurse1 on WS01 (mode 2)"), m_cart->GetLines().back());
    EXPECT_EQ(CStringEx(L"WS01"), m_cart->GetBoundComputer());

    const CKelvoAuthDrawerAccessRequest elsewhere(L"WS02", L"nurse1", 2);
    ASSERT_EQ(0u, m_transport->Transact(&elsewhere, &response));
    EXPECT_FALSE(response.IsGranted());
}

// The slow cases: each waits out one 3000 ms limit.
struct TimeoutCase
{
    const char* name;
    KelvoCartFault fault;
    DWORD delayMs;
};

void PrintTo(const TimeoutCase& c, std::ostream* out)
{
    *out << c.name;
}


class TransportTimeoutTest : public TransportTest, public ::testing::WithParamInterface<TimeoutCase>
{
};

TEST_P(TransportTimeoutTest, UnansweredDirectionIs1460AfterTheLimitAndLeavesTheTransportUsable)
{
    m_cart->SetFault(GetParam().fault, GetParam().delayMs, 1);
    CKelvoQueryAccessResponse response;
    const double start = NowMs();
    EXPECT_EQ(1460u, QueryAccess(&response));
    const double elapsed = NowMs() - start;
    EXPECT_GE(elapsed, 2900.0);
    EXPECT_LT(elapsed, 6000.0);

    // Nothing stays pending: the next exchange is answered normally.
    CKelvoQueryAccessResponse next;
    EXPECT_EQ(0u, QueryAccess(&next));
    EXPECT_EQ(KELVO_ACCESS_READY, next.GetAccessState());
}

INSTANTIATE_TEST_SUITE_P(Limits, TransportTimeoutTest,
                         ::testing::Values(TimeoutCase{"WriteNeverTaken", KelvoCartFault::IgnoreWrite, 0},
                                           TimeoutCase{"ReadNeverAnswered", KelvoCartFault::IgnoreRead, 0},
                                           TimeoutCase{"AnsweredTooLate", KelvoCartFault::AnswerLate, 3600}),
                         [](const ::testing::TestParamInfo<TimeoutCase>& info) { return std::string(info.param.name); });

TEST_F(TransportTest, StopEventCutsAWaitShortWith1460)
{
    CEventEx stop;
    ASSERT_TRUE(stop.Create());
    m_transport->SetStopEvent(stop);
    m_cart->SetFault(KelvoCartFault::IgnoreRead);
    std::thread stopper([&] {
        Sleep(300);
        stop.Set();
    });
    const double start = NowMs();
    EXPECT_EQ(1460u, QueryAccess(nullptr));
    const double elapsed = NowMs() - start;
    stopper.join();
    EXPECT_GE(elapsed, 250.0);
    EXPECT_LT(elapsed, 2500.0);
}

TEST_F(TransportTest, ACartLateWithAnswersItsHostGaveUpOnStillTakesTheNextOpen)
{
    // Workers stopped one after another while the cart is late: each stop cuts its exchange
    // short, and the cart still owes each of them an answer. Like a HID device, the cart
    // takes the next exchange's open all the same.
    m_cart->SetFault(KelvoCartFault::AnswerLate, 2500);
    for (int i = 0; i < 6; ++i)
    {
        const LONG before = m_cart->GetRequestCount(KELVO_CMD_QUERY_ACCESS);
        const _CObjectExPtr<CKelvoUSBComm> worker = MakeObjectEx<CKelvoUSBComm>();
        CEventEx stop;
        ASSERT_TRUE(stop.Create());
        std::thread exchange([&] {
            // A transport's stop event is the stop event of the thread that uses it.
            worker->SetStopEvent(stop);
            const CKelvoQueryAccessRequest request;
            worker->Transact(&request, nullptr);
        });
        const bool reached =
            WaitUntil([&] { return m_cart->GetRequestCount(KELVO_CMD_QUERY_ACCESS) > before; }, 1000);
        stop.Set();
        exchange.join();
        ASSERT_TRUE(reached) << "exchange " << i + 1 << " never reached the cart";
    }
    m_cart->SetFault(KelvoCartFault::None);
    CKelvoQueryAccessResponse response;
    EXPECT_EQ(0u, QueryAccess(&response));
    EXPECT_EQ(KELVO_ACCESS_READY, response.GetAccessState());
}

TEST_F(TransportTest, CartRemovedWhileAnswerIsAwaitedIsASystemError)
{
    m_cart->SetFault(KelvoCartFault::IgnoreRead);
    std::thread remover([&] {
        WaitUntil([&] { return m_cart->GetExchangeCount() > 0; }, 2000);
        Sleep(100);
        m_cart->Stop();
    });
    const DWORD result = QueryAccess(nullptr);
    remover.join();
    // The pipe reports the vanished device as broken or not connected, depending on timing.
    EXPECT_TRUE(result == ERROR_BROKEN_PIPE || result == ERROR_PIPE_NOT_CONNECTED) << result;
}

TEST_F(TransportTest, OverlappingExchangesOfTwoThreadsEachGetTheirOwnAnswer)
{
    // A worker replaced by a new start may still be in an exchange while the new worker
    // makes its own on the same transport: neither completion may end the other's wait.
    m_cart->SetAccess(0x42);
    m_cart->SetFault(KelvoCartFault::AnswerLate, 400, 1);
    std::atomic<DWORD> slowResult{0xFFFFFFFF};
    std::atomic<int> slowAccess{-1};
    std::thread slow([&] {
        CKelvoQueryAccessResponse response;
        slowResult = QueryAccess(&response);
        slowAccess = response.GetAccessState();
    });
    const bool slowStarted = WaitUntil([&] { return m_cart->GetExchangeCount() == 1; }, 3000);
    // Two exchanges: the simulated cart serves each on a pipe instance of its own, and one
    // instance stays busy with the slow answer.
    for (int i = 0; slowStarted && i < 2; ++i)
    {
        const CKelvoQueryStatusRequest request;
        CKelvoQueryStatusResponse response;
        EXPECT_EQ(0u, m_transport->Transact(&request, &response));
        EXPECT_EQ(KELVO_STATUS_READY, response.GetStatus());
    }
    slow.join();
    ASSERT_TRUE(slowStarted);
    EXPECT_EQ(0u, slowResult.load());
    EXPECT_EQ(0x42, slowAccess.load());
}

// A plain file stands for the device: a handle left open keeps anyone from opening it alone.
TEST_F(TransportTest, DeviceHandleIsClosedWhenItsWrapperCannotBeMade)
{
    wchar_t folder[MAX_PATH] = {};
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, folder));
    std::wstring path = folder;
    path += L"KelvoTransportHandleTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64()) + L".bin";
    CHandleEx created(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(created.IsValid());
    created.Close();

    g_failOnThread = GetCurrentThreadId();
    g_failAllocationOf = sizeof(_HandleEx);
    const CHandleEx device = m_transport->Open(path.c_str());
    const bool failed = g_failAllocationOf.exchange(0) == 0;
    ASSERT_TRUE(failed) << "the wrapper was made without the failing allocation";
    EXPECT_FALSE(device.IsValid());

    CHandleEx alone(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(alone.IsValid()) << "the device handle was left open (error " << GetLastError() << ")";
    alone.Close();
    DeleteFileW(path.c_str());
}
