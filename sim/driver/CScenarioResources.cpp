#include "sim/driver/CScenarioResources.h"

DWORD CScenarioResources::Open(LPCWSTR libraryPath)
{
    m_path = libraryPath;
    m_module.Reset(LoadLibraryExW(libraryPath, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    return m_module ? 0 : GetLastError();
}

BOOL CScenarioResources::LoadText(UINT id, CStringEx& text) const
{
    text.Empty();
    if (!m_module)
        return FALSE;
    const wchar_t* resource = nullptr;
    // With a zero buffer length LoadStringW points at the text inside the library.
    const int length = LoadStringW(m_module.Get(), id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || resource == nullptr)
        return FALSE;
    text = CStringEx(resource, length);
    return TRUE;
}
