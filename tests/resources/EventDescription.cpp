#include "EventDescription.h"
#include "common/CUniqueAnyEx.h"

std::wstring CEventDescription::FromMessageFile(LPCWSTR path, DWORD eventId, const std::vector<std::wstring>& strings,
                                                DWORD& error)
{
    error = 0;
    CModuleEx module(LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module)
    {
        error = GetLastError();
        return std::wstring();
    }
    std::vector<DWORD_PTR> arguments;
    for (const std::wstring& text : strings)
        arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
    CLocalMemEx buffer;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER, module.Get(),
        eventId, 0, reinterpret_cast<LPWSTR>(buffer.Put()), 0,
        reinterpret_cast<va_list*>(arguments.empty() ? nullptr : arguments.data()));
    if (length == 0)
    {
        error = GetLastError();
        return std::wstring();
    }
    return std::wstring(static_cast<LPCWSTR>(buffer.Get()), length);
}

std::wstring CEventDescription::FromRegisteredSource(LPCWSTR source, DWORD eventId,
                                                     const std::vector<std::wstring>& strings, DWORD& error)
{
    const std::wstring keyName = std::wstring(kSourcesKey) + L"\\" + source;
    wchar_t files[2048] = {};
    DWORD size = sizeof(files) - sizeof(wchar_t);
    error = static_cast<DWORD>(RegGetValueW(HKEY_LOCAL_MACHINE, keyName.c_str(), L"EventMessageFile",
                                            RRF_RT_REG_SZ, nullptr, files, &size));
    if (error != 0)
        return std::wstring();
    // RegGetValueW expands a REG_EXPAND_SZ value as it reads it; the files are tried in order.
    error = ERROR_MR_MID_NOT_FOUND;
    const std::wstring list(files);
    for (std::wstring::size_type start = 0; start <= list.size();)
    {
        std::wstring::size_type end = list.find(L';', start);
        if (end == std::wstring::npos)
            end = list.size();
        const std::wstring file = list.substr(start, end - start);
        if (!file.empty())
        {
            std::wstring text = FromMessageFile(file.c_str(), eventId, strings, error);
            if (error == 0)
                return text;
        }
        start = end + 1;
    }
    return std::wstring();
}
