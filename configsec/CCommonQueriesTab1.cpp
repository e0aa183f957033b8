#include "configsec/CCommonQueriesTab1.h"
#include "common/CResourceLoader.h"
#include "resources/KVIdsConfigSec.h"
#include <commctrl.h>
#include <windowsx.h>

KELVO_BEGIN_MESSAGE_MAP(CCommonQueriesTab1, CUtilDialogEx<CDialogEx>)
    KELVO_COMMAND(IDC_CONFIGSEC_NAME_EDIT, &CCommonQueriesTab1::OnNameChange)
KELVO_END_MESSAGE_MAP()

CCommonQueriesTab1::CCommonQueriesTab1() : CUtilDialogEx<CDialogEx>(IDD_CONFIGSEC_COMMON_QUERIES, nullptr)
{
}

BOOL CCommonQueriesTab1::OnInitDialog()
{
    HWND modes = GetDlgItem(IDC_CONFIGSEC_MATCH_MODE);
    const struct { UINT text; LPARAM mode; } entries[] = { { IDS_CONFIGSEC_MATCH_EXACT, 0 }, { IDS_CONFIGSEC_MATCH_PREFIX, 1 } };
    for (const auto& entry : entries)
    {
        const int item = ComboBox_AddString(modes, CResourceLoader::Instance().LoadText(entry.text).GetString());
        ComboBox_SetItemData(modes, item, entry.mode);
    }
    ComboBox_SetCurSel(modes, 0);
    return FALSE;
}

CStringEx CCommonQueriesTab1::GetName() const
{
    CStringEx name = GetDlgItemText(IDC_CONFIGSEC_NAME_EDIT);
    return name.Trim();
}

int CCommonQueriesTab1::GetMatchMode() const
{
    HWND modes = GetDlgItem(IDC_CONFIGSEC_MATCH_MODE);
    const int item = ComboBox_GetCurSel(modes);
    return item == CB_ERR ? -1 : static_cast<int>(ComboBox_GetItemData(modes, item));
}

void CCommonQueriesTab1::EnableControls(BOOL enable) const
{
    ::EnableWindow(GetDlgItem(IDC_CONFIGSEC_MATCH_MODE), enable);
    ::EnableWindow(GetDlgItem(IDC_CONFIGSEC_NAME_EDIT), enable);
}

LRESULT CCommonQueriesTab1::OnNameChange(WPARAM wParam, LPARAM, BOOL& handled)
{
    if (HIWORD(wParam) != EN_CHANGE)
    {
        handled = FALSE;
        return 0;
    }
    // Find Now of the hosting dialog is offered only while there is a name to find, and is
    // then what Enter presses.
    HWND host = ::GetParent(m_hWnd);
    const bool hasName = GetDlgItemText(IDC_CONFIGSEC_NAME_EDIT).GetLength() > 0;
    ::EnableWindow(::GetDlgItem(host, IDC_CONFIGSEC_FIND_NOW), hasName);
    ::SendMessageW(host, DM_SETDEFID, hasName ? IDC_CONFIGSEC_FIND_NOW : IDOK, 0);
    return 0;
}

BOOL CCommonQueriesTabControl::AddPage(CDialogEx& page, UINT templateId, LPCWSTR title)
{
    if (!m_tab || !page.Create(templateId, ::GetParent(m_tab)))
        return FALSE;
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<LPWSTR>(title);
    const int index = static_cast<int>(SendMessageW(m_tab, TCM_INSERTITEMW, m_pages.size(), reinterpret_cast<LPARAM>(&item)));
    if (index < 0)
        return FALSE;
    m_pages.push_back(&page);
    ShowPage(TabCtrl_GetCurSel(m_tab) < 0 ? 0 : TabCtrl_GetCurSel(m_tab));
    return TRUE;
}

void CCommonQueriesTabControl::OnSelChange()
{
    ShowPage(TabCtrl_GetCurSel(m_tab));
}

void CCommonQueriesTabControl::ShowPage(int index)
{
    RECT area = {};
    GetWindowRect(m_tab, &area);
    TabCtrl_AdjustRect(m_tab, FALSE, &area);
    MapWindowPoints(nullptr, ::GetParent(m_tab), reinterpret_cast<POINT*>(&area), 2);
    for (size_t i = 0; i < m_pages.size(); ++i)
    {
        HWND page = m_pages[i]->GetSafeHwnd();
        if (static_cast<int>(i) == index)
        {
            // The page keeps its place in the Tab order.
            SetWindowPos(page, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                         SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOZORDER);
        }
        else
            ShowWindow(page, SW_HIDE);
    }
}
