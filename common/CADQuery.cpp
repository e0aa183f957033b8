#include "common/CADQuery.h"
#include "common/CErrorEx.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include "resources/KVIdsDirectory.h"
#include <adserr.h>
#include <adshlp.h>
#include <lm.h>
#include <sddl.h>
#include <mutex>
#include <new>
#include <vector>

const CObjectExClassInfo CADQuery::s_classInfo = { "CADQuery", sizeof(CADQuery), nullptr, nullptr };

const CObjectExClassInfo* CADQuery::GetClassInfo() const
{
    return &s_classInfo;
}

namespace
{
// Names and texts every CADQuery of the process shares, filled once.
struct ProcessNames
{
    bool filled = false;
    CStringEx computer;
    CStringEx dnsDomain;
    CStringEx netbiosDomain;
    CStringEx texts[11];
};

const UINT kSharedTexts[11] = { IDS_DIR_ATTR_DISPLAYNAME,      IDS_DIR_ATTR_IDENTITY,   IDS_DIR_CLASS_GROUP,
                                IDS_DIR_ATTR_NAME,             IDS_DIR_GROUP_SEPARATOR, IDS_DIR_ATTR_OBJECTCLASS,
                                IDS_DIR_CLASS_LOCALGROUP,      IDS_DIR_ATTR_DESCRIPTION, IDS_DIR_PATH_WINNT_PREFIX,
                                IDS_DIR_ATTR_PRIMARY_GROUP_ID, IDS_DIR_ATTR_GROUP_TOKEN };

std::mutex g_namesLock;
ProcessNames g_names;
CADQuery::DomainJoinHook g_joinHook;

struct NetApiBufferTraits
{
    using Type = LPVOID;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { NetApiBufferFree(p); }
};

bool IsBlank(LPCWSTR text)
{
    if (text == nullptr)
        return true;
    for (; *text; ++text)
        if (!iswspace(*text))
            return false;
    return true;
}

// A WinNT path is built from the account's name, so a name with the path separator could
// stand for an account of another container ("COMPUTER/kiosk" of the domain would read as
// this computer's kiosk). Windows account names never contain it.
bool IsAccountName(LPCWSTR name)
{
    return wcschr(name, L'/') == nullptr;
}

bool SameText(const CStringEx& a, const CStringEx& b)
{
    return !a.IsEmpty() && a.CompareNoCase(b) == 0;
}

// Whether this computer belongs to a domain, and the DNS name of that domain. The NetBIOS
// name is filled only by the test seam.
BOOL QueryDomainJoin(CStringEx& dnsDomain, CStringEx& netbiosDomain)
{
    if (g_joinHook)
        return g_joinHook(dnsDomain, netbiosDomain);
    CUniqueAnyEx<NetApiBufferTraits> name;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    LPWSTR raw = nullptr;
    if (NetGetJoinInformation(nullptr, &raw, &status) != NERR_Success)
        return FALSE;
    name.Reset(raw);
    if (status != NetSetupDomainName)
        return FALSE;
    DWORD size = 0;
    GetComputerNameExW(ComputerNameDnsDomain, nullptr, &size);
    if (size == 0)
        return TRUE;
    if (!GetComputerNameExW(ComputerNameDnsDomain, dnsDomain.GetBuffer(static_cast<int>(size)), &size))
        size = 0;
    dnsDomain.ReleaseBuffer(static_cast<int>(size));
    return TRUE;
}

void FillProcessNames(ProcessNames& names)
{
    WCHAR computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = ARRAYSIZE(computer);
    if (GetComputerNameW(computer, &size))
        names.computer = CStringEx(computer, static_cast<int>(size));

    CStringEx dns, seamNetbios;
    if (QueryDomainJoin(dns, seamNetbios) && !dns.IsEmpty())
    {
        names.dnsDomain = dns;
        names.netbiosDomain = seamNetbios;
        WCHAR netbios[MAX_COMPUTERNAME_LENGTH + 1] = {};
        size = ARRAYSIZE(netbios);
        if (names.netbiosDomain.IsEmpty() && DnsHostnameToComputerNameW(dns, netbios, &size))
            names.netbiosDomain = CStringEx(netbios, static_cast<int>(size));
        if (names.netbiosDomain.IsEmpty())
        {
            WCHAR value[256] = {};
            const DWORD n = GetEnvironmentVariableW(CResourceLoader::Instance().LoadText(IDS_DIR_ENV_USERDOMAIN), value, ARRAYSIZE(value));
            if (n > 0 && n < ARRAYSIZE(value))
                names.netbiosDomain = value;
        }
    }
    for (size_t i = 0; i < ARRAYSIZE(kSharedTexts); ++i)
        names.texts[i] = CResourceLoader::Instance().LoadText(kSharedTexts[i]);
    names.filled = true;
}

ProcessNames SnapshotNames()
{
    std::lock_guard<std::mutex> guard(g_namesLock);
    if (!g_names.filled)
        FillProcessNames(g_names);
    return g_names;
}

template <class T>
HRESULT OpenObject(const CStringEx& path, REFIID iid, CComPtrEx<T>& object)
{
    const HRESULT hr = ADsOpenObject(path, nullptr, nullptr, ADS_SECURE_AUTHENTICATION, iid, object.PutVoid());
    if (SUCCEEDED(hr) && !object)
        return E_NOINTERFACE;
    if (FAILED(hr))
        object.Reset();
    return hr;
}

// Splits a list at every occurrence of the separator text.
std::vector<CStringEx> SplitList(const CStringEx& list, const CStringEx& separator)
{
    std::vector<CStringEx> entries;
    if (separator.IsEmpty())
    {
        entries.push_back(list);
        return entries;
    }
    int start = 0;
    for (;;)
    {
        const int at = list.Find(separator, start);
        if (at < 0)
        {
            entries.push_back(list.Mid(start));
            return entries;
        }
        entries.push_back(list.Mid(start, at - start));
        start = at + separator.GetLength();
    }
}
}

bool CADQuery::Walk::Visit(const CStringEx& key)
{
    CStringEx upper(key);
    upper.MakeUpper();
    return visited.insert(upper.Str()).second;
}

CADQuery::CADQuery(HWND traceWindow) : m_traceWindow(traceWindow)
{
    m_cancel.Create();
    const ProcessNames names = SnapshotNames();
    m_computer = names.computer;
    m_dnsDomain = names.dnsDomain;
    m_netbiosDomain = names.netbiosDomain;
    m_attrDisplayName = names.texts[0];
    m_attrIdentity = names.texts[1];
    m_classGroup = names.texts[2];
    m_attrName = names.texts[3];
    m_separator = names.texts[4];
    m_attrClass = names.texts[5];
    m_classLocalGroup = names.texts[6];
    m_attrDescription = names.texts[7];
    m_winntPrefix = names.texts[8];
    m_attrPrimaryGroup = names.texts[9];
    m_attrGroupToken = names.texts[10];
}

CADQuery::~CADQuery() = default;

CStringEx CADQuery::GetComputerName()
{
    return SnapshotNames().computer;
}

CStringEx CADQuery::GetDomainDnsName()
{
    return SnapshotNames().dnsDomain;
}

CStringEx CADQuery::GetDomainNetBiosName()
{
    return SnapshotNames().netbiosDomain;
}

void CADQuery::SetDomainJoinHook(DomainJoinHook hook)
{
    std::lock_guard<std::mutex> guard(g_namesLock);
    g_joinHook = hook;
    g_names = ProcessNames();
}

CStringEx CADQuery::EscapeFilterValue(const CStringEx& value)
{
    CStringEx escaped;
    for (const wchar_t c : value.Str())
    {
        switch (c)
        {
        case L'*': escaped += L"\\2a"; break;
        case L'(': escaped += L"\\28"; break;
        case L')': escaped += L"\\29"; break;
        case L'\\': escaped += L"\\5c"; break;
        case L'\0': escaped += L"\\00"; break;
        default: escaped += c; break;
        }
    }
    return escaped;
}

void CADQuery::CheckCancel() const
{
    if (m_cancel.IsSet())
        throw CErrorEx(ERROR_CANCELLED);
}

BOOL CADQuery::EndWalk(DWORD code)
{
    if (code == ERROR_CANCELLED)
        Trace(IDS_DIR_TRACE_CANCELLED);
    return FALSE;
}

CStringEx CADQuery::LocalPath(const CStringEx& domain, const CStringEx& name) const
{
    CStringEx path;
    CResourceLoader::Instance().FormatString(path, IDS_DIR_PATH_WINNT_LOCAL, domain.GetString(), m_computer.GetString(),
                                             name.GetString());
    return path;
}

CStringEx CADQuery::DomainPath(const CStringEx& domain, const CStringEx& name) const
{
    CStringEx path;
    CResourceLoader::Instance().FormatString(path, IDS_DIR_PATH_WINNT_DOMAIN, domain.GetString(), name.GetString());
    return path;
}

bool CADQuery::IsGroupClass(LPCWSTR className) const
{
    return className && (m_classGroup.CompareNoCase(className) == 0 || m_classLocalGroup.CompareNoCase(className) == 0);
}

BOOL CADQuery::GetSearchRoot(CStringEx& path)
{
    path.Empty();
    try
    {
        const CStringEx rootPath = CResourceLoader::Instance().LoadText(IDS_DIR_PATH_ROOTDSE);
        CComPtrEx<IADs> root;
        HRESULT hr = OpenObject(rootPath, IID_IADs, root);
        if (FAILED(hr))
        {
            Trace(IDS_DIR_TRACE_OPEN_FAILED, rootPath.GetString(), hr);
            return FALSE;
        }
        const CStringEx property = CResourceLoader::Instance().LoadText(IDS_DIR_PROP_NAMING_CONTEXT);
        CVariantEx value;
        hr = root->Get(property.GetBSTR(), value.Put());
        if (SUCCEEDED(hr) && (V_VT(&value) != VT_BSTR || SysStringLen(V_BSTR(&value)) == 0))
            hr = E_ADS_CANT_CONVERT_DATATYPE;
        if (FAILED(hr))
        {
            Trace(IDS_DIR_TRACE_READ_FAILED, property.GetString(), rootPath.GetString(), hr);
            return FALSE;
        }
        CResourceLoader::Instance().FormatString(path, IDS_DIR_PATH_LDAP_FORMAT, V_BSTR(&value));
        Trace(IDS_DIR_TRACE_SEARCH_ROOT, path.GetString());
        return TRUE;
    }
    catch (const CErrorEx& error)
    {
        path.Empty();
        return EndWalk(error.Code());
    }
    catch (const std::bad_alloc&)
    {
        path.Empty();
        return FALSE;
    }
}

BOOL CADQuery::BeginWalk(LPCWSTR user, LPCWSTR userDomain, Walk& walk)
{
    const CStringEx domain(userDomain);
    walk.user = user;
    if (m_computer.IsEmpty())
        return FALSE;
    if (SameText(m_computer, domain))
    {
        // A local account of this computer: only local groups can hold it.
        walk.localUser = true;
        walk.workingDomain = m_computer;
        walk.userPath = LocalPath(walk.workingDomain, walk.user);
        Trace(IDS_DIR_TRACE_LOCAL_USER, user);
        Trace(IDS_DIR_TRACE_COMPUTER, m_computer.GetString());
        return TRUE;
    }
    if (SameText(m_dnsDomain, domain) || SameText(m_netbiosDomain, domain))
    {
        walk.localUser = false;
        walk.workingDomain = m_netbiosDomain.IsEmpty() ? m_dnsDomain : m_netbiosDomain;
        walk.userPath = DomainPath(walk.workingDomain, walk.user);
        Trace(IDS_DIR_TRACE_DOMAIN_USER, user);
        Trace(IDS_DIR_TRACE_COMPUTER, m_computer.GetString());
        Trace(IDS_DIR_TRACE_DOMAIN_NAMES, m_dnsDomain.GetString(), m_netbiosDomain.GetString());
        return TRUE;
    }
    Trace(IDS_DIR_TRACE_UNKNOWN_DOMAIN, userDomain, m_dnsDomain.GetString(), m_netbiosDomain.GetString());
    return FALSE;
}

bool CADQuery::IsValidUser(LPCWSTR user)
{
    if (IsAccountName(user))
        return true;
    Trace(IDS_DIR_TRACE_BAD_USER, user);
    return false;
}

BOOL CADQuery::IsGroupMember(LPCWSTR searchRoot, LPCWSTR user, LPCWSTR userDomain, LPCWSTR groupList)
{
    if (IsBlank(user) || IsBlank(userDomain) || IsBlank(groupList))
        return FALSE;
    try
    {
        if (!IsValidUser(user))
            return FALSE;
        Walk walk;
        if (!BeginWalk(user, userDomain, walk))
            return FALSE;
        for (const CStringEx& entry : SplitList(groupList, m_separator))
        {
            CheckCancel();
            if (CheckEntry(searchRoot, entry, walk))
            {
                Trace(IDS_DIR_TRACE_MATCH, user, entry.GetString());
                return TRUE;
            }
        }
        Trace(IDS_DIR_TRACE_NO_MATCH, user);
        return FALSE;
    }
    catch (const CErrorEx& error)
    {
        return EndWalk(error.Code());
    }
    catch (const std::bad_alloc&)
    {
        return FALSE;
    }
}

BOOL CADQuery::CheckEntry(LPCWSTR searchRoot, const CStringEx& rawEntry, Walk& walk)
{
    // Split "DOMAIN\name" at the first backslash; a bare name takes the working domain.
    CStringEx entry(rawEntry);
    entry.Trim();
    const int slash = entry.Find(L'\\');
    const bool bare = slash < 0;
    CStringEx domain = bare ? walk.workingDomain : entry.Left(slash);
    CStringEx name = bare ? entry : entry.Mid(slash + 1);
    domain.Trim();
    name.Trim();
    if (domain.IsEmpty() || name.IsEmpty())
    {
        Trace(IDS_DIR_TRACE_BAD_ENTRY, entry.GetString());
        return FALSE;
    }
    const bool localEntry = SameText(m_computer, domain);
    const bool domainEntry = !localEntry && (SameText(m_dnsDomain, domain) || SameText(m_netbiosDomain, domain));

    // The user named in the list directly.
    if (name.CompareNoCase(walk.user) == 0 && ((localEntry && walk.localUser) || (domainEntry && !walk.localUser)))
        return TRUE;

    if (localEntry)
        return CheckLocalGroup(LocalPath(walk.workingDomain, name), walk);
    if (!domainEntry)
    {
        Trace(IDS_DIR_TRACE_UNKNOWN_ENTRY, domain.GetString(), name.GetString());
        return FALSE;
    }
    if (walk.localUser)
    {
        Trace(IDS_DIR_TRACE_LOCAL_SKIPS_DOMAIN, domain.GetString(), name.GetString());
        return FALSE;
    }

    CStringEx identity;
    LONG token = 0;
    const HRESULT group = FindGroup(searchRoot, name, identity, token);
    if (group == S_OK)
    {
        Trace(IDS_DIR_TRACE_GROUP_FOUND, domain.GetString(), name.GetString());
        return IsMemberLdap(searchRoot, walk, name, identity, token);
    }
    if (!bare)
        return FALSE;
    // A bare name that is no directory object at all may name a group of this computer.
    // Only a directory that answered "none" says so: while it cannot be asked, a local
    // group that merely bears the configured name must not open the cart.
    const HRESULT object = group == S_FALSE ? FindObject(searchRoot, name) : group;
    if (object == S_OK)
        return FALSE;
    if (object != S_FALSE)
    {
        Trace(IDS_DIR_TRACE_NO_LOCAL_FALLBACK, name.GetString());
        return FALSE;
    }
    return CheckLocalGroup(LocalPath(walk.workingDomain, name), walk);
}

BOOL CADQuery::CheckLocalGroup(const CStringEx& path, Walk& walk)
{
    CheckCancel();
    CComPtrEx<IADs> object;
    HRESULT hr = OpenObject(path, IID_IADs, object);
    if (FAILED(hr))
    {
        Trace(IDS_DIR_TRACE_OPEN_LOCAL_FAILED, path.GetString(), hr);
        return FALSE;
    }
    CBstrEx className;
    hr = object->get_Class(className.Put());
    if (FAILED(hr) || !IsGroupClass(className.Text()))
    {
        Trace(IDS_DIR_TRACE_NOT_A_GROUP, path.GetString(), className.Text());
        return FALSE;
    }
    CComPtrEx<IADsGroup> group;
    hr = object.QueryInterface(IID_IADsGroup, group);
    if (FAILED(hr))
    {
        Trace(IDS_DIR_TRACE_OPEN_GROUP_FAILED, path.GetString(), hr);
        return FALSE;
    }
    return IsMemberWinNT(group.Get(), path, walk);
}

HRESULT CADQuery::Search(LPCWSTR root, LPCWSTR filter, LPCWSTR const* attributes, DWORD count,
                         _CObjectExPtr<CADQuerySearchContext>& context)
{
    context = nullptr;
    if (IsBlank(root) || IsBlank(filter))
        return E_INVALIDARG;
    try
    {
        auto search = MakeObjectEx<CADDirectorySearch>(root);
        HRESULT hr = search->GetOpenResult();
        if (FAILED(hr))
            return hr;
        // A paged search: without a page size the directory stops at its result limit (1000
        // rows in Active Directory) and says nothing; page by page every row arrives.
        // Referrals are never chased: a search from the domain's root also returns references
        // to the directory's configuration and DNS partitions, and chasing them costs a bind
        // and a round trip each (and fails the whole search where they cannot be followed),
        // while every account looked for lives in the working domain itself.
        ADS_SEARCHPREF_INFO preferences[4] = {};
        preferences[0].dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
        preferences[0].vValue.dwType = ADSTYPE_INTEGER;
        preferences[0].vValue.Integer = ADS_SCOPE_SUBTREE;
        preferences[1].dwSearchPref = ADS_SEARCHPREF_ASYNCHRONOUS;
        preferences[1].vValue.dwType = ADSTYPE_BOOLEAN;
        preferences[1].vValue.Boolean = TRUE;
        preferences[2].dwSearchPref = ADS_SEARCHPREF_PAGESIZE;
        preferences[2].vValue.dwType = ADSTYPE_INTEGER;
        preferences[2].vValue.Integer = kSearchPageSize;
        preferences[3].dwSearchPref = ADS_SEARCHPREF_CHASE_REFERRALS;
        preferences[3].vValue.dwType = ADSTYPE_INTEGER;
        preferences[3].vValue.Integer = ADS_CHASE_REFERRALS_NEVER;
        hr = search->SetPreferences(preferences, ARRAYSIZE(preferences));
        if (FAILED(hr))
            return hr;
        hr = search->Execute(filter, const_cast<LPWSTR*>(attributes), count);
        if (FAILED(hr))
            return hr;
        context = MakeObjectEx<CADQuerySearchContext>(search);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT CADQuery::RunSearch(LPCWSTR searchRoot, const CStringEx& filter, LPCWSTR const* attributes, DWORD count,
                            _CObjectExPtr<CADQuerySearchContext>& context)
{
    CheckCancel();
    const HRESULT hr = IsBlank(searchRoot) ? E_INVALIDARG : Search(searchRoot, filter, attributes, count, context);
    if (FAILED(hr))
        Trace(IDS_DIR_TRACE_SEARCH_FAILED, filter.GetString(), hr);
    return hr;
}

HRESULT CADQuery::FindGroup(LPCWSTR searchRoot, const CStringEx& name, CStringEx& identity, LONG& token)
{
    const CStringEx escaped = EscapeFilterValue(name);
    CStringEx filter;
    CResourceLoader::Instance().FormatString(filter, IDS_DIR_FILTER_FIND_GROUP, escaped.GetString(), escaped.GetString());
    LPCWSTR attributes[] = { m_attrIdentity, m_attrName, m_attrGroupToken };
    _CObjectExPtr<CADQuerySearchContext> context;
    HRESULT hr = RunSearch(searchRoot, filter, attributes, ARRAYSIZE(attributes), context);
    if (FAILED(hr))
        return hr;

    // The filter matches the account name, unique in the domain, or the common name, unique
    // only within its container: when several groups answer, only the one whose account name
    // this is may count.
    int rows = 0;
    CStringEx first;
    CStringEx exact;
    LONG firstToken = 0;
    LONG exactToken = 0;
    bool hasExact = false;
    for (;;)
    {
        CheckCancel();
        hr = context->NextRow();
        if (hr == S_ADS_NOMORE_ROWS)
            break;
        CStringEx rowIdentity;
        if (SUCCEEDED(hr))
            hr = context->GetString(m_attrIdentity, rowIdentity);
        if (FAILED(hr))
        {
            Trace(IDS_DIR_TRACE_FIND_FAILED, name.GetString(), hr);
            return hr;
        }
        // A group without a readable token is never anyone's primary group here.
        LONG rowToken = 0;
        if (FAILED(context->GetInteger(m_attrGroupToken, rowToken)))
            rowToken = 0;
        if (++rows == 1)
        {
            first = rowIdentity;
            firstToken = rowToken;
        }
        CStringEx accountName;
        if (!hasExact && SUCCEEDED(context->GetString(m_attrName, accountName)) && SameText(accountName, name))
        {
            exact = rowIdentity;
            exactToken = rowToken;
            hasExact = true;
        }
    }
    if (rows == 0)
    {
        Trace(IDS_DIR_TRACE_GROUP_NOT_FOUND, name.GetString());
        return S_FALSE;
    }
    if (rows == 1)
    {
        identity = first;
        token = firstToken;
        return S_OK;
    }
    Trace(IDS_DIR_TRACE_AMBIGUOUS_GROUP, rows, name.GetString());
    if (!hasExact)
    {
        hr = HRESULT_FROM_WIN32(ERROR_DS_NAME_ERROR_NOT_UNIQUE);
        Trace(IDS_DIR_TRACE_FIND_FAILED, name.GetString(), hr);
        return hr;
    }
    identity = exact;
    token = exactToken;
    return S_OK;
}

HRESULT CADQuery::FindObject(LPCWSTR searchRoot, const CStringEx& name)
{
    const CStringEx escaped = EscapeFilterValue(name);
    CStringEx filter;
    CResourceLoader::Instance().FormatString(filter, IDS_DIR_FILTER_FIND_OBJECT, escaped.GetString(), escaped.GetString());
    LPCWSTR attributes[] = { m_attrName, m_attrDisplayName, m_attrDescription };
    _CObjectExPtr<CADQuerySearchContext> context;
    const HRESULT hr = RunSearch(searchRoot, filter, attributes, ARRAYSIZE(attributes), context);
    if (FAILED(hr))
        return hr;
    CheckCancel();
    const HRESULT row = context->NextRow();
    if (row == S_ADS_NOMORE_ROWS)
        return S_FALSE;
    return FAILED(row) ? row : S_OK;
}

bool CADQuery::IsPrimaryGroup(LPCWSTR searchRoot, Walk& walk, LONG groupToken)
{
    if (groupToken <= 0)
        return false;
    // The user's primary group is read once per walk: the directory lists that membership
    // neither in the group's members nor in the user's memberOf.
    if (walk.primaryGroup < 0)
    {
        walk.primaryGroup = 0;
        const CStringEx user = EscapeFilterValue(walk.user);
        CStringEx filter;
        CResourceLoader::Instance().FormatString(filter, IDS_DIR_FILTER_USER, user.GetString());
        LPCWSTR attributes[] = { m_attrPrimaryGroup };
        _CObjectExPtr<CADQuerySearchContext> context;
        LONG primary = 0;
        if (SUCCEEDED(RunSearch(searchRoot, filter, attributes, ARRAYSIZE(attributes), context)) &&
            context->NextRow() == S_OK && SUCCEEDED(context->GetInteger(m_attrPrimaryGroup, primary)) && primary > 0)
            walk.primaryGroup = primary;
    }
    return walk.primaryGroup == groupToken;
}

BOOL CADQuery::IsMemberLdap(LPCWSTR searchRoot, Walk& walk, const CStringEx& groupLabel, const CStringEx& groupIdentity,
                            LONG groupToken)
{
    CheckCancel();
    if (!walk.Visit(groupIdentity))
    {
        Trace(IDS_DIR_TRACE_ALREADY_VISITED, groupLabel.GetString());
        return FALSE;
    }

    // A direct member?
    const CStringEx user = EscapeFilterValue(walk.user);
    const CStringEx identity = EscapeFilterValue(groupIdentity);
    CStringEx filter;
    CResourceLoader::Instance().FormatString(filter, IDS_DIR_FILTER_DIRECT_MEMBER, user.GetString(), identity.GetString());
    LPCWSTR directAttributes[] = { m_attrIdentity };
    _CObjectExPtr<CADQuerySearchContext> context;
    if (SUCCEEDED(RunSearch(searchRoot, filter, directAttributes, ARRAYSIZE(directAttributes), context)))
    {
        CheckCancel();
        if (context->NextRow() == S_OK)
        {
            Trace(IDS_DIR_TRACE_DIRECT_MEMBER, walk.user.GetString(), groupLabel.GetString());
            return TRUE;
        }
    }
    Trace(IDS_DIR_TRACE_NOT_DIRECT_MEMBER, walk.user.GetString(), groupLabel.GetString());
    if (IsPrimaryGroup(searchRoot, walk, groupToken))
    {
        Trace(IDS_DIR_TRACE_PRIMARY_GROUP, walk.user.GetString(), groupLabel.GetString());
        return TRUE;
    }

    // The groups nested in this one; read them all before descending, so one search
    // at a time stays open however deep the nesting goes.
    CResourceLoader::Instance().FormatString(filter, IDS_DIR_FILTER_NESTED_GROUPS, identity.GetString());
    LPCWSTR nestedAttributes[] = { m_attrName, m_attrIdentity, m_attrGroupToken };
    context = nullptr;
    if (FAILED(RunSearch(searchRoot, filter, nestedAttributes, ARRAYSIZE(nestedAttributes), context)))
        return FALSE;
    struct Nested
    {
        CStringEx name;
        CStringEx identity;
        LONG token;
    };
    std::vector<Nested> nested;
    for (;;)
    {
        CheckCancel();
        if (context->NextRow() != S_OK)
            break;
        CStringEx name, id;
        LONG token = 0;
        context->GetString(m_attrName, name);
        if (FAILED(context->GetInteger(m_attrGroupToken, token)))
            token = 0;
        if (SUCCEEDED(context->GetString(m_attrIdentity, id)))
            nested.push_back({ name.IsEmpty() ? id : name, id, token });
    }
    context = nullptr;
    for (const Nested& group : nested)
    {
        Trace(IDS_DIR_TRACE_NESTED_GROUP, group.name.GetString());
        if (IsMemberLdap(searchRoot, walk, group.name, group.identity, group.token))
            return TRUE;
    }
    return FALSE;
}

bool CADQuery::MemberPath(const CStringEx& parent, const CStringEx& name, const Walk& walk, CStringEx& path,
                          bool& domainObject) const
{
    // The parent of a WinNT member is "WinNT://DOMAIN" (a domain account) or
    // "WinNT://DOMAIN/COMPUTER" (an account of that computer).
    if (m_winntPrefix.IsEmpty() || parent.GetLength() <= m_winntPrefix.GetLength() ||
        parent.Left(m_winntPrefix.GetLength()).CompareNoCase(m_winntPrefix) != 0)
        return false;
    const CStringEx rest = parent.Mid(m_winntPrefix.GetLength());
    const int slash = rest.Find(L'/');
    if (slash < 0)
    {
        domainObject = true;
        path = DomainPath(rest, name);
        return true;
    }
    const CStringEx computer = rest.Mid(slash + 1);
    if (computer.IsEmpty() || computer.Find(L'/') >= 0)
        return false;
    // Local accounts are compared in the form the user's own path takes.
    domainObject = false;
    CResourceLoader::Instance().FormatString(path, IDS_DIR_PATH_WINNT_LOCAL, walk.workingDomain.GetString(),
                                             computer.GetString(), name.GetString());
    return true;
}

BOOL CADQuery::IsMemberWinNT(IADsGroup* group, const CStringEx& groupPath, Walk& walk)
{
    CheckCancel();
    if (!walk.Visit(groupPath))
    {
        Trace(IDS_DIR_TRACE_ALREADY_VISITED, groupPath.GetString());
        return FALSE;
    }
    CComPtrEx<IADsMembers> members;
    HRESULT hr = group->Members(members.Put());
    CComPtrEx<IUnknown> unknown;
    if (SUCCEEDED(hr))
        hr = members->get__NewEnum(unknown.Put());
    CComPtrEx<IEnumVARIANT> enumerator;
    if (SUCCEEDED(hr))
        hr = unknown.QueryInterface(IID_IEnumVARIANT, enumerator);
    if (FAILED(hr))
    {
        Trace(IDS_DIR_TRACE_ENUM_FAILED, groupPath.GetString(), hr);
        return FALSE;
    }

    for (;;)
    {
        CheckCancel();
        CVariantEx item;
        ULONG fetched = 0;
        hr = enumerator->Next(1, item.Put(), &fetched);
        if (FAILED(hr))
            Trace(IDS_DIR_TRACE_MEMBER_FAILED, groupPath.GetString(), hr);
        if (hr != S_OK || fetched == 0)
            return FALSE;

        CComPtrEx<IADs> member;
        if (V_VT(&item) == VT_DISPATCH && V_DISPATCH(&item))
            hr = V_DISPATCH(&item)->QueryInterface(IID_IADs, member.PutVoid());
        else
            hr = DISP_E_TYPEMISMATCH;
        CBstrEx name, parent, className;
        if (SUCCEEDED(hr))
            hr = member->get_Name(name.Put());
        if (SUCCEEDED(hr))
            hr = member->get_Parent(parent.Put());
        if (SUCCEEDED(hr))
            hr = member->get_Class(className.Put());
        CStringEx memberPath;
        bool domainObject = false;
        if (SUCCEEDED(hr) && !MemberPath(parent.Text(), name.Text(), walk, memberPath, domainObject))
            hr = E_ADS_BAD_PATHNAME;
        if (FAILED(hr))
        {
            Trace(IDS_DIR_TRACE_MEMBER_FAILED, groupPath.GetString(), hr);
            continue;
        }

        if (memberPath.CompareNoCase(walk.userPath) == 0)
        {
            Trace(IDS_DIR_TRACE_MEMBER_MATCH, walk.userPath.GetString(), groupPath.GetString());
            return TRUE;
        }
        if (!IsGroupClass(className.Text()))
            continue;

        Trace(IDS_DIR_TRACE_OPEN_NESTED, memberPath.GetString());
        CheckCancel();
        CComPtrEx<IADsGroup> nested;
        hr = OpenObject(memberPath, IID_IADsGroup, nested);
        if (FAILED(hr))
        {
            Trace(IDS_DIR_TRACE_OPEN_GROUP_FAILED, memberPath.GetString(), hr);
            continue;
        }
        Trace(domainObject ? IDS_DIR_TRACE_NESTED_GROUP : IDS_DIR_TRACE_NESTED_LOCAL, memberPath.GetString());
        if (IsMemberWinNT(nested.Get(), memberPath, walk))
            return TRUE;
    }
}

BOOL CADQuery::LookupAdministratorsGroup(CStringEx& name)
{
    const CStringEx sidText = CResourceLoader::Instance().LoadText(IDS_DIR_ADMINS_SID);
    PSID rawSid = nullptr;
    if (!ConvertStringSidToSidW(sidText, &rawSid))
    {
        Trace(IDS_DIR_TRACE_LOOKUP_SID_FAILED, sidText.GetString(), GetLastError());
        return FALSE;
    }
    CLocalMemEx sid(rawSid);
    DWORD nameLength = 0, domainLength = 0;
    SID_NAME_USE use = SidTypeUnknown;
    LookupAccountSidW(nullptr, sid.Get(), nullptr, &nameLength, nullptr, &domainLength, &use);
    if (nameLength == 0)
    {
        Trace(IDS_DIR_TRACE_LOOKUP_SID_FAILED, sidText.GetString(), GetLastError());
        return FALSE;
    }
    CStringEx domain;
    const BOOL found = LookupAccountSidW(nullptr, sid.Get(), name.GetBuffer(static_cast<int>(nameLength)), &nameLength,
                                         domain.GetBuffer(static_cast<int>(domainLength + 1)), &domainLength, &use);
    const DWORD error = GetLastError();
    name.ReleaseBuffer();
    domain.ReleaseBuffer();
    if (!found || name.IsEmpty())
    {
        Trace(IDS_DIR_TRACE_LOOKUP_SID_FAILED, sidText.GetString(), found ? ERROR_NONE_MAPPED : error);
        return FALSE;
    }
    return TRUE;
}

BOOL CADQuery::IsLocalGroupMember(LPCWSTR searchRoot, LPCWSTR user, LPCWSTR userDomain)
{
    if (IsBlank(user) || IsBlank(userDomain) || m_computer.IsEmpty())
        return FALSE;
    try
    {
        if (!IsValidUser(user))
            return FALSE;
        // Local accounts, and accounts of this computer's DNS domain when the directory
        // can be searched; the NetBIOS domain name is not accepted here.
        Walk walk;
        walk.user = user;
        const CStringEx domain(userDomain);
        if (SameText(m_computer, domain))
        {
            walk.localUser = true;
            walk.workingDomain = m_computer;
            walk.userPath = LocalPath(walk.workingDomain, walk.user);
            Trace(IDS_DIR_TRACE_LOCAL_USER, user);
        }
        else if (SameText(m_dnsDomain, domain))
        {
            if (IsBlank(searchRoot))
            {
                Trace(IDS_DIR_TRACE_NEEDS_ROOT, userDomain, user);
                return FALSE;
            }
            walk.workingDomain = m_netbiosDomain.IsEmpty() ? m_dnsDomain : m_netbiosDomain;
            walk.userPath = DomainPath(walk.workingDomain, walk.user);
            Trace(IDS_DIR_TRACE_DOMAIN_USER, user);
        }
        else
        {
            Trace(IDS_DIR_TRACE_UNKNOWN_DOMAIN, userDomain, m_dnsDomain.GetString(), m_netbiosDomain.GetString());
            return FALSE;
        }

        CStringEx groupName;
        if (!LookupAdministratorsGroup(groupName))
            return FALSE;
        const CStringEx path = LocalPath(walk.workingDomain, groupName);
        CheckCancel();
        CComPtrEx<IADsGroup> group;
        const HRESULT hr = OpenObject(path, IID_IADsGroup, group);
        if (FAILED(hr))
        {
            Trace(IDS_DIR_TRACE_OPEN_GROUP_FAILED, path.GetString(), hr);
            return FALSE;
        }
        const BOOL member = IsMemberWinNT(group.Get(), path, walk);
        Trace(member ? IDS_DIR_TRACE_LOCAL_MEMBER : IDS_DIR_TRACE_NOT_LOCAL_MEMBER, user, groupName.GetString());
        return member;
    }
    catch (const CErrorEx& error)
    {
        return EndWalk(error.Code());
    }
    catch (const std::bad_alloc&)
    {
        return FALSE;
    }
}

void CADQuery::Trace(UINT id, ...)
{
    if (m_traceWindow == nullptr)
        return;
    CStringEx text;
    va_list args;
    va_start(args, id);
    CResourceLoader::Instance().FormatStringV(text, id, args);
    va_end(args);
    PostTrace(1, text);
}

void CADQuery::PostTrace(WPARAM level, const CStringEx& text)
{
    CStringEx line;
    if (level != 0)
    {
        // Local time as "date time.milliseconds ", or the fallback format when either part
        // cannot be formatted.
        SYSTEMTIME now;
        GetLocalTime(&now);
        WCHAR date[80] = {}, time[80] = {};
        if (GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, ARRAYSIZE(date), nullptr) &&
            GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT, &now, nullptr, time,
                            ARRAYSIZE(time)))
            line.Format(L"%s %s.%d ", date, time, now.wMilliseconds);
        else
            CResourceLoader::Instance().FormatString(line, IDS_DIR_TIME_FALLBACK, now.wHour, now.wMinute, now.wSecond,
                                                     now.wMilliseconds);
    }
    CStringEx joined;
    joined.Format(L"%s%s", line.GetString(), text.GetString());
    CBstrEx message(joined);
    // The window frees the string; a post that fails leaves it to us.
    if (message.Get() && PostMessageW(m_traceWindow, WM_ADQUERY_TRACE, level, reinterpret_cast<LPARAM>(message.Get())))
        message.Detach();
}
