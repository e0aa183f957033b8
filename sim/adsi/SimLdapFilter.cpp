#include "sim/adsi/SimLdapFilter.h"
#include <cwctype>

namespace
{
std::wstring Upper(std::wstring text)
{
    if (!text.empty())
        CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// Equality on objectCategory with a class name instead of a distinguished name: the
// directory reads the name as the default category of that class (a user or a person is
// in CN=Person, a computer in CN=Computer) and compares it with the category's first RDN.
bool CategoryMatches(const std::wstring& value, const std::wstring& className)
{
    static const struct { const wchar_t* className; const wchar_t* category; } defaults[] = {
        { L"person", L"Person" }, { L"organizationalPerson", L"Person" }, { L"user", L"Person" },
        { L"inetOrgPerson", L"Person" }, { L"computer", L"Computer" }, { L"group", L"Group" } };
    std::wstring category = className;
    for (const auto& d : defaults)
        if (SimEqualNoCase(className, d.className))
            category = d.category;
    if (value.size() < 3 || !SimEqualNoCase(value.substr(0, 3), L"CN="))
        return false;
    return SimEqualNoCase(value.substr(3, value.find(L',') - 3), category);
}

bool SubstringsMatch(const std::wstring& value, const std::vector<std::wstring>& pieces)
{
    const std::wstring v = Upper(value);
    const std::wstring first = Upper(pieces.front());
    const std::wstring last = Upper(pieces.back());
    if (v.size() < first.size() + last.size() || v.compare(0, first.size(), first) != 0 ||
        v.compare(v.size() - last.size(), last.size(), last) != 0)
        return false;
    size_t pos = first.size();
    const size_t end = v.size() - last.size();
    for (size_t i = 1; i + 1 < pieces.size(); ++i)
    {
        const std::wstring any = Upper(pieces[i]);
        const size_t found = v.find(any, pos);
        if (found == std::wstring::npos || found + any.size() > end)
            return false;
        pos = found + any.size();
    }
    return true;
}
}

bool SimLdapFilter::Parse(const std::wstring& text)
{
    m_text = text;
    m_pos = 0;
    m_root = Node();
    return ParseFilter(m_root) && m_pos == m_text.size();
}

bool SimLdapFilter::Matches(const std::vector<SimAttribute>& attributes) const
{
    return Match(m_root, attributes);
}

bool SimLdapFilter::ParseFilter(Node& node)
{
    if (m_pos >= m_text.size() || m_text[m_pos] != L'(')
        return false;
    ++m_pos;
    if (m_pos >= m_text.size())
        return false;
    const wchar_t c = m_text[m_pos];
    if (c == L'&' || c == L'|' || c == L'!')
    {
        node.op = c == L'&' ? Node::And : c == L'|' ? Node::Or : Node::Not;
        ++m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] == L'(')
        {
            node.children.emplace_back();
            if (!ParseFilter(node.children.back()))
                return false;
        }
        if (node.children.empty() || (node.op == Node::Not && node.children.size() != 1))
            return false;
    }
    else if (!ParseItem(node))
        return false;
    if (m_pos >= m_text.size() || m_text[m_pos] != L')')
        return false;
    ++m_pos;
    return true;
}

bool SimLdapFilter::ParseItem(Node& node)
{
    // The attribute description: letters, digits, hyphens, dots and semicolons.
    const size_t start = m_pos;
    while (m_pos < m_text.size() && (iswalnum(m_text[m_pos]) || (m_text[m_pos] && wcschr(L"-.;", m_text[m_pos]))))
        ++m_pos;
    node.attribute = m_text.substr(start, m_pos - start);
    if (node.attribute.empty() || m_pos >= m_text.size())
        return false;

    const wchar_t c = m_text[m_pos];
    node.op = Node::Equal;
    if (c == L'~' || c == L'>' || c == L'<')
    {
        node.op = c == L'~' ? Node::Approx : c == L'>' ? Node::GreaterOrEqual : Node::LessOrEqual;
        ++m_pos;
    }
    if (m_pos >= m_text.size() || m_text[m_pos] != L'=')
        return false; // includes extensible matches, which this directory does not serve
    ++m_pos;

    // The raw value runs to the closing parenthesis; a bare ( or NUL in it is malformed.
    const size_t valueStart = m_pos;
    while (m_pos < m_text.size() && m_text[m_pos] != L')')
    {
        if (m_text[m_pos] == L'(' || m_text[m_pos] == L'\0')
            return false;
        ++m_pos;
    }
    const std::wstring raw = m_text.substr(valueStart, m_pos - valueStart);

    if (node.op == Node::Equal && raw == L"*")
    {
        node.op = Node::Present;
        return true;
    }
    if (raw.find(L'*') != std::wstring::npos)
    {
        if (node.op != Node::Equal)
            return false;
        node.op = Node::Substring;
        size_t from = 0;
        for (;;)
        {
            const size_t star = raw.find(L'*', from);
            std::wstring piece;
            if (!DecodeValue(raw.substr(from, star == std::wstring::npos ? std::wstring::npos : star - from), piece))
                return false;
            node.pieces.push_back(piece);
            if (star == std::wstring::npos)
                break;
            from = star + 1;
        }
        // Two stars in a row leave an empty "any" piece, which RFC 4515 does not allow.
        for (size_t i = 1; i + 1 < node.pieces.size(); ++i)
            if (node.pieces[i].empty())
                return false;
        return true;
    }
    return DecodeValue(raw, node.value);
}

bool SimLdapFilter::DecodeValue(const std::wstring& raw, std::wstring& value) const
{
    // Escapes stand for UTF-8 bytes, so the value is rebuilt as UTF-8 and converted back.
    std::string bytes;
    for (size_t i = 0; i < raw.size(); ++i)
    {
        if (raw[i] == L'\\')
        {
            if (i + 2 >= raw.size())
                return false;
            const int hi = HexDigit(raw[i + 1]);
            const int lo = HexDigit(raw[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            bytes += static_cast<char>(hi * 16 + lo);
            i += 2;
            continue;
        }
        char utf8[8];
        const int n = WideCharToMultiByte(CP_UTF8, 0, &raw[i], 1, utf8, sizeof(utf8), nullptr, nullptr);
        bytes.append(utf8, static_cast<size_t>(n));
    }
    value.assign(bytes.size(), L'\0');
    const int n = bytes.empty() ? 0
                                : MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &value[0],
                                                      static_cast<int>(value.size()));
    value.resize(static_cast<size_t>(n));
    return true;
}

bool SimLdapFilter::Match(const Node& node, const std::vector<SimAttribute>& attributes) const
{
    switch (node.op)
    {
    case Node::And:
        for (const Node& child : node.children)
            if (!Match(child, attributes))
                return false;
        return true;
    case Node::Or:
        for (const Node& child : node.children)
            if (Match(child, attributes))
                return true;
        return false;
    case Node::Not:
        return !Match(node.children.front(), attributes);
    default:
        break;
    }
    for (const SimAttribute& a : attributes)
    {
        if (!SimEqualNoCase(a.name, node.attribute))
            continue;
        for (const std::wstring& v : a.values)
        {
            switch (node.op)
            {
            case Node::Present:
                return true;
            case Node::Equal:
            case Node::Approx:
                if (SimEqualNoCase(v, node.value))
                    return true;
                if (SimEqualNoCase(node.attribute, L"objectCategory") && node.value.find(L'=') == std::wstring::npos &&
                    CategoryMatches(v, node.value))
                    return true;
                break;
            case Node::GreaterOrEqual:
                if (Upper(v) >= Upper(node.value))
                    return true;
                break;
            case Node::LessOrEqual:
                if (Upper(v) <= Upper(node.value))
                    return true;
                break;
            case Node::Substring:
                if (SubstringsMatch(v, node.pieces))
                    return true;
                break;
            default:
                break;
            }
        }
    }
    return false;
}
