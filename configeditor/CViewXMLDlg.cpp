#include "configeditor/CViewXMLDlg.h"
#include "resources/KVIdsConfigEditorValues.h"

CViewXMLDlg::CViewXMLDlg(LPCWSTR xml, HWND parent) : CUtilDialogEx<CDialogEx>(IDD_VIEW_XML, parent)
{
    // A multi-line edit control breaks lines only at CR LF.
    for (const wchar_t* c = xml ? xml : L""; *c; ++c)
    {
        if (*c == L'\n' && (c == xml || c[-1] != L'\r'))
            m_text += L'\r';
        m_text += *c;
    }
}

CViewXMLDlg::~CViewXMLDlg() = default;

BOOL CViewXMLDlg::OnInitDialog()
{
    HWND edit = GetDlgItem(IDC_XML_TEXT);
    // Tabs of the indented document at four characters' width, not the default eight.
    const int tabStop = 16;
    ::SendMessageW(edit, EM_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&tabStop));
    SetDlgItemText(IDC_XML_TEXT, m_text);
    // The text opens at its start with nothing selected, ready to be read and scrolled.
    ::SetFocus(edit);
    ::SendMessageW(edit, EM_SETSEL, 0, 0);
    return FALSE;
}
