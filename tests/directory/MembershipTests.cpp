#include "tests/directory/DirectoryTestSupport.h"
#include <chrono>

namespace
{
struct ListCase
{
    const wchar_t* name;   // test name suffix
    const wchar_t* user;
    const wchar_t* domain; // "COMPUTER" stands for this computer's name
    const wchar_t* groups;
    bool member;
    // The answer needs the domain's directory (rows decided by the list's form or by the
    // computer's own groups alone run against the stand-in only).
    bool asksDomain = true;
};

std::wstring Resolve(const wchar_t* text, const std::wstring& computer)
{
    std::wstring out(text);
    for (size_t at; (at = out.find(L"COMPUTER")) != std::wstring::npos;)
        out.replace(at, 8, computer);
    return out;
}

// Keeps the case names readable in test listings.
void PrintTo(const ListCase& c, std::ostream* out)
{
    *out << std::string(c.name, c.name + wcslen(c.name));
}

const char* WhereName(Where where)
{
    return where == Where::StandIn ? "StandIn" : "TestDomain";
}

// Each row runs against the stand-in and against the test domain.
class GroupListForms : public DirectoryTest, public ::testing::WithParamInterface<std::tuple<ListCase, Where>>
{
};
}

TEST_P(GroupListForms, DecidesMembershipFromTheListAsWritten)
{
    const ListCase& c = std::get<0>(GetParam());
    Use(std::get<1>(GetParam()));
    CADQuery query;
    EXPECT_EQ(c.member ? TRUE : FALSE,
              query.IsGroupMember(m_root.c_str(), c.user, Resolve(c.domain, m_computer).c_str(),
                                  Resolve(c.groups, m_computer).c_str()))
        << "user " << std::string(c.user, c.user + wcslen(c.user)) << ", list "
        << std::string(c.groups, c.groups + wcslen(c.groups));
}

const ListCase kListCases[] = {
        // Separator and domain forms.
        ListCase{ L"BareGroupTakesTheUsersDomain", L"alice", L"HQ", L"Staff", true },
        ListCase{ L"SecondEntryAfterSeparator", L"alice", L"HQ", L"Operators;Staff", true },
        ListCase{ L"SemicolonListWithDomainPrefix", L"bob", L"HQ", L"Staff;HQ\\Operators", true },
        ListCase{ L"DnsDomainPrefix", L"alice", L"hq.example.com", L"hq.example.com\\Staff", true },
        ListCase{ L"DomainPrefixIsCaseInsensitive", L"alice", L"hq", L"hQ\\staff", true },
        ListCase{ L"NoListedGroupHoldsTheUser", L"alice", L"HQ", L"Operators;Outer", false },
        ListCase{ L"OtherDomainPrefixNeverMatches", L"alice", L"HQ", L"OTHER\\Staff", false, false },
        ListCase{ L"UserNamedDirectly", L"alice", L"HQ", L"Operators;HQ\\alice", true, false },
        ListCase{ L"UserNamedBare", L"alice", L"HQ", L"alice", true, false },
        ListCase{ L"UserOfAnotherDomainNamedDirectly", L"alice", L"HQ", L"OTHER\\alice", false, false },
        // Nesting two and more levels deep.
        ListCase{ L"NestedOneLevel", L"carol", L"HQ", L"Middle", true },
        ListCase{ L"NestedTwoLevels", L"carol", L"HQ", L"Outer", true },
        ListCase{ L"NestedGroupDoesNotHoldOthers", L"alice", L"HQ", L"Outer", false },
        // Circular nesting ends, with or without the user inside.
        ListCase{ L"CycleWithoutTheUserEnds", L"alice", L"HQ", L"CycleA", false },
        ListCase{ L"CycleWithTheUserInside", L"frank", L"HQ", L"CycleA", true },
        ListCase{ L"LocalCycleEnds", L"kiosk", L"COMPUTER", L"LoopA", false, false },
        // Domain accounts in local groups of this computer.
        ListCase{ L"DomainUserInLocalGroupByComputerPrefix", L"alice", L"HQ", L"COMPUTER\\Cart Users", true, false },
        ListCase{ L"BareNameFallsBackToLocalGroup", L"alice", L"HQ", L"Cart Users", true },
        // Only a bare name that is no directory object at all is a local group.
        ListCase{ L"DomainPrefixedNameTheDirectoryLacksIsNeverALocalGroup", L"alice", L"HQ", L"HQ\\Cart Users", false },
        ListCase{ L"BareNameOfADirectoryUserIsNotALocalGroup", L"alice", L"HQ", L"Ward Desk", false },
        ListCase{ L"DomainUserNotInLocalGroup", L"bob", L"HQ", L"Cart Users", false },
        ListCase{ L"DomainUserThroughDomainGroupInLocalGroup", L"dave", L"HQ", L"COMPUTER\\Administrators", true },
        // A local account is checked against local groups only.
        ListCase{ L"LocalUserInLocalGroup", L"kiosk", L"COMPUTER", L"Cart Users", true, false },
        ListCase{ L"LocalUserInNestedLocalGroups", L"helper", L"COMPUTER", L"Administrators", true, false },
        ListCase{ L"LocalUserWithDomainUsersNameSkipsDomainGroup", L"alice", L"COMPUTER", L"HQ\\Staff", false, false },
        ListCase{ L"LocalUserBareNameIsALocalGroup", L"alice", L"COMPUTER", L"Staff", false, false },
        ListCase{ L"LocalUserNotInLocalGroup", L"helper", L"COMPUTER", L"Cart Users", false, false },
        // Unknown domains are refused.
        ListCase{ L"UnknownUserDomain", L"alice", L"OTHER", L"Staff", false, false },
        // Bad entries are skipped and lose nothing of the rest of the list.
        ListCase{ L"EmptyEntriesAndTrailingSeparator", L"alice", L"HQ", L";;Operators; ;Staff;", true },
        ListCase{ L"WhitespaceAroundEntries", L"alice", L"HQ", L"  HQ \\ Staff  ", true },
        ListCase{ L"BackslashWithNothingAfterIt", L"alice", L"HQ", L"HQ\\;Staff", true },
        ListCase{ L"BackslashWithNothingBeforeIt", L"alice", L"HQ", L"\\Staff", false, false },
        ListCase{ L"OnlySeparatorsAndBlanks", L"alice", L"HQ", L" ; ;", false, false },
        ListCase{ L"UnknownGroupName", L"alice", L"HQ", L"HQ\\Nobody", false },
        // Every domain user's primary group, which the directory lists in neither the
        // group's members nor the user's memberOf, directly and through nesting.
        ListCase{ L"PrimaryGroupCounts", L"paula", L"HQ", L"Domain Users", true },
        ListCase{ L"PrimaryGroupOfAUserWithOtherGroups", L"alice", L"HQ", L"HQ\\Domain Users", true },
        ListCase{ L"PrimaryGroupNestedInAListedGroup", L"paula", L"HQ", L"Everyone Carts", true },
        ListCase{ L"PrimaryGroupIsNoOtherGroup", L"paula", L"HQ", L"Staff;Domain Admins", false },
        // What a real directory holds: a computer account bearing a user's name, names with
        // spaces and non-ASCII letters, a disabled account (its groups still answer: the
        // sign-on product decides who may sign in), a group twelve levels down.
        ListCase{ L"ComputerBearingTheUsersNameIsNotTheUser", L"alice", L"HQ", L"Workstations", false },
        ListCase{ L"NonAsciiNames", L"zo\u00EB", L"HQ", L"\u00C9quipe Soins", true },
        ListCase{ L"SpacesInNestedGroupNames", L"nina", L"HQ", L"Cart Nurses", true },
        ListCase{ L"DisabledAccountAnsweredByItsGroups", L"dora", L"HQ", L"Staff", true },
        ListCase{ L"TwelveLevelsDeep", L"deep", L"HQ", L"Chain0", true },
        ListCase{ L"TwelveLevelsDeepHoldNoOneElse", L"carol", L"HQ", L"Chain0", false },
};

std::vector<ListCase> DomainRows()
{
    std::vector<ListCase> rows;
    for (const ListCase& c : kListCases)
        if (c.asksDomain)
            rows.push_back(c);
    return rows;
}

std::string ListCaseName(const ::testing::TestParamInfo<std::tuple<ListCase, Where>>& info)
{
    const wchar_t* name = std::get<0>(info.param).name;
    return std::string(name, name + wcslen(name)) + "_" + WhereName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Directory, GroupListForms,
                         ::testing::Combine(::testing::ValuesIn(kListCases), ::testing::Values(Where::StandIn)),
                         ListCaseName);
INSTANTIATE_TEST_SUITE_P(Domain, GroupListForms,
                         ::testing::Combine(::testing::ValuesIn(DomainRows()), ::testing::Values(Where::TestDomain)),
                         ListCaseName);

namespace
{
struct FilterCase
{
    const char* name;
    const wchar_t* user;
    const wchar_t* groups;
    bool member;
    // The answer of the test domain, where an account name with * or \ cannot exist.
    bool domainMember;
};

void PrintTo(const FilterCase& c, std::ostream* out)
{
    *out << c.name;
}

class FilterEscaping : public DirectoryTest, public ::testing::WithParamInterface<std::tuple<FilterCase, Where>>
{
};
}

// Names that carry filter syntax are matched literally: a user named "*" or one whose name
// closes the filter early must not match every member of a group.
TEST_P(FilterEscaping, NamesAreMatchedLiterally)
{
    const FilterCase& c = std::get<0>(GetParam());
    Use(std::get<1>(GetParam()));
    const bool member = std::get<1>(GetParam()) == Where::StandIn ? c.member : c.domainMember;
    CADQuery query;
    EXPECT_EQ(member ? TRUE : FALSE, query.IsGroupMember(m_root.c_str(), c.user, L"HQ", c.groups));
}

INSTANTIATE_TEST_SUITE_P(
    Directory, FilterEscaping,
    ::testing::Combine(
        ::testing::Values(FilterCase{ "StarUserIsNotEveryMember", L"*", L"Staff", false, false },
                          FilterCase{ "PrefixStarIsNotAWildcard", L"al*", L"Staff", false, false },
                          FilterCase{ "InjectedClauseDoesNotWidenTheFilter", L"*)(objectClass=user", L"Staff", false, false },
                          FilterCase{ "InjectedPrefixClauseIsLiteral", L"al*)(cn=*", L"HQ\\Staff", false, false },
                          FilterCase{ "StarUserIsMemberOfItsOwnGroup", L"*", L"Star Group", true, false },
                          FilterCase{ "ParenthesesInGroupName", L"eve", L"HQ\\Ops (HQ)", true, true },
                          FilterCase{ "ParenthesesGroupHoldsOnlyItsMembers", L"alice", L"HQ\\Ops (HQ)", false, false },
                          FilterCase{ "BackslashInUserName", L"back\\slash", L"Backslashers", true, false },
                          FilterCase{ "StarGroupNameIsNotAWildcard", L"alice", L"HQ\\*", false, false }),
        ::testing::Values(Where::StandIn, Where::TestDomain)),
    [](const ::testing::TestParamInfo<std::tuple<FilterCase, Where>>& info) {
        return std::string(std::get<0>(info.param).name) + "_" + WhereName(std::get<1>(info.param));
    });

TEST(DirectoryFilterValue, SpecialCharactersAreEscapedAsHexPairs)
{
    struct
    {
        std::wstring in;
        const wchar_t* out;
    } cases[] = {
        { L"alice", L"alice" },
        { L"*", L"\\2a" },
        { L"Ops (HQ)", L"Ops \\28HQ\\29" },
        { L"a\\b", L"a\\5cb" },
        { std::wstring(L"a\0b", 3), L"a\\00b" },
        { L"CN=x\\,y,DC=hq", L"CN=x\\5c,y,DC=hq" },
        { L"", L"" },
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.out, CADQuery::EscapeFilterValue(CStringEx(c.in)).GetString());
}

TEST_F(DirectoryTest, EmptyArgumentsAreRefusedWithoutAnyDirectoryCall)
{
    CADQuery query;
    const LONG before = DirectoryCalls();
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), nullptr, L"HQ", L"Staff"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"", L"HQ", L"Staff"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"  ", L"HQ", L"Staff"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", nullptr, L"Staff"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", L"", L"Staff"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", nullptr));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", L""));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", L"\t "));
    EXPECT_FALSE(query.IsLocalGroupMember(m_root.c_str(), nullptr, m_computer.c_str()));
    EXPECT_FALSE(query.IsLocalGroupMember(m_root.c_str(), L"kiosk", L""));
    EXPECT_EQ(before, DirectoryCalls());
}

TEST_F(DirectoryTest, UnknownDomainIsRefusedWithoutAnyDirectoryCall)
{
    TraceCollector traces;
    CADQuery query(traces.Window());
    const LONG before = DirectoryCalls();
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", L"OTHER", L"Staff;HQ\\Staff"));
    EXPECT_EQ(before, DirectoryCalls());
    traces.Pump();
    EXPECT_TRUE(traces.Contains(L"Domain OTHER is neither this computer nor its domain (hq.example.com, HQ)."));
}

TEST_F(DirectoryTest, LocalAccountSkipsDomainGroupsWithoutSearchingTheDirectory)
{
    TraceCollector traces;
    CADQuery query(traces.Window());
    const LONG before = DirectoryCalls();
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", m_computer.c_str(), L"HQ\\Staff;hq.example.com\\Staff"));
    EXPECT_EQ(before, DirectoryCalls());
    traces.Pump();
    EXPECT_TRUE(traces.Contains(L"The user is a local account; domain group HQ\\Staff skipped."));
}

TEST_F(DirectoryTest, LocalGroupsNeedNoSearchRoot)
{
    CADQuery query;
    EXPECT_TRUE(query.IsGroupMember(L"", L"kiosk", m_computer.c_str(), L"Cart Users"));
    EXPECT_FALSE(query.IsGroupMember(L"", L"alice", L"HQ", L"Staff"));
}

// While the domain's directory cannot be reached it cannot say that a name is no group of
// the domain: a local group that bears the configured name must not open the cart then.
TEST_F(DirectoryTest, UnreachableDirectoryNeverLetsABareNameFallBackToALocalGroup)
{
    UseDirectory(StandardDirectory() + L"\n[directory]\nldap_down = 1\n");
    TraceCollector traces;
    CADQuery query(traces.Window());
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", L"Cart Users"));
    traces.Pump();
    EXPECT_TRUE(traces.Contains(L"The directory could not say whether Cart Users exists; it is not taken as a group "
                                L"of this computer."));
    // A group written as this computer's own still answers during the outage.
    EXPECT_TRUE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", (m_computer + L"\\Cart Users").c_str()));
}

// A group's common name is unique only within its container: two groups may answer to one
// name, and only the one whose account name it is counts.
TEST_F(DirectoryTest, GroupNameThatSeveralGroupsAnswerToMeansTheOneWithThatAccountName)
{
    // The groups that only share the name come first, where the first answer would be taken.
    UseDirectory(LR"([domain]
dns = hq.example.com
[user alice]
[user mallory]
[group Pharmacy Temps]
cn = Pharmacy
container = Contractors
member = mallory
[group Pharmacy]
member = alice
[group Night Shift A]
cn = Night Shift
container = Ward A
member = alice
[group Night Shift B]
cn = Night Shift
container = Ward B
member = alice
)");
    TraceCollector traces;
    CADQuery query(traces.Window());
    EXPECT_TRUE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", L"Pharmacy"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"mallory", L"HQ", L"HQ\\Pharmacy"));
    traces.Pump();
    EXPECT_TRUE(traces.Contains(L"2 groups answer to the name Pharmacy"));
    // The group's own account name still finds it alone.
    EXPECT_TRUE(query.IsGroupMember(m_root.c_str(), L"mallory", L"HQ", L"Pharmacy Temps"));
    // A name that is no group's account name, only the common name of two, decides nothing.
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", L"HQ\\Night Shift"));
    EXPECT_TRUE(query.IsGroupMember(m_root.c_str(), L"alice", L"HQ", L"Night Shift B"));
}

TEST_F(DirectoryTest, DeepNestingIsFollowedToTheEnd)
{
    // Chain0 holds Chain1 ... Chain11 holds the user: twelve levels.
    std::wstring text = L"[domain]\ndns = hq.example.com\n[user deep]\n";
    for (int i = 0; i < 12; ++i)
        text += L"[group Chain" + std::to_wstring(i) + L"]\nmember = " +
                (i == 11 ? std::wstring(L"deep") : L"Chain" + std::to_wstring(i + 1)) + L"\n";
    UseDirectory(text);
    CADQuery query;
    EXPECT_TRUE(query.IsGroupMember(m_root.c_str(), L"deep", L"HQ", L"Chain0"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"nobody", L"HQ", L"Chain0"));
}

TEST_F(DirectoryTest, CircularNestingEndsPromptly)
{
    // A ring of five groups, entered at every point.
    std::wstring text = L"[domain]\ndns = hq.example.com\n[user outsider]\n";
    for (int i = 0; i < 5; ++i)
        text += L"[group Ring" + std::to_wstring(i) + L"]\nmember = Ring" + std::to_wstring((i + 1) % 5) + L"\n";
    UseDirectory(text);
    TraceCollector traces;
    CADQuery query(traces.Window());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"outsider", L"HQ", L"Ring0;Ring3"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    traces.Pump();
    EXPECT_TRUE(traces.Contains(L"Group Ring0 was already checked in this walk; skipped."));
}
