#include "configeditor/CKelvoAgentConfigDlgList.h"

namespace
{
const UINT_PTR kSubclassId = 1;
}

CListCtrlEx::~CListCtrlEx()
{
    Detach();
}

BOOL CListCtrlEx::Attach(HWND list, std::function<void()> onEnter)
{
    Detach();
    if (!list || !SetWindowSubclass(list, &SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return FALSE;
    m_list = list;
    m_onEnter = std::move(onEnter);
    return TRUE;
}

void CListCtrlEx::Detach()
{
    if (m_list)
        RemoveWindowSubclass(m_list, &SubclassProc, kSubclassId);
    m_list = nullptr;
    m_onEnter = nullptr;
}

LRESULT CALLBACK CListCtrlEx::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR context)
{
    auto* self = reinterpret_cast<CListCtrlEx*>(context);
    switch (message)
    {
    case WM_GETDLGCODE:
    {
        // Enter in the list is the list's: the dialog manager hands the key to it instead of
        // pressing the default button.
        const MSG* key = reinterpret_cast<const MSG*>(lParam);
        if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN)
            return DefSubclassProc(window, message, wParam, lParam) | DLGC_WANTMESSAGE;
        break;
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN)
        {
            // Bit 30: the key was down already (a repeat of a held key).
            if ((lParam & (1 << 30)) == 0 && self->m_onEnter)
                self->m_onEnter();
            return 0;
        }
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, &SubclassProc, kSubclassId);
        self->m_list = nullptr;
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

void CListCtrlEx::SetExtendedStyle(DWORD style) const
{
    ListView_SetExtendedListViewStyle(m_list, style);
}

int CListCtrlEx::InsertColumn(int column, LPCWSTR heading, int width) const
{
    LVCOLUMNW info = {};
    info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    info.pszText = const_cast<LPWSTR>(heading);
    info.cx = width;
    info.iSubItem = column;
    return ListView_InsertColumn(m_list, column, &info);
}

int CListCtrlEx::InsertItem(int index, LPCWSTR text, LPARAM data) const
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = index;
    item.pszText = const_cast<LPWSTR>(text);
    item.lParam = data;
    return ListView_InsertItem(m_list, &item);
}

BOOL CListCtrlEx::SetItemText(int item, int column, LPCWSTR text) const
{
    LVITEMW info = {};
    info.iSubItem = column;
    info.pszText = const_cast<LPWSTR>(text);
    return static_cast<BOOL>(SendMessageW(m_list, LVM_SETITEMTEXTW, static_cast<WPARAM>(item),
                                          reinterpret_cast<LPARAM>(&info)));
}

LPARAM CListCtrlEx::GetItemData(int item) const
{
    LVITEMW info = {};
    info.mask = LVIF_PARAM;
    info.iItem = item;
    return ListView_GetItem(m_list, &info) ? info.lParam : 0;
}

int CListCtrlEx::GetItemCount() const
{
    return ListView_GetItemCount(m_list);
}

BOOL CListCtrlEx::DeleteAllItems() const
{
    return ListView_DeleteAllItems(m_list);
}

int CListCtrlEx::GetSelectionMark() const
{
    return ListView_GetSelectionMark(m_list);
}

void CListCtrlEx::SetSelectionMark(int item) const
{
    ListView_SetSelectionMark(m_list, item);
}

int CListCtrlEx::GetSelectedItem() const
{
    return ListView_GetNextItem(m_list, -1, LVNI_SELECTED);
}

void CListCtrlEx::SelectItem(int item) const
{
    const UINT state = LVIS_SELECTED | LVIS_FOCUSED;
    ListView_SetItemState(m_list, item, state, state);
    ListView_SetSelectionMark(m_list, item);
    ListView_EnsureVisible(m_list, item, FALSE);
}

void CListCtrlEx::FitColumns(int firstPercent, int lastPercent) const
{
    RECT client = {};
    if (!m_list || !GetClientRect(m_list, &client))
        return;
    const int first = client.right * firstPercent / 100;
    const int last = client.right * lastPercent / 100;
    ListView_SetColumnWidth(m_list, 0, first);
    ListView_SetColumnWidth(m_list, 1, client.right - first - last);
    ListView_SetColumnWidth(m_list, 2, last);
}
