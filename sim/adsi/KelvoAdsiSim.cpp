// KelvoAdsiSim: a stand-in ADSI provider that serves a directory described by a data file
// (see SimDirectory.h). DllRegisterServer makes it the provider of "LDAP:" and "WinNT:"
// paths, so ADsOpenObject reaches it unchanged; the providers it replaces are remembered
// and put back by DllUnregisterServer.
#include "sim/adsi/SimProvider.h"
#include <adshlp.h>
#include <string>

std::atomic<long> g_simObjects{ 0 };
std::atomic<long> g_simCalls{ 0 };

namespace
{
const wchar_t kProgId[] = L"KelvoAdsiSim.Provider";
const wchar_t kPrevious[] = L"KelvoAdsiSimPrevious";
const wchar_t* const kNamespaces[] = { L"LDAP", L"WinNT" };

std::wstring ClsidText()
{
    wchar_t text[64];
    StringFromGUID2(CLSID_KelvoAdsiSimProvider, text, ARRAYSIZE(text));
    return text;
}

LSTATUS SetString(HKEY root, const std::wstring& subkey, const wchar_t* name, const std::wstring& value)
{
    return RegSetKeyValueW(root, subkey.c_str(), name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool GetString(HKEY root, const std::wstring& subkey, const wchar_t* name, std::wstring& value)
{
    wchar_t buffer[512];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(root, subkey.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    value = buffer;
    return true;
}
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_KelvoAdsiSimProvider)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new SimProviderFactory;
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return g_simObjects == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&DllRegisterServer), &self);
    wchar_t path[MAX_PATH];
    if (!GetModuleFileNameW(self, path, ARRAYSIZE(path)))
        return HRESULT_FROM_WIN32(GetLastError());

    const std::wstring clsidKey = L"SOFTWARE\\Classes\\CLSID\\" + ClsidText();
    LSTATUS status = SetString(HKEY_LOCAL_MACHINE, clsidKey, nullptr, L"Kelvo ADSI stand-in provider");
    if (status == ERROR_SUCCESS)
        status = SetString(HKEY_LOCAL_MACHINE, clsidKey + L"\\InprocServer32", nullptr, path);
    if (status == ERROR_SUCCESS)
        status = SetString(HKEY_LOCAL_MACHINE, clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    if (status == ERROR_SUCCESS)
        status = SetString(HKEY_LOCAL_MACHINE, clsidKey + L"\\ProgID", nullptr, kProgId);
    if (status == ERROR_SUCCESS)
        status = SetString(HKEY_LOCAL_MACHINE, std::wstring(L"SOFTWARE\\Classes\\") + kProgId + L"\\CLSID", nullptr,
                           ClsidText());
    for (const wchar_t* name : kNamespaces)
    {
        if (status != ERROR_SUCCESS)
            break;
        const std::wstring key = std::wstring(L"SOFTWARE\\Microsoft\\ADs\\Providers\\") + name;
        std::wstring previous, saved;
        if (GetString(HKEY_LOCAL_MACHINE, key, nullptr, previous) && previous != kProgId &&
            !GetString(HKEY_LOCAL_MACHINE, key, kPrevious, saved))
            status = SetString(HKEY_LOCAL_MACHINE, key, kPrevious, previous);
        if (status == ERROR_SUCCESS)
            status = SetString(HKEY_LOCAL_MACHINE, key, nullptr, kProgId);
    }
    return HRESULT_FROM_WIN32(status);
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    for (const wchar_t* name : kNamespaces)
    {
        const std::wstring key = std::wstring(L"SOFTWARE\\Microsoft\\ADs\\Providers\\") + name;
        std::wstring current, previous;
        if (!GetString(HKEY_LOCAL_MACHINE, key, nullptr, current) || current != kProgId)
            continue;
        if (GetString(HKEY_LOCAL_MACHINE, key, kPrevious, previous))
        {
            SetString(HKEY_LOCAL_MACHINE, key, nullptr, previous);
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), kPrevious);
        }
        else
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Classes\\CLSID\\" + ClsidText()).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"SOFTWARE\\Classes\\") + kProgId).c_str());
    return S_OK;
}

// Opens and searches served so far, for tests that check whether a directory call was made.
extern "C" LONG WINAPI KelvoAdsiSimCallCount()
{
    return g_simCalls;
}

namespace
{
thread_local DWORD t_lastAdsiError = ERROR_SUCCESS;
}

void SimSetLastAdsiError(DWORD error)
{
    t_lastAdsiError = error;
    ADsSetLastError(error, nullptr, nullptr);
}

// The last ADSI error this thread's search steps set, where Wine's ADsGetLastError has none.
extern "C" DWORD WINAPI KelvoAdsiSimLastError()
{
    return t_lastAdsiError;
}
