#include "sim/domainjoin/SimDomainJoin.h"
#include <lm.h>
#include <cstring>
#include <string>

namespace
{
std::wstring g_domain;

NET_API_STATUS WINAPI JoinInformation(LPCWSTR, LPWSTR* name, PNETSETUP_JOIN_STATUS status)
{
    const DWORD bytes = static_cast<DWORD>((g_domain.size() + 1) * sizeof(wchar_t));
    const NET_API_STATUS allocated = NetApiBufferAllocate(bytes, reinterpret_cast<void**>(name));
    if (allocated != NERR_Success)
        return allocated;
    std::memcpy(*name, g_domain.c_str(), bytes);
    *status = NetSetupDomainName;
    return NERR_Success;
}

BOOL WINAPI ComputerNameEx(COMPUTER_NAME_FORMAT format, LPWSTR buffer, LPDWORD size)
{
    if (format != ComputerNameDnsDomain)
        return GetComputerNameExW(format, buffer, size);
    const DWORD needed = static_cast<DWORD>(g_domain.size() + 1);
    if (!buffer || *size < needed)
    {
        *size = needed;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    std::memcpy(buffer, g_domain.c_str(), needed * sizeof(wchar_t));
    *size = needed - 1;
    return TRUE;
}

// Points the module's import of the named function (from any library) at the replacement.
void RedirectImport(HMODULE module, const char* function, const void* replacement)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto& headers = *reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD imports = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); imports && library->Name; ++library)
    {
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++slot)
        {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) ||
                std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name, function) != 0)
                continue;
            DWORD protection = 0;
            if (VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE, &protection))
            {
                slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
                VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), protection, &protection);
            }
        }
    }
}
}

void SimJoinModuleToDomain(HMODULE module, LPCWSTR domain)
{
    if (!module || !domain)
        return;
    g_domain = domain;
    RedirectImport(module, "NetGetJoinInformation", reinterpret_cast<const void*>(&JoinInformation));
    RedirectImport(module, "GetComputerNameExW", reinterpret_cast<const void*>(&ComputerNameEx));
}
