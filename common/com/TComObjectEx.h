#pragma once
#include "common/com/CComModuleEx.h"
#include <unknwn.h>
#include <new>

// One row of an object's interface list: an interface ID and how the object's pointer
// becomes that interface's pointer.
struct CInterfaceEntryEx
{
    const IID* iid;
    void* (*cast)(void* object);
};

// Casts an object to one of its interfaces, for the rows of an interface list.
template <class T, class Interface>
void* InterfaceCastEx(void* object)
{
    return static_cast<Interface*>(static_cast<T*>(object));
}

// The base of the system's COM objects. A class derives from its interfaces and from
// this base and lists its interfaces in a static table:
//     static const CInterfaceEntryEx* GetInterfaces();   // ends with a {nullptr, nullptr} row
// The IUnknown methods themselves come from TComObjectEx, which is the class that is
// actually created. Objects live in one single-threaded apartment, so reference counts
// are plain counters.
class CComObjectRootEx
{
public:
    CComObjectRootEx() noexcept = default;
    virtual ~CComObjectRootEx() = default;
    CComObjectRootEx(const CComObjectRootEx&) = delete;
    CComObjectRootEx& operator=(const CComObjectRootEx&) = delete;

    // The non-delegating QueryInterface over an interface list.
    static HRESULT QueryFromTable(void* object, const CInterfaceEntryEx* table, REFIID iid, void** out) noexcept
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!table || !table[0].iid)
            return E_NOINTERFACE;
        // IUnknown is the first interface of the list, so every row shares one identity.
        if (IsEqualIID(iid, IID_IUnknown))
        {
            *out = table[0].cast(object);
            return S_OK;
        }
        for (const CInterfaceEntryEx* row = table; row->iid; ++row)
        {
            if (IsEqualIID(iid, *row->iid))
            {
                *out = row->cast(object);
                return S_OK;
            }
        }
        return E_NOINTERFACE;
    }

protected:
    ULONG m_refs = 0;
    // The controlling unknown of an aggregate; null when the object stands alone.
    IUnknown* m_outer = nullptr;
};

// The created form of an object class T: implements IUnknown for all of T's interfaces,
// delegating to the controlling unknown when the object is aggregated, and keeps the
// module locked while it lives.
template <class T>
class TComObjectEx final : public T
{
public:
    // The class factory's CreateInstance: a new object, aggregated when outer is given
    // (then only IUnknown may be asked for, and the inner unknown is handed out).
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer && !IsEqualIID(iid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        TComObjectEx* object = new (std::nothrow) TComObjectEx(outer);
        if (!object)
            return E_OUTOFMEMORY;
        // The creation reference keeps the object alive through the query.
        object->m_inner.AddRef();
        const HRESULT hr = outer ? S_OK : object->m_inner.QueryInterface(iid, out);
        if (outer)
            *out = static_cast<IUnknown*>(&object->m_inner);
        else
            object->m_inner.Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        return this->m_outer ? this->m_outer->QueryInterface(iid, out) : m_inner.QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return this->m_outer ? this->m_outer->AddRef() : m_inner.AddRef();
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return this->m_outer ? this->m_outer->Release() : m_inner.Release();
    }

private:
    explicit TComObjectEx(IUnknown* outer) noexcept : m_inner(this)
    {
        this->m_outer = outer;
        if (CComModuleEx* module = CComModuleEx::Instance())
            module->Lock();
    }
    ~TComObjectEx() override
    {
        if (CComModuleEx* module = CComModuleEx::Instance())
            module->Unlock();
    }

    // The object's own (non-delegating) unknown: the one an aggregating outer object holds.
    class CInnerUnknown final : public IUnknown
    {
    public:
        explicit CInnerUnknown(TComObjectEx* object) noexcept : m_object(object) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
        {
            if (out && m_object->m_outer && IsEqualIID(iid, IID_IUnknown))
            {
                // Inside an aggregate the inner unknown answers for itself; alone, the
                // object's identity is its first interface, as every other interface.
                *out = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
            const HRESULT hr = CComObjectRootEx::QueryFromTable(m_object, T::GetInterfaces(), iid, out);
            if (SUCCEEDED(hr))
                m_object->AddRef();
            return hr;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++m_object->m_refs; }
        ULONG STDMETHODCALLTYPE Release() override
        {
            const ULONG count = --m_object->m_refs;
            if (count == 0)
                delete m_object;
            return count;
        }

    private:
        TComObjectEx* m_object;
    };

    CInnerUnknown m_inner;
};
