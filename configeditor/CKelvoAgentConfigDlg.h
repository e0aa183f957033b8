#pragma once
#include "common/CConfigurationEx.h"
#include "common/ui/CUiHandlesEx.h"
#include "common/ui/CUtilDialogEx.h"
#include "configeditor/CAgentSetting.h"
#include "configeditor/CAppConfigSetting.h"
#include "configeditor/CKelvoAgentConfigDlgList.h"
#include <commctrl.h>
#include <vector>

// The editor's main window: the settings of one application's configuration file as a
// two-column list (changed values in red), with open, save, reload and a view of the XML.
// Under the list: the selected setting's full caption, note and key, and which
// application's file is shown (and why, when the first application's file could not be
// read). A save goes straight to the file, or through the configuration service when the
// file refuses this account; afterwards the program that reads the file is told to re-read it.
class CKelvoAgentConfigDlg : public CUtilDialogEx<CDialogEx>
{
public:
    // Posted to refresh one item's value and the Save button; wParam is the item index.
    static constexpr UINT WM_EDITOR_REFRESH_ITEM = WM_USER + 14;

    explicit CKelvoAgentConfigDlg(HWND parent = nullptr);
    ~CKelvoAgentConfigDlg() override;

    // Edits the setting of the list's item (nothing for -1). fromEnter: the Enter key in the
    // list asked for it (a user who is not an administrator then gets nothing).
    void EditSetting(int item, bool fromEnter);

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
    LRESULT OnGetMinMaxInfo(WPARAM, LPARAM, BOOL&);
    LRESULT OnDpiChanged(WPARAM, LPARAM, BOOL&);
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
    // The caption, note and key of the item's setting, below the list.
    void UpdateDescription(int item);
    // The status line: the application and file shown, or why none; and the notice.
    void UpdateFileStatus();
    // The window's title: the caption, the application and the file shown.
    void UpdateTitle();
    // The notice: what a save does with the shown file, and why.
    void UpdateNotice();
    LRESULT CustomDraw(NMLVCUSTOMDRAW& draw);

    void EditCartAccess(CAgentSetting& setting, bool fromEnter);
    bool StartConfigSec();

    void Save();
    HRESULT WriteTarget(bool everySetting);
    // The text (string ID) that says why a save failed with the result and what to do.
    UINT SaveFailureReason(HRESULT result) const;
    // Tells the current application that the file at path changed, when it is the file
    // that application reads.
    void NotifyOwner(const CStringEx& path);
    static bool IsFileOfApplication(const CAppConfigSetting& app, const CStringEx& path);
    // Asks, when there are unsaved changes, whether to save them first; false when the user
    // chose to stay (or the save failed).
    bool MayReplaceShownSettings();
    // Takes the file as it is now; ask: first ask whether unsaved changes may go.
    void Reload(bool ask);
    void Open();
    void ViewXml();
    void Close();
    void Layout(int width, int height);

    CAppConfigSetting* CurrentApplication() const;
    CAgentSetting* SettingOfItem(int item) const;
    bool IsAdministrator();

    CListCtrlEx m_list;
    HWND m_notice = nullptr;
    HWND m_description = nullptr;
    HWND m_status = nullptr;
    HWND m_saveButton = nullptr;
    HWND m_closeButton = nullptr;
    CIconEx m_bigIcon;
    CIconEx m_smallIcon;

    // Layout taken at start: client size, the list's margins, the window's first size (the
    // smallest it may get), and the controls below the list with their distances from the
    // bottom edge and from the right edge (the buttons) or their right margins (stretching).
    struct CAnchor
    {
        enum Kind { KeepLeft, KeepRight, Stretch };
        HWND control;
        Kind kind;
        int fromBottom;
        int fromRight;
    };
    bool m_layoutReady = false;
    SIZE m_client = {};
    int m_listRightMargin = 0;
    int m_listBottomMargin = 0;
    SIZE m_minWindow = {};
    // The DPI the distances above are measured in.
    UINT m_layoutDpi = 0;
    std::vector<CAnchor> m_anchors;

    // The application whose file could not be read at start, when another one is shown:
    // its name, the file tried, and whether that file exists at all.
    CStringEx m_fallbackFrom;
    CStringEx m_fallbackPath;
    bool m_fallbackMissing = false;

    _CObjectExPtr<CConfigurationEx> m_ownConfig;
    _CObjectExPtr<CConfigurationEx> m_target;
    // The file the target was loaded from, kept for a reload after a failed one.
    CStringEx m_targetPath;
    // This account's direct write of the target file was refused during a save.
    bool m_directRefused = false;
    // What the service answered to the last save through it (S_FALSE: it was not asked).
    HRESULT m_serviceResult = S_FALSE;
    CAgentSettingMap m_settings;
    CAppConfigSettingMap m_apps;
    int m_current = -1;
    HACCEL m_accelerators = nullptr;
    HHOOK m_keyboardHook = nullptr;
    MSG m_pendingKey = {};
};
