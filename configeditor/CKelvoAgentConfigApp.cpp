#include "configeditor/CKelvoAgentConfigApp.h"
#include "common/CUtilLogging.h"
#include "configeditor/CKelvoAgentConfigAppState.h"
#include "configeditor/CKelvoAgentConfigDlg.h"
#include "resources/KVResourceIds.h"
#include <commctrl.h>
#include <objbase.h>

CKelvoAgentConfigApp::CKelvoAgentConfigApp() = default;
CKelvoAgentConfigApp::~CKelvoAgentConfigApp() = default;

BOOL CKelvoAgentConfigApp::InitInstance()
{
    // Without the resource library there are no texts and no window to show.
    if (!InitResources())
    {
        m_exitCode = 1;
        return FALSE;
    }
    CKelvoAgentConfigAppState& state = CKelvoAgentConfigAppState::Instance();
    SetAppTitle(state.GetCaption());

    INITCOMMONCONTROLSEX controls = { sizeof(controls), 0xFF };
    InitCommonControlsEx(&controls);

    const HRESULT com = CoInitialize(nullptr);
    if (FAILED(com))
    {
        state.ShowMessageFormat(nullptr, IDS_EDITOR_COM_INIT_FAILED, MB_OK | MB_ICONERROR, static_cast<unsigned>(com));
        m_exitCode = 1;
        StopLogging();
        return FALSE;
    }
    RunMainDialog();
    CoUninitialize();
    StopLogging();
    return FALSE;
}

void CKelvoAgentConfigApp::RunMainDialog()
{
    CKelvoAgentConfigDlg dialog;
    m_dialog = &dialog;
    if (dialog.DoModal() == -1)
    {
        CKelvoAgentConfigAppState::Instance().ShowMessageRes(nullptr, IDS_EDITOR_DIALOG_FAILED, MB_OK | MB_ICONERROR);
        m_exitCode = 1;
    }
    m_dialog = nullptr;
}

void CKelvoAgentConfigApp::StopLogging()
{
    CUtilLogging& log = CUtilLogging::Instance();
    if (log.GetLevel() == 0)
        return;
    log.LogRes(1, IDS_EDITOR_LOG_STOPPED);
    log.Initialize(0, 0, CKelvoAgentConfigAppState::GetLogPrefix(), FOLDERID_LocalAppData);
}
