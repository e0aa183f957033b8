#include "configeditor/CEditMultiSzValueDlg.h"
#include "common/CResourceLoader.h"
#include "common/ui/CMessageBoxEx.h"
#include "resources/KVIdsConfigEditorValues.h"

KELVO_BEGIN_MESSAGE_MAP(CEditMultiSzValueDlg, CUtilDialogEx<CDialogEx>)
    KELVO_COMMAND(IDOK, &CEditMultiSzValueDlg::OnOK)
    KELVO_COMMAND(IDCANCEL, &CEditMultiSzValueDlg::OnCancel)
    KELVO_COMMAND(IDC_ML_ADD, &CEditMultiSzValueDlg::OnAdd)
    KELVO_COMMAND(IDC_ML_REPLACE, &CEditMultiSzValueDlg::OnReplace)
    KELVO_COMMAND(IDC_ML_DELETE, &CEditMultiSzValueDlg::OnDelete)
    KELVO_COMMAND(IDC_ML_VALUES, &CEditMultiSzValueDlg::OnValuesNotify)
    KELVO_COMMAND(IDC_ML_ENTRY, &CEditMultiSzValueDlg::OnEntryNotify)
KELVO_END_MESSAGE_MAP()

CEditMultiSzValueDlg::CEditMultiSzValueDlg(CAgentSetting& clone, HWND parent)
    : CUtilDialogEx<CDialogEx>(IDD_EDIT_MULTISZ_VALUE, parent), m_clone(&clone)
{
}

CEditMultiSzValueDlg::~CEditMultiSzValueDlg() = default;

BOOL CEditMultiSzValueDlg::OnInitDialog()
{
    m_enterWatch.Start(m_hWnd);
    if (!m_clone)
        return TRUE;
    SetWindowText(m_clone->GetCaptionText());
    // Above the field: what a value looks like (the setting's note).
    SetDlgItemText(IDC_ML_NOTE, m_clone->GetNote());
    HWND list = GetDlgItem(IDC_ML_VALUES);
    for (int index = 0, seen = 0; seen < m_clone->GetValueCount(); ++index)
    {
        const CAgentSettingValue* value = m_clone->GetValue(index);
        if (!value)
            continue;
        ++seen;
        if (value->deleted)
            continue;
        const LRESULT item = ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(value->current.GetString()));
        ::SendMessageW(list, LB_SETITEMDATA, item, index);
    }
    Enable(IDC_ML_ENTRY, true);
    for (int id : { IDC_ML_ADD, IDC_ML_REPLACE, IDC_ML_DELETE })
        Enable(id, false);
    UpdateOK();
    return TRUE;
}

LRESULT CEditMultiSzValueDlg::OnValuesNotify(WPARAM wParam, LPARAM, BOOL&)
{
    if (HIWORD(wParam) == LBN_SELCHANGE)
        Select(static_cast<int>(::SendMessageW(GetDlgItem(IDC_ML_VALUES), LB_GETCURSEL, 0, 0)));
    return 0;
}

LRESULT CEditMultiSzValueDlg::OnEntryNotify(WPARAM wParam, LPARAM, BOOL&)
{
    if (HIWORD(wParam) == EN_CHANGE)
        EntryChanged();
    return 0;
}

// A list item became the selected one (or none, for -1): its text goes into the entry field
// to be replaced or deleted.
void CEditMultiSzValueDlg::Select(int position)
{
    m_selected = position < 0 ? -1 : position;
    ::SendMessageW(GetDlgItem(IDC_ML_VALUES), LB_SETCURSEL, m_selected, 0);
    SetDlgItemText(IDC_ML_ENTRY, m_selected >= 0 ? ItemText(m_selected) : CStringEx());
    Enable(IDC_ML_ADD, false);
    Enable(IDC_ML_REPLACE, false);
    Enable(IDC_ML_DELETE, m_selected >= 0);
    m_edited = false;
    UpdateOK();
}

void CEditMultiSzValueDlg::EntryChanged()
{
    const CStringEx text = GetDlgItemText(IDC_ML_ENTRY);
    if (text.IsEmpty())
    {
        for (int id : { IDC_ML_ADD, IDC_ML_REPLACE, IDC_ML_DELETE })
            Enable(id, false);
        m_edited = false;
        UpdateOK();
        return;
    }
    if (m_selected >= 0)
    {
        if (text.CompareNoCase(ItemText(m_selected)) == 0)
        {
            // Back to the selected value: only deleting it makes sense.
            Enable(IDC_ML_ADD, false);
            Enable(IDC_ML_REPLACE, false);
            Enable(IDC_ML_DELETE, true);
            m_edited = false;
            UpdateOK();
        }
        else if (!m_edited)
        {
            Enable(IDC_ML_ADD, true);
            Enable(IDC_ML_REPLACE, true);
            Enable(IDC_ML_DELETE, false);
            Enable(IDOK, true);
            m_edited = true;
        }
        return;
    }
    if (!m_edited)
    {
        Enable(IDC_ML_ADD, true);
        Enable(IDC_ML_REPLACE, false);
        Enable(IDC_ML_DELETE, false);
        m_edited = true;
        UpdateOK();
    }
}

LRESULT CEditMultiSzValueDlg::OnAdd(WPARAM, LPARAM, BOOL&)
{
    AddEntryText();
    return 0;
}

bool CEditMultiSzValueDlg::AddEntryText()
{
    const CStringEx text = GetDlgItemText(IDC_ML_ENTRY);
    if (text.IsEmpty())
    {
        Enable(IDC_ML_ADD, false);
        ShowMessage(IDS_EDT_VALUE_REQUIRED);
        return false;
    }
    const int existing = FindItem(text);
    if (existing >= 0)
    {
        ShowMessage(IDS_EDT_VALUE_IN_LIST);
        Select(existing);
        return false;
    }
    const int index = m_clone->AddListValue(text);
    HWND list = GetDlgItem(IDC_ML_VALUES);
    const LRESULT item = ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.GetString()));
    ::SendMessageW(list, LB_SETITEMDATA, item, index);
    ClearSelectionAndEntry();
    return true;
}

CStringEx CEditMultiSzValueDlg::PendingText() const
{
    const CStringEx text = GetDlgItemText(IDC_ML_ENTRY);
    if (m_selected >= 0 && text.CompareNoCase(ItemText(m_selected)) == 0)
        return CStringEx();
    return text;
}

LRESULT CEditMultiSzValueDlg::OnReplace(WPARAM, LPARAM, BOOL&)
{
    if (m_selected < 0)
    {
        Enable(IDC_ML_REPLACE, false);
        return 0;
    }
    const CStringEx text = GetDlgItemText(IDC_ML_ENTRY);
    if (text.IsEmpty())
    {
        ShowMessage(IDS_EDT_VALUE_REQUIRED);
        return 0;
    }
    if (text.CompareNoCase(ItemText(m_selected)) == 0)
    {
        Enable(IDC_ML_REPLACE, false);
        return 0;
    }
    const int existing = FindItem(text);
    if (existing >= 0)
    {
        ShowMessage(IDS_EDT_VALUE_IN_LIST);
        Select(existing);
        return 0;
    }
    const int index = ItemIndex(m_selected);
    m_clone->SetValueText(text, TRUE, index);
    HWND list = GetDlgItem(IDC_ML_VALUES);
    ::SendMessageW(list, LB_DELETESTRING, m_selected, 0);
    const LRESULT item = ::SendMessageW(list, LB_INSERTSTRING, m_selected, reinterpret_cast<LPARAM>(text.GetString()));
    ::SendMessageW(list, LB_SETITEMDATA, item, index);
    ClearSelectionAndEntry();
    return 0;
}

LRESULT CEditMultiSzValueDlg::OnDelete(WPARAM, LPARAM, BOOL&)
{
    if (m_selected < 0)
    {
        Enable(IDC_ML_DELETE, false);
        return 0;
    }
    m_clone->DeleteListValue(ItemIndex(m_selected));
    ::SendMessageW(GetDlgItem(IDC_ML_VALUES), LB_DELETESTRING, m_selected, 0);
    // The next value takes the removed one's place, so several can be deleted in a row.
    const int count = ItemCount();
    if (count > 0)
    {
        Select(m_selected < count ? m_selected : count - 1);
        return 0;
    }
    ClearSelectionAndEntry();
    return 0;
}

LRESULT CEditMultiSzValueDlg::OnOK(WPARAM, LPARAM, BOOL&)
{
    // Text typed and not added (OK or Enter pressed in the entry field): add it, drop it,
    // or go back to the list, as the user says.
    const CStringEx pending = PendingText();
    if (!pending.IsEmpty())
    {
        CStringEx question;
        CResourceLoader::Instance().FormatString(question, IDS_EDT_LIST_TEXT_NOT_ADDED, pending.GetString());
        const int answer = CMessageBoxEx::Show(m_hWnd, question, CResourceLoader::Instance().LoadText(IDS_EDITOR_CAPTION),
                                               MB_YESNOCANCEL | MB_ICONQUESTION, 0);
        if (answer == IDCANCEL || (answer == IDYES && !AddEntryText()))
            return 0;
    }
    if (m_clone && m_clone->IsRequired() && ItemCount() == 0)
    {
        ShowMessage(IDS_EDT_VALUE_REQUIRED);
        return 0;
    }
    NoteEnter();
    EndDialog(IDOK);
    return 0;
}

LRESULT CEditMultiSzValueDlg::OnCancel(WPARAM, LPARAM, BOOL&)
{
    NoteEnter();
    EndDialog(IDCANCEL);
    return 0;
}

void CEditMultiSzValueDlg::NoteEnter()
{
    m_endedByEnter = m_enterWatch.EnterWasLast();
    m_enterWatch.Stop();
}

void CEditMultiSzValueDlg::ClearSelectionAndEntry()
{
    m_selected = -1;
    ::SendMessageW(GetDlgItem(IDC_ML_VALUES), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SetDlgItemText(IDC_ML_ENTRY, L"");
    for (int id : { IDC_ML_ADD, IDC_ML_REPLACE, IDC_ML_DELETE })
        Enable(id, false);
    m_edited = false;
    UpdateOK();
}

void CEditMultiSzValueDlg::Enable(int id, bool enable) const
{
    // A button that goes grey while it has the focus (Add after adding) gives it to the
    // entry field, where the next value is typed.
    EnableControl(GetDlgItem(id), enable, GetDlgItem(IDC_ML_ENTRY));
    // Enter presses the button that applies to the typed text: Replace for a changed
    // selected value, Add for a new one, otherwise OK.
    int defaultId = IDOK;
    if (::IsWindowEnabled(GetDlgItem(IDC_ML_REPLACE)))
        defaultId = IDC_ML_REPLACE;
    else if (::IsWindowEnabled(GetDlgItem(IDC_ML_ADD)))
        defaultId = IDC_ML_ADD;
    SetDefaultButton(defaultId);
}

void CEditMultiSzValueDlg::UpdateOK() const
{
    Enable(IDOK, m_clone && m_clone->HasChanges());
}

int CEditMultiSzValueDlg::ItemCount() const
{
    const LRESULT count = ::SendMessageW(GetDlgItem(IDC_ML_VALUES), LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? 0 : static_cast<int>(count);
}

CStringEx CEditMultiSzValueDlg::ItemText(int position) const
{
    HWND list = GetDlgItem(IDC_ML_VALUES);
    const LRESULT length = ::SendMessageW(list, LB_GETTEXTLEN, position, 0);
    CStringEx text;
    if (length == LB_ERR || length <= 0)
        return text;
    ::SendMessageW(list, LB_GETTEXT, position, reinterpret_cast<LPARAM>(text.GetBuffer(static_cast<int>(length) + 1)));
    text.ReleaseBuffer();
    return text;
}

int CEditMultiSzValueDlg::ItemIndex(int position) const
{
    return static_cast<int>(::SendMessageW(GetDlgItem(IDC_ML_VALUES), LB_GETITEMDATA, position, 0));
}

int CEditMultiSzValueDlg::FindItem(const CStringEx& text) const
{
    const int count = ItemCount();
    for (int position = 0; position < count; ++position)
    {
        if (ItemText(position).CompareNoCase(text) == 0)
            return position;
    }
    return -1;
}

void CEditMultiSzValueDlg::ShowMessage(UINT id)
{
    CMessageBoxEx::Show(m_hWnd, CResourceLoader::Instance().LoadText(id),
                        CResourceLoader::Instance().LoadText(IDS_EDITOR_CAPTION), MB_OK | MB_ICONWARNING, 0);
}
