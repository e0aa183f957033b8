#pragma once
#include <windows.h>
#include <commctrl.h>
#include <functional>

// CListCtrlEx: the editor's report-view list control. Besides the usual calls it takes the
// Enter key from the dialog manager: pressing Enter in the list (the key going down, not
// its repeats) asks the owner to edit the selected setting, once. The key-up of an Enter that
// closed a dialog opened from the list, and a held key's repeats, do nothing.
class CListCtrlEx
{
public:
    CListCtrlEx() = default;
    ~CListCtrlEx();
    CListCtrlEx(const CListCtrlEx&) = delete;
    CListCtrlEx& operator=(const CListCtrlEx&) = delete;

    // Takes over the list window of a dialog; onEnter runs when Enter is pressed in it.
    BOOL Attach(HWND list, std::function<void()> onEnter);
    void Detach();
    HWND GetSafeHwnd() const noexcept { return m_list; }

    void SetExtendedStyle(DWORD style) const;
    int InsertColumn(int column, LPCWSTR heading, int width) const;
    int InsertItem(int index, LPCWSTR text, LPARAM data) const;
    BOOL SetItemText(int item, int column, LPCWSTR text) const;
    LPARAM GetItemData(int item) const;
    int GetItemCount() const;
    BOOL DeleteAllItems() const;
    int GetSelectionMark() const;
    void SetSelectionMark(int item) const;
    // The selected item (-1 for none).
    int GetSelectedItem() const;
    // Selects the item, gives it the focus rectangle and the selection mark, and scrolls it
    // into view.
    void SelectItem(int item) const;
    // Sizes the three columns to fill the list's width: the first takes firstPercent of it,
    // the last lastPercent, the middle one the rest.
    void FitColumns(int firstPercent, int lastPercent) const;

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR context);

    HWND m_list = nullptr;
    std::function<void()> m_onEnter;
};
