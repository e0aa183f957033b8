// The reference model of the random tester, over time lines written by hand: each case is
// one order of events a real agent may meet, and the number of requests the model must
// name as what the cart may not receive.
#include "tests/random/CAgentModel.h"
#include <gtest/gtest.h>
#include <functional>

namespace
{
const wchar_t kComputer[] = L"WS01";

// Builds a time line entry by entry; tester events change a world that each carries.
class Lines
{
public:
    Lines()
    {
        m_world.principal = L"nurse@WS01";
    }
    Lines& Tester(ULONGLONG ms, RandomEventKind kind, const std::function<void(RandomWorldState&)>& change = {},
                  int value = 0)
    {
        if (change)
            change(m_world);
        TimelineEntry entry;
        entry.ms = ms;
        entry.source = TimelineEntry::Source::Tester;
        entry.event.kind = kind;
        entry.event.value = value;
        entry.world = m_world;
        m_entries.push_back(entry);
        return *this;
    }
    Lines& Cart(ULONGLONG ms, const char* text) { return Add(ms, TimelineEntry::Source::Cart, text); }
    Lines& Journal(ULONGLONG ms, const char* text) { return Add(ms, TimelineEntry::Source::Journal, text); }
    // A prompt started at `ms` whose product reports success `reportMs` later.
    Lines& Prompt(ULONGLONG ms, ULONGLONG reportMs)
    {
        return Journal(ms, "Auth 11").Journal(ms, "Auth 8 companion=1 callback=1").Journal(ms + reportMs, "Callback 9 0 thread=7")
            .Journal(ms + reportMs, "Auth 9");
    }
    const std::vector<TimelineEntry>& Entries() const { return m_entries; }

private:
    Lines& Add(ULONGLONG ms, TimelineEntry::Source source, const char* text)
    {
        TimelineEntry entry;
        entry.ms = ms;
        entry.source = source;
        entry.text = text;
        m_entries.push_back(entry);
        return *this;
    }

    RandomWorldState m_world;
    std::vector<TimelineEntry> m_entries;
};

struct ModelCase
{
    const char* name;
    std::function<Lines()> lines;
    size_t wrong;
};

void PrintTo(const ModelCase& c, std::ostream* os)
{
    *os << c.name;
}

void SetDelay(RandomWorldState& world, int delay)
{
    world.delayMs = delay;
}

const ModelCase kCases[] = {
    {"GrantForTheUserAndModeOfTheSignIn",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access granted to nurse on WS01 (mode 2)"); },
     0},
    {"GrantForAnEmptyUser",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access granted to  on WS01 (mode 0)"); },
     1},
    {"GrantWithAnotherMode",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { w.methods = L"2,4"; SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access granted to nurse on WS01 (mode 2)"); },
     1},
    {"GrantForAnotherComputer",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access granted to nurse on OTHER (mode 2)"); },
     1},
    {"GrantForAUserInNoGroup",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { w.principal = L"visitor@WS01"; SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access granted to visitor on WS01 (mode 2)"); },
     1},
    {"GrantForAStrangerPreAuthorizedByConfiguration",
     [] { return Lines().Tester(0, RandomEventKind::Reload, [](RandomWorldState& w) { w.preAuthorized = true; })
                        .Tester(10, RandomEventKind::SignOn, [](RandomWorldState& w) { w.principal = L"stranger@ELSEWHERE"; SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access granted to stranger on WS01 (mode 2)"); },
     0},
    {"GrantAfterTheGroupWasTakenFromTheConfigurationLongBefore",
     [] { return Lines().Tester(0, RandomEventKind::Reload, [](RandomWorldState& w) { w.groups.clear(); })
                        .Tester(10, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access granted to nurse on WS01 (mode 2)"); },
     1},
    {"GrantDecidedWhileTheGroupWasTakenAway",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Prompt(100, 100).Tester(210, RandomEventKind::Reload, [](RandomWorldState& w) { w.groups.clear(); })
                        .Cart(260, "drawer access granted to nurse on WS01 (mode 2)"); },
     0},
    {"GrantWithNoSignInReported",
     [] { return Lines().Journal(100, "Auth 8 companion=1 callback=1").Cart(260, "drawer access granted to nurse on WS01 (mode 2)"); },
     1},
    {"TwoGrantsForOneSignIn",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access granted to nurse on WS01 (mode 2)")
                        .Cart(300, "drawer access granted to nurse on WS01 (mode 2)"); },
     1},
    {"GrantQueuedJustBeforeALock",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Prompt(100, 100).Tester(240, RandomEventKind::Lock, [](RandomWorldState& w) { w.session = RandomWorldState::Session::Locked; })
                        .Cart(260, "drawer access granted to nurse on WS01 (mode 2)").Cart(262, "drawer access ended"); },
     0},
    {"GrantAfterTheEndAccessOfALock",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Prompt(100, 100).Tester(240, RandomEventKind::Lock, [](RandomWorldState& w) { w.session = RandomWorldState::Session::Locked; })
                        .Cart(250, "drawer access ended").Cart(262, "drawer access granted to nurse on WS01 (mode 2)"); },
     1},
    {"GrantForASignInAfterTheUnlockBehindTheLocksLateEndAccess",
     [] { return Lines().Tester(0, RandomEventKind::CartSilent, [](RandomWorldState& w) { w.cartDelayMs = -1; })
                        .Tester(10, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Tester(240, RandomEventKind::Lock).Tester(320, RandomEventKind::Unlock)
                        .Prompt(400, 100).Cart(3300, "drawer access ended")
                        .Cart(3310, "drawer access granted to nurse on WS01 (mode 2)"); },
     0},
    {"GrantLongAfterTheCartWasUnplugged",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Prompt(100, 100).Tester(220, RandomEventKind::CartRemoved, [](RandomWorldState& w) { w.cartPresent = false; })
                        .Tester(900, RandomEventKind::CartArrived, [](RandomWorldState& w) { w.cartPresent = true; })
                        .Cart(1500, "drawer access granted to nurse on WS01 (mode 2)"); },
     1},
    {"GrantQueuedBehindALateCartBeforeAnArrival",
     [] { return Lines().Tester(0, RandomEventKind::CartLate, [](RandomWorldState& w) { w.cartDelayMs = 2000; })
                        .Tester(10, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 100); })
                        .Prompt(100, 100).Tester(300, RandomEventKind::CartArrived)
                        .Cart(2250, "drawer access granted to nurse on WS01 (mode 2)"); },
     0},
    {"GrantQueuedBehindALateCartForAnEarlierSignInUnderItsGroups",
     [] { return Lines().Tester(0, RandomEventKind::CartLate, [](RandomWorldState& w) { w.cartDelayMs = 2000; })
                        .Prompt(100, 100).Tester(300, RandomEventKind::Reload, [](RandomWorldState& w) { w.groups.clear(); })
                        .Tester(400, RandomEventKind::Lock).Tester(410, RandomEventKind::Unlock)
                        .Prompt(500, 100).Cart(2250, "drawer access granted to nurse on WS01 (mode 2)"); },
     0},
    {"GrantFromAReportThatCameAfterItsPromptWasClosed",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { w.reportAfterClose = true; SetDelay(w, 1500); })
                        .Journal(100, "Auth 8 companion=1 callback=1")
                        .Tester(300, RandomEventKind::Lock).Journal(310, "Auth 9").Journal(310, "Auth 11")
                        .Tester(400, RandomEventKind::Unlock, [](RandomWorldState& w) { w.callback = false; w.reportAfterClose = false; })
                        .Journal(500, "Auth 11").Journal(510, "Auth 8 companion=1 callback=1")
                        .Journal(1600, "Callback 9 0 thread=8")
                        .Cart(1700, "drawer access granted to nurse on WS01 (mode 2)"); },
     1},
    {"GrantFromAReportWhileTheSessionWasLocked",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { SetDelay(w, 900); })
                        .Tester(50, RandomEventKind::Lock).Journal(100, "Auth 8 companion=1 callback=1")
                        .Journal(1000, "Callback 9 0 thread=8").Cart(1100, "drawer access granted to nurse on WS01 (mode 2)"); },
     1},
    {"RebindAfterYesForAnAdministrator",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { w.principal = L"kiosk@WS01"; SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access refused to kiosk on WS01 (cart bound to another computer)")
                        .Tester(900, RandomEventKind::Answer, {}, IDYES).Cart(910, "cart bound to WS01")
                        .Cart(920, "drawer access granted to kiosk on WS01 (mode 2)"); },
     0},
    {"RebindWithoutYes",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { w.principal = L"kiosk@WS01"; SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access refused to kiosk on WS01 (cart bound to another computer)")
                        .Tester(900, RandomEventKind::Answer, {}, IDNO).Cart(910, "cart bound to WS01"); },
     1},
    {"RebindAfterYesThatCameAfterAnUnplugAndArrival",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { w.principal = L"kiosk@WS01"; SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "drawer access refused to kiosk on WS01 (cart bound to another computer)")
                        .Tester(400, RandomEventKind::CartRemoved).Tester(500, RandomEventKind::CartArrived)
                        .Tester(1500, RandomEventKind::Answer, {}, IDYES).Cart(1510, "cart bound to WS01")
                        .Cart(1520, "drawer access granted to  on WS01 (mode 0)"); },
     2},
    {"RefusedUserToldOnceForItsSignIn",
     [] { return Lines().Tester(0, RandomEventKind::SignOn, [](RandomWorldState& w) { w.principal = L"visitor@WS01"; SetDelay(w, 100); })
                        .Prompt(100, 100).Cart(260, "user visitor is not authorized"); },
     0},
};

class AgentModel : public ::testing::TestWithParam<ModelCase> {};

TEST_P(AgentModel, NamesWhatTheCartMayNotReceive)
{
    CAgentModel model(kComputer);
    model.Follow(GetParam().lines().Entries());
    const std::vector<std::string> wrong = model.TakeWrongGrants();
    std::string found;
    for (const std::string& line : wrong)
        found += line + "\n";
    EXPECT_EQ(GetParam().wrong, wrong.size()) << found;
}

INSTANTIATE_TEST_SUITE_P(Orders, AgentModel, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ModelCase>& info) { return std::string(info.param.name); });
}
