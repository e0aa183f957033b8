// The agent window inside the test process: the notification menu and the clicks as a
// function of the state (no tray needed), the window that never shows, what ends it, and a
// sign-in run against the sign-on stand-in and an in-process cart.
#include "agent/CKelvoAgentApp.h"
#include "agent/CKelvoAgentDlg.h"
#include "cartlink/CEndpointSession.h"
#include "cartlink/CKelvoUSBComm.h"
#include "cartlink/CKelvoUSBCommStaticData.h"
#include "common/CResourceLoader.h"
#include "resources/KVResourceIds.h"
#include "sim/cart/CKelvoSimHidDevices.h"
#include "tests/signon/SignOnTestWorld.h"
#include "tests/uisupport/UiScreenshot.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <utility>
#include <vector>

namespace
{
constexpr DWORD kWaitMs = 10000;

// An endpoint whose name cannot be read (Wine always names the console: this stands for a
// remote session whose client name query fails).
class CUnnamedEndpoint : public CEndpointSession
{
public:
    BOOL GetClientName(CStringEx& name) override
    {
        name.Empty();
        return FALSE;
    }
    BOOL IsRemote() override { return FALSE; }
    _CObjectExPtr<CObjectEx> OpenVirtualChannel(HWND, LPCWSTR) override { return nullptr; }
    BOOL IsCurrent() override { return TRUE; }
};

// The agent window with its state set from outside.
class CTestAgentDlg : public CKelvoAgentDlg
{
public:
    void SetState(bool connected, BYTE access, BYTE status, bool signedIn, bool showExit)
    {
        m_bCartConnected = connected;
        m_lastStatus.access = access;
        m_lastStatus.status = status;
        if (signedIn)
        {
            m_run.Begin(m_run.NextNumber());
            m_run.MoveTo(CKelvoSignInRun::Stage::Deciding);
        }
        m_settings.showExitItem = showExit;
    }
    bool IsEnding() const { return m_bEnding; }
    bool IsRunActive() const { return m_run.IsActive(); }
    void UseEndpoint(_CObjectExPtr<CEndpointSession> session) { m_spSession = std::move(session); }
    void SetPreAuthorized(bool preAuthorized) { m_bPreAuthorized = preAuthorized; }
    void StopWorker()
    {
        if (m_spThread && m_spThread->IsRunning())
            m_spThread->Stop();
    }
};

class AgentWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CResourceLoader::Instance().Load(), 0u);
        // A prompt stays open until the test ends it.
        m_world.Configure({L"Callback=0"});
        ASSERT_TRUE(m_window.Create(IDD_AGENT, nullptr));
        // No cart search in these tests: the first connect is not wanted here.
        m_window.KillTimer(KELVO_TIMER_CONNECT_CART);
        m_world.CaptureLog();
    }
    void TearDown() override
    {
        // The worker lets go of the cart before the cart and its device list go.
        m_window.StopWorker();
        m_window.DestroyWindow();
        if (m_cart)
        {
            CKelvoUSBCommStaticData::Instance().SetHidDevices(nullptr);
            CKelvoUSBCommStaticData::Instance().ClearSupportedDevices();
            CCartUSBComm::SetDevicePath(L"");
            m_cart->Stop();
        }
    }
    // A simulated cart in this process, the machine's only HID device, named as supported.
    void PlugInCart()
    {
        m_devices = MakeObjectEx<CKelvoSimHidDevices>();
        m_cart = MakeObjectEx<CKelvoCartSimulator>(USHORT(0x0B6A), USHORT(0x0417));
        ASSERT_EQ(0u, m_cart->Start());
        m_devices->Add(m_cart);
        CKelvoUSBCommStaticData::Instance().SetHidDevices(m_devices);
        CKelvoUSBCommStaticData::Instance().ClearSupportedDevices();
        CKelvoUSBComm::LoadSupportedDevices({L"HID\\VID_0B6A&PID_0417"});
    }
    // Cart lines that contain the text.
    size_t CartLines(LPCWSTR text) const
    {
        size_t count = 0;
        for (const CStringEx& line : m_cart->GetLines())
            count += std::wstring(line).find(text) != std::wstring::npos ? 1 : 0;
        return count;
    }
    bool Logged(const std::wstring& line) const
    {
        const std::vector<std::wstring>& lines = m_world.LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    // The boxes shown since the count `from`.
    std::vector<std::wstring> BoxesSince(size_t from) const
    {
        std::vector<std::wstring> texts;
        for (size_t i = from; i < m_world.Boxes().size(); ++i)
            texts.push_back(m_world.Boxes()[i].text);
        return texts;
    }
    size_t PromptStarts() const
    {
        const std::vector<std::wstring> journal = m_world.Journal();
        return static_cast<size_t>(std::count(journal.begin(), journal.end(), L"Auth 8 companion=1 callback=1"));
    }

    // The sign-on product's stand-in (registered, configured, catching boxes and the log):
    // made before the window and gone after it.
    SignOnTestWorld m_world;
    _CObjectExPtr<CKelvoSimHidDevices> m_devices;
    _CObjectExPtr<CKelvoCartSimulator> m_cart;
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

// The text of the menu item with the command ID.
CStringEx MenuText(HMENU menu, UINT id)
{
    wchar_t text[256] = {};
    GetMenuStringW(menu, id, text, ARRAYSIZE(text), MF_BYCOMMAND);
    return text;
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
    { "ReadyWithExit", true, 0x80, 0x01, false, true, { IDM_AGENT_START_AUTH, 0, IDM_AGENT_RECONNECT, 0, IDM_AGENT_EXIT, IDM_AGENT_START_AUTH }, 0 },
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
    // The test program has no configuration file: the items keep the product's own texts.
    const std::pair<UINT, UINT> texts[] = { { IDM_AGENT_START_AUTH, IDS_AGENT_MENU_START_AUTH },
                                            { IDM_AGENT_END_ACCESS, IDS_AGENT_MENU_END_ACCESS },
                                            { IDM_AGENT_RECONNECT, IDS_AGENT_MENU_RECONNECT },
                                            { IDM_AGENT_EXIT, IDS_AGENT_MENU_EXIT } };
    for (const auto& item : texts)
    {
        if (std::find(c.layout.begin(), c.layout.end(), static_cast<int>(item.first)) == c.layout.end())
            continue;
        EXPECT_EQ(MenuText(menu.Get(), item.first).Str(), CResourceLoader::Instance().LoadText(item.second).Str())
            << "item " << item.first;
    }
    // A right click shows the menu exactly when there is one.
    EXPECT_EQ(m_window.OnNotifyIcon(WM_RBUTTONDOWN), !c.layout.empty());
    EXPECT_FALSE(m_window.OnNotifyIcon(WM_MOUSEMOVE));

    // A left click never shows the menu; it acts on the cart or says why it cannot.
    const size_t boxes = m_world.Boxes().size();
    EXPECT_FALSE(m_window.OnNotifyIcon(WM_LBUTTONDOWN));
    if (c.leftClickBox != 0)
    {
        EXPECT_EQ(BoxesSince(boxes), std::vector<std::wstring>{SignOnTestWorld::Text(c.leftClickBox)});
        EXPECT_EQ(PromptStarts(), 0u);
        return;
    }
    EXPECT_TRUE(BoxesSince(boxes).empty());
    if (c.signedIn)
    {
        // A sign-in runs already: the click starts nothing.
        EXPECT_EQ(PromptStarts(), 0u);
        return;
    }
    // A ready cart starts a sign-in: the product's prompt is up, and while the run lasts the
    // menu offers only the exit item (when configured) and a second click starts nothing.
    EXPECT_EQ(PromptStarts(), 1u);
    EXPECT_TRUE(m_window.IsRunActive());
    const std::vector<int> runMenu = c.showExit ? std::vector<int>{IDM_AGENT_EXIT, -1} : std::vector<int>{};
    EXPECT_EQ(MenuLayout(m_window.BuildNotifyMenu().Get()), runMenu);
    EXPECT_FALSE(m_window.OnNotifyIcon(WM_LBUTTONDOWN));
    m_window.SendMessage(WM_COMMAND, IDM_AGENT_START_AUTH);
    EXPECT_EQ(PromptStarts(), 1u);
    EXPECT_TRUE(BoxesSince(boxes).empty());
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

// A sign-in on a computer whose name cannot be read (a remote session whose client-name
// query fails): the agent logs why and ends the run, and the cart never hears of the user,
// not even under a configuration that grants everybody without a directory check.
TEST_F(AgentWindow, SignInWhoseComputerNameCannotBeReadIsLoggedAndSendsTheCartNoName)
{
    ASSERT_NO_FATAL_FAILURE(PlugInCart());
    m_world.Configure({L"CallbackDelayMs=50", L"Principal=nurse@WARD7", L"Methods=1"});
    m_window.UseEndpoint(MakeObjectEx<CUnnamedEndpoint>());
    m_window.SetPreAuthorized(true);
    m_window.SendMessage(WM_COMMAND, IDM_AGENT_RECONNECT);
    ASSERT_TRUE(m_window.IsConnected());

    m_cart->SetButton(KELVO_DRAWER_BUTTON_PRESSED);
    const std::wstring ended = SignOnTestWorld::Formatted(IDS_RUN_ENDED, 1u,
                                                          SignOnTestWorld::Text(IDS_RUN_END_FAILED).c_str(), 1u);
    for (const ULONGLONG end = GetTickCount64() + kWaitMs; !Logged(ended) && GetTickCount64() < end;)
        m_world.Pump(50);
    ASSERT_TRUE(Logged(ended)) << "the sign-in did not end";
    EXPECT_TRUE(Logged(SignOnTestWorld::Formatted(IDS_RUN_NO_ENDPOINT_NAME, L"nurse")));
    EXPECT_FALSE(m_window.IsRunActive());
    // The end of the prompt reaches the cart through the worker, after the run's end is logged.
    for (const ULONGLONG end = GetTickCount64() + kWaitMs;
         CartLines(L"sign-in result arrived") == 0 && GetTickCount64() < end;)
        m_world.Pump(50);
    m_world.Pump(300);
    EXPECT_EQ(CartLines(L"sign-in result arrived"), 1u);
    EXPECT_EQ(CartLines(L"drawer access"), 0u);
    EXPECT_EQ(CartLines(L"not authorized"), 0u);
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
