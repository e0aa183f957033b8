// The editor program as an administrator of this computer's domain runs it, for tests on a
// computer whose only accounts are local (Wine's). The test copies this program as
// KelvoAgentConfig.exe into a folder of its own and starts it; it is the real editor with
// three answers of the platform replaced through the editor's and the libraries' run-time
// seams:
//   - the computer is a member of a domain named like the computer itself, so this
//     account (COMPUTER\user) counts as an account of the computer's domain;
//   - the account name is COMPUTER\user;
//   - the file named by the argument "/refuse <path>" may not be written by this account:
//     its replacement fails with ERROR_ACCESS_DENIED, as it does where the file's
//     permissions leave this account out (Wine keeps no permissions).
// The directory stand-in then decides, from its data, whether the account administers the
// computer, in this process and in the configuration service alike. The picker library
// carries its own copy of the directory code, beyond the seam: its imports of the domain
// join answers are pointed at the same answers, so its searches go to the domain too.
#include "common/CADQuery.h"
#include "common/CConfigurationEx.h"
#include "configeditor/CKelvoAgentConfigApp.h"
#include "configeditor/CKelvoAgentConfigAppState.h"
#include <lm.h>
#include <shellapi.h>
#include <string>
#include <vector>

namespace
{
std::wstring g_refused;

std::wstring ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = ARRAYSIZE(name);
    GetComputerNameW(name, &size);
    return name;
}

BOOL JoinedToOwnDomain(CStringEx& dnsDomain, CStringEx& netbiosDomain)
{
    dnsDomain = ComputerName().c_str();
    netbiosDomain = ComputerName().c_str();
    return TRUE;
}

BOOL DomainAccountName(CStringEx& samName)
{
    wchar_t user[256] = {};
    DWORD size = ARRAYSIZE(user);
    if (!GetUserNameW(user, &size))
        return FALSE;
    samName = (ComputerName() + L"\\" + user).c_str();
    return TRUE;
}

NET_API_STATUS WINAPI JoinInformation(LPCWSTR, LPWSTR* name, PNETSETUP_JOIN_STATUS status)
{
    const std::wstring domain = ComputerName();
    NetApiBufferAllocate(static_cast<DWORD>((domain.size() + 1) * sizeof(wchar_t)), reinterpret_cast<void**>(name));
    wcscpy(*name, domain.c_str());
    *status = NetSetupDomainName;
    return NERR_Success;
}

BOOL WINAPI ComputerNameEx(COMPUTER_NAME_FORMAT format, LPWSTR buffer, LPDWORD size)
{
    if (format != ComputerNameDnsDomain)
        return GetComputerNameExW(format, buffer, size);
    const std::wstring domain = ComputerName();
    const DWORD needed = static_cast<DWORD>(domain.size() + 1);
    if (!buffer || *size < needed)
    {
        *size = needed;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    wcscpy(buffer, domain.c_str());
    *size = needed - 1;
    return TRUE;
}

// Points the module's imports of the named functions at the replacements.
void RedirectImports(HMODULE module, const std::vector<std::pair<const char*, void*>>& replacements)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); library->Name; ++library)
    {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots)
        {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const char* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            for (const auto& [wanted, replacement] : replacements)
            {
                DWORD old = 0;
                if (strcmp(name, wanted) == 0 && VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old))
                {
                    slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
                    VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
                }
            }
        }
    }
}

BOOL WINAPI ReplaceUnlessRefused(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags, LPVOID exclude,
                                 LPVOID reserved)
{
    if (!g_refused.empty() && _wcsicmp(replaced, g_refused.c_str()) == 0)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return ReplaceFileW(replaced, replacement, backup, flags, exclude, reserved);
}
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; arguments && i + 1 < count; ++i)
        if (_wcsicmp(arguments[i], L"/refuse") == 0)
            g_refused = arguments[i + 1];
    LocalFree(arguments);

    CADQuery::SetDomainJoinHook(&JoinedToOwnDomain);
    RedirectImports(GetModuleHandleW(L"KelvoAgentConfigSec.dll"),
                    { { "NetGetJoinInformation", reinterpret_cast<void*>(&JoinInformation) },
                      { "GetComputerNameExW", reinterpret_cast<void*>(&ComputerNameEx) } });
    CKelvoAgentConfigAppState::SetAccountNameHook(&DomainAccountName);
    CConfigurationEx::SetReplaceFile(&ReplaceUnlessRefused);

    CKelvoAgentConfigApp app;
    return app.Run();
}
