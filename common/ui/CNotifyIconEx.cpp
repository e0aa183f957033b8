#include "common/ui/CNotifyIconEx.h"
#include <cwchar>

static_assert(sizeof(NOTIFYICONDATAW) == 976 || sizeof(void*) != 8, "the notification icon record is 976 bytes");

BOOL CNotifyIconEx::Update(HWND window, UINT id, UINT callbackMessage, HICON icon, LPCWSTR tip)
{
    if (!m_filled)
    {
        m_data = {};
        m_data.cbSize = kRecordSize;
        m_data.hWnd = window;
        m_data.uID = id;
        m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        m_data.uCallbackMessage = callbackMessage;
        m_filled = true;
    }
    m_data.hIcon = icon;
    // The tooltip field holds 127 characters and the terminator; longer texts are cut.
    wcsncpy(m_data.szTip, tip ? tip : L"", kTipChars - 1);
    m_data.szTip[kTipChars - 1] = L'\0';
    m_shown = true;
    return Show(m_added);
}

BOOL CNotifyIconEx::Readd()
{
    if (!m_filled || !m_shown)
        return FALSE;
    // The broadcast does not say whether this taskbar lost the icon.
    return Show(true);
}

BOOL CNotifyIconEx::Show(bool mayBeThere)
{
    // An add of an icon that is there fails, and so does a modify of one that is not: the
    // other call settles which it was.
    if (mayBeThere)
        m_added = Shell_NotifyIconW(NIM_MODIFY, &m_data) || Shell_NotifyIconW(NIM_ADD, &m_data);
    else
        m_added = Shell_NotifyIconW(NIM_ADD, &m_data) || Shell_NotifyIconW(NIM_MODIFY, &m_data);
    return m_added;
}

BOOL CNotifyIconEx::Delete()
{
    // An icon whose add seemed to fail may still be there: whatever was shown is deleted.
    const bool shown = m_shown;
    m_shown = false;
    m_added = false;
    if (!m_filled || !shown)
        return FALSE;
    return Shell_NotifyIconW(NIM_DELETE, &m_data);
}
