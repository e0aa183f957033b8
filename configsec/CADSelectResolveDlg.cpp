#include "configsec/CADSelectResolveDlg.h"
#include "configsec/CADListViewHelper.h"
#include "configsec/ConfigSecInstance.h"
#include "resources/KVIdsConfigSec.h"

KELVO_BEGIN_MESSAGE_MAP(CADSelectResolveDlg, CUtilDialogEx<CDialogEx>)
    KELVO_COMMAND(IDOK, &CADSelectResolveDlg::OnOK)
KELVO_END_MESSAGE_MAP()

CADSelectResolveDlg::CADSelectResolveDlg(HWND parent, const CStringEx& name,
                                         const std::vector<std::unique_ptr<CADObject>>& candidates)
    : CUtilDialogEx<CDialogEx>(IDD_CONFIGSEC_SELECT_RESOLVE, parent), m_name(name), m_candidates(candidates)
{
}

BOOL CADSelectResolveDlg::OnInitDialog()
{
    SetDlgItemText(IDC_CONFIGSEC_PROMPT, m_name);
    HWND list = GetDlgItem(IDC_CONFIGSEC_NAMES);
    const UINT headings[] = { IDS_CONFIGSEC_COLUMN_NAME, IDS_CONFIGSEC_COLUMN_DISPLAY, IDS_CONFIGSEC_COLUMN_DESCRIPTION };
    const int widths[] = { 80, 90, 102 };
    CADListView::Prepare(list, headings, widths, 3, false);
    CADListView::SetKindIcons(list);
    for (const auto& candidate : m_candidates)
        CADListView::AddRow(list, candidate->m_name, candidate.get(), true);
    return TRUE;
}

LRESULT CADSelectResolveDlg::OnOK(WPARAM, LPARAM, BOOL&)
{
    HWND list = GetDlgItem(IDC_CONFIGSEC_NAMES);
    const int row = CADListView::SelectedRow(list);
    m_chosen = row < 0 ? nullptr : CADListView::ObjectAt(list, row);
    if (!m_chosen)
    {
        ConfigSecInstance::MessageBox(m_hWnd, IDS_CONFIGSEC_CHOOSE_ONE, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    EndDialog(IDOK);
    return 0;
}
