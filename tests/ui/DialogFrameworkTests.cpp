#include "common/CErrorEx.h"
#include "common/ui/CMessageBoxEx.h"
#include "common/ui/CNotifyIconEx.h"
#include "common/ui/CUtilDialogEx.h"
#include "tests/uisupport/UiScreenshot.h"
#include "UiTestDialogs.h"
#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
#include <vector>

namespace
{
constexpr UINT kThrowMessage = WM_USER + 1;
constexpr UINT kAnswerMessage = WM_USER + 2;
constexpr UINT_PTR kTickTimer = 5;
constexpr UINT_PTR kEndTimer = 7;

// Pumps this thread's messages until the condition holds or the time is up.
template <typename Condition>
bool PumpUntil(Condition condition, DWORD limitMs = 3000)
{
    const ULONGLONG end = GetTickCount64() + limitMs;
    while (!condition())
    {
        if (GetTickCount64() > end)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
    return true;
}

class CBaseTestDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    CBaseTestDlg() : CUtilDialogEx<CDialogEx>(IDD_UI_TEST) {}
    int baseTimerTicks = 0;
    int applied = 0;
    HWND ownerEnabledSeen = nullptr;

    LRESULT OnTimer(WPARAM id, LPARAM, BOOL&)
    {
        if (id == kTickTimer)
            ++baseTimerTicks;
        return 0;
    }
    LRESULT OnApply(WPARAM, LPARAM, BOOL&)
    {
        ++applied;
        SetDlgItemText(IDC_UI_TEST_LABEL, GetDlgItemText(IDC_UI_TEST_EDIT));
        return 0;
    }
};

KELVO_BEGIN_MESSAGE_MAP(CBaseTestDlg, CUtilDialogEx<CDialogEx>)
    KELVO_MESSAGE(WM_TIMER, &CBaseTestDlg::OnTimer)
    KELVO_COMMAND(IDC_UI_TEST_APPLY, &CBaseTestDlg::OnApply)
KELVO_END_MESSAGE_MAP()

class CDerivedTestDlg : public CBaseTestDlg
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    int derivedTimerTicks = 0;
    int registeredSeen = 0;

    BOOL OnInitDialog() override
    {
        SetWindowText(L"Dialog framework test (derived)");
        return TRUE;
    }
    // The derived table's timer handler runs first and hands timers it does not own on.
    LRESULT OnTimer(WPARAM id, LPARAM lParam, BOOL& handled)
    {
        ++derivedTimerTicks;
        return CBaseTestDlg::OnTimer(id, lParam, handled);
    }
    LRESULT OnThrow(WPARAM, LPARAM, BOOL&) { throw CErrorEx(ERROR_INVALID_DATA); }
    LRESULT OnAnswer(WPARAM wParam, LPARAM, BOOL&) { return static_cast<LRESULT>(wParam) * 2; }
    LRESULT OnRegistered(WPARAM, LPARAM, BOOL&)
    {
        ++registeredSeen;
        return 0;
    }
};

KELVO_BEGIN_MESSAGE_MAP(CDerivedTestDlg, CBaseTestDlg)
    KELVO_MESSAGE(WM_TIMER, &CDerivedTestDlg::OnTimer)
    KELVO_MESSAGE(kThrowMessage, &CDerivedTestDlg::OnThrow)
    KELVO_MESSAGE(kAnswerMessage, &CDerivedTestDlg::OnAnswer)
    KELVO_REGISTERED_MESSAGE(L"KelvoUiTestRegistered", &CDerivedTestDlg::OnRegistered)
KELVO_END_MESSAGE_MAP()

class DialogFramework : public ::testing::Test
{
protected:
    void SetUp() override { CDialogEx::SetResourceModule(GetModuleHandleW(nullptr)); }
    void TearDown() override { CDialogEx::SetResourceModule(nullptr); }
};

bool IsPngFile(const std::wstring& path)
{
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return false;
    unsigned char head[8] = {};
    const size_t read = fread(head, 1, sizeof(head), file);
    fclose(file);
    static const unsigned char signature[8] = { 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A };
    return read == 8 && memcmp(head, signature, 8) == 0;
}
}

TEST_F(DialogFramework, ModelessDialogFromTemplateIsDrivenThroughItsHandlerTables)
{
    CDerivedTestDlg dialog;
    ASSERT_TRUE(dialog.Create(IDD_UI_TEST, nullptr));
    ShowWindow(dialog, SW_SHOW);
    EXPECT_EQ(dialog.GetWindowText(), L"Dialog framework test (derived)");

    // A handler's result comes back to the sender.
    EXPECT_EQ(dialog.SendMessage(kAnswerMessage, 21), 42);

    // A command from a button reaches the base table; control texts go both ways.
    dialog.SetDlgItemText(IDC_UI_TEST_EDIT, L"Drawer 2 applied");
    SendMessageW(dialog.GetDlgItem(IDC_UI_TEST_APPLY), BM_CLICK, 0, 0);
    EXPECT_EQ(dialog.applied, 1);
    EXPECT_EQ(dialog.GetDlgItemText(IDC_UI_TEST_LABEL), L"Drawer 2 applied");

    // A throwing handler neither ends the dialog nor stops later messages.
    dialog.SendMessage(kThrowMessage);
    ASSERT_TRUE(IsWindow(dialog));
    EXPECT_EQ(dialog.SendMessage(kAnswerMessage, 5), 10);

    // Registered messages are found by name.
    dialog.SendMessage(RegisterWindowMessageW(L"KelvoUiTestRegistered"));
    EXPECT_EQ(dialog.registeredSeen, 1);

    // The derived timer handler runs first and hands the timer on to the base.
    dialog.SetTimer(kTickTimer, 10);
    EXPECT_TRUE(PumpUntil([&] { return dialog.baseTimerTicks >= 2; }));
    dialog.KillTimer(kTickTimer);
    EXPECT_EQ(dialog.derivedTimerTicks, dialog.baseTimerTicks);

    // Disabling and enabling the whole window.
    dialog.DisableWindow();
    EXPECT_FALSE(IsWindowEnabled(dialog));
    dialog.EnableWindow();
    EXPECT_TRUE(IsWindowEnabled(dialog));

    UpdateWindow(dialog);
    const std::wstring shot = kelvo_test::SaveWindowScreenshot(dialog, L"DialogFramework_Modeless");
    ASSERT_FALSE(shot.empty());
    EXPECT_TRUE(IsPngFile(shot));

    // Cancel of a modeless dialog destroys it and unbinds the object.
    const HWND window = dialog;
    dialog.SendMessage(WM_COMMAND, IDCANCEL);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

namespace
{
// Where a modal run's parent is: the owner dialog itself, or a control inside it (as the
// editor's list is when Enter in the list opens the picker).
enum class ParentKind { TopLevel, ChildControl };

// A modal dialog that records, on its end timer, how its owner and itself look, and ends
// through EndDialog or by being destroyed.
class CModalProbe : public CDerivedTestDlg
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    CModalProbe(HWND parent, HWND owner, bool destroyInsteadOfEnd) : m_owner(owner), m_destroy(destroyInsteadOfEnd)
    {
        m_parent = parent;
    }
    BOOL OnInitDialog() override
    {
        ownerEnabledAtInit = IsWindowEnabled(m_owner);
        SetTimer(kEndTimer, 50);
        return TRUE;
    }
    LRESULT OnEndTimer(WPARAM id, LPARAM lParam, BOOL& handled)
    {
        if (id != kEndTimer)
            return CDerivedTestDlg::OnTimer(id, lParam, handled);
        KillTimer(kEndTimer);
        ownerEnabledWhileRunning = IsWindowEnabled(m_owner);
        parentEnabledWhileRunning = IsWindowEnabled(m_parent);
        if (m_destroy)
        {
            ::DestroyWindow(m_hWnd);
            return 0;
        }
        EndDialog(77);
        // What the code after EndDialog finds.
        visibleAfterEnd = IsWindowVisible(m_hWnd);
        ownerEnabledAfterEnd = IsWindowEnabled(m_owner);
        activeAfterEnd = GetActiveWindow();
        return 0;
    }
    LRESULT OnDestroy(WPARAM, LPARAM, BOOL& handled)
    {
        ownerEnabledAtDestroy = IsWindowEnabled(m_owner);
        handled = FALSE;
        return 0;
    }

    BOOL ownerEnabledAtInit = TRUE;
    BOOL ownerEnabledWhileRunning = TRUE;
    BOOL parentEnabledWhileRunning = FALSE;
    BOOL visibleAfterEnd = TRUE;
    BOOL ownerEnabledAfterEnd = FALSE;
    HWND activeAfterEnd = nullptr;
    BOOL ownerEnabledAtDestroy = FALSE;

private:
    HWND m_owner;
    bool m_destroy;
};

KELVO_BEGIN_MESSAGE_MAP(CModalProbe, CDerivedTestDlg)
    KELVO_MESSAGE(WM_TIMER, &CModalProbe::OnEndTimer)
    KELVO_MESSAGE(WM_DESTROY, &CModalProbe::OnDestroy)
KELVO_END_MESSAGE_MAP()

// Whether another process's window holds the foreground: its focus takes the activation
// from every window of this thread (other tests run beside this one), so where activation
// lands cannot be seen then.
bool ForegroundIsElsewhere()
{
    DWORD process = 0;
    const HWND foreground = GetForegroundWindow();
    if (foreground)
        GetWindowThreadProcessId(foreground, &process);
    return foreground && process != GetCurrentProcessId();
}

class ModalRun : public DialogFramework, public ::testing::WithParamInterface<ParentKind>
{
protected:
    void SetUp() override
    {
        DialogFramework::SetUp();
        ASSERT_TRUE(m_owner.Create(IDD_UI_TEST, nullptr));
        ShowWindow(m_owner, SW_SHOW);
        SetActiveWindow(m_owner);
        m_parent = GetParam() == ParentKind::TopLevel ? m_owner.GetSafeHwnd() : m_owner.GetDlgItem(IDC_UI_TEST_EDIT);
    }

    CBaseTestDlg m_owner;
    HWND m_parent = nullptr;
};
}

// A modal run disables the top-level window of its parent, whatever window of it is given,
// before the dialog exists; EndDialog gives the owner back and hides the dialog before the
// code after it runs, and the owner is active again.
TEST_P(ModalRun, DisablesTheTopLevelOwnerAndEndDialogGivesItBackAtOnce)
{
    CModalProbe modal(m_parent, m_owner, false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(modal.DoModal(), 77);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(modal.ownerEnabledAtInit) << "the owner ran while the dialog was created";
    EXPECT_FALSE(modal.ownerEnabledWhileRunning) << "the top-level window stayed enabled";
    if (GetParam() == ParentKind::ChildControl)
    {
        EXPECT_TRUE(modal.parentEnabledWhileRunning) << "the control itself keeps its own state";
    }
    EXPECT_FALSE(modal.visibleAfterEnd);
    EXPECT_TRUE(modal.ownerEnabledAfterEnd);
    if (!ForegroundIsElsewhere())
    {
        EXPECT_EQ(m_owner.GetSafeHwnd(), modal.activeAfterEnd);
    }
    EXPECT_TRUE(IsWindowEnabled(m_owner));
    EXPECT_TRUE(IsWindowEnabled(m_parent));
    EXPECT_EQ(modal.GetSafeHwnd(), nullptr);
}

// A modal dialog destroyed instead of ended gives its owner back before it goes, so the
// activation that leaves it lands on the owner.
TEST_P(ModalRun, DestroyedInsteadOfEndedGivesTheOwnerBackBeforeItGoes)
{
    CModalProbe modal(m_parent, m_owner, true);
    modal.DoModal();
    EXPECT_FALSE(modal.ownerEnabledWhileRunning);
    EXPECT_TRUE(modal.ownerEnabledAtDestroy) << "the owner was still disabled while the dialog went";
    if (!ForegroundIsElsewhere())
    {
        EXPECT_EQ(m_owner.GetSafeHwnd(), GetActiveWindow());
    }
    EXPECT_TRUE(IsWindowEnabled(m_owner));
}

INSTANTIATE_TEST_SUITE_P(Parents, ModalRun, ::testing::Values(ParentKind::TopLevel, ParentKind::ChildControl),
                         [](const ::testing::TestParamInfo<ParentKind>& info) {
                             return info.param == ParentKind::TopLevel ? "TopLevelOwner" : "ControlOfTheOwner";
                         });

// A template that does not exist cannot run, and the owner is given back.
TEST_F(DialogFramework, ModalRunOfAMissingTemplateFailsAndLeavesTheOwnerEnabled)
{
    CBaseTestDlg owner;
    ASSERT_TRUE(owner.Create(IDD_UI_TEST, nullptr));
    struct CMissing : CDialogEx
    {
        explicit CMissing(HWND parent) : CDialogEx(4711, parent) {}
    } missing(owner);
    EXPECT_EQ(missing.DoModal(), -1);
    EXPECT_TRUE(IsWindowEnabled(owner));
}

namespace
{
// The messages whose result a dialog procedure returns itself.
struct DirectResultCase
{
    const char* name;
    UINT message;
};

// Answers each of those messages by throwing, or by leaving it to the system.
class CDirectResultDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    explicit CDirectResultDlg(bool throwing) : CUtilDialogEx<CDialogEx>(IDD_UI_TEST), m_throwing(throwing) {}
    LRESULT OnMessage(WPARAM, LPARAM, BOOL& handled)
    {
        if (m_throwing)
            throw CErrorEx(ERROR_INVALID_DATA);
        handled = FALSE;
        return 0;
    }

private:
    bool m_throwing;
};

KELVO_BEGIN_MESSAGE_MAP(CDirectResultDlg, CUtilDialogEx<CDialogEx>)
    KELVO_MESSAGE(WM_CTLCOLORSTATIC, &CDirectResultDlg::OnMessage)
    KELVO_MESSAGE(WM_CTLCOLOREDIT, &CDirectResultDlg::OnMessage)
    KELVO_MESSAGE(WM_CTLCOLORDLG, &CDirectResultDlg::OnMessage)
    KELVO_MESSAGE(WM_CTLCOLORBTN, &CDirectResultDlg::OnMessage)
    KELVO_MESSAGE(WM_QUERYDRAGICON, &CDirectResultDlg::OnMessage)
    KELVO_MESSAGE(WM_COMPAREITEM, &CDirectResultDlg::OnMessage)
    KELVO_MESSAGE(WM_VKEYTOITEM, &CDirectResultDlg::OnMessage)
    KELVO_MESSAGE(WM_CHARTOITEM, &CDirectResultDlg::OnMessage)
KELVO_END_MESSAGE_MAP()

class ThrowingHandler : public DialogFramework, public ::testing::WithParamInterface<DirectResultCase>
{
};
}

// A handler that throws on a message whose result is the procedure's return value gives the
// system's default answer, not TRUE (a brush, icon or item order of 1).
TEST_P(ThrowingHandler, GivesTheSystemsDefaultForAMessageWhoseResultIsReturned)
{
    CDirectResultDlg throwing(true), passing(false);
    ASSERT_TRUE(throwing.Create(IDD_UI_TEST, nullptr));
    ASSERT_TRUE(passing.Create(IDD_UI_TEST, nullptr));
    HDC dc = GetDC(throwing);
    COMPAREITEMSTRUCT compare = {};
    compare.CtlType = ODT_LISTBOX;
    const UINT message = GetParam().message;
    const bool colour = message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
    const WPARAM wParam = colour ? reinterpret_cast<WPARAM>(dc) : (message == WM_COMPAREITEM ? 0 : MAKEWPARAM('A', 0));
    auto lParamFor = [&](HWND dialog) {
        if (message == WM_COMPAREITEM)
            return reinterpret_cast<LPARAM>(&compare);
        return message == WM_QUERYDRAGICON ? 0 : reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_UI_TEST_EDIT));
    };
    const LRESULT thrown = SendMessageW(throwing, message, wParam, lParamFor(throwing));
    const LRESULT passed = SendMessageW(passing, message, wParam, lParamFor(passing));
    ReleaseDC(throwing, dc);
    EXPECT_NE(1, thrown);
    EXPECT_EQ(passed, thrown);
    EXPECT_TRUE(IsWindow(throwing));
}

INSTANTIATE_TEST_SUITE_P(Messages, ThrowingHandler,
                         ::testing::Values(DirectResultCase{ "CtlColorStatic", WM_CTLCOLORSTATIC },
                                           DirectResultCase{ "CtlColorEdit", WM_CTLCOLOREDIT },
                                           DirectResultCase{ "CtlColorDlg", WM_CTLCOLORDLG },
                                           DirectResultCase{ "CtlColorBtn", WM_CTLCOLORBTN },
                                           DirectResultCase{ "QueryDragIcon", WM_QUERYDRAGICON },
                                           DirectResultCase{ "CompareItem", WM_COMPAREITEM },
                                           DirectResultCase{ "VKeyToItem", WM_VKEYTOITEM },
                                           DirectResultCase{ "CharToItem", WM_CHARTOITEM }),
                         [](const ::testing::TestParamInfo<DirectResultCase>& info) { return std::string(info.param.name); });

namespace
{
const UINT kIconCallback = WM_APP + 12;
const UINT kExitCommand = 10;
const UINT kBoxCommand = 11;

// A window with a notification icon as the agent has one: the icon follows the state, comes
// back after "TaskbarCreated", and goes at the exit.
class CIconOwnerDlg : public CUtilDialogEx<CDialogEx>
{
    KELVO_DECLARE_MESSAGE_MAP()
public:
    CIconOwnerDlg() : CUtilDialogEx<CDialogEx>(IDD_UI_TEST) {}
    BOOL ShowState(LPCWSTR tip) { return icon.Update(m_hWnd, 0, kIconCallback, LoadIconW(nullptr, IDI_APPLICATION), tip); }
    LRESULT OnTaskbarCreated(WPARAM, LPARAM, BOOL&)
    {
        readdAnswers.push_back(icon.Readd());
        return 0;
    }
    LRESULT OnExit(WPARAM, LPARAM, BOOL&)
    {
        icon.Delete();
        EndDialog(1);
        return 0;
    }
    // A box whose loop receives what is posted before it opens: the exit, then the broadcast.
    LRESULT OnBox(WPARAM, LPARAM, BOOL&)
    {
        PostMessage(WM_COMMAND, kExitCommand);
        PostMessage(RegisterWindowMessageW(L"TaskbarCreated"));
        CMessageBoxEx::Show(m_hWnd, L"The cart is not connected.", L"Kelvo UI test box", MB_OK, 300);
        return 0;
    }
    BOOL OnInitDialog() override
    {
        ShowState(L"Cart ready");
        PostMessage(WM_COMMAND, kBoxCommand);
        return TRUE;
    }

    CNotifyIconEx icon;
    std::vector<BOOL> readdAnswers;
};

KELVO_BEGIN_MESSAGE_MAP(CIconOwnerDlg, CUtilDialogEx<CDialogEx>)
    KELVO_REGISTERED_MESSAGE(L"TaskbarCreated", &CIconOwnerDlg::OnTaskbarCreated)
    KELVO_COMMAND(kExitCommand, &CIconOwnerDlg::OnExit)
    KELVO_COMMAND(kBoxCommand, &CIconOwnerDlg::OnBox)
KELVO_END_MESSAGE_MAP()

// Whether the notification area holds an icon of that window and id: only an icon that is
// there can be modified.
bool IconIsThere(const NOTIFYICONDATAW& record)
{
    NOTIFYICONDATAW probe = record;
    probe.uFlags = NIF_TIP;
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}
}

// "TaskbarCreated" from a taskbar that kept the icon: the icon is modified in place, later
// state changes still reach it, and the exit takes it away.
TEST_F(DialogFramework, NotifyIconFollowsTheStateAcrossATaskbarRestartThatKeptIt)
{
    CIconOwnerDlg window;
    ASSERT_TRUE(window.Create(IDD_UI_TEST, nullptr));
    ASSERT_TRUE(window.ShowState(L"Cart ready"));
    ASSERT_TRUE(IconIsThere(window.icon.GetRecord()));

    window.SendMessage(RegisterWindowMessageW(L"TaskbarCreated"));
    ASSERT_EQ(std::vector<BOOL>{ TRUE }, window.readdAnswers);
    EXPECT_TRUE(window.icon.IsAdded());
    EXPECT_TRUE(window.ShowState(L"Cart not connected")) << "the update after the broadcast failed";
    EXPECT_STREQ(L"Cart not connected", window.icon.GetRecord().szTip);

    // A taskbar that did lose the icon gets it back with the last tooltip.
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, const_cast<NOTIFYICONDATAW*>(&window.icon.GetRecord())));
    window.SendMessage(RegisterWindowMessageW(L"TaskbarCreated"));
    EXPECT_TRUE(IconIsThere(window.icon.GetRecord()));

    EXPECT_TRUE(window.icon.Delete());
    EXPECT_FALSE(IconIsThere(window.icon.GetRecord())) << "the exit left the icon behind";
}

// The exit deleted the icon inside a box's loop, and "TaskbarCreated" reached the window in
// that loop before the run ended: the icon stays deleted.
TEST_F(DialogFramework, NotifyIconDeletedByTheExitStaysDeletedWhenTheBroadcastComesInABoxsLoop)
{
    CIconOwnerDlg window;
    EXPECT_EQ(1, window.DoModal());
    EXPECT_EQ(std::vector<BOOL>{ FALSE }, window.readdAnswers);
    EXPECT_FALSE(IconIsThere(window.icon.GetRecord())) << "the broadcast brought the deleted icon back";
    EXPECT_FALSE(window.icon.IsAdded());
}

TEST(MessageBoxWithTimeOut, ClosesAtItsTimeOutEvenWhereTheSystemIgnoresIt)
{
    const auto start = std::chrono::steady_clock::now();
    const int answer = CMessageBoxEx::Show(nullptr, L"The cart is not connected.", L"Kelvo UI test box",
                                           MB_OK | MB_ICONINFORMATION, 300);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(answer, CMessageBoxEx::kTimedOut);
    EXPECT_GE(elapsed, std::chrono::milliseconds(250));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}
