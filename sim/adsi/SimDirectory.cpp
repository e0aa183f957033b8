#include "sim/adsi/SimDirectory.h"
#include "common/CUniqueAnyEx.h"
#include <mutex>

bool SimEqualNoCase(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

namespace
{
std::wstring Trim(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos)
        return std::wstring();
    const size_t last = text.find_last_not_of(L" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Escapes a relative distinguished name value so names with commas or backslashes stay one RDN.
std::wstring EscapeRdn(const std::wstring& value)
{
    std::wstring out;
    for (size_t i = 0; i < value.size(); ++i)
    {
        const wchar_t c = value[i];
        const bool special = wcschr(L",+\"\\<>;=", c) != nullptr && c != 0;
        const bool edge = (i == 0 && (c == L' ' || c == L'#')) || (i + 1 == value.size() && c == L' ');
        if (special || edge)
            out += L'\\';
        out += c;
    }
    return out;
}

HRESULT ReadText(const std::wstring& path, std::wstring& text)
{
    CFileHandleEx file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return HRESULT_FROM_WIN32(GetLastError());
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    file.Reset();

    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
    {
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
        return S_OK;
    }
    size_t start = 0;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        start = 3;
    const int count = static_cast<int>(bytes.size() - start);
    text.assign(static_cast<size_t>(count), L'\0');
    const int n = count ? MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, count, &text[0], count) : 0;
    text.resize(static_cast<size_t>(n));
    return S_OK;
}

// The data file, or an empty text when none is configured (then no directory answers).
std::wstring DefaultDataPath()
{
    wchar_t value[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(L"KELVO_ADSI_DATA", value, ARRAYSIZE(value));
    if (n > 0 && n < ARRAYSIZE(value))
        return value;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kelvo\\AdsiSim", L"DataFile", RRF_RT_REG_SZ, nullptr, value,
                     &size) == ERROR_SUCCESS)
        return value;
    return std::wstring();
}

// Tells the debugger which line of the data file is wrong; the open then fails.
HRESULT Report(const std::wstring& path, size_t line, const wchar_t* what)
{
    std::wstring text = L"KelvoAdsiSim: " + path + L"(" + std::to_wstring(line) + L"): " + what + L"\n";
    OutputDebugStringW(text.c_str());
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
}
}

HRESULT SimDirectory::Current(std::shared_ptr<const SimDirectory>& out)
{
    static std::mutex lock;
    static std::shared_ptr<const SimDirectory> cached;
    static std::wstring cachedPath;
    static FILETIME cachedTime;

    const std::wstring path = DefaultDataPath();
    if (path.empty())
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info))
        return HRESULT_FROM_WIN32(GetLastError());

    std::lock_guard<std::mutex> guard(lock);
    if (cached && cachedPath == path && CompareFileTime(&cachedTime, &info.ftLastWriteTime) == 0)
    {
        out = cached;
        return S_OK;
    }
    const HRESULT hr = Load(path, out);
    if (SUCCEEDED(hr))
    {
        cached = out;
        cachedPath = path;
        cachedTime = info.ftLastWriteTime;
    }
    return hr;
}

HRESULT SimDirectory::Load(const std::wstring& path, std::shared_ptr<const SimDirectory>& out)
{
    std::wstring text;
    HRESULT hr = ReadText(path, text);
    if (FAILED(hr))
        return hr;
    auto directory = std::make_shared<SimDirectory>();
    hr = directory->Parse(text, path);
    if (SUCCEEDED(hr))
        out = directory;
    return hr;
}

HRESULT SimDirectory::Parse(const std::wstring& text, const std::wstring& path)
{
    std::wstring section;
    SimEntry* entry = nullptr;
    size_t lineNo = 0;
    size_t pos = 0;
    while (pos <= text.size())
    {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        if (line.empty() || line[0] == L'#' || line[0] == L';')
            continue;

        if (line[0] == L'[')
        {
            const size_t close = line.rfind(L']');
            if (close == std::wstring::npos || close + 1 != line.size())
                return Report(path, lineNo, L"section header without ]");
            section = Trim(line.substr(1, close - 1));
            entry = nullptr;
            static const struct { const wchar_t* prefix; SimEntry::Kind kind; bool local; } kinds[] = {
                { L"local user ", SimEntry::User, true }, { L"local group ", SimEntry::Group, true },
                { L"user ", SimEntry::User, false },      { L"group ", SimEntry::Group, false },
                { L"computer account ", SimEntry::Computer, false } };
            for (const auto& k : kinds)
            {
                const size_t len = wcslen(k.prefix);
                if (section.size() > len && SimEqualNoCase(section.substr(0, len), k.prefix))
                {
                    SimEntry e;
                    e.kind = k.kind;
                    e.local = k.local;
                    e.name = Trim(section.substr(len));
                    if (e.name.empty() || Find(e.kind == SimEntry::Computer ? e.name + L"$" : e.name, e.local))
                        return Report(path, lineNo, L"empty or duplicate account name");
                    m_entries.push_back(e);
                    entry = &m_entries.back();
                    break;
                }
            }
            if (!entry && !SimEqualNoCase(section, L"domain") && !SimEqualNoCase(section, L"computer") &&
                !SimEqualNoCase(section, L"directory"))
                return Report(path, lineNo, L"unknown section");
            continue;
        }

        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos || section.empty())
            return Report(path, lineNo, L"expected key = value inside a section");
        const std::wstring key = Trim(line.substr(0, equals));
        const std::wstring value = Trim(line.substr(equals + 1));
        bool known = true;
        if (entry)
        {
            if (SimEqualNoCase(key, L"display"))
                entry->displayName = value;
            else if (SimEqualNoCase(key, L"description"))
                entry->description = value;
            else if (SimEqualNoCase(key, L"member") && entry->kind == SimEntry::Group && !value.empty())
                entry->members.push_back(value);
            else if (SimEqualNoCase(key, L"cn") && !entry->local && !value.empty())
                entry->commonName = value;
            else if (SimEqualNoCase(key, L"container") && !entry->local && !value.empty())
                entry->container = value;
            else if (SimEqualNoCase(key, L"primary") && !entry->local && entry->kind != SimEntry::Group)
                entry->primaryGroup = value;
            else if (SimEqualNoCase(key, L"disabled") && entry->kind == SimEntry::User)
                entry->disabled = wcstoul(value.c_str(), nullptr, 10) != 0;
            else if (SimEqualNoCase(key, L"rid") && !entry->local && entry->kind == SimEntry::Group &&
                     wcstol(value.c_str(), nullptr, 10) > 0)
                entry->rid = wcstol(value.c_str(), nullptr, 10);
            else
                known = false;
        }
        else if (SimEqualNoCase(section, L"domain"))
        {
            if (SimEqualNoCase(key, L"dns"))
                m_dns = value;
            else if (SimEqualNoCase(key, L"netbios"))
                m_netbios = value;
            else
                known = false;
        }
        else if (SimEqualNoCase(section, L"computer"))
        {
            if (SimEqualNoCase(key, L"name"))
                m_computer = value == L"." ? std::wstring() : value;
            else if (SimEqualNoCase(key, L"workgroup"))
                m_workgroup = value;
            else
                known = false;
        }
        else if (SimEqualNoCase(key, L"delay_ms"))
            m_delayMs = static_cast<DWORD>(wcstoul(value.c_str(), nullptr, 10));
        else if (SimEqualNoCase(key, L"ldap_down"))
            m_ldapDown = wcstoul(value.c_str(), nullptr, 10) != 0;
        else if (SimEqualNoCase(key, L"size_limit") && wcstoul(value.c_str(), nullptr, 10) > 0)
            m_sizeLimit = static_cast<DWORD>(wcstoul(value.c_str(), nullptr, 10));
        else if (SimEqualNoCase(key, L"max_page_size") && wcstoul(value.c_str(), nullptr, 10) > 0)
            m_maxPageSize = static_cast<DWORD>(wcstoul(value.c_str(), nullptr, 10));
        else if (SimEqualNoCase(key, L"page_wait"))
            m_pageWait = wcstoul(value.c_str(), nullptr, 10) != 0;
        else if (SimEqualNoCase(key, L"referrals"))
            m_referrals = wcstoul(value.c_str(), nullptr, 10) != 0;
        else
            known = false;
        if (!known)
            return Report(path, lineNo, L"unknown key");
    }

    if (m_computer.empty())
    {
        wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
        DWORD size = ARRAYSIZE(name);
        if (GetComputerNameW(name, &size))
            m_computer.assign(name, size);
    }
    if (m_netbios.empty() && !m_dns.empty())
    {
        m_netbios = m_dns.substr(0, m_dns.find(L'.'));
        CharUpperBuffW(&m_netbios[0], static_cast<DWORD>(m_netbios.size()));
    }
    return S_OK;
}

const SimEntry* SimDirectory::Find(const std::wstring& name, bool local) const
{
    // A computer's account name ends with "$", so a computer may bear a user's name.
    for (const SimEntry& e : m_entries)
        if (e.local == local && SimEqualNoCase(e.kind == SimEntry::Computer ? e.name + L"$" : e.name, name))
            return &e;
    return nullptr;
}

const SimEntry* SimDirectory::ResolveMember(const SimEntry& group, const std::wstring& ref) const
{
    const size_t slash = ref.find(L'\\');
    if (slash == std::wstring::npos)
        return Find(ref, group.local);
    const std::wstring domain = ref.substr(0, slash);
    const std::wstring name = ref.substr(slash + 1);
    if (SimEqualNoCase(domain, m_computer))
        return Find(name, true);
    if (!m_netbios.empty() && (SimEqualNoCase(domain, m_netbios) || SimEqualNoCase(domain, m_dns)))
        return Find(name, false);
    // No known domain before the backslash: an account whose name holds one.
    return Find(ref, group.local);
}

long SimDirectory::RidOf(const SimEntry& group) const
{
    if (group.rid > 0)
        return group.rid;
    long next = 1100;
    for (const SimEntry& e : m_entries)
    {
        if (&e == &group)
            return next;
        if (e.kind == SimEntry::Group && !e.local && e.rid == 0)
            ++next;
    }
    return 0;
}

long SimDirectory::PrimaryGroupRid(const SimEntry& account) const
{
    const std::wstring name = !account.primaryGroup.empty() ? account.primaryGroup
                              : account.kind == SimEntry::Computer ? L"Domain Computers" : L"Domain Users";
    const SimEntry* group = Find(name, false);
    return group && group->kind == SimEntry::Group ? RidOf(*group) : 0;
}

std::vector<const SimEntry*> SimDirectory::Members(const SimEntry& group) const
{
    std::vector<const SimEntry*> out;
    for (const std::wstring& ref : group.members)
        if (const SimEntry* member = ResolveMember(group, ref))
            out.push_back(member);
    return out;
}

std::wstring SimDirectory::DomainDn() const
{
    std::wstring dn;
    size_t start = 0;
    while (start <= m_dns.size() && !m_dns.empty())
    {
        size_t dot = m_dns.find(L'.', start);
        if (dot == std::wstring::npos)
            dot = m_dns.size();
        if (!dn.empty())
            dn += L',';
        dn += L"DC=" + m_dns.substr(start, dot - start);
        start = dot + 1;
    }
    return dn;
}

namespace
{
const std::wstring& CommonNameOf(const SimEntry& entry)
{
    return entry.commonName.empty() ? entry.name : entry.commonName;
}

std::wstring ContainerOf(const SimEntry& entry)
{
    if (!entry.container.empty())
        return entry.container;
    return entry.kind == SimEntry::Computer ? std::wstring(L"Computers") : std::wstring(L"Users");
}
}

std::wstring SimDirectory::DnOf(const SimEntry& entry) const
{
    return L"CN=" + EscapeRdn(CommonNameOf(entry)) + L",CN=" + EscapeRdn(ContainerOf(entry)) + L"," + DomainDn();
}

std::vector<SimLdapNode> SimDirectory::LdapNodes() const
{
    std::vector<SimLdapNode> nodes;
    if (!HasDomain())
        return nodes;
    nodes.push_back({ SimLdapNode::Domain, nullptr, DomainDn() });
    nodes.push_back({ SimLdapNode::Container, nullptr, L"CN=Users," + DomainDn() });
    for (const SimEntry& e : m_entries)
    {
        const std::wstring container = L"CN=" + EscapeRdn(ContainerOf(e)) + L"," + DomainDn();
        bool known = e.local;
        for (const SimLdapNode& n : nodes)
            known = known || SimEqualNoCase(n.dn, container);
        if (!known)
            nodes.push_back({ SimLdapNode::Container, nullptr, container });
    }
    for (const SimEntry& e : m_entries)
        if (!e.local)
            nodes.push_back({ SimLdapNode::Account, &e, DnOf(e) });
    return nodes;
}

bool SimDirectory::FindLdapNode(const std::wstring& dn, SimLdapNode& node) const
{
    for (const SimLdapNode& n : LdapNodes())
        if (SimEqualNoCase(n.dn, dn))
        {
            node = n;
            return true;
        }
    return false;
}

std::vector<SimAttribute> SimDirectory::Attributes(const SimLdapNode& node) const
{
    std::vector<SimAttribute> a;
    a.push_back({ L"distinguishedName", ADSTYPE_DN_STRING, { node.dn } });
    if (node.type == SimLdapNode::Domain)
    {
        a.push_back({ L"objectClass", ADSTYPE_CASE_IGNORE_STRING, { L"top", L"domain", L"domainDNS" } });
        const std::wstring label = m_dns.substr(0, m_dns.find(L'.'));
        a.push_back({ L"name", ADSTYPE_CASE_IGNORE_STRING, { label } });
        a.push_back({ L"dc", ADSTYPE_CASE_IGNORE_STRING, { label } });
        return a;
    }
    if (node.type == SimLdapNode::Container)
    {
        a.push_back({ L"objectClass", ADSTYPE_CASE_IGNORE_STRING, { L"top", L"container" } });
        const std::wstring rdn = node.dn.substr(3, node.dn.find(L',') - 3);
        a.push_back({ L"name", ADSTYPE_CASE_IGNORE_STRING, { rdn } });
        a.push_back({ L"cn", ADSTYPE_CASE_IGNORE_STRING, { rdn } });
        return a;
    }

    const SimEntry& e = *node.entry;
    // A computer is a user by class (its class derives from user) and apart only by category.
    const std::wstring schema = L",CN=Schema,CN=Configuration," + DomainDn();
    if (e.kind == SimEntry::Group)
    {
        a.push_back({ L"objectClass", ADSTYPE_CASE_IGNORE_STRING, { L"top", L"group" } });
        a.push_back({ L"objectCategory", ADSTYPE_DN_STRING, { L"CN=Group" + schema } });
    }
    else if (e.kind == SimEntry::Computer)
    {
        a.push_back({ L"objectClass", ADSTYPE_CASE_IGNORE_STRING,
                      { L"top", L"person", L"organizationalPerson", L"user", L"computer" } });
        a.push_back({ L"objectCategory", ADSTYPE_DN_STRING, { L"CN=Computer" + schema } });
    }
    else
    {
        a.push_back({ L"objectClass", ADSTYPE_CASE_IGNORE_STRING, { L"top", L"person", L"organizationalPerson", L"user" } });
        a.push_back({ L"objectCategory", ADSTYPE_DN_STRING, { L"CN=Person" + schema } });
    }
    a.push_back({ L"cn", ADSTYPE_CASE_IGNORE_STRING, { CommonNameOf(e) } });
    a.push_back({ L"name", ADSTYPE_CASE_IGNORE_STRING, { CommonNameOf(e) } });
    a.push_back({ L"sAMAccountName", ADSTYPE_CASE_IGNORE_STRING,
                  { e.kind == SimEntry::Computer ? e.name + L"$" : e.name } });
    if (!e.displayName.empty())
        a.push_back({ L"displayName", ADSTYPE_CASE_IGNORE_STRING, { e.displayName } });
    if (!e.description.empty())
        a.push_back({ L"description", ADSTYPE_CASE_IGNORE_STRING, { e.description } });
    if (e.kind == SimEntry::User)
    {
        a.push_back({ L"userPrincipalName", ADSTYPE_CASE_IGNORE_STRING, { e.name + L"@" + m_dns } });
        // A normal account, 0x2 added when it is disabled.
        a.push_back({ L"userAccountControl", ADSTYPE_INTEGER, { e.disabled ? L"514" : L"512" } });
    }
    if (e.kind != SimEntry::Group)
    {
        if (const long rid = PrimaryGroupRid(e))
            a.push_back({ L"primaryGroupID", ADSTYPE_INTEGER, { std::to_wstring(rid) } });
    }
    else
    {
        // A global security group.
        a.push_back({ L"groupType", ADSTYPE_INTEGER, { L"-2147483646" } });
        a.push_back({ L"primaryGroupToken", ADSTYPE_INTEGER, { std::to_wstring(RidOf(e)) } });
        SimAttribute member{ L"member", ADSTYPE_DN_STRING, {} };
        for (const SimEntry* m : Members(e))
            member.values.push_back(DnOf(*m));
        if (!member.values.empty())
            a.push_back(member);
    }
    // Direct memberships only, the way the directory keeps its back-links.
    SimAttribute memberOf{ L"memberOf", ADSTYPE_DN_STRING, {} };
    for (const SimEntry& g : m_entries)
        if (g.kind == SimEntry::Group && !g.local)
            for (const SimEntry* m : Members(g))
                if (m == &e)
                {
                    memberOf.values.push_back(DnOf(g));
                    break;
                }
    if (!memberOf.values.empty())
        a.push_back(memberOf);
    return a;
}
