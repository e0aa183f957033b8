#include "configsec/CADSelectDlg.h"
#include "common/CResourceLoader.h"
#include "configsec/CADLocationCombo.h"
#include "configsec/CADSelectAdvanceDlg.h"
#include "configsec/CADSelectCorrectDlg.h"
#include "configsec/CADSelectResolveDlg.h"
#include "configsec/ConfigSecInstance.h"
#include "resources/KVIdsConfigSec.h"
#include "resources/KVIdsDirectory.h"
#include <richedit.h>

KELVO_BEGIN_MESSAGE_MAP(CADSelectDlg, CUtilDialogEx<CDialogEx>)
    KELVO_COMMAND(IDOK, &CADSelectDlg::OnOK)
    KELVO_COMMAND(IDC_CONFIGSEC_CHECK_NAMES, &CADSelectDlg::OnCheckNames)
    KELVO_COMMAND(IDC_CONFIGSEC_ADVANCED, &CADSelectDlg::OnAdvanced)
    KELVO_COMMAND(IDC_CONFIGSEC_NAMES, &CADSelectDlg::OnNamesCommand)
    KELVO_MESSAGE(WM_NOTIFY, &CADSelectDlg::OnNotify)
    KELVO_MESSAGE(WM_REMOVE_UNITS, &CADSelectDlg::OnRemoveUnits)
KELVO_END_MESSAGE_MAP()

namespace
{
CStringEx BoxText(HWND box)
{
    GETTEXTLENGTHEX query = { GTL_NUMCHARS | GTL_PRECISE, 1200 };
    const LRESULT length = SendMessageW(box, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query), 0);
    if (length <= 0)
        return CStringEx();
    CStringEx text;
    GETTEXTEX get = { static_cast<DWORD>((length + 1) * sizeof(wchar_t)), GT_DEFAULT, 1200, nullptr, nullptr };
    const LRESULT copied = SendMessageW(box, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                        reinterpret_cast<LPARAM>(text.GetBuffer(static_cast<int>(length) + 1)));
    text.ReleaseBuffer(copied > 0 ? static_cast<int>(copied) : 0);
    return text;
}

// Sets the format of the selection (or of what is typed next, for an empty selection).
void SetUnitFormat(HWND box, bool resolved)
{
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_PROTECTED | CFM_UNDERLINE;
    format.dwEffects = resolved ? (CFE_PROTECTED | CFE_UNDERLINE) : 0;
    SendMessageW(box, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

bool IsDeletion(UINT message, WPARAM wParam)
{
    return (message == WM_KEYDOWN && (wParam == VK_DELETE || wParam == VK_BACK)) ||
           (message == WM_CHAR && wParam == L'\b') || message == WM_CUT || message == WM_CLEAR;
}
}

CADSelectDlg::CADSelectDlg(HWND parent, CSmartList<CADObject*>& chosen)
    : CUtilDialogEx<CDialogEx>(IDD_CONFIGSEC_SELECT, parent), m_chosen(chosen)
{
}

BOOL CADSelectDlg::OnInitDialog()
{
    m_separator = CResourceLoader::Instance().LoadText(IDS_DIR_GROUP_SEPARATOR);
    m_locations = CADAccountSearch::GetLocations();
    CADLocationCombo::Fill(GetDlgItem(IDC_CONFIGSEC_LOCATION), m_locations,
                           CADAccountSearch::DefaultLocation(m_locations));
    m_names = GetDlgItem(IDC_CONFIGSEC_NAMES);
    ::SendMessageW(m_names, EM_SETEVENTMASK, 0, ENM_CHANGE | ENM_PROTECTED | ENM_SELCHANGE);
    ::SetFocus(m_names);
    return FALSE;
}

std::vector<CADSelectDlg::Unit> CADSelectDlg::ReadUnits() const
{
    std::vector<Unit> units;
    const CStringEx text = BoxText(m_names);
    std::vector<bool> taken(m_resolved.GetCount(), false);
    int start = 0;
    while (start <= text.GetLength())
    {
        const int at = m_separator.IsEmpty() ? -1 : text.Find(m_separator, start);
        const int end = at < 0 ? text.GetLength() : at;
        // The name without the spaces around it, with its place in the box.
        int first = start, last = end;
        while (first < last && iswspace(text.GetAt(first)))
            ++first;
        while (last > first && iswspace(text.GetAt(last - 1)))
            --last;
        if (last > first)
        {
            Unit unit;
            unit.text = text.Mid(first, last - first);
            unit.first = first;
            unit.last = last;
            for (size_t i = 0; i < m_resolved.GetCount(); ++i)
                if (!taken[i] && m_resolved.GetAt(i)->GetListText().CompareNoCase(unit.text) == 0)
                {
                    taken[i] = true;
                    unit.object = std::make_unique<CADObject>(*m_resolved.GetAt(i));
                    break;
                }
            units.push_back(std::move(unit));
        }
        if (at < 0)
            break;
        start = at + m_separator.GetLength();
    }
    return units;
}

void CADSelectDlg::WriteUnits(const std::vector<Unit>& units)
{
    m_writing = true;
    m_resolved.RemoveAll();
    ::SendMessageW(m_names, EM_SETSEL, 0, -1);
    SetUnitFormat(m_names, false);
    ::SendMessageW(m_names, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    for (size_t i = 0; i < units.size(); ++i)
    {
        const Unit& unit = units[i];
        const CStringEx shown = unit.object ? unit.object->GetListText() : unit.text;
        ::SendMessageW(m_names, EM_SETSEL, -1, -1);
        SetUnitFormat(m_names, unit.object != nullptr);
        ::SendMessageW(m_names, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(shown.GetString()));
        if (unit.object)
            m_resolved.AddCopy(*unit.object);
        // Every name is followed by the separator, so what is typed next starts a new name.
        CStringEx gap(m_separator);
        gap += L' ';
        ::SendMessageW(m_names, EM_SETSEL, -1, -1);
        SetUnitFormat(m_names, false);
        ::SendMessageW(m_names, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(gap.GetString()));
    }
    ::SendMessageW(m_names, EM_SETSEL, -1, -1);
    SetUnitFormat(m_names, false);
    m_writing = false;
}

bool CADSelectDlg::PickLocation(const CStringEx& typed, const CADLocation& selected, CADLocation& location,
                                CStringEx& name) const
{
    // "location\name" searches that location when it is one of the list; otherwise the
    // whole text is searched as a name in the selected location.
    location = selected;
    name = typed;
    const int slash = typed.Find(L'\\');
    if (slash < 0)
        return true;
    CStringEx prefix = typed.Left(slash);
    prefix.Trim();
    for (const CADLocation& candidate : m_locations)
        if (candidate.name.CompareNoCase(prefix) == 0)
        {
            location = candidate;
            name = typed.Mid(slash + 1);
            name.Trim();
            return !name.IsEmpty();
        }
    return true;
}

bool CADSelectDlg::ResolveOne(Unit& unit, const CADLocation& selected, bool& stop)
{
    CADLocation location;
    CStringEx name;
    if (!PickLocation(unit.text, selected, location, name))
        return false;
    std::vector<std::unique_ptr<CADObject>> found;
    HRESULT hr = CADAccountSearch::FindExact(location, name, found);
    if (FAILED(hr))
    {
        CADLocationCombo::ReportFailure(m_hWnd, hr, location);
        stop = true;
        return false;
    }
    if (found.empty())
    {
        // Nothing matched: the user may correct the name, which is searched again.
        CADSelectCorrectDlg correct(m_hWnd, name, location);
        if (correct.DoModal() != IDOK)
            return false;
        found = std::move(correct.GetFound());
    }
    if (found.size() == 1)
    {
        unit.object = std::move(found.front());
        return true;
    }
    CADSelectResolveDlg resolve(m_hWnd, name, found);
    if (resolve.DoModal() != IDOK || resolve.GetChosen() == nullptr)
        return false;
    unit.object = std::make_unique<CADObject>(*resolve.GetChosen());
    return true;
}

bool CADSelectDlg::ResolveNames()
{
    std::vector<Unit> units = ReadUnits();
    if (units.empty())
    {
        ConfigSecInstance::MessageBox(m_hWnd, IDS_CONFIGSEC_NO_NAMES, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    CADLocation location;
    if (!CADLocationCombo::GetSelected(GetDlgItem(IDC_CONFIGSEC_LOCATION), m_locations, location))
    {
        ConfigSecInstance::MessageBox(m_hWnd, IDS_CONFIGSEC_NO_LOCATION, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    bool all = true, stop = false;
    for (Unit& unit : units)
    {
        if (unit.object)
            continue;
        if (stop || !ResolveOne(unit, location, stop))
            all = false;
    }
    WriteUnits(units);
    return all;
}

LRESULT CADSelectDlg::OnOK(WPARAM, LPARAM, BOOL&)
{
    if (!ResolveNames())
        return 0;
    m_chosen.CopyFrom(m_resolved);
    EndDialog(IDOK);
    return 0;
}

LRESULT CADSelectDlg::OnCheckNames(WPARAM, LPARAM, BOOL&)
{
    ResolveNames();
    return 0;
}

LRESULT CADSelectDlg::OnAdvanced(WPARAM, LPARAM, BOOL&)
{
    CADLocation location;
    if (!CADLocationCombo::GetSelected(GetDlgItem(IDC_CONFIGSEC_LOCATION), m_locations, location))
    {
        ConfigSecInstance::MessageBox(m_hWnd, IDS_CONFIGSEC_NO_LOCATION, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    CSmartList<CADObject*> found;
    CADSelectAdvanceDlg advanced(m_hWnd, location, found);
    if (advanced.DoModal() != IDOK || found.IsEmpty())
        return 0;
    // The chosen rows join the box as resolved names after what is there.
    std::vector<Unit> units = ReadUnits();
    for (size_t i = 0; i < found.GetCount(); ++i)
    {
        Unit unit;
        unit.object = std::make_unique<CADObject>(*found.GetAt(i));
        unit.text = unit.object->GetListText();
        units.push_back(std::move(unit));
    }
    WriteUnits(units);
    // The names are there: Enter now confirms them (the focus would otherwise be back on
    // Advanced, and Enter would open the search again).
    FocusControl(GetDlgItem(IDOK));
    return 0;
}

LRESULT CADSelectDlg::OnNamesCommand(WPARAM wParam, LPARAM, BOOL& handled)
{
    if (HIWORD(wParam) != EN_CHANGE || m_writing)
    {
        handled = FALSE;
        return 0;
    }
    // An edit may have taken a resolved name away: keep only the accounts still shown.
    std::vector<Unit> units = ReadUnits();
    CSmartList<CADObject*> still;
    for (const Unit& unit : units)
        if (unit.object)
            still.AddCopy(*unit.object);
    m_resolved.RemoveAll();
    m_resolved.TakeAll(still);
    return 0;
}

LRESULT CADSelectDlg::OnProtected(const ENPROTECTED& change)
{
    if (m_writing)
        return 0;
    if (IsDeletion(change.msg, change.wParam))
    {
        // A resolved name goes as a whole: the range grows to the names it touches.
        LONG first = change.chrg.cpMin, last = change.chrg.cpMax;
        if (first == last && (change.wParam == VK_BACK || change.wParam == L'\b') && first > 0)
            --first;
        PostMessage(WM_REMOVE_UNITS, static_cast<WPARAM>(first), static_cast<LPARAM>(last));
    }
    // Nothing else may change a resolved name.
    return 1;
}

LRESULT CADSelectDlg::OnRemoveUnits(WPARAM wParam, LPARAM lParam, BOOL&)
{
    LONG first = static_cast<LONG>(wParam), last = static_cast<LONG>(lParam);
    std::vector<Unit> units = ReadUnits();
    std::vector<Unit> kept;
    for (Unit& unit : units)
    {
        const bool touched = unit.first < (last > first ? last : first + 1) && unit.last > first;
        if (!(touched && unit.object))
            kept.push_back(std::move(unit));
    }
    WriteUnits(kept);
    return 0;
}

void CADSelectDlg::OnSelectionChange(const SELCHANGE& change)
{
    if (m_writing || change.chrg.cpMin != change.chrg.cpMax)
        return;
    // The caret never rests inside a resolved name: the whole name is selected instead,
    // so it is deleted or kept as one unit. Elsewhere what is typed is plain text.
    for (const Unit& unit : ReadUnits())
        if (unit.object && change.chrg.cpMin > unit.first && change.chrg.cpMin < unit.last)
        {
            m_writing = true;
            ::SendMessageW(m_names, EM_SETSEL, unit.first, unit.last);
            m_writing = false;
            return;
        }
    m_writing = true;
    SetUnitFormat(m_names, false);
    m_writing = false;
}

LRESULT CADSelectDlg::OnNotify(WPARAM, LPARAM lParam, BOOL& handled)
{
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom == IDC_CONFIGSEC_NAMES && header->code == EN_PROTECTED)
        return OnProtected(*reinterpret_cast<const ENPROTECTED*>(lParam));
    if (header->idFrom == IDC_CONFIGSEC_NAMES && header->code == EN_SELCHANGE)
    {
        OnSelectionChange(*reinterpret_cast<const SELCHANGE*>(lParam));
        return 0;
    }
    handled = FALSE;
    return 0;
}
