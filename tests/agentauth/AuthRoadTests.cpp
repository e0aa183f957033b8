// The whole agent against the simulated cart, the sign-on stand-in and the directory
// stand-in: what the cart received, what the sign-on product was asked, what the user was
// shown and what the agent logged, for each road a drawer opening can take.
#include "tests/agentauth/AuthRoadFixture.h"
#include "agent/KelvoAgentMessages.h"
#include "resources/KVResourceIds.h"
#include <gtest/gtest.h>
#include <wtsapi32.h>

namespace
{
TEST_F(AuthRoad, DrawerButtonLeadsToAGrantForThisComputerUserAndMode)
{
    Start();
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();

    // The cart heard of the prompt, then of its result, then granted.
    const int open = CartLine(L"sign-in prompt open");
    const int result = CartLine(L"sign-in result arrived");
    EXPECT_LT(-1, open);
    EXPECT_LT(open, result);
    EXPECT_LT(result, CartLine(L"drawer access granted")) << Transcript();
    EXPECT_EQ(1u, road.CountJournal("Auth 8"));
    EXPECT_TRUE(road.Log().WaitForText(CAgentRoad::Text(IDS_AUTH_ACCESS_GRANTED).c_str(), kStepMs));
    EXPECT_NE(std::string::npos,
              road.Log().NewText().find(CAgentRoad::Text(IDS_AUTH_USER_AUTHORIZED, L"nurse", computer.c_str())));
}

struct GrantCase
{
    const char* name;
    const wchar_t* principal;  // empty: the user at this computer
    bool preAuthorized;
    const wchar_t* methods;
    const wchar_t* user;
    int mode;
};

void PrintTo(const GrantCase& c, std::ostream* os)
{
    *os << c.name;
}

class AgentGrant : public AuthRoad, public ::testing::WithParamInterface<GrantCase> {};

TEST_P(AgentGrant, SendsTheUserAndTheModeOfTheSignIn)
{
    AgentRoadOptions options;
    options.user = GetParam().user;
    options.principal = GetParam().principal;
    options.preAuthorized = GetParam().preAuthorized;
    options.methods = GetParam().methods;
    Start(options);
    ASSERT_TRUE(road.Press());
    EXPECT_TRUE(CartSees(Granted(GetParam().user, GetParam().mode))) << Transcript();
}

INSTANTIATE_TEST_SUITE_P(
    Users, AgentGrant,
    ::testing::Values(
        // Configuration grants anybody, even of a domain nobody knows; two methods give mode 1.
        GrantCase{"PreAuthorizedStranger", L"stranger@ELSEWHERE", true, L"2,4", L"stranger", 1},
        // An administrator of this computer, no method bits of the modes.
        GrantCase{"LocalAdministrator", L"", false, L"4", L"kiosk", 0}),
    [](const ::testing::TestParamInfo<GrantCase>& info) { return std::string(info.param.name); });

TEST_F(AuthRoad, UserInNoGroupIsRefusedAndTold)
{
    AgentRoadOptions options;
    options.user = L"visitor";
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(L"user visitor is not authorized")) << Transcript();
    ASSERT_TRUE(road.Boxes().WaitForBox(kStepMs));
    EXPECT_EQ(ScenarioUtf8(road.Boxes().GetText()), CAgentRoad::Text(IDS_AUTH_NOT_IN_GROUP));
    EXPECT_TRUE(road.Boxes().Press(IDOK));
    EXPECT_EQ(0u, CartCount(L"drawer access granted"));
    EXPECT_TRUE(road.Log().WaitForText(CAgentRoad::Text(IDS_AUTH_USER_REFUSED, L"visitor", computer.c_str()).c_str(),
                                       kStepMs));
}

TEST_F(AuthRoad, PrincipalWithoutDomainShowsWhyAndSendsNothing)
{
    AgentRoadOptions options;
    options.principal = L"nurse";
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(road.Boxes().WaitForBox(kStepMs));
    EXPECT_EQ(ScenarioUtf8(road.Boxes().GetText()), CAgentRoad::Text(IDS_AUTH_NO_DOMAIN));
    EXPECT_TRUE(road.Boxes().Press(IDOK));
    EXPECT_FALSE(CartSees(L"drawer access", kNothingMs)) << Transcript();
    EXPECT_EQ(0u, CartCount(L"is not authorized"));
}

enum class Reply { Yes, No, TimeOut };

struct RebindCase
{
    const char* name;
    Reply reply;
};

void PrintTo(const RebindCase& c, std::ostream* os)
{
    *os << c.name;
}

class AgentRebind : public AuthRoad, public ::testing::WithParamInterface<RebindCase> {};

// A cart bound to another computer refuses; an administrator is asked whether to bind it
// here. Yes binds it and asks for access again, and that answer ends the run; No or no
// answer sends nothing more.
TEST_P(AgentRebind, CartBoundElsewhereIsReboundOnlyAfterYes)
{
    AgentRoadOptions options;
    options.user = L"kiosk";
    options.cartArguments = L"--bound OTHER-WS";
    options.promptTimeout = 1;
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(L"drawer access refused to kiosk")) << Transcript();
    ASSERT_TRUE(road.Boxes().WaitForBox(kStepMs));
    EXPECT_NE(std::string::npos, ScenarioUtf8(road.Boxes().GetText()).find("OTHER-WS"));

    switch (GetParam().reply)
    {
    case Reply::Yes:
        ASSERT_TRUE(road.Boxes().Press(IDYES));
        ASSERT_TRUE(CartSees(Granted(L"kiosk", 2))) << Transcript();
        EXPECT_LT(CartLine(L"drawer access refused"), CartLine(L"cart bound to " + computer));
        EXPECT_LT(CartLine(L"cart bound to " + computer), CartLine(L"drawer access granted"));
        // The run ends from the second answer: its grant is logged.
        EXPECT_TRUE(road.Log().WaitForText(CAgentRoad::Text(IDS_AUTH_ACCESS_GRANTED).c_str(), kStepMs));
        return;
    case Reply::No:
        ASSERT_TRUE(road.Boxes().Press(IDNO));
        break;
    case Reply::TimeOut:
        // The box closes by itself after the prompt time-out of one second.
        EXPECT_TRUE(ScenarioWaitFor([&] { return road.Boxes().WaitForBox(0) == nullptr; }, 5000));
        break;
    }
    // The sign-on session ends, and the cart hears nothing more about this user.
    EXPECT_TRUE(road.WaitForJournal("Auth 11", 2, kStepMs));
    EXPECT_FALSE(CartSees(L"cart bound to " + computer, kNothingMs)) << Transcript();
    EXPECT_EQ(1u, CartCount(L"drawer access refused to kiosk"));
    EXPECT_EQ(0u, CartCount(L"drawer access granted"));
}

INSTANTIATE_TEST_SUITE_P(Replies, AgentRebind,
                         ::testing::Values(RebindCase{"Yes", Reply::Yes}, RebindCase{"No", Reply::No},
                                           RebindCase{"TimeOut", Reply::TimeOut}),
                         [](const ::testing::TestParamInfo<RebindCase>& info) { return std::string(info.param.name); });

// The rebind question lets other messages in; a lock that comes while it is open ends the
// run, and a Yes given afterwards must not bind the cart of a locked session.
TEST_F(AuthRoad, LockWhileTheRebindQuestionIsOpenSendsNothingAfterYes)
{
    ASSERT_NO_FATAL_FAILURE(StartWithTheRebindQuestionOpen());
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_LOCK));
    ASSERT_TRUE(CartSees(L"drawer access ended")) << Transcript();
    ASSERT_TRUE(road.Boxes().Press(IDYES));
    EXPECT_FALSE(CartSees(L"cart bound to " + computer, kNothingMs)) << Transcript();
    EXPECT_EQ(1u, CartCount(L"drawer access refused"));
}

// An exit that arrives while a box is open ends the agent only when the box closes; until
// then no timer may reconnect the cart, and the cart hears nothing after access ended.
TEST_F(AuthRoad, ExitWhileABoxIsOpenStartsNoWorkUntilTheBoxCloses)
{
    ASSERT_NO_FATAL_FAILURE(StartWithTheRebindQuestionOpen());
    // A session that comes back sets the connect timer; the exit follows at once.
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_REMOTE_CONNECT));
    ASSERT_TRUE(road.Agent().Post(WM_AGENT_CLOSE));
    ASSERT_TRUE(CartSees(L"drawer access ended")) << Transcript();
    from = road.Cart().Mark();
    EXPECT_FALSE(CartSees(L"access state", kNothingMs)) << Transcript();
    // Nor does the cart's arrival start a worker again.
    EXPECT_TRUE(road.Agent().SendDeviceArrival(road.Cart().GetDevicePath()));
    EXPECT_FALSE(CartSees(L"access state", kNothingMs)) << Transcript();
    EXPECT_TRUE(road.Agent().IsRunning()) << "the box keeps the agent's loop alive";
    ASSERT_TRUE(road.Boxes().Press(IDYES));
    EXPECT_TRUE(road.Agent().WaitForExit(kStepMs));
    EXPECT_EQ(0u, CartCount(L"cart bound to"));
}

TEST_F(AuthRoad, RefusalByACartBoundHereShowsAccessDeniedAndAsksNothing)
{
    AgentRoadOptions options;
    options.cartArguments = L"--refuse --bound " + CAgentRoad::ComputerName();
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(road.Boxes().WaitForBox(kStepMs));
    EXPECT_EQ(ScenarioUtf8(road.Boxes().GetText()), CAgentRoad::Text(IDS_AUTH_DRAWER_ACCESS_FAILED, 5u));
    EXPECT_TRUE(road.Boxes().Press(IDOK));
    EXPECT_FALSE(CartSees(L"cart bound to " + computer, kNothingMs)) << Transcript();
}

TEST_F(AuthRoad, LockEndsAccessAndStopsPollingUntilUnlock)
{
    Start();
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_LOCK));
    ASSERT_TRUE(CartSees(L"drawer access ended")) << Transcript();
    // A status that was on its way when the session went away stops the polling for good.
    EXPECT_TRUE(road.WaitForCartQuiet(L"access state", kNothingMs, kStepMs)) << Transcript();
    EXPECT_TRUE(road.Agent().WaitForConnected(0, kStepMs));
    // A second lock changes nothing.
    const size_t ended = CartCount(L"drawer access ended");
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_LOCK));
    Sleep(500);
    EXPECT_EQ(ended, CartCount(L"drawer access ended"));
}

class AgentUnlock : public AuthRoad, public ::testing::WithParamInterface<RetryCase> {};

// After an unlock the agent polls again; with retry configured it also starts a sign-in on
// its own, without it only the drawer button does.
TEST_P(AgentUnlock, StartsASignInOnItsOwnOnlyWithRetry)
{
    AgentRoadOptions options;
    options.retry = GetParam().retry;
    Start(options);
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_LOCK));
    ASSERT_TRUE(road.WaitForCartQuiet(L"access state", 700, kStepMs));
    from = road.Cart().Mark();
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_UNLOCK));
    ASSERT_TRUE(CartSees(L"access state")) << Transcript();
    if (GetParam().retry)
    {
        EXPECT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();
        return;
    }
    EXPECT_FALSE(road.WaitForJournal("Auth 8", 1, kNothingMs));
    ASSERT_TRUE(road.Press());
    EXPECT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();
}

INSTANTIATE_TEST_SUITE_P(Settings, AgentUnlock,
                         ::testing::Values(RetryCase{"WithRetry", true}, RetryCase{"WithoutRetry", false}),
                         RetryCase::Name);

TEST_F(AuthRoad, FailingStartIsTriedAgainEvery500MsAtMostFiveTimes)
{
    AgentRoadOptions options;
    options.skipFirstAutoStart = false;
    options.signOn = {L"StartResult=0x80004005"};
    ASSERT_TRUE(road.Start(options)) << ScenarioUtf8(road.GetErrorText().c_str());

    // The time each start reached the product, as the journal grows; after the sixth, a
    // while longer to see that no seventh comes.
    std::vector<ULONGLONG> starts;
    ULONGLONG end = GetTickCount64() + 12000;
    while (GetTickCount64() < end)
    {
        const size_t count = road.CountJournal("Auth 8");
        while (starts.size() < count)
        {
            starts.push_back(GetTickCount64());
            if (starts.size() == 6)
                end = GetTickCount64() + 2000;
        }
        Sleep(10);
    }
    ASSERT_EQ(6u, starts.size()) << "one start and five retries";
    for (size_t i = 1; i < starts.size(); ++i)
    {
        EXPECT_GE(starts[i] - starts[i - 1], 400u) << "retry " << i;
        EXPECT_LE(starts[i] - starts[i - 1], 2000u) << "retry " << i;
    }
}

// The product's report of a prompt may already be on its way when a lock ends that prompt.
// It must not count for the next prompt, which nobody has answered: nothing is granted.
TEST_F(AuthRoad, ReportOfAPromptEndedByALockGrantsNothingAtTheNextPrompt)
{
    AgentRoadOptions options;
    options.signOn = {L"CallbackDelayMs=2500", L"ReportAfterClose=1"};
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(L"sign-in prompt open")) << Transcript();
    road.ConfigureSignOn({L"Principal=nurse@" + computer, L"Methods=1", L"Callback=0"});
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_LOCK));
    ASSERT_TRUE(road.Agent().PostSessionChange(WTS_SESSION_UNLOCK));
    ASSERT_TRUE(road.WaitForJournal("Auth 8", 2, kStepMs));
    const size_t closes = road.CountJournal("Auth 9");
    ASSERT_TRUE(road.WaitForJournal("Callback", 1, kStepMs));
    EXPECT_FALSE(CartSees(L"drawer access granted", kNothingMs)) << Transcript();
    // Nor did the old report close the prompt that is open now.
    EXPECT_EQ(closes, road.CountJournal("Auth 9"));
}

TEST_F(AuthRoad, ButtonWhileTheSignInPromptIsOpenStartsNothing)
{
    AgentRoadOptions options;
    options.signOn = {L"CallbackDelayMs=2500"};
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(L"sign-in prompt open")) << Transcript();
    // Polling stops while the prompt is open; the button is not even read.
    ASSERT_TRUE(road.Cart().Press());
    EXPECT_FALSE(road.WaitForJournal("Auth 8", 2, kNothingMs));
    ASSERT_TRUE(road.Cart().Release());
    EXPECT_TRUE(CartSees(Granted(L"nurse", 2))) << Transcript();
    EXPECT_EQ(1u, road.CountJournal("Auth 8"));
}

// While another process reports a Citrix session of this user, this agent leaves the cart
// alone: it stops polling and ignores the button. When that session ends it ends access
// through its worker and watches the button again.
TEST_F(AuthRoad, CitrixSessionNoticeStopsPollingUntilItsEnd)
{
    Start();
    ASSERT_TRUE(road.Agent().Post(WM_AGENT_REMOTE_SESSION, 1));
    ASSERT_TRUE(road.WaitForCartQuiet(L"access state", kNothingMs, kStepMs)) << Transcript();
    ASSERT_TRUE(road.Cart().Press());
    EXPECT_FALSE(road.WaitForJournal("Auth 8", 1, kNothingMs));
    EXPECT_TRUE(road.Log().WaitForText("Citrix Remote Session Started.", kStepMs));

    from = road.Cart().Mark();
    ASSERT_TRUE(road.Agent().Post(WM_AGENT_REMOTE_SESSION, 0));
    EXPECT_TRUE(CartSees(L"drawer access ended")) << Transcript();
    // Ending access let go of the button; the next press is this agent's again.
    ASSERT_TRUE(CartSees(L"access state")) << Transcript();
    // Access was ended through the worker, not with a second transport beside it (which
    // logs its own success before the polling resumes).
    EXPECT_EQ(std::string::npos, road.Log().NewText().find(CAgentRoad::Text(IDS_AUTH_ACCESS_ENDED)));
    ASSERT_TRUE(road.Press());
    EXPECT_TRUE(road.WaitForJournal("Auth 8", 1, kStepMs));
}
}

// The agent decides against the test domain: a user of a group nested in the listed one is
// granted, a user of another group refused; with Domain Users listed, a user whose only
// link to it is her primary group is granted.
TEST_F(AuthRoad, DomainUsersAreDecidedByTheDomainController_TestDomain)
{
    AgentRoadOptions options;
    options.testDomain = true;
    options.user = L"nina";
    options.groups = L"Cart Nurses";
    Start(options);
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(Granted(L"nina", 2))) << Transcript();

    road.ConfigureSignOn({L"Principal=oscar@hq.example.com", L"Methods=1"});
    ASSERT_TRUE(road.Press());
    ASSERT_TRUE(CartSees(L"user oscar is not authorized")) << Transcript();
    ASSERT_TRUE(road.Boxes().WaitForBox(kStepMs));
    EXPECT_TRUE(road.Boxes().Press(IDOK));

    options.groups = L"Domain Users";
    ASSERT_TRUE(road.WriteConfig(options)) << ScenarioUtf8(road.GetErrorText().c_str());
    ASSERT_TRUE(road.Agent().Post(WM_AGENT_RELOAD_SETTINGS));
    road.ConfigureSignOn({L"Principal=paula@hq.example.com", L"Methods=1"});
    ASSERT_TRUE(road.Press());
    EXPECT_TRUE(CartSees(Granted(L"paula", 2))) << Transcript();
}
