#pragma once
#include "common/com/TComObjectEx.h"
#include <objbase.h>

// The class object of one COM class T (created as TComObjectEx<T>). A program keeps one
// per class for as long as it registers them; its own count only guards against a
// client's extra releases, and LockServer locks the module.
template <class T>
class TClassFactoryEx final : public IClassFactory
{
public:
    TClassFactoryEx() noexcept = default;
    TClassFactoryEx(const TClassFactoryEx&) = delete;
    TClassFactoryEx& operator=(const TClassFactoryEx&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory))
        {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG count = InterlockedDecrement(&m_refs);
        return static_cast<ULONG>(count > 0 ? count : 1);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        return TComObjectEx<T>::CreateInstance(outer, iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (CComModuleEx* module = CComModuleEx::Instance())
        {
            if (lock)
                module->Lock();
            else
                module->Unlock();
        }
        return S_OK;
    }

private:
    LONG m_refs = 1;
};
