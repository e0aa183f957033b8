#include "configeditor/CEditValueDlg.h"
#include "configeditor/CAgentSettingKeys.h"
#include "common/CMultiSzStringEx.h"
#include "common/CResourceLoader.h"
#include "common/ui/CMessageBoxEx.h"
#include "resources/KVIdsConfigEditorValues.h"
#include <cerrno>
#include <cwchar>
#include <cwctype>

namespace
{
CEditValueDlg::OpenFileFn g_openFile = nullptr;

// The controls each type shows, besides the caption and the buttons.
constexpr int kTypeControls[] = { IDC_EV_TEXT, IDC_EV_BROWSE, IDC_EV_YES, IDC_EV_NO, IDC_EV_NAMED_VALUES,
                                  IDC_EV_NUMBER, IDC_EV_RANGE_HIGH, IDC_EV_RANGE_SEPARATOR, IDC_EV_NOTE,
                                  IDC_EV_KEY_ALT, IDC_EV_KEY_CTRL, IDC_EV_KEY_SHIFT, IDC_EV_KEY_CODE };

RECT ClientRectOf(HWND dialog, HWND control)
{
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

CStringEx Decimal(LONG number)
{
    CStringEx text;
    text.Format(L"%ld", number);
    return text;
}
}

KELVO_BEGIN_MESSAGE_MAP(CEditValueDlg, CUtilDialogEx<CDialogEx>)
    KELVO_COMMAND(IDOK, &CEditValueDlg::OnOK)
    KELVO_COMMAND(IDCANCEL, &CEditValueDlg::OnCancel)
    KELVO_COMMAND(IDC_EV_BROWSE, &CEditValueDlg::OnBrowse)
KELVO_END_MESSAGE_MAP()

CEditValueDlg::CEditValueDlg(CAgentSetting& clone, HWND parent)
    : CUtilDialogEx<CDialogEx>(IDD_EDIT_VALUE, parent), m_clone(&clone)
{
}

CEditValueDlg::~CEditValueDlg() = default;

void CEditValueDlg::SetOpenFileDialog(OpenFileFn openFile)
{
    g_openFile = openFile;
}

BOOL CEditValueDlg::OnInitDialog()
{
    m_enterWatch.Start(m_hWnd);
    if (!m_clone)
        return TRUE;
    SetWindowText(m_clone->GetCaptionText());
    SetDlgItemText(IDC_EV_CAPTION, m_clone->GetCaptionText());
    for (int id : kTypeControls)
        ::ShowWindow(GetDlgItem(id), SW_HIDE);

    switch (m_clone->GetType())
    {
    case EAgentSettingType::Boolean:
        InitBoolean();
        break;
    case EAgentSettingType::Number:
        if (m_clone->GetNamedValues().empty())
            InitNumber();
        else
            InitNamedNumber();
        break;
    case EAgentSettingType::Key:
        InitKey();
        break;
    case EAgentSettingType::File:
        InitFile();
        break;
    case EAgentSettingType::Range:
        InitRange();
        break;
    default:
        InitText();
        break;
    }
    return TRUE;
}

void CEditValueDlg::ShowControl(int id) const
{
    ::ShowWindow(GetDlgItem(id), SW_SHOW);
}

void CEditValueDlg::SelectAllText(int id) const
{
    HWND edit = GetDlgItem(id);
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

void CEditValueDlg::InitBoolean()
{
    ShowControl(IDC_EV_YES);
    ShowControl(IDC_EV_NO);
    // Only the number 1 means yes, as the programs read a yes/no setting.
    ::CheckRadioButton(m_hWnd, IDC_EV_NO, IDC_EV_YES, m_clone->GetNumber() == 1 ? IDC_EV_YES : IDC_EV_NO);
}

void CEditValueDlg::InitNamedNumber()
{
    ShowControl(IDC_EV_NAMED_VALUES);
    HWND combo = GetDlgItem(IDC_EV_NAMED_VALUES);
    const LONG current = m_clone->GetNumber();
    LRESULT selected = CB_ERR;
    for (const auto& [number, name] : m_clone->GetNamedValues())
    {
        const LRESULT item = ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.GetString()));
        ::SendMessageW(combo, CB_SETITEMDATA, item, number);
        if (number == current)
            selected = item;
    }
    ::SendMessageW(combo, CB_SETCURSEL, selected, 0);
}

void CEditValueDlg::InitNumber()
{
    ShowControl(IDC_EV_NUMBER);
    ShowControl(IDC_EV_NOTE);
    // A number the file holds in another notation ("010", "0x10") is shown as the decimal
    // number the programs read from it, and is stored that way.
    const CStringEx text = m_clone->GetValueText(0);
    wchar_t* end = nullptr;
    const long number = wcstol(text, &end, 0);
    SetDlgItemText(IDC_EV_NUMBER, !text.IsEmpty() && end && *end == 0 ? Decimal(number) : text);
    // The limits are shown before a value outside them is refused.
    CStringEx note = m_clone->GetNote();
    if (m_clone->HasLimits())
        CResourceLoader::Instance().FormatString(note, IDS_EDT_NOTE_WITH_LIMITS, m_clone->GetNote().GetString(),
                                                 m_clone->GetLimitMin(), m_clone->GetLimitMax());
    SetDlgItemText(IDC_EV_NOTE, note);
    SelectAllText(IDC_EV_NUMBER);
}

void CEditValueDlg::InitKey()
{
    for (int id : { IDC_EV_KEY_ALT, IDC_EV_KEY_CTRL, IDC_EV_KEY_SHIFT, IDC_EV_KEY_CODE })
        ShowControl(id);
    const DWORD value = static_cast<DWORD>(m_clone->GetKeyValue());
    ::CheckDlgButton(m_hWnd, IDC_EV_KEY_SHIFT, (value & CAgentSettingKeys::kShift) ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(m_hWnd, IDC_EV_KEY_CTRL, (value & CAgentSettingKeys::kCtrl) ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(m_hWnd, IDC_EV_KEY_ALT, (value & CAgentSettingKeys::kAlt) ? BST_CHECKED : BST_UNCHECKED);

    HWND combo = GetDlgItem(IDC_EV_KEY_CODE);
    const DWORD code = value & CAgentSettingKeys::kCodeMask;
    LRESULT selected = CB_ERR;
    auto addEntry = [combo](const CStringEx& name, DWORD listed) {
        const LRESULT item = ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.GetString()));
        ::SendMessageW(combo, CB_SETITEMDATA, item, listed);
        return item;
    };
    for (DWORD listed : CAgentSettingKeys::GetListCodes())
    {
        const LRESULT item = addEntry(CAgentSettingKeys::GetKeyName(listed), listed);
        if (listed == code)
            selected = item;
    }
    // A key the list does not offer (set in the file by hand) is offered too, under its
    // code, so that the dialog opens on what the file holds.
    if (selected == CB_ERR)
    {
        CStringEx name;
        CResourceLoader::Instance().FormatString(name, IDS_EDT_KEY_NOT_LISTED,
                                                 CAgentSettingKeys::GetKeyName(code).GetString(), code);
        selected = addEntry(name, code);
    }
    ::SendMessageW(combo, CB_SETCURSEL, selected, 0);
    m_keyOpenedEntry = selected;
    m_keyOpenedModifiers = value & (CAgentSettingKeys::kShift | CAgentSettingKeys::kCtrl | CAgentSettingKeys::kAlt);
}

bool CEditValueDlg::KeyIsUntouched() const
{
    DWORD modifiers = 0;
    if (::IsDlgButtonChecked(m_hWnd, IDC_EV_KEY_SHIFT) == BST_CHECKED)
        modifiers |= CAgentSettingKeys::kShift;
    if (::IsDlgButtonChecked(m_hWnd, IDC_EV_KEY_CTRL) == BST_CHECKED)
        modifiers |= CAgentSettingKeys::kCtrl;
    if (::IsDlgButtonChecked(m_hWnd, IDC_EV_KEY_ALT) == BST_CHECKED)
        modifiers |= CAgentSettingKeys::kAlt;
    const LRESULT entry = ::SendMessageW(GetDlgItem(IDC_EV_KEY_CODE), CB_GETCURSEL, 0, 0);
    return entry == m_keyOpenedEntry && modifiers == m_keyOpenedModifiers;
}

void CEditValueDlg::InitFile()
{
    ShowControl(IDC_EV_TEXT);
    ShowControl(IDC_EV_BROWSE);
    // The field gives up the button's width (and a small gap) so the button sits beside it.
    HWND edit = GetDlgItem(IDC_EV_TEXT);
    HWND browse = GetDlgItem(IDC_EV_BROWSE);
    RECT editRect = ClientRectOf(m_hWnd, edit);
    const RECT browseRect = ClientRectOf(m_hWnd, browse);
    const int gap = DialogUnitsToPixels(3);
    const int width = (editRect.right - editRect.left) - (browseRect.right - browseRect.left) - gap;
    ::MoveWindow(edit, editRect.left, editRect.top, width, editRect.bottom - editRect.top, TRUE);
    ::MoveWindow(browse, editRect.left + width + gap, browseRect.top, browseRect.right - browseRect.left,
                 browseRect.bottom - browseRect.top, TRUE);
    SetDlgItemText(IDC_EV_TEXT, m_clone->GetValueText(0));
    SelectAllText(IDC_EV_TEXT);
}

void CEditValueDlg::InitRange()
{
    for (int id : { IDC_EV_NUMBER, IDC_EV_RANGE_HIGH, IDC_EV_RANGE_SEPARATOR, IDC_EV_NOTE })
        ShowControl(id);
    SetDlgItemText(IDC_EV_NUMBER, Decimal(m_clone->GetCurrentLow()));
    SetDlgItemText(IDC_EV_RANGE_HIGH, Decimal(m_clone->GetCurrentHigh()));
    SetDlgItemText(IDC_EV_NOTE, m_clone->GetNote());
    // The note moves to the right of the upper field.
    HWND note = GetDlgItem(IDC_EV_NOTE);
    const RECT highRect = ClientRectOf(m_hWnd, GetDlgItem(IDC_EV_RANGE_HIGH));
    const RECT noteRect = ClientRectOf(m_hWnd, note);
    const int left = highRect.right + DialogUnitsToPixels(4);
    ::MoveWindow(note, left, noteRect.top, noteRect.right > left ? noteRect.right - left : 0,
                 noteRect.bottom - noteRect.top, TRUE);
    SelectAllText(IDC_EV_NUMBER);
}

void CEditValueDlg::InitText()
{
    ShowControl(IDC_EV_TEXT);
    SetDlgItemText(IDC_EV_TEXT, m_clone->GetValueText(0));
    SelectAllText(IDC_EV_TEXT);
}

LRESULT CEditValueDlg::OnBrowse(WPARAM, LPARAM, BOOL&)
{
    if (!m_clone || m_clone->GetType() != EAgentSettingType::File)
        return 0;
    CMultiSzStringEx filters;
    m_clone->GetFilterList(filters);
    CStringEx folder;
    CStringEx name;
    CResourceLoader::GetModulePath(folder, name, FALSE);
    const CStringEx title = CResourceLoader::Instance().LoadText(IDS_EDT_BROWSE_TITLE);
    wchar_t file[MAX_PATH] = {};

    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = m_hWnd;
    dialog.lpstrFilter = filters.GetData();
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrInitialDir = folder;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_HIDEREADONLY | OFN_NONETWORKBUTTON;
    const OpenFileFn openFile = g_openFile ? g_openFile : &GetOpenFileNameW;
    if (!openFile(&dialog))
        return 0;
    // The setting holds the file's name only; the programs look for it in their own folders.
    file[MAX_PATH - 1] = 0;
    const wchar_t* slash = wcsrchr(file, L'\\');
    SetDlgItemText(IDC_EV_TEXT, slash ? slash + 1 : file);
    return 0;
}

LRESULT CEditValueDlg::OnOK(WPARAM, LPARAM, BOOL&)
{
    if (!m_clone)
    {
        EndDialog(IDCANCEL);
        return 0;
    }
    CStringEx text;
    bool valid = true;
    switch (m_clone->GetType())
    {
    case EAgentSettingType::Boolean:
        text = CAgentSetting::GetBooleanText(::IsDlgButtonChecked(m_hWnd, IDC_EV_YES) == BST_CHECKED);
        break;
    case EAgentSettingType::Key:
        valid = CheckKey(text);
        break;
    case EAgentSettingType::File:
        valid = CheckRequiredText(IDC_EV_TEXT, IDS_EDT_FILE_REQUIRED, text);
        break;
    case EAgentSettingType::Range:
        // The pair goes into the clone itself; there is no text to store.
        if (!CheckRange())
            return 0;
        NoteEnter();
        EndDialog(IDOK);
        return 0;
    case EAgentSettingType::Number:
        valid = m_clone->GetNamedValues().empty() ? CheckNumber(text) : CheckNamedNumber(text);
        break;
    default:
        valid = CheckRequiredText(IDC_EV_TEXT, IDS_EDT_VALUE_REQUIRED, text);
        break;
    }
    if (!valid)
        return 0;
    m_clone->SetValueText(text, TRUE, 0);
    NoteEnter();
    EndDialog(IDOK);
    return 0;
}

LRESULT CEditValueDlg::OnCancel(WPARAM, LPARAM, BOOL&)
{
    NoteEnter();
    EndDialog(IDCANCEL);
    return 0;
}

bool CEditValueDlg::CheckKey(CStringEx& text)
{
    HWND combo = GetDlgItem(IDC_EV_KEY_CODE);
    const LRESULT item = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
    const bool noKey = item == CB_ERR || item == 0;
    if (noKey && m_clone->IsRequired())
    {
        ShowMessage(IDS_EDT_CHOOSE_VALUE);
        return false;
    }
    if (KeyIsUntouched())
    {
        // Nothing was changed: the value stays exactly as the file has it.
        text = m_clone->GetValueText(0);
        return true;
    }
    DWORD code = 0;
    if (!noKey)
    {
        code = static_cast<DWORD>(::SendMessageW(combo, CB_GETITEMDATA, item, 0));
        if (::IsDlgButtonChecked(m_hWnd, IDC_EV_KEY_SHIFT) == BST_CHECKED)
            code += CAgentSettingKeys::kShift;
        if (::IsDlgButtonChecked(m_hWnd, IDC_EV_KEY_CTRL) == BST_CHECKED)
            code += CAgentSettingKeys::kCtrl;
        if (::IsDlgButtonChecked(m_hWnd, IDC_EV_KEY_ALT) == BST_CHECKED)
            code += CAgentSettingKeys::kAlt;
    }
    text.Format(L"0x%x", code);
    return true;
}

bool CEditValueDlg::CheckNumber(CStringEx& text)
{
    const CStringEx typed = GetDlgItemText(IDC_EV_NUMBER);
    bool digits = !typed.IsEmpty();
    for (int i = 0; digits && i < typed.GetLength(); ++i)
        digits = iswdigit(typed.GetAt(i)) != 0;
    // Digits only, so no sign and no other notation; a number beyond 32 bits is refused
    // rather than cut to the largest one.
    errno = 0;
    const long number = digits ? wcstol(typed, nullptr, 10) : 0;
    if (!digits || errno == ERANGE)
    {
        ShowMessage(IDS_EDT_NUMBER_DIGITS);
        return false;
    }
    if (m_clone->HasLimits() && (number < m_clone->GetCurrentLow() || number > m_clone->GetCurrentHigh()))
    {
        ShowMessage(IDS_EDT_NUMBER_LIMITS, m_clone->GetCurrentLow(), m_clone->GetCurrentHigh());
        return false;
    }
    // Stored in plain decimal, so "010" is the ten the user meant and not the eight that
    // a reader of leading-zero octal would take it for.
    text = Decimal(number);
    return true;
}

bool CEditValueDlg::CheckNamedNumber(CStringEx& text)
{
    HWND combo = GetDlgItem(IDC_EV_NAMED_VALUES);
    const LRESULT item = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (item == CB_ERR)
    {
        ShowMessage(IDS_EDT_CHOOSE_VALUE);
        return false;
    }
    text = Decimal(static_cast<LONG>(::SendMessageW(combo, CB_GETITEMDATA, item, 0)));
    return true;
}

bool CEditValueDlg::CheckRange()
{
    bool lowSet = false;
    bool highSet = false;
    LONG low = 0;
    LONG high = 0;
    if (!ReadRangeField(IDC_EV_NUMBER, lowSet, low))
        return false;
    if ((lowSet && low < m_clone->GetLimitMin()) || (!lowSet && m_clone->IsRequired()))
    {
        ShowMessage(IDS_EDT_RANGE_LOW_LIMIT, m_clone->GetLimitMin());
        return false;
    }
    if (!ReadRangeField(IDC_EV_RANGE_HIGH, highSet, high))
        return false;
    if ((highSet && high > m_clone->GetLimitMax()) || (!highSet && m_clone->IsRequired()))
    {
        ShowMessage(IDS_EDT_RANGE_HIGH_LIMIT, m_clone->GetLimitMax());
        return false;
    }
    if (lowSet && highSet)
    {
        if (high < low)
        {
            ShowMessage(IDS_EDT_RANGE_HIGH_BELOW_LOW);
            return false;
        }
        m_clone->SetRangeValue(low, high);
    }
    // With one field empty (and the setting not required) nothing is stored.
    return true;
}

bool CEditValueDlg::ReadRangeField(int id, bool& set, LONG& number)
{
    CStringEx text = GetDlgItemText(id);
    text.Trim();
    set = !text.IsEmpty();
    if (!set)
        return true;
    // A whole decimal number, with an optional sign, and nothing after it.
    const wchar_t* digits = text.GetString();
    if (*digits == L'-' || *digits == L'+')
        ++digits;
    wchar_t* end = nullptr;
    errno = 0;
    const long value = wcstol(text, &end, 10);
    if (!iswdigit(*digits) || !end || *end != 0 || errno == ERANGE)
    {
        ShowMessage(IDS_EDT_NUMBER_DIGITS);
        ::SetFocus(GetDlgItem(id));
        return false;
    }
    number = value;
    return true;
}

bool CEditValueDlg::CheckRequiredText(int id, UINT emptyMessageId, CStringEx& text)
{
    text = GetDlgItemText(id);
    if (text.IsEmpty() && m_clone->IsRequired())
    {
        ShowMessage(emptyMessageId);
        return false;
    }
    return true;
}

void CEditValueDlg::ShowMessage(UINT id, ...)
{
    va_list args;
    va_start(args, id);
    CStringEx text;
    CResourceLoader::Instance().FormatStringV(text, id, args);
    va_end(args);
    CMessageBoxEx::Show(m_hWnd, text, CResourceLoader::Instance().LoadText(IDS_EDITOR_CAPTION), MB_OK | MB_ICONWARNING, 0);
}

void CEditValueDlg::NoteEnter()
{
    m_endedByEnter = m_enterWatch.EnterWasLast();
    m_enterWatch.Stop();
}
