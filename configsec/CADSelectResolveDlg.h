#pragma once
#include "common/ui/CUtilDialogEx.h"
#include "configsec/CADObject.h"
#include <memory>
#include <vector>

// Lets the user choose which of several accounts a typed name means.
class CADSelectResolveDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    CADSelectResolveDlg(HWND parent, const CStringEx& name, const std::vector<std::unique_ptr<CADObject>>& candidates);
    // The candidate chosen with OK (null before).
    const CADObject* GetChosen() const { return m_chosen; }

protected:
    BOOL OnInitDialog() override;

private:
    LRESULT OnOK(WPARAM, LPARAM, BOOL&);

    CStringEx m_name;
    const std::vector<std::unique_ptr<CADObject>>& m_candidates;
    const CADObject* m_chosen = nullptr;
};
