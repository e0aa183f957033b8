#pragma once
#include "configeditor/CAgentSetting.h"
#include "configeditor/CEnterKeyWatch.h"
#include "common/ui/CUtilDialogEx.h"
#include <commdlg.h>

// Edits value 0 of one setting of any single-value type, on a clone of the setting: only
// the controls of the setting's type are shown, and OK checks the input and stores it in
// the clone, or tells the user what is wrong and stays open. The editor takes the clone's
// value over after IDOK.
class CEditValueDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    // The clone stays the caller's and must outlive the dialog.
    CEditValueDlg(CAgentSetting& clone, HWND parent);
    ~CEditValueDlg() override;

    // True when the dialog ended on an Enter key pressed inside it, so that the editor's
    // list can ignore the key-up of that Enter instead of opening the editor again.
    bool WasEndedByEnter() const noexcept { return m_endedByEnter; }

    // Run-time seam: the call that shows the browse dialog (GetOpenFileNameW with its
    // argument), so that tests can answer it as a user would. Null restores the real one.
    using OpenFileFn = BOOL(WINAPI*)(LPOPENFILENAMEW);
    static void SetOpenFileDialog(OpenFileFn openFile);

protected:
    BOOL OnInitDialog() override;
    LRESULT OnOK(WPARAM, LPARAM, BOOL&);
    LRESULT OnCancel(WPARAM, LPARAM, BOOL&);
    LRESULT OnBrowse(WPARAM, LPARAM, BOOL&);

private:
    void ShowControl(int id) const;
    void SelectAllText(int id) const;
    void InitBoolean();
    void InitNamedNumber();
    void InitNumber();
    void InitKey();
    void InitFile();
    void InitRange();
    void InitText();
    // Each check reads its controls and gives the text to store, or shows why not and
    // answers false.
    bool CheckKey(CStringEx& text);
    bool CheckNumber(CStringEx& text);
    bool CheckNamedNumber(CStringEx& text);
    bool CheckRange();
    bool CheckRequiredText(int id, UINT emptyMessageId, CStringEx& text);
    // A range field's number: text that is not a whole decimal number within 32 bits is
    // refused. FALSE with set false for an empty field.
    bool ReadRangeField(int id, bool& set, LONG& number);
    void ShowMessage(UINT id, ...);
    // Records whether Enter ended the dialog, as it ends.
    void NoteEnter();

    // The Key controls as they opened: an OK that finds them so stores nothing new.
    bool KeyIsUntouched() const;

    CAgentSetting* m_clone;
    CEnterKeyWatch m_enterWatch;
    bool m_endedByEnter = false;
    LRESULT m_keyOpenedEntry = CB_ERR;
    DWORD m_keyOpenedModifiers = 0;
};
