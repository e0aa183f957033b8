#include "common/ui/CNotifyIconEx.h"
#include <cwchar>

static_assert(sizeof(NOTIFYICONDATAW) == 976 || sizeof(void*) != 8, "the notification icon record is 976 bytes");

BOOL CNotifyIconEx::Update(HWND window, UINT id, UINT callbackMessage, HICON icon, LPCWSTR tip)
{
    const bool first = !m_filled;
    if (first)
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
    if (!m_added)
    {
        m_added = Shell_NotifyIconW(NIM_ADD, &m_data) != FALSE;
        return m_added;
    }
    return Shell_NotifyIconW(NIM_MODIFY, &m_data);
}

BOOL CNotifyIconEx::Readd()
{
    if (!m_filled)
        return FALSE;
    m_added = Shell_NotifyIconW(NIM_ADD, &m_data) != FALSE;
    return m_added;
}

BOOL CNotifyIconEx::Delete()
{
    if (!m_added)
        return FALSE;
    m_added = false;
    return Shell_NotifyIconW(NIM_DELETE, &m_data);
}
