// netapi32.dll stand-in: the join state of this computer. With KELVO_JOIN_DOMAIN set to a
// domain's NetBIOS name the computer answers as a member of that domain; without it, as a
// member of the workgroup WORKGROUP, as Wine does. Buffers it hands out come from the
// process heap and go back through NetApiBufferFree.
#include <windows.h>
#include <lm.h>

extern "C" NET_API_STATUS WINAPI NetApiBufferFree(LPVOID buffer)
{
    if (buffer != nullptr)
        HeapFree(GetProcessHeap(), 0, buffer);
    return NERR_Success;
}

extern "C" NET_API_STATUS WINAPI NetGetJoinInformation(LPCWSTR server, LPWSTR* name, PNETSETUP_JOIN_STATUS status)
{
    if (name == nullptr || status == nullptr)
        return ERROR_INVALID_PARAMETER;
    *name = nullptr;
    // Only this computer answers here.
    if (server != nullptr && *server != L'\0')
        return ERROR_NOT_SUPPORTED;
    wchar_t domain[DNLEN + 1] = {};
    const DWORD length = GetEnvironmentVariableW(L"KELVO_JOIN_DOMAIN", domain, ARRAYSIZE(domain));
    const bool joined = length > 0 && length < ARRAYSIZE(domain);
    const wchar_t* text = joined ? domain : L"WORKGROUP";
    const size_t bytes = (lstrlenW(text) + 1) * sizeof(wchar_t);
    *name = static_cast<LPWSTR>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (*name == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    CopyMemory(*name, text, bytes);
    *status = joined ? NetSetupDomainName : NetSetupWorkgroupName;
    return NERR_Success;
}
