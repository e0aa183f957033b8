#pragma once
#include "common/com/CComModuleEx.h"
#include <oaidl.h>

// IDispatch for a dual interface, driven by the type information of the program's type
// library: names are resolved and calls made through ITypeInfo, never by a switch on
// dispatch IDs. The program's module loads the type information once per interface and
// keeps it with the library, until the module releases both.
template <class Interface, const IID* Iid, const GUID* Libid, WORD Major = 1, WORD Minor = 0>
class TDispatchEx : public Interface
{
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return LoadTypeInfo(info);
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        CComPtrEx<ITypeInfo> info;
        HRESULT hr = LoadTypeInfo(info.Put());
        if (SUCCEEDED(hr))
            hr = info->GetIDsOfNames(names, count, ids);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override
    {
        if (!IsEqualIID(iid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        CComPtrEx<ITypeInfo> info;
        HRESULT hr = LoadTypeInfo(info.Put());
        if (SUCCEEDED(hr))
            hr = info->Invoke(static_cast<Interface*>(this), id, flags, params, result, exception, argError);
        return hr;
    }

private:
    static HRESULT LoadTypeInfo(ITypeInfo** info)
    {
        CComModuleEx* module = CComModuleEx::Instance();
        if (!module)
            return E_UNEXPECTED;
        return module->GetTypeInfo(*Libid, Major, Minor, *Iid, info);
    }
};
