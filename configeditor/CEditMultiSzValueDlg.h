#pragma once
#include "configeditor/CAgentSetting.h"
#include "configeditor/CEnterKeyWatch.h"
#include "common/ui/CUtilDialogEx.h"

// Edits the values of a List setting on a clone: values are added, replaced and deleted
// one at a time; the list box shows every value that is not deleted, each with its index
// in the setting as item data. Text typed but not added is not dropped at OK: the user is
// asked whether to add it. The editor merges the clone after IDOK.
class CEditMultiSzValueDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    // The clone stays the caller's and must outlive the dialog.
    CEditMultiSzValueDlg(CAgentSetting& clone, HWND parent);
    ~CEditMultiSzValueDlg() override;

    // True when the dialog ended on an Enter key pressed inside it (see CEditValueDlg).
    bool WasEndedByEnter() const noexcept { return m_endedByEnter; }

protected:
    BOOL OnInitDialog() override;
    LRESULT OnOK(WPARAM, LPARAM, BOOL&);
    LRESULT OnCancel(WPARAM, LPARAM, BOOL&);
    LRESULT OnAdd(WPARAM, LPARAM, BOOL&);
    LRESULT OnReplace(WPARAM, LPARAM, BOOL&);
    LRESULT OnDelete(WPARAM, LPARAM, BOOL&);
    LRESULT OnValuesNotify(WPARAM, LPARAM, BOOL&);
    LRESULT OnEntryNotify(WPARAM, LPARAM, BOOL&);

private:
    void Select(int position);
    void EntryChanged();
    void Enable(int id, bool enable) const;
    void UpdateOK() const;
    void ClearSelectionAndEntry();
    int ItemCount() const;
    CStringEx ItemText(int position) const;
    int ItemIndex(int position) const;
    // The position of a listed value equal to text without regard to case, or -1.
    int FindItem(const CStringEx& text) const;
    void ShowMessage(UINT id);
    // Adds the entry field's text as a new value; false (with the reason shown) when it is
    // empty or already listed.
    bool AddEntryText();
    // Text typed into the entry field that is neither added nor the selected value.
    CStringEx PendingText() const;
    // Records whether Enter ended the dialog, as it ends.
    void NoteEnter();

    CAgentSetting* m_clone;
    int m_selected = -1;
    bool m_edited = false;
    CEnterKeyWatch m_enterWatch;
    bool m_endedByEnter = false;
};
