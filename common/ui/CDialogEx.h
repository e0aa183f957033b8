#pragma once
#include "common/CStringEx.h"
#include <windows.h>

// CDialogEx: the base of every dialog of the programs, a thin layer over a Win32 dialog.
//
// - Templates come from the satellite resource library (CResourceLoader), or from the
//   module set with SetResourceModule (a library that takes its caller's resources).
// - DoModal creates the dialog and runs its own message loop until EndDialog; Create makes
//   a modeless dialog that the caller's loop serves. A modal run keeps the order of the
//   system's modal dialogs: the top-level window above the given parent (the owner) is
//   disabled before the dialog is created; EndDialog gives the owner back and hides the
//   dialog at once; a modal dialog destroyed instead of ended gives the owner back before
//   it goes, so that activation lands on the owner.
// - One window procedure for all dialogs: it finds the object stored at WM_INITDIALOG,
//   looks the message up in the class's handler table (the derived class's table first,
//   then its bases'), calls the member and never lets an exception out (a failure is
//   logged at level 2; the message then counts as handled, except the messages whose
//   result is the dialog procedure's own return value, which get the system's default).
//
// A derived class declares its table with KELVO_DECLARE_MESSAGE_MAP() and defines it in
// its source file:
//
//     KELVO_BEGIN_MESSAGE_MAP(CMyDlg, CDialogEx)
//         KELVO_MESSAGE(WM_TIMER, &CMyDlg::OnTimer)
//         KELVO_COMMAND(IDC_APPLY, &CMyDlg::OnApply)
//         KELVO_REGISTERED_MESSAGE(L"TaskbarCreated", &CMyDlg::OnTaskbarCreated)
//     KELVO_END_MESSAGE_MAP()
//
// Every handler has the form  LRESULT OnX(WPARAM, LPARAM, BOOL& handled);  handled is TRUE
// on entry; a handler that sets it to FALSE lets the system's default dialog handling run.
// The returned value is the message's result (DWLP_MSGRESULT where dialogs need it).
class CDialogEx
{
public:
    using Handler = LRESULT (CDialogEx::*)(WPARAM, LPARAM, BOOL&);

    enum class EntryKind { Message, Command, Registered };
    struct MessageEntry
    {
        EntryKind kind;
        UINT code;          // the message (Message) or the command id (Command)
        LPCWSTR name;       // the registered message's name (Registered)
        Handler handler;
    };
    struct MessageMap
    {
        const MessageMap* base;
        const MessageEntry* entries;    // ends with an entry whose handler is null
    };

    explicit CDialogEx(UINT templateId = 0, HWND parent = nullptr);
    virtual ~CDialogEx();
    CDialogEx(const CDialogEx&) = delete;
    CDialogEx& operator=(const CDialogEx&) = delete;

    // Creates the dialog, shows it and serves it until EndDialog. Returns the EndDialog
    // result, or -1 when the dialog could not be created.
    virtual INT_PTR DoModal();
    // Creates the dialog modelessly (not shown unless the template says WS_VISIBLE).
    virtual BOOL Create(UINT templateId, HWND parent);
    // Ends a modal run with the result: the owner is enabled again and the dialog hidden
    // before this returns; the run's loop then destroys it. Destroys a modeless dialog.
    void EndDialog(INT_PTR result);
    BOOL DestroyWindow();

    HWND GetSafeHwnd() const noexcept { return m_hWnd; }
    operator HWND() const noexcept { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    CStringEx GetDlgItemText(int id) const;
    BOOL SetDlgItemText(int id, LPCWSTR text) const { return ::SetDlgItemTextW(m_hWnd, id, text); }
    BOOL SetDlgItemInt(int id, int value) const { return ::SetDlgItemInt(m_hWnd, id, static_cast<UINT>(value), TRUE); }
    CStringEx GetWindowText() const;
    BOOL SetWindowText(LPCWSTR text) const { return ::SetWindowTextW(m_hWnd, text); }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs) const { return ::SetTimer(m_hWnd, id, elapseMs, nullptr); }
    BOOL KillTimer(UINT_PTR id) const { return ::KillTimer(m_hWnd, id); }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    // Enables or disables a control. A control that holds the keyboard focus gives it to
    // focusTo first (to the next control in the Tab order when none is given): a disabled
    // control keeps the focus, and the keyboard would then reach nothing in the dialog.
    void EnableControl(HWND control, bool enable, HWND focusTo = nullptr) const;
    // Moves the keyboard focus as the dialog manager does for Tab, so that the default
    // button follows the focus.
    void FocusControl(HWND control) const;
    // The button that Enter presses while the focus is not on a push button.
    void SetDefaultButton(int id) const { ::SendMessageW(m_hWnd, DM_SETDEFID, static_cast<WPARAM>(id), 0); }
    // Horizontal dialog units in pixels: the dialog's font, and so its units, follow the
    // window's DPI.
    int DialogUnitsToPixels(int units) const;

    // True while DoModal serves the dialog.
    bool IsModalRunning() const noexcept { return m_modalRunning; }

    // Where every dialog template is loaded from; null (the default) means the satellite
    // resource library of CResourceLoader.
    static void SetResourceModule(HMODULE module);
    static HMODULE GetResourceModule();

protected:
    // Called for WM_INITDIALOG after the object is bound to its window; answer TRUE to let
    // the system set the focus.
    virtual BOOL OnInitDialog();
    virtual const MessageMap* GetMessageMap() const;
    static const MessageMap& MessageMapOfThisClass();

    // Default commands: OK and Cancel end the dialog with their ids.
    LRESULT OnOK(WPARAM, LPARAM, BOOL&);
    LRESULT OnCancel(WPARAM, LPARAM, BOOL&);

    HWND m_hWnd = nullptr;
    UINT m_templateId;
    HWND m_parent;

private:
    class CModalRunWatch;

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    const MessageEntry* FindHandler(UINT message, WPARAM wParam) const;
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    // Enables the owner again if this run disabled it (once).
    void GiveOwnerBack() noexcept;

    bool m_modalRunning = false;
    bool m_modalEnded = false;
    INT_PTR m_modalResult = 0;
    // The window the modal run disabled, until it is given back.
    HWND m_disabledOwner = nullptr;
};

// Turns a member of a derived dialog class into a table handler.
template <typename T>
constexpr CDialogEx::Handler KelvoHandler(LRESULT (T::*member)(WPARAM, LPARAM, BOOL&))
{
    return static_cast<CDialogEx::Handler>(member);
}

#define KELVO_DECLARE_MESSAGE_MAP()                                         \
protected:                                                                  \
    const MessageMap* GetMessageMap() const override;                      \
    static const MessageMap& MessageMapOfThisClass();                       \
private:

#define KELVO_BEGIN_MESSAGE_MAP(theClass, baseClass)                        \
    const CDialogEx::MessageMap* theClass::GetMessageMap() const            \
    {                                                                       \
        return &MessageMapOfThisClass();                                    \
    }                                                                       \
    const CDialogEx::MessageMap& theClass::MessageMapOfThisClass()          \
    {                                                                       \
        using BaseClass = baseClass;                                        \
        static const CDialogEx::MessageEntry entries[] = {

#define KELVO_MESSAGE(message, member) \
            { CDialogEx::EntryKind::Message, (message), nullptr, KelvoHandler(member) },
#define KELVO_COMMAND(id, member) \
            { CDialogEx::EntryKind::Command, (id), nullptr, KelvoHandler(member) },
#define KELVO_REGISTERED_MESSAGE(name, member) \
            { CDialogEx::EntryKind::Registered, 0, (name), KelvoHandler(member) },

#define KELVO_END_MESSAGE_MAP()                                             \
            { CDialogEx::EntryKind::Message, 0, nullptr, nullptr }          \
        };                                                                  \
        static const CDialogEx::MessageMap map = { &BaseClass::MessageMapOfThisClass(), entries }; \
        return map;                                                         \
    }
