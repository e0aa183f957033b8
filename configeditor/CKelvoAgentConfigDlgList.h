#pragma once
#include <windows.h>
#include <commctrl.h>
#include <functional>

// CListCtrlEx: the editor's report-view list control. Besides the usual calls it watches the
// Enter key: releasing Enter in the list asks the owner to edit the selected setting, except
// the one Enter that closed a value editor, which the owner marks to be ignored.
class CListCtrlEx
{
public:
    CListCtrlEx() = default;
    ~CListCtrlEx();
    CListCtrlEx(const CListCtrlEx&) = delete;
    CListCtrlEx& operator=(const CListCtrlEx&) = delete;

    // Takes over the list window of a dialog; onEnter runs when Enter is released in it.
    BOOL Attach(HWND list, std::function<void()> onEnter);
    void Detach();
    HWND GetSafeHwnd() const noexcept { return m_list; }

    // The next release of Enter in the list does nothing.
    void IgnoreNextEnter() noexcept { m_ignoreNextEnter = true; }

    void SetExtendedStyle(DWORD style) const;
    int InsertColumn(int column, LPCWSTR heading, int width) const;
    int InsertItem(int index, LPCWSTR text, LPARAM data) const;
    BOOL SetItemText(int item, int column, LPCWSTR text) const;
    LPARAM GetItemData(int item) const;
    int GetItemCount() const;
    BOOL DeleteAllItems() const;
    int GetSelectionMark() const;
    void SetSelectionMark(int item) const;
    // Sizes the two columns to fill the list's width: the first takes firstPercent of it.
    void FitColumns(int firstPercent) const;

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR context);

    HWND m_list = nullptr;
    std::function<void()> m_onEnter;
    bool m_ignoreNextEnter = false;
};
