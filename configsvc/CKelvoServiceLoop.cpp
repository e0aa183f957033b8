#include "configsvc/CKelvoServiceLoop.h"

void CKelvoServiceLoop::Prepare()
{
    // The first call that asks for the thread's queue creates it.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    m_threadId = GetCurrentThreadId();
}

bool CKelvoServiceLoop::RequestStop()
{
    m_stop = true;
    const DWORD threadId = m_threadId.load();
    return threadId != 0 && PostThreadMessageW(threadId, WM_QUIT, 0, 0);
}

void CKelvoServiceLoop::Run(const Handler& handler)
{
    // A stop that came before this point posted its WM_QUIT too, or found no queue yet.
    if (m_stop)
        return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        if (handler && handler(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
