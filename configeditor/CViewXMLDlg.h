#pragma once
#include "common/CStringEx.h"
#include "common/ui/CUtilDialogEx.h"

// Shows the XML text of the edited configuration, read-only. OK and Cancel close it.
class CViewXMLDlg : public CUtilDialogEx<CDialogEx>
{
public:
    CViewXMLDlg(LPCWSTR xml, HWND parent);
    ~CViewXMLDlg() override;

protected:
    BOOL OnInitDialog() override;

private:
    CStringEx m_text;
};
