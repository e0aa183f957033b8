#pragma once
#include "common/CConfigurationEx.h"
#include "common/ui/CUiHandlesEx.h"
#include "common/ui/CUtilDialogEx.h"
#include "configeditor/CAgentSetting.h"
#include "configeditor/CAppConfigSetting.h"
#include "configeditor/CKelvoAgentConfigDlgList.h"
#include <commctrl.h>

// The editor's main window: the settings of one application's configuration file as a
// two-column list (changed values in red), with open, save, reload and a view of the XML.
// A save goes straight to the file, or through the configuration service when the file
// refuses this account; afterwards the program that owns the file is told to re-read it.
class CKelvoAgentConfigDlg : public CUtilDialogEx<CDialogEx>
{
public:
    // Posted to refresh one item's value and the Save button; wParam is the item index.
    static constexpr UINT WM_EDITOR_REFRESH_ITEM = WM_USER + 14;

    explicit CKelvoAgentConfigDlg(HWND parent = nullptr);
    ~CKelvoAgentConfigDlg() override;

    // Edits the setting at the list's selection mark. fromEnter: the Enter key in the list
    // asked for it (a user who is not an administrator then gets nothing).
    void EditSelectedSetting(bool fromEnter);

protected:
    BOOL OnInitDialog() override;

private:
    KELVO_DECLARE_MESSAGE_MAP()

    // Key presses for the dialog and its controls go through the accelerator table before
    // the dialog's own keyboard handling: a hook on this thread's message retrieval turns
    // each into a private message to the dialog, whose handler translates it or hands it on.
    static LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam);
    LRESULT OnKeyForAccelerators(WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(WPARAM, LPARAM, BOOL&);

    LRESULT OnOpenCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnSaveCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnSaveButton(WPARAM, LPARAM, BOOL&);
    LRESULT OnViewXmlCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnReloadCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnCloseCommand(WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(WPARAM, LPARAM, BOOL&);
    LRESULT OnNotify(WPARAM, LPARAM, BOOL&);
    LRESULT OnRefreshItem(WPARAM, LPARAM, BOOL&);
    LRESULT OnSize(WPARAM, LPARAM, BOOL&);
    LRESULT OnPaint(WPARAM, LPARAM, BOOL&);
    LRESULT OnQueryDragIcon(WPARAM, LPARAM, BOOL&);

    // The editor's own file: logging, application entries, and (for an administrator) a
    // rewrite through the service when this account may not write it.
    void ReadOwnConfiguration();
    void ApplyLogging();
    // Makes the application current with its loaded target file.
    void MakeCurrent(int index, const _CObjectExPtr<CConfigurationEx>& target);
    void FillList();
    void RefreshItem(int item);
    void UpdateSaveButton();
    LRESULT CustomDraw(NMLVCUSTOMDRAW& draw);

    void EditCartAccess(CAgentSetting& setting, bool fromEnter);
    bool StartConfigSec();

    void Save();
    HRESULT WriteTarget();
    void NotifyOwner();
    void Reload();
    void Open();
    void ViewXml();
    void Close();
    void Layout(int width, int height);

    CAppConfigSetting* CurrentApplication() const;
    CAgentSetting* SettingOfItem(int item) const;
    bool IsAdministrator();

    CListCtrlEx m_list;
    HWND m_notice = nullptr;
    HWND m_saveButton = nullptr;
    HWND m_closeButton = nullptr;
    CIconEx m_bigIcon;
    CIconEx m_smallIcon;

    // Layout taken at start: client size, the list's margins, the window's first size (the
    // smallest it may get) and the distances of the notice and buttons from the edges.
    bool m_layoutReady = false;
    SIZE m_client = {};
    int m_listRightMargin = 0;
    int m_listBottomMargin = 0;
    SIZE m_minWindow = {};
    int m_noticeFromBottom = 0;
    int m_saveFromBottom = 0;
    int m_saveFromRight = 0;
    int m_closeFromBottom = 0;
    int m_closeFromRight = 0;

    _CObjectExPtr<CConfigurationEx> m_ownConfig;
    _CObjectExPtr<CConfigurationEx> m_target;
    // The file the target was loaded from, kept for a reload after a failed one.
    CStringEx m_targetPath;
    CAgentSettingMap m_settings;
    CAppConfigSettingMap m_apps;
    int m_current = -1;
    HACCEL m_accelerators = nullptr;
    HHOOK m_keyboardHook = nullptr;
    MSG m_pendingKey = {};
};
