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
// carries its own copy of the directory code, beyond the seam: the domain-join stand-in
// answers its join questions the same way, so its searches go to the domain too.
#include "common/CADQuery.h"
#include "common/CConfigurationEx.h"
#include "configeditor/CKelvoAgentConfigApp.h"
#include "configeditor/CKelvoAgentConfigAppState.h"
#include "sim/domainjoin/SimDomainJoin.h"
#include <shellapi.h>
#include <string>

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
    SimJoinModuleToDomain(GetModuleHandleW(L"KelvoAgentConfigSec.dll"), ComputerName().c_str());
    CKelvoAgentConfigAppState::SetAccountNameHook(&DomainAccountName);
    CConfigurationEx::SetReplaceFile(&ReplaceUnlessRefused);

    CKelvoAgentConfigApp app;
    return app.Run();
}
