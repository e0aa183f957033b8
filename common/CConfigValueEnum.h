#pragma once
#include "common/CConfigValue.h"
#include "common/CStringEx.h"
#include "common/IObjectExEnumerator.h"

class CXMLDOMNodeEx;
class CXMLDOMNodeListEx;

// Walks every value of a configuration in file order: one CConfigValue per value
// element, with its entry's key; an entry without value elements gives one empty value.
// The current CConfigValue is one object updated in place as the walk moves on.
class CConfigValueEnum : public IObjectExEnumerator
{
public:
    // Stands on the first value of the entries below root.
    explicit CConfigValueEnum(const _CObjectExPtr<CXMLDOMNodeEx>& root);
    ~CConfigValueEnum() override;

    bool IsDone() override;
    void Next() override;
    void First() override;
    _CObjectExPtr<CObjectEx> Current() override;

private:
    void SetCurrent(const CStringEx& key, const CStringEx& value);

    _CObjectExPtr<CXMLDOMNodeEx> m_root;
    _CObjectExPtr<CXMLDOMNodeListEx> m_entries;
    _CObjectExPtr<CXMLDOMNodeListEx> m_values;
    CStringEx m_keyAttributeName;
    CStringEx m_valueName;
    _CObjectExPtr<CConfigValue> m_current;
};
