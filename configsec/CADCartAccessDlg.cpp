#include "configsec/CADCartAccessDlg.h"
#include "common/CResourceLoader.h"
#include "configsec/CADListViewHelper.h"
#include "configsec/CADSelectDlg.h"
#include "configsec/ConfigSecInstance.h"
#include "resources/KVIdsConfigSec.h"
#include "resources/KVIdsDirectory.h"

KELVO_BEGIN_MESSAGE_MAP(CADCartAccessDlg, CUtilDialogEx<CDialogEx>)
    KELVO_COMMAND(IDC_CONFIGSEC_ADD, &CADCartAccessDlg::OnAdd)
    KELVO_COMMAND(IDC_CONFIGSEC_REMOVE, &CADCartAccessDlg::OnRemove)
    KELVO_MESSAGE(WM_SHOW_LOAD_PROBLEM, &CADCartAccessDlg::OnShowLoadProblem)
KELVO_END_MESSAGE_MAP()

namespace
{
// Centres the dialog over its parent (or the screen when it has none).
void CentreOver(HWND dialog, HWND parent)
{
    RECT own = {}, area = {};
    GetWindowRect(dialog, &own);
    if (!parent || !GetWindowRect(parent, &area) || IsIconic(parent))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const int width = own.right - own.left, height = own.bottom - own.top;
    const int left = area.left + ((area.right - area.left) - width) / 2;
    const int top = area.top + ((area.bottom - area.top) - height) / 2;
    SetWindowPos(dialog, nullptr, left < 0 ? 0 : left, top < 0 ? 0 : top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
}

CADCartAccessDlg::CADCartAccessDlg(HWND parent) : CUtilDialogEx<CDialogEx>(IDD_CONFIGSEC_CART_ACCESS, parent)
{
}

int CADCartAccessDlg::Run(HWND parent, const CStringEx& value, CStringEx& accepted)
{
    accepted.Empty();
    CADCartAccessDlg dialog(parent);
    dialog.Load(value);
    const INT_PTR answer = dialog.DoModal();
    if (answer == IDOK)
        accepted = dialog.GetValue();
    return answer == IDOK || answer == IDCANCEL ? static_cast<int>(answer) : -1;
}

void CADCartAccessDlg::Load(const CStringEx& value)
{
    m_entries.RemoveAll();
    CCartAccessValue::Load(value, m_entries, m_report);
}

size_t CADCartAccessDlg::AddAccounts(const CSmartList<CADObject*>& chosen)
{
    size_t added = 0;
    for (size_t i = 0; i < chosen.GetCount(); ++i)
    {
        const CADObject& candidate = *chosen.GetAt(i);
        bool listed = false;
        for (size_t j = 0; j < m_entries.GetCount() && !listed; ++j)
            listed = m_entries.GetAt(j)->IsSameAccount(candidate);
        if (listed)
            continue;
        const CADObject* object = m_entries.AddCopy(candidate);
        if (m_list)
            AddRow(object);
        ++added;
    }
    if (m_hWnd)
        UpdateSummary();
    return added;
}

// An entry that names no domain ("Staff" instead of "HQ\Staff"): the agent refuses it.
bool CADCartAccessDlg::IsBareName(const CADObject& object)
{
    return object.GetListText().Find(L'\\') < 0;
}

void CADCartAccessDlg::AddRow(const CADObject* object)
{
    // Beside the entry, in words: whether the directory knows it, and whether the agent can
    // use it at all (the icon alone tells only the first, and only to who knows the icons).
    const int row = CADListView::AddRow(m_list, object->GetListText(), object, false);
    UINT problem = 0;
    if (IsBareName(*object))
        problem = IDS_CONFIGSEC_ENTRY_NO_DOMAIN;
    else if (object->m_kind == CADObject::KindNotFound)
        problem = IDS_CONFIGSEC_ENTRY_NOT_FOUND;
    if (row >= 0 && problem != 0)
    {
        CStringEx text = CResourceLoader::Instance().LoadText(problem);
        ListView_SetItemText(m_list, row, 1, const_cast<LPWSTR>(text.GetString()));
    }
}

void CADCartAccessDlg::UpdateSummary() const
{
    int notFound = 0, bare = 0;
    for (size_t i = 0; i < m_entries.GetCount(); ++i)
    {
        const CADObject& entry = *m_entries.GetAt(i);
        if (IsBareName(entry))
            ++bare;
        else if (entry.m_kind == CADObject::KindNotFound)
            ++notFound;
    }
    CStringEx summary;
    if (notFound > 0 || bare > 0)
        CResourceLoader::Instance().FormatString(summary, IDS_CONFIGSEC_ENTRIES_SUMMARY, notFound, bare);
    SetDlgItemText(IDC_CONFIGSEC_CART_SUMMARY, summary);
}

BOOL CADCartAccessDlg::OnInitDialog()
{
    m_list = GetDlgItem(IDC_CONFIGSEC_ACCOUNTS);
    const UINT headings[] = { IDS_CONFIGSEC_COLUMN_ACCOUNT, IDS_CONFIGSEC_COLUMN_PROBLEM };
    const int widths[] = { 140, 90 };   // the list's width less a scroll bar
    CADListView::Prepare(m_list, headings, widths, 2, false);
    CADListView::SetKindIcons(m_list);
    CentreOver(m_hWnd, m_parent);
    for (size_t i = 0; i < m_entries.GetCount(); ++i)
        AddRow(m_entries.GetAt(i));
    UpdateSummary();
    if (m_report.directoryUnreachable)
        PostMessage(WM_SHOW_LOAD_PROBLEM);
    return TRUE;
}

LRESULT CADCartAccessDlg::OnShowLoadProblem(WPARAM, LPARAM, BOOL&)
{
    // The entries are all kept as written; the administrator learns why none was looked up.
    ConfigSecInstance::MessageBox(m_hWnd, IDS_DIR_UNREACHABLE);
    return 0;
}

LRESULT CADCartAccessDlg::OnAdd(WPARAM, LPARAM, BOOL&)
{
    CSmartList<CADObject*> chosen;
    CADSelectDlg select(m_hWnd, chosen);
    const INT_PTR answer = select.DoModal();
    if (answer == IDOK && AddAccounts(chosen) > 0)
    {
        // The last entry added is selected in the list, which takes the focus: Enter then
        // accepts the list (the focus would otherwise be back on Add, and Enter add again).
        const int last = ListView_GetItemCount(m_list) - 1;
        ListView_SetItemState(m_list, -1, 0, LVIS_SELECTED);
        ListView_SetItemState(m_list, last, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(m_list, last, FALSE);
        FocusControl(m_list);
    }
    else if (answer == -1)
        ConfigSecInstance::MessageBox(m_hWnd, IDS_CONFIGSEC_NO_RICHEDIT); // its template needs the rich edit
    return 0;
}

LRESULT CADCartAccessDlg::OnRemove(WPARAM, LPARAM, BOOL&)
{
    const int row = CADListView::SelectedRow(m_list);
    if (row < 0)
    {
        ConfigSecInstance::MessageBox(m_hWnd, IDS_CONFIGSEC_NOTHING_SELECTED, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    const CADObject* object = CADListView::ObjectAt(m_list, row);
    ListView_DeleteItem(m_list, row);
    m_entries.Remove(object);
    UpdateSummary();
    return 0;
}
