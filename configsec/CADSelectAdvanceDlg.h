#pragma once
#include "common/CHandleEx.h"
#include "common/ui/CUtilDialogEx.h"
#include "configsec/CADAccountSearch.h"
#include "configsec/CCommonQueriesTab1.h"
#include "configsec/CSmartList.h"
#include <memory>

// The advanced search: a name and a match mode on the common-queries page, a search on a
// thread of its own whose rows arrive as posted messages, and a results list from which
// the checked rows (or, when none is checked, the highlighted ones) are chosen.
class CADSelectAdvanceDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    // One result row: lParam a CADObject the dialog takes over.
    static constexpr UINT WM_SEARCH_ROW = WM_USER + 35;
    // The search ended: wParam its HRESULT.
    static constexpr UINT WM_SEARCH_DONE = WM_USER + 36;
    // How long closing waits for a cancelled search thread to end.
    static constexpr DWORD kJoinTimeoutMs = 10000;
    // How many rows may wait in the dialog's queue: the search thread waits for the dialog
    // beyond that, so Stop and Close never queue behind a flood of rows.
    static constexpr LONG kQueuedRows = 32;

    CADSelectAdvanceDlg(HWND parent, const CADLocation& location, CSmartList<CADObject*>& chosen);
    ~CADSelectAdvanceDlg() override;

    bool IsSearching() const;
    const CADLocation& GetLocation() const { return m_location; }

    // What the search thread needs; the thread holds its own reference, so a thread that
    // outlives a closed dialog still finds it.
    struct SearchWork
    {
        HWND window = nullptr;
        CADLocation location;
        int mode = CADAccountSearch::MatchExact;
        CStringEx name;
        CEventEx cancel;
        // A semaphore with one count per row the dialog's queue may still take.
        CHandleEx rowSlots;

        // Waits until the dialog may take another row; false when the search is
        // cancelled or the dialog is gone.
        bool WaitForSlot() const;
    };
    // Hands one row to the dialog: true when it was posted (the dialog owns it now); a
    // row that cannot be posted is deleted and the search should end.
    static bool PostRow(const SearchWork& work, std::unique_ptr<CADObject> row);

protected:
    BOOL OnInitDialog() override;

private:
    static DWORD WINAPI SearchThread(LPVOID context);

    LRESULT OnFindNow(WPARAM, LPARAM, BOOL&);
    LRESULT OnStop(WPARAM, LPARAM, BOOL&);
    LRESULT OnOK(WPARAM, LPARAM, BOOL&);
    LRESULT OnCancel(WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(WPARAM, LPARAM, BOOL&);
    LRESULT OnNotify(WPARAM, LPARAM, BOOL&);
    LRESULT OnSearchRow(WPARAM, LPARAM, BOOL&);
    LRESULT OnSearchDone(WPARAM, LPARAM, BOOL&);

    void AddResultRow(LPARAM row);
    void SetSearching(bool searching);
    void ClearResults();
    // Cancels a running search, waits (bounded) for its thread and deletes the rows it
    // posted that were not delivered yet.
    void EndSearch();

    CADLocation m_location;
    std::vector<CADLocation> m_locations;
    CSmartList<CADObject*>& m_chosen;
    CSmartList<CADObject*> m_rows;
    CCommonQueriesTab1 m_page;
    CCommonQueriesTabControl m_tabs;
    HWND m_results = nullptr;
    int m_checked = 0;
    CEventEx m_cancel;
    CHandleEx m_rowSlots;
    CThreadEx m_thread;
};
