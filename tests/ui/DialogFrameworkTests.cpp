#include "common/CErrorEx.h"
#include "common/ui/CMessageBoxEx.h"
#include "common/ui/CUtilDialogEx.h"
#include "tests/uisupport/UiScreenshot.h"
#include "UiTestDialogs.h"
#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>

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
    BOOL ownerWasEnabled = TRUE;

    BOOL OnInitDialog() override
    {
        SetWindowText(L"Dialog framework test (derived)");
        return TRUE;
    }
    // The derived table's timer handler runs first and hands timers it does not own on.
    LRESULT OnTimer(WPARAM id, LPARAM lParam, BOOL& handled)
    {
        if (id == kEndTimer)
        {
            KillTimer(kEndTimer);
            ownerWasEnabled = m_parent ? ::IsWindowEnabled(m_parent) : TRUE;
            EndDialog(77);
            return 0;
        }
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

TEST_F(DialogFramework, ModalRunEndsWithTheEndDialogResultAndGivesTheOwnerBack)
{
    CBaseTestDlg owner;
    ASSERT_TRUE(owner.Create(IDD_UI_TEST, nullptr));

    struct CModal : CDerivedTestDlg
    {
        explicit CModal(HWND parent) { m_parent = parent; }
        BOOL OnInitDialog() override
        {
            SetTimer(kEndTimer, 50);
            return TRUE;
        }
    } modal(owner);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(modal.DoModal(), 77);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(modal.ownerWasEnabled);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(modal.GetSafeHwnd(), nullptr);

    // A template that does not exist cannot run.
    struct CMissing : CDialogEx
    {
        CMissing() : CDialogEx(4711) {}
    } missing;
    EXPECT_EQ(missing.DoModal(), -1);
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
