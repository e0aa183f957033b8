// The agent window inside the test process: the notification menu and the clicks as a
// function of the state (no tray needed), the window that never shows, and what ends it.
#include "agent/CKelvoAgentApp.h"
#include "agent/CKelvoAgentDlg.h"
#include "common/CResourceLoader.h"
#include "resources/KVResourceIds.h"
#include "tests/uisupport/UiScreenshot.h"
#include <gtest/gtest.h>
#include <vector>

namespace
{
std::vector<CStringEx> g_boxes;

int RecordBox(HWND, LPCWSTR text, LPCWSTR, UINT, DWORD)
{
    g_boxes.emplace_back(text);
    return IDNO;
}

// The agent window with its state set from outside.
class CTestAgentDlg : public CKelvoAgentDlg
{
public:
    void SetState(bool connected, BYTE access, BYTE status, bool signedIn, bool showExit)
    {
        m_bCartConnected = connected;
        m_lastStatus.access = access;
        m_lastStatus.status = status;
        m_signOn.m_bUserSignedIn = signedIn;
        m_settings.showExitItem = showExit;
    }
    bool IsEnding() const { return m_bEnding; }
};

class AgentWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CResourceLoader::Instance().Load(), 0u);
        CResourceLoader::SetMessageBoxHook(&RecordBox);
        g_boxes.clear();
        ASSERT_TRUE(m_window.Create(IDD_AGENT, nullptr));
        // No cart search in these tests: the first connect is not wanted here.
        m_window.KillTimer(KELVO_TIMER_CONNECT_CART);
    }
    void TearDown() override
    {
        m_window.DestroyWindow();
        CResourceLoader::SetMessageBoxHook(nullptr);
    }

    CTestAgentDlg m_window;
};

// The menu's item IDs in order, 0 for a separator; the default item's ID last (-1 none).
std::vector<int> MenuLayout(HMENU menu)
{
    std::vector<int> items;
    if (!menu)
        return items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i)
        items.push_back(static_cast<int>(GetMenuItemID(menu, i)));
    items.push_back(static_cast<int>(GetMenuDefaultItem(menu, FALSE, 0)));
    return items;
}

struct MenuCase
{
    const char* name;
    bool connected;
    BYTE access;
    BYTE status;
    bool signedIn;
    bool showExit;
    std::vector<int> layout;    // empty: no menu at all
    UINT leftClickBox;          // string of the box a left click shows; 0: none of the three
};

const MenuCase kMenuCases[] = {
    { "ReadyOffersStart", true, 0x80, 0x01, false, false, { IDM_AGENT_START_AUTH, 0, IDM_AGENT_RECONNECT, IDM_AGENT_START_AUTH }, 0 },
    { "FaultOffersEndAccess", true, 0x01, 0x01, false, false, { IDM_AGENT_END_ACCESS, 0, IDM_AGENT_RECONNECT, IDM_AGENT_END_ACCESS }, IDS_AGENT_ASK_END_ACCESS },
    { "FaultWithExit", true, 0x80, 0x02, false, true, { IDM_AGENT_END_ACCESS, 0, IDM_AGENT_RECONNECT, 0, IDM_AGENT_EXIT, IDM_AGENT_END_ACCESS }, IDS_AGENT_ASK_END_ACCESS },
    { "BusyWithoutExitHasNoMenu", true, 0x80, 0x80, false, false, {}, IDS_AGENT_CART_BUSY },
    { "BusyWithExit", true, 0x80, 0x80, false, true, { IDM_AGENT_RECONNECT, 0, IDM_AGENT_EXIT, -1 }, IDS_AGENT_CART_BUSY },
    { "NotConnectedWithoutExitHasNoMenu", false, 0x80, 0x01, false, false, {}, IDS_AGENT_CART_NOT_CONNECTED },
    { "SignedInOffersOnlyExit", true, 0x80, 0x01, true, true, { IDM_AGENT_EXIT, -1 }, 0 },
    { "SignedInWithoutExitHasNoMenu", true, 0x80, 0x01, true, false, {}, 0 },
};

void PrintTo(const MenuCase& c, std::ostream* os) { *os << c.name; }

class NotifyMenu : public AgentWindow, public ::testing::WithParamInterface<MenuCase>
{
};
}

TEST_P(NotifyMenu, FollowsTheCartState)
{
    const MenuCase& c = GetParam();
    m_window.SetState(c.connected, c.access, c.status, c.signedIn, c.showExit);

    CMenuEx menu = m_window.BuildNotifyMenu();
    EXPECT_EQ(MenuLayout(menu.Get()), c.layout);
    // A right click shows the menu exactly when there is one.
    EXPECT_EQ(m_window.OnNotifyIcon(WM_RBUTTONDOWN), !c.layout.empty());
    EXPECT_FALSE(m_window.OnNotifyIcon(WM_MOUSEMOVE));

    // A left click never shows the menu; it acts on the cart or says why it cannot.
    g_boxes.clear();
    EXPECT_FALSE(m_window.OnNotifyIcon(WM_LBUTTONDOWN));
    if (c.signedIn)
    {
        EXPECT_TRUE(g_boxes.empty());
    }
    else if (c.leftClickBox != 0)
    {
        ASSERT_EQ(g_boxes.size(), 1u);
        EXPECT_EQ(g_boxes[0], CResourceLoader::Instance().LoadText(c.leftClickBox));
    }
    else
    {
        // A ready cart starts an authentication: whatever the sign-on product answers, it
        // is neither a refusal of the click nor the end-access question.
        for (const CStringEx& box : g_boxes)
        {
            EXPECT_NE(box, CResourceLoader::Instance().LoadText(IDS_AGENT_CART_BUSY));
            EXPECT_NE(box, CResourceLoader::Instance().LoadText(IDS_AGENT_CART_NOT_CONNECTED));
            EXPECT_NE(box, CResourceLoader::Instance().LoadText(IDS_AGENT_ASK_END_ACCESS));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AgentWindow, NotifyMenu, ::testing::ValuesIn(kMenuCases),
                         [](const ::testing::TestParamInfo<MenuCase>& info) { return std::string(info.param.name); });

TEST_F(AgentWindow, NeverBecomesVisibleAndOnlyTheEndOfTheWindowsSessionClosesIt)
{
    // Whoever shows it, it stays hidden.
    ShowWindow(m_window, SW_SHOWNORMAL);
    SetWindowPos(m_window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    EXPECT_FALSE(IsWindowVisible(m_window));

    // The state fields show what the window holds.
    m_window.SetState(true, 0x80, 0x01, false, false);
    m_window.SendMessage(WM_AGENT_RELOAD_SETTINGS);
    EXPECT_EQ(m_window.GetDlgItemText(IDC_AGENT_CONNECTED), L"1");
    EXPECT_EQ(m_window.GetDlgItemText(IDC_AGENT_CART_READY), L"1");
    EXPECT_EQ(m_window.GetDlgItemText(IDC_AGENT_CART_FAULT), L"0");
    ShowWindow(m_window, SW_HIDE);
    // For the record, what the hidden window holds (shown only for the picture).
    SetWindowLongPtrW(m_window, GWL_STYLE, GetWindowLongPtrW(m_window, GWL_STYLE) | WS_VISIBLE);
    kelvo_test::SaveWindowScreenshot(m_window, L"AgentWindow_StateFields");
    SetWindowLongPtrW(m_window, GWL_STYLE, GetWindowLongPtrW(m_window, GWL_STYLE) & ~WS_VISIBLE);

    // Escape, Enter and a close outside the end of a Windows session change nothing.
    m_window.SendMessage(WM_COMMAND, IDCANCEL);
    m_window.SendMessage(WM_COMMAND, IDOK);
    m_window.SendMessage(WM_CLOSE);
    ASSERT_TRUE(IsWindow(m_window));

    // A cancelled end of the session leaves the agent running; a real one lets it close.
    EXPECT_EQ(m_window.SendMessage(WM_QUERYENDSESSION), TRUE);
    EXPECT_TRUE(m_window.IsEnding());
    m_window.SendMessage(WM_ENDSESSION, FALSE);
    EXPECT_FALSE(m_window.IsEnding());
    m_window.SendMessage(WM_CLOSE);
    ASSERT_TRUE(IsWindow(m_window));
    m_window.KillTimer(KELVO_TIMER_CONNECT_CART);

    EXPECT_EQ(m_window.SendMessage(WM_QUERYENDSESSION), TRUE);
    const HWND window = m_window;
    m_window.SendMessage(WM_CLOSE);
    EXPECT_FALSE(IsWindow(window));
}

namespace
{
using AgentProcess = CKelvoAgentApp::AgentProcess;

struct StopChoiceCase
{
    const char* name;
    std::vector<AgentProcess> processes;
    DWORD expected;   // process ID chosen, 0 none
};

HWND FakeWindow(int n) { return reinterpret_cast<HWND>(static_cast<INT_PTR>(n)); }

// The caller is process 100 in session 2.
const StopChoiceCase kStopCases[] = {
    { "NoneRunning", {}, 0 },
    { "OnlyItself", { { 100, 2, FakeWindow(1) } }, 0 },
    { "AgentWithWindowInOwnSession", { { 200, 2, nullptr }, { 300, 2, FakeWindow(3) }, { 400, 2, nullptr } }, 300 },
    { "LastSeenWhenNoneHasAWindow", { { 200, 2, nullptr }, { 400, 2, nullptr } }, 400 },
    { "AnotherUsersAgentIsNeverChosen", { { 500, 3, FakeWindow(5) } }, 0 },
    { "OwnSessionWinsOverAnotherUsersWindow", { { 500, 3, FakeWindow(5) }, { 600, 2, nullptr }, { 700, 4, nullptr } }, 600 },
};

void PrintTo(const StopChoiceCase& c, std::ostream* os) { *os << c.name; }

class StopSwitch : public ::testing::TestWithParam<StopChoiceCase>
{
};
}

TEST_P(StopSwitch, EndsOnlyAnAgentOfTheCallersOwnSession)
{
    const StopChoiceCase& c = GetParam();
    const AgentProcess* chosen = CKelvoAgentApp::ChooseAgentToStop(c.processes, 100, 2);
    EXPECT_EQ(chosen ? chosen->processId : 0u, c.expected);
}

INSTANTIATE_TEST_SUITE_P(AgentStart, StopSwitch, ::testing::ValuesIn(kStopCases),
                         [](const ::testing::TestParamInfo<StopChoiceCase>& info) { return std::string(info.param.name); });

TEST(AgentStart, SwitchesNeedTheirPrefixAndIgnoreLetterCase)
{
    ASSERT_EQ(CResourceLoader::Instance().Load(), 0u);
    struct Case
    {
        std::vector<const wchar_t*> args;
        bool stop;
        bool skip;
    };
    const Case cases[] = {
        { { L"KelvoAgent.exe", L"/stop" }, true, false },
        { { L"KelvoAgent.exe", L"-STOP" }, true, false },
        { { L"KelvoAgent.exe", L"stop" }, false, false },
        { { L"KelvoAgent.exe", L"--stop" }, false, false },
        { { L"KelvoAgent.exe", L"/Stopped" }, false, false },
        { { L"KelvoAgent.exe", L"-NoAuth" }, false, true },
        { { L"KelvoAgent.exe", L"/noauth", L"extra", L"-stop" }, true, true },
        { { L"/stop" }, false, false },   // the program's own name is not an argument
    };
    for (const Case& c : cases)
    {
        std::vector<wchar_t*> argv;
        for (const wchar_t* arg : c.args)
            argv.push_back(const_cast<wchar_t*>(arg));
        const auto switches = CKelvoAgentApp::ParseSwitches(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(switches.stop, c.stop) << c.args.back();
        EXPECT_EQ(switches.skipFirstAuthStart, c.skip) << c.args.back();
    }
}
