#include "common/ui/CMessageBoxEx.h"
#include "common/CResourceLoader.h"
#include "common/CStringEx.h"
#include "common/ui/CThreadCbtWatch.h"
#include <optional>

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
// The thread's window hook notes the first dialog window the thread creates while the guard
// is the newest one (the box); a thread timer, served by the box's own message loop, ends it.
class CBoxTimeoutGuard : public CThreadCbtWatch
{
public:
    explicit CBoxTimeoutGuard(DWORD timeoutMs)
        : m_timer(SetTimer(nullptr, 0, timeoutMs + kSelfCloseGraceMs, &TimerProc))
    {
    }
    ~CBoxTimeoutGuard() override
    {
        if (m_timer)
            KillTimer(nullptr, m_timer);
    }

private:
    static bool IsDialogClass(LPCWSTR className)
    {
        if (IS_INTRESOURCE(className))
            return LOWORD(reinterpret_cast<ULONG_PTR>(className)) == 0x8002;
        return className && wcscmp(className, L"#32770") == 0;
    }

    // Whether this is the newest guard of the thread, the one whose box comes next.
    bool IsNewest() const
    {
        const auto& watchers = Watchers();
        for (auto it = watchers.rbegin(); it != watchers.rend(); ++it)
        {
            if (dynamic_cast<const CBoxTimeoutGuard*>(*it))
                return *it == this;
        }
        return false;
    }

    void OnCbt(int code, WPARAM wParam, LPARAM lParam) override
    {
        if (code != HCBT_CREATEWND || m_box || !IsNewest())
            return;
        const CBT_CREATEWNDW* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        if (create && create->lpcs && IsDialogClass(create->lpcs->lpszClass))
            m_box = reinterpret_cast<HWND>(wParam);
    }

    static void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD)
    {
        for (CThreadCbtWatch* watcher : Watchers())
        {
            auto* guard = dynamic_cast<CBoxTimeoutGuard*>(watcher);
            if (!guard || guard->m_timer != id)
                continue;
            KillTimer(nullptr, id);
            guard->m_timer = 0;
            if (guard->m_box && IsWindow(guard->m_box))
                EndDialog(guard->m_box, CMessageBoxEx::kTimedOut);
            return;
        }
    }

    UINT_PTR m_timer = 0;
    HWND m_box = nullptr;
};

LPCWSTR CaptionOrDefault(LPCWSTR caption)
{
    return caption && *caption ? caption : DefaultCaption().GetString();
}
}

int CMessageBoxEx::Show(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, DWORD timeoutMs)
{
    caption = CaptionOrDefault(caption);
    std::optional<CBoxTimeoutGuard> guard;
    if (timeoutMs != 0)
        guard.emplace(timeoutMs);
    return CResourceLoader::Instance().MessageBoxText(owner, text, caption, style, timeoutMs);
}

int CMessageBoxEx::ShowRes(HWND owner, UINT id, LPCWSTR caption, UINT style, DWORD timeoutMs)
{
    caption = CaptionOrDefault(caption);
    std::optional<CBoxTimeoutGuard> guard;
    if (timeoutMs != 0)
        guard.emplace(timeoutMs);
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
