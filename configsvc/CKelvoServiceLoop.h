#pragma once
#include <windows.h>
#include <atomic>
#include <functional>

// The service thread's message loop and the stop that ends it. The Service Control
// Manager calls the control handler on another thread at any moment after the handler is
// registered: the thread's message queue is made before that (Prepare), so the WM_QUIT a
// stop posts always has a queue to wait in, and a stop that came before the loop began
// ends it before it waits.
class CKelvoServiceLoop
{
public:
    // A message the loop's owner handles itself; false hands it on to the thread's windows.
    using Handler = std::function<bool(const MSG&)>;

    // On the service thread, before the control handler is registered.
    void Prepare();
    // From any thread: the loop ends, now or as soon as it starts. True when the stop was
    // posted to the loop's queue (false before Prepare, when the flag alone tells the loop).
    bool RequestStop();
    bool StopRequested() const noexcept { return m_stop.load(); }
    // On the service thread: hands messages to handler, then to the windows, until a stop.
    void Run(const Handler& handler);

private:
    std::atomic<DWORD> m_threadId{ 0 };
    std::atomic<bool> m_stop{ false };
};
