#include "configsec/CADObject.h"

namespace
{
std::atomic<long> g_alive{ 0 };
}

CADObject::CADObject()
{
    ++g_alive;
}

CADObject::CADObject(const CStringEx& domain, const CStringEx& name, int kind) : m_domain(domain), m_name(name), m_kind(kind)
{
    ++g_alive;
}

CADObject::CADObject(const CADObject& other)
    : m_domain(other.m_domain), m_name(other.m_name), m_displayName(other.m_displayName),
      m_description(other.m_description), m_kind(other.m_kind), m_givenText(other.m_givenText)
{
    ++g_alive;
}

CADObject::~CADObject()
{
    --g_alive;
}

long CADObject::Alive() noexcept
{
    return g_alive;
}

CADObject CADObject::Unresolved(const CStringEx& givenText)
{
    CADObject object;
    object.m_givenText = givenText;
    // The parts are kept for showing and comparing; the text itself is what is stored.
    const int slash = givenText.Find(L'\\');
    object.m_domain = slash < 0 ? CStringEx() : givenText.Left(slash);
    object.m_name = slash < 0 ? givenText : givenText.Mid(slash + 1);
    return object;
}

CStringEx CADObject::GetListText() const
{
    if (m_kind == KindNotFound && !m_givenText.IsEmpty())
        return m_givenText;
    CStringEx text;
    text.Format(L"%s\\%s", m_domain.GetString(), m_name.GetString());
    return text;
}

bool CADObject::IsSameAccount(const CADObject& other) const
{
    CStringEx mine(GetListText()), theirs(other.GetListText());
    return mine.Trim().CompareNoCase(theirs.Trim()) == 0;
}
