#pragma once
#include <windows.h>
#include <vector>

// CThreadCbtWatch: the base of objects that watch window creation, destruction and the
// like on their own thread while they live (a computer-based-training hook of the thread).
// The hook is installed with the thread's first watcher and removed with its last; every
// notification goes to every watcher of the thread, newest last.
class CThreadCbtWatch
{
public:
    CThreadCbtWatch();
    virtual ~CThreadCbtWatch();
    CThreadCbtWatch(const CThreadCbtWatch&) = delete;
    CThreadCbtWatch& operator=(const CThreadCbtWatch&) = delete;

protected:
    // One notification of the hook (HCBT_CREATEWND, HCBT_DESTROYWND, ...), with its arguments.
    virtual void OnCbt(int code, WPARAM wParam, LPARAM lParam) = 0;

    // The watchers of this thread, oldest first.
    static const std::vector<CThreadCbtWatch*>& Watchers();

private:
    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
};
