// One sign-in run from the button to the cart's last answer, walked through the real agent
// with the cart simulator and the stand-ins, in the unlucky orders real carts and sessions
// produce: the event between a request and its answer, the report before its announcement,
// the answer that never comes, the press that meets a pending automatic start.
#include "tests/agentauth/AuthRoadFixture.h"
#include "agent/KelvoAgentMessages.h"
#include "resources/KVResourceIds.h"
#include <gtest/gtest.h>
#include <wtsapi32.h>

namespace
{
// The cart goes away and comes back while the question whether to bind it here is open: the
// run ended with the cart, and the Yes that follows sends nothing for it (neither a bind nor
// a drawer access for a user the agent no longer holds). The next press is a run of its own.
TEST_F(AuthRoad, CartUnpluggedDuringTheRebindQuestionEndsTheRunAndYesSendsNothing)
{
    ASSERT_NO_FATAL_FAILURE(StartWithTheRebindQuestionOpen());
    const CStringEx path = road.Cart().GetDevicePath();
    ASSERT_TRUE(road.Cart().Remove());
    ASSERT_TRUE(road.Agent().SendDeviceRemoval(path));
    ASSERT_TRUE(road.Agent().WaitForConnected(0, kStepMs));
    ASSERT_TRUE(road.Cart().Restore());
    ASSERT_TRUE(road.Agent().SendDeviceArrival(path));
    ASSERT_TRUE(road.Agent().WaitForConnected(1, kStepMs));
    ASSERT_TRUE(road.Boxes().Press(IDYES));
    EXPECT_FALSE(CartSees(L"cart bound to " + computer, kNothingMs)) << Transcript();
    EXPECT_EQ(0u, CartCount(L"drawer access granted")) << Transcript();
    EXPECT_TRUE(road.Log().WaitForText(CAgentRoad::Text(IDS_RUN_END_CART_DISCONNECTED).c_str(), kStepMs));

    from = road.Cart().Mark();
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(road.WaitForJournal("Auth 8", 2, kStepMs));
    ASSERT_TRUE(road.Boxes().WaitForBox(kStepMs));
    ASSERT_TRUE(road.Boxes().Press(IDYES));
    EXPECT_TRUE(CartSees(Granted(L"kiosk", 2))) << Transcript();
}

// The cart answers drawer access late, and a cart arrival restarts the worker meanwhile: the
// old worker drops the request unanswered. The run ends with its worker, and the next press
// starts a new sign-in instead of being polled and ignored.
TEST_F(AuthRoad, WorkerRestartedWhileTheCartAnswersEndsTheRunAndTheNextPressSignsIn)
{
    Start();
    ASSERT_EQ(road.Cart().Command("fault late 2000 for 69"), L"ok");
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(L"(answered late)")) << Transcript();
    ASSERT_TRUE(road.Agent().SendDeviceArrival(road.Cart().GetDevicePath()));
    EXPECT_TRUE(road.Log().WaitForText(CAgentRoad::Text(IDS_RUN_END_WORKER_RESTARTED).c_str(), kStepMs));

    ASSERT_EQ(road.Cart().Command("fault none"), L"ok");
    from = road.Cart().Mark();
    ASSERT_TRUE(road.Press());
    EXPECT_TRUE(road.WaitForJournal("Auth 8", 2, kStepMs));
    EXPECT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();
}

class LogonScreenWatch : public AuthRoad, public ::testing::WithParamInterface<RetryCase> {};

// The agent starts without its cart; the logon-screen watch keeps trying to connect it and
// does when it comes. That connect polls like every other, and the switch that suppresses the
// first automatic sign-in holds whether or not retry is configured.
TEST_P(LogonScreenWatch, ConnectsTheCartLikeEveryConnectAndHonoursTheSwitch)
{
    AgentRoadOptions options;
    options.cartPresentAtStart = false;
    options.retry = GetParam().retry;
    Start(options);
    // The first connect has searched and failed; the watch connects from here on.
    ASSERT_TRUE(road.WaitForCartSearch(kStepMs)) << road.Cart().Transcript();
    Sleep(300);
    ASSERT_TRUE(road.Cart().Restore());
    ASSERT_TRUE(road.Agent().WaitForConnected(1, kStepMs));

    EXPECT_GE(PollsWithin(2500), 3u) << Transcript();
    EXPECT_EQ(0u, road.CountJournal("Auth 8")) << "a sign-in started by itself despite the switch";
    ASSERT_TRUE(road.Press());
    EXPECT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();
}

INSTANTIATE_TEST_SUITE_P(Settings, LogonScreenWatch,
                         ::testing::Values(RetryCase{"RetryOff", false}, RetryCase{"RetryOnWithTheSwitch", true}),
                         RetryCase::Name);

// The product reports (nobody signed in) before its start has even returned, so the report
// reaches the agent before the announcement of the prompt. The cart hears of the prompt
// once, before its result, and it is polled on.
TEST_F(AuthRoad, ReportBeforeThePromptIsAnnouncedLeavesTheCartPolled)
{
    AgentRoadOptions options;
    options.signOn = {L"CallbackDuringStart=1", L"CallbackResult=-1"};
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(road.WaitForJournal("Callback", 1, kStepMs));
    ASSERT_TRUE(CartSees(L"sign-in result arrived")) << Transcript();
    EXPECT_GE(PollsWithin(2500), 3u) << Transcript();
    EXPECT_EQ(1u, CartCount(L"sign-in prompt open")) << Transcript();
    EXPECT_LT(CartLine(L"sign-in prompt open"), CartLine(L"sign-in result arrived")) << Transcript();

    road.ConfigureSignOn({L"Principal=nurse@" + computer, L"Methods=1"});
    from = road.Cart().Mark();
    ASSERT_TRUE(road.Press());
    EXPECT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();
}

// A product that never reports (it crashed) does not hold the run: a while after the prompt's
// time-out the agent ends the prompt, tells the cart it is over, logs why, and the next press
// starts a new sign-in.
TEST_F(AuthRoad, PromptTheProductNeverAnswersEndsAfterItsTimeOut)
{
    AgentRoadOptions options;
    options.promptTimeout = 1;
    options.signOn = {L"Callback=0"};
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(L"sign-in prompt open")) << Transcript();
    const ULONGLONG opened = GetTickCount64();
    ASSERT_TRUE(CartSees(L"sign-in result arrived", 20000)) << Transcript();
    const ULONGLONG waited = GetTickCount64() - opened;
    EXPECT_GE(waited, 1000u) << "not before the prompt's own time-out";
    printf("[ figures ] unanswered prompt ended %llu ms after it opened (time-out 1 s)\n", waited);
    EXPECT_TRUE(road.WaitForJournal("Auth 9", 1, kStepMs)) << "the prompt is closed";
    EXPECT_TRUE(road.Log().WaitForText(CAgentRoad::Text(IDS_RUN_END_PROMPT_UNANSWERED).c_str(), kStepMs));

    road.ConfigureSignOn({L"Principal=nurse@" + computer, L"Methods=1"});
    from = road.Cart().Mark();
    ASSERT_TRUE(road.Press());
    EXPECT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();
    EXPECT_EQ(2u, road.CountJournal("Auth 8"));
}

// Without retry, an unlock leaves no automatic start; a button held through the unlock is the
// user's press, read by the first poll while the automatic start is still pending, and it
// starts a sign-in.
TEST_F(AuthRoad, ButtonHeldThroughAnUnlockStartsASignInWithoutRetry)
{
    AgentRoadOptions options;
    options.retry = false;
    Start(options);
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_LOCK));
    ASSERT_TRUE(road.WaitForCartQuiet(L"access state", 700, kStepMs));
    ASSERT_TRUE(road.Cart().Press());
    from = road.Cart().Mark();
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_UNLOCK));
    ASSERT_TRUE(CartSees(L"drawer button pressed")) << Transcript();
    EXPECT_TRUE(road.WaitForJournal("Auth 8", 1, kStepMs)) << "the press was lost";
    ASSERT_TRUE(road.Cart().Release());
    EXPECT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();
}

// The logon screen over the agent's session is a lock that nobody announced: the watch sees
// the logon program in the agent's own session and the agent lets go of the cart.
TEST_F(AuthRoad, LogonScreenOverTheSessionEndsAccessAndStopsPolling)
{
    Start();
    CScenarioProcess logonScreen;
    CScenarioProcess::Options program;
    program.program = ScenarioPath(ScenarioPath(ScenarioProgramFolder(), L"logon"), L"logonui.exe");
    program.arguments = L"60";
    program.redirectStdio = true;
    ASSERT_EQ(0u, logonScreen.Start(program));
    ASSERT_GE(logonScreen.WaitForLine(L"logon screen shown", 0, kStepMs), 0);

    EXPECT_TRUE(CartSees(L"drawer access ended")) << Transcript();
    EXPECT_TRUE(road.Agent().WaitForConnected(0, kStepMs));
    EXPECT_TRUE(road.WaitForCartQuiet(L"access state", kNothingMs, kStepMs)) << Transcript();
    logonScreen.CloseInput();
    EXPECT_TRUE(logonScreen.WaitForExit(kStepMs));
}

// A failed start is retried every 500 ms; an unplug, a Citrix session taking the cart and the
// end of the Windows session each end those retries, and no start is made where nobody can sign in.
class PendingStart : public AuthRoad, public ::testing::WithParamInterface<int> {};

TEST_P(PendingStart, EndsWithTheEventThatEndsTheRun)
{
    AgentRoadOptions options;
    options.signOn = {L"StartResult=-2147467259"};
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(road.WaitForJournal("Auth 8", 1, kStepMs));
    ASSERT_TRUE(GetParam() == 0   ? road.Cart().Remove() && road.Agent().SendDeviceRemoval(road.Cart().GetDevicePath())
                : GetParam() == 1 ? road.Agent().Post(WM_AGENT_REMOTE_SESSION, 1)
                                  : road.Agent().Post(WM_QUERYENDSESSION));
    road.ConfigureSignOn({L"Principal=nurse@" + computer, L"Methods=1"});
    Sleep(200);
    const size_t starts = road.CountJournal("Auth 8");
    Sleep(kNothingMs);
    EXPECT_EQ(starts, road.CountJournal("Auth 8")) << "a start was made after the event";
    EXPECT_EQ(0u, CartCount(L"sign-in prompt open")) << Transcript();
}

INSTANTIATE_TEST_SUITE_P(Events, PendingStart, ::testing::Values(0, 1, 2), [](const auto& info) {
    return std::string(info.param == 0 ? "Unplug" : info.param == 1 ? "CitrixSession" : "SessionEnding");
});

// A product out of process lets messages in while its start waits: a lock among them ends the
// run that is starting, the prompt that opened is closed, and the cart hears of no prompt.
TEST_F(AuthRoad, LockWhileThePromptStartsEndsTheRunAndClosesThePrompt)
{
    AgentRoadOptions options;
    options.signOn = {L"StartPumpMs=1500", L"Callback=0"};
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(road.WaitForJournal("Pump", 1, kStepMs));
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_LOCK));
    EXPECT_TRUE(road.Log().WaitForText(CAgentRoad::Text(IDS_RUN_END_SESSION_AWAY).c_str(), kStepMs));
    EXPECT_TRUE(road.WaitForJournal("Auth 9", 1, kStepMs)) << "the prompt stays open";
    EXPECT_FALSE(CartSees(L"sign-in prompt open", kNothingMs)) << Transcript();
}

// The cart goes unannounced: the worker stops and tells the window, which shows it disconnected.
TEST_F(AuthRoad, CartGoneWithoutNoticeIsShownDisconnectedUntilItReturns)
{
    Start();
    const CStringEx path = road.Cart().GetDevicePath();
    ASSERT_TRUE(road.Cart().Remove());
    EXPECT_TRUE(road.Agent().WaitForConnected(0, kStepMs));
    ASSERT_TRUE(road.Cart().Restore());
    ASSERT_TRUE(road.Agent().SendDeviceArrival(path));
    EXPECT_TRUE(road.Agent().WaitForConnected(1, kStepMs));
}

// A cancelled end of the Windows session stops the worker while a Citrix session has the cart;
// the Citrix session's end connects the cart again.
TEST_F(AuthRoad, CancelledEndOfSessionDuringACitrixSessionReconnectsWhenItEnds)
{
    Start();
    ASSERT_TRUE(road.Agent().Post(WM_AGENT_REMOTE_SESSION, 1));
    ASSERT_TRUE(road.Agent().Post(WM_QUERYENDSESSION));
    ASSERT_TRUE(road.Agent().Post(WM_ENDSESSION, FALSE));
    Sleep(500);
    ASSERT_TRUE(road.Agent().Post(WM_AGENT_REMOTE_SESSION, 0));
    EXPECT_GE(PollsWithin(2500), 3u) << Transcript();
}

// A Citrix session's end with no cart sets a connect 2.5 s off; the cart's arrival before it is kept.
TEST_F(AuthRoad, CartArrivingBeforeAPendingConnectKeepsItsWorkerForTheSignIn)
{
    AgentRoadOptions options;
    options.signOn = {L"CallbackDelayMs=3000"};
    Start(options);
    const CStringEx path = road.Cart().GetDevicePath();
    ASSERT_TRUE(road.Cart().Remove() && road.Agent().SendDeviceRemoval(path));
    ASSERT_TRUE(road.Agent().WaitForConnected(0, kStepMs));
    ASSERT_TRUE(road.Agent().Post(WM_AGENT_REMOTE_SESSION, 1) && road.Agent().Post(WM_AGENT_REMOTE_SESSION, 0));
    ASSERT_TRUE(road.Cart().Restore() && road.Agent().SendDeviceArrival(path));
    ASSERT_TRUE(road.Press());
    EXPECT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();
}

// Windows ends the session while a prompt is open and the cart is silent (3 s an exchange).
TEST_F(AuthRoad, EndOfSessionWithASilentCartClosesThePromptAtOnce)
{
    AgentRoadOptions options;
    options.signOn = {L"Callback=0"};
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(L"sign-in prompt open")) << Transcript();
    ASSERT_EQ(road.Cart().Command("fault ignore-read"), L"ok");
    ASSERT_TRUE(road.Agent().Post(WM_QUERYENDSESSION));
    EXPECT_TRUE(road.WaitForJournal("Auth 9", 1, 2000)) << Transcript();
    EXPECT_TRUE(CartSees(L"drawer access ended", 2000)) << Transcript();
}

// A lock's end of access waits behind a late cart; a reconnect drops it, and the new worker sends it.
TEST_F(AuthRoad, ReconnectAfterALockBehindALateCartStillEndsAccess)
{
    Start();
    ASSERT_EQ(road.Cart().Command("fault late 2000 for 69"), L"ok");
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(L"(answered late)")) << Transcript();
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_LOCK));
    ASSERT_TRUE(road.Agent().Post(WM_COMMAND, 17));
    EXPECT_TRUE(CartSees(L"drawer access ended")) << Transcript();
}

// The same when a remote disconnect and connect replace the worker, with the session back.
TEST_F(AuthRoad, RemoteConnectAfterALockBehindALateCartStillEndsAccess)
{
    Start();
    ASSERT_EQ(road.Cart().Command("fault late 2000 for 69"), L"ok");
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(L"(answered late)")) << Transcript();
    for (const WPARAM event : {WTS_SESSION_LOCK, WTS_REMOTE_DISCONNECT, WTS_REMOTE_CONNECT})
        ASSERT_TRUE(road.Agent().PostSessionChange(event));
    EXPECT_TRUE(CartSees(L"drawer access ended")) << Transcript();
}

// The cart drops the connection at the lock's end of access: the next worker asks it again.
TEST_F(AuthRoad, EndOfAccessWhoseConnectionDroppedIsAskedAgainByTheNextWorker)
{
    Start();
    ASSERT_EQ(road.Cart().Command("fault hang-up for 6F"), L"ok");
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_LOCK));
    ASSERT_TRUE(CartSees(L"drawer access ended (connection dropped)")) << Transcript();
    ASSERT_TRUE(road.Log().WaitForText(CAgentRoad::Text(IDS_AUTH_END_ACCESS_FAILED).c_str(), kStepMs));
    ASSERT_EQ(road.Cart().Command("fault none"), L"ok");
    from = road.Cart().Mark();
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_UNLOCK) && road.Agent().Post(WM_COMMAND, 17));
    EXPECT_TRUE(CartSees(L"drawer access ended")) << Transcript();
}
}
