#pragma once
#include <windows.h>
#include <shellapi.h>

// CNotifyIconEx: one icon in the taskbar's notification area, owned by a window. The record
// stays all zero until the first Add; Update adds the icon the first time and modifies it
// afterwards; Readd puts it back after the taskbar was re-created ("TaskbarCreated").
// The icon handle stays owned by the caller.
class CNotifyIconEx
{
public:
    // The full record of this Windows version (976 bytes in 64-bit programs).
    static constexpr DWORD kRecordSize = sizeof(NOTIFYICONDATAW);
    // Characters of the tooltip, the terminator included.
    static constexpr int kTipChars = ARRAYSIZE(NOTIFYICONDATAW{}.szTip);

    CNotifyIconEx() = default;
    ~CNotifyIconEx() { Delete(); }
    CNotifyIconEx(const CNotifyIconEx&) = delete;
    CNotifyIconEx& operator=(const CNotifyIconEx&) = delete;

    // Sets the icon and tooltip (cut to 127 characters); adds the icon the first time.
    BOOL Update(HWND window, UINT id, UINT callbackMessage, HICON icon, LPCWSTR tip);
    // Adds the icon again with its last icon and tooltip; FALSE when it was never added.
    BOOL Readd();
    // Removes the icon from the notification area; the record keeps its contents.
    BOOL Delete();
    bool IsAdded() const noexcept { return m_added; }
    const NOTIFYICONDATAW& GetRecord() const noexcept { return m_data; }

private:
    NOTIFYICONDATAW m_data = {};
    bool m_filled = false;
    bool m_added = false;
};
