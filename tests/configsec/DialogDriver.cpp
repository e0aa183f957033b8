#include "tests/configsec/DialogDriver.h"
#include <commctrl.h>
#include <thread>

namespace
{
constexpr UINT kSendTimeoutMs = 5000;

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        kSendTimeoutMs, &copied);
    return text;
}

bool IsDialogClass(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    return wcscmp(name, L"#32770") == 0;
}
}

std::wstring DialogDriver::Run(const std::function<std::wstring(DialogDriver&)>& script, const std::function<void()>& ui)
{
    DialogDriver driver(GetCurrentThreadId());
    std::wstring verdict = L"script did not finish";
    std::thread worker([&] {
        try
        {
            verdict = script(driver);
        }
        catch (...)
        {
            verdict = L"script threw";
        }
        if (!verdict.empty())
        {
            // Leave nothing open: the UI thread's modal runs must end.
            for (int round = 0; round < 10 && !driver.Dialogs().empty(); ++round)
            {
                driver.CancelAll();
                Sleep(200);
            }
        }
    });
    ui();
    worker.join();
    return verdict;
}

std::vector<HWND> DialogDriver::Dialogs() const
{
    std::vector<HWND> found;
    EnumThreadWindows(
        m_uiThread,
        [](HWND window, LPARAM context) -> BOOL {
            if (IsWindowVisible(window) && IsDialogClass(window))
                reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

void DialogDriver::CancelAll() const
{
    for (HWND dialog : Dialogs())
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

HWND DialogDriver::WaitForDialog(const std::wstring& caption, DWORD timeoutMs) const
{
    HWND match = nullptr;
    WaitUntil(
        [&] {
            for (HWND dialog : Dialogs())
                if (WindowText(dialog) == caption && IsWindowEnabled(dialog))
                {
                    match = dialog;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return match;
}

bool DialogDriver::WaitGone(HWND window, DWORD timeoutMs)
{
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

bool DialogDriver::WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;)
    {
        if (condition())
            return true;
        if (GetTickCount64() > end)
            return false;
        Sleep(20);
    }
}

void DialogDriver::Click(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void DialogDriver::SetText(HWND dialog, int id, const std::wstring& text)
{
    Send(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring DialogDriver::GetText(HWND dialog, int id)
{
    return WindowText(GetDlgItem(dialog, id));
}

std::vector<std::wstring> DialogDriver::ListTexts(HWND list, int column)
{
    std::vector<std::wstring> texts;
    const int count = static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
    {
        wchar_t text[512] = {};
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = ARRAYSIZE(text);
        Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        texts.emplace_back(text);
    }
    return texts;
}

void DialogDriver::SelectRow(HWND list, int row)
{
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void DialogDriver::CheckRow(HWND list, int row, bool checked)
{
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

bool DialogDriver::IsEnabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

LRESULT DialogDriver::Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}
