#include "configsec/CADSelectCorrectDlg.h"
#include "configsec/CADLocationCombo.h"
#include "configsec/ConfigSecInstance.h"
#include "resources/KVIdsConfigSec.h"

KELVO_BEGIN_MESSAGE_MAP(CADSelectCorrectDlg, CUtilDialogEx<CDialogEx>)
    KELVO_COMMAND(IDOK, &CADSelectCorrectDlg::OnOK)
KELVO_END_MESSAGE_MAP()

CADSelectCorrectDlg::CADSelectCorrectDlg(HWND parent, const CStringEx& name, const CADLocation& location)
    : CUtilDialogEx<CDialogEx>(IDD_CONFIGSEC_SELECT_CORRECT, parent), m_name(name), m_location(location)
{
}

BOOL CADSelectCorrectDlg::OnInitDialog()
{
    SetDlgItemText(IDC_CONFIGSEC_PROMPT, m_name);
    SetDlgItemText(IDC_CONFIGSEC_NAME_EDIT, m_name);
    SetDlgItemText(IDC_CONFIGSEC_REMOVE, m_location.name);
    return TRUE;
}

LRESULT CADSelectCorrectDlg::OnOK(WPARAM, LPARAM, BOOL&)
{
    CStringEx name = GetDlgItemText(IDC_CONFIGSEC_NAME_EDIT);
    name.Trim();
    const HRESULT hr = name.IsEmpty() ? S_OK : CADAccountSearch::FindExact(m_location, name, m_found);
    if (FAILED(hr))
    {
        CADLocationCombo::ReportFailure(m_hWnd, hr, m_location);
        return 0;
    }
    if (name.IsEmpty() || m_found.empty())
    {
        ConfigSecInstance::MessageBox(m_hWnd, IDS_CONFIGSEC_STILL_NOT_FOUND, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    m_name = name;
    EndDialog(IDOK);
    return 0;
}
