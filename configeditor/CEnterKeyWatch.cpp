#include "configeditor/CEnterKeyWatch.h"

namespace
{
thread_local CEnterKeyWatch* t_watch = nullptr;
}

void CEnterKeyWatch::Start(HWND dialog)
{
    Stop();
    m_dialog = dialog;
    m_enterWasLast = false;
    t_watch = this;
    m_hook = SetWindowsHookExW(WH_GETMESSAGE, &GetMessageProc, nullptr, GetCurrentThreadId());
}

void CEnterKeyWatch::Stop()
{
    if (m_hook)
        UnhookWindowsHookEx(m_hook);
    m_hook = nullptr;
    if (t_watch == this)
        t_watch = nullptr;
}

LRESULT CALLBACK CEnterKeyWatch::GetMessageProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE && t_watch && lParam)
        t_watch->Note(*reinterpret_cast<const MSG*>(lParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CEnterKeyWatch::Note(const MSG& msg)
{
    const bool inside = msg.hwnd && (msg.hwnd == m_dialog || IsChild(m_dialog, msg.hwnd));
    if (!inside)
        return;
    switch (msg.message)
    {
    case WM_KEYDOWN:
        // A repeat of a held Enter is still Enter.
        m_enterWasLast = msg.wParam == VK_RETURN;
        break;
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        m_enterWasLast = false;
        break;
    default:
        break;
    }
}
