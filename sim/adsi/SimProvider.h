#pragma once
#include "sim/adsi/SimComBase.h"
#include <iads.h>

// {7A697E8C-6AD2-469A-92D5-DF88A456F035}: the stand-in provider's class.
extern const CLSID CLSID_KelvoAdsiSimProvider;

// The provider object ADsOpenObject creates for "LDAP:" and "WinNT:" paths: it opens the
// named object of the simulated directory. Credentials are accepted and not checked.
class SimProvider final : public IADsOpenDSObject, private SimRefCount
{
public:
    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
    SIM_REFCOUNTED
    SIM_NO_LATE_BINDING

    HRESULT WINAPI OpenDSObject(BSTR path, BSTR user, BSTR password, LONG flags, IDispatch** out) override;
};

// Class object of SimProvider.
class SimProviderFactory final : public IClassFactory, private SimRefCount
{
public:
    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
    SIM_REFCOUNTED

    HRESULT WINAPI CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT WINAPI LockServer(BOOL lock) override;
};
