#include "common/ui/CDialogEx.h"
#include "common/CErrorEx.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "common/ui/CThreadCbtWatch.h"

namespace
{
HMODULE g_resourceModule = nullptr;

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message)
{
    switch (message)
    {
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_COMPAREITEM:
    case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_QUERYDRAGICON: case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}
}

CDialogEx::CDialogEx(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent)
{
}

CDialogEx::~CDialogEx()
{
    // A window that outlives its object would call into freed memory.
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

void CDialogEx::SetResourceModule(HMODULE module)
{
    g_resourceModule = module;
}

HMODULE CDialogEx::GetResourceModule()
{
    return g_resourceModule ? g_resourceModule : CResourceLoader::Instance().GetModule();
}

BOOL CDialogEx::Create(UINT templateId, HWND parent)
{
    if (m_hWnd)
        return FALSE;
    m_templateId = templateId;
    m_parent = parent;
    HWND window = CreateDialogParamW(GetResourceModule(), MAKEINTRESOURCEW(templateId), parent, &DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

// Watches a modal run for its dialog being destroyed instead of ended: the hook sees the
// destruction before the system hides the window and moves the activation elsewhere, and
// the run's owner is given back first, so that the owner is activated.
class CDialogEx::CModalRunWatch : public CThreadCbtWatch
{
public:
    explicit CModalRunWatch(CDialogEx& dialog) : m_dialog(dialog) {}

private:
    void OnCbt(int code, WPARAM wParam, LPARAM) override
    {
        if (code == HCBT_DESTROYWND && m_dialog.m_hWnd == reinterpret_cast<HWND>(wParam))
            m_dialog.GiveOwnerBack();
    }

    CDialogEx& m_dialog;
};

INT_PTR CDialogEx::DoModal()
{
    m_modalEnded = false;
    m_modalResult = 0;
    // Running from here on, so that an EndDialog during initialisation ends the run.
    m_modalRunning = true;

    // As the system's modal dialogs do, the run disables the top-level window that owns the
    // dialog (a child window given as parent stands for its top-level window), before the
    // dialog exists: nothing of the owner may run while the dialog does.
    const HWND owner = m_parent ? ::GetAncestor(m_parent, GA_ROOT) : nullptr;
    if (owner && ::IsWindowEnabled(owner))
    {
        m_disabledOwner = owner;
        ::EnableWindow(owner, FALSE);
    }
    CModalRunWatch watch(*this);
    if (!Create(m_templateId, m_parent))
    {
        m_modalRunning = false;
        GiveOwnerBack();
        return -1;
    }
    if (!m_modalEnded)
        ::ShowWindow(m_hWnd, SW_SHOW);

    bool quit = false;
    int quitCode = 0;
    MSG msg;
    while (!m_modalEnded && m_hWnd)
    {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0)
        {
            // WM_QUIT ends the run; it is posted again for the loop further out.
            quit = true;
            quitCode = static_cast<int>(msg.wParam);
            m_modalResult = IDCANCEL;
            break;
        }
        if (got == -1)
            break;
        if (!::IsDialogMessageW(m_hWnd, &msg))
        {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    m_modalRunning = false;

    // The owner comes back before the dialog goes (EndDialog has done both already).
    GiveOwnerBack();
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
    if (quit)
        ::PostQuitMessage(quitCode);
    return m_modalResult;
}

void CDialogEx::GiveOwnerBack() noexcept
{
    const HWND owner = m_disabledOwner;
    m_disabledOwner = nullptr;
    if (owner && ::IsWindow(owner))
        ::EnableWindow(owner, TRUE);
}

void CDialogEx::EndDialog(INT_PTR result)
{
    if (m_modalRunning)
    {
        m_modalResult = result;
        m_modalEnded = true;
        // As the system's EndDialog: the owner is enabled and the dialog hidden at once, so
        // that whatever runs before the loop ends (a box shown next, an exit inside another
        // loop) finds the owner usable and active and the dialog gone from the screen.
        GiveOwnerBack();
        if (m_hWnd)
        {
            ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                           SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            // A hidden dialog that is still active (or left no window active) hands the
            // activation to its owner.
            const HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
            const HWND active = ::GetActiveWindow();
            if (owner && (active == m_hWnd || active == nullptr))
                ::SetForegroundWindow(owner);
            // Wakes the loop in case nothing else is queued.
            ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
        }
        return;
    }
    DestroyWindow();
}

BOOL CDialogEx::DestroyWindow()
{
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

CStringEx CDialogEx::GetDlgItemText(int id) const
{
    HWND item = GetDlgItem(id);
    CStringEx text;
    const int length = item ? ::GetWindowTextLengthW(item) : 0;
    if (length > 0)
    {
        ::GetWindowTextW(item, text.GetBuffer(length + 1), length + 1);
        text.ReleaseBuffer();
    }
    return text;
}

CStringEx CDialogEx::GetWindowText() const
{
    CStringEx text;
    const int length = m_hWnd ? ::GetWindowTextLengthW(m_hWnd) : 0;
    if (length > 0)
    {
        ::GetWindowTextW(m_hWnd, text.GetBuffer(length + 1), length + 1);
        text.ReleaseBuffer();
    }
    return text;
}

void CDialogEx::EnableControl(HWND control, bool enable, HWND focusTo) const
{
    if (!control)
        return;
    if (!enable)
    {
        const HWND focus = ::GetFocus();
        if (focus && (focus == control || ::IsChild(control, focus)))
        {
            if (focusTo && focusTo != control)
                FocusControl(focusTo);
            else
                ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
        }
    }
    ::EnableWindow(control, enable ? TRUE : FALSE);
}

void CDialogEx::FocusControl(HWND control) const
{
    if (control)
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

int CDialogEx::DialogUnitsToPixels(int units) const
{
    RECT rect = { 0, 0, units, 0 };
    ::MapDialogRect(m_hWnd, &rect);
    return rect.right;
}

BOOL CDialogEx::OnInitDialog()
{
    return TRUE;
}

LRESULT CDialogEx::OnOK(WPARAM, LPARAM, BOOL&)
{
    EndDialog(IDOK);
    return 0;
}

LRESULT CDialogEx::OnCancel(WPARAM, LPARAM, BOOL&)
{
    EndDialog(IDCANCEL);
    return 0;
}

const CDialogEx::MessageMap* CDialogEx::GetMessageMap() const
{
    return &MessageMapOfThisClass();
}

const CDialogEx::MessageMap& CDialogEx::MessageMapOfThisClass()
{
    static const MessageEntry entries[] = {
        { EntryKind::Command, IDOK, nullptr, &CDialogEx::OnOK },
        { EntryKind::Command, IDCANCEL, nullptr, &CDialogEx::OnCancel },
        { EntryKind::Message, 0, nullptr, nullptr },
    };
    static const MessageMap map = { nullptr, entries };
    return map;
}

const CDialogEx::MessageEntry* CDialogEx::FindHandler(UINT message, WPARAM wParam) const
{
    for (const MessageMap* map = GetMessageMap(); map; map = map->base)
    {
        for (const MessageEntry* entry = map->entries; entry->handler; ++entry)
        {
            switch (entry->kind)
            {
            case EntryKind::Message:
                if (entry->code == message)
                    return entry;
                break;
            case EntryKind::Command:
                if (message == WM_COMMAND && entry->code == LOWORD(wParam))
                    return entry;
                break;
            case EntryKind::Registered:
                // Registered messages live in 0xC000..0xFFFF; the name gives the same number
                // in every process of the desktop.
                if (message >= 0xC000 && message <= 0xFFFF && ::RegisterWindowMessageW(entry->name) == message)
                    return entry;
                break;
            }
        }
    }
    return nullptr;
}

INT_PTR CDialogEx::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    const MessageEntry* entry = FindHandler(message, wParam);
    if (!entry)
        return FALSE;
    BOOL handled = TRUE;
    LRESULT result = 0;
    try
    {
        result = (this->*(entry->handler))(wParam, lParam, handled);
    }
    catch (...)
    {
        // A handler's failure must not unwind through the system's dialog code.
        const HRESULT hr = HResultFromCaughtException();
        CUtilLogging::Instance().Log(2, L"Handler of message 0x%04X failed: 0x%08X.\n", message,
                                     static_cast<unsigned>(hr));
        // A result the procedure returns itself (a brush, an icon, an order) has no "handled"
        // value: TRUE would be taken as that result. FALSE gives the system's default.
        return ReturnsResultDirectly(message) ? FALSE : TRUE;
    }
    if (!handled)
        return FALSE;
    if (ReturnsResultDirectly(message))
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK CDialogEx::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialogEx* self = nullptr;
    if (message == WM_INITDIALOG)
    {
        self = reinterpret_cast<CDialogEx*>(lParam);
        self->m_hWnd = window;
        ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        try
        {
            return self->OnInitDialog();
        }
        catch (...)
        {
            const HRESULT hr = HResultFromCaughtException();
            CUtilLogging::Instance().Log(2, L"Dialog initialisation failed: 0x%08X.\n", static_cast<unsigned>(hr));
            return TRUE;
        }
    }
    self = reinterpret_cast<CDialogEx*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!self)
        return FALSE;   // messages before WM_INITDIALOG take the system's defaults
    if (message == WM_NCDESTROY)
    {
        const INT_PTR result = self->Dispatch(message, wParam, lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        return result;
    }
    return self->Dispatch(message, wParam, lParam);
}
