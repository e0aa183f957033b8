// The real agent against the cart simulator, driven from outside: the reconnect command
// with and without a cart, the end of the Windows session that is cancelled and the one
// that is not. The cart's own transcript shows whether the agent polls it.
#include "agent/CCartAgentDlg.h"
#include "sim/driver/KelvoScenarioDriver.h"
#include "resources/KVResourceIds.h"
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;
constexpr const wchar_t* kStatusPoll = L"status 0x01 reported";

std::string Text(const CStringEx& text) { return ScenarioUtf8(text); }

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Polls the cart answered from `mark` on, within the time given.
size_t PollsWithin(CCartSimProcess& cart, DWORD ms)
{
    const size_t mark = cart.Mark();
    Sleep(ms);
    return cart.CountExchanges(kStatusPoll, mark);
}

LRESULT SendToAgent(const CAgentProcess& agent, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    EXPECT_NE(0, SendMessageTimeoutW(agent.GetWindow(), message, wParam, lParam, SMTO_NORMAL, 10000, &result));
    return static_cast<LRESULT>(result);
}

// A scenario folder whose agent finds `cart`, logs everything and, with `endAccess`, ends
// drawer access on the cart at lock and exit.
void PrepareFolder(CScenarioFolder& folder, const CCartSimProcess& cart, bool endAccess = false)
{
    ASSERT_EQ(0u, folder.Create()) << Text(folder.GetErrorText());
    ASSERT_EQ(0u, folder.SetHidDevices({{cart.GetDevicePath(), cart.GetVendorId(), cart.GetProductId()}}));
    ASSERT_EQ(0u, folder.WriteConfig({{IDS_CFG_CART_HARDWARE_IDS, {folder.HardwareId(cart.GetVendorId(), cart.GetProductId())}},
                                      {IDS_CFG_LOG_LEVEL, {L"5"}},
                                      {IDS_CFG_END_ACCESS_ON_LOCK, {endAccess ? L"1" : L"0"}}}))
        << Text(folder.GetErrorText());
}

// The switch that keeps the agent from starting an authentication on its own.
CStringEx NoAutoAuthArgument(const CScenarioFolder& folder)
{
    CStringEx noAuth, argument;
    EXPECT_TRUE(folder.GetResources().LoadText(IDS_AGENT_SWITCH_NO_AUTO_AUTH, noAuth));
    argument.Format(L"/%s", noAuth.GetString());
    return argument;
}

// A taskbar that stands in front of the real one and answers the icon calls of one process
// only after a hang; every other process's calls go on to the real taskbar at once.
class CHungTaskbar
{
public:
    CHungTaskbar(DWORD processId, DWORD hangMs) : m_processId(processId), m_hangMs(hangMs)
    {
        s_self = this;
        m_real = FindWindowW(L"Shell_TrayWnd", nullptr);
        m_thread = std::thread([this] {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = &CHungTaskbar::Proc;
            windowClass.lpszClassName = L"Shell_TrayWnd";
            RegisterClassW(&windowClass);
            m_window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 1, 1,
                                       nullptr, nullptr, nullptr, nullptr);
            m_ready = true;
            MSG msg;
            while (m_window && GetMessageW(&msg, nullptr, 0, 0) > 0)
                DispatchMessageW(&msg);
        });
        ScenarioWaitFor([this] { return m_ready.load(); }, 5000);
    }
    ~CHungTaskbar()
    {
        PostMessageW(m_window, WM_CLOSE, 0, 0);
        m_thread.join();
        s_self = nullptr;
    }
    bool InFront() const { return m_window != nullptr && FindWindowW(L"Shell_TrayWnd", nullptr) == m_window; }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        DWORD owner = 0;
        if (message == WM_COPYDATA && GetWindowThreadProcessId(reinterpret_cast<HWND>(wParam), &owner) &&
            owner == s_self->m_processId)
            HangKeepingOthersAnswered(s_self->m_hangMs);
        if (message == WM_COPYDATA)
            return s_self->m_real ? SendMessageW(s_self->m_real, message, wParam, lParam) : TRUE;
        if (message == WM_CLOSE)
            PostQuitMessage(0);
        return DefWindowProcW(window, message, wParam, lParam);
    }

    // Other processes' calls, sent while this one hangs, are answered meanwhile.
    static void HangKeepingOthersAnswered(DWORD hangMs)
    {
        const ULONGLONG until = GetTickCount64() + hangMs;
        for (ULONGLONG now = GetTickCount64(); now < until; now = GetTickCount64())
        {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_SENDMESSAGE);
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }

    static CHungTaskbar* s_self;
    const DWORD m_processId;
    const DWORD m_hangMs;
    HWND m_real = nullptr;
    HWND m_window = nullptr;
    std::atomic<bool> m_ready{false};
    std::thread m_thread;
};
CHungTaskbar* CHungTaskbar::s_self = nullptr;
}

TEST(AgentCartScenario, ReconnectAndACancelledEndOfSessionResumePollingAndTheRealEndClosesTheAgent)
{
    CCartSimProcess cart;
    ASSERT_EQ(0u, cart.Start()) << Text(cart.GetErrorText());
    CScenarioFolder folder;
    ASSERT_NO_FATAL_FAILURE(PrepareFolder(folder, cart));
    CStringEx title, unreachable;
    ASSERT_TRUE(folder.GetResources().LoadText(IDS_AGENT_TITLE, title));
    ASSERT_TRUE(folder.GetResources().LoadText(IDS_AGENT_CART_UNREACHABLE, unreachable));

    CAgentProcess agent;
    ASSERT_EQ(0u, agent.Start(folder, NoAutoAuthArgument(folder))) << Text(agent.GetErrorText());
    ASSERT_NE(nullptr, agent.WaitForWindow(20000)) << Text(agent.GetErrorText());
    ASSERT_TRUE(agent.WaitForConnected(1, 15000));
    // The worker polls twice a second.
    EXPECT_GE(PollsWithin(cart, 2000), 3u) << cart.Transcript();

    // Reconnect while the cart is there: the new worker polls too.
    ASSERT_TRUE(agent.Post(WM_COMMAND, IDM_AGENT_RECONNECT));
    EXPECT_GE(PollsWithin(cart, 2500), 3u) << cart.Transcript();
    CAgentProcess::State state;
    EXPECT_TRUE(agent.ReadState(state));
    EXPECT_EQ(state.connected, 1);

    // Reconnect without a cart: the agent says so in a box that closes by itself.
    ASSERT_TRUE(cart.Remove());
    ASSERT_TRUE(agent.SendDeviceRemoval(cart.GetDevicePath()));
    ASSERT_TRUE(agent.WaitForConnected(0, 5000));
    ASSERT_TRUE(agent.Post(WM_COMMAND, IDM_AGENT_RECONNECT));
    CMessageBoxAnswerer boxes(agent.GetProcessId(), title);
    const HWND box = boxes.WaitForBox(10000, unreachable);
    ASSERT_NE(nullptr, box) << "no box saying the cart could not be reached";
    const auto shown = Clock::now();
    EXPECT_TRUE(ScenarioWaitFor([&] { return !IsWindow(box); }, 10000));
    const long long boxMs = MsSince(shown);
    EXPECT_GT(boxMs, 3000) << "the box closes after its 5000 ms";
    EXPECT_LT(boxMs, 8000);
    printf("[ figures ] reconnect-failed box closed itself after %lld ms\n", boxMs);

    // The cart is back and the user reconnects: connected and polled again.
    ASSERT_TRUE(cart.Restore());
    const size_t beforeReconnect = cart.Mark();
    ASSERT_TRUE(agent.Post(WM_COMMAND, IDM_AGENT_RECONNECT));
    EXPECT_TRUE(agent.WaitForConnected(1, 5000));
    EXPECT_TRUE(cart.WaitForExchange(kStatusPoll, beforeReconnect, 5000));
    EXPECT_GE(PollsWithin(cart, 2500), 3u) << cart.Transcript();

    // Windows asks to end the session: the worker stops, and the cart is left alone.
    EXPECT_EQ(TRUE, SendToAgent(agent, WM_QUERYENDSESSION));
    Sleep(300);
    EXPECT_EQ(PollsWithin(cart, 1500), 0u) << cart.Transcript();
    // The end is cancelled: the cart is connected again within bounds.
    const size_t beforeCancel = cart.Mark();
    const auto cancelled = Clock::now();
    ASSERT_TRUE(agent.Post(WM_ENDSESSION, FALSE));
    EXPECT_TRUE(cart.WaitForExchange(kStatusPoll, beforeCancel, 3000)) << cart.Transcript();
    const long long reconnectMs = MsSince(cancelled);
    EXPECT_LT(reconnectMs, 2000);
    printf("[ figures ] first cart poll %lld ms after the cancelled end of the session\n", reconnectMs);
    EXPECT_GE(PollsWithin(cart, 2000), 3u) << cart.Transcript();
    // After the cancelled end a close is again a user's, and ignored.
    ASSERT_TRUE(agent.Post(WM_CLOSE));
    Sleep(300);
    EXPECT_TRUE(agent.IsRunning());

    // The session really ends: Windows closes the window and the agent ends.
    EXPECT_EQ(TRUE, SendToAgent(agent, WM_QUERYENDSESSION));
    ASSERT_TRUE(agent.Post(WM_CLOSE));
    DWORD code = 1;
    EXPECT_TRUE(agent.WaitForExit(10000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(cart.Quit());
}

TEST(AgentCartScenario, StopSwitchWhileTheAgentShowsABoxStillLetsGoOfTheCart)
{
    CCartSimProcess cart;
    ASSERT_EQ(0u, cart.Start()) << Text(cart.GetErrorText());
    // A cart that is neither ready nor in fault: a click on the icon answers with a box.
    ASSERT_EQ(cart.Command("status 80"), L"ok") << Text(cart.GetErrorText());
    CScenarioFolder folder;
    ASSERT_NO_FATAL_FAILURE(PrepareFolder(folder, cart, true));
    CStringEx busy;
    ASSERT_TRUE(folder.GetResources().LoadText(IDS_AGENT_CART_BUSY, busy));

    CAgentProcess agent;
    ASSERT_EQ(0u, agent.Start(folder, NoAutoAuthArgument(folder))) << Text(agent.GetErrorText());
    ASSERT_NE(nullptr, agent.WaitForWindow(20000)) << Text(agent.GetErrorText());
    ASSERT_TRUE(agent.WaitForState([](const CAgentProcess::State& s) {
        return s.connected == 1 && s.cartReady == 0 && s.cartFault == 0;
    }, 15000));
    ASSERT_TRUE(agent.Post(WM_AGENT_NOTIFY_ICON, 0, WM_LBUTTONDOWN));
    CMessageBoxAnswerer boxes(agent.GetProcessId(), agent.GetWindowTitle());
    ASSERT_NE(nullptr, boxes.WaitForBox(5000, busy)) << "no busy box";

    // The stop form reaches the agent's window, not the box above it: the agent stops
    // talking to the cart while it is still there, before the stop form's grace runs out.
    const size_t beforeStop = cart.Mark();
    DWORD stopResult = ERROR_GEN_FAILURE;
    std::thread stopper([&] { stopResult = agent.StopWithSwitch(20000); });
    size_t lines = cart.GetLines().size();
    auto lastExchange = Clock::now();
    const bool quietWhileRunning = ScenarioWaitFor([&] {
        const size_t now = cart.GetLines().size();
        if (now != lines)
        {
            lines = now;
            lastExchange = Clock::now();
        }
        return agent.IsRunning() && MsSince(lastExchange) >= 1200;
    }, 10000);
    stopper.join();
    EXPECT_TRUE(quietWhileRunning) << "the cart was polled until the agent was terminated\n" << cart.Transcript();
    EXPECT_EQ(0u, stopResult) << Text(agent.GetErrorText());
    EXPECT_FALSE(agent.IsRunning());
    // Letting go of the cart means ending drawer access on it, once, as the agent ends.
    EXPECT_EQ(1u, cart.CountExchanges(L"drawer access ended", beforeStop)) << cart.Transcript();
    EXPECT_TRUE(cart.Quit());
}

TEST(AgentCartScenario, StopSwitchEndsAccessBeforeAHungTaskbarLetsTheIconGo)
{
    CCartSimProcess cart;
    ASSERT_EQ(0u, cart.Start()) << Text(cart.GetErrorText());
    CScenarioFolder folder;
    ASSERT_NO_FATAL_FAILURE(PrepareFolder(folder, cart, true));
    CAgentProcess agent;
    ASSERT_EQ(0u, agent.Start(folder, NoAutoAuthArgument(folder))) << Text(agent.GetErrorText());
    ASSERT_NE(nullptr, agent.WaitForWindow(20000)) << Text(agent.GetErrorText());
    ASSERT_TRUE(agent.WaitForConnected(1, 15000));

    // The taskbar hangs for 5 s on the agent's icon calls: the end of access must not wait.
    CHungTaskbar taskbar(agent.GetProcessId(), 5000);
    ASSERT_TRUE(taskbar.InFront());
    const size_t beforeStop = cart.Mark();
    const auto stopped = Clock::now();
    DWORD stopResult = ERROR_GEN_FAILURE;
    std::thread stopper([&] { stopResult = agent.StopWithSwitch(20000); });
    EXPECT_TRUE(cart.WaitForExchange(L"drawer access ended", beforeStop, 4000)) << cart.Transcript();
    printf("[ figures ] drawer access ended %lld ms after the stop switch, taskbar hung\n", MsSince(stopped));
    stopper.join();
    EXPECT_EQ(0u, stopResult) << Text(agent.GetErrorText());
    EXPECT_TRUE(cart.Quit());
}
