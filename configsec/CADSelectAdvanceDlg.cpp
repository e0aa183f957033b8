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

bool CADSelectAdvanceDlg::SearchWork::WaitForSlot() const
{
    const HANDLE handles[] = { cancel.GetHandle(), rowSlots.GetHandle() };
    for (;;)
    {
        const DWORD waited = WaitForMultipleObjects(2, handles, FALSE, 1000);
        if (waited == WAIT_OBJECT_0 + 1)
            return true;
        if (waited != WAIT_TIMEOUT || !IsWindow(window))
            return false;
    }
}

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
    const int widths[] = { 90, 100, 122 };
    CADListView::Prepare(m_results, headings, widths, 3, true);
    CADListView::SetKindIcons(m_results);

    ::EnableWindow(GetDlgItem(IDC_CONFIGSEC_FIND_NOW), FALSE);
    ::EnableWindow(GetDlgItem(IDC_CONFIGSEC_STOP), FALSE);
    ::EnableWindow(GetDlgItem(IDOK), FALSE);
    // The page's controls come right after the location box in the Tab order (the page was
    // created after the template's controls), and the name is where typing starts.
    SetWindowPos(m_page.GetSafeHwnd(), GetDlgItem(IDC_CONFIGSEC_LOCATION), 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    FocusControl(m_page.GetDlgItem(IDC_CONFIGSEC_NAME_EDIT));
    return FALSE;
}

void CADSelectAdvanceDlg::SetSearching(bool searching)
{
    // Whatever control holds the focus (Find Now, or the name after Enter) hands it over
    // before it goes grey: to Stop during the search, back to the name after it.
    const HWND stop = GetDlgItem(IDC_CONFIGSEC_STOP);
    const HWND name = m_page.GetDlgItem(IDC_CONFIGSEC_NAME_EDIT);
    if (searching)
    {
        ::EnableWindow(stop, TRUE);
        if (::IsChild(m_page.GetSafeHwnd(), ::GetFocus()))
            FocusControl(stop);
    }
    m_page.EnableControls(!searching);
    const HWND focusTo = searching ? stop : name;
    EnableControl(GetDlgItem(IDC_CONFIGSEC_FIND_NOW), !searching && m_page.GetName().GetLength() > 0, focusTo);
    EnableControl(GetDlgItem(IDCANCEL), !searching, focusTo);
    EnableControl(GetDlgItem(IDC_CONFIGSEC_LOCATION), !searching, focusTo);
    EnableControl(stop, searching, focusTo);
}

void CADSelectAdvanceDlg::ClearResults()
{
    if (m_results)
        ListView_DeleteAllItems(m_results);
    m_rows.RemoveAll();
    m_checked = 0;
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
    m_rowSlots.Attach(CreateSemaphoreW(nullptr, kQueuedRows, kQueuedRows, nullptr));
    if (!m_rowSlots.IsValid())
    {
        CADLocationCombo::ReportFailure(m_hWnd, HRESULT_FROM_WIN32(GetLastError()), location);
        return 0;
    }
    work->rowSlots = m_rowSlots;

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

bool CADSelectAdvanceDlg::PostRow(const SearchWork& work, std::unique_ptr<CADObject> row)
{
    // The dialog owns a row once the post succeeds; a row that cannot be posted is deleted
    // here and ends the search.
    if (!work.WaitForSlot())
        return false;
    if (!::PostMessageW(work.window, WM_SEARCH_ROW, 0, reinterpret_cast<LPARAM>(row.get())))
        return false;
    row.release();
    return true;
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
                                      [&](std::unique_ptr<CADObject> row) { return PostRow(*work, std::move(row)); });
        CoUninitialize();
    }
    ::PostMessageW(work->window, WM_SEARCH_DONE, static_cast<WPARAM>(hr), 0);
    return 0;
}

LRESULT CADSelectAdvanceDlg::OnSearchRow(WPARAM, LPARAM lParam, BOOL&)
{
    // The rows already waiting are listed together, with one repaint for all of them.
    ::SendMessageW(m_results, WM_SETREDRAW, FALSE, 0);
    AddResultRow(lParam);
    MSG msg;
    for (int more = 0; more < kQueuedRows && PeekMessageW(&msg, m_hWnd, WM_SEARCH_ROW, WM_SEARCH_ROW, PM_REMOVE); ++more)
        AddResultRow(msg.lParam);
    ::SendMessageW(m_results, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(m_results, nullptr, FALSE);
    return 0;
}

void CADSelectAdvanceDlg::AddResultRow(LPARAM lParam)
{
    std::unique_ptr<CADObject> row(reinterpret_cast<CADObject*>(lParam));
    // The row has left the queue: the thread may post the next one.
    if (m_rowSlots.IsValid())
        ReleaseSemaphore(m_rowSlots.GetHandle(), 1, nullptr);
    if (!row)
        return;
    CADObject* object = m_rows.Add(std::move(row));
    if (CADListView::AddRow(m_results, object->m_name, object, true) < 0)
        m_rows.Remove(object);
}

LRESULT CADSelectAdvanceDlg::OnSearchDone(WPARAM wParam, LPARAM, BOOL&)
{
    // The thread posts this last; waiting for it to return is short.
    if (m_thread.IsValid())
        m_thread.Wait(kJoinTimeoutMs);
    m_thread.Close();
    SetSearching(false);
    // Found rows: the first is highlighted and has the focus, so Enter chooses it.
    if (ListView_GetItemCount(m_results) > 0)
    {
        const UINT state = LVIS_SELECTED | LVIS_FOCUSED;
        ListView_SetItemState(m_results, 0, state, state);
        SetDefaultButton(IDOK);
        FocusControl(m_results);
    }
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
    // The checked rows; without any, the highlighted ones.
    const int count = ListView_GetItemCount(m_results);
    const bool byCheck = m_checked > 0;
    for (int i = 0; i < count; ++i)
    {
        const bool chosen = byCheck ? ListView_GetCheckState(m_results, i) != FALSE
                                    : (ListView_GetItemState(m_results, i, LVIS_SELECTED) & LVIS_SELECTED) != 0;
        if (chosen)
            if (const CADObject* object = CADListView::ObjectAt(m_results, i))
                m_chosen.AddCopy(*object);
    }
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
        // OK chooses the checked rows, or the highlighted ones when none is checked, so it
        // is offered while a row is checked or highlighted. The count follows the check
        // boxes' changes, so a long list is not counted again for every row that arrives.
        const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uChanged & LVIF_STATE) != 0)
        {
            const bool was = ((change->uOldState & LVIS_STATEIMAGEMASK) >> 12) == 2;
            const bool is = ((change->uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
            if (change->iItem < 0)
                m_checked = CADListView::CheckedCount(m_results);
            else if (was != is)
                m_checked += is ? 1 : -1;
            ::EnableWindow(GetDlgItem(IDOK), m_checked > 0 || ListView_GetSelectedCount(m_results) > 0);
        }
        return 0;
    }
    handled = FALSE;
    return 0;
}
