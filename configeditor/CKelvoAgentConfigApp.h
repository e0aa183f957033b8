#pragma once
#include "common/ui/CUtilAppEx.h"

class CKelvoAgentConfigDlg;

// The configuration editor's application object: it prepares the resource library, COM and
// the common controls, and runs the main window until it closes. The program takes no
// command-line arguments.
class CKelvoAgentConfigApp : public CUtilAppEx
{
public:
    CKelvoAgentConfigApp();
    ~CKelvoAgentConfigApp() override;

    // The main window while it runs, otherwise null.
    CKelvoAgentConfigDlg* GetMainDialog() const noexcept { return m_dialog; }

protected:
    BOOL InitInstance() override;

private:
    void RunMainDialog();
    static void StopLogging();

    CKelvoAgentConfigDlg* m_dialog = nullptr;
};
