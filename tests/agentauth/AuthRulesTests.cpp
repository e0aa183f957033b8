// The rules the agent applies to a sign-in and to the cart's bound name, and the logon-screen
// decision.
#include "agent/CKelvoAuthRules.h"
#include "agent/KelvoLogonScreen.h"
#include <gtest/gtest.h>
#include <string>

namespace
{
struct PrincipalCase
{
    const char* name;
    const wchar_t* principal;
    const wchar_t* user;
    const wchar_t* domain;
};

void PrintTo(const PrincipalCase& c, std::ostream* os)
{
    *os << c.name;
}

class PrincipalSplit : public ::testing::TestWithParam<PrincipalCase> {};

TEST_P(PrincipalSplit, UserIsBeforeTheFirstAtSignAndTheDomainIsTheRest)
{
    CStringEx user = L"stale", domain = L"stale";
    KelvoAuthRules::SplitPrincipal(GetParam().principal, user, domain);
    EXPECT_STREQ(GetParam().user, user);
    EXPECT_STREQ(GetParam().domain, domain);
}

INSTANTIATE_TEST_SUITE_P(Principals, PrincipalSplit,
                         ::testing::Values(PrincipalCase{"UserAtDomain", L"alice@HQ", L"alice", L"HQ"},
                                           PrincipalCase{"SecondAtSignStaysInDomain", L"a@b@c", L"a", L"b@c"},
                                           PrincipalCase{"NoAtSign", L"kiosk", L"kiosk", L""},
                                           PrincipalCase{"NoUser", L"@HQ", L"", L"HQ"},
                                           PrincipalCase{"Empty", L"", L"", L""}),
                         [](const ::testing::TestParamInfo<PrincipalCase>& info) { return std::string(info.param.name); });

struct MethodCase
{
    const char* name;
    std::vector<CStringEx> items;
    BYTE flags;
    BYTE mode;
    bool firstHasName;
};

void PrintTo(const MethodCase& c, std::ostream* os)
{
    *os << c.name;
}

class MethodFlags : public ::testing::TestWithParam<MethodCase> {};

TEST_P(MethodFlags, ItemsAreOredByTheirLowByteAndGiveTheAccessMode)
{
    std::vector<BYTE> values;
    const BYTE flags = KelvoAuthRules::MethodFlags(GetParam().items, &values);
    EXPECT_EQ(GetParam().flags, flags);
    EXPECT_EQ(GetParam().mode, KelvoAuthRules::AccessMode(flags));
    ASSERT_EQ(GetParam().items.size(), values.size());
    if (!values.empty())
    {
        EXPECT_EQ(GetParam().firstHasName, KelvoAuthRules::MethodNameId(values[0]) != 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Methods, MethodFlags,
    ::testing::Values(MethodCase{"Card", {L"1"}, 0x01, 2, true},
                      MethodCase{"Fingerprint", {L"2"}, 0x02, 1, true},
                      MethodCase{"CardAndFingerprint", {L"3"}, 0x03, 2, true},  // both bits: the stronger mode wins
                      MethodCase{"SmartCard", {L"4"}, 0x04, 0, true},
                      MethodCase{"Ten", {L"10"}, 0x0A, 1, true},
                      MethodCase{"ElevenHasNoName", {L"11"}, 0x0B, 2, false},  // no name, still counted
                      MethodCase{"TwoItems", {L"4", L"2"}, 0x06, 1, true},
                      MethodCase{"LowByteOnly", {L"258"}, 0x02, 1, true},  // only the low byte counts
                      MethodCase{"NotANumber", {L"card"}, 0x00, 0, true},
                      MethodCase{"NoMethods", {}, 0x00, 0, false}),
    [](const ::testing::TestParamInfo<MethodCase>& info) { return std::string(info.param.name); });

struct BoundCase
{
    const char* name;
    const wchar_t* bound;     // as the cart reports it
    const wchar_t* computer;  // this computer's full name
    bool boundHere;
};

void PrintTo(const BoundCase& c, std::ostream* os)
{
    *os << c.name;
}

class BoundName : public ::testing::TestWithParam<BoundCase> {};

// The cart keeps 15 single-byte characters of the name it was bound to, so a longer or a
// non-ANSI computer name must be compared in that form, or the agent asks to rebind its own
// cart at every sign-in.
TEST_P(BoundName, IsComparedAsTheCartStoresIt)
{
    EXPECT_EQ(GetParam().boundHere, KelvoAuthRules::IsBoundTo(GetParam().bound, GetParam().computer));
}

INSTANTIATE_TEST_SUITE_P(
    Names, BoundName,
    ::testing::Values(BoundCase{"SameNameOtherCase", L"WARD7", L"ward7", true},
                      BoundCase{"LongNameCutTo15", L"WARD7-NURSES-ST", L"WARD7-NURSES-STATION-2", true},
                      BoundCase{"DifferentLastCharacter", L"WARD7-NURSES-ST", L"WARD7-NURSES-SX", false},
                      BoundCase{"OtherComputer", L"OTHER", L"WARD7", false},
                      BoundCase{"NotBound", L"", L"WARD7", false},
                      BoundCase{"CharacterOutsideCodePage", L"STATION-?", L"STATION-\x4E2D", true},
                      BoundCase{"AccentedOtherCase", L"STATION-\x00C4", L"station-\x00E4", true}),
    [](const ::testing::TestParamInfo<BoundCase>& info) { return std::string(info.param.name); });

using KelvoLogonScreen::LockState;

struct LogonCase
{
    const char* name;
    LockState lock;
    bool desktopOpens;
    std::vector<KelvoLogonScreen::Session> sessions;
    std::vector<KelvoLogonScreen::Process> processes;
    bool shown;
    const char* asked;   // the facts gathered, in order: Lock, Desktop, Processes, Sessions
};

void PrintTo(const LogonCase& c, std::ostream* os)
{
    *os << c.name;
}

// The facts of a case, noting which the decision asked for.
class CScriptedFacts : public KelvoLogonScreen::IFacts
{
public:
    explicit CScriptedFacts(const LogonCase& c) : m_case(c) {}
    LockState OwnLockState() override { return asked += 'L', m_case.lock; }
    bool InputDesktopOpens() override { return asked += 'D', m_case.desktopOpens; }
    std::vector<KelvoLogonScreen::Process> ListProcesses() override { return asked += 'P', m_case.processes; }
    std::vector<KelvoLogonScreen::Session> ListSessions() override { return asked += 'S', m_case.sessions; }
    std::string asked;

private:
    const LogonCase& m_case;
};

class LogonScreen : public ::testing::TestWithParam<LogonCase> {};

// The logon program runs as SYSTEM, which the agent's user may not open: the session it runs
// in is the one the process list states. The watch asks this twice a second, so the cheap
// facts come first and the lists are read only when those cannot rule the logon screen out.
TEST_P(LogonScreen, IsShownByALogonProgramListedInTheAgentsOwnSession)
{
    CScriptedFacts facts(GetParam());
    EXPECT_EQ(GetParam().shown, KelvoLogonScreen::Decide(facts, 3));
    EXPECT_EQ(GetParam().asked, facts.asked);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, LogonScreen,
    ::testing::Values(
        LogonCase{"OwnSession", LockState::Locked, false, {{3, false, true}}, {{3, L"explorer.exe"}, {3, L"LogonUI.exe"}}, true, "LPS"},
        LogonCase{"OtherSessionOnly", LockState::Locked, false, {{3, false, true}, {5, false, true}}, {{5, L"logonui.exe"}}, false, "LP"},
        LogonCase{"NoLogonProgram", LockState::Locked, false, {{3, false, true}}, {{3, L"explorer.exe"}, {3, L""}}, false, "LP"},
        LogonCase{"DisconnectedUserSession", LockState::Locked, false, {{3, false, true}, {4, true, true}}, {{3, L"logonui.exe"}}, false, "LPS"},
        LogonCase{"DisconnectedEmptySession", LockState::Locked, false, {{4, true, false}}, {{3, L"logonui.exe"}}, true, "LPS"},
        LogonCase{"NoSessionsListed", LockState::Locked, false, {}, {{3, L"LOGONUI.EXE"}}, true, "LPS"},
        LogonCase{"ImageThatOnlyBeginsLikeTheProgram", LockState::Locked, false, {}, {{3, L"logonui.exe.bak"}}, false, "LP"},
        LogonCase{"UnlockedSessionOnItsDesktop", LockState::Unlocked, true, {}, {{3, L"logonui.exe"}}, false, "LD"},
        LogonCase{"UnlockedFlagButInputDesktopClosed", LockState::Unlocked, false, {}, {{3, L"logonui.exe"}}, true, "LDPS"},
        LogonCase{"InputDesktopOpensWithoutLockState", LockState::Unknown, true, {}, {{3, L"logonui.exe"}}, false, "LD"},
        LogonCase{"InputDesktopClosedWithoutLockState", LockState::Unknown, false, {}, {{3, L"logonui.exe"}}, true, "LDPS"}),
    [](const ::testing::TestParamInfo<LogonCase>& info) { return std::string(info.param.name); });

double CommittedPrivateKb()
{
    double total = 0.0;
    MEMORY_BASIC_INFORMATION region;
    for (const BYTE* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);
         at = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize)
        total += region.State == MEM_COMMIT && region.Type == MEM_PRIVATE ? region.RegionSize / 1024.0 : 0.0;
    return total;
}

// The watch asks twice a second for as long as nobody signs in or locks, on a ward
// workstation a whole shift: 300 checks (two and a half minutes of it) keep no memory. What
// a check costs is the idle benchmark's figure (scripts/demo.sh --idle-cpu).
TEST(LogonScreenCheck, KeepsNoMemoryTickAfterTick)
{
    KelvoLogonScreen::Check();
    const double memory = CommittedPrivateKb();
    for (int tick = 0; tick < 300; ++tick)
        KelvoLogonScreen::Check();
    EXPECT_LT(CommittedPrivateKb() - memory, 512.0);
}
}
