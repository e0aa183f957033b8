#include "common/CADQuerySearchContext.h"
#include "common/CResourceLoader.h"
#include "resources/KVIdsDirectory.h"
#include <adserr.h>

const CObjectExClassInfo CADQuerySearchContext::s_classInfo = { "CADQuerySearchContext",
                                                                sizeof(CADQuerySearchContext), nullptr, nullptr };

const CObjectExClassInfo* CADQuerySearchContext::GetClassInfo() const
{
    return &s_classInfo;
}

namespace
{
// Frees a column read from a search when the reader is done with it.
class ColumnGuard
{
public:
    explicit ColumnGuard(CADDirectorySearch& search) noexcept : m_search(search) { ZeroMemory(&column, sizeof(column)); }
    ~ColumnGuard()
    {
        if (m_read)
            m_search.FreeColumn(&column);
    }
    ColumnGuard(const ColumnGuard&) = delete;
    ColumnGuard& operator=(const ColumnGuard&) = delete;

    HRESULT Read(LPCWSTR name)
    {
        const HRESULT hr = m_search.GetColumn(name, &column);
        m_read = SUCCEEDED(hr);
        return hr;
    }

    // Reads a column of distinguished names or case-ignore strings; E_FAIL for any other type.
    HRESULT ReadText(LPCWSTR name)
    {
        if (name == nullptr || *name == L'\0')
            return E_INVALIDARG;
        const HRESULT hr = Read(name);
        if (FAILED(hr))
            return hr;
        if (column.dwADsType != ADSTYPE_DN_STRING && column.dwADsType != ADSTYPE_CASE_IGNORE_STRING)
            return E_FAIL;
        return S_OK;
    }

    ADS_SEARCH_COLUMN column;

private:
    CADDirectorySearch& m_search;
    bool m_read = false;
};

LPCWSTR ColumnText(const ADSVALUE& value)
{
    return value.dwType == ADSTYPE_DN_STRING ? value.DNString : value.CaseIgnoreString;
}
}

CADQuerySearchContext::CADQuerySearchContext(_CObjectExPtr<CADDirectorySearch> search) : m_search(std::move(search))
{
}

HRESULT CADQuerySearchContext::NextRow()
{
    if (!m_search)
        return E_POINTER;
    const bool first = !m_started;
    m_started = true;
    return first ? m_search->GetFirstRow() : m_search->GetNextRow();
}

HRESULT CADQuerySearchContext::GetStrings(LPCWSTR attribute, CMultiSzStringEx& values)
{
    if (!m_search)
        return attribute == nullptr || *attribute == L'\0' ? E_INVALIDARG : E_POINTER;
    ColumnGuard guard(*m_search);
    const HRESULT hr = guard.ReadText(attribute);
    if (FAILED(hr))
        return hr;
    const ADS_SEARCH_COLUMN& column = guard.column;
    for (DWORD i = 0; i < column.dwNumValues; ++i)
    {
        LPCWSTR text = ColumnText(column.pADsValues[i]);
        if (text && *text && !values.Add(text))
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CADQuerySearchContext::GetString(LPCWSTR attribute, CStringEx& value)
{
    if (!m_search)
        return attribute == nullptr || *attribute == L'\0' ? E_INVALIDARG : E_POINTER;
    ColumnGuard guard(*m_search);
    const HRESULT hr = guard.ReadText(attribute);
    if (FAILED(hr))
        return hr;
    const ADS_SEARCH_COLUMN& column = guard.column;
    if (column.dwNumValues == 0 || column.pADsValues == nullptr)
        return E_ADS_COLUMN_NOT_SET;
    value = ColumnText(column.pADsValues[0]);
    return S_OK;
}

HRESULT CADQuerySearchContext::GetInteger(LPCWSTR attribute, LONG& value)
{
    if (attribute == nullptr || *attribute == L'\0')
        return E_INVALIDARG;
    if (!m_search)
        return E_POINTER;
    ColumnGuard guard(*m_search);
    const HRESULT hr = guard.Read(attribute);
    if (FAILED(hr))
        return hr;
    const ADS_SEARCH_COLUMN& column = guard.column;
    if (column.dwADsType != ADSTYPE_INTEGER)
        return E_FAIL;
    if (column.dwNumValues == 0 || column.pADsValues == nullptr)
        return E_ADS_COLUMN_NOT_SET;
    value = static_cast<LONG>(column.pADsValues[0].Integer);
    return S_OK;
}

int CADQuerySearchContext::GetKind()
{
    CStringEx classAttribute, groupClass;
    CResourceLoader::Instance().LoadString(IDS_DIR_ATTR_OBJECTCLASS, classAttribute);
    CResourceLoader::Instance().LoadString(IDS_DIR_CLASS_GROUP, groupClass);
    CMultiSzStringEx classes;
    if (FAILED(GetStrings(classAttribute, classes)))
        return KindUnknown;
    for (const wchar_t* p = classes.GetData(); p && *p; p += wcslen(p) + 1)
        if (groupClass.CompareNoCase(p) == 0)
            return KindGroup;
    return KindOther;
}
