// The service thread's loop and the stop control, which the Service Control Manager delivers
// on another thread at any moment: before the service thread prepared its queue, between
// that and the loop, and while the loop runs. Every stop ends the loop; none is lost.
#include "configsvc/CKelvoServiceLoop.h"
#include <gtest/gtest.h>
#include <atomic>
#include <string>
#include <thread>

namespace
{
enum class StopComes
{
    BeforeTheQueue,
    BeforeTheLoop,
    DuringTheLoop,
};

std::string NameOf(StopComes when)
{
    switch (when)
    {
    case StopComes::BeforeTheQueue:
        return "BeforeTheQueue";
    case StopComes::BeforeTheLoop:
        return "BeforeTheLoop";
    case StopComes::DuringTheLoop:
        return "DuringTheLoop";
    }
    return "?";
}

// A one-shot signal between the two threads, waited for with a bound.
class CSignal
{
public:
    CSignal() : m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~CSignal() { CloseHandle(m_event); }
    void Set() { SetEvent(m_event); }
    bool Wait(DWORD timeoutMs = 5000) { return WaitForSingleObject(m_event, timeoutMs) == WAIT_OBJECT_0; }

private:
    HANDLE m_event;
};
}

class ServiceLoopStop : public ::testing::TestWithParam<StopComes>
{
};

TEST_P(ServiceLoopStop, EndsTheLoopWheneverItComes)
{
    CKelvoServiceLoop loop;
    CSignal prepared, mayPrepare, mayRun, ran, ended;
    std::atomic<int> handled{ 0 };
    std::atomic<DWORD> threadId{ 0 };
    std::thread serviceThread([&] {
        threadId = GetCurrentThreadId();
        mayPrepare.Wait();
        loop.Prepare();
        prepared.Set();
        mayRun.Wait();
        loop.Run([&](const MSG& message) {
            if (message.message == WM_APP)
            {
                ++handled;
                ran.Set();
                return true;
            }
            return false;
        });
        ended.Set();
    });

    switch (GetParam())
    {
    case StopComes::BeforeTheQueue:
        // The thread has no queue yet: only the flag can tell it.
        EXPECT_FALSE(loop.RequestStop());
        mayPrepare.Set();
        mayRun.Set();
        break;
    case StopComes::BeforeTheLoop:
        mayPrepare.Set();
        ASSERT_TRUE(prepared.Wait());
        // The queue is there: the WM_QUIT waits in it for the loop.
        EXPECT_TRUE(loop.RequestStop());
        mayRun.Set();
        break;
    case StopComes::DuringTheLoop:
        mayPrepare.Set();
        ASSERT_TRUE(prepared.Wait());
        mayRun.Set();
        // The loop's first message tells that it waits in the loop.
        ASSERT_TRUE(PostThreadMessageW(threadId, WM_APP, 0, 0));
        ASSERT_TRUE(ran.Wait());
        EXPECT_TRUE(loop.RequestStop());
        break;
    }
    const bool stopped = ended.Wait(5000);
    EXPECT_TRUE(stopped) << "the loop did not end: the stop was lost";
    if (!stopped)
    {
        // Ends the loop the stop did not reach, so the thread can be joined.
        PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    }
    serviceThread.join();
    EXPECT_TRUE(loop.StopRequested());
    EXPECT_EQ(GetParam() == StopComes::DuringTheLoop ? 1 : 0, handled.load());
}

INSTANTIATE_TEST_SUITE_P(Stops, ServiceLoopStop,
                         ::testing::Values(StopComes::BeforeTheQueue, StopComes::BeforeTheLoop, StopComes::DuringTheLoop),
                         [](const ::testing::TestParamInfo<StopComes>& info) { return NameOf(info.param); });
