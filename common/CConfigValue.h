#pragma once
#include "common/CObjectEx.h"
#include "common/CStringEx.h"

// One value of a configuration, as the enumerator hands it out: the entry's key and one
// of its values. A list entry gives one such value per element, all with the same key.
class CConfigValue : public CObjectEx
{
public:
    CConfigValue(const CStringEx& key, const CStringEx& value) : m_key(key), m_value(value) {}
    ~CConfigValue() override;

    const CStringEx& GetKey() const noexcept { return m_key; }
    const CStringEx& GetValue() const noexcept { return m_value; }
    void SetKey(const CStringEx& key) { m_key = key; }
    void SetValue(const CStringEx& value) { m_value = value; }

private:
    CStringEx m_key;
    CStringEx m_value;
};
