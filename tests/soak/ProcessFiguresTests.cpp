// What the soak reads of a process, checked on this test process itself: each handle it
// opens, each thread it runs, each megabyte it commits and each window it makes shows in
// the figures, through the system tables that Wine fills where its per-process answers are 0.
#include "tests/soak/CProcessFigures.h"
#include "common/CHandleEx.h"
#include "common/CUniqueAnyEx.h"
#include <gtest/gtest.h>
#include <vector>

namespace
{
KelvoProcessFigures Now()
{
    return CProcessFigures::Read(GetCurrentProcess());
}

TEST(ProcessFigures, EachHandleOpenedShowsInTheSystemHandleTable)
{
    const int before = CProcessFigures::CountHandles(GetCurrentProcessId());
    ASSERT_GT(before, 0);
    std::vector<CEventEx> events(25);
    for (CEventEx& event : events)
        ASSERT_TRUE(event.Create());
    EXPECT_EQ(before + 25, CProcessFigures::CountHandles(GetCurrentProcessId()));
    events.clear();
    EXPECT_EQ(before, CProcessFigures::CountHandles(GetCurrentProcessId()));
}

TEST(ProcessFigures, AProcessThatDoesNotExistHasNoHandles)
{
    EXPECT_EQ(0, CProcessFigures::CountHandles(0xFFFFFFF0u));
}

TEST(ProcessFigures, ARunningThreadCountsUntilItEnds)
{
    const int before = Now().threads;
    CEventEx release;
    ASSERT_TRUE(release.Create());
    CThreadEx thread;
    ASSERT_NE(0u, thread.Create([](LPVOID context) -> DWORD { return static_cast<CEventEx*>(context)->Wait(10000); },
                                &release));
    EXPECT_EQ(before + 1, Now().threads);
    release.Set();
    ASSERT_EQ(WAIT_OBJECT_0, thread.Wait(5000));
    EXPECT_EQ(before, Now().threads);
}

TEST(ProcessFigures, CommittedPrivateMemoryFollowsCommitAndRelease)
{
    // Only the walk runs between two readings, so nothing else commits meanwhile.
    const auto privateMb = [] { return CProcessFigures::CommittedPrivateMb(GetCurrentProcess()); };
    const double before = privateMb();
    void* block = VirtualAlloc(nullptr, 4 * 1024 * 1024, MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(nullptr, block);
    // Reserved address space is not committed memory.
    EXPECT_NEAR(before, privateMb(), 0.1);
    ASSERT_NE(nullptr, VirtualAlloc(block, 4 * 1024 * 1024, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_NEAR(before + 4.0, privateMb(), 0.1);
    VirtualFree(block, 0, MEM_RELEASE);
    EXPECT_NEAR(before, privateMb(), 0.1);
}

TEST(ProcessFigures, WindowsCountAsUserObjects)
{
    const int before = Now().userObjects;
    const HWND parent = CreateWindowExW(0, L"STATIC", L"figures", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                        nullptr, nullptr);
    ASSERT_NE(nullptr, parent);
    const HWND child = CreateWindowExW(0, L"STATIC", L"child", WS_CHILD, 0, 0, 5, 5, parent, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, child);
    // Where the layer counts USER objects itself, a window is at least one of them.
    EXPECT_GE(Now().userObjects, before + 2);
    DestroyWindow(parent);
    EXPECT_EQ(before, Now().userObjects);
}
}
