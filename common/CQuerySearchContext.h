#pragma once
#include "common/CMultiSzStringEx.h"
#include "common/CObjectExPtr.h"
#include "common/CStringEx.h"

// The result cursor of one directory search (LDAP or WMI): move with NextRow, then read
// the current row's string attributes.
class CQuerySearchContext : public CObjectEx
{
public:
    // What GetKind reports for the current row.
    enum Kind : int { KindUnknown = 0, KindOther = 1, KindGroup = 2 };

    const CObjectExClassInfo* GetClassInfo() const override;
    static const CObjectExClassInfo s_classInfo;

    // Moves to the next row; the first call gives the first row.
    virtual HRESULT NextRow() = 0;
    // All values of a string attribute of the current row.
    virtual HRESULT GetStrings(LPCWSTR attribute, CMultiSzStringEx& values) = 0;
    // The first value of a string attribute of the current row.
    virtual HRESULT GetString(LPCWSTR attribute, CStringEx& value) = 0;
    // KindUnknown when the classes of the row cannot be read, KindGroup when one of them is
    // the group class, KindOther otherwise.
    virtual int GetKind() = 0;
};
