#include "configsec/CADListViewHelper.h"
#include "common/CResourceLoader.h"
#include "common/ui/CDialogEx.h"
#include "resources/KVIdsConfigSec.h"

namespace CADListView
{
void Prepare(HWND list, const UINT* headingIds, const int* widths, int columns, bool checkBoxes)
{
    DWORD style = LVS_EX_FULLROWSELECT;
    if (checkBoxes)
        style |= LVS_EX_CHECKBOXES;
    ListView_SetExtendedListViewStyleEx(list, style, style);
    for (int i = 0; i < columns; ++i)
    {
        CStringEx heading = CResourceLoader::Instance().LoadText(headingIds[i]);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<LPWSTR>(heading.GetString());
        RECT width = { 0, 0, widths[i], 0 };
        MapDialogRect(GetParent(list), &width);
        column.cx = width.right;
        column.iSubItem = i;
        ListView_InsertColumn(list, i, &column);
    }
}

void SetKindIcons(HWND list)
{
    const HMODULE module = CDialogEx::GetResourceModule();
    const struct { int size; int which; } lists[] = { { 16, LVSIL_SMALL }, { 32, LVSIL_NORMAL } };
    for (const auto& entry : lists)
    {
        HIMAGELIST images = ImageList_Create(entry.size, entry.size, ILC_COLOR32 | ILC_MASK, 2, 0);
        if (!images)
            continue;
        for (const UINT id : { IDI_CONFIGSEC_USER, IDI_CONFIGSEC_GROUP })
        {
            HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, entry.size,
                                                       entry.size, LR_DEFAULTCOLOR));
            // A missing icon leaves the row without a picture; the list still works.
            ImageList_AddIcon(images, icon);
            if (icon)
                DestroyIcon(icon);
        }
        HIMAGELIST old = ListView_SetImageList(list, images, entry.which);
        if (old)
            ImageList_Destroy(old);
    }
}

int ImageOf(int kind)
{
    switch (kind)
    {
    case CADObject::KindGroup: return 1;
    case CADObject::KindAccount: return 0;
    default: return I_IMAGENONE;
    }
}

int AddRow(HWND list, const CStringEx& text, const CADObject* object, bool withDetails)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    item.iItem = ListView_GetItemCount(list);
    item.pszText = const_cast<LPWSTR>(text.GetString());
    item.lParam = reinterpret_cast<LPARAM>(object);
    item.iImage = ImageOf(object ? object->m_kind : CADObject::KindNotFound);
    const int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row >= 0 && withDetails && object)
    {
        ListView_SetItemText(list, row, 1, const_cast<LPWSTR>(object->m_displayName.GetString()));
        ListView_SetItemText(list, row, 2, const_cast<LPWSTR>(object->m_description.GetString()));
    }
    return row;
}

CADObject* ObjectAt(HWND list, int row)
{
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!ListView_GetItem(list, &item))
        return nullptr;
    return reinterpret_cast<CADObject*>(item.lParam);
}

int CheckedCount(HWND list)
{
    int checked = 0;
    const int count = ListView_GetItemCount(list);
    for (int i = 0; i < count; ++i)
        if (ListView_GetCheckState(list, i))
            ++checked;
    return checked;
}

int SelectedRow(HWND list)
{
    return ListView_GetNextItem(list, -1, LVNI_SELECTED);
}
}
