#include "common/CConfigValueEnum.h"
#include "common/CResourceLoader.h"
#include "common/CXMLDOMNodeEx.h"
#include "common/CXMLDOMNodeListEx.h"
#include "resources/KVIdsConfig.h"

CConfigValueEnum::CConfigValueEnum(const _CObjectExPtr<CXMLDOMNodeEx>& root) : m_root(root)
{
    // A name that cannot be loaded becomes the failure text, which matches nothing.
    CResourceLoader::Instance().LoadString(IDS_CFG_KEY_ATTRIBUTE, m_keyAttributeName);
    CResourceLoader::Instance().LoadString(IDS_CFG_VALUE_ELEMENT, m_valueName);
    First();
}

CConfigValueEnum::~CConfigValueEnum() = default;

bool CConfigValueEnum::IsDone()
{
    return !m_entries;
}

void CConfigValueEnum::First()
{
    m_current = nullptr;
    m_values = nullptr;
    m_entries = nullptr;
    CStringEx xpath;
    if (m_root && CResourceLoader::Instance().LoadString(IDS_CFG_ALL_ENTRIES_XPATH, xpath))
        m_entries = m_root->SelectNodes(xpath);
    Next();
}

void CConfigValueEnum::Next()
{
    if (!m_entries)
        return;
    // The rest of a list entry's values first, under the same key.
    if (m_values)
    {
        if (_CObjectExPtr<CXMLDOMNodeEx> value = m_values->NextNode())
        {
            SetCurrent(m_current ? m_current->GetKey() : CStringEx(), value->GetText());
            return;
        }
        m_values = nullptr;
    }
    _CObjectExPtr<CXMLDOMNodeEx> entry = m_entries->NextNode();
    if (!entry)
    {
        m_current = nullptr;
        m_entries = nullptr;
        return;
    }
    const CStringEx key = entry->GetAttribute(m_keyAttributeName);
    _CObjectExPtr<CXMLDOMNodeListEx> values = entry->SelectNodes(m_valueName);
    _CObjectExPtr<CXMLDOMNodeEx> first = values ? values->NextNode() : nullptr;
    SetCurrent(key, first ? first->GetText() : CStringEx());
    if (values && values->Length() > 1)
        m_values = values;
}

_CObjectExPtr<CObjectEx> CConfigValueEnum::Current()
{
    return _CObjectExPtr<CObjectEx>(m_current);
}

void CConfigValueEnum::SetCurrent(const CStringEx& key, const CStringEx& value)
{
    if (m_current)
    {
        m_current->SetKey(key);
        m_current->SetValue(value);
    }
    else
    {
        m_current = MakeObjectEx<CConfigValue>(key, value);
    }
}
