#pragma once
#include "common/CADDirectorySearch.h"
#include "common/CQuerySearchContext.h"

// The result cursor of an LDAP search run by a CADDirectorySearch (after its Execute).
// Only distinguished-name and case-ignoring string columns are read; every column read
// is freed again.
class CADQuerySearchContext : public CQuerySearchContext
{
public:
    explicit CADQuerySearchContext(_CObjectExPtr<CADDirectorySearch> search);

    const CObjectExClassInfo* GetClassInfo() const override;
    static const CObjectExClassInfo s_classInfo;

    HRESULT NextRow() override;
    HRESULT GetStrings(LPCWSTR attribute, CMultiSzStringEx& values) override;
    HRESULT GetString(LPCWSTR attribute, CStringEx& value) override;
    int GetKind() override;
    // The first value of an integer attribute of the current row; E_FAIL for a column of
    // another type.
    HRESULT GetInteger(LPCWSTR attribute, LONG& value);

private:
    _CObjectExPtr<CADDirectorySearch> m_search;
    bool m_started = false;
};
