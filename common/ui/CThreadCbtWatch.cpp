#include "common/ui/CThreadCbtWatch.h"

namespace
{
thread_local HHOOK t_hook = nullptr;

std::vector<CThreadCbtWatch*>& ThreadWatchers()
{
    static thread_local std::vector<CThreadCbtWatch*> watchers;
    return watchers;
}
}

CThreadCbtWatch::CThreadCbtWatch()
{
    ThreadWatchers().push_back(this);
    if (!t_hook)
        t_hook = SetWindowsHookExW(WH_CBT, &CbtProc, nullptr, GetCurrentThreadId());
}

CThreadCbtWatch::~CThreadCbtWatch()
{
    auto& watchers = ThreadWatchers();
    for (auto it = watchers.begin(); it != watchers.end(); ++it)
    {
        if (*it == this)
        {
            watchers.erase(it);
            break;
        }
    }
    if (watchers.empty() && t_hook)
    {
        UnhookWindowsHookEx(t_hook);
        t_hook = nullptr;
    }
}

const std::vector<CThreadCbtWatch*>& CThreadCbtWatch::Watchers()
{
    return ThreadWatchers();
}

LRESULT CALLBACK CThreadCbtWatch::CbtProc(int code, WPARAM wParam, LPARAM lParam)
{
    // A copy: a watcher's work (enabling a window, say) sends messages that may start or
    // end other watchers.
    const std::vector<CThreadCbtWatch*> watchers = ThreadWatchers();
    for (CThreadCbtWatch* watcher : watchers)
    {
        const auto& now = ThreadWatchers();
        for (CThreadCbtWatch* alive : now)
        {
            if (alive == watcher)
            {
                watcher->OnCbt(code, wParam, lParam);
                break;
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
