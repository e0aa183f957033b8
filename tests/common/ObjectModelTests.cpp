#include "common/CObjectExPtr.h"
#include "common/IObjectExEnumerator.h"
#include "common/CHandleEx.h"
#include "common/PostedObjectEx.h"
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace
{
// Counts destructions so tests can see exactly when the last reference went.
class CTracked : public CObjectEx
{
public:
    explicit CTracked(int* destroyed) : m_destroyed(destroyed) {}
    ~CTracked() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

class CTrackedChild : public CTracked
{
public:
    using CTracked::CTracked;
};

class CUnrelated : public CObjectEx
{
};

// Not a CTrackedChild, but counted the same way.
class CTrackedUnrelated : public CTracked
{
public:
    using CTracked::CTracked;
};
}

TEST(ObjectModel, FirstPointerOwnsTheObjectAndTheLastOneDeletesIt)
{
    int destroyed = 0;
    auto* raw = new CTracked(&destroyed);
    EXPECT_EQ(0, raw->GetRefCount());
    {
        _CObjectExPtr<CTracked> first(raw);
        EXPECT_EQ(1, raw->GetRefCount());
        {
            _CObjectExPtr<CTracked> copy = first;
            _CObjectExPtr<CObjectEx> base = first;
            EXPECT_EQ(3, raw->GetRefCount());
        }
        EXPECT_EQ(1, raw->GetRefCount());
        EXPECT_EQ(0, destroyed);
    }
    EXPECT_EQ(1, destroyed);
}

TEST(ObjectModel, AssigningAPointerToItselfOrToItsOwnTargetKeepsTheObject)
{
    int destroyed = 0;
    auto p = MakeObjectEx<CTracked>(&destroyed);
    auto& alias = p;
    p = alias;
    p = p.Get();
    EXPECT_EQ(0, destroyed);
    EXPECT_EQ(1, p->GetRefCount());

    // Replacing the only reference with another object deletes the first.
    p = MakeObjectEx<CTracked>(&destroyed);
    EXPECT_EQ(1, destroyed);
    p.Reset();
    EXPECT_EQ(2, destroyed);
}

TEST(ObjectModel, DetachAndAttachMoveOneReferenceWithoutCounting)
{
    int destroyed = 0;
    auto p = MakeObjectEx<CTracked>(&destroyed);
    CTracked* raw = p.Detach();
    EXPECT_FALSE(p);
    EXPECT_EQ(1, raw->GetRefCount());
    _CObjectExPtr<CTracked> q;
    q.Attach(raw);
    EXPECT_EQ(1, raw->GetRefCount());
    q.Reset();
    EXPECT_EQ(1, destroyed);
}

TEST(ObjectModel, CheckedDownCastTakesItsOwnReferenceAndConsumesTheSource)
{
    int destroyed = 0;
    auto child = MakeObjectEx<CTrackedChild>(&destroyed);
    _CObjectExPtr<CObjectEx> generic = child;
    EXPECT_EQ(2, child->GetRefCount());

    CObjectExQIPtr<CTracked> narrowed(generic);
    ASSERT_TRUE(narrowed);
    EXPECT_FALSE(generic);
    EXPECT_EQ(2, child->GetRefCount());
}

TEST(ObjectModel, FailedDownCastIsNullAndLeavesTheCountAsBefore)
{
    int destroyed = 0;
    auto other = MakeObjectEx<CTrackedUnrelated>(&destroyed);
    const LONG before = other->GetRefCount();
    {
        // A named source: the cast must consume it even when it fails.
        _CObjectExPtr<CObjectEx> source(other.Get());
        EXPECT_EQ(before + 1, other->GetRefCount());
        CObjectExQIPtr<CTrackedChild> narrowed(source);
        EXPECT_FALSE(narrowed);
        EXPECT_FALSE(source);
        EXPECT_EQ(before, other->GetRefCount());
    }
    EXPECT_EQ(before, other->GetRefCount());
    other.Reset();
    EXPECT_EQ(1, destroyed) << "the failed cast left a reference behind";
}

TEST(ObjectModel, UnoverriddenClassInfoReportsTheBaseRecord)
{
    auto o = MakeObjectEx<CUnrelated>();
    const CObjectExClassInfo* info = o->GetClassInfo();
    ASSERT_NE(nullptr, info);
    EXPECT_STREQ("CObjectEx", info->name);
    EXPECT_EQ(nullptr, info->creator);
    EXPECT_EQ(nullptr, info->base);
}

TEST(ObjectModel, CountsStayExactUnderConcurrentCopies)
{
    int destroyed = 0;
    auto shared = MakeObjectEx<CTracked>(&destroyed);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&shared] {
            for (int i = 0; i < 100000; ++i)
            {
                _CObjectExPtr<CTracked> copy = shared;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(1, shared->GetRefCount());
    EXPECT_EQ(0, destroyed);
    shared.Reset();
    EXPECT_EQ(1, destroyed);
}

TEST(PostedObject, AFailedPostReleasesTheReferenceItCarried)
{
    int destroyed = 0;
    auto object = MakeObjectEx<CTracked>(&destroyed);
    CThreadEx ended;
    const DWORD endedId = ended.Create([](LPVOID) -> DWORD { return 0; }, nullptr);
    ASSERT_NE(0u, endedId);
    ended.Wait(INFINITE);

    _CObjectExPtr<CTracked> keep = object;
    EXPECT_FALSE(PostObjectToThread(endedId, WM_USER + 1, 0, object));
    EXPECT_EQ(2, keep->GetRefCount());
    object.Reset();
    HWND gone = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, gone);
    DestroyWindow(gone);
    EXPECT_FALSE(PostObjectToWindow(gone, WM_USER + 1, 0, std::move(keep)));
    EXPECT_EQ(1, destroyed);
}

TEST(PostedObject, TheReceiverOwnsTheOnlyReferenceAfterAPost)
{
    int destroyed = 0;
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // make this thread's queue
    ASSERT_TRUE(PostObjectToThread(GetCurrentThreadId(), WM_USER + 2, 7, MakeObjectEx<CTracked>(&destroyed)));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 2, WM_USER + 2, PM_REMOVE));
    EXPECT_EQ(7u, msg.wParam);
    {
        auto received = TakePostedObject<CTracked>(msg.lParam);
        EXPECT_EQ(1, received->GetRefCount());
    }
    EXPECT_EQ(1, destroyed);
}
