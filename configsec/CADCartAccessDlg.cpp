#include "configsec/CADCartAccessDlg.h"
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
    return added;
}

void CADCartAccessDlg::AddRow(const CADObject* object)
{
    CADListView::AddRow(m_list, object->GetListText(), object, false);
}

BOOL CADCartAccessDlg::OnInitDialog()
{
    m_list = GetDlgItem(IDC_CONFIGSEC_ACCOUNTS);
    const UINT headings[] = { IDS_CONFIGSEC_COLUMN_ACCOUNT };
    const int widths[] = { 250 };
    CADListView::Prepare(m_list, headings, widths, 1, false);
    CADListView::SetKindIcons(m_list);
    CentreOver(m_hWnd, m_parent);
    for (size_t i = 0; i < m_entries.GetCount(); ++i)
        AddRow(m_entries.GetAt(i));
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
    if (answer == IDOK)
        AddAccounts(chosen);
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
    return 0;
}
