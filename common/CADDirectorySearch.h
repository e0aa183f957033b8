#pragma once
#include "common/CComPtrEx.h"
#include "common/CObjectExPtr.h"
#include <iads.h>

// One directory object opened for searching, with the credentials of the calling process.
// Every operation answers the directory's HRESULT, or the HRESULT of opening when the
// object could not be opened.
class CADDirectorySearch : public CObjectEx
{
public:
    explicit CADDirectorySearch(LPCWSTR adsPath);
    ~CADDirectorySearch() override;
    CADDirectorySearch(const CADDirectorySearch&) = delete;
    CADDirectorySearch& operator=(const CADDirectorySearch&) = delete;

    const CObjectExClassInfo* GetClassInfo() const override;
    static const CObjectExClassInfo s_classInfo;

    HRESULT GetOpenResult() const noexcept { return m_hrOpen; }
    HRESULT SetPreferences(ADS_SEARCHPREF_INFO* preferences, DWORD count);
    // Starts a search; the handle is kept (a previous one is closed first).
    HRESULT Execute(LPCWSTR filter, LPWSTR* attributes, DWORD count);
    // The first and the next row. An asynchronous paged search also answers "no more rows"
    // while the server's next page is still on its way (the last ADSI error then says
    // ERROR_MORE_DATA); the row is asked for again until it arrives or the rows end.
    HRESULT GetFirstRow();
    HRESULT GetNextRow();
    HRESULT GetColumn(LPCWSTR name, ADS_SEARCH_COLUMN* column);
    HRESULT FreeColumn(ADS_SEARCH_COLUMN* column);

    // Where the last ADSI error of this thread is read; ADsGetLastError unless a test names
    // another reader (nullptr restores it).
    using LastErrorReader = DWORD (*)();
    static void SetLastErrorReader(LastErrorReader reader) noexcept;

private:
    void CloseSearch() noexcept;
    HRESULT NextRowAfterPageWaits(bool first);

    HRESULT m_hrOpen;
    CComPtrEx<IDirectorySearch> m_search;
    ADS_SEARCH_HANDLE m_handle = nullptr;
};
