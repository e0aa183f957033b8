#include "common/ui/CDialogEx.h"
#include "common/CErrorEx.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"

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

INT_PTR CDialogEx::DoModal()
{
    m_modalEnded = false;
    m_modalResult = 0;
    // Running from here on, so that an EndDialog during initialisation ends the run.
    m_modalRunning = true;
    if (!Create(m_templateId, m_parent))
    {
        m_modalRunning = false;
        return -1;
    }

    // The owner is disabled while the dialog runs, as with a system modal dialog.
    const bool ownerDisabled = m_parent && ::IsWindowEnabled(m_parent);
    if (ownerDisabled)
        ::EnableWindow(m_parent, FALSE);
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

    if (ownerDisabled)
        ::EnableWindow(m_parent, TRUE);
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
    if (quit)
        ::PostQuitMessage(quitCode);
    return m_modalResult;
}

void CDialogEx::EndDialog(INT_PTR result)
{
    if (m_modalRunning)
    {
        m_modalResult = result;
        m_modalEnded = true;
        // Wakes the loop in case nothing else is queued.
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
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
        return TRUE;
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
