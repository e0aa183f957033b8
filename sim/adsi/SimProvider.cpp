#include "sim/adsi/SimProvider.h"
#include "sim/adsi/SimDirectoryObject.h"
#include "sim/adsi/SimLdapBridge.h"
#include <adserr.h>

const CLSID CLSID_KelvoAdsiSimProvider = { 0x7a697e8c, 0x6ad2, 0x469a, { 0x92, 0xd5, 0xdf, 0x88, 0xa4, 0x56, 0xf0, 0x35 } };

HRESULT SimProvider::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IADsOpenDSObject)
        return E_NOINTERFACE;
    *out = static_cast<IADsOpenDSObject*>(this);
    AddRef();
    return S_OK;
}

HRESULT SimProvider::OpenDSObject(BSTR path, BSTR user, BSTR password, LONG flags, IDispatch** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ++g_simCalls;
    if (!path)
        return E_ADS_BAD_PATHNAME;
    const std::wstring text(path, SysStringLen(path));
    if (text.size() > 7 && CompareStringOrdinal(text.c_str(), 7, L"LDAP://", 7, TRUE) == CSTR_EQUAL &&
        !SimLdapBridge::Server().empty())
        return SimLdapBridge::Open(text, user, password, flags, out);
    return SimDirectoryObject::Open(text, out);
}

HRESULT SimProviderFactory::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory)
        return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

HRESULT SimProviderFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    auto* provider = new SimProvider;
    const HRESULT hr = provider->QueryInterface(iid, out);
    provider->Release();
    return hr;
}

HRESULT SimProviderFactory::LockServer(BOOL lock)
{
    if (lock)
        ++g_simObjects;
    else
        --g_simObjects;
    return S_OK;
}
