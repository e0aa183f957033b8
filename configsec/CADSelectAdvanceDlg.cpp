#include "configsec/CADSelectAdvanceDlg.h"
#include "common/CResourceLoader.h"
#include "configsec/CADListViewHelper.h"
#include "configsec/CADLocationCombo.h"
#include "configsec/ConfigSecInstance.h"
#include "resources/KVIdsConfigSec.h"
#include <objbase.h>

KELVO_BEGIN_MESSAGE_MAP(CADSelectAdvanceDlg, CUtilDialogEx<CDialogEx>)
    KELVO_COMMAND(IDC_CONFIGSEC_FIND_NOW, &CADSelectAdvanceDlg::OnFindNow)
    KELVO_COMMAND(IDC_CONFIGSEC_STOP, &CADSelectAdvanceDlg::OnStop)
    KELVO_COMMAND(IDOK, &CADSelectAdvanceDlg::OnOK)
    KELVO_COMMAND(IDCANCEL, &CADSelectAdvanceDlg::OnCancel)
    KELVO_MESSAGE(WM_CLOSE, &CADSelectAdvanceDlg::OnClose)
    KELVO_MESSAGE(WM_DESTROY, &CADSelectAdvanceDlg::OnDestroy)
    KELVO_MESSAGE(WM_NOTIFY, &CADSelectAdvanceDlg::OnNotify)
    KELVO_MESSAGE(WM_SEARCH_ROW, &CADSelectAdvanceDlg::OnSearchRow)
    KELVO_MESSAGE(WM_SEARCH_DONE, &CADSelectAdvanceDlg::OnSearchDone)
KELVO_END_MESSAGE_MAP()

// What the search thread needs; it holds its own reference, so a thread that outlives a
// closed dialog still finds it.
struct CADSelectAdvanceDlg::SearchWork
{
    HWND window = nullptr;
    CADLocation location;
    int mode = CADAccountSearch::MatchExact;
    CStringEx name;
    CEventEx cancel;
};

CADSelectAdvanceDlg::CADSelectAdvanceDlg(HWND parent, const CADLocation& location, CSmartList<CADObject*>& chosen)
    : CUtilDialogEx<CDialogEx>(IDD_CONFIGSEC_SELECT_ADVANCED, parent), m_location(location), m_chosen(chosen)
{
}

CADSelectAdvanceDlg::~CADSelectAdvanceDlg()
{
    EndSearch();
}

bool CADSelectAdvanceDlg::IsSearching() const
{
    return m_thread.IsValid() && m_thread.IsRunning();
}

BOOL CADSelectAdvanceDlg::OnInitDialog()
{
    m_locations = CADAccountSearch::GetLocations();
    HWND combo = GetDlgItem(IDC_CONFIGSEC_LOCATION);
    CADLocationCombo::Fill(combo, m_locations, CADAccountSearch::DefaultLocation(m_locations));
    CADLocationCombo::Select(combo, m_locations, m_location);

    m_tabs.Attach(GetDlgItem(IDC_CONFIGSEC_TABS));
    m_tabs.AddPage(m_page, IDD_CONFIGSEC_COMMON_QUERIES,
                   CResourceLoader::Instance().LoadText(IDS_CONFIGSEC_TAB_COMMON));

    m_results = GetDlgItem(IDC_CONFIGSEC_NAMES);
    const UINT headings[] = { IDS_CONFIGSEC_COLUMN_NAME, IDS_CONFIGSEC_COLUMN_DISPLAY, IDS_CONFIGSEC_COLUMN_DESCRIPTION };
    const int widths[] = { 130, 150, 170 };
    CADListView::Prepare(m_results, headings, widths, 3, true);
    CADListView::SetKindIcons(m_results);

    ::EnableWindow(GetDlgItem(IDC_CONFIGSEC_FIND_NOW), FALSE);
    ::EnableWindow(GetDlgItem(IDC_CONFIGSEC_STOP), FALSE);
    ::EnableWindow(GetDlgItem(IDOK), FALSE);
    return TRUE;
}

void CADSelectAdvanceDlg::SetSearching(bool searching)
{
    ::EnableWindow(GetDlgItem(IDC_CONFIGSEC_FIND_NOW), !searching && m_page.GetName().GetLength() > 0);
    ::EnableWindow(GetDlgItem(IDCANCEL), !searching);
    ::EnableWindow(GetDlgItem(IDC_CONFIGSEC_LOCATION), !searching);
    m_page.EnableControls(!searching);
    ::EnableWindow(GetDlgItem(IDC_CONFIGSEC_STOP), searching);
}

void CADSelectAdvanceDlg::ClearResults()
{
    if (m_results)
        ListView_DeleteAllItems(m_results);
    m_rows.RemoveAll();
    ::EnableWindow(GetDlgItem(IDOK), FALSE);
}

LRESULT CADSelectAdvanceDlg::OnFindNow(WPARAM, LPARAM, BOOL&)
{
    if (IsSearching())
        return 0;
    const CStringEx name = m_page.GetName();
    if (name.IsEmpty())
    {
        ConfigSecInstance::MessageBox(m_hWnd, IDS_CONFIGSEC_NO_SEARCH_NAME, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    const int mode = m_page.GetMatchMode();
    if (mode < 0)
    {
        ConfigSecInstance::MessageBox(m_hWnd, IDS_CONFIGSEC_NO_MATCH_MODE, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    CADLocation location;
    if (!CADLocationCombo::GetSelected(GetDlgItem(IDC_CONFIGSEC_LOCATION), m_locations, location))
    {
        ConfigSecInstance::MessageBox(m_hWnd, IDS_CONFIGSEC_NO_LOCATION, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    m_location = location;

    ClearResults();
    auto work = std::make_shared<SearchWork>();
    work->window = m_hWnd;
    work->location = location;
    work->mode = mode;
    work->name = name;
    if (!m_cancel.IsValid() && !m_cancel.Create())
        return 0;
    m_cancel.Reset();
    work->cancel = m_cancel;

    auto* context = new std::shared_ptr<SearchWork>(work);
    SetSearching(true);
    if (m_thread.Create(&SearchThread, context) == 0)
    {
        delete context;
        SetSearching(false);
        CADLocationCombo::ReportFailure(m_hWnd, HRESULT_FROM_WIN32(GetLastError()), location);
    }
    return 0;
}

DWORD WINAPI CADSelectAdvanceDlg::SearchThread(LPVOID context)
{
    std::unique_ptr<std::shared_ptr<SearchWork>> holder(static_cast<std::shared_ptr<SearchWork>*>(context));
    const std::shared_ptr<SearchWork> work = *holder;
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = init;
    if (SUCCEEDED(init))
    {
        hr = CADAccountSearch::Search(work->location, work->mode, work->name, work->cancel.GetHandle(),
                                      [&](std::unique_ptr<CADObject> row) {
                                          // The dialog owns a row once the post succeeds; a row
                                          // that cannot be posted is deleted here and ends the search.
                                          if (!::PostMessageW(work->window, WM_SEARCH_ROW, 0,
                                                            reinterpret_cast<LPARAM>(row.get())))
                                              return false;
                                          row.release();
                                          return true;
                                      });
        CoUninitialize();
    }
    ::PostMessageW(work->window, WM_SEARCH_DONE, static_cast<WPARAM>(hr), 0);
    return 0;
}

LRESULT CADSelectAdvanceDlg::OnSearchRow(WPARAM, LPARAM lParam, BOOL&)
{
    std::unique_ptr<CADObject> row(reinterpret_cast<CADObject*>(lParam));
    if (!row)
        return 0;
    CADObject* object = m_rows.Add(std::move(row));
    if (CADListView::AddRow(m_results, object->m_name, object, true) < 0)
        m_rows.Remove(object);
    return 0;
}

LRESULT CADSelectAdvanceDlg::OnSearchDone(WPARAM wParam, LPARAM, BOOL&)
{
    // The thread posts this last; waiting for it to return is short.
    if (m_thread.IsValid())
        m_thread.Wait(kJoinTimeoutMs);
    m_thread.Close();
    SetSearching(false);
    const HRESULT hr = static_cast<HRESULT>(wParam);
    if (FAILED(hr))
        CADLocationCombo::ReportFailure(m_hWnd, hr, m_location);
    return 0;
}

LRESULT CADSelectAdvanceDlg::OnStop(WPARAM, LPARAM, BOOL&)
{
    m_cancel.Set();
    return 0;
}

void CADSelectAdvanceDlg::EndSearch()
{
    if (m_thread.IsValid())
    {
        m_cancel.Set();
        m_thread.Wait(kJoinTimeoutMs);
        m_thread.Close();
    }
    // Rows posted before the thread saw the cancel are still queued: they are ours.
    if (m_hWnd)
    {
        MSG msg;
        while (PeekMessageW(&msg, m_hWnd, WM_SEARCH_ROW, WM_SEARCH_ROW, PM_REMOVE))
            delete reinterpret_cast<CADObject*>(msg.lParam);
        while (PeekMessageW(&msg, m_hWnd, WM_SEARCH_DONE, WM_SEARCH_DONE, PM_REMOVE))
        {
        }
    }
}

LRESULT CADSelectAdvanceDlg::OnOK(WPARAM, LPARAM, BOOL&)
{
    if (IsSearching())
        return 0;
    const int count = ListView_GetItemCount(m_results);
    for (int i = 0; i < count; ++i)
        if (ListView_GetCheckState(m_results, i))
            if (const CADObject* object = CADListView::ObjectAt(m_results, i))
                m_chosen.AddCopy(*object);
    EndDialog(IDOK);
    return 0;
}

LRESULT CADSelectAdvanceDlg::OnCancel(WPARAM, LPARAM, BOOL&)
{
    // Closing during a search stops it first, so no thread outlives the dialog.
    EndSearch();
    EndDialog(IDCANCEL);
    return 0;
}

LRESULT CADSelectAdvanceDlg::OnClose(WPARAM, LPARAM, BOOL&)
{
    EndSearch();
    EndDialog(IDCANCEL);
    return 0;
}

LRESULT CADSelectAdvanceDlg::OnDestroy(WPARAM, LPARAM, BOOL& handled)
{
    EndSearch();
    if (m_results)
        ListView_DeleteAllItems(m_results);
    m_rows.RemoveAll();
    handled = FALSE;
    return 0;
}

LRESULT CADSelectAdvanceDlg::OnNotify(WPARAM, LPARAM lParam, BOOL& handled)
{
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom == IDC_CONFIGSEC_TABS && header->code == TCN_SELCHANGE)
    {
        m_tabs.OnSelChange();
        return 0;
    }
    if (header->idFrom == IDC_CONFIGSEC_NAMES && header->code == LVN_ITEMCHANGED)
    {
        // OK chooses the checked rows, so it is offered only while one is checked.
        ::EnableWindow(GetDlgItem(IDOK), CADListView::CheckedCount(m_results) > 0);
        return 0;
    }
    handled = FALSE;
    return 0;
}
