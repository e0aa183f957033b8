#pragma once
#include "common/CComPtrEx.h"
#include "common/CQuerySearchContext.h"
#include <wbemidl.h>

// The result cursor of one WMI query (the accounts and groups of this computer). Rows are
// read one at a time from the query's enumerator; the attribute names are the WMI
// property names of the queried class. NextRow answers S_OK for a row and S_FALSE after
// the last one.
class CWMIQuerySearchContext : public CQuerySearchContext
{
public:
    // The longest a single row may take to arrive before the search counts as failed.
    static constexpr LONG kRowTimeoutMs = 30000;

    // Reads the rows of an enumerator the caller obtained. classAttribute names the
    // property with the row's class (a system property such as __CLASS); the row's
    // derivation list counts as further classes. groupClass is the class that marks a group.
    CWMIQuerySearchContext(CComPtrEx<IEnumWbemClassObject> rows, LPCWSTR classAttribute, LPCWSTR groupClass);

    const CObjectExClassInfo* GetClassInfo() const override;
    static const CObjectExClassInfo s_classInfo;

    // Connects to the namespace with the credentials of the calling thread and starts the
    // query (forward only); the context reads its rows.
    static HRESULT Execute(LPCWSTR wmiNamespace, LPCWSTR language, LPCWSTR query, LPCWSTR classAttribute,
                           LPCWSTR groupClass, _CObjectExPtr<CWMIQuerySearchContext>& context);

    // A value made safe inside a double-quoted WQL string: \ and " are escaped with a
    // backslash, so a name can never end the literal and reshape the query.
    static CStringEx EscapeLiteral(const CStringEx& value);
    // A value made safe as the fixed part of a WQL LIKE pattern in a double-quoted string:
    // the wildcards %, _ and [ match only themselves ([%], [_], [[]), then as EscapeLiteral.
    static CStringEx EscapeLikePattern(const CStringEx& value);

    HRESULT NextRow() override;
    HRESULT GetStrings(LPCWSTR attribute, CMultiSzStringEx& values) override;
    HRESULT GetString(LPCWSTR attribute, CStringEx& value) override;
    int GetKind() override;

private:
    HRESULT ReadProperty(LPCWSTR attribute, VARIANT& value);

    CComPtrEx<IEnumWbemClassObject> m_rows;
    CComPtrEx<IWbemClassObject> m_current;
    CStringEx m_classAttribute;
    CStringEx m_groupClass;
};
