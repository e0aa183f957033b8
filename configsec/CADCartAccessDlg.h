#pragma once
#include "common/ui/CUtilDialogEx.h"
#include "configsec/CADObject.h"
#include "configsec/CCartAccessValue.h"
#include "configsec/CSmartList.h"

// The cart-access dialog: the list of users and groups that may open the cart, with Add
// (through the selection dialog) and Remove. It edits one stored value and gives the new
// one back only on OK.
class CADCartAccessDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    // Shown after the dialog appears when the directory could not be reached.
    static constexpr UINT WM_SHOW_LOAD_PROBLEM = WM_APP + 1;

    explicit CADCartAccessDlg(HWND parent);

    // Fills the dialog from the value, runs it modally over parent and answers IDOK (the
    // new value in accepted), IDCANCEL, or -1 when the dialog could not be shown.
    static int Run(HWND parent, const CStringEx& value, CStringEx& accepted);

    // Looks up the entries of a stored value and makes them the dialog's list.
    void Load(const CStringEx& value);
    // The list in its stored form.
    CStringEx GetValue() const { return CCartAccessValue::Write(m_entries); }
    // Appends copies of the chosen accounts that are not listed yet; answers how many.
    size_t AddAccounts(const CSmartList<CADObject*>& chosen);

protected:
    BOOL OnInitDialog() override;

private:
    LRESULT OnAdd(WPARAM, LPARAM, BOOL&);
    LRESULT OnRemove(WPARAM, LPARAM, BOOL&);
    LRESULT OnShowLoadProblem(WPARAM, LPARAM, BOOL&);
    void AddRow(const CADObject* object);
    // Below the list: how many entries the directory does not know, and how many the agent
    // refuses for want of a domain (nothing when every entry is fine).
    void UpdateSummary() const;
    static bool IsBareName(const CADObject& object);

    HWND m_list = nullptr;
    CSmartList<CADObject*> m_entries;
    CCartAccessValue::LoadReport m_report;
};
