#pragma once
#include <windows.h>
#include <shellapi.h>

// CNotifyIconEx: one icon in the taskbar's notification area, owned by a window. The record
// stays all zero until the first Update. Update shows the icon: it adds it the first time
// and modifies it afterwards; Delete takes it away. Readd answers "TaskbarCreated": a
// taskbar that was re-created has lost the icon, one that only says so still has it, so
// the icon is modified when it is still there and added when it is not; an icon that the
// program deleted stays deleted. The icon handle stays owned by the caller.
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

    // Sets the icon and tooltip (cut to 127 characters) and shows them.
    BOOL Update(HWND window, UINT id, UINT callbackMessage, HICON icon, LPCWSTR tip);
    // Shows the icon again with its last icon and tooltip after the taskbar was re-created;
    // FALSE when the program shows no icon (never added, or deleted).
    BOOL Readd();
    // Removes the icon from the notification area; the record keeps its contents.
    BOOL Delete();
    // Whether the notification area holds the icon, as far as the program knows.
    bool IsAdded() const noexcept { return m_added; }
    const NOTIFYICONDATAW& GetRecord() const noexcept { return m_data; }

private:
    // Puts the record into the notification area: modified when the icon may be there
    // already, added when it is not.
    BOOL Show(bool mayBeThere);

    NOTIFYICONDATAW m_data = {};
    bool m_filled = false;
    // The program shows the icon: from the first Update to Delete.
    bool m_shown = false;
    bool m_added = false;
};
