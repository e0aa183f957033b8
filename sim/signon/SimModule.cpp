// Entry points of the sign-on stand-in: class objects, unloading and self-registration,
// so that tests register it at start and the demo with regsvr32.
#include "sim/signon/SimModule.h"
#include "sim/signon/CSimAuth.h"
#include "sim/signon/CSimClassFactory.h"
#include "sim/signon/CSimCompanion.h"
#include "sim/signon/CSimConfig.h"
#include "sim/signon/SimIds.h"
#include "common/CComPtrEx.h"
#include "common/CStringEx.h"
#include "common/CUniqueAnyEx.h"
#include <oleauto.h>

namespace
{
HMODULE g_module;
LONG g_locks;

HRESULT CreateAuth(IUnknown** object)
{
    *object = CSimAuth::Create();
    return S_OK;
}

HRESULT CreateCompanion(IUnknown** object)
{
    // A product without its companion is played by refusing to make one.
    const HRESULT configured = CSimConfig::Read().m_companionResult;
    if (FAILED(configured))
        return configured;
    *object = CSimCompanion::Create();
    return S_OK;
}

CStringEx ClassKeyName(REFCLSID clsid)
{
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    CStringEx name(L"CLSID\\");
    name += text;
    return name;
}

LSTATUS SetText(HKEY key, LPCWSTR name, const CStringEx& value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.GetString()),
                          static_cast<DWORD>((value.GetLength() + 1) * sizeof(wchar_t)));
}

HRESULT RegisterClassKey(REFCLSID clsid, LPCWSTR description, const CStringEx& modulePath)
{
    CRegKeyEx classKey;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, ClassKeyName(clsid), 0, nullptr, 0, KEY_WRITE, nullptr,
                                     classKey.Put(), nullptr);
    if (status == ERROR_SUCCESS)
        status = SetText(classKey.Get(), nullptr, description);
    CRegKeyEx serverKey;
    if (status == ERROR_SUCCESS)
        status = RegCreateKeyExW(classKey.Get(), L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                                 serverKey.Put(), nullptr);
    if (status == ERROR_SUCCESS)
        status = SetText(serverKey.Get(), nullptr, modulePath);
    // Created on any thread and called from the stand-in's own threads alike.
    if (status == ERROR_SUCCESS)
        status = SetText(serverKey.Get(), L"ThreadingModel", L"Both");
    return HRESULT_FROM_WIN32(status);
}

HRESULT UnregisterClassKey(REFCLSID clsid)
{
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyName(clsid));
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

CStringEx ModulePath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_module, path, MAX_PATH);
    return CStringEx(path);
}
}

HMODULE SimModuleHandle()
{
    return g_module;
}

void SimModuleLock()
{
    InterlockedIncrement(&g_locks);
}

void SimModuleUnlock()
{
    InterlockedDecrement(&g_locks);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    CSimClassFactory::Creator creator = nullptr;
    if (IsEqualCLSID(clsid, signonsim::CLSID_Auth))
        creator = &CreateAuth;
    else if (IsEqualCLSID(clsid, signonsim::CLSID_Companion))
        creator = &CreateCompanion;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    CComPtrEx<IClassFactory> factory(new CSimClassFactory(creator));
    return factory->QueryInterface(iid, object);
}

// The product's objects still alive: a client that leaks them keeps this above 0.
extern "C" LONG STDAPICALLTYPE KelvoSignOnSimLiveObjects()
{
    return CSimComObject::LiveCount();
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return InterlockedCompareExchange(&g_locks, 0, 0) == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    const CStringEx path = ModulePath();
    HRESULT hr = RegisterClassKey(signonsim::CLSID_Auth, L"OneSign authentication (Kelvo stand-in)", path);
    if (SUCCEEDED(hr))
        hr = RegisterClassKey(signonsim::CLSID_Companion, L"OneSign prompt companion (Kelvo stand-in)", path);
    // The type library travels inside the DLL as its first TYPELIB resource.
    CComPtrEx<ITypeLib> library;
    if (SUCCEEDED(hr))
        hr = LoadTypeLibEx(path, REGKIND_REGISTER, library.Put());
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    HRESULT hr = UnregisterClassKey(signonsim::CLSID_Auth);
    const HRESULT companion = UnregisterClassKey(signonsim::CLSID_Companion);
    if (SUCCEEDED(hr))
        hr = companion;
    // A library that is not registered any more is what was asked for.
    const HRESULT library = UnRegisterTypeLib(signonsim::LIBID_OneSignAuthLib, 1, 0, 0, SYS_WIN64);
    if (SUCCEEDED(hr) && FAILED(library) && library != TYPE_E_REGISTRYACCESS && library != TYPE_E_LIBNOTREGISTERED)
        hr = library;
    return hr;
}
