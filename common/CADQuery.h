#pragma once
#include "common/CADQuerySearchContext.h"
#include "common/CComPtrEx.h"
#include "common/CHandleEx.h"
#include <iads.h>
#include <set>
#include <string>

// The directory query engine: reads the directory's search root and decides whether a
// user belongs to configured groups, through LDAP searches in the domain and through the
// WinNT provider for the local groups of this computer. Nothing is thrown to callers;
// every directory failure counts as "not a member" and is traced to the optional trace
// window. One thread uses an instance at a time; only the cancel event is shared.
class CADQuery : public CObjectEx
{
public:
    // Posted to the trace window: wParam the trace level, lParam a BSTR the window frees.
    static constexpr UINT WM_ADQUERY_TRACE = WM_USER + 10;

    explicit CADQuery(HWND traceWindow = nullptr);
    ~CADQuery() override;
    CADQuery(const CADQuery&) = delete;
    CADQuery& operator=(const CADQuery&) = delete;

    const CObjectExClassInfo* GetClassInfo() const override;
    static const CObjectExClassInfo s_classInfo;

    void SetTraceWindow(HWND window) noexcept { m_traceWindow = window; }
    HWND GetTraceWindow() const noexcept { return m_traceWindow; }
    // Set from any thread to end a running walk at its next directory step with "not a
    // member". The owner resets it before the next check.
    const CEventEx& GetCancelEvent() const noexcept { return m_cancel; }

    // The LDAP path of the domain's default naming context, for use as search root.
    BOOL GetSearchRoot(CStringEx& path);
    // TRUE when the user belongs to one of the groups of the list (entries joined by the
    // separator text; "DOMAIN\name" or a bare name, which takes the user's domain).
    // The search root may be empty when only local groups are to be checked.
    BOOL IsGroupMember(LPCWSTR searchRoot, LPCWSTR user, LPCWSTR userDomain, LPCWSTR groupList);
    // TRUE when the user (a local account, or an account of this computer's DNS domain
    // with a non-empty search root) belongs to the local administrators group.
    BOOL IsLocalGroupMember(LPCWSTR searchRoot, LPCWSTR user, LPCWSTR userDomain);

    // Rows the directory sends per page of a search.
    static constexpr DWORD kSearchPageSize = 500;

    // Runs an LDAP subtree search below root, paged, and hands back the cursor over all its
    // rows (beyond the directory's result limit).
    HRESULT Search(LPCWSTR root, LPCWSTR filter, LPCWSTR const* attributes, DWORD count,
                   _CObjectExPtr<CADQuerySearchContext>& context);

    // Process-wide names, filled by the first CADQuery constructed.
    static CStringEx GetComputerName();
    static CStringEx GetDomainDnsName();
    static CStringEx GetDomainNetBiosName();

    // A value made safe for an LDAP filter: *, (, ), \ and NUL become \2a, \28, \29, \5c
    // and \00, so a name can never widen or reshape the filter it is placed in.
    static CStringEx EscapeFilterValue(const CStringEx& value);

    // Test seam: when set, answers whether this computer is a domain member, the DNS name
    // of its domain and (when not left empty) its NetBIOS name, in place of
    // NetGetJoinInformation, GetComputerNameExW and DnsHostnameToComputerNameW. Setting it
    // (or clearing it with null) drops the process-wide names; the next CADQuery
    // constructed fills them again.
    using DomainJoinHook = BOOL (*)(CStringEx& dnsDomain, CStringEx& netbiosDomain);
    static void SetDomainJoinHook(DomainJoinHook hook);

private:
    // State of one membership check: who is looked for and which groups were seen.
    struct Walk
    {
        CStringEx user;
        CStringEx userPath;
        CStringEx workingDomain;
        bool localUser = false;
        // The RID of the user's primary group: -1 until read, 0 when the directory has none.
        LONG primaryGroup = -1;
        std::set<std::wstring> visited;
        bool Visit(const CStringEx& key);
    };

    BOOL BeginWalk(LPCWSTR user, LPCWSTR userDomain, Walk& walk);
    BOOL CheckEntry(LPCWSTR searchRoot, const CStringEx& entry, Walk& walk);
    BOOL CheckLocalGroup(const CStringEx& path, Walk& walk);
    // groupToken: the group's RID as the primary group of its members name it, 0 when unknown.
    BOOL IsMemberLdap(LPCWSTR searchRoot, Walk& walk, const CStringEx& groupLabel, const CStringEx& groupIdentity,
                      LONG groupToken);
    // Whether the group whose RID is groupToken is the user's primary group.
    bool IsPrimaryGroup(LPCWSTR searchRoot, Walk& walk, LONG groupToken);
    BOOL IsMemberWinNT(IADsGroup* group, const CStringEx& groupPath, Walk& walk);
    HRESULT FindGroup(LPCWSTR searchRoot, const CStringEx& name, CStringEx& identity, LONG& token);
    // S_OK when some directory object has the name, S_FALSE when none has, or the failure.
    HRESULT FindObject(LPCWSTR searchRoot, const CStringEx& name);
    HRESULT RunSearch(LPCWSTR searchRoot, const CStringEx& filter, LPCWSTR const* attributes, DWORD count,
                      _CObjectExPtr<CADQuerySearchContext>& context);
    BOOL LookupAdministratorsGroup(CStringEx& name);
    bool MemberPath(const CStringEx& parent, const CStringEx& name, const Walk& walk, CStringEx& path,
                    bool& domainObject) const;
    bool IsGroupClass(LPCWSTR className) const;
    CStringEx LocalPath(const CStringEx& domain, const CStringEx& name) const;
    CStringEx DomainPath(const CStringEx& domain, const CStringEx& name) const;
    BOOL EndWalk(DWORD code);

    // Throws ERROR_CANCELLED when the cancel event is set; tested before directory calls.
    void CheckCancel() const;
    void Trace(UINT id, ...);
    // Whether the user name can name an account; a name that cannot is traced and refused.
    bool IsValidUser(LPCWSTR user);
    void PostTrace(WPARAM level, const CStringEx& text);

    HWND m_traceWindow;
    CEventEx m_cancel;

    // Snapshot of the process-wide names and texts.
    CStringEx m_computer;
    CStringEx m_dnsDomain;
    CStringEx m_netbiosDomain;
    CStringEx m_attrDisplayName;
    CStringEx m_attrIdentity;
    CStringEx m_classGroup;
    CStringEx m_attrName;
    CStringEx m_separator;
    CStringEx m_attrClass;
    CStringEx m_classLocalGroup;
    CStringEx m_attrDescription;
    CStringEx m_winntPrefix;
    CStringEx m_attrPrimaryGroup;
    CStringEx m_attrGroupToken;
};
