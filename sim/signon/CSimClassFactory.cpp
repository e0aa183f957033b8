#include "sim/signon/CSimClassFactory.h"
#include "sim/signon/SimModule.h"
#include "common/CComPtrEx.h"

CSimClassFactory::CSimClassFactory(Creator creator) noexcept : m_creator(creator)
{
    SimModuleLock();
}

CSimClassFactory::~CSimClassFactory()
{
    SimModuleUnlock();
}

HRESULT CSimClassFactory::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory))
    {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CSimClassFactory::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG CSimClassFactory::Release()
{
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT CSimClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    CComPtrEx<IUnknown> created;
    const HRESULT hr = m_creator(created.Put());
    if (FAILED(hr))
        return hr;
    return created->QueryInterface(iid, object);
}

HRESULT CSimClassFactory::LockServer(BOOL lock)
{
    if (lock)
        SimModuleLock();
    else
        SimModuleUnlock();
    return S_OK;
}
