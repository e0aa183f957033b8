#include "sim/adsi/SimDirectoryObject.h"
#include "sim/adsi/SimLdapFilter.h"
#include "sim/adsi/SimMembers.h"
#include <adserr.h>
#include <adshlp.h>
#include <algorithm>

// The rows of one running search, with the attributes the caller asked for.
struct SimDirectoryObject::Search
{
    std::vector<SimLdapNode> rows;
    std::vector<std::wstring> attributes; // empty: all
    long current = -1;
    size_t nextColumn = 0;
    // Rows per page the server sends; 0 for a search without pages.
    long pageRows = 0;
    // The client is made to wait once at every page boundary (asynchronous paged search).
    bool waitsForPages = false;
    // The row at whose page boundary the client was last made to wait.
    long waitedAt = -1;

    // True, once per boundary, when row `next` begins a page that has not arrived yet.
    bool PageOnItsWay(long next)
    {
        if (!waitsForPages || pageRows <= 0 || next % pageRows != 0 || next >= static_cast<long>(rows.size()) ||
            waitedAt == next)
            return false;
        waitedAt = next;
        return true;
    }
};

namespace
{
constexpr HRESULT kServerDown = HRESULT_FROM_WIN32(ERROR_DS_SERVER_DOWN);
constexpr HRESULT kNoSuchObject = HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT);
constexpr HRESULT kBadNetPath = HRESULT_FROM_WIN32(ERROR_BAD_NETPATH);
constexpr HRESULT kUserNotFound = HRESULT_FROM_WIN32(2221);  // NERR_UserNotFound
constexpr HRESULT kGroupNotFound = HRESULT_FROM_WIN32(2220); // NERR_GroupNotFound

bool StartsWithNoCase(const std::wstring& text, const std::wstring& head)
{
    return text.size() >= head.size() && SimEqualNoCase(text.substr(0, head.size()), head);
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;)
    {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
        if (at == std::wstring::npos)
            return parts;
        start = at + 1;
    }
}

// The position of the first comma of a DN that is not escaped, or npos.
size_t FirstRdnEnd(const std::wstring& dn)
{
    for (size_t i = 0; i < dn.size(); ++i)
    {
        if (dn[i] == L'\\')
            ++i;
        else if (dn[i] == L',')
            return i;
    }
    return std::wstring::npos;
}

// The scope test of a search: is dn the base, a child of it, or anywhere below it?
bool InScope(const std::wstring& dn, const std::wstring& base, ADS_SCOPEENUM scope)
{
    if (SimEqualNoCase(dn, base))
        return scope != ADS_SCOPE_ONELEVEL;
    if (scope == ADS_SCOPE_BASE || dn.size() <= base.size() + 1)
        return false;
    const std::wstring tail = dn.substr(dn.size() - base.size());
    if (!SimEqualNoCase(tail, base) || dn[dn.size() - base.size() - 1] != L',')
        return false;
    if (scope == ADS_SCOPE_SUBTREE)
        return true;
    const size_t end = FirstRdnEnd(dn);
    return end != std::wstring::npos && end == dn.size() - base.size() - 1;
}

HRESULT MakeVariant(const SimAttribute& attribute, VARIANT* out, bool asArray)
{
    auto single = [&](const std::wstring& value, VARIANT* v) -> HRESULT {
        VariantInit(v);
        if (attribute.type == ADSTYPE_INTEGER)
        {
            V_VT(v) = VT_I4;
            V_I4(v) = _wtoi(value.c_str());
            return S_OK;
        }
        V_VT(v) = VT_BSTR;
        return SimReturnBstr(value, &V_BSTR(v));
    };
    if (!asArray && attribute.values.size() == 1)
        return single(attribute.values.front(), out);

    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(attribute.values.size()));
    if (!array)
        return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(attribute.values.size()); ++i)
    {
        VARIANT v;
        HRESULT hr = single(attribute.values[static_cast<size_t>(i)], &v);
        if (SUCCEEDED(hr))
            hr = SafeArrayPutElement(array, &i, &v);
        VariantClear(&v);
        if (FAILED(hr))
        {
            SafeArrayDestroy(array);
            return hr;
        }
    }
    VariantInit(out);
    V_VT(out) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(out) = array;
    return S_OK;
}
}

SimDirectoryObject::SimDirectoryObject(std::shared_ptr<const SimDirectory> directory, Kind kind) noexcept
    : m_dir(std::move(directory)), m_kind(kind)
{
}

SimDirectoryObject::~SimDirectoryObject()
{
    for (Search* search : m_searches)
        delete search;
}

HRESULT SimDirectoryObject::Open(const std::wstring& path, IDispatch** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    const bool ldap = StartsWithNoCase(path, L"LDAP://");
    const bool winnt = StartsWithNoCase(path, L"WinNT://");
    if (!ldap && !winnt)
        return E_ADS_BAD_PATHNAME;

    std::shared_ptr<const SimDirectory> directory;
    if (FAILED(SimDirectory::Current(directory)))
        return ldap ? kServerDown : kBadNetPath;
    if (directory->DelayMs())
        Sleep(directory->DelayMs());

    std::wstring rest = path.substr(ldap ? 7 : 8);
    if (rest.empty())
        return E_ADS_BAD_PATHNAME;

    if (ldap)
    {
        if (!directory->HasDomain() || directory->LdapDown())
            return kServerDown;
        std::wstring server;
        const size_t slash = rest.find(L'/');
        if (slash != std::wstring::npos && rest.substr(0, slash).find(L'=') == std::wstring::npos)
        {
            server = rest.substr(0, slash);
            rest = rest.substr(slash + 1);
        }
        SimDirectoryObject* object = nullptr;
        if (SimEqualNoCase(rest, L"RootDSE"))
            object = new SimDirectoryObject(directory, RootDse);
        else
        {
            SimLdapNode node;
            if (!directory->FindLdapNode(rest, node))
                return kNoSuchObject;
            object = new SimDirectoryObject(directory, Ldap);
            object->m_node = node;
            object->m_entry = node.entry;
        }
        object->m_server = server;
        *out = static_cast<IADsGroup*>(object);
        return S_OK;
    }

    // An optional ",class" suffix names the class the caller expects.
    std::wstring expected;
    const size_t comma = rest.rfind(L',');
    if (comma != std::wstring::npos)
    {
        expected = rest.substr(comma + 1);
        rest = rest.substr(0, comma);
    }
    const std::vector<std::wstring> parts = Split(rest, L'/');
    const SimEntry* entry = nullptr;
    auto isDomain = [&](const std::wstring& name) {
        return directory->HasDomain() &&
               (SimEqualNoCase(name, directory->NetBiosDomain()) || SimEqualNoCase(name, directory->DnsDomain()));
    };
    auto isComputer = [&](const std::wstring& name) { return SimEqualNoCase(name, directory->Computer()); };
    if (parts.size() == 2 && isComputer(parts[0]))
        entry = directory->Find(parts[1], true);
    else if (parts.size() == 2 && isDomain(parts[0]))
        entry = directory->Find(parts[1], false);
    else if (parts.size() == 3 && isComputer(parts[1]) &&
             (isComputer(parts[0]) || isDomain(parts[0]) || SimEqualNoCase(parts[0], directory->Workgroup())))
        entry = directory->Find(parts[2], true);
    else
        return kBadNetPath;
    if (parts.back().empty())
        return E_ADS_BAD_PATHNAME;
    const bool wantGroup = SimEqualNoCase(expected, L"group");
    const bool wantUser = SimEqualNoCase(expected, L"user");
    if (!entry || (wantGroup && entry->kind != SimEntry::Group) || (wantUser && entry->kind != SimEntry::User))
        return wantGroup ? kGroupNotFound : kUserNotFound;
    *out = ForEntry(directory, *entry, WinNT);
    return S_OK;
}

IDispatch* SimDirectoryObject::ForEntry(const std::shared_ptr<const SimDirectory>& directory, const SimEntry& entry,
                                        Kind kind)
{
    auto* object = new SimDirectoryObject(directory, kind);
    object->m_entry = &entry;
    if (kind == Ldap)
        object->m_node = { SimLdapNode::Account, &entry, directory->DnOf(entry) };
    return static_cast<IADsGroup*>(object);
}

HRESULT SimDirectoryObject::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IADs)
        *out = static_cast<IADsGroup*>(this);
    else if (iid == IID_IADsGroup && IsGroup())
        *out = static_cast<IADsGroup*>(this);
    else if (iid == IID_IDirectorySearch && m_kind == Ldap)
        *out = static_cast<IDirectorySearch*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

std::wstring SimDirectoryObject::WinNTPath(const SimEntry& entry) const
{
    const std::wstring domain = m_dir->HasDomain() ? m_dir->NetBiosDomain() : m_dir->Workgroup();
    if (entry.local)
        return L"WinNT://" + domain + L"/" + m_dir->Computer() + L"/" + entry.name;
    return L"WinNT://" + domain + L"/" + entry.name;
}

std::wstring SimDirectoryObject::Path() const
{
    if (m_kind == WinNT)
        return WinNTPath(*m_entry);
    const std::wstring head = m_server.empty() ? L"LDAP://" : L"LDAP://" + m_server + L"/";
    return head + (m_kind == RootDse ? L"RootDSE" : m_node.dn);
}

HRESULT SimDirectoryObject::get_Name(BSTR* out)
{
    if (m_kind == WinNT)
        return SimReturnBstr(m_entry->name, out);
    if (m_kind == RootDse)
        return SimReturnBstr(L"RootDSE", out);
    return SimReturnBstr(m_node.dn.substr(0, FirstRdnEnd(m_node.dn)), out);
}

HRESULT SimDirectoryObject::get_Class(BSTR* out)
{
    if (m_kind == RootDse)
        return SimReturnBstr(L"RootDSE", out);
    if (m_kind == WinNT)
        return SimReturnBstr(IsGroup() ? L"Group" : L"User", out);
    switch (m_node.type)
    {
    case SimLdapNode::Domain:
        return SimReturnBstr(L"domainDNS", out);
    case SimLdapNode::Container:
        return SimReturnBstr(L"container", out);
    default:
        if (m_entry && m_entry->kind == SimEntry::Computer)
            return SimReturnBstr(L"computer", out);
        return SimReturnBstr(IsGroup() ? L"group" : L"user", out);
    }
}

HRESULT SimDirectoryObject::get_Parent(BSTR* out)
{
    const std::wstring path = Path();
    if (m_kind == WinNT)
        return SimReturnBstr(path.substr(0, path.rfind(L'/')), out);
    if (m_kind == RootDse)
        return SimReturnBstr(L"LDAP:", out);
    const size_t end = FirstRdnEnd(m_node.dn);
    const std::wstring head = m_server.empty() ? L"LDAP://" : L"LDAP://" + m_server + L"/";
    return SimReturnBstr(end == std::wstring::npos ? std::wstring(L"LDAP:") : head + m_node.dn.substr(end + 1), out);
}

std::vector<SimAttribute> SimDirectoryObject::Properties() const
{
    if (m_kind == RootDse)
        return { { L"defaultNamingContext", ADSTYPE_DN_STRING, { m_dir->DomainDn() } },
                 { L"rootDomainNamingContext", ADSTYPE_DN_STRING, { m_dir->DomainDn() } },
                 { L"dnsHostName", ADSTYPE_CASE_IGNORE_STRING, { L"dc1." + m_dir->DnsDomain() } } };
    if (m_kind == Ldap)
        return m_dir->Attributes(m_node);
    std::vector<SimAttribute> properties{ { L"Name", ADSTYPE_CASE_IGNORE_STRING, { m_entry->name } } };
    if (!m_entry->description.empty())
        properties.push_back({ L"Description", ADSTYPE_CASE_IGNORE_STRING, { m_entry->description } });
    if (!m_entry->displayName.empty())
        properties.push_back({ L"FullName", ADSTYPE_CASE_IGNORE_STRING, { m_entry->displayName } });
    return properties;
}

HRESULT SimDirectoryObject::GetProperty(BSTR name, VARIANT* out, bool asArray) const
{
    if (!out)
        return E_POINTER;
    VariantInit(out);
    if (!name)
        return E_ADS_BAD_PARAMETER;
    for (const SimAttribute& attribute : Properties())
        if (SimEqualNoCase(attribute.name, name))
            return MakeVariant(attribute, out, asArray);
    return E_ADS_PROPERTY_NOT_FOUND;
}

HRESULT SimDirectoryObject::get_Description(BSTR* out)
{
    return SimReturnBstr(m_entry ? m_entry->description : std::wstring(), out);
}

HRESULT SimDirectoryObject::Members(IADsMembers** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsGroup())
        return E_NOINTERFACE;
    std::vector<IDispatch*> members;
    for (const SimEntry* member : m_dir->Members(*m_entry))
        members.push_back(ForEntry(m_dir, *member, m_kind));
    *out = new SimMembers(std::move(members));
    return S_OK;
}

HRESULT SimDirectoryObject::IsMember(BSTR path, VARIANT_BOOL* out)
{
    if (!out || !path)
        return E_POINTER;
    *out = VARIANT_FALSE;
    IDispatch* candidate = nullptr;
    const HRESULT hr = Open(path, &candidate);
    if (FAILED(hr))
        return hr;
    const SimEntry* entry = static_cast<SimDirectoryObject*>(static_cast<IADsGroup*>(candidate))->m_entry;
    candidate->Release();
    for (const SimEntry* member : m_dir->Members(*m_entry))
        if (member == entry)
            *out = VARIANT_TRUE;
    return S_OK;
}

HRESULT SimDirectoryObject::SetSearchPreference(PADS_SEARCHPREF_INFO prefs, DWORD count)
{
    if (!prefs && count)
        return E_POINTER;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < count; ++i)
    {
        ADS_SEARCHPREF_INFO& pref = prefs[i];
        pref.dwStatus = ADS_STATUS_S_OK;
        if (pref.dwSearchPref == ADS_SEARCHPREF_ASYNCHRONOUS && pref.vValue.dwType == ADSTYPE_BOOLEAN)
        {
            m_async = pref.vValue.Boolean != FALSE;
            continue;
        }
        if (pref.dwSearchPref == ADS_SEARCHPREF_SEARCH_SCOPE && pref.vValue.dwType == ADSTYPE_INTEGER &&
            pref.vValue.Integer <= ADS_SCOPE_SUBTREE)
        {
            m_scope = static_cast<ADS_SCOPEENUM>(pref.vValue.Integer);
            continue;
        }
        if (pref.dwSearchPref == ADS_SEARCHPREF_PAGESIZE && pref.vValue.dwType == ADSTYPE_INTEGER)
        {
            m_pageSize = pref.vValue.Integer;
            continue;
        }
        if (pref.dwSearchPref == ADS_SEARCHPREF_CHASE_REFERRALS && pref.vValue.dwType == ADSTYPE_INTEGER)
        {
            m_chaseReferrals = static_cast<long>(pref.vValue.Integer);
            continue;
        }
        // This directory applies its own defaults for every other preference.
        pref.dwStatus = ADS_STATUS_INVALID_SEARCHPREF;
        result = S_ADS_ERRORSOCCURRED;
    }
    return result;
}

HRESULT SimDirectoryObject::ExecuteSearch(LPWSTR filter, LPWSTR* attributes, DWORD count, PADS_SEARCH_HANDLE handle)
{
    if (!handle)
        return E_POINTER;
    *handle = nullptr;
    ++g_simCalls;
    if (m_dir->DelayMs())
        Sleep(m_dir->DelayMs());

    SimLdapFilter parsed;
    if (!parsed.Parse(filter && *filter ? filter : L"(objectClass=*)"))
        return E_ADS_INVALID_FILTER;
    // The references to the partitions below the domain's root come with every subtree
    // search from there; following them fails the search as Wine's LDAP provider does.
    if (m_dir->Referrals() && m_node.type == SimLdapNode::Domain && m_scope == ADS_SCOPE_SUBTREE &&
        m_chaseReferrals != ADS_CHASE_REFERRALS_NEVER)
        return kServerDown;
    auto* search = new Search;
    for (const SimLdapNode& node : m_dir->LdapNodes())
        if (InScope(node.dn, m_node.dn, m_scope) && parsed.Matches(m_dir->Attributes(node)))
            search->rows.push_back(node);
    // The server's result limit: a search without pages ends there, and nothing tells the
    // client that rows are missing; a paged one is served page by page to the end.
    if (m_pageSize == 0 && search->rows.size() > m_dir->SizeLimit())
        search->rows.resize(m_dir->SizeLimit());
    if (m_pageSize != 0)
        search->pageRows = static_cast<long>(std::min(m_pageSize, m_dir->MaxPageSize()));
    search->waitsForPages = m_async && m_pageSize != 0 && m_dir->PageWait();
    if (attributes && count != static_cast<DWORD>(-1))
        for (DWORD i = 0; i < count; ++i)
            if (attributes[i])
                search->attributes.push_back(attributes[i]);
    m_searches.push_back(search);
    *handle = search;
    return S_OK;
}

SimDirectoryObject::Search* SimDirectoryObject::FindSearch(ADS_SEARCH_HANDLE handle) const
{
    const auto it = std::find(m_searches.begin(), m_searches.end(), static_cast<Search*>(handle));
    return it == m_searches.end() ? nullptr : *it;
}

HRESULT SimDirectoryObject::GetFirstRow(ADS_SEARCH_HANDLE handle)
{
    Search* search = FindSearch(handle);
    if (!search)
        return E_ADS_BAD_PARAMETER;
    search->nextColumn = 0;
    if (search->PageOnItsWay(0))
    {
        search->current = -1;
        SimSetLastAdsiError(ERROR_MORE_DATA);
        return S_ADS_NOMORE_ROWS;
    }
    SimSetLastAdsiError(ERROR_SUCCESS);
    search->current = 0;
    return search->rows.empty() ? S_ADS_NOMORE_ROWS : S_OK;
}

HRESULT SimDirectoryObject::GetNextRow(ADS_SEARCH_HANDLE handle)
{
    Search* search = FindSearch(handle);
    if (!search)
        return E_ADS_BAD_PARAMETER;
    search->nextColumn = 0;
    if (search->PageOnItsWay(search->current + 1))
    {
        SimSetLastAdsiError(ERROR_MORE_DATA);
        return S_ADS_NOMORE_ROWS;
    }
    SimSetLastAdsiError(ERROR_SUCCESS);
    if (search->current < static_cast<long>(search->rows.size()))
        ++search->current;
    return search->current < static_cast<long>(search->rows.size()) ? S_OK : S_ADS_NOMORE_ROWS;
}

HRESULT SimDirectoryObject::GetPreviousRow(ADS_SEARCH_HANDLE handle)
{
    Search* search = FindSearch(handle);
    if (!search)
        return E_ADS_BAD_PARAMETER;
    if (search->current <= 0)
        return S_ADS_NOMORE_ROWS;
    --search->current;
    search->nextColumn = 0;
    return S_OK;
}

HRESULT SimDirectoryObject::GetNextColumnName(ADS_SEARCH_HANDLE handle, LPWSTR* name)
{
    Search* search = FindSearch(handle);
    if (!search || !name)
        return E_ADS_BAD_PARAMETER;
    *name = nullptr;
    if (search->current < 0 || search->current >= static_cast<long>(search->rows.size()))
        return E_ADS_BAD_PARAMETER;
    const std::vector<SimAttribute> all = m_dir->Attributes(search->rows[static_cast<size_t>(search->current)]);
    while (search->nextColumn < all.size())
    {
        const SimAttribute& a = all[search->nextColumn++];
        const bool wanted = search->attributes.empty() ||
                            std::any_of(search->attributes.begin(), search->attributes.end(),
                                        [&](const std::wstring& n) { return SimEqualNoCase(n, a.name); });
        if (wanted)
        {
            *name = AllocADsStr(a.name.c_str());
            return *name ? S_OK : E_OUTOFMEMORY;
        }
    }
    return S_ADS_NOMORE_COLUMNS;
}

namespace
{
// Everything one column hands out, freed as one block by FreeColumn.
struct ColumnBlock
{
    std::wstring name;
    std::vector<std::wstring> texts;
    std::vector<ADSVALUE> values;
};
}

HRESULT SimDirectoryObject::GetColumn(ADS_SEARCH_HANDLE handle, LPWSTR name, PADS_SEARCH_COLUMN column)
{
    Search* search = FindSearch(handle);
    if (!search || !name || !column)
        return E_ADS_BAD_PARAMETER;
    ZeroMemory(column, sizeof(*column));
    if (search->current < 0 || search->current >= static_cast<long>(search->rows.size()))
        return E_ADS_BAD_PARAMETER;
    const bool wanted = search->attributes.empty() ||
                        std::any_of(search->attributes.begin(), search->attributes.end(),
                                    [&](const std::wstring& n) { return SimEqualNoCase(n, name); });
    if (!wanted)
        return E_ADS_COLUMN_NOT_SET;

    const SimLdapNode& row = search->rows[static_cast<size_t>(search->current)];
    std::vector<SimAttribute> attributes = m_dir->Attributes(row);
    const std::wstring head = m_server.empty() ? L"LDAP://" : L"LDAP://" + m_server + L"/";
    attributes.push_back({ L"ADsPath", ADSTYPE_CASE_IGNORE_STRING, { head + row.dn } });
    for (const SimAttribute& a : attributes)
    {
        if (!SimEqualNoCase(a.name, name))
            continue;
        auto* block = new ColumnBlock{ a.name, a.values, {} };
        block->values.resize(block->texts.size());
        for (size_t i = 0; i < block->texts.size(); ++i)
        {
            ADSVALUE& v = block->values[i];
            v.dwType = a.type;
            if (a.type == ADSTYPE_INTEGER)
                v.Integer = static_cast<ADS_INTEGER>(_wtoi(block->texts[i].c_str()));
            else if (a.type == ADSTYPE_DN_STRING)
                v.DNString = &block->texts[i][0];
            else
                v.CaseIgnoreString = &block->texts[i][0];
        }
        column->pszAttrName = &block->name[0];
        column->dwADsType = a.type;
        column->pADsValues = block->values.data();
        column->dwNumValues = static_cast<DWORD>(block->values.size());
        column->hReserved = block;
        return S_OK;
    }
    return E_ADS_COLUMN_NOT_SET;
}

HRESULT SimDirectoryObject::FreeColumn(PADS_SEARCH_COLUMN column)
{
    if (!column)
        return E_ADS_BAD_PARAMETER;
    delete static_cast<ColumnBlock*>(column->hReserved);
    ZeroMemory(column, sizeof(*column));
    return S_OK;
}

HRESULT SimDirectoryObject::CloseSearchHandle(ADS_SEARCH_HANDLE handle)
{
    Search* search = FindSearch(handle);
    if (!search)
        return E_ADS_BAD_PARAMETER;
    m_searches.erase(std::find(m_searches.begin(), m_searches.end(), search));
    delete search;
    return S_OK;
}
