#pragma once
#include "common/ui/CUtilDialogEx.h"
#include "configsec/CADAccountSearch.h"
#include <memory>
#include <vector>

// Shows a name that matched nothing so the user can correct it; OK searches again and
// ends only when the corrected name matches at least one account.
class CADSelectCorrectDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    CADSelectCorrectDlg(HWND parent, const CStringEx& name, const CADLocation& location);
    // The corrected name and what it matched, after OK.
    const CStringEx& GetName() const { return m_name; }
    std::vector<std::unique_ptr<CADObject>>& GetFound() { return m_found; }

protected:
    BOOL OnInitDialog() override;

private:
    LRESULT OnOK(WPARAM, LPARAM, BOOL&);

    CStringEx m_name;
    CADLocation m_location;
    std::vector<std::unique_ptr<CADObject>> m_found;
};
