#include "tests/directory/DirectoryTestSupport.h"
#include <regex>

namespace
{
struct AdminCase
{
    const char* name;
    const wchar_t* user;
    const wchar_t* domain; // "COMPUTER" stands for this computer's name
    bool withRoot;
    bool member;
};

void PrintTo(const AdminCase& c, std::ostream* out)
{
    *out << c.name;
}

class Administrators : public DirectoryTest, public ::testing::WithParamInterface<AdminCase>
{
};
}

TEST_P(Administrators, AcceptsLocalAndDnsDomainAccountsOfTheGroup)
{
    const AdminCase& c = GetParam();
    const std::wstring domain = wcscmp(c.domain, L"COMPUTER") == 0 ? m_computer : c.domain;
    CADQuery query;
    EXPECT_EQ(c.member ? TRUE : FALSE,
              query.IsLocalGroupMember(c.withRoot ? m_root.c_str() : L"", c.user, domain.c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    Directory, Administrators,
    ::testing::Values(AdminCase{ "LocalDirectMember", L"kiosk", L"COMPUTER", false, true },
                      AdminCase{ "LocalMemberTwoLocalGroupsDown", L"helper", L"COMPUTER", false, true },
                      AdminCase{ "LocalNonMember", L"alice", L"COMPUTER", false, false },
                      AdminCase{ "UnknownLocalAccount", L"nobody", L"COMPUTER", true, false },
                      AdminCase{ "DnsDomainAccountThroughDomainGroup", L"dave", L"hq.example.com", true, true },
                      AdminCase{ "DnsDomainIsCaseInsensitive", L"dave", L"HQ.Example.COM", true, true },
                      AdminCase{ "DnsDomainAccountNeedsSearchRoot", L"dave", L"hq.example.com", false, false },
                      AdminCase{ "NetBiosDomainNameIsRefused", L"dave", L"HQ", true, false },
                      AdminCase{ "DnsDomainNonMember", L"alice", L"hq.example.com", true, false },
                      AdminCase{ "UnknownDomain", L"dave", L"other.example.com", true, false }),
    [](const ::testing::TestParamInfo<AdminCase>& info) { return std::string(info.param.name); });

TEST_F(DirectoryTest, WorkgroupComputerAcceptsOnlyLocalAccounts)
{
    UseWorkgroup();
    CADQuery query;
    EXPECT_TRUE(CADQuery::GetDomainDnsName().IsEmpty());
    EXPECT_TRUE(query.IsLocalGroupMember(m_root.c_str(), L"kiosk", m_computer.c_str()));
    EXPECT_FALSE(query.IsLocalGroupMember(m_root.c_str(), L"dave", L"hq.example.com"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"dave", L"HQ", L"Domain Admins"));
}

TEST_F(DirectoryTest, DomainNamesComeFromTheJoinedDomain)
{
    CADQuery query;
    EXPECT_STREQ(L"hq.example.com", CADQuery::GetDomainDnsName().GetString());
    EXPECT_STREQ(L"HQ", CADQuery::GetDomainNetBiosName().GetString());
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = ARRAYSIZE(name);
    ASSERT_TRUE(GetComputerNameW(name, &size));
    EXPECT_EQ(std::wstring(name), m_computer);
}

TEST_F(DirectoryTest, NetBiosNameIsDerivedFromTheDnsNameByThePlatform)
{
    UseDnsNameOnlyJoin();
    wchar_t expected[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = ARRAYSIZE(expected);
    ASSERT_TRUE(DnsHostnameToComputerNameW(L"hq.example.com", expected, &size));
    CADQuery query;
    EXPECT_STREQ(expected, CADQuery::GetDomainNetBiosName().GetString());
    EXPECT_STREQ(L"hq.example.com", CADQuery::GetDomainDnsName().GetString());
}

TEST_F(DirectoryTest, SearchRootIsTheDefaultNamingContext)
{
    TraceCollector traces;
    CADQuery query(traces.Window());
    CStringEx root;
    ASSERT_TRUE(query.GetSearchRoot(root));
    EXPECT_STREQ(L"LDAP://DC=hq,DC=example,DC=com", root.GetString());
    traces.Pump();
    EXPECT_TRUE(traces.Contains(L"Directory search root: LDAP://DC=hq,DC=example,DC=com."));
}

TEST_F(DirectoryTest, SearchRootIsEmptyWhenTheDirectoryCannotBeReached)
{
    // A computer without a domain: the stand-in answers "server not operational".
    UseDirectory(L"[computer]\nname = .\n[local user kiosk]\n");
    TraceCollector traces;
    CADQuery query(traces.Window());
    CStringEx root(L"stale");
    EXPECT_FALSE(query.GetSearchRoot(root));
    EXPECT_TRUE(root.IsEmpty());
    traces.Pump();
    EXPECT_TRUE(traces.Contains(L"Opening LDAP://RootDSE failed: 0x8007203A."));
}

TEST_F(DirectoryTest, TracesArePostedAsBstrsWithALocalTimePrefix)
{
    TraceCollector traces;
    CADQuery query(traces.Window());
    ASSERT_TRUE(query.IsLocalGroupMember(m_root.c_str(), L"dave", L"hq.example.com"));
    traces.Pump();
    ASSERT_FALSE(traces.texts.empty());
    for (WPARAM level : traces.levels)
        EXPECT_EQ(1u, level);
    // Short date, 24-hour time and unpadded milliseconds, then the text.
    const std::wregex prefix(LR"(^\S+ \d{1,2}:\d{2}:\d{2}\.\d{1,3} \S.*)");
    for (const std::wstring& text : traces.texts)
        EXPECT_TRUE(std::regex_match(text, prefix)) << std::string(text.begin(), text.end());
    EXPECT_TRUE(traces.Contains(L" dave is a domain account."));
    EXPECT_TRUE(traces.Contains(L"Checking nested group WinNT://HQ/Domain Admins."));
    EXPECT_TRUE(traces.Contains(L"WinNT://HQ/dave is a member of WinNT://HQ/Domain Admins."));
    EXPECT_TRUE(traces.Contains(L"dave is a member of the local group Administrators."));
}

TEST_F(DirectoryTest, NothingIsPostedWithoutATraceWindow)
{
    TraceCollector traces;
    CADQuery query;
    EXPECT_TRUE(query.IsGroupMember(m_root.c_str(), L"carol", L"HQ", L"Outer"));
    traces.Pump();
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, CADQuery::WM_ADQUERY_TRACE, CADQuery::WM_ADQUERY_TRACE, PM_NOREMOVE));
    EXPECT_TRUE(traces.texts.empty());
}

TEST_F(DirectoryTest, TracesToAClosedWindowAreDropped)
{
    // The posts fail; each string is freed by the query instead, and the answer stands.
    HWND window;
    {
        TraceCollector traces;
        window = traces.Window();
    }
    CADQuery query(window);
    EXPECT_TRUE(query.IsGroupMember(m_root.c_str(), L"carol", L"HQ", L"Outer"));
}

// A WinNT path is built from the user's name, so a name that carries the path separator
// could pose as an account of another container: "COMPUTER/kiosk" of the domain would
// read as this computer's own kiosk. Such a name is no account name and is never a member.
TEST_F(DirectoryTest, UserNameWithAPathSeparatorIsNeverTakenForAnotherAccount)
{
    TraceCollector traces;
    CADQuery query(traces.Window());
    const std::wstring forged = m_computer + L"/kiosk";
    const LONG before = DirectoryCalls();
    EXPECT_FALSE(query.IsLocalGroupMember(m_root.c_str(), forged.c_str(), L"hq.example.com"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), forged.c_str(), L"HQ", (m_computer + L"\\Cart Users").c_str()));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), forged.c_str(), L"HQ", L"Cart Users;Administrators"));
    EXPECT_FALSE(query.IsGroupMember(m_root.c_str(), L"HQ/alice", m_computer.c_str(), L"Cart Users"));
    EXPECT_EQ(before, DirectoryCalls()) << "refused before any directory call";
    traces.Pump();
    EXPECT_TRUE(traces.Contains(L"User name " + forged + L" is not a valid account name."));
    // The genuine accounts still are members.
    EXPECT_TRUE(query.IsLocalGroupMember(m_root.c_str(), L"kiosk", m_computer.c_str()));
    EXPECT_TRUE(query.IsGroupMember(m_root.c_str(), L"kiosk", m_computer.c_str(), L"Cart Users"));
}
