#include "configeditor/CKelvoAgentConfigDlg.h"
#include "common/CErrorEx.h"
#include "common/CHandleEx.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "configeditor/CEditMultiSzValueDlg.h"
#include "configeditor/CEditValueDlg.h"
#include "configeditor/CKelvoAgentConfigAppState.h"
#include "configeditor/CKelvoAgentConfigDlgNotify.h"
#include "configeditor/CKelvoAgentConfigDlgPicker.h"
#include "configeditor/CViewXMLDlg.h"
#include "resources/KVResourceIds.h"
#include <commdlg.h>
#include <wtsapi32.h>
#include <vector>

namespace
{
// The dialog whose accelerators this thread's hook serves, and the private message that
// brings it a key press.
thread_local CKelvoAgentConfigDlg* t_acceleratorDialog = nullptr;
const UINT WM_EDITOR_KEY_FOR_ACCELERATORS = WM_APP + 1;

// The shares of the list's width of the caption and the state columns; the value column
// takes the rest.
const int kCaptionColumnPercent = 45;
const int kStateColumnPercent = 18;
const COLORREF kChangedColour = RGB(255, 0, 0);

CKelvoAgentConfigAppState& State()
{
    return CKelvoAgentConfigAppState::Instance();
}

CStringEx LoadText(UINT id)
{
    return CResourceLoader::Instance().LoadText(id);
}

// The open and save dialogs' filter: the resource text separates its parts with "|".
std::vector<wchar_t> FileFilter()
{
    const CStringEx text = LoadText(IDS_EDITOR_FILE_FILTER);
    std::vector<wchar_t> filter(text.GetString(), text.GetString() + text.GetLength());
    for (wchar_t& c : filter)
        if (c == L'|')
            c = L'\0';
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    return filter;
}

// Asks for a file with the open or the save dialog; FALSE when the user cancelled.
BOOL AskForFile(HWND owner, bool save, CStringEx& path)
{
    const std::vector<wchar_t> filter = FileFilter();
    const CStringEx extension = LoadText(IDS_EDITOR_FILE_EXTENSION);
    wchar_t file[MAX_PATH] = {};
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.data();
    dialog.lpstrFile = file;
    dialog.nMaxFile = ARRAYSIZE(file);
    dialog.lpstrDefExt = extension;
    dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    const BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (chosen)
        path = file;
    return chosen;
}

// The file's name without folder and without its last extension.
CStringEx FileStem(const CStringEx& path)
{
    const int slash = path.ReverseFind(L'\\');
    CStringEx name = slash >= 0 ? path.Mid(slash + 1) : path;
    const int dot = name.ReverseFind(L'.');
    return dot > 0 ? name.Left(dot) : name;
}

// A control's rectangle in its dialog's client coordinates.
RECT PlaceOf(HWND dialog, HWND control)
{
    RECT rect = {};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Whether this account may write the file as it is: a save replaces no read-only file, and
// opening it for writing asks the rest of what a save asks (its permissions, whoever holds it
// open). Nothing is written.
bool CanWriteFile(const CStringEx& path)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (path.IsEmpty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    const CHandleEx file(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid();
}

// Changed by an edit, as opposed to only missing from the file.
bool IsEdited(const CAgentSetting& setting)
{
    return setting.HasChanges() && !setting.IsMissingFromFile();
}

// The state column: changes are marked in words too, not by colour alone (which the
// selected row's colours hide); a required entry the file lacks is named as such.
CStringEx StateText(const CAgentSetting& setting)
{
    if (!setting.HasChanges())
        return CStringEx();
    return LoadText(setting.IsMissingFromFile() ? IDS_EDITOR_STATE_MISSING : IDS_EDITOR_STATE_CHANGED);
}

bool InConsoleSession()
{
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == WTSGetActiveConsoleSessionId();
}
}

KELVO_BEGIN_MESSAGE_MAP(CKelvoAgentConfigDlg, CUtilDialogEx<CDialogEx>)
    KELVO_COMMAND(ID_CONFIG_EDITOR_OPEN, &CKelvoAgentConfigDlg::OnOpenCommand)
    KELVO_COMMAND(ID_CONFIG_EDITOR_SAVE, &CKelvoAgentConfigDlg::OnSaveCommand)
    KELVO_COMMAND(IDOK, &CKelvoAgentConfigDlg::OnSaveButton)
    KELVO_COMMAND(ID_CONFIG_EDITOR_VIEW_XML, &CKelvoAgentConfigDlg::OnViewXmlCommand)
    KELVO_COMMAND(ID_CONFIG_EDITOR_RELOAD, &CKelvoAgentConfigDlg::OnReloadCommand)
    KELVO_COMMAND(IDCANCEL, &CKelvoAgentConfigDlg::OnCloseCommand)
    KELVO_MESSAGE(WM_CLOSE, &CKelvoAgentConfigDlg::OnClose)
    KELVO_MESSAGE(WM_NOTIFY, &CKelvoAgentConfigDlg::OnNotify)
    KELVO_MESSAGE(WM_EDITOR_REFRESH_ITEM, &CKelvoAgentConfigDlg::OnRefreshItem)
    KELVO_MESSAGE(WM_SIZE, &CKelvoAgentConfigDlg::OnSize)
    KELVO_MESSAGE(WM_GETMINMAXINFO, &CKelvoAgentConfigDlg::OnGetMinMaxInfo)
    KELVO_MESSAGE(WM_DPICHANGED, &CKelvoAgentConfigDlg::OnDpiChanged)
    KELVO_MESSAGE(WM_PAINT, &CKelvoAgentConfigDlg::OnPaint)
    KELVO_MESSAGE(WM_QUERYDRAGICON, &CKelvoAgentConfigDlg::OnQueryDragIcon)
    KELVO_MESSAGE(WM_EDITOR_KEY_FOR_ACCELERATORS, &CKelvoAgentConfigDlg::OnKeyForAccelerators)
    KELVO_MESSAGE(WM_DESTROY, &CKelvoAgentConfigDlg::OnDestroy)
KELVO_END_MESSAGE_MAP()

CKelvoAgentConfigDlg::CKelvoAgentConfigDlg(HWND parent) : CUtilDialogEx<CDialogEx>(IDD_CONFIG_EDITOR, parent)
{
}

CKelvoAgentConfigDlg::~CKelvoAgentConfigDlg()
{
    if (m_keyboardHook)
        UnhookWindowsHookEx(m_keyboardHook);
    if (t_acceleratorDialog == this)
        t_acceleratorDialog = nullptr;
    if (m_accelerators)
        DestroyAcceleratorTable(m_accelerators);
}

bool CKelvoAgentConfigDlg::IsAdministrator()
{
    return State().IsAdministrator(m_hWnd);
}

LRESULT CALLBACK CKelvoAgentConfigDlg::KeyboardHook(int code, WPARAM wParam, LPARAM lParam)
{
    auto* message = reinterpret_cast<MSG*>(lParam);
    CKelvoAgentConfigDlg* dialog = t_acceleratorDialog;
    if (code == HC_ACTION && wParam == PM_REMOVE && dialog && dialog->m_accelerators &&
        (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN) &&
        (message->hwnd == dialog->m_hWnd || ::IsChild(dialog->m_hWnd, message->hwnd)))
    {
        dialog->m_pendingKey = *message;
        message->hwnd = dialog->m_hWnd;
        message->message = WM_EDITOR_KEY_FOR_ACCELERATORS;
        message->wParam = 0;
        message->lParam = 0;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CKelvoAgentConfigDlg::OnKeyForAccelerators(WPARAM, LPARAM, BOOL&)
{
    MSG key = m_pendingKey;
    if (TranslateAcceleratorW(m_hWnd, m_accelerators, &key))
        return 0;
    if (!IsDialogMessageW(m_hWnd, &key))
    {
        TranslateMessage(&key);
        DispatchMessageW(&key);
    }
    return 0;
}

LRESULT CKelvoAgentConfigDlg::OnDestroy(WPARAM, LPARAM, BOOL& handled)
{
    if (m_keyboardHook)
        UnhookWindowsHookEx(m_keyboardHook);
    m_keyboardHook = nullptr;
    if (t_acceleratorDialog == this)
        t_acceleratorDialog = nullptr;
    handled = FALSE;
    return 0;
}

BOOL CKelvoAgentConfigDlg::OnInitDialog()
{
    // Icons, accelerators and the layout as the template made it.
    const HMODULE resources = GetResourceModule();
    m_bigIcon.Reset(static_cast<HICON>(LoadImageW(resources, MAKEINTRESOURCEW(IDI_CONFIG_EDITOR), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
    m_smallIcon.Reset(static_cast<HICON>(LoadImageW(resources, MAKEINTRESOURCEW(IDI_CONFIG_EDITOR), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon.Get()));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.Get()));
    m_accelerators = LoadAcceleratorsW(resources, MAKEINTRESOURCEW(IDR_CONFIG_EDITOR_ACCELERATORS));
    t_acceleratorDialog = this;
    m_keyboardHook = SetWindowsHookExW(WH_GETMESSAGE, &KeyboardHook, nullptr, GetCurrentThreadId());
    SetWindowText(State().GetCaption());

    m_notice = GetDlgItem(IDC_CONFIG_EDITOR_NOTICE);
    m_description = GetDlgItem(IDC_CONFIG_EDITOR_DESCRIPTION);
    m_status = GetDlgItem(IDC_CONFIG_EDITOR_STATUS);
    m_saveButton = GetDlgItem(IDOK);
    m_closeButton = GetDlgItem(IDCANCEL);
    m_list.Attach(GetDlgItem(IDC_CONFIG_EDITOR_LIST), [this] { EditSetting(m_list.GetSelectedItem(), true); });

    RECT client = {}, window = {};
    ::GetClientRect(m_hWnd, &client);
    ::GetWindowRect(m_hWnd, &window);
    m_client = { client.right, client.bottom };
    m_minWindow = { window.right - window.left, window.bottom - window.top };
    m_layoutDpi = GetDpiForWindow(m_hWnd);
    const RECT list = PlaceOf(m_hWnd, m_list.GetSafeHwnd());
    m_listRightMargin = m_client.cx - list.right;
    m_listBottomMargin = m_client.cy - list.bottom;
    auto anchor = [this](HWND control, CAnchor::Kind kind) {
        const RECT place = PlaceOf(m_hWnd, control);
        const int fromRight = kind == CAnchor::KeepRight ? m_client.cx - place.left : m_client.cx - place.right;
        m_anchors.push_back({ control, kind, static_cast<int>(m_client.cy - place.top), fromRight });
    };
    anchor(m_description, CAnchor::Stretch);
    anchor(m_status, CAnchor::Stretch);
    anchor(m_notice, CAnchor::KeepLeft);
    anchor(m_saveButton, CAnchor::KeepRight);
    anchor(m_closeButton, CAnchor::KeepRight);
    m_layoutReady = true;

    // The list: the settings' captions and their values, under headings of their own,
    // filling the list's width.
    m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    m_list.InsertColumn(0, LoadText(IDS_EDITOR_COLUMN_SETTING), 0);
    m_list.InsertColumn(1, LoadText(IDS_EDITOR_COLUMN_VALUE), 0);
    m_list.InsertColumn(2, LoadText(IDS_EDITOR_COLUMN_STATE), 0);
    m_list.FitColumns(kCaptionColumnPercent, kStateColumnPercent);

    ReadOwnConfiguration();

    // The first application whose file can be found becomes current; the window says so
    // when that is not the first application.
    for (const auto& entry : m_apps)
    {
        _CObjectExPtr<CConfigurationEx> target(new CConfigurationEx());
        if (target->Load(entry.second->GetName()))
        {
            MakeCurrent(entry.first, target);
            break;
        }
        if (m_fallbackFrom.IsEmpty())
        {
            m_fallbackFrom = entry.second->GetName();
            m_fallbackPath = target->GetTriedPath();
            m_fallbackMissing = GetFileAttributesW(m_fallbackPath) == INVALID_FILE_ATTRIBUTES;
        }
    }
    if (m_current < 0)
    {
        const HMENU menu = ::GetMenu(m_hWnd);
        for (UINT id : { ID_CONFIG_EDITOR_SAVE, ID_CONFIG_EDITOR_VIEW_XML, ID_CONFIG_EDITOR_RELOAD })
            EnableMenuItem(menu, id, MF_BYCOMMAND | MF_GRAYED);
    }
    UpdateSaveButton();
    UpdateFileStatus();
    return TRUE;
}

void CKelvoAgentConfigDlg::ReadOwnConfiguration()
{
    if (!m_ownConfig)
        m_ownConfig = new CConfigurationEx();
    if (!m_ownConfig->Load(nullptr))
        return;
    ApplyLogging();
    CAppConfigSetting::ReadAll(*m_ownConfig, m_apps);

    if (!IsAdministrator())
        return;
    // An administrator's start rewrites the editor's own file; when this account may not
    // write it, the service does, and grants this account the right to from then on.
    if (m_ownConfig->Save() == E_ACCESSDENIED)
    {
        const CStringEx& user = State().GetUserName();
        const CStringEx& domain = State().GetDomainName();
        CStringEx xml;
        if (!user.IsEmpty() && !domain.IsEmpty() && SUCCEEDED(m_ownConfig->GetXml(xml)))
            KelvoAgentConfigNotify::SaveThroughService(user, domain, m_ownConfig->GetPath(), xml);
    }
}

void CKelvoAgentConfigDlg::ApplyLogging()
{
    CUtilLogging& log = CUtilLogging::Instance();
    const long level = m_ownConfig->GetNumber(IDS_CFG_LOG_LEVEL, 0);
    const long retention = m_ownConfig->GetNumber(IDS_CFG_LOG_RETENTION_DAYS, 30);
    const DWORD newLevel = level > 0 ? static_cast<DWORD>(level) : 0;
    const DWORD newRetention = retention > 0 ? static_cast<DWORD>(retention) : 0;
    const DWORD oldRetention = State().GetLogRetention();
    State().SetLogRetention(newRetention);
    if (newLevel == log.GetLevel())
    {
        if (newRetention != oldRetention)
            log.SetRetentionDays(newRetention);
        return;
    }
    if (newLevel == 0)
    {
        log.LogRes(1, IDS_EDITOR_LOG_STOPPED);
        log.Initialize(0, newRetention, CKelvoAgentConfigAppState::GetLogPrefix(), FOLDERID_LocalAppData);
        return;
    }
    log.Initialize(newLevel, newRetention, CKelvoAgentConfigAppState::GetLogPrefix(), FOLDERID_LocalAppData);
    const DWORD written = log.LogRes(1, IDS_EDITOR_LOG_STARTED, newLevel, CResourceLoader::GetProgramVersion().GetString());
    if (written != 0)
        log.ReportEventRes(EVENTLOG_WARNING_TYPE, IDS_EDITOR_LOG_FAILED_EVENT, written);
}

CAppConfigSetting* CKelvoAgentConfigDlg::CurrentApplication() const
{
    const auto found = m_apps.find(m_current);
    return found != m_apps.end() ? found->second.Get() : nullptr;
}

CAgentSetting* CKelvoAgentConfigDlg::SettingOfItem(int item) const
{
    return item >= 0 ? reinterpret_cast<CAgentSetting*>(m_list.GetItemData(item)) : nullptr;
}

void CKelvoAgentConfigDlg::MakeCurrent(int index, const _CObjectExPtr<CConfigurationEx>& target)
{
    // The items point at the settings that are about to be replaced.
    m_list.DeleteAllItems();
    m_current = index;
    m_target = target;
    m_targetPath = target->GetPath();
    m_directRefused = false;
    CAgentSetting::ReadDefinitions(*m_ownConfig, CurrentApplication()->GetSection(), m_settings);
    CAgentSetting::LoadValues(m_settings, *m_target);
    FillList();
}

void CKelvoAgentConfigDlg::FillList()
{
    m_list.DeleteAllItems();
    // The settings in the order of their definitions, each under its caption alone: the
    // description below the list shows the note.
    for (const auto& entry : m_settings)
    {
        CStringEx value;
        entry.second->GetDisplayText(value);
        const int item = m_list.InsertItem(m_list.GetItemCount(), entry.second->GetCaptionText(),
                                           reinterpret_cast<LPARAM>(entry.second.Get()));
        m_list.SetItemText(item, 1, value);
        m_list.SetItemText(item, 2, StateText(*entry.second));
    }
    // The row the description describes is the selected one, the one Enter edits.
    if (m_list.GetItemCount() > 0)
        m_list.SelectItem(0);
    // A vertical scroll bar may have come with the items.
    m_list.FitColumns(kCaptionColumnPercent, kStateColumnPercent);
    UpdateSaveButton();
    UpdateDescription(m_list.GetSelectedItem());
}

void CKelvoAgentConfigDlg::RefreshItem(int item)
{
    if (CAgentSetting* setting = SettingOfItem(item))
    {
        CStringEx value;
        setting->GetDisplayText(value);
        m_list.SetItemText(item, 1, value);
        m_list.SetItemText(item, 2, StateText(*setting));
    }
    UpdateSaveButton();
}

void CKelvoAgentConfigDlg::UpdateSaveButton()
{
    // The button that saved gives the focus to the list before it goes grey.
    EnableControl(m_saveButton, IsAdministrator() && CAgentSetting::AnyChanges(m_settings), m_list.GetSafeHwnd());
}

void CKelvoAgentConfigDlg::UpdateDescription(int item)
{
    CStringEx text;
    if (const CAgentSetting* setting = SettingOfItem(item))
    {
        text = setting->GetCaptionText();
        if (!setting->GetNote().IsEmpty())
            text.AppendFormat(L"\r\n%s", setting->GetNote().GetString());
        CStringEx key;
        CResourceLoader::Instance().FormatString(key, IDS_EDITOR_DESCRIPTION_KEY, setting->GetKey().GetString());
        text.AppendFormat(L"\r\n%s", key.GetString());
    }
    ::SetWindowTextW(m_description, text);
}

void CKelvoAgentConfigDlg::UpdateFileStatus()
{
    const CAppConfigSetting* app = CurrentApplication();
    CStringEx status;
    CResourceLoader& texts = CResourceLoader::Instance();
    if (!app)
        status = LoadText(IDS_EDITOR_STATUS_NO_FILE);
    else
    {
        if (!m_target || !m_target->HasDocument())
            texts.FormatString(status, IDS_EDITOR_STATUS_NO_DOCUMENT, app->GetName().GetString(), m_targetPath.GetString());
        else if (!m_fallbackFrom.IsEmpty())
            texts.FormatString(status, m_fallbackMissing ? IDS_EDITOR_FALLBACK_MISSING : IDS_EDITOR_FALLBACK_UNREADABLE,
                               m_fallbackFrom.GetString(), m_fallbackPath.GetString(), app->GetName().GetString(),
                               m_targetPath.GetString());
        else
            texts.FormatString(status, IDS_EDITOR_STATUS_FILE, app->GetName().GetString(), m_targetPath.GetString());
    }
    ::SetWindowTextW(m_status, status);
    UpdateTitle();
    UpdateNotice();
}

void CKelvoAgentConfigDlg::UpdateTitle()
{
    // The title names the application and the file shown, and says when that is not the
    // application whose file was looked for first.
    const CAppConfigSetting* app = CurrentApplication();
    const CStringEx& caption = State().GetCaption();
    CStringEx title(caption);
    if (app && !m_fallbackFrom.IsEmpty())
        CResourceLoader::Instance().FormatString(title, IDS_EDITOR_TITLE_FALLBACK, caption.GetString(),
                                                 app->GetName().GetString(), m_fallbackFrom.GetString(),
                                                 m_targetPath.GetString());
    else if (app)
        CResourceLoader::Instance().FormatString(title, IDS_EDITOR_TITLE_FILE, caption.GetString(),
                                                 app->GetName().GetString(), m_targetPath.GetString());
    SetWindowText(title);
}

void CKelvoAgentConfigDlg::UpdateNotice()
{
    // What a save of the shown file does (directly, through the service, or nothing), and
    // for a user who is not an administrator why the editor does not count them as one.
    const bool administrator = IsAdministrator();
    UINT what = IDS_EDITOR_NOTICE_READ_ONLY;
    if (!m_directRefused && CanWriteFile(m_targetPath))
        what = IDS_EDITOR_NOTICE_DIRECT;
    else if (administrator)
        what = IDS_EDITOR_NOTICE_SERVICE;
    CStringEx text = LoadText(what);
    if (!administrator)
    {
        // The administrator test names a domain account of this computer's domain only.
        const bool localAccount = State().GetUserName().IsEmpty();
        text.AppendFormat(L" %s", LoadText(localAccount ? IDS_EDITOR_NOT_ADMIN : IDS_EDITOR_NOT_ADMIN_MEMBER).GetString());
    }
    ::SetWindowTextW(m_notice, text);
}

LRESULT CKelvoAgentConfigDlg::OnNotify(WPARAM, LPARAM lParam, BOOL& handled)
{
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header->idFrom != IDC_CONFIG_EDITOR_LIST)
    {
        handled = FALSE;
        return 0;
    }
    switch (header->code)
    {
    case NM_DBLCLK:
        // The row under the mouse; a double click on empty space edits nothing.
        EditSetting(reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem, false);
        return 0;
    case LVN_ITEMCHANGED:
    {
        // The list tells of the new selection before it moves its selection mark.
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED))
            UpdateDescription(change->iItem);
        return 0;
    }
    case NM_CUSTOMDRAW:
        return CustomDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(lParam));
    default:
        handled = FALSE;
        return 0;
    }
}

LRESULT CKelvoAgentConfigDlg::CustomDraw(NMLVCUSTOMDRAW& draw)
{
    switch (draw.nmcd.dwDrawStage)
    {
    case CDDS_PREPAINT:
    case CDDS_ITEMPREPAINT:
        return CDRF_NOTIFYSUBITEMDRAW | CDRF_NOTIFYITEMDRAW;
    case CDDS_SUBITEM | CDDS_ITEMPREPAINT:
    {
        const CAgentSetting* setting = SettingOfItem(static_cast<int>(draw.nmcd.dwItemSpec));
        const bool changed = draw.iSubItem == 1 && setting && IsEdited(*setting);
        draw.clrText = changed ? kChangedColour : GetSysColor(COLOR_WINDOWTEXT);
        return CDRF_NEWFONT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

void CKelvoAgentConfigDlg::EditSetting(int item, bool fromEnter)
{
    CAgentSetting* setting = SettingOfItem(item);
    if (!setting)
        return;
    if (!IsAdministrator())
    {
        if (fromEnter)
            return;
    }

    switch (setting->GetType())
    {
    case EAgentSettingType::List:
    {
        _CObjectExPtr<CAgentSetting> clone = setting->Clone();
        CEditMultiSzValueDlg editor(*clone, m_hWnd);
        if (editor.DoModal() == IDOK)
            setting->MergeListEdit(*clone);
        break;
    }
    case EAgentSettingType::CartAccess:
        EditCartAccess(*setting, fromEnter);
        break;
    default:
    {
        _CObjectExPtr<CAgentSetting> clone = setting->Clone();
        CEditValueDlg editor(*clone, m_hWnd);
        if (editor.DoModal() == IDOK)
            setting->TakeEdit(*clone);
        break;
    }
    }

    if (fromEnter)
        PostMessage(WM_EDITOR_REFRESH_ITEM, static_cast<WPARAM>(item));
    else
        RefreshItem(item);
}

bool CKelvoAgentConfigDlg::StartConfigSec()
{
    if (State().IsConfigSecStarted())
        return true;
    const CStringEx& caption = State().GetCaption();
    const DWORD result = KelvoAgentConfigPicker::Start(CResourceLoader::Instance().GetModule(),
                                                       CResourceLoader::Instance().GetLibraryVersion(), caption);
    if (result != 0)
    {
        State().ShowMessageFormat(m_hWnd, IDS_EDITOR_CONFIGSEC_INIT_FAILED, MB_OK | MB_ICONWARNING, result);
        return false;
    }
    State().SetConfigSecStarted(true);
    return true;
}

void CKelvoAgentConfigDlg::EditCartAccess(CAgentSetting& setting, bool fromEnter)
{
    if (!InConsoleSession())
    {
        State().ShowMessageRes(m_hWnd, IDS_EDITOR_NOT_CONSOLE_SESSION);
        return;
    }
    if (!StartConfigSec())
        return;
    CStringEx edited;
    const HWND owner = fromEnter ? m_list.GetSafeHwnd() : m_hWnd;
    if (KelvoAgentConfigPicker::EditCartAccess(owner, setting.GetValueText(0), edited))
        setting.SetValueText(edited, TRUE, 0);
}

LRESULT CKelvoAgentConfigDlg::OnRefreshItem(WPARAM wParam, LPARAM, BOOL&)
{
    RefreshItem(static_cast<int>(wParam));
    return 0;
}

LRESULT CKelvoAgentConfigDlg::OnSaveButton(WPARAM, LPARAM, BOOL&)
{
    // Enter in the list arrives here as the default button; the list itself edits on it.
    if (::GetFocus() != m_list.GetSafeHwnd())
        Save();
    return 0;
}

LRESULT CKelvoAgentConfigDlg::OnSaveCommand(WPARAM, LPARAM, BOOL&)
{
    Save();
    return 0;
}

void CKelvoAgentConfigDlg::Save()
{
    if (!CAgentSetting::AnyChanges(m_settings))
        return;
    // A reload that failed leaves no document: the settings go into a new file, every one
    // of them, since the file has none yet.
    const bool newFile = !m_target || !m_target->HasDocument();
    if (newFile)
    {
        CStringEx path;
        if (!AskForFile(m_hWnd, true, path))
            return;
        if (!m_target)
            m_target = new CConfigurationEx();
        if (FAILED(m_target->CreateFromTemplate(path)))
            return;
        m_targetPath = path;
        m_directRefused = false;
        UpdateFileStatus();
    }

    // Copies of the changed settings put the edits back when the save fails.
    std::map<int, _CObjectExPtr<CAgentSetting>> kept;
    for (const auto& entry : m_settings)
        if (entry.second->HasChanges())
            kept[entry.first] = entry.second->Clone();

    const HRESULT result = WriteTarget(newFile);
    if (result == S_OK)
    {
        NotifyOwner(m_targetPath);
        Reload(false);
    }
    else
    {
        for (const auto& entry : kept)
            m_settings[entry.first]->RestoreValues(*entry.second);
        CStringEx message;
        CResourceLoader::Instance().FormatString(message, IDS_EDITOR_SAVE_FAILED, LoadText(SaveFailureReason(result)).GetString(),
                                                 m_targetPath.GetString(), static_cast<unsigned>(result));
        CUtilLogging::Instance().Log(2, L"%s\n", message.GetString());
        State().ShowMessage(m_hWnd, message, MB_OK | MB_ICONERROR);
        for (int item = 0; item < m_list.GetItemCount(); ++item)
            RefreshItem(item);
        ::InvalidateRect(m_list.GetSafeHwnd(), nullptr, TRUE);
    }
    UpdateSaveButton();
    UpdateNotice();
}

// Writes the changes into the document and the document into the file, directly or, when
// the file refuses this account, through the service. S_OK only when the file was written.
HRESULT CKelvoAgentConfigDlg::WriteTarget(bool everySetting)
{
    HRESULT result = CAgentSetting::WriteChanges(m_settings, *m_target, everySetting);
    if (FAILED(result))
        return result;
    result = m_target->Save();
    if (SUCCEEDED(result))
        return S_OK;
    if (result != E_ACCESSDENIED)
        return result;
    // From now on the notice says what happens to this file: the service writes it, or nobody.
    m_directRefused = true;
    const CStringEx& user = State().GetUserName();
    const CStringEx& domain = State().GetDomainName();
    CStringEx xml;
    m_serviceResult = S_FALSE;
    if (user.IsEmpty() || domain.IsEmpty() || FAILED(m_target->GetXml(xml)))
        return E_ACCESSDENIED;
    m_serviceResult = KelvoAgentConfigNotify::SaveThroughService(user, domain, m_targetPath, xml);
    return m_serviceResult == S_OK ? S_OK : E_ACCESSDENIED;
}

UINT CKelvoAgentConfigDlg::SaveFailureReason(HRESULT result) const
{
    // What failed, in the words of what the user can do about it.
    switch (result)
    {
    case HRESULT_FROM_WIN32(ERROR_NOT_FOUND):
        return IDS_EDITOR_SAVE_NO_SECTION;
    case HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION):
    case HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION):
        return IDS_EDITOR_SAVE_IN_USE;
    case E_ACCESSDENIED:
        break;
    default:
        return IDS_EDITOR_SAVE_OTHER;
    }
    // Refused to this account: the service was not asked (no administrator), was not there,
    // or refused too.
    switch (m_serviceResult)
    {
    case S_FALSE:
        return IDS_EDITOR_SAVE_READ_ONLY;
    case REGDB_E_CLASSNOTREG:
    case CO_E_SERVER_EXEC_FAILURE:
    case HRESULT_FROM_WIN32(ERROR_SERVICE_DISABLED):
    case HRESULT_FROM_WIN32(ERROR_SERVICE_DOES_NOT_EXIST):
        return IDS_EDITOR_SAVE_NO_SERVICE;
    case E_ACCESSDENIED:
        return IDS_EDITOR_SAVE_SERVICE_REFUSED;
    default:
        return IDS_EDITOR_SAVE_SERVICE_FAILED;
    }
}

bool CKelvoAgentConfigDlg::IsFileOfApplication(const CAppConfigSetting& app, const CStringEx& path)
{
    // The file the application finds where it looks for its own.
    _CObjectExPtr<CConfiguration> read(new CConfiguration());
    return read->Load(app.GetName()) && read->GetPath().CompareNoCase(path) == 0;
}

void CKelvoAgentConfigDlg::NotifyOwner(const CStringEx& path)
{
    // Held here: reading the editor's own file again replaces every application entry.
    const _CObjectExPtr<CAppConfigSetting> app(CurrentApplication());
    // A file the application does not read (a copy elsewhere, a new file) concerns nobody.
    if (!app || !IsFileOfApplication(*app, path))
        return;
    if (KelvoAgentConfigNotify::IsImageOf(app->GetName(), State().GetOwnName()))
        ReadOwnConfiguration();
    switch (app->GetKind())
    {
    case CAppConfigSetting::KindDesktopProgram:
        KelvoAgentConfigNotify::NotifyDesktopProgram(app->GetName());
        break;
    case CAppConfigSetting::KindService:
        if (FAILED(KelvoAgentConfigNotify::NotifyService(app->GetName())))
            State().ShowMessageRes(m_hWnd, IDS_EDITOR_SERVICE_NOTIFY_FAILED);
        break;
    default:
        break;
    }
}

bool CKelvoAgentConfigDlg::MayReplaceShownSettings()
{
    // Every road that replaces or drops the shown settings (close, reload, open) asks first,
    // as Windows programs do: save them (the default), drop them, or stay.
    if (!CAgentSetting::AnyChanges(m_settings))
        return true;
    const CAppConfigSetting* app = CurrentApplication();
    const CStringEx file = !m_targetPath.IsEmpty() ? m_targetPath : app ? app->GetName() : CStringEx();
    switch (State().ShowMessageFormat(m_hWnd, IDS_EDITOR_DISCARD_CHANGES, MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON1,
                                      file.GetString()))
    {
    case IDYES:
        // A save that failed said why and kept the edits: nothing is replaced then.
        Save();
        return !CAgentSetting::AnyChanges(m_settings);
    case IDNO:
        return true;
    default:
        return false;
    }
}

LRESULT CKelvoAgentConfigDlg::OnReloadCommand(WPARAM, LPARAM, BOOL&)
{
    Reload(true);
    return 0;
}

void CKelvoAgentConfigDlg::Reload(bool ask)
{
    if (!m_target || m_targetPath.IsEmpty())
        return;
    // Unsaved edits would go with a reload: whoever made them is asked first.
    if (ask && !MayReplaceShownSettings())
        return;
    m_target = new CConfigurationEx();
    if (FAILED(m_target->LoadFile(m_targetPath)))
    {
        UpdateFileStatus();
        State().ShowMessageFormat(m_hWnd, IDS_CFG_LOAD_FAILED, MB_OK | MB_ICONWARNING, m_targetPath.GetString());
        return;
    }
    // The screen shows exactly the file: an entry the file lacks shows its definition's
    // default, not an edit made before the reload.
    CAgentSetting::ResetToDefaults(m_settings);
    CAgentSetting::LoadValues(m_settings, *m_target);
    FillList();
    UpdateFileStatus();
}

LRESULT CKelvoAgentConfigDlg::OnOpenCommand(WPARAM, LPARAM, BOOL&)
{
    Open();
    return 0;
}

void CKelvoAgentConfigDlg::Open()
{
    if (!MayReplaceShownSettings())
        return;
    CStringEx path;
    if (!AskForFile(m_hWnd, false, path))
        return;
    // The file is named after its program: "KelvoAgent.exe.config" belongs to KelvoAgent.
    const CStringEx stem = FileStem(path);
    int index = -1;
    for (const auto& entry : m_apps)
    {
        if (KelvoAgentConfigNotify::IsImageOf(stem, entry.second->GetName()))
        {
            index = entry.first;
            break;
        }
    }
    if (index < 0)
    {
        State().ShowMessageRes(m_hWnd, IDS_EDITOR_NO_APPLICATION);
        return;
    }
    _CObjectExPtr<CConfigurationEx> target(new CConfigurationEx());
    if (FAILED(target->LoadFile(path)))
    {
        State().ShowMessageFormat(m_hWnd, IDS_CFG_LOAD_FAILED, MB_OK | MB_ICONWARNING, path.GetString());
        return;
    }
    // The items point at the settings that are about to be replaced.
    m_list.DeleteAllItems();
    m_current = index;
    m_target = target;
    m_targetPath = path;
    m_directRefused = false;
    // The user chose this file: no fall-back to tell about any more.
    m_fallbackFrom.Empty();
    CAgentSetting::ReadDefinitions(*m_ownConfig, CurrentApplication()->GetSection(), m_settings);
    CAgentSetting::ResetToDefaults(m_settings);
    CAgentSetting::LoadValues(m_settings, *m_target);
    const HMENU menu = ::GetMenu(m_hWnd);
    for (UINT id : { ID_CONFIG_EDITOR_SAVE, ID_CONFIG_EDITOR_VIEW_XML, ID_CONFIG_EDITOR_RELOAD })
        EnableMenuItem(menu, id, MF_BYCOMMAND | MF_ENABLED);
    FillList();
    UpdateFileStatus();
}

LRESULT CKelvoAgentConfigDlg::OnViewXmlCommand(WPARAM, LPARAM, BOOL&)
{
    ViewXml();
    return 0;
}

void CKelvoAgentConfigDlg::ViewXml()
{
    if (!m_target || !m_target->HasDocument())
    {
        State().ShowMessageFormat(m_hWnd, IDS_CFG_LOAD_FAILED, MB_OK | MB_ICONWARNING, m_targetPath.GetString());
        return;
    }
    CStringEx xml;
    m_target->GetXml(xml);
    if (xml.IsEmpty())
    {
        State().ShowMessageRes(m_hWnd, IDS_EDITOR_XML_EMPTY);
        return;
    }
    CViewXMLDlg view(xml, m_hWnd);
    view.DoModal();
}

LRESULT CKelvoAgentConfigDlg::OnCloseCommand(WPARAM, LPARAM, BOOL&)
{
    Close();
    return 0;
}

LRESULT CKelvoAgentConfigDlg::OnClose(WPARAM, LPARAM, BOOL&)
{
    Close();
    return 0;
}

void CKelvoAgentConfigDlg::Close()
{
    if (!MayReplaceShownSettings())
        return;
    m_list.DeleteAllItems();
    m_settings.clear();
    m_target = nullptr;
    m_ownConfig = nullptr;
    if (State().IsConfigSecStarted())
    {
        KelvoAgentConfigPicker::Stop();
        State().SetConfigSecStarted(false);
    }
    EndDialog(IDCANCEL);
}

LRESULT CKelvoAgentConfigDlg::OnSize(WPARAM wParam, LPARAM lParam, BOOL&)
{
    if (wParam != SIZE_MINIMIZED && m_layoutReady)
        Layout(LOWORD(lParam), HIWORD(lParam));
    return 0;
}

LRESULT CKelvoAgentConfigDlg::OnGetMinMaxInfo(WPARAM, LPARAM lParam, BOOL& handled)
{
    // The window never gets smaller than it started, whoever sizes it (the frame, a snap, a
    // program); the system keeps it within the limits, so the layout never has to resize it.
    handled = FALSE;
    if (m_layoutReady)
    {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = m_minWindow.cx;
        info->ptMinTrackSize.y = m_minWindow.cy;
    }
    return 0;
}

LRESULT CKelvoAgentConfigDlg::OnDpiChanged(WPARAM wParam, LPARAM lParam, BOOL&)
{
    // Moved to a monitor of another DPI: the system scales the dialog's controls and font,
    // so the distances kept in pixels scale with them before the window takes its new size.
    const UINT dpi = HIWORD(wParam);
    if (m_layoutReady && m_layoutDpi != 0 && dpi != m_layoutDpi)
    {
        for (LONG* value : { &m_client.cx, &m_client.cy, &m_minWindow.cx, &m_minWindow.cy })
            *value = MulDiv(*value, dpi, m_layoutDpi);
        for (int* value : { &m_listRightMargin, &m_listBottomMargin })
            *value = MulDiv(*value, dpi, m_layoutDpi);
        for (CAnchor& anchor : m_anchors)
        {
            anchor.fromBottom = MulDiv(anchor.fromBottom, dpi, m_layoutDpi);
            anchor.fromRight = MulDiv(anchor.fromRight, dpi, m_layoutDpi);
        }
        m_layoutDpi = dpi;
    }
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    ::SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

void CKelvoAgentConfigDlg::Layout(int width, int height)
{
    const RECT list = PlaceOf(m_hWnd, m_list.GetSafeHwnd());
    ::SetWindowPos(m_list.GetSafeHwnd(), nullptr, 0, 0, width - m_listRightMargin - list.left,
                   height - m_listBottomMargin - list.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_list.FitColumns(kCaptionColumnPercent, kStateColumnPercent);
    for (const CAnchor& anchor : m_anchors)
    {
        const RECT place = PlaceOf(m_hWnd, anchor.control);
        const int top = height - anchor.fromBottom;
        switch (anchor.kind)
        {
        case CAnchor::Stretch:
            ::SetWindowPos(anchor.control, nullptr, place.left, top, width - anchor.fromRight - place.left,
                           place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
            break;
        case CAnchor::KeepRight:
            ::SetWindowPos(anchor.control, nullptr, width - anchor.fromRight, top, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            break;
        case CAnchor::KeepLeft:
            ::SetWindowPos(anchor.control, nullptr, place.left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            break;
        }
    }
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

LRESULT CKelvoAgentConfigDlg::OnPaint(WPARAM, LPARAM, BOOL& handled)
{
    if (!::IsIconic(m_hWnd))
    {
        handled = FALSE;
        return 0;
    }
    // Minimised: the icon, centred.
    PAINTSTRUCT paint = {};
    const HDC dc = ::BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client = {};
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_bigIcon.Get());
    ::EndPaint(m_hWnd, &paint);
    return 0;
}

LRESULT CKelvoAgentConfigDlg::OnQueryDragIcon(WPARAM, LPARAM, BOOL&)
{
    return reinterpret_cast<LRESULT>(m_bigIcon.Get());
}
