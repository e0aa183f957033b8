// The decisions the service takes over facts this machine cannot produce (an administrator's
// filtered token with its elevated twin, a sandboxed token, a folder owned by someone else):
// each decision over a table of facts, and the fact gathering on the tokens and folders
// that Wine does have.
#include "tests/configsvc/ConfigSvcTestWorld.h"
#include "configsvc/CKelvoCaller.h"
#include "configsvc/CKelvoFolderFacts.h"
#include "configsvc/CKelvoTokenFacts.h"
#include "common/CUniqueAnyEx.h"
#include <gtest/gtest.h>
#include <sddl.h>
#include <string>
#include <vector>

namespace
{
std::vector<BYTE> SidOf(const wchar_t* text)
{
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text, &sid))
        return {};
    CLocalMemEx memory(sid);
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

std::vector<BYTE> WellKnown(WELL_KNOWN_SID_TYPE type)
{
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    if (!CreateWellKnownSid(type, nullptr, sid.data(), &size))
        return {};
    sid.resize(size);
    return sid;
}

const DWORD kLow = SECURITY_MANDATORY_LOW_RID;
const DWORD kMedium = SECURITY_MANDATORY_MEDIUM_RID;
const DWORD kHigh = SECURITY_MANDATORY_HIGH_RID;
const DWORD kMediumPlus = SECURITY_MANDATORY_MEDIUM_RID + 0x100; // medium plus (UIAccess programs)
const DWORD kSystem = SECURITY_MANDATORY_SYSTEM_RID;

struct TokenCase
{
    const char* name;
    CKelvoTokenFacts facts;
    bool administrator;
};

void PrintTo(const TokenCase& c, std::ostream* out)
{
    *out << c.name;
}

CKelvoTokenFacts Facts(bool member, bool restricted, bool limited, bool linkedPresent, bool linkedMember, DWORD integrity,
                       bool writeRestricted = false)
{
    CKelvoTokenFacts facts;
    facts.writeRestricted = writeRestricted;
    facts.member = member;
    facts.restricted = restricted;
    facts.limited = limited;
    facts.linkedPresent = linkedPresent;
    facts.linkedMember = linkedMember;
    facts.integrity = integrity;
    return facts;
}
}

class TokenDecision : public ::testing::TestWithParam<TokenCase>
{
};

TEST_P(TokenDecision, AdmitsAnAdministratorByItsOwnTokenOrItsLinkedElevatedToken)
{
    EXPECT_EQ(GetParam().administrator, GetParam().facts.IsAdministrator());
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, TokenDecision,
    ::testing::Values(
        // member restricted limited linked linkedMember integrity
        TokenCase{ "ElevatedAdministrator", Facts(true, false, false, false, false, kHigh), true },
        TokenCase{ "AdministratorWithoutUserAccountControl", Facts(true, false, false, false, false, kMedium), true },
        // The editor's usual caller: a filtered token whose elevated twin holds the group.
        TokenCase{ "UnelevatedAdministrator", Facts(false, false, true, true, true, kMedium), true },
        TokenCase{ "StandardUser", Facts(false, false, false, false, false, kMedium), false },
        TokenCase{ "FilteredTokenWithoutItsTwin", Facts(false, false, true, false, false, kMedium), false },
        TokenCase{ "FilteredTokenWhoseTwinIsNoMember", Facts(false, false, true, true, false, kMedium), false },
        // A full token's linked token is the filtered one: it never raises the caller.
        TokenCase{ "FullTokenLinkedToAMember", Facts(false, false, false, true, true, kMedium), false },
        TokenCase{ "SandboxOfAnUnelevatedAdministrator", Facts(false, true, true, true, true, kMedium), false },
        TokenCase{ "LowIntegrityUnelevatedAdministrator", Facts(false, false, true, true, true, kLow), false },
        TokenCase{ "LowIntegrityMember", Facts(true, false, false, false, false, kLow), false },
        TokenCase{ "IntegrityUnknown", Facts(true, false, false, false, false, 0), false },
        // A sandbox keeps the groups of the token it was made from: its own membership
        // never counts.
        TokenCase{ "RestrictedTokenThatIsItselfAMember", Facts(true, true, false, false, false, kHigh), false },
        TokenCase{ "WriteRestrictedMember", Facts(true, false, false, false, false, kHigh, true), false },
        TokenCase{ "MediumPlusMember", Facts(true, false, false, false, false, kMediumPlus), true },
        TokenCase{ "MediumPlusUnelevatedAdministrator", Facts(false, false, true, true, true, kMediumPlus), true },
        TokenCase{ "SystemIntegrityMember", Facts(true, false, false, false, false, kSystem), true },
        TokenCase{ "SystemIntegrityStandardUser", Facts(false, false, false, false, false, kSystem), false },
        // User Account Control off: an administrator's one token, at high integrity.
        TokenCase{ "AdministratorWithUserAccountControlOff", Facts(true, false, false, false, false, kHigh), true }),
    [](const ::testing::TestParamInfo<TokenCase>& info) { return std::string(info.param.name); });

struct DomainCase
{
    const char* name;
    const wchar_t* claimed;
    const wchar_t* account; // the account's domain as the account database gives it
    const wchar_t* joined;  // NetBIOS name of the joined domain; empty in a workgroup
    bool same;
};

void PrintTo(const DomainCase& c, std::ostream* out)
{
    *out << c.name;
}

class ClaimedDomain : public ::testing::TestWithParam<DomainCase>
{
};

// The computer is WS1 (DNS domain hq.example.com when joined to HQ).
TEST_P(ClaimedDomain, IsTheAccountsOwnDomainOrTheJoinedDomainsDnsName)
{
    const DomainCase& c = GetParam();
    const CStringEx joined(c.joined);
    EXPECT_EQ(c.same, CKelvoCaller::IsSameDomain(CStringEx(c.claimed), CStringEx(c.account), CStringEx(L"WS1"), joined,
                                                 joined.IsEmpty() ? CStringEx() : CStringEx(L"hq.example.com")));
}

INSTANTIATE_TEST_SUITE_P(
    Domains, ClaimedDomain,
    // claimed account joined same
    ::testing::Values(DomainCase{ "LocalAccountByComputerName", L"ws1", L"WS1", L"", true },
                      DomainCase{ "LocalAccountByAnotherComputer", L"WS2", L"WS1", L"", false },
                      DomainCase{ "LocalAccountByNoDomain", L"", L"WS1", L"", false },
                      DomainCase{ "LocalAccountByTheJoinedDomain", L"hq.example.com", L"WS1", L"HQ", false },
                      DomainCase{ "DomainAccountByNetBiosName", L"HQ", L"HQ", L"HQ", true },
                      DomainCase{ "DomainAccountByDnsName", L"HQ.example.com", L"HQ", L"HQ", true },
                      DomainCase{ "DomainAccountByTheComputersName", L"WS1", L"HQ", L"HQ", false },
                      DomainCase{ "TrustedDomainsAccountByTheJoinedDnsName", L"hq.example.com", L"PARTNER", L"HQ", false },
                      DomainCase{ "DnsNameInAWorkgroup", L"hq.example.com", L"HQ", L"", false }),
    [](const ::testing::TestParamInfo<DomainCase>& info) { return std::string(info.param.name); });

// A call that names no client is never served on the service account's own say-so.
TEST(CallerStandIn, OnlyAProcessOfNoServiceAccountTakesItsOwnAccountForTheCaller)
{
    const struct
    {
        const wchar_t* account;
        bool standsIn;
    } rows[] = { { L"S-1-5-18", false }, { L"S-1-5-19", false }, { L"S-1-5-20", false }, { L"S-1-5-21-7-8-9-1001", true } };
    for (const auto& row : rows)
    {
        std::vector<BYTE> sid = SidOf(row.account);
        EXPECT_EQ(row.standsIn, CKelvoCaller::MayStandInForACaller(sid.data())) << std::string(row.account, row.account + wcslen(row.account));
    }
    EXPECT_FALSE(CKelvoCaller::MayStandInForACaller(nullptr));
}

// A linked token that the service (holding the Tcb privilege) reads is a primary token,
// which CheckTokenMembership refuses (1309): its membership is read all the same.
TEST(TokenFacts, APrimaryTokensMembershipIsReadThroughAnIdentificationCopy)
{
    CKernelHandleEx primary;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, primary.Put()));
    TOKEN_TYPE type = TokenImpersonation;
    DWORD length = 0;
    ASSERT_TRUE(GetTokenInformation(primary.Get(), TokenType, &type, sizeof(type), &length));
    ASSERT_EQ(TokenPrimary, type);
    std::vector<BYTE> administrators = WellKnown(WinBuiltinAdministratorsSid);
    BOOL direct = TRUE;
    ASSERT_FALSE(CheckTokenMembership(primary.Get(), administrators.data(), &direct)) << "the platform takes primary tokens";
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_IMPERSONATION_TOKEN), GetLastError());

    // This account is an administrator here; Users it is a member of, a foreign SID not.
    bool member = false;
    EXPECT_EQ(S_OK, CKelvoTokenFacts::MembershipOf(primary.Get(), administrators.data(), member));
    EXPECT_TRUE(member);
    std::vector<BYTE> stranger = SidOf(L"S-1-5-21-1-2-3-4242");
    EXPECT_EQ(S_OK, CKelvoTokenFacts::MembershipOf(primary.Get(), stranger.data(), member));
    EXPECT_FALSE(member);

    // The whole gathering over the same primary token.
    CKelvoTokenFacts facts;
    ASSERT_EQ(S_OK, CKelvoTokenFacts::Read(primary.Get(), administrators.data(), facts));
    EXPECT_TRUE(facts.member);
    EXPECT_GE(facts.integrity, kMedium);
    EXPECT_TRUE(facts.IsAdministrator());
}

struct FolderCase
{
    const char* name;
    bool exists;
    bool directory;
    bool reparsePoint;
    const wchar_t* owner; // SDDL SID text, "service" for the service's own account, or null
    bool trusted;
};

void PrintTo(const FolderCase& c, std::ostream* out)
{
    *out << c.name;
}

class FolderDecision : public ::testing::TestWithParam<FolderCase>
{
};

TEST_P(FolderDecision, TrustsOnlyAPlainFolderOfSystemAdministratorsOrTheServicesAccount)
{
    const std::vector<BYTE> service = SidOf(L"S-1-5-21-7-8-9-1001");
    CKelvoFolderFacts facts;
    facts.exists = GetParam().exists;
    facts.directory = GetParam().directory;
    facts.reparsePoint = GetParam().reparsePoint;
    if (GetParam().owner)
        facts.owner = std::wstring(GetParam().owner) == L"service" ? service : SidOf(GetParam().owner);
    EXPECT_EQ(GetParam().trusted, facts.IsTrusted(const_cast<BYTE*>(service.data())));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FolderDecision,
    // exists directory reparsePoint owner trusted
    ::testing::Values(FolderCase{ "OwnedBySystem", true, true, false, L"S-1-5-18", true },
                      FolderCase{ "OwnedByAdministrators", true, true, false, L"S-1-5-32-544", true },
                      FolderCase{ "OwnedByTheServicesAccount", true, true, false, L"service", true },
                      // Made by a user before the installation: he still owns it.
                      FolderCase{ "OwnedByAUser", true, true, false, L"S-1-5-21-7-8-9-1002", false },
                      FolderCase{ "OwnedByUsers", true, true, false, L"S-1-5-32-545", false },
                      FolderCase{ "OwnedByEveryone", true, true, false, L"S-1-1-0", false },
                      FolderCase{ "OwnerUnreadable", true, true, false, nullptr, false },
                      FolderCase{ "ALinkOwnedBySystem", true, true, true, L"S-1-5-18", false },
                      FolderCase{ "AFileOwnedBySystem", true, false, false, L"S-1-5-18", false },
                      FolderCase{ "Missing", false, false, false, L"S-1-5-18", false }),
    [](const ::testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

// The gathering over real folders: a plain folder, a link to it, and none.
TEST(FolderFacts, ReadsWhetherAFolderIsThereIsALinkAndWhoOwnsIt)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"kelvo-folder-facts-" + std::to_wstring(GetCurrentProcessId()) +
                                L"-" + std::to_wstring(GetTickCount64());
    const std::wstring link = folder + L"-link";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));

    const CKelvoFolderFacts plain = CKelvoFolderFacts::Read(folder.c_str());
    EXPECT_TRUE(plain.exists);
    EXPECT_TRUE(plain.directory);
    EXPECT_FALSE(plain.reparsePoint);
    ASSERT_FALSE(plain.owner.empty());
    EXPECT_TRUE(IsValidSid(const_cast<BYTE*>(plain.owner.data())));
    EXPECT_EQ(0u, plain.OwnerText().Find(L"S-1-"));
    // A folder this process made is its own account's (Wine gives every file that owner).
    std::vector<BYTE> own = CKelvoFolderFacts::ServiceAccount();
    EXPECT_TRUE(plain.IsTrusted(own.data()));

    if (ConfigSvcWorld::MakeFolderLink(link, folder))
    {
        const CKelvoFolderFacts linked = CKelvoFolderFacts::Read(link.c_str());
        EXPECT_TRUE(linked.exists);
        EXPECT_TRUE(linked.reparsePoint);
        EXPECT_FALSE(linked.IsTrusted(own.data()));
        ConfigSvcWorld::RemoveFolderLink(link);
    }
    else
        std::printf("note: no symbolic link could be made here; the link is left out\n");

    RemoveDirectoryW(folder.c_str());
    EXPECT_FALSE(CKelvoFolderFacts::Read(folder.c_str()).exists);
}
