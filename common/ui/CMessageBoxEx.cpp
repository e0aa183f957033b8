#include "common/ui/CMessageBoxEx.h"
#include "common/CResourceLoader.h"
#include "common/CStringEx.h"
#include <vector>

namespace
{
// How long after the time-out a box that the system left open is closed by its program.
constexpr DWORD kSelfCloseGraceMs = 250;

CStringEx& DefaultCaption()
{
    static CStringEx caption;
    return caption;
}

// Closes the box shown during its lifetime if it is still open shortly after its time-out.
// A thread hook notes the first dialog window the thread creates while the guard is the
// innermost one (the box); a thread timer, served by the box's own message loop, ends it.
class CBoxTimeoutGuard
{
public:
    explicit CBoxTimeoutGuard(DWORD timeoutMs)
    {
        if (timeoutMs == 0)
            return;
        Guards().push_back(this);
        if (!t_hook)
            t_hook = SetWindowsHookExW(WH_CBT, &CbtProc, nullptr, GetCurrentThreadId());
        m_timer = SetTimer(nullptr, 0, timeoutMs + kSelfCloseGraceMs, &TimerProc);
    }
    ~CBoxTimeoutGuard()
    {
        if (m_timer)
            KillTimer(nullptr, m_timer);
        auto& guards = Guards();
        for (auto it = guards.begin(); it != guards.end(); ++it)
        {
            if (*it == this)
            {
                guards.erase(it);
                break;
            }
        }
        if (guards.empty() && t_hook)
        {
            UnhookWindowsHookEx(t_hook);
            t_hook = nullptr;
        }
    }
    CBoxTimeoutGuard(const CBoxTimeoutGuard&) = delete;
    CBoxTimeoutGuard& operator=(const CBoxTimeoutGuard&) = delete;

private:
    static std::vector<CBoxTimeoutGuard*>& Guards()
    {
        static thread_local std::vector<CBoxTimeoutGuard*> guards;
        return guards;
    }

    static bool IsDialogClass(LPCWSTR className)
    {
        if (IS_INTRESOURCE(className))
            return LOWORD(reinterpret_cast<ULONG_PTR>(className)) == 0x8002;
        return className && wcscmp(className, L"#32770") == 0;
    }

    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_CREATEWND && !Guards().empty())
        {
            CBoxTimeoutGuard* innermost = Guards().back();
            const CBT_CREATEWNDW* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
            if (!innermost->m_box && create && create->lpcs && IsDialogClass(create->lpcs->lpszClass))
                innermost->m_box = reinterpret_cast<HWND>(wParam);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD)
    {
        for (CBoxTimeoutGuard* guard : Guards())
        {
            if (guard->m_timer != id)
                continue;
            KillTimer(nullptr, id);
            guard->m_timer = 0;
            if (guard->m_box && IsWindow(guard->m_box))
                EndDialog(guard->m_box, CMessageBoxEx::kTimedOut);
            return;
        }
    }

    static thread_local HHOOK t_hook;
    UINT_PTR m_timer = 0;
    HWND m_box = nullptr;
};

thread_local HHOOK CBoxTimeoutGuard::t_hook = nullptr;

LPCWSTR CaptionOrDefault(LPCWSTR caption)
{
    return caption && *caption ? caption : DefaultCaption().GetString();
}
}

int CMessageBoxEx::Show(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD timeoutMs)
{
    caption = CaptionOrDefault(caption);
    CBoxTimeoutGuard guard(timeoutMs);
    return CResourceLoader::Instance().MessageBoxText(owner, text, caption, style, timeoutMs);
}

int CMessageBoxEx::ShowRes(HWND owner, UINT id, LPCWSTR caption, UINT style, DWORD timeoutMs)
{
    caption = CaptionOrDefault(caption);
    CBoxTimeoutGuard guard(timeoutMs);
    return CResourceLoader::Instance().MessageBoxRes(owner, id, caption, style, timeoutMs);
}

void CMessageBoxEx::SetDefaultCaption(LPCWSTR caption)
{
    DefaultCaption() = caption;
}

LPCWSTR CMessageBoxEx::GetDefaultCaption()
{
    return DefaultCaption().GetString();
}
