#include "common/CADDirectorySearch.h"
#include <adserr.h>
#include <adshlp.h>
#include <atomic>

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

namespace
{
DWORD ReadLastAdsiError()
{
    DWORD error = ERROR_SUCCESS;
    wchar_t text[256] = {}, provider[64] = {};
    return SUCCEEDED(ADsGetLastError(&error, text, ARRAYSIZE(text), provider, ARRAYSIZE(provider))) ? error
                                                                                                   : ERROR_SUCCESS;
}

std::atomic<CADDirectorySearch::LastErrorReader> g_lastErrorReader{ &ReadLastAdsiError };
}

void CADDirectorySearch::SetLastErrorReader(LastErrorReader reader) noexcept
{
    g_lastErrorReader = reader ? reader : &ReadLastAdsiError;
}

HRESULT CADDirectorySearch::NextRowAfterPageWaits(bool first)
{
    if (!m_search)
        return m_hrOpen;
    if (!m_handle)
        return E_HANDLE;
    for (;;)
    {
        // The error slot is cleared first, so a "more data" left by an earlier step is not
        // taken for this one's.
        ADsSetLastError(ERROR_SUCCESS, nullptr, nullptr);
        const HRESULT hr = first ? m_search->GetFirstRow(m_handle) : m_search->GetNextRow(m_handle);
        if (hr != S_ADS_NOMORE_ROWS || g_lastErrorReader.load()() != ERROR_MORE_DATA)
            return hr;
        // A row asked for again after a page wait is the next one, never the first again.
        first = false;
    }
}

HRESULT CADDirectorySearch::GetFirstRow()
{
    return NextRowAfterPageWaits(true);
}

HRESULT CADDirectorySearch::GetNextRow()
{
    return NextRowAfterPageWaits(false);
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
