#include "tests/directory/DirectoryTestSupport.h"
#include <chrono>
#include <thread>

namespace
{
// A chain of groups, Link0 holding Link1 and so on; the user sits in the last one. Every
// open and search of the stand-in waits delayMs.
std::wstring ChainDirectory(int length, int delayMs)
{
    std::wstring text = L"[domain]\ndns = hq.example.com\n[directory]\ndelay_ms = " + std::to_wstring(delayMs) +
                        L"\n[user walker]\n";
    for (int i = 0; i < length; ++i)
        text += L"[group Link" + std::to_wstring(i) + L"]\nmember = " +
                (i + 1 == length ? std::wstring(L"walker") : L"Link" + std::to_wstring(i + 1)) + L"\n";
    return text;
}

long long MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}
}

TEST_F(DirectoryTest, CancelDuringALongWalkEndsItAtTheNextDirectoryStep)
{
    // 60 levels at 4 searches of 25 ms each take about 6 s; the cancel comes after 300 ms.
    UseDirectory(ChainDirectory(60, 25));
    CADQuery query;
    BOOL result = TRUE;
    long long walkMs = 0;
    // The 300 ms count from the walk's start, however late a loaded machine runs the thread.
    CEventEx walking;
    ASSERT_TRUE(walking.Create());
    std::thread walker([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const auto start = std::chrono::steady_clock::now();
        walking.Set();
        result = query.IsGroupMember(m_root.c_str(), L"walker", L"HQ", L"Link0");
        walkMs = MsSince(start);
        CoUninitialize();
    });
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), walking.Wait(30000));
    Sleep(300);
    const auto cancelled = std::chrono::steady_clock::now();
    query.GetCancelEvent().Set();
    walker.join();
    EXPECT_FALSE(result);
    EXPECT_GE(walkMs, 250);
    EXPECT_LT(MsSince(cancelled), 2000);
}

TEST_F(DirectoryTest, WalkRunsToTheEndWhenNotCancelled)
{
    UseDirectory(ChainDirectory(8, 0));
    CADQuery query;
    EXPECT_TRUE(query.IsGroupMember(m_root.c_str(), L"walker", L"HQ", L"Link0"));
}

TEST_F(DirectoryTest, SetCancelEventEndsEveryCheckBeforeAnyDirectoryCall)
{
    TraceCollector traces;
    CADQuery query(traces.Window());
    ASSERT_TRUE(query.GetCancelEvent().Set());
    const LONG before = DirectoryCalls();
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", L"Staff"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"kiosk", m_computer.c_str(), L"Cart Users"));
    EXPECT_FALSE(query.IsLocalGroupMember(m_root.c_str(), L"kiosk", m_computer.c_str()));
    EXPECT_EQ(before, DirectoryCalls());
    traces.Pump();
    EXPECT_TRUE(traces.Contains(L"Membership check cancelled."));

    // Once the owner resets it, checks run again.
    query.GetCancelEvent().Reset();
    EXPECT_TRUE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", L"Staff"));
}
