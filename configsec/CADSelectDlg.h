#pragma once
#include "common/ui/CUtilDialogEx.h"
#include "configsec/CADAccountSearch.h"
#include "configsec/CSmartList.h"
#include <memory>
#include <vector>

// The selection dialog: names typed into a rich-edit names box are resolved against the
// chosen location; resolved names become protected units of the box. OK ends only when
// every name resolved, and hands the accounts to the caller's list.
class CADSelectDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    // Removes the protected names that overlap a range (wParam first, lParam last).
    static constexpr UINT WM_REMOVE_UNITS = WM_APP + 2;

    CADSelectDlg(HWND parent, CSmartList<CADObject*>& chosen);

    // Resolves every name of the box; true when all of them resolved.
    bool ResolveNames();

protected:
    BOOL OnInitDialog() override;

private:
    // One name of the box: resolved (object set) or as typed.
    struct Unit
    {
        CStringEx text;
        std::unique_ptr<CADObject> object;
        LONG first = 0; // character range in the box
        LONG last = 0;
    };

    LRESULT OnOK(WPARAM, LPARAM, BOOL&);
    LRESULT OnCheckNames(WPARAM, LPARAM, BOOL&);
    LRESULT OnAdvanced(WPARAM, LPARAM, BOOL&);
    LRESULT OnNamesCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnNotify(WPARAM, LPARAM, BOOL&);
    LRESULT OnRemoveUnits(WPARAM, LPARAM, BOOL&);

    // The names of the box in order, each matched to a resolved account when its text is
    // that of one (each resolved account matches once).
    std::vector<Unit> ReadUnits() const;
    // Writes the units back: resolved ones protected and underlined, separated by the
    // separator text and a space.
    void WriteUnits(const std::vector<Unit>& units);
    // Resolves one typed name; false when it stays unresolved. Stops the whole run (stop)
    // when the directory failed.
    bool ResolveOne(Unit& unit, const CADLocation& location, bool& stop);
    bool PickLocation(const CStringEx& typed, const CADLocation& selected, CADLocation& location, CStringEx& name) const;
    LRESULT OnProtected(const struct _enprotected& change);
    void OnSelectionChange(const struct _selchange& change);

    CSmartList<CADObject*>& m_chosen;
    std::vector<CADLocation> m_locations;
    // The resolved accounts in the order of their units in the box.
    CSmartList<CADObject*> m_resolved;
    HWND m_names = nullptr;
    CStringEx m_separator;
    bool m_writing = false;
};
