#include "common/CADDirectorySearch.h"
#include <adshlp.h>

const CObjectExClassInfo CADDirectorySearch::s_classInfo = { "CADDirectorySearch", sizeof(CADDirectorySearch),
                                                             nullptr, nullptr };

const CObjectExClassInfo* CADDirectorySearch::GetClassInfo() const
{
    return &s_classInfo;
}

CADDirectorySearch::CADDirectorySearch(LPCWSTR adsPath)
{
    if (adsPath == nullptr || *adsPath == L'\0')
    {
        m_hrOpen = E_INVALIDARG;
        return;
    }
    m_hrOpen = ADsOpenObject(adsPath, nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IDirectorySearch,
                             m_search.PutVoid());
    if (FAILED(m_hrOpen))
        m_search.Reset();
    else if (!m_search)
        m_hrOpen = E_NOINTERFACE;
}

CADDirectorySearch::~CADDirectorySearch()
{
    CloseSearch();
    m_search.Reset();
}

void CADDirectorySearch::CloseSearch() noexcept
{
    if (m_search && m_handle)
        m_search->CloseSearchHandle(m_handle);
    m_handle = nullptr;
}

HRESULT CADDirectorySearch::SetPreferences(ADS_SEARCHPREF_INFO* preferences, DWORD count)
{
    if (!m_search)
        return m_hrOpen;
    return m_search->SetSearchPreference(preferences, count);
}

HRESULT CADDirectorySearch::Execute(LPCWSTR filter, LPWSTR* attributes, DWORD count)
{
    if (!m_search)
        return m_hrOpen;
    CloseSearch();
    return m_search->ExecuteSearch(const_cast<LPWSTR>(filter), attributes, count, &m_handle);
}

HRESULT CADDirectorySearch::GetFirstRow()
{
    if (!m_search)
        return m_hrOpen;
    return m_handle ? m_search->GetFirstRow(m_handle) : E_HANDLE;
}

HRESULT CADDirectorySearch::GetNextRow()
{
    if (!m_search)
        return m_hrOpen;
    return m_handle ? m_search->GetNextRow(m_handle) : E_HANDLE;
}

HRESULT CADDirectorySearch::GetColumn(LPCWSTR name, ADS_SEARCH_COLUMN* column)
{
    if (!m_search)
        return m_hrOpen;
    return m_handle ? m_search->GetColumn(m_handle, const_cast<LPWSTR>(name), column) : E_HANDLE;
}

HRESULT CADDirectorySearch::FreeColumn(ADS_SEARCH_COLUMN* column)
{
    if (!m_search)
        return m_hrOpen;
    return m_search->FreeColumn(column);
}
