#pragma once
#include <windows.h>
#include <iads.h>
#include <memory>
#include <string>
#include <vector>

// One account of the simulated directory: a user, a group or a computer account of the
// domain, or a local account or local group of this computer.
struct SimEntry
{
    enum Kind { User, Group, Computer };
    Kind kind = User;
    bool local = false;
    std::wstring name;
    std::wstring displayName;
    std::wstring description;
    // Domain accounts: the common name and the container below the domain, when they are not
    // the account name and Users. Common names are unique only within their container.
    std::wstring commonName;
    std::wstring container;
    // Members as written in the data file: "name" (same scope as the group) or "DOMAIN\name".
    std::vector<std::wstring> members;
    // Domain accounts: the primary group as written (a user's is Domain Users, a computer's
    // Domain Computers, unless named), and a group's RID (0: one is given from 1100 on).
    std::wstring primaryGroup;
    long rid = 0;
    bool disabled = false;
};

// One attribute of a directory object as the LDAP side serves it.
struct SimAttribute
{
    std::wstring name;
    ADSTYPE type = ADSTYPE_CASE_IGNORE_STRING;
    std::vector<std::wstring> values; // ADSTYPE_INTEGER values are decimal texts
};

// An object the LDAP side can address by distinguished name: the domain, its Users
// container or one domain account.
struct SimLdapNode
{
    enum Type { Domain, Container, Account };
    Type type = Domain;
    const SimEntry* entry = nullptr;
    std::wstring dn;
};

// The whole simulated directory, read from a data file:
//
//   [domain]            dns = hq.example.com / netbios = HQ
//   [computer]          name = . (this computer) / workgroup = WORKGROUP
//   [directory]         delay_ms = 0 (wait before every open and every search)
//                       ldap_down = 1 (the domain's directory cannot be reached; local
//                       accounts and groups of this computer still answer)
//                       size_limit = 1000 (the most rows a search without a page size
//                       returns: the rest is left out without a word, as Active
//                       Directory's MaxPageSize does; a paged search gets every row)
//                       max_page_size = 1000 (the most rows the server puts in one page,
//                       whatever page size the client asks for)
//                       page_wait = 1 (an asynchronous paged search answers "no more rows"
//                       once at every page boundary while the next page is on its way, and
//                       sets the last ADSI error to ERROR_MORE_DATA, as a server that is
//                       slower than its client does)
//                       referrals = 1 (the server also answers references to the partitions
//                       below the domain's root, as Active Directory does for its
//                       configuration and DNS partitions: a subtree search from the domain's
//                       root that does not turn referral chasing off fails with
//                       0x8007203A, as Wine's LDAP provider fails chasing them)
//   [user NAME]         display = ... / description = ...
//                       cn = ... / container = ... (domain accounts: the common name and the
//                       container below the domain, by default NAME and Users)
//                       disabled = 1 (users: served in userAccountControl)
//                       primary = GROUP (the primary group: Domain Users for a user, Domain
//                       Computers for a computer account; served as primaryGroupID, the
//                       group's RID, and, as in Active Directory, in neither the group's
//                       member nor the account's memberOf)
//   [group NAME]        member = NAME (repeatable; a user or a group of the domain)
//                       rid = N (the group's RID, served as primaryGroupToken; 513 for
//                       Domain Users; by default 1100 and up in the order of the file)
//   [computer account NAME]  a workstation's account in the domain: sAMAccountName NAME$
//                       (members name it so), a user by object class and a computer by
//                       object category
//   [local user NAME]
//   [local group NAME]  member = NAME (local) or member = DOMAIN\NAME (domain account);
//                       a backslash after an unknown domain is part of the name
//
// Lines starting with # or ; are comments. A snapshot never changes once loaded.
class SimDirectory
{
public:
    // The directory named by the environment variable KELVO_ADSI_DATA, else by the value
    // DataFile of HKLM\SOFTWARE\Kelvo\AdsiSim; without either no directory answers. The
    // last snapshot is reused while its file is unchanged.
    static HRESULT Current(std::shared_ptr<const SimDirectory>& out);
    static HRESULT Load(const std::wstring& path, std::shared_ptr<const SimDirectory>& out);

    const std::wstring& DnsDomain() const noexcept { return m_dns; }
    const std::wstring& NetBiosDomain() const noexcept { return m_netbios; }
    const std::wstring& Computer() const noexcept { return m_computer; }
    const std::wstring& Workgroup() const noexcept { return m_workgroup; }
    DWORD DelayMs() const noexcept { return m_delayMs; }
    DWORD SizeLimit() const noexcept { return m_sizeLimit; }
    DWORD MaxPageSize() const noexcept { return m_maxPageSize; }
    bool PageWait() const noexcept { return m_pageWait; }
    // The domain's directory is down: LDAP opens fail, the computer's own accounts answer.
    bool LdapDown() const noexcept { return m_ldapDown; }
    bool Referrals() const noexcept { return m_referrals; }
    // A domain group's RID, and the RID of an account's primary group (0 when it has none).
    long RidOf(const SimEntry& group) const;
    long PrimaryGroupRid(const SimEntry& account) const;
    bool HasDomain() const noexcept { return !m_dns.empty(); }

    const SimEntry* Find(const std::wstring& name, bool local) const;
    // A member reference of a group resolved to its account, or null when unknown.
    const SimEntry* ResolveMember(const SimEntry& group, const std::wstring& ref) const;
    std::vector<const SimEntry*> Members(const SimEntry& group) const;

    // LDAP side.
    std::wstring DomainDn() const;
    std::wstring DnOf(const SimEntry& entry) const;
    std::vector<SimLdapNode> LdapNodes() const;
    bool FindLdapNode(const std::wstring& dn, SimLdapNode& node) const;
    std::vector<SimAttribute> Attributes(const SimLdapNode& node) const;

private:
    HRESULT Parse(const std::wstring& text, const std::wstring& path);

    std::wstring m_dns;
    std::wstring m_netbios;
    std::wstring m_computer;
    std::wstring m_workgroup = L"WORKGROUP";
    DWORD m_delayMs = 0;
    DWORD m_sizeLimit = 1000;
    DWORD m_maxPageSize = 1000;
    bool m_pageWait = false;
    bool m_ldapDown = false;
    bool m_referrals = false;
    std::vector<SimEntry> m_entries;
};

bool SimEqualNoCase(const std::wstring& a, const std::wstring& b);
