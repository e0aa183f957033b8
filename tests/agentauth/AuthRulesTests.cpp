// The rules the agent applies to a sign-in and to the cart's bound name, and the logon-screen
// decision.
#include "agent/CKelvoAuthRules.h"
#include "agent/KelvoLogonScreen.h"
#include "common/CHandleEx.h"
#include <gtest/gtest.h>

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

// One entry of the machine's process list as WTSEnumerateProcessesW gives it.
struct ListedProcess
{
    const wchar_t* image;   // null: the list named no image
    DWORD sessionId;
};

struct LogonCase
{
    const char* name;
    std::vector<KelvoLogonScreen::Session> sessions;
    std::vector<ListedProcess> processes;
    bool shown;
};

void PrintTo(const LogonCase& c, std::ostream* os)
{
    *os << c.name;
}

class LogonScreen : public ::testing::TestWithParam<LogonCase> {};

// The logon program runs as SYSTEM, which the agent's user may not open: the session it
// runs in is the one the process list states. The listed process IDs belong to no running
// process, so a check that looked a process up by its ID could not place it anywhere.
TEST_P(LogonScreen, IsShownByALogonProgramListedInTheAgentsOwnSession)
{
    std::vector<WTS_PROCESS_INFOW> list;
    DWORD unusedId = 0x7FFFFF00;
    for (const ListedProcess& process : GetParam().processes)
    {
        ASSERT_FALSE(CHandleEx(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, unusedId)).IsValid());
        list.push_back({process.sessionId, unusedId, const_cast<LPWSTR>(process.image), nullptr});
        unusedId += 4;
    }
    EXPECT_EQ(GetParam().shown, KelvoLogonScreen::IsShown(GetParam().sessions, list.data(),
                                                          static_cast<DWORD>(list.size()), 3));
}

INSTANTIATE_TEST_SUITE_P(
    Machines, LogonScreen,
    ::testing::Values(LogonCase{"OwnSession", {{3, false, true}}, {{L"explorer.exe", 3}, {L"LogonUI.exe", 3}}, true},
                      LogonCase{"OtherSessionOnly", {{3, false, true}, {5, false, true}}, {{L"logonui.exe", 5}}, false},
                      LogonCase{"NoLogonProgram", {{3, false, true}}, {{L"explorer.exe", 3}, {nullptr, 3}}, false},
                      LogonCase{"DisconnectedUserSession", {{3, false, true}, {4, true, true}}, {{L"logonui.exe", 3}}, false},
                      LogonCase{"DisconnectedEmptySession", {{4, true, false}}, {{L"logonui.exe", 3}}, true},
                      LogonCase{"NoSessionsListed", {}, {{L"LOGONUI.EXE", 3}}, true}),
    [](const ::testing::TestParamInfo<LogonCase>& info) { return std::string(info.param.name); });
}
