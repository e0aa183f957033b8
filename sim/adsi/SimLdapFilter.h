#pragma once
#include "sim/adsi/SimDirectory.h"

// An LDAP search filter in the string form of RFC 4515 (and, or, not, equality, presence,
// substrings, >=, <=, ~=), parsed once and matched against an object's attributes.
// Attribute names and values compare without regard to case.
class SimLdapFilter
{
public:
    // False when the text is not a well-formed filter.
    bool Parse(const std::wstring& text);
    bool Matches(const std::vector<SimAttribute>& attributes) const;

private:
    struct Node
    {
        enum Op { And, Or, Not, Equal, Approx, GreaterOrEqual, LessOrEqual, Present, Substring };
        Op op = Equal;
        std::wstring attribute;
        std::wstring value;
        // Substrings: the pieces between the stars; the first and last may be empty.
        std::vector<std::wstring> pieces;
        std::vector<Node> children;
    };

    bool ParseFilter(Node& node);
    bool ParseItem(Node& node);
    bool DecodeValue(const std::wstring& raw, std::wstring& value) const;
    bool Match(const Node& node, const std::vector<SimAttribute>& attributes) const;

    std::wstring m_text;
    size_t m_pos = 0;
    Node m_root;
};
