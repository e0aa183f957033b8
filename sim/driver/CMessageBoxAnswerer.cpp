#include "sim/driver/CMessageBoxAnswerer.h"
#include "sim/driver/CAgentProcess.h"
#include "sim/driver/ScenarioWait.h"

namespace
{
constexpr int kMessageTextControl = 0xFFFF;

CStringEx TextOf(HWND window)
{
    wchar_t text[2048] = {};
    DWORD_PTR length = 0;
    if (window == nullptr || !SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text),
                                                  SMTO_ABORTIFHUNG, 2000, &length))
        return CStringEx();
    return CStringEx(text, static_cast<int>(length));
}
}

bool CMessageBoxAnswerer::IsBox(HWND window) const
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != m_processId || GetDlgItem(window, CAgentProcess::kConnectedControl) != nullptr)
        return false;
    wchar_t className[64] = {};
    GetClassNameW(window, className, ARRAYSIZE(className));
    if (wcscmp(className, L"#32770") != 0 || TextOf(window) != m_title)
        return false;
    for (int button : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
    {
        if (GetDlgItem(window, button) != nullptr)
            return true;
    }
    return false;
}

BOOL CALLBACK CMessageBoxAnswerer::Visit(HWND window, LPARAM parameter)
{
    auto* self = reinterpret_cast<CMessageBoxAnswerer*>(parameter);
    if (!self->IsBox(window))
        return TRUE;
    const CStringEx text = TextOf(GetDlgItem(window, kMessageTextControl));
    if (self->m_textPart && text.Find(self->m_textPart) < 0)
        return TRUE;
    self->m_box = window;
    self->m_text = text;
    return FALSE;
}

HWND CMessageBoxAnswerer::WaitForBox(DWORD boundMs, LPCWSTR textPart)
{
    m_textPart = textPart;
    m_box = nullptr;
    m_text.Empty();
    ScenarioWaitFor(
        [&] {
            EnumWindows(Visit, reinterpret_cast<LPARAM>(this));
            return m_box != nullptr;
        },
        boundMs);
    return m_box;
}

bool CMessageBoxAnswerer::Press(int buttonId, DWORD boundMs)
{
    const HWND button = m_box ? GetDlgItem(m_box, buttonId) : nullptr;
    if (button == nullptr)
        return false;
    if (!PostMessageW(m_box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button)))
        return false;
    const HWND box = m_box;
    return ScenarioWaitFor([box] { return !IsWindow(box); }, boundMs);
}
