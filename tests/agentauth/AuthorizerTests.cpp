// Who may open the cart: configuration, directory groups and the local administrators,
// decided against the directory stand-in.
#include "agent/CKelvoAuthorizer.h"
#include "resources/KVIdsAgentAuth.h"
#include "resources/KVIdsDirectory.h"
#include "tests/directory/DirectoryTestSupport.h"

namespace
{
using Verdict = CKelvoAuthorizer::Verdict;

struct AuthorizeCase
{
    const char* name;
    bool preAuthorized;
    const wchar_t* groups;
    const wchar_t* user;
    const wchar_t* domain;  // "." is this computer
    Verdict verdict;
    UINT message;
};

void PrintTo(const AuthorizeCase& c, std::ostream* os)
{
    *os << c.name;
}

class Authorize : public DirectoryTest, public ::testing::WithParamInterface<AuthorizeCase> {};

TEST_P(Authorize, DecidesFromConfigurationGroupsAndLocalAdministrators)
{
    const AuthorizeCase& c = GetParam();
    const std::wstring domain = std::wstring(c.domain) == L"." ? m_computer : c.domain;
    CADQuery query;
    CKelvoAuthorizer authorizer(query);
    CKelvoAuthorizer::Settings settings;
    settings.preAuthorized = c.preAuthorized;
    settings.groupList = c.groups;

    const LONG callsBefore = DirectoryCalls();
    const CKelvoAuthorizer::Decision decision =
        authorizer.Authorize(settings, c.user, domain.c_str(), m_computer.c_str());
    EXPECT_EQ(c.verdict, decision.verdict);
    EXPECT_EQ(c.message, decision.messageId);
    // Configuration alone and a missing domain never reach the directory.
    if (c.verdict == Verdict::PreAuthorized || c.verdict == Verdict::NoDomain)
    {
        EXPECT_EQ(callsBefore, DirectoryCalls());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Users, Authorize,
    ::testing::Values(
        AuthorizeCase{"PreAuthorizedWithoutDirectory", true, L"Staff", L"nobody", L"", Verdict::PreAuthorized, 0},
        AuthorizeCase{"NoDomain", false, L"Staff", L"alice", L"", Verdict::NoDomain, IDS_AUTH_NO_DOMAIN},
        AuthorizeCase{"DomainGroupMember", false, L"Staff", L"alice", L"HQ", Verdict::Authorized, 0},
        AuthorizeCase{"NestedGroupMember", false, L"Operators;Outer", L"carol", L"HQ", Verdict::Authorized, 0},
        AuthorizeCase{"NotInGroups", false, L"Staff", L"bob", L"HQ", Verdict::Refused, IDS_AUTH_NOT_IN_GROUP},
        AuthorizeCase{"GroupsMissButLocalAdministrator", false, L"Staff", L"dave", L"hq.example.com", Verdict::Authorized, 0},
        AuthorizeCase{"NoGroupsLocalAdministrator", false, L"", L"dave", L"hq.example.com", Verdict::Authorized, 0},
        AuthorizeCase{"NoGroupsNotAdministrator", false, L"", L"alice", L"HQ", Verdict::Refused,
                      IDS_AUTH_NOT_AUTHORIZED},
        AuthorizeCase{"LocalAccountInLocalGroup", false, L"Cart Users", L"kiosk", L".", Verdict::Authorized, 0},
        AuthorizeCase{"LocalAccountNotInLocalGroup", false, L"Cart Users", L"helper", L".", Verdict::Authorized, 0},
        AuthorizeCase{"LocalAccountRefused", false, L"Cart Users", L"alice", L".", Verdict::Refused,
                      IDS_AUTH_NOT_IN_GROUP},
        AuthorizeCase{"UnknownDomain", false, L"Staff", L"alice", L"ELSEWHERE", Verdict::Refused,
                      IDS_AUTH_NOT_IN_GROUP}),
    [](const ::testing::TestParamInfo<AuthorizeCase>& info) { return std::string(info.param.name); });

TEST_F(DirectoryTest, AuthorizationWithoutASearchRootShowsTheSearchRootMessage)
{
    // A directory without a domain has no naming context to search below.
    UseDirectory(L"[computer]\nname = .\n[local user kiosk]\n");
    CADQuery query;
    CKelvoAuthorizer authorizer(query);
    CKelvoAuthorizer::Settings settings;
    settings.groupList = L"Staff";
    const CKelvoAuthorizer::Decision decision = authorizer.Authorize(settings, L"alice", L"HQ", m_computer.c_str());
    EXPECT_EQ(Verdict::NoSearchRoot, decision.verdict);
    EXPECT_EQ(static_cast<UINT>(IDS_DIR_NO_SEARCH_ROOT), decision.messageId);
    // An account of this computer needs no search root at all.
    settings.groupList.Empty();
    EXPECT_EQ(Verdict::Refused, authorizer.Authorize(settings, L"kiosk", m_computer.c_str(), m_computer.c_str()).verdict);
}

TEST_F(DirectoryTest, OnlyALocalAdministratorMayRebindTheCart)
{
    CADQuery query;
    CKelvoAuthorizer authorizer(query);
    UINT message = 1;
    EXPECT_EQ(CKelvoAuthorizer::RebindVerdict::Allowed,
              authorizer.MayRebind(L"kiosk", m_computer.c_str(), m_computer.c_str(), message));
    EXPECT_EQ(0u, message);
    EXPECT_EQ(CKelvoAuthorizer::RebindVerdict::Allowed, authorizer.MayRebind(L"dave", L"hq.example.com", m_computer.c_str(), message));
    EXPECT_EQ(CKelvoAuthorizer::RebindVerdict::NotAdministrator,
              authorizer.MayRebind(L"alice", L"HQ", m_computer.c_str(), message));
    EXPECT_EQ(static_cast<UINT>(IDS_AUTH_REBIND_NOT_ADMIN), message);
}
}
